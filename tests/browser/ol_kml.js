// Reads the KML that the page holds with OpenLayers' KML format, as a web map would, and reports
// on the page what it drew: how many placemarks, and whether each got its class colour.
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
// No cross-origin mode: the icon is a file beside the map, not a web address.
const format = new KML({crossOrigin: null});
const features = format.readFeatures(text, {featureProjection: 'EPSG:3857'});
const source = new VectorSource({features});
// A feature's own style (from its styleUrl) is what OpenLayers draws it with: note each call.
const drawn = new Set();
for (const feature of features) {
  const own = feature.getStyleFunction();
  feature.setStyle((f, resolution) => {
    drawn.add(f);
    return own(f, resolution);
  });
}
const layer = new VectorLayer({source});
const map = new Map({target: 'map', layers: [layer], view: new View()});
map.getView().fit(source.getExtent(), {padding: [30, 30, 30, 30]});

// The class colours as KML gives them (aabbggrr), as OpenLayers turns them into [r, g, b, a].
const expected = {
  dose1: [0, 255, 0], dose2: [0, 255, 0], dose3: [255, 255, 0], dose4: [255, 15, 0], dose5: [255, 15, 0],
};

const check = () => {
  let coloured = 0;
  let loaded = 0;
  for (const feature of drawn) {
    const styles = feature.getStyleFunction()(feature, map.getView().getResolution());
    const image = (Array.isArray(styles) ? styles[0] : styles).getImage();
    const colour = image.getColor();
    const url = feature.get('styleUrl') || '';
    const want = expected[url.slice(url.indexOf('#') + 1)];
    if (want && colour && want.every((v, i) => v === colour[i])) coloured++;
    if (image.getImageState() === 2) loaded++;  // ImageState.LOADED: the icon was drawn
  }
  report({features: features.length, drawn: drawn.size, coloured, loaded});
};

// Icons load after the first render and the next render draws them: render until every drawn
// feature's icon is loaded (or 10 s have passed), then report.
const imageOf = (feature) => {
  const styles = feature.getStyleFunction()(feature, map.getView().getResolution());
  return (Array.isArray(styles) ? styles[0] : styles).getImage();
};
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
