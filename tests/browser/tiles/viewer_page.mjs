// The viewer beside a .pmtiles map in headless Chromium (WebGL through SwiftShader): served over
// HTTP, and opened from disk with the file given through its picker. Prints what it found as JSON.
// Usage: node viewer_page.mjs HTTP_URL FILE_URL FILE.pmtiles [SCREENSHOT]
import {chromium} from 'playwright-core';

const [httpUrl, fileUrl, archive, shot] = process.argv.slice(2);
const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--ignore-gpu-blocklist', '--disable-background-networking']});
const result = {};
const ready = (page) => page.waitForFunction(() => document.body.dataset.state === 'ready', null,
  {timeout: 300000});
// After a move: the map drawn again with every tile in view.
const settled = (page) => page.waitForFunction(() => {
  const map = window.dosemapViewer.map;
  return !map.isMoving() && map.loaded() && map.areTilesLoaded();
}, null, {timeout: 300000});
try {
  const page = await browser.newPage({viewport: {width: 1200, height: 800}});
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(httpUrl);
  await ready(page);
  result.legend = await page.$$eval('#classes li[data-class]', (items) => items.map((li) => li.textContent));
  result.title = await page.title();
  if (shot) await page.screenshot({path: shot});
  // The cells at zoom 12: the colour of a hot and of a cold one, seen without the rings on top.
  await page.evaluate(() => {
    const {map} = window.dosemapViewer;
    map.setLayoutProperty('hotspots', 'visibility', 'none');
    map.setLayoutProperty('cells-max', 'visibility', 'none');
    map.jumpTo({zoom: 12});
  });
  await settled(page);
  Object.assign(result, await page.evaluate(() => {
    const {map, meta} = window.dosemapViewer;
    const copy = document.createElement('canvas');
    const canvas = map.getCanvas();
    copy.width = canvas.width, copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const ratio = canvas.width / canvas.clientWidth;
    const found = {};
    for (const f of map.queryRenderedFeatures({layers: ['cells']})) {
      const ring = f.geometry.coordinates[0];
      const lon = (ring[0][0] + ring[2][0]) / 2, lat = (ring[0][1] + ring[2][1]) / 2;
      const p = map.project([lon, lat]);
      if (p.x < 20 || p.y < 20 || p.x > canvas.clientWidth - 20 || p.y > canvas.clientHeight - 20) continue;
      const key = f.properties.class === 5 ? 'hot' : f.properties.class <= 2 ? 'cold' : null;
      if (!key || found[key]) continue;
      const [r, g, b] = context.getImageData(Math.round(p.x * ratio), Math.round(p.y * ratio), 1, 1).data;
      const hex = (v) => v.toString(16).padStart(2, '0');
      found[key] = {class: f.properties.class, pixel: '#' + hex(r) + hex(g) + hex(b),
        colour: meta.dose_classes[f.properties.class - 1].color};
    }
    return {cellsDrawn: map.queryRenderedFeatures({layers: ['cells']}).length, ...found};
  }));
  // At zoom 15 the measurements: a click on one opens its pop-up.
  await page.evaluate(() => {
    const {map} = window.dosemapViewer;
    map.setLayoutProperty('hotspots', 'visibility', 'visible');
    map.jumpTo({zoom: 15});
  });
  await settled(page);
  const point = await page.evaluate(() => {
    const {map} = window.dosemapViewer;
    const f = map.queryRenderedFeatures({layers: ['points']})
      .map((feature) => ({feature, p: map.project(feature.geometry.coordinates)}))
      .find(({p}) => p.x > 50 && p.y > 50 && p.x < 1150 && p.y < 750);
    return f && {x: f.p.x, y: f.p.y, dose: f.feature.properties.dose_usvh,
      drawn: map.queryRenderedFeatures({layers: ['points']}).length};
  });
  result.pointsDrawn = point ? point.drawn : 0;
  if (point) {
    await page.mouse.click(point.x, point.y);
    await page.waitForSelector('.maplibregl-popup', {timeout: 60000});
    result.popup = await page.$eval('.maplibregl-popup-content', (e) => e.textContent);
    result.popupDose = point.dose;
  }
  result.errors = errors;
  // A Japanese browser reads it in Japanese.
  const japanese = await browser.newPage({viewport: {width: 1200, height: 800}, locale: 'ja-JP'});
  await japanese.goto(httpUrl);
  await ready(japanese);
  result.japanese = await japanese.$$eval('#legend li', (items) => items.map((li) => li.textContent).slice(-2));
  // From disk: the page asks for the file, and shows it once given.
  const local = await browser.newPage({viewport: {width: 1200, height: 800}});
  await local.goto(fileUrl);
  await local.waitForFunction(() => document.body.dataset.state === 'asking', null, {timeout: 60000});
  result.asked = await local.isVisible('#picker');
  await local.setInputFiles('#picker', archive);
  await ready(local);
  result.fromDisk = await local.$$eval('#classes li[data-class]', (items) => items.length);
} catch (e) {
  result.error = String(e);
} finally {
  await browser.close();
}
console.log(JSON.stringify(result));
