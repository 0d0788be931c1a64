// The phone's part of the end-to-end test through the Windows build: Chromium (with the web
// suite's harness: fake camera playing an EAN-13 clip, CDN stand-in) opens the pairing URL,
// scans once with "Press Enter" on, reloads, switches it off and scans again. Every scan is
// posted by the page itself. Prints one JSON object with what the page showed.
// With --lose-first-reply the page talks to the receiver through a loopback proxy that cuts the
// connection after the receiver has answered the first scan, and scans once.
//
//   node phone_scan.mjs <pairing URL on 127.0.0.1> <screenshot directory> [--lose-first-reply]
import { join } from 'node:path';
import { launchBrowser, openScanner } from '../web/helpers/browser.js';
import { ClipMaker } from '../web/helpers/clips.js';
import { startCuttingProxy } from '../web/helpers/receiver.js';

const [url, shots, mode] = process.argv.slice(2);
if (!url || new URL(url).hostname !== '127.0.0.1') {
  console.error('usage: node phone_scan.mjs https://127.0.0.1:<port>/?pc=... <screenshot directory>');
  process.exit(2);
}

const TIMEOUT = { timeout: 60000 };
const text = (page, selector) => page.evaluate((sel) => document.querySelector(sel).textContent, selector);

async function scan(page, name, { untilSent = false } = {}) {
  await page.click('#viewfinder');
  await page.waitForSelector('#approved-overlay:not([hidden])', TIMEOUT);
  // Sent, or failed: either way the page says so (a lost reply is sent again until it is sent).
  await page.waitForFunction((sentOnly) => document.getElementById('approved-meta').textContent.includes(' · Sent via ')
    || (!sentOnly && !document.getElementById('error-banner').hidden), untilSent, TIMEOUT);
  await page.screenshot({ path: join(shots, name) });
  return {
    format: await text(page, '#result-format'),
    text: await text(page, '#result-code'),
    confidence: await text(page, '#result-confidence'),
    meta: await text(page, '#approved-meta'),
    error: await page.evaluate(() => {
      const banner = document.getElementById('error-banner');
      return banner.hidden ? null : banner.textContent;
    }),
  };
}

const clips = new ClipMaker();
const browser = await launchBrowser({ clip: clips.clip('ean13') });
const errors = [];
browser.context.on('weberror', (error) => errors.push(error.error().message));
let proxy = null;
try {
  if (mode === '--lose-first-reply') {
    proxy = await startCuttingProxy({ port: Number(new URL(url).port) });
    const path = `/?pc=${encodeURIComponent(`${proxy.origin}/api/scan`)}`;
    const page = await openScanner(browser.context, proxy.origin, { path });
    const lost = await scan(page, 'phone-scan-lost-reply.png', { untilSent: true });
    process.stdout.write(`${JSON.stringify({ scans: [lost], cut: proxy.cut(), errors })}\n`);
  } else {
    const { origin } = new URL(url);
    const page = await openScanner(browser.context, origin, { path: url.slice(origin.length) });
    await page.waitForFunction(() => document.getElementById('wifi-badge').textContent !== 'Not tested', null, TIMEOUT);
    const paired = { relayLabel: await text(page, '#relay-label'), wifiBadge: await text(page, '#wifi-badge') };
    const withEnter = await scan(page, 'phone-scan-enter.png');

    await page.reload();
    await page.click('#settings-details summary');
    await page.uncheck('#opt-press-enter');
    const withoutEnter = await scan(page, 'phone-scan-no-enter.png');
    process.stdout.write(`${JSON.stringify({ paired, scans: [withEnter, withoutEnter], errors })}\n`);
  }
} finally {
  await proxy?.close();
  await browser.close();
  clips.remove();
}
