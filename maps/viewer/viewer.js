// The viewer beside a .pmtiles map: its cells and measurements in the dose classes' colours, a
// legend with the run's thresholds, a pop-up per feature and the run's hotspots on top. Served
// over HTTP it reads ../NAME.pmtiles by range requests; opened from disk it asks for the file.
import maplibregl from 'maplibre-gl';
import {FileSource, PMTiles, Protocol} from 'pmtiles';

const protocol = new Protocol();
maplibregl.addProtocol('pmtiles', protocol.tile);

const state = (s) => { document.body.dataset.state = s; };

// The page's texts in English, or in Japanese for a Japanese browser, as the HTML report has them.
const ja = /^ja\b/i.test(navigator.language || '');
const texts = ja ? {
  from: (x) => x + ' 以上', hotspot: 'ホットスポット', readings: '件の測定',
  what: (z, n) => 'セル: 平均線量、枠: 最高値。ズーム ' + z + ' 以上: すべての測定（' + n + ' 件）。',
  hot: (s) => 'ホットスポット ' + s.rank, peak: '最高値', around: '倍（周辺比）', mean: '平均', highest: '最高値',
  why: 'ディスクから開いたこのページは、タイルを自分で読めません。',
  unread: (url, e) => url + ' を読めませんでした（' + e + '）: サーバーが範囲リクエストに応じる必要があります。ファイルを開いてください。',
} : {
  from: (x) => 'from ' + x, hotspot: 'hotspot', readings: 'readings',
  what: (z, n) => 'Cells: mean dose; the outline: the highest. From zoom ' + z + ': every measurement (' + n + ' kept).',
  hot: (s) => 'Hotspot ' + s.rank, peak: 'peak', around: '× its surroundings', mean: 'mean', highest: 'highest',
  why: 'This page opened from disk cannot read the tiles by itself.',
  unread: (url, e) => url + ' could not be read (' + e + '): the server must answer range requests. Open the file instead.',
};
if (ja) {
  document.documentElement.lang = 'ja';
  document.getElementById('why').textContent = texts.why;
  document.getElementById('pick').innerHTML = '<b>.pmtiles</b> ファイルを開く: ';
  document.getElementById('drop').textContent = 'またはここにドロップ。';
}

function figure(x, digits) {
  return x === null || x === undefined ? '–' : Number(x.toPrecision(digits)).toString();
}

function escaped(text) {
  return String(text).replace(/[&<>"]/g, (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;'}[c]));
}

// MapLibre's expression for a class field's colour.
function colourOf(field, classes) {
  const match = ['match', ['get', field]];
  classes.forEach((c) => match.push(c.class, c.color));
  match.push('#999999');
  return match;
}

function showLegend(meta) {
  const list = document.getElementById('classes');
  list.innerHTML = meta.dose_classes.map((c) => {
    const range = c.to_usvh === null ? texts.from(figure(c.from_usvh, 3)) :
      figure(c.from_usvh, 3) + '–' + figure(c.to_usvh, 3);
    return '<li data-class="' + c.class + '"><span class="swatch" style="background:' + c.color + '"></span>' +
      range + ' µSv/h</li>';
  }).join('') + '<li><span class="swatch ring"></span>' + texts.hotspot + '</li>';
  document.getElementById('what').textContent = texts.what(meta.maxzoom, (meta.summary || {}).kept || 0);
}

// The hotspots as points, each with the pixels its ring spans at zoom 0: its radius and 15 m more,
// as the HTML report draws it, so that the ring holds its readings at every zoom.
function hotspotsOf(meta) {
  const spots = (meta.summary && meta.summary.hotspots) || [];
  const metresPerPixelAtZero = (lat) => 40075016.686 * Math.cos(lat * Math.PI / 180) / 512;
  return {type: 'FeatureCollection', features: spots.map((s) => ({type: 'Feature',
    geometry: {type: 'Point', coordinates: [s.longitude, s.latitude]},
    properties: {...s, px0: (s.radius_m + 15) / metresPerPixelAtZero(s.latitude)}}))};
}

// A ring's radius in pixels at the map's zoom: its true size, and at least 7 pixels.
function ringRadius() {
  const stops = ['interpolate', ['exponential', 2], ['zoom']];
  for (let z = 0; z <= 24; z += 2) stops.push(z, ['max', 7, ['*', ['get', 'px0'], 2 ** z]]);
  return stops;
}

function popupHtml(feature) {
  const p = feature.properties;
  if (feature.layer.id === 'hotspots') {
    return '<b>' + texts.hot(p) + '</b><br>' + texts.peak + ' ' + figure(p.dose_usvh, 3) + ' µSv/h<br>' +
      figure(p.ratio, 4) + ' ' + texts.around + ', ' + p.count + ' ' + texts.readings + '<br>' + escaped(p.time);
  }
  if (feature.layer.id === 'points') {
    return '<b>' + figure(p.dose_usvh, 3) + ' µSv/h</b>' + (p.cpm !== undefined ? '<br>' + p.cpm + ' cpm' : '') +
      '<br>' + escaped(p.time);
  }
  return '<b>' + figure(p.dose_mean_usvh, 3) + ' µSv/h</b> ' + texts.mean + '<br>' + texts.highest + ' ' +
    figure(p.dose_max_usvh, 3) + ' µSv/h<br>' + p.count + ' ' + texts.readings;
}

async function show(archive) {
  protocol.add(archive);
  const header = await archive.getHeader();
  const meta = await archive.getMetadata();
  document.getElementById('open').classList.remove('shown');
  showLegend(meta);
  const classes = meta.dose_classes;
  const map = new maplibregl.Map({
    container: 'map',
    center: [header.centerLon, header.centerLat],
    zoom: header.centerZoom,
    maxZoom: 20,
    attributionControl: {compact: true},
    // Kept after drawing, so that the map can be saved as a picture (and checked).
    canvasContextAttributes: {preserveDrawingBuffer: true},
    style: {
      version: 8,
      sources: {
        osm: {type: 'raster', tiles: ['https://tile.openstreetmap.org/{z}/{x}/{y}.png'], tileSize: 256,
          maxzoom: 19, attribution: '&copy; OpenStreetMap contributors'},
        dose: {type: 'vector', url: 'pmtiles://' + archive.source.getKey()},
        hotspots: {type: 'geojson', data: hotspotsOf(meta)},
      },
      layers: [
        {id: 'base', type: 'raster', source: 'osm', paint: {'raster-opacity': 0.8}},
        {id: 'cells', type: 'fill', source: 'dose', 'source-layer': 'cells',
          paint: {'fill-color': colourOf('class', classes), 'fill-opacity': 0.65}},
        {id: 'cells-max', type: 'line', source: 'dose', 'source-layer': 'cells',
          filter: ['>', ['get', 'class_max'], ['get', 'class']],
          paint: {'line-color': colourOf('class_max', classes),
            'line-width': ['interpolate', ['linear'], ['zoom'], 6, 0.5, 12, 1.5]}},
        {id: 'points', type: 'circle', source: 'dose', 'source-layer': 'measurements',
          paint: {'circle-color': colourOf('class', classes), 'circle-radius': 4,
            'circle-stroke-color': '#333', 'circle-stroke-width': 0.5}},
        {id: 'hotspots', type: 'circle', source: 'hotspots',
          // A country's archive has thousands: the overview rings the 20 highest, zoom 8 the 200
          // highest, zoom 11 all of them.
          paint: {'circle-radius': ringRadius(),
            'circle-color': 'rgba(0,0,0,0)', 'circle-stroke-color': '#111', 'circle-stroke-width': 2,
            'circle-stroke-opacity': ['step', ['zoom'], ['case', ['<=', ['get', 'rank'], 20], 1, 0],
              8, ['case', ['<=', ['get', 'rank'], 200], 1, 0], 11, 1]}},
      ],
    },
  });
  map.addControl(new maplibregl.NavigationControl(), 'top-right');
  map.addControl(new maplibregl.ScaleControl(), 'bottom-left');
  map.on('click', (e) => {
    // A measurement before the ring around it, a ring before the cell under it.
    const order = ['points', 'hotspots', 'cells'];
    const features = map.queryRenderedFeatures(e.point, {layers: order})
      .filter((f) => f.layer.id !== 'hotspots' || map.getZoom() >= 11 || f.properties.rank <= (map.getZoom() >= 8 ? 200 : 20))
      .sort((a, b) => order.indexOf(a.layer.id) - order.indexOf(b.layer.id));
    if (!features.length) return;
    new maplibregl.Popup().setLngLat(e.lngLat).setHTML(popupHtml(features[0])).addTo(map);
    document.body.dataset.popup = features[0].layer.id;
  });
  ['cells', 'points', 'hotspots'].forEach((layer) => {
    map.on('mouseenter', layer, () => { map.getCanvas().style.cursor = 'pointer'; });
    map.on('mouseleave', layer, () => { map.getCanvas().style.cursor = ''; });
  });
  // Ready once every tile in view is in, the base map's included (or failed: offline).
  const check = () => { if (map.loaded() && map.areTilesLoaded()) state('ready'); };
  ['idle', 'data', 'error'].forEach((event) => map.on(event, check));
  window.dosemapViewer = {map, meta};
}

function offerFile(why) {
  const box = document.getElementById('open');
  if (why) document.getElementById('why').textContent = why;
  box.classList.add('shown');
  state('asking');
  const open = (file) => {
    if (file) show(new PMTiles(new FileSource(file))).catch((e) => offerFile(file.name + ': ' + e.message));
  };
  document.getElementById('picker').onchange = (e) => open(e.target.files[0]);
  document.addEventListener('dragover', (e) => { e.preventDefault(); box.classList.add('over'); });
  document.addEventListener('dragleave', () => box.classList.remove('over'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    box.classList.remove('over');
    open(e.dataTransfer.files[0]);
  });
}

const archiveUrl = document.getElementById('map').dataset.archive;
if (location.protocol === 'file:') {
  offerFile();
} else {
  const url = new URL(archiveUrl, location.href).href;
  show(new PMTiles(url)).catch((e) => offerFile(texts.unread(url, e.message)));
}
