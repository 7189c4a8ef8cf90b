// Opens a page in headless Chromium (WebGL through SwiftShader), waits until the page says it is
// done, prints what it reported, and takes a screenshot when the page says it is ready for one.
// Usage: node drive_page.mjs URL [SCREENSHOT]
import {chromium} from 'playwright-core';

const [url, shot] = process.argv.slice(2);
const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--ignore-gpu-blocklist', '--allow-file-access-from-files', '--disable-background-networking']});
try {
  const page = await browser.newPage({viewport: {width: 1200, height: 900}});
  await page.goto(url);
  if (shot) {
    await page.evaluate(() => { document.body.dataset.screenshot = 'yes'; });
    await page.waitForFunction(() => document.body.dataset.shot || document.body.dataset.done,
      null, {timeout: 300000});
    await page.screenshot({path: shot, timeout: 120000});
    await page.evaluate(() => { document.body.dataset.shot = 'taken'; });
  }
  await page.waitForFunction(() => document.body.dataset.done === 'yes', null, {timeout: 300000});
  console.log(await page.evaluate(() => document.body.dataset.result));
} finally {
  await browser.close();
}
