// Script errors are counted on the page, where the tests read them.
var errors = 0;
window.addEventListener('error', function () { document.body.dataset.errors = ++errors; });
// A data block's JSON, parsed once and let go: a big drive's page keeps only what was parsed.
function takeJson(id) {
  var block = document.getElementById(id), value = JSON.parse(block.textContent);
  block.textContent = '';
  return value;
}
// Every text in English and Japanese ({key: [en, ja]}): the switch in the header chooses, and is
// remembered (the browser's local storage); until then the browser's language does. Numbers and
// times stay as they are.
var texts = JSON.parse(document.getElementById('texts').textContent);
var chosen = null;
try { chosen = window.localStorage.getItem('dosemap.lang'); } catch (e) { /* storage off */ }
var lang = chosen === '0' || chosen === '1' ? +chosen : /^ja\b/i.test(navigator.language || '') ? 1 : 0;
var onLanguage = [];
// A figure as people read it: digits significant digits, plain (never an exponent), thousands
// grouped; a dash for none.
function fig(x, digits) {
  if (typeof x !== 'number' || !isFinite(x)) return '\u2014';
  return x.toLocaleString('en-US', {maximumSignificantDigits: digits});
}
// A dose with its uncertainty: "0.126 \u00b1 0.019" (three and two significant digits); alone,
// to digits, when it has none.
function plusMinus(dose, sigma, digits) {
  return sigma == null ? fig(dose, digits) : fig(dose, 3) + ' \u00b1 ' + fig(sigma, 2);
}
function t(key) { var x = texts[key]; return x ? x[lang] : key; }
function rangeText(lower, upper) {
  if (lower === '' && upper === '') return t('none');
  if (lower === '') return t('below').replace('{}', upper);
  if (upper === '') return t('from').replace('{}', lower);
  return t('between').replace('{}', lower).replace('{}', upper);
}
function translate() {
  document.documentElement.lang = lang ? 'ja' : 'en';
  Array.prototype.forEach.call(document.querySelectorAll('[data-i18n]'), function (e) {
    e.textContent = t(e.dataset.i18n);
  });
  Array.prototype.forEach.call(document.querySelectorAll('[data-range]'), function (e) {
    var r = e.dataset.range.split(',');
    e.textContent = r.length < 2 ? t('none') : rangeText(r[0], r[1]);
  });
  Array.prototype.forEach.call(document.querySelectorAll('.lang button'), function (b) {
    b.setAttribute('aria-pressed', String(+b.dataset.lang === lang));
  });
  document.body.dataset.lang = lang ? 'ja' : 'en';
  onLanguage.forEach(function (f) { f(); });
}
Array.prototype.forEach.call(document.querySelectorAll('.lang button'), function (b) {
  b.addEventListener('click', function () {
    lang = +b.dataset.lang;
    try { window.localStorage.setItem('dosemap.lang', String(lang)); } catch (e) { /* storage off */ }
    translate();
  });
});
// A UTC time in the viewer's own zone, with its offset ("2026-11-21 10:30:00 +09:00"); a time
// the log gave without a zone is shown as written.
function two(n) { return (n < 10 ? '0' : '') + n; }
function local(iso) {
  if (iso.slice(-1) !== 'Z') return iso;
  var d = new Date(iso);
  if (isNaN(d)) return iso;
  var offset = -d.getTimezoneOffset(), a = Math.abs(offset);
  return String(d.getFullYear()).padStart(4, '0') + '-' + two(d.getMonth() + 1) + '-' +
    two(d.getDate()) + ' ' + two(d.getHours()) + ':' + two(d.getMinutes()) + ':' +
    two(d.getSeconds()) + ' ' + (offset < 0 ? '-' : '+') + two(Math.floor(a / 60)) + ':' + two(a % 60);
}
function timeHtml(iso) {
  return iso.slice(-1) === 'Z' ? '<time datetime="' + iso + '" title="' + iso + ' (UTC)' + '">' +
    local(iso) + '</time>' : iso;
}
Array.prototype.forEach.call(document.querySelectorAll('#figures time[datetime]'), function (t) {
  t.textContent = local(t.getAttribute('datetime'));
  t.title = t.getAttribute('datetime') + ' (UTC)';
});
// The page's map, with the standard tiles when online (offline the plain background shows, and
// everything drawn on it still does), and a canvas that draws many shapes at once.
function baseMap() {
  var map = L.map('map', {preferCanvas: true, worldCopyJump: true});
  L.tileLayer('https://tile.openstreetmap.org/{z}/{x}/{y}.png', {maxZoom: 19,
    attribution: '&copy; OpenStreetMap contributors'}).addTo(map);
  return {map: map, renderer: L.canvas({padding: 0.5})};
}
// A page of cells once they are drawn: the map fitted to them, their count on the page for checks,
// and the hotspots.
function showCells(map, renderer, group) {
  group.addTo(map);
  if (group.getLayers().length) {
    map.fitBounds(group.getBounds(), {padding: [20, 20], maxZoom: 17});
  } else {
    map.setView([0, 0], 1);
  }
  document.body.dataset.drawn = Object.keys(renderer._layers).length;
  showHotspots(map, function (x) { return x; });
}
// The run's hotspots, when it looked for them: a ring around each on the map, and a table below
// the figures whose rows bring the map to their hotspot. lon maps a longitude as the page draws
// it (a drive across the antimeridian is drawn past 180).
function showHotspots(map, lon) {
  var block = document.getElementById('hotspots');
  if (!block) return;
  var spots = JSON.parse(block.textContent), rings = L.featureGroup();
  // A little beyond the farthest member, and a ring even around two readings side by side.
  function ringRadius(s) { return s.radius_m + 15; }
  spots.forEach(function (s) {
    L.circle([s.latitude, lon(s.longitude)], {radius: ringRadius(s), color: '#111', weight: 2,
      dashArray: '5 4', fill: false, interactive: false}).addTo(rings);
  });
  rings.addTo(map);
  var box = document.createElement('div');
  box.id = 'hotspot-box';
  var table = '<table id="hotspot-table"><caption data-i18n="hotspots"></caption>';
  if (spots.length) {
    table += '<tr><th data-i18n="hotRank"></th><th data-i18n="hotPeak"></th><th data-i18n="hotRatio">' +
      '</th><th data-i18n="hotCount"></th><th data-i18n="hotTime"></th></tr>';
  } else {
    table += '<tr><td data-i18n="hotNone"></td></tr>';
  }
  spots.forEach(function (s, i) {
    table += '<tr class="hotspot" tabindex="0" data-index="' + i + '"><td>' + s.rank + '</td><td>' +
      fig(s.dose_usvh, 3) + '</td><td>' + fig(s.ratio, 4) + '</td><td>' + s.count + '</td><td>' +
      timeHtml(s.time).replace(/(\d) (\d\d:)/, '$1<br>$2') + '</td></tr>';
  });
  if (spots.length) table += '<tr><td colspan="5" class="note" data-i18n="hotNote"></td></tr>';
  box.innerHTML = table + '</table>';
  document.getElementById('figures').parentNode.appendChild(box);
  function zoomTo(row) {
    var s = spots[+row.dataset.index];
    map.fitBounds(L.latLng(s.latitude, lon(s.longitude)).toBounds(ringRadius(s) * 4), {maxZoom: 18});
    document.body.dataset.hotspotShown = s.rank;
  }
  Array.prototype.forEach.call(box.querySelectorAll('tr.hotspot'), function (row) {
    row.addEventListener('click', function () { zoomTo(row); });
    row.addEventListener('keydown', function (e) { if (e.key === 'Enter') zoomTo(row); });
  });
  function titles() {
    Array.prototype.forEach.call(box.querySelectorAll('tr.hotspot'), function (row) { row.title = t('hotZoom'); });
  }
  titles();
  onLanguage.push(titles);
  // report.html#hotspot=2 opens on the second hotspot: a link to share.
  var asked = /(?:^#|&)hotspot=(\d+)/.exec(location.hash);
  var row = asked && box.querySelector('tr.hotspot[data-index="' + (asked[1] - 1) + '"]');
  if (row) zoomTo(row);
  document.body.dataset.hotspots = spots.length;
  document.body.dataset.hotspotRings = rings.getLayers().length;
}
