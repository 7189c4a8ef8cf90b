// The HTML report: one self-contained page with the map (Leaflet, canvas renderer), a legend,
// the dose over time (Chart.js) and the drive's figures.
#include <charconv>
#include <cmath>

#include "dose/dose_scale.h"
#include "maps/legend_image.h"
#include "maps/map_text.h"
#include "maps/report_assets.h"
#include "survey/civil_time.h"
#include "textfile/number_text.h"
#include "textfile/xml_text.h"

namespace dosemap {
namespace {

// Text for an HTML element or attribute.
std::string Html(std::string_view text) {
  std::string safe = XmlEscaped(XmlSafe(text));
  std::string out;
  for (const char c : safe) {
    if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  return out;
}

// A script or style text as it may stand inline: no source map to fetch, no closing tag.
std::string Inline(std::string_view text) {
  std::string out(text);
  for (const char* marker : {"//# sourceMappingURL=", "/*# sourceMappingURL="}) {
    for (std::size_t at; (at = out.find(marker)) != std::string::npos;) {
      const std::size_t end = out.find('\n', at);
      out.erase(at, end == std::string::npos ? std::string::npos : end - at);
    }
  }
  for (std::size_t at; (at = out.find("</")) != std::string::npos;) out.replace(at, 2, "<\\/");
  return out;
}

// A figure for people to read: four significant digits, plain.
std::string Figure(double x) { return FigureText(x, 4); }

constexpr const char* kStyle = R"(
html,body{margin:0;font:14px/1.4 system-ui,sans-serif;color:#222;background:#fff}
header{display:flex;align-items:center;gap:12px;padding:8px 16px;background:#263238;color:#fff}header h1{margin:0;font-size:18px;flex:1}
.lang button{background:none;border:1px solid #90a4ae;color:#fff;padding:2px 8px;cursor:pointer}.lang button[aria-pressed=true]{background:#eceff1;color:#263238}
main{display:grid;grid-template-columns:minmax(0,3fr) minmax(260px,1fr);gap:12px;padding:12px}
#map{height:62vh;min-height:320px;background:#dfe6e9;border:1px solid #ccc}
aside table{border-collapse:collapse;width:100%}aside td,aside th{padding:3px 6px;border-bottom:1px solid #eee;text-align:left}
.legend i{display:inline-block;width:12px;height:12px;margin-right:6px;vertical-align:middle;border:1px solid #555}
#chart-box{grid-column:1/-1;height:220px}
@media (max-width:800px){main{grid-template-columns:1fr}}
)";

// What both pages' scripts share: the reader's language, and times in the viewer's zone, here
// and in the figures.
constexpr const char* kTimeScript = R"(
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
)";

constexpr const char* kScript = R"(
(function () {
  var errors = 0;
  window.addEventListener('error', function () { document.body.dataset.errors = ++errors; });
  // The data's text is parsed once and let go: a big drive's page keeps only the parsed points.
  var data = document.getElementById('points');
  var points = JSON.parse(data.textContent);
  data.textContent = '';
  var classes = JSON.parse(document.getElementById('classes').textContent);
  var scale = JSON.parse(document.getElementById('scale').textContent);
  var map = L.map('map', {preferCanvas: true, worldCopyJump: true});
  // Online the standard tiles show; offline the plain background does, and the points still do.
  L.tileLayer('https://tile.openstreetmap.org/{z}/{x}/{y}.png', {maxZoom: 19,
    attribution: '&copy; OpenStreetMap contributors'}).addTo(map);
  var renderer = L.canvas({padding: 0.5});
  // A drive across the antimeridian is drawn the narrower way round: west longitudes past 180.
  var span = [Infinity, -Infinity, Infinity, -Infinity], south = Infinity, north = -Infinity;
  points.forEach(function (p) {
    var east = p[1] < 0 ? p[1] + 360 : p[1];
    span = [Math.min(span[0], p[1]), Math.max(span[1], p[1]), Math.min(span[2], east), Math.max(span[3], east)];
    south = Math.min(south, p[0]), north = Math.max(north, p[0]);
  });
  var across = span[3] - span[2] < span[1] - span[0] - 1e-9;
  function lon(x) { return across && x < 0 ? x + 360 : x; }
  var west = across ? span[2] : span[0], east = across ? span[3] : span[1];
  var pointLayer = L.featureGroup().addTo(map);
  pointLayer.bindPopup(function (layer) {
    var p = points[layer.options.index];
    return '<b>' + fig(p[2], 4) + ' \u00b5Sv/h</b> (' + t('class') + ' ' + p[4] + ')<br>' +
      timeHtml(p[5]) + (p[3] === null ? '' : '<br>' + p[3] + ' cpm');
  });
  // Outlines only from street level on: at the overview they would darken the colours.
  var outlineFrom = 15;
  function outlined() { return map.getZoom() >= outlineFrom; }
  function drawPoint(i) {
    var p = points[i], c = classes[p[4] - 1];
    L.circleMarker([p[0], lon(p[1])], {renderer: renderer, radius: c.radius, color: '#333', weight: 0.6,
      stroke: outlined(), fillColor: c.colour, fillOpacity: 0.9, index: i}).addTo(pointLayer);
  }
  // The highest doses are drawn last, on top; equal doses in the order of the drive.
  function byDose(a, b) { return points[a][2] - points[b][2] || a - b; }
  var wasOutlined = null;
  map.on('zoomend', function () {
    if (outlined() === wasOutlined) return;
    wasOutlined = outlined();
    pointLayer.setStyle({stroke: wasOutlined});
  });
  function drawn() {
    document.body.dataset.drawn = Object.keys(renderer._layers).length;
    // For checks: whether the points lie bottom to top by dose, and whether they are outlined.
    var doses = [];
    pointLayer.eachLayer(function (l) { doses.push(points[l.options.index][2]); });
    document.body.dataset.drawOrder = doses.every(function (d, i) { return i === 0 || doses[i - 1] <= d; }) ? 'dose' : 'mixed';
    document.body.dataset.outlined = String(outlined());
  }
  // Above 100,000 points the map opens on cells of their mean dose, about 20,000 over the drive;
  // the points show once so few are in view that they can be told apart.
  var big = points.length > 100000;
  document.body.dataset.view = big ? 'cells' : 'points';
  // The map's zoom is known once it is fitted: the points are drawn then.
  function drawAll() { points.map(function (p, i) { return i; }).sort(byDose).forEach(drawPoint); }
  if (!big) {
    // drawn below, once the view is set
  } else {
    var R = 6371008.8, rad = Math.PI / 180;
    var area = Math.max(1, (north - south) * rad * R) *
      Math.max(1, (east - west) * rad * R * Math.cos((south + north) / 2 * rad));
    var ideal = Math.sqrt(area / 20000), size = 10;
    [10, 25, 50].forEach(function (s) {
      for (var m = s; m <= 100000; m *= 10) {
        if (Math.abs(Math.log(m / ideal)) < Math.abs(Math.log(size / ideal))) size = m;
      }
    });
    var rowDeg = size / R * 180 / Math.PI, rows = Math.ceil(180 / rowDeg), cells = new Map();
    points.forEach(function (p) {
      var row = Math.min(rows - 1, Math.max(0, Math.floor((p[0] + 90) / rowDeg)));
      var middle = Math.min(90, Math.max(-90, -90 + (row + 0.5) * rowDeg));
      var columns = Math.max(1, Math.floor(360 * Math.cos(middle * rad) / rowDeg));
      var x = p[1] === 180 ? -180 : p[1], width = 360 / columns;
      var column = Math.min(columns - 1, Math.max(0, Math.floor((x + 180) / width)));
      var key = row * 8388608 + column, cell = cells.get(key);
      if (!cell) cells.set(key, cell = {row: row, column: column, width: width, n: 0, sum: 0, max: -Infinity, min: Infinity});
      cell.n++, cell.sum += p[2], cell.max = Math.max(cell.max, p[2]), cell.min = Math.min(cell.min, p[2]);
    });
    // Each cell in the class colour of its mean, outlined in the same colour, so that a cell
    // smaller than a pixel at the overview still shows its class. A cell that holds a measurement
    // of the top class is marked on top by a ring a few pixels wide, at every zoom.
    var cellLayer = L.featureGroup(), hotLayer = L.featureGroup(), hot = 0;
    function cellPopup(c) {
      var mean = c.sum / c.n;
      return '<b>' + fig(mean, 3) + ' \u00b5Sv/h</b> ' + t('meanOf').replace('{}', c.n) +
        '<br>' + fig(c.min, 3) + ' \u2013 ' + fig(c.max, 3) +
        ' \u00b5Sv/h<br>' + t('cellsOf').replace('{}', size);
    }
    cellLayer.bindPopup(function (layer) { return cellPopup(layer.options.cell); });
    hotLayer.bindPopup(function (layer) { return cellPopup(layer.options.cell); });
    var hotCells = [];
    cells.forEach(function (c) {
      var mean = c.sum / c.n;
      var k = mean < scale[0] ? 1 : mean < scale[1] ? 2 : mean < scale[2] ? 3 : mean < scale[3] ? 4 : 5;
      var s = -90 + c.row * rowDeg, n = Math.min(90, s + rowDeg), w = -180 + c.column * c.width;
      if (s < -85 || n > 85) return;
      var colour = classes[k - 1].colour;
      L.rectangle([[s, lon(w)], [n, lon(w) + c.width]], {renderer: renderer, color: colour, weight: 1,
        opacity: 0.9, fillColor: colour, fillOpacity: 0.8, cell: c}).addTo(cellLayer);
      if (c.max >= scale[3]) hotCells.push({c: c, at: [(s + n) / 2, lon(w) + c.width / 2]});
    });
    // The highest on top.
    hotCells.sort(function (a, b) { return a.c.max - b.c.max; }).forEach(function (h) {
      L.circleMarker(h.at, {renderer: renderer, radius: 6, color: '#000', weight: 2,
        fillColor: classes[4].colour, fillOpacity: 1, cell: h.c}).addTo(hotLayer);
      hot++;
    });
    cellLayer.addTo(map);
    hotLayer.addTo(map);
    document.body.dataset.hotCells = hot;
    // The legend says what the rings are.
    var ring = document.createElement('tr');
    ring.innerHTML = '<td colspan="2"><i style="background:' + classes[4].colour +
      ';border:2px solid #000;border-radius:50%"></i><span data-i18n="hotCell"></span></td>';
    document.querySelector('table.legend').appendChild(ring);
    document.body.dataset.cells = cells.size;
    document.body.dataset.cellSize = size;
    var showing = 'cells', note = L.control({position: 'topright'});
    function showPointsInView() {
      if (showing !== 'points') return;
      var view = map.getBounds(), inView = [];
      for (var i = 0; i < points.length && inView.length <= 50000; i++) {
        if (view.contains([points[i][0], lon(points[i][1])])) inView.push(i);
      }
      pointLayer.clearLayers();
      wasOutlined = outlined();
      if (inView.length <= 50000) inView.sort(byDose).forEach(drawPoint);
      note.text.dataset.i18n = inView.length <= 50000 ? 'cells' : 'zoomIn';
      note.text.textContent = t(note.text.dataset.i18n);
      drawn();
    }
    note.onAdd = function () {
      var button = L.DomUtil.create('button', 'toggle');
      this.text = button;
      button.dataset.i18n = 'points';
      button.textContent = t('points');
      button.title = t('toggle');
      onLanguage.push(function () { button.title = t('toggle'); });
      L.DomEvent.disableClickPropagation(button);
      L.DomEvent.on(button, 'click', function () {
        showing = showing === 'cells' ? 'points' : 'cells';
        document.body.dataset.view = showing;
        if (showing === 'cells') {
          pointLayer.clearLayers();
          cellLayer.addTo(map);
          hotLayer.addTo(map);
          button.dataset.i18n = 'points';
          button.textContent = t('points');
          drawn();
        } else {
          map.removeLayer(cellLayer);
          map.removeLayer(hotLayer);
          showPointsInView();
        }
      });
      return button;
    };
    note.addTo(map);
    map.on('moveend', showPointsInView);
  }
  if (points.length) {
    map.fitBounds([[south, west], [north, east]], {padding: [20, 20], maxZoom: 17});
  } else {
    map.setView([0, 0], 1);
  }
  wasOutlined = outlined();
  if (!big) drawAll();
  drawn();
  // The dose over time: a drive's points are most often in time order already, and are sorted
  // only when they are not. A long drive's curve keeps the lowest and highest dose of each of
  // 2,000 stretches of time, so that no peak is lost and the chart is drawn at once.
  var times = new Float64Array(points.length), doses = new Float64Array(points.length);
  var timed = 0, inOrder = true;
  for (var i = 0; i < points.length; i++) {
    var when = Date.parse(points[i][5]);
    if (when !== when) continue;
    if (timed && when < times[timed - 1]) inOrder = false;
    times[timed] = when, doses[timed] = points[i][2], timed++;
  }
  var order = null;
  if (!inOrder) {
    order = new Uint32Array(timed);
    for (i = 0; i < timed; i++) order[i] = i;
    order.sort(function (a, b) { return times[a] - times[b] || a - b; });
  }
  function at(k) { return order ? order[k] : k; }
  var start = timed ? times[at(0)] : 0, series = [];
  if (timed <= 20000) {
    for (i = 0; i < timed; i++) series.push({x: (times[at(i)] - start) / 60000, y: doses[at(i)]});
  } else {
    var buckets = 2000, span = times[at(timed - 1)] - start || 1, low = -1, high = -1, bucket = -1;
    var flush = function () {
      if (low < 0) return;
      var a = Math.min(low, high), b = Math.max(low, high);
      series.push({x: (times[at(a)] - start) / 60000, y: doses[at(a)]});
      if (b !== a) series.push({x: (times[at(b)] - start) / 60000, y: doses[at(b)]});
    };
    for (i = 0; i < timed; i++) {
      var k = Math.min(buckets - 1, Math.floor((times[at(i)] - start) / span * buckets));
      if (k !== bucket) flush(), bucket = k, low = high = i;
      if (doses[at(i)] < doses[at(low)]) low = i;
      if (doses[at(i)] > doses[at(high)]) high = i;
    }
    flush();
  }
  times = doses = order = null;
  var chart = new Chart(document.getElementById('chart'), {
    type: 'line',
    data: {datasets: [{label: 'µSv/h', data: series, borderColor: '#c62828', borderWidth: 1,
      pointRadius: 0, fill: false}]},
    options: {animation: false, parsing: false, normalized: true, maintainAspectRatio: false,
      plugins: {decimation: {enabled: true, algorithm: 'lttb', samples: 1000}, legend: {display: false}},
      scales: {x: {type: 'linear', title: {display: true, text: t('minutes')}},
        y: {beginAtZero: true, title: {display: true, text: 'µSv/h'}}}}
  });
  onLanguage.push(function () {
    chart.options.scales.x.title.text = t('minutes');
    chart.update('none');
  });
  translate();
  document.body.dataset.ready = 'yes';
})();
)";

// The page's texts in English and Japanese, as {"key":["en","ja"],...}: the words of the legend,
// the figures, the pop-ups and the charts, and the reasons a record was rejected.
std::string Texts() {
  static constexpr const char* kTexts[][3] = {
      {"class", "class", "クラス"},
      {"none", "none", "なし"},
      {"below", "below {}", "{} 未満"},
      {"from", "{} and above", "{} 以上"},
      {"between", "{} to below {}", "{} 以上 {} 未満"},
      {"kept", "measurements included", "地図に載せた測定"},
      {"read", "lines read", "読んだ行"},
      {"rejected", "rejected", "除外"},
      {"privacy", "in privacy zones", "プライバシー区域内"},
      {"perClass", "per class 1-5", "クラス別 (1〜5)"},
      {"cells", "cells", "セル"},
      {"first", "from", "開始"},
      {"last", "to", "終了"},
      {"distance", "distance", "距離"},
      {"highest", "highest", "最高"},
      {"at", "at", "測定時刻"},
      {"mean", "mean", "平均"},
      {"total", "total dose", "積算線量"},
      {"minutes", "minutes from the first measurement", "最初の測定からの時間（分）"},
      {"cellsByClass", "cells by the class of their mean", "平均値のクラス別のセル数"},
      {"meanOf", "mean of {}", "{} 点の平均"},
      {"hotCell", "a cell holding a class 5 measurement", "クラス 5 の測定を含むセル"},
      {"cellsOf", "cells of {} m", "{} m のセル"},
      {"oneLog", "{} log", "{} ログ"},
      {"logs", "{} logs", "{} ログ"},
      {"points", "points", "点"},
      {"zoomIn", "points: zoom in (cells)", "点：拡大してください（セル）"},
      {"toggle", "switch between the cells and the points", "セルと点を切り替える"},
  };
  std::string json = "{";
  const auto entry = [&json](std::string_view key, std::string_view en, std::string_view ja) {
    if (json.size() > 1) json += ',';
    for (const std::string_view part :
         std::initializer_list<std::string_view>{"\"", key, "\":[\"", en, "\",\"", ja, "\"]"})
      json += part;
  };
  for (const auto& text : kTexts) entry(text[0], text[1], text[2]);
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy) continue;
    std::string key = "reason.";
    key += ReasonName(reason);
    entry(key, ReasonName(reason), ReasonNameJa(reason));
  }
  return json + "}";
}

// An element whose text the page puts in the reader's language; English until then.
std::string Text(std::string_view tag, std::string_view key, std::string_view english) {
  std::string element;
  for (const std::string_view part : std::initializer_list<std::string_view>{
           "<", tag, " data-i18n=\"", key, "\">", english, "</", tag, ">"})
    element += part;
  return element;
}

// Each class with exactly the doses the classifier puts in it; the page words the range.
std::string Legend(const MapOptions& options) {
  const DoseScale scale{options.yellow, options.red};
  std::string legend = "<table class=\"legend\"><tr><th colspan=\"2\">µSv/h</th></tr>\n";
  for (int c = 5; c >= 1; --c) {
    double lower, upper;
    std::string range;
    if (scale.Bounds(static_cast<DoseClass>(c), &lower, &upper)) {
      range = (std::isinf(lower) ? "" : StrictNumber(lower)) + "," +
              (std::isinf(upper) ? "" : StrictNumber(upper));
    }
    legend += "<tr><td><i style=\"background:" + std::string(ClassStyleOf(c).html_colour) +
              "\"></i>" + Text("span", "class", "class") + " " + std::to_string(c) +
              "</td><td data-range=\"" + range + "\">" + ClassRangeText(scale, c) + "</td></tr>\n";
  }
  return legend + "</table>\n";
}

std::string Figures(const DriveStatistics& s) {
  std::string rows;
  const auto row = [&](std::string_view key, std::string_view name, const std::string& value) {
    rows += "<tr>" + Text("th", key, name) + "<td>" + value + "</td></tr>";
  };
  row("kept", "measurements included", std::to_string(s.kept()));
  row("read", "lines read", std::to_string(s.read()));
  std::string rejected = std::to_string(s.rejected_total());
  std::string reasons;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || s.rejected(reason) == 0) continue;
    const std::string name(ReasonName(reason));
    reasons += (reasons.empty() ? "" : ", ") + Text("span", "reason." + name, name) + " " +
               std::to_string(s.rejected(reason));
  }
  if (!reasons.empty()) rejected += " (" + reasons + ")";
  row("rejected", "rejected", rejected);
  row("privacy", "in privacy zones", std::to_string(s.privacy()));
  std::string classes;
  for (const std::int64_t count : s.per_class())
    classes += (classes.empty() ? "" : " / ") + std::to_string(count);
  row("perClass", "per class 1-5", classes);
  if (s.cells() >= 0) row("cells", "cells", std::to_string(s.cells()));
  // A UTC time is marked for the page to show in the viewer's zone, UTC on hover.
  const auto time = [](std::int64_t seconds, bool utc) {
    const std::string iso = IsoTime(seconds, utc);
    return utc ? "<time datetime=\"" + iso + "\">" + iso + "</time>" : iso;
  };
  if (s.kept() > 0) {
    row("first", "from", time(s.first_time(), s.times_utc()));
    row("last", "to", time(s.last_time(), s.times_utc()));
    row("distance", "distance", Figure(s.distance_km()) + " km");
    row("highest", "highest",
        Figure(s.dose_max_usvh()) + " µSv/h " + Text("span", "at", "at") + " " +
            time(s.highest().time, s.highest().utc));
    row("mean", "mean", Figure(s.dose_mean_usvh()) + " µSv/h");
    row("total", "total dose", Figure(s.dose_total_usv()) + " µSv");
  }
  // The figures are known only at the end: the page moves them into their place.
  return "<table id=\"figure-table\" hidden>" + rows +
         "</table>\n<script>(function(){var t=document.getElementById('figure-table');"
         "document.getElementById('figures').appendChild(t);t.hidden=false;})();</script>\n";
}

// The page up to its data: the head with everything inlined, the map, the legend, room for the
// figures and the chart, then the opening of the data script named data_id.
void WritePageHead(ByteSink& file, const std::string& name, const MapOptions& options,
                   const char* data_id) {
  const std::string title = Html(name);
  file << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
       << title << " \xE2\x80\x94 dosemap</title>\n<style>\n"
       << Inline(LeafletCss()) << kStyle << "</style>\n<script>\n"
       << Inline(LeafletJs()) << "\n</script>\n<script>\n"
       << Inline(ChartJs()) << "\n</script>\n</head>\n<body>\n<header><h1>" << title
       << "</h1><nav class=\"lang\"><button data-lang=\"0\" lang=\"en\">English</button>"
          "<button data-lang=\"1\" lang=\"ja\">日本語</button></nav></header>\n<main>\n"
          "<div id=\"map\"></div>\n<aside>\n"
       << Legend(options)
       << "<div id=\"figures\"></div>\n</aside>\n<div id=\"chart-box\"><canvas "
          "id=\"chart\"></canvas></div>\n"
          "</main>\n<script id=\""
       << data_id << "\" type=\"application/json\">[";
}

// The end of the data, the classes' colours and sizes, the figures and the page's script.
void WritePageEnd(ByteSink& file, const DriveStatistics& statistics, const MapOptions& options,
                  const char* script) {
  // Where the classes begin, for a page that classes means of its own.
  std::string scale = "]</script>\n<script id=\"scale\" type=\"application/json\">[";
  for (const double x : {kGreenBelow, options.yellow, options.red, kLargeRedFrom}) {
    if (scale.back() != '[') scale += ',';
    AppendNumber(scale, x);
  }
  file << scale << "]</script>\n<script id=\"classes\" type=\"application/json\">[";
  for (int c = 1; c <= 5; ++c) {
    std::string entry = c > 1 ? "," : "";
    entry += "{\"colour\":\"" + std::string(ClassStyleOf(c).html_colour) + "\",\"radius\":";
    AppendNumber(entry, ClassStyleOf(c).report_radius);
    entry += "}";
    file << entry;
  }
  file << "]</script>\n<script id=\"texts\" type=\"application/json\">" << Texts() << "</script>\n"
       << Figures(statistics) << "<script>\n"
       << kTimeScript << script << "</script>\n</body>\n</html>\n";
}

// The report of a grid: a rectangle a cell (within ±85°, where the map's projection has them),
// and the cells per class of their mean in place of the dose over time.
constexpr const char* kCellScript = R"(
(function () {
  var errors = 0;
  window.addEventListener('error', function () { document.body.dataset.errors = ++errors; });
  var data = document.getElementById('cells');
  var cells = JSON.parse(data.textContent);
  data.textContent = '';
  var classes = JSON.parse(document.getElementById('classes').textContent);
  var map = L.map('map', {preferCanvas: true, worldCopyJump: true});
  L.tileLayer('https://tile.openstreetmap.org/{z}/{x}/{y}.png', {maxZoom: 19,
    attribution: '&copy; OpenStreetMap contributors'}).addTo(map);
  var renderer = L.canvas({padding: 0.5});
  var group = L.featureGroup();
  var perClass = [0, 0, 0, 0, 0];
  cells.forEach(function (c, i) {
    perClass[c[4] - 1]++;
    if (c[0] < -85 || c[2] > 85) return;
    L.rectangle([[c[0], c[1]], [c[2], c[3]]], {renderer: renderer, color: '#333', weight: 0.3,
      fillColor: classes[c[4] - 1].colour, fillOpacity: 0.7, index: i}).addTo(group);
  });
  group.bindPopup(function (layer) {
    var c = cells[layer.options.index];
    return '<b>' + fig(c[6], 3) + ' \u00b5Sv/h</b> ' + t('meanOf').replace('{}', c[5]) +
      '<br>' + fig(c[8], 3) + ' \u2013 ' + fig(c[7], 3) + ' \u00b5Sv/h' +
      '<br>' + timeHtml(c[9]) + ' \u2013 ' + timeHtml(c[10]) + '<br>' +
      t(c[11] === 1 ? 'oneLog' : 'logs').replace('{}', c[11]);
  });
  group.addTo(map);
  if (group.getLayers().length) {
    map.fitBounds(group.getBounds(), {padding: [20, 20], maxZoom: 17});
  } else {
    map.setView([0, 0], 1);
  }
  document.body.dataset.drawn = Object.keys(renderer._layers).length;
  function classLabels() { return [1, 2, 3, 4, 5].map(function (c) { return t('class') + ' ' + c; }); }
  var chart = new Chart(document.getElementById('chart'), {
    type: 'bar',
    data: {labels: classLabels(),
      datasets: [{label: t('cells'), data: perClass,
        backgroundColor: classes.map(function (c) { return c.colour; }), borderColor: '#333', borderWidth: 1}]},
    options: {animation: false, maintainAspectRatio: false, plugins: {legend: {display: false}},
      scales: {y: {beginAtZero: true, title: {display: true, text: t('cellsByClass')}}}}
  });
  onLanguage.push(function () {
    chart.data.labels = classLabels();
    chart.data.datasets[0].label = t('cells');
    chart.options.scales.y.title.text = t('cellsByClass');
    chart.update('none');
  });
  translate();
  document.body.dataset.ready = 'yes';
})();
)";

class HtmlCellWriter : public CellWriter {
 public:
  HtmlCellWriter(ByteSink& sink, const std::string& name, const MapOptions& options)
      : file_(sink), options_(options) {
    WritePageHead(file_, name, options, "cells");
  }
  void Add(const GridCell& cell, const CellEdges& e, int dose_class) override {
    std::string& c = text_;
    c.assign(first_ ? "\n[" : ",\n[");
    first_ = false;
    for (const double x : {e.south, e.west, e.north, e.east}) {
      AppendNumber(c, x);
      c += ',';
    }
    c += static_cast<char>('0' + dose_class);
    c += ',';
    AppendInteger(c, cell.count);
    for (const double x : {cell.dose_mean(), cell.dose_max, cell.dose_min}) {
      c += ',';
      AppendNumber(c, x);
    }
    c += ",\"";
    AppendFirstTime(c, cell);
    c += "\",\"";
    AppendLastTime(c, cell);
    c += "\",";
    AppendInteger(c, cell.logs);
    c += ']';
    file_ << c;
  }
  void Finish(const DriveStatistics& statistics) override {
    WritePageEnd(file_, statistics, options_, kCellScript);
  }

 private:
  ByteSink& file_;
  MapOptions options_;
  std::string text_;
  bool first_ = true;
};

std::unique_ptr<CellWriter> WriteCells(ByteSink& sink, const std::string& title,
                                       const MapOptions& options) {
  return std::make_unique<HtmlCellWriter>(sink, title, options);
}

class HtmlWriter : public FormWriter {
 public:
  HtmlWriter(ByteSink& sink, const std::string& name, const MapOptions& options)
      : file_(sink), options_(options) {
    WritePageHead(file_, name, options, "points");
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& p = point_;
    p.assign(first_ ? "\n[" : ",\n[");
    first_ = false;
    AppendNumber(p, m.latitude);
    p += ',';
    AppendNumber(p, m.longitude);
    p += ',';
    AppendNumber(p, m.dose_usvh);
    p += ',';
    if (m.has_cpm) {
      AppendNumber(p, m.cpm);
    } else {
      p += "null";
    }
    p += ',';
    p += static_cast<char>('0' + dose_class);
    p += ",\"";
    AppendIsoTime(p, m.time, m.utc);
    p += "\"]";
    file_ << p;
  }
  void Finish(const DriveStatistics& statistics) override {
    WritePageEnd(file_, statistics, options_, kScript);
  }

 private:
  ByteSink& file_;
  MapOptions options_;
  std::string point_;
  bool first_ = true;
};

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string& title,
                                  const MapOptions& options) {
  return std::make_unique<HtmlWriter>(sink, title, options);
}

}  // namespace

const MapFormRow kHtmlForm = {
    "html",
    {".html", ".htm"},
    "one self-contained report: the map, a legend, the dose over time and the figures",
    Write,
    MakeStaged<kHtmlForm>,
    WriteCells,
    MakeStagedGrid<kHtmlForm>};

}  // namespace dosemap
