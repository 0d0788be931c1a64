// The receiver's lasting identity from a phone that trusts its local CA (Chromium with the CA in
// its NSS database, no certificate error passed over): the page loads as secure, the service
// worker registers, the manifest is valid, and with the receiver off the installed app still
// opens, scans and keeps the scan until the receiver is back. And a browser that only clicked
// through: the trust page says so, and nothing else changes.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { artifactsDir, launchBrowser, openScanner } from '../helpers/browser.js';
import { receiverTestHome, startReceiver } from '../helpers/receiver.js';
import { ClipMaker, EAN13_TEXT } from '../helpers/clips.js';
import { waitForLock, waitForText, textOf } from '../helpers/suite.js';

const T = { timeout: 150000 };
const RECEIVED = new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Received\\)$`);
const caFile = () => join(receiverTestHome(), 'data', 'quillmark', 'identity', 'ca.crt');
const screenshot = (page, name) => page.screenshot({ path: join(artifactsDir(), name), animations: 'disabled' });

describe('a phone that trusts the local CA', () => {
  const run = {};
  before(async () => {
    run.clips = new ClipMaker();
    run.receiver = await startReceiver();
    run.browser = await launchBrowser({ clip: run.clips.clip('ean13'), trustCa: caFile(), serviceWorkers: 'allow', cdn: false });
    run.errors = [];
    run.browser.context.on('weberror', (error) => run.errors.push(error.error().message));
  });
  after(async () => {
    await run.browser?.close();
    await run.receiver?.stop();
    run.clips?.remove();
  });

  it('loads as secure, installs the app, and scans with the receiver off until it is back', T, async () => {
    const url = await run.receiver.pairingUrl();
    const { origin } = new URL(url);
    const page = await openScanner(run.browser.context, origin, { path: url.slice(origin.length) });
    assert.equal(await page.evaluate(() => window.isSecureContext), true);
    // The worker takes the page over once it has the app shell.
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: 30000 });
    await waitForText(page, '#engine-badge', 'ZXing-WASM', 30000);

    const cdp = await page.context().newCDPSession(page);
    const manifest = await cdp.send('Page.getAppManifest');
    assert.deepEqual(manifest.errors, [], 'the manifest parses without errors');
    const parsed = JSON.parse(manifest.data);
    assert.equal(parsed.name, 'Quillmark');
    assert.equal(parsed.display, 'standalone');
    assert.equal(parsed.start_url, `/?pc=${encodeURIComponent(new URL(url).searchParams.get('pc'))}`);
    assert.deepEqual(parsed.icons.map((icon) => icon.sizes), ['192x192', '512x512']);
    const icon = await page.evaluate(async () => {
      const bitmap = await createImageBitmap(await (await fetch('/icon-512.png')).blob());
      return [bitmap.width, bitmap.height];
    });
    assert.deepEqual(icon, [512, 512]);

    const trust = await run.browser.context.newPage();
    await trust.goto(`${origin}/trust.html`);
    await trust.waitForSelector('#trust-status[data-trusted="trusted"]');
    const fingerprint = await textOf(trust, '#trust-fingerprint');
    assert.ok(run.receiver.lines.includes(`Local CA fingerprint (SHA-256): ${fingerprint}`), fingerprint);
    await screenshot(trust, 'web-trust-page.png');
    await trust.close();

    const delivered = [];
    page.on('response', (response) => {
      if (response.url().endsWith('/api/scan') && response.ok()) delivered.push(response.request().postDataJSON().id);
    });
    await run.receiver.stop();
    // The app opens from its cache with the receiver off, decoder included.
    await page.reload();
    await waitForText(page, '#engine-badge', 'ZXing-WASM', 30000);
    await page.click('#viewfinder');
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
    await waitForText(page, '#relay-waiting', '1 waiting', 30000);
    await screenshot(page, 'web-installed-app-offline.png');

    // Back with the same identity on the same port: still trusted, and the scan goes once.
    run.receiver = await startReceiver({ port: run.receiver.port });
    await run.receiver.waitForLine(RECEIVED, 60000);
    await page.waitForSelector('#relay-waiting', { state: 'hidden', timeout: 30000 });
    assert.equal(run.receiver.lines.filter((line) => RECEIVED.test(line)).length, 1);
    assert.equal(delivered.length, 1);
    assert.deepEqual(run.errors, []);
  });
});

describe('a phone that only clicked through the warning', () => {
  it('is told it does not trust the receiver yet; registration fails quietly', T, async () => {
    const receiver = await startReceiver();
    const browser = await launchBrowser({ serviceWorkers: 'allow', cdn: false });
    const errors = [];
    browser.context.on('weberror', (error) => errors.push(error.error().message));
    try {
      const page = await browser.context.newPage();
      await page.goto(`${receiver.origin}/trust.html`);
      await page.waitForSelector('#trust-status:not([data-trusted="unknown"])');
      assert.equal(await page.getAttribute('#trust-status', 'data-trusted'), 'untrusted');
      assert.equal(await textOf(page, '#trust-status'), 'This phone does not trust the receiver yet: follow the steps below.');
      assert.equal(await page.evaluate(async () => (await navigator.serviceWorker.getRegistrations()).length), 0);
      await page.setViewportSize({ width: 390, height: 844 });
      await screenshot(page, 'web-trust-page-untrusted.png');
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
      await receiver.stop();
    }
  });
});
