// Pairing from the receiver's QR code and the automatic relay of every accepted scan, from
// Chromium's fake camera to the real receiver's log: one scan's whole road, its failures, and
// Bluetooth beside Wi-Fi. The network has no internet: the receiver serves the decoder too.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { useBrowserSuite, waitForLock, waitForText, textOf } from '../helpers/suite.js';
import { BLUETOOTH_STAND_IN, openScanner, storedHistory, reportDecoderReady } from '../helpers/browser.js';
import { startReceiver } from '../helpers/receiver.js';
import { startDisplayWithSink } from '../helpers/x11.js';
import { EAN13_TEXT, UPCE_TEXT } from '../helpers/clips.js';

const COMPUTER = 'QUILLMARK-PC';
const suite = useBrowserSuite({ clip: 'ean13', receiverEnv: { COMPUTERNAME: COMPUTER }, cdn: false });
const T = { timeout: 90000 };
const SCAN_LINE = /^\[\d\d:\d\d:\d\d\] \[(.+?)\] (.*) \((\d+)% - (.+)\)$/;

const scanLines = (receiver) => receiver.lines.filter((line) => SCAN_LINE.test(line));

// A request held until the test lets it go; `held` resolves once the page has made it.
async function holdRequests(page, pattern) {
  const waiting = [];
  const arrivals = [];
  let notify = () => {};
  await page.route(pattern, async (route) => {
    const gate = new Promise((resolve) => waiting.push(resolve));
    arrivals.push(route.request());
    notify();
    await gate;
    await route.continue();
  });
  return {
    held: (count) => new Promise((resolve) => {
      notify = () => arrivals.length >= count && resolve();
      notify();
    }),
    release: (index) => waiting[index](),
    requests: arrivals,
  };
}

// Opens the receiver's pairing URL, as printed, with the address on loopback.
async function openPairingUrl(receiver, { beforeLoad, context = suite.context } = {}) {
  const url = await receiver.pairingUrl();
  assert.equal(url, `https://127.0.0.1:${receiver.port}/?pc=https%3A%2F%2F127.0.0.1%3A${receiver.port}%2Fapi%2Fscan`);
  const { origin } = new URL(url);
  const page = await openScanner(context, origin, { path: url.slice(origin.length), beforeLoad });
  suite.pages.push(page);
  return page;
}

const waitForBadge = (page, text) => waitForText(page, '#wifi-badge', text);

async function scanOnce(page) {
  await page.click('#viewfinder');
  await waitForLock(page);
  return {
    format: await textOf(page, '#result-format'),
    text: await textOf(page, '#result-code'),
    confidence: Number.parseInt(await textOf(page, '#result-confidence'), 10),
  };
}

const waitForMetaEnd = (page, ending) =>
  page.waitForFunction((end) => document.getElementById('approved-meta').textContent.endsWith(end), ending, { timeout: 15000 });

describe('pairing from the QR code and sending over Wi-Fi', () => {
  it('pairs at once, tests the receiver, and the scan reaches the receiver log', T, async () => {
    let pingRequests;
    const page = await openPairingUrl(suite.receiver, {
      beforeLoad: async (p) => { pingRequests = await holdRequests(p, '**/api/ping'); },
    });
    // Paired before the reachability test answers.
    await pingRequests.held(1);
    await waitForText(page, '#relay-label', 'Wi-Fi Auto');
    assert.equal(await page.getAttribute('#relay-dot', 'data-connected'), 'true');
    assert.equal(await textOf(page, '#wifi-badge'), 'Not tested');
    const endpoint = `https://127.0.0.1:${suite.receiver.port}/api/scan`;
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_wifi_url_v1')), endpoint);
    pingRequests.release(0);
    assert.equal(await reportDecoderReady(page, 'EAN-13, no internet'), 'ZXing-WASM (decoder from this receiver)');
    await waitForBadge(page, `Connected (${COMPUTER})`);
    assert.equal(await page.getAttribute('#wifi-badge', 'class'), 'pill pill-success');
    assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi Auto');

    await page.click('#btn-open-connect');
    assert.equal(await page.inputValue('#wifi-url-input'), endpoint);
    assert.equal(await page.isChecked('#opt-wifi-autosend'), true);
    await page.keyboard.press('Escape');

    const shown = await scanOnce(page);
    assert.deepEqual(shown, { format: 'EAN-13', text: EAN13_TEXT, confidence: 100 });
    // The receiver logs what the page showed.
    await suite.receiver.waitForLine(SCAN_LINE);
    const [line, ...more] = scanLines(suite.receiver);
    assert.deepEqual(more, [], 'one scan, one delivery');
    const [, format, text, confidence, outcome] = line.match(SCAN_LINE);
    assert.deepEqual({ format, text, confidence: Number(confidence) }, shown);
    assert.equal(outcome, 'Received');

    await waitForMetaEnd(page, ' · Sent via Wi-Fi');
    assert.match(await textOf(page, '#approved-meta'), /^5\/5 frames · 100% match · \d+ ms · Checksum OK · Sent via Wi-Fi$/);
    await waitForText(page, '#sr-announcer', 'Sent barcode to computer via Wi-Fi.');
    assert.equal(await page.isVisible('#error-banner'), false);
    await suite.screenshot(page, 'relay-overlay-sent.png');
  });

  it('a UPC-E reaches the receiver as its 8 printed digits, logged as UPC-E', T, async () => {
    const receiver = await startReceiver();
    try {
      await suite.withCamera('upce', async (context) => {
        const page = await openPairingUrl(receiver, { context });
        assert.deepEqual(await scanOnce(page), { format: 'UPC-E', text: UPCE_TEXT, confidence: 100 });
        await receiver.waitForLine(SCAN_LINE);
        const [line, ...more] = scanLines(receiver);
        assert.deepEqual(more, []);
        assert.deepEqual(line.match(SCAN_LINE).slice(1, 4), ['UPC-E', UPCE_TEXT, '100']);
        await waitForMetaEnd(page, ' · Checksum OK · Sent via Wi-Fi');
      });
    } finally {
      await receiver.stop();
    }
  });

  it('with the receiver stopped: banner, scan still shown and stored, auto-send still on', T, async () => {
    const receiver = await startReceiver({ env: { COMPUTERNAME: COMPUTER } });
    try {
      const page = await openPairingUrl(receiver);
      await waitForBadge(page, `Connected (${COMPUTER})`);
      await waitForText(page, '#engine-badge', 'ZXing-WASM'); // this receiver served the decoder too
      await receiver.stop();
      await scanOnce(page);
      await waitForText(page, '#error-banner', 'Wi-Fi auto-send failed: Failed to fetch');
      assert.equal(await page.isVisible('#error-banner'), true);
      assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
      assert.ok(!(await textOf(page, '#approved-meta')).includes('Sent via'));
      assert.equal((await storedHistory(page)).length, 1);
      assert.equal(await textOf(page, '#history-count'), '1');
      assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi Auto');
      await page.click('#btn-share-result');
      assert.equal(await page.isChecked('#opt-wifi-autosend'), true);
    } finally {
      await receiver.stop();
    }
  });

  it('a "pc" that cannot be reached still pairs: "Wi-Fi Auto" stays, the badge says "Unreachable"', T, async () => {
    const receiver = await startReceiver();
    const unreachable = `https://127.0.0.1:${receiver.port}/api/scan`;
    await receiver.stop();
    const page = await suite.open({ path: `/?pc=${encodeURIComponent(unreachable)}` });
    await waitForBadge(page, 'Unreachable');
    assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi Auto');
    assert.equal(await page.getAttribute('#relay-dot', 'data-connected'), 'true');
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_wifi_url_v1')), unreachable);
    assert.equal(await page.isVisible('#error-banner'), false, 'a failed start-up test is no error of the user\'s');
  });

  it('without "pc" nothing is sent until auto-send is switched on', T, async () => {
    const page = await suite.open();
    await waitForText(page, '#relay-label', 'Connect PC');
    assert.equal(await page.getAttribute('#relay-dot', 'data-connected'), null);
    const before = scanLines(suite.receiver).length;
    await scanOnce(page);
    await waitForText(page, '#sr-announcer', `Scanned EAN-13 barcode ${EAN13_TEXT} with 100 percent confidence.`);

    await page.click('#btn-share-result');
    assert.equal(await page.isChecked('#opt-wifi-autosend'), false);
    await page.check('#opt-wifi-autosend');
    await waitForText(page, '#relay-label', 'Wi-Fi Auto');
    await page.keyboard.press('Escape');
    await page.click('#approved-overlay', { position: { x: 8, y: 8 } });
    await waitForLock(page);
    await waitForMetaEnd(page, ' · Sent via Wi-Fi');
    assert.equal(scanLines(suite.receiver).length, before + 1, 'only the scan after switching on was sent');
  });

  it('repaints only the overlay of the scan that is still shown', T, async () => {
    let scans;
    const page = await openPairingUrl(suite.receiver, {
      beforeLoad: async (p) => { scans = await holdRequests(p, '**/api/scan'); },
    });
    await waitForBadge(page, `Connected (${COMPUTER})`);
    await scanOnce(page);
    await scans.held(1);
    // Dismissed while its send is still under way: the next scan takes the overlay.
    await page.click('#approved-overlay', { position: { x: 8, y: 8 } });
    await page.waitForSelector('#approved-overlay', { state: 'hidden' });
    await waitForLock(page);
    await scans.held(2);
    scans.release(0);
    await waitForText(page, '#sr-announcer', 'Sent barcode to computer via Wi-Fi.');
    assert.ok(!(await textOf(page, '#approved-meta')).includes('Sent via'), 'the first send does not paint the second scan');
    scans.release(1);
    await waitForMetaEnd(page, ' · Sent via Wi-Fi');
    assert.equal((await storedHistory(page)).length, 2);
  });
});

describe('the Linux receiver on an X display', () => {
  it('types the code the camera scanned into the focused window, with Enter', T, async () => {
    const display = await startDisplayWithSink();
    const receiver = await startReceiver({ env: { COMPUTERNAME: COMPUTER, DISPLAY: display.name } });
    try {
      const page = await openPairingUrl(receiver);
      await waitForBadge(page, `Connected (${COMPUTER})`);
      assert.deepEqual(await scanOnce(page), { format: 'EAN-13', text: EAN13_TEXT, confidence: 100 });
      await receiver.waitForLine(/\(100% - Copied & Typed\+Enter\)$/);
      await display.waitForTyped(`${EAN13_TEXT}\n`);
    } finally {
      await receiver.stop();
      await display.stop();
    }
  });
});

describe('Bluetooth beside Wi-Fi', () => {
  const withBluetooth = async (page) => page.addInitScript(BLUETOOTH_STAND_IN);

  async function pairBluetooth(page) {
    await page.click('#btn-open-connect');
    await page.click('#btn-bt-pair');
    await waitForText(page, '#share-status', 'Paired with QM Wedge.');
  }

  it('sends over both channels, and a link drop falls back to Wi-Fi alone', T, async () => {
    const page = await openPairingUrl(suite.receiver, { beforeLoad: withBluetooth });
    await waitForBadge(page, `Connected (${COMPUTER})`);
    await pairBluetooth(page);
    await waitForText(page, '#relay-label', 'Wi-Fi + BT');
    await page.check('#opt-bt-autosend');
    await page.click('button[aria-label="Close share dialog"]');
    const before = scanLines(suite.receiver).length;

    await scanOnce(page);
    await waitForMetaEnd(page, ' · Sent via Wi-Fi+Bluetooth');
    await waitForText(page, '#sr-announcer', 'Sent barcode to computer via Wi-Fi and Bluetooth.');
    const written = await page.evaluate(() => window.__bt.writes);
    assert.deepEqual(written, [[...Buffer.from(`${EAN13_TEXT}\r\n`)]]);
    await suite.receiver.waitForLine(new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Received\\)$`));
    assert.equal(scanLines(suite.receiver).length, before + 1);

    await page.evaluate(() => window.__bt.drop());
    await waitForText(page, '#relay-label', 'Wi-Fi Auto');
    await page.click('#btn-share-result');
    assert.equal(await textOf(page, '#bt-badge'), 'Disconnected');
    assert.equal(await page.isVisible('#btn-bt-pair'), true);
    assert.equal(await page.isDisabled('#btn-bt-send'), true);
  });

  it('a failure on each channel leaves both messages in the banner and the scan stored', T, async () => {
    const receiver = await startReceiver();
    try {
      const page = await openPairingUrl(receiver, { beforeLoad: withBluetooth });
      await waitForText(page, '#relay-label', 'Wi-Fi Auto');
      await pairBluetooth(page);
      await page.check('#opt-bt-autosend');
      await page.keyboard.press('Escape');
      await receiver.stop();
      await page.evaluate(() => { window.__bt.failWrites = 'GATT operation failed for unknown reason.'; });
      await scanOnce(page);
      await waitForText(page, '#error-banner',
        'Wi-Fi auto-send failed: Failed to fetch\nBluetooth auto-send failed: GATT operation failed for unknown reason.');
      assert.equal((await storedHistory(page)).length, 1);
      assert.ok(!(await textOf(page, '#approved-meta')).includes('Sent via'));
      assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi + BT', 'both channels stay on');
    } finally {
      await receiver.stop();
    }
  });
});
