// Reads the KML that the page holds with OpenLayers' KML format, as a web map would, and reports
// on the page what it drew: how many placemarks, whether each got its class colour, how many
// distinct class colours the styles hold, and the route's lines. The legend the KML names in its
// ScreenOverlay is shown in the corner, as a globe would show it.
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import VectorLayer from 'ol/layer/Vector.js';
import VectorSource from 'ol/source/Vector.js';
import KML from 'ol/format/KML.js';

const report = (result) => {
  document.body.dataset.result = JSON.stringify(result);
};

window.addEventListener('error', (event) => report({error: String(event.message)}));

const text = document.getElementById('kml').textContent;
// No cross-origin mode: the icon is a file beside the map, not a web address. OpenLayers draws
// the names whatever the LabelStyle's scale: a web map built on it turns them off itself.
const format = new KML({crossOrigin: null, showPointNames: false});
const features = format.readFeatures(text, {featureProjection: 'EPSG:3857'});
const points = features.filter((f) => f.getGeometry().getType() === 'Point');
const lines = features.filter((f) => f.getGeometry().getType() === 'LineString');
const source = new VectorSource({features});
// A feature's own style (from its styleUrl) is what OpenLayers draws it with: note each call.
const drawn = new Set();
for (const feature of points) {
  const own = feature.getStyleFunction();
  feature.setStyle((f, resolution) => {
    drawn.add(f);
    return own(f, resolution);
  });
}
const layer = new VectorLayer({source});
const map = new Map({target: 'map', layers: [layer], view: new View()});
map.getView().fit(source.getExtent(), {padding: [30, 30, 30, 30]});

const legend = new DOMParser().parseFromString(text, 'application/xml')
  .querySelector('ScreenOverlay Icon href');
if (legend) {
  const image = document.createElement('img');
  image.src = legend.textContent;
  image.style = 'position:absolute;left:10px;bottom:30px';
  document.body.appendChild(image);
}

// The class colours as KML gives them (aabbggrr), as OpenLayers turns them into [r, g, b, a]:
// ColorBrewer's RdYlBu, five classes.
const expected = {
  dose1: [44, 123, 182], dose2: [171, 217, 233], dose3: [255, 255, 191], dose4: [253, 174, 97],
  dose5: [215, 25, 28],
};

const imageOf = (feature) => {
  const styles = feature.getStyleFunction()(feature, map.getView().getResolution());
  return (Array.isArray(styles) ? styles[0] : styles).getImage();
};

const check = () => {
  let coloured = 0;
  let loaded = 0;
  const colours = new Set();
  for (const feature of drawn) {
    const image = imageOf(feature);
    const colour = image.getColor();
    const url = feature.get('styleUrl') || '';
    const want = expected[url.slice(url.indexOf('#') + 1)];
    if (want && colour && want.every((v, i) => v === colour[i])) coloured++;
    if (colour) colours.add(colour.slice(0, 3).join(','));
    if (image.getImageState() === 2) loaded++;  // ImageState.LOADED: the icon was drawn
  }
  report({features: points.length, drawn: drawn.size, coloured, loaded, colours: colours.size,
    lines: lines.length, legend: legend ? legend.textContent : ''});
};

// Icons load after the first render and the next render draws them: render until every drawn
// feature's icon is loaded (or 10 s have passed), then report.
let tries = 0;
const timer = setInterval(() => {
  map.renderSync();
  const ready = drawn.size > 0 && [...drawn].every((f) => imageOf(f).getImageState() === 2);
  if (ready || ++tries >= 100) {
    clearInterval(timer);
    map.renderSync();
    check();
  }
}, 100);
