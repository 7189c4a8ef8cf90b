// How long the .pmtiles viewer takes to show its map in headless Chromium: from opening the page
// until every tile in view is drawn, at the overview and then at zoom 14 on the first hotspot or
// the middle. Prints "overview_s zoom14_s features_at_14". The base map's tiles (from the web, out
// of reach offline) are not waited for: only the dose tiles.
// Usage: node viewer_open.mjs URL (run from a folder whose node_modules holds playwright-core)
import {chromium} from 'playwright-core';

const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--ignore-gpu-blocklist', '--disable-background-networking']});
try {
  const page = await browser.newPage({viewport: {width: 1200, height: 800}});
  const start = Date.now();
  await page.goto(process.argv[2]);
  const drawn = (layer) => page.waitForFunction((layer) => {
    const map = window.dosemapViewer && window.dosemapViewer.map;
    return map && !map.isMoving() && map.getSource('dose') && map.isSourceLoaded('dose') &&
      map.queryRenderedFeatures({layers: [layer]}).length > 0;
  }, layer, {timeout: 600000});
  await drawn('cells');
  const overview = (Date.now() - start) / 1000;
  const zoomed = Date.now();
  await page.evaluate(() => {
    const {map, meta} = window.dosemapViewer;
    const spot = ((meta.summary || {}).hotspots || [])[0];
    map.jumpTo({center: spot ? [spot.longitude, spot.latitude] : map.getCenter(), zoom: 14});
  });
  await drawn('points');
  const at14 = (Date.now() - zoomed) / 1000;
  const features = await page.evaluate(() =>
    window.dosemapViewer.map.queryRenderedFeatures({layers: ['points']}).length);
  console.log(overview.toFixed(2), at14.toFixed(2), features);
} finally {
  await browser.close();
}
