// Opens the KMZ beside the page with CesiumJS, as a web globe would, and reports on the page what
// it shows: the document's name, the points loaded, those in view at the whole-drive view and
// when zoomed in on the highest dose, and whether the legend's overlay is shown.
import {Viewer, KmlDataSource, SceneTransforms, Cartesian2, Cartesian3, JulianDate} from 'cesium';

const report = (result) => {
  document.body.dataset.result = JSON.stringify(result);
  document.body.dataset.done = 'yes';
};
window.addEventListener('error', (event) => report({error: String(event.message)}));

const settle = () => new Promise((resolve) => setTimeout(resolve, 500));

(async () => {
  const viewer = new Viewer('map', {baseLayer: false, baseLayerPicker: false, geocoder: false,
    timeline: false, animation: false, homeButton: false, sceneModePicker: false,
    navigationHelpButton: false, fullscreenButton: false, infoBox: false, selectionIndicator: false,
    // Software WebGL is slow: a frame only when something changed.
    requestRenderMode: true, maximumRenderTimeChange: Infinity});
  const source = await KmlDataSource.load(document.body.dataset.kmz,
    {camera: viewer.scene.camera, canvas: viewer.scene.canvas, screenOverlayContainer: viewer.container});
  await viewer.dataSources.add(source);
  const points = () => source.entities.values.filter((e) => e.billboard);
  // Every linked document loads in turn: wait until the count holds still.
  let loaded = -1;
  for (let i = 0; i < 120 && points().length !== loaded; i++) {
    loaded = points().length;
    await settle();
  }
  const time = JulianDate.now();
  const dose = (e) => Number(e.kml && e.kml.extendedData && e.kml.extendedData.dose_usvh
    ? e.kml.extendedData.dose_usvh.value : (e.name || 'NaN'));
  const inView = () => {
    const canvas = viewer.scene.canvas;
    let n = 0;
    for (const e of points()) {
      if (!e.isShowing) continue;
      const at = SceneTransforms.worldToWindowCoordinates(viewer.scene, e.position.getValue(time),
        new Cartesian2());
      if (at && at.x >= 0 && at.y >= 0 && at.x <= canvas.clientWidth && at.y <= canvas.clientHeight) n++;
    }
    return n;
  };
  await viewer.zoomTo(source);
  viewer.scene.render();
  const whole = inView();
  // The highest dose, and whether it shows at the whole-drive view.
  const highest = points().reduce((a, b) => (dose(b) > dose(a) ? b : a));
  const highestShown = highest.isShowing && inView() > 0;
  // The ScreenOverlay's picture comes out of the archive (the globe's own logo does not).
  const legend = [...viewer.container.querySelectorAll('img')].filter((i) => /^(data|blob):/.test(i.src)).length;
  // A screenshot of the whole drive, when the driver takes one: it says when it has.
  if (document.body.dataset.screenshot) {
    document.body.dataset.shot = 'whole';
    while (document.body.dataset.shot !== 'taken') await settle();
  }
  // Zoomed in on the highest dose, 2 km above it.
  const p = highest.position.getValue(time);
  const c = viewer.scene.globe.ellipsoid.cartesianToCartographic(p);
  viewer.camera.setView({destination: Cartesian3.fromRadians(c.longitude, c.latitude, 2000)});
  viewer.scene.render();
  const zoomed = inView();
  report({name: source.name, loaded: points().length, whole, zoomed, highest: dose(highest),
    highestShown, legend});
})().catch((e) => report({error: String(e && e.stack || e)}));
