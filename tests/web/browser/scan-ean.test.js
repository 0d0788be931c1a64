// Live scanning of an EAN-13 on Chromium's fake camera: lock, overlay, history, settings, the
// camera's life cycle, and the merge with a native BarcodeDetector.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { useBrowserSuite, waitForLock, waitForText, textOf, waitForEngine } from '../helpers/suite.js';
import { NATIVE_DETECTOR_STAND_IN, storedHistory } from '../helpers/browser.js';
import { EAN13_TEXT, UPCE_TEXT } from '../helpers/clips.js';

const suite = useBrowserSuite({ clip: 'ean13' });
const T = { timeout: 90000 };

async function startAndLock(page) {
  await page.click('#viewfinder');
  await waitForLock(page);
}

async function choose(page, selector) {
  if (!(await page.isVisible(selector))) await page.click('#settings-details summary');
  await page.click(selector);
}

describe('live scan with the balanced preset', () => {
  it('locks the EAN-13 and shows, announces and stores it', T, async () => {
    const page = await suite.open();
    await waitForEngine(page);
    await page.click('#viewfinder');
    await page.waitForSelector('#reticle-overlay:not([hidden])');
    assert.equal(await page.getAttribute('#btn-scan-toggle', 'data-scanning'), 'true');
    assert.equal(await page.getAttribute('#zoom-slider', 'max'), '3', 'digital zoom runs 1 to 3 on this camera');
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-format'), 'EAN-13');
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
    assert.equal(await textOf(page, '#result-confidence'), '100% Verified');
    assert.match(await textOf(page, '#approved-meta'), /^5\/5 frames · 100% match · [1-9]\d* ms · Checksum OK$/);
    await waitForText(page, '#sr-announcer', `Scanned EAN-13 barcode ${EAN13_TEXT} with 100 percent confidence.`);
    assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'scanning', 'the camera stays open');
    assert.equal(await page.getAttribute('#viewfinder', 'data-confidence'), 'high');
    assert.equal(await textOf(page, '#hud-candidate'), `EAN-13: ${EAN13_TEXT}`);

    const [entry] = await storedHistory(page);
    assert.equal(entry.text, EAN13_TEXT);
    assert.equal(entry.format, 'EAN-13');
    assert.deepEqual([entry.confidence, entry.confirmations, entry.requiredConfirmations, entry.agreementRatio], [100, 5, 5, 1]);
    assert.equal(entry.checksumVerified, true);
    assert.deepEqual(entry.engines, ['zxing-wasm']);
    assert.ok(Math.abs(Date.parse(entry.timestamp) - Date.now()) < 60000);
    assert.equal(await textOf(page, '#history-count'), '1');
    assert.equal(await textOf(page, `#${entry.id}`), EAN13_TEXT);
    assert.match(await textOf(page, '.history-meta'), /^EAN-13 · 100% \(5 reads\) · \d\d:\d\d:\d\d$/);

    await page.evaluate(() => window.scrollTo(0, 0));
    await suite.screenshot(page, 'web-scanner-lock-light.png');
    await page.emulateMedia({ colorScheme: 'dark' });
    await suite.screenshot(page, 'web-scanner-lock-dark.png');
    await page.emulateMedia({ colorScheme: 'light' });
  });

  it('starts the next scan from a tap on the overlay, not from its buttons', T, async () => {
    const page = await suite.open();
    await startAndLock(page);
    await page.click('#btn-share-result');
    assert.equal(await page.isVisible('#share-dialog'), true);
    await page.click('button[aria-label="Close share dialog"]');
    assert.equal(await page.isVisible('#approved-overlay'), true, 'the share button does not start a scan');

    await page.click('#approved-overlay', { position: { x: 8, y: 8 } });
    await page.waitForSelector('#approved-overlay', { state: 'hidden' });
    await waitForLock(page);
    assert.equal((await storedHistory(page)).length, 2);
    // A tracker that kept the last scan's reads would report 6/5 frames.
    assert.ok((await textOf(page, '#approved-meta')).startsWith('5/5 frames'));

    await page.keyboard.press('Escape');
    await page.waitForSelector('#approved-overlay', { state: 'hidden' });
    await waitForLock(page);
    assert.equal((await storedHistory(page)).length, 3);
  });

  it('stops on the start/stop button and when the page is hidden', T, async () => {
    const page = await suite.open();
    await choose(page, '[data-mode="matrix"]'); // the EAN in view must not lock and cover the page
    await page.click('#btn-scan-toggle');
    await page.waitForFunction(() => Number.parseInt(document.getElementById('hud-frames').textContent, 10) > 0);
    await page.click('#btn-scan-toggle');
    await page.waitForSelector('#idle-overlay:not([hidden])');
    assert.equal(await page.getAttribute('#btn-scan-toggle', 'data-scanning'), 'false');

    // Switching apps: the browser hides the page. Keep the stream to see that it was released.
    await page.click('#btn-scan-toggle');
    await page.waitForSelector('#reticle-overlay:not([hidden])');
    await page.evaluate(() => {
      window.cameraStream = document.getElementById('camera-video').srcObject;
      Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => 'hidden' });
      document.dispatchEvent(new Event('visibilitychange'));
    });
    await page.waitForSelector('#idle-overlay:not([hidden])');
    assert.equal(await page.evaluate(() => window.cameraStream.getTracks().every((track) => track.readyState === 'ended')), true);
    assert.equal(await page.evaluate(() => document.getElementById('camera-video').srcObject), null);
    await page.evaluate(() => {
      delete document.visibilityState;
      document.dispatchEvent(new Event('visibilitychange'));
    });
    assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'idle');
    assert.equal(await textOf(page, '#idle-overlay h2'), 'Tap to Scan');
  });

  it('scales the preview with the digital zoom', T, async () => {
    const page = await suite.open();
    await choose(page, '[data-mode="matrix"]');
    await page.click('#btn-scan-toggle');
    await page.waitForSelector('#reticle-overlay:not([hidden])');
    await page.fill('#zoom-slider', '2');
    assert.equal(await textOf(page, '#zoom-value'), '2.0×');
    assert.equal(await page.evaluate(() => document.getElementById('camera-video').style.transform), 'scale(2)');
    await page.fill('#zoom-slider', '1');
    assert.equal(await page.evaluate(() => document.getElementById('camera-video').style.transform), '');
  });
});

describe('settings during a scan', () => {
  for (const [label, selector, summary, frames] of [
    ['Fast', '[data-precision="fast"]', 'Fast (3f) · All 1D/2D', '3/3 frames'],
    ['Laser', '[data-precision="laser"]', 'Laser (8f) · All 1D/2D', '8/8 frames'],
  ]) {
    it(`${label} locks after its own number of frames`, T, async () => {
      const page = await suite.open();
      await choose(page, selector);
      assert.equal(await page.getAttribute(selector, 'aria-checked'), 'true');
      assert.equal(await page.getAttribute('[data-precision="balanced"]', 'aria-checked'), 'false');
      assert.equal(await textOf(page, '#settings-summary-text'), summary);
      await startAndLock(page);
      assert.ok((await textOf(page, '#approved-meta')).startsWith(`${frames} · 100% match`));
    });
  }

  it('2D mode ignores the EAN until 1D mode is chosen', T, async () => {
    const page = await suite.open();
    await choose(page, '[data-mode="matrix"]');
    assert.equal(await textOf(page, '#settings-summary-text'), 'Balanced (5f) · 2D Codes');
    await page.click('#btn-scan-toggle');
    await page.waitForFunction(() => Number.parseInt(document.getElementById('hud-frames').textContent, 10) >= 24, null, { timeout: 30000 });
    assert.equal(await page.isVisible('#hud-candidate'), false);
    assert.equal(await textOf(page, '#hud-confidence-pct'), '0%');
    assert.equal(await textOf(page, '#hud-status-text'), 'Hold steady — aim barcode inside frame');

    await choose(page, '[data-mode="linear"]');
    assert.equal(await textOf(page, '#settings-summary-text'), 'Balanced (5f) · 1D Laser');
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
  });

  it('moves through a radio group with the arrow keys', T, async () => {
    const page = await suite.open();
    await page.click('#settings-details summary');
    await page.focus('[data-precision="balanced"]');
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.getAttribute('[data-precision="laser"]', 'aria-checked'), 'true');
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.getAttribute('[data-precision="fast"]', 'aria-checked'), 'true');
    assert.equal(await textOf(page, '#settings-summary-text'), 'Fast (3f) · All 1D/2D');
  });

  it('remembers the press-Enter option', T, async () => {
    const page = await suite.open({ storage: { quillmark_press_enter_v1: 'false' } });
    assert.equal(await page.isChecked('#opt-press-enter'), false);
    await page.click('#settings-details summary');
    await page.check('#opt-press-enter');
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_press_enter_v1')), 'true');
  });
});

describe('native BarcodeDetector beside the WebAssembly reader', () => {
  const withNativeAnswer = (answer) => async (page) => {
    await page.addInitScript(NATIVE_DETECTOR_STAND_IN);
    await page.addInitScript((value) => { window.addEventListener('DOMContentLoaded', () => { window.__nativeAnswer = value; }); }, answer);
  };

  it('credits both engines when they agree', T, async () => {
    const page = await suite.open({ beforeLoad: withNativeAnswer({ rawValue: EAN13_TEXT, format: 'ean_13' }) });
    await waitForText(page, '#engine-badge', 'ZXing-WASM + Native BarcodeDetector');
    await startAndLock(page);
    const [entry] = await storedHistory(page);
    assert.deepEqual(entry.engines, ['zxing-wasm', 'native']);
    assert.ok(await page.evaluate(() => window.__nativeCalls > 0));
  });

  it('keeps the WebAssembly reading when the two disagree', T, async () => {
    const page = await suite.open({ beforeLoad: withNativeAnswer({ rawValue: '96385074', format: 'ean_8' }) });
    await startAndLock(page);
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
    assert.deepEqual((await storedHistory(page))[0].engines, ['zxing-wasm']);
  });

  it('refuses a photo whose check digit fails', T, async () => {
    const page = await suite.open({ beforeLoad: withNativeAnswer({ rawValue: '4006381333932', format: 'ean_13' }) });
    await page.setInputFiles('#photo-input', suite.clips.photo(null));
    await waitForText(page, '#error-banner', 'Detected EAN-13 (4006381333932), but check digit validation failed. Please retake photo.');
    assert.deepEqual(await storedHistory(page), null);
  });

  it('reads a UPC-E photo as printed, the expanded and the short reading agreeing', T, async () => {
    const page = await suite.open({ beforeLoad: withNativeAnswer({ rawValue: UPCE_TEXT, format: 'upc_e' }) });
    await page.setInputFiles('#photo-input', suite.clips.photo('upce'));
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-format'), 'UPC-E');
    assert.equal(await textOf(page, '#result-code'), UPCE_TEXT);
    assert.equal(await textOf(page, '#result-confidence'), '97% Verified');
    assert.equal(await page.isVisible('#error-banner'), false);
  });

  it('rates a photo read by both engines at 97', T, async () => {
    const page = await suite.open({ beforeLoad: withNativeAnswer({ rawValue: EAN13_TEXT, format: 'ean_13' }) });
    await page.setInputFiles('#photo-input', suite.clips.photo('ean13'));
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-confidence'), '97% Verified');
  });
});
