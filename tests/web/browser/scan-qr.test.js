// Live scanning of a QR code on the fake camera: the 2D path of the WebAssembly reader, and a
// native detector reading what the 1D-only WebAssembly mode may not.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { useBrowserSuite, waitForLock, waitForText, textOf } from '../helpers/suite.js';
import { NATIVE_DETECTOR_STAND_IN, openScanner, storedHistory } from '../helpers/browser.js';
import { QR_TEXT } from '../helpers/clips.js';

const suite = useBrowserSuite({ clip: 'qr' });
const T = { timeout: 90000 };

async function chooseMode(page, mode) {
  await page.click('#settings-details summary');
  await page.click(`[data-mode="${mode}"]`);
}

describe('QR code scanning', () => {
  it('locks a QR code in 2D mode, without a checksum claim', T, async () => {
    const page = await suite.open();
    await chooseMode(page, 'matrix');
    await page.click('#btn-scan-toggle');
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-format'), 'QR-CODE');
    assert.equal(await textOf(page, '#result-code'), QR_TEXT);
    assert.match(await textOf(page, '#approved-meta'), /^5\/5 frames · 100% match · [1-9]\d* ms$/);
    await waitForText(page, '#sr-announcer', `Scanned QR-CODE barcode ${QR_TEXT} with 99 percent confidence.`);
    assert.equal((await storedHistory(page))[0].checksumVerified, false);
  });

  it('locks a QR code that fills the frame\'s height, taller than the reticle\'s region', T, async () => {
    await suite.withCamera('qr-full', async (context) => {
      const page = await openScanner(context, suite.origin);
      await page.click('#btn-scan-toggle');
      await waitForLock(page);
      assert.equal(await textOf(page, '#result-format'), 'QR-CODE');
      assert.equal(await textOf(page, '#result-code'), QR_TEXT);
      assert.match(await textOf(page, '#approved-meta'), /^5\/5 frames · 100% match · [1-9]\d* ms$/);
    });
  });

  it('in 1D mode reads the QR code only through the native detector', T, async () => {
    const page = await suite.open({
      beforeLoad: async (p) => {
        await p.addInitScript(NATIVE_DETECTOR_STAND_IN);
        await p.addInitScript((text) => {
          window.addEventListener('DOMContentLoaded', () => { window.__nativeAnswer = { rawValue: text, format: 'qr_code' }; });
        }, QR_TEXT);
      },
    });
    await chooseMode(page, 'linear');
    await page.click('#btn-scan-toggle');
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-code'), QR_TEXT);
    assert.deepEqual((await storedHistory(page))[0].engines, ['native']);
  });
});
