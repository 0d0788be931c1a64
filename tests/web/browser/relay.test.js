// Pairing from the receiver's QR code and the automatic relay of every accepted scan, from
// Chromium's fake camera to the real receiver's log: one scan's whole road, its failures, the
// waiting list that keeps scans while the receiver is away, and Bluetooth beside Wi-Fi. The
// network has no internet: the receiver serves the decoder too.
import { describe, it } from 'node:test';
import { connect as tlsConnect } from 'node:tls';
import assert from 'node:assert/strict';
import { useBrowserSuite, waitForLock, waitForText, textOf } from '../helpers/suite.js';
import { BLUETOOTH_STAND_IN, openScanner, storedHistory, reportDecoderReady } from '../helpers/browser.js';
import { startCuttingProxy, startReceiver } from '../helpers/receiver.js';
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
  // Many tests stop the receiver later: by then the page must hold the decoder it served.
  await waitForText(page, '#engine-badge', 'ZXing-WASM', 30000);
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

const waitForMetaEnd = (page, ending, timeout = 15000) =>
  page.waitForFunction((end) => document.getElementById('approved-meta').textContent.endsWith(end), ending, { timeout });

// Taps the overlay away and locks the next scan.
async function nextScan(page) {
  const count = Number(await textOf(page, '#history-count'));
  await page.click('#approved-overlay', { position: { x: 8, y: 8 } });
  await waitForText(page, '#history-count', String(count + 1), 30000);
}

// Keeps every text written to the screen-reader region in window.__announced.
const RECORD_ANNOUNCEMENTS = () => {
  window.__announced = [];
  document.addEventListener('DOMContentLoaded', () => {
    const region = document.getElementById('sr-announcer');
    new MutationObserver(() => {
      if (region.textContent) window.__announced.push(region.textContent);
    }).observe(region, { childList: true, characterData: true, subtree: true });
  });
};

const historyMeta = (page) => page.$$eval('.history-meta', (nodes) => nodes.map((node) => node.textContent));

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
    // The second scan's send waits behind the first: scans reach the computer in scan order.
    assert.equal(scans.requests.length, 1);
    scans.release(0);
    await waitForText(page, '#sr-announcer', 'Sent barcode to computer via Wi-Fi.');
    assert.ok(!(await textOf(page, '#approved-meta')).includes('Sent via'), 'the first send does not paint the second scan');
    await scans.held(2);
    scans.release(1);
    await waitForMetaEnd(page, ' · Sent via Wi-Fi');
    const stored = await storedHistory(page);
    assert.deepEqual(scans.requests.map((request) => request.postDataJSON().id), [stored[1].id, stored[0].id]);
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

describe('with a pairing key (--pairing-key)', () => {
  it('pairs through the keyed URL, tests and scans; a scan without the key shows the refusal', T, async () => {
    const receiver = await startReceiver({ env: { COMPUTERNAME: COMPUTER }, options: ['--pairing-key'] });
    try {
      const url = await receiver.pairingUrl();
      const key = url.match(/%3Fkey%3D([\w-]{22})$/)?.[1];
      assert.ok(key, `no key in ${url}`);
      const endpoint = `https://127.0.0.1:${receiver.port}/api/scan`;
      const { origin } = new URL(url);
      const page = await openScanner(suite.context, origin, { path: url.slice(origin.length) });
      suite.pages.push(page);
      await waitForBadge(page, `Connected (${COMPUTER})`);
      assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_wifi_url_v1')), `${endpoint}?key=${key}`);

      await page.click('#btn-open-connect');
      assert.equal(await page.inputValue('#wifi-url-input'), `${endpoint}?key=${key}`);
      await page.click('#btn-wifi-test');
      await waitForText(page, '#share-status', `Wi-Fi receiver is reachable on ${COMPUTER}.`);
      await page.keyboard.press('Escape');

      await scanOnce(page);
      await waitForMetaEnd(page, ' · Sent via Wi-Fi');
      await receiver.waitForLine(new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Received\\)$`));

      // The same receiver without the key: refused, and the phone says why.
      await page.click('#btn-share-result');
      await page.fill('#wifi-url-input', endpoint);
      await page.keyboard.press('Escape');
      await page.click('#approved-overlay', { position: { x: 8, y: 8 } });
      await waitForLock(page);
      await waitForText(page, '#error-banner',
        'Wi-Fi auto-send failed: Pairing key required: scan the QR code shown by the receiver again');
      await receiver.waitForLine(/^Refused a scan from 127\.0\.0\.1: wrong pairing key$/);
      assert.equal(scanLines(receiver).length, 1, 'the refused scan was not delivered');
      assert.equal((await storedHistory(page)).length, 2, 'the phone still keeps the scan');
      await suite.screenshot(page, 'relay-pairing-key-refused.png');
    } finally {
      await receiver.stop();
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

describe('the waiting list', () => {
  const RESTART_HINT = 'The receiver may have restarted: scan its QR code again to reconnect. Waiting scans are kept and sent then.';
  const RECEIVED = new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Received\\)$`);

  it('keeps scans while the receiver is away and sends each once, in order, when it is back', { timeout: 150000 }, async (t) => {
    let receiver = await startReceiver({ env: { COMPUTERNAME: COMPUTER } });
    try {
      const page = await openPairingUrl(receiver, { beforeLoad: (p) => p.addInitScript(RECORD_ANNOUNCEMENTS) });
      await waitForBadge(page, `Connected (${COMPUTER})`);
      const delivered = [];
      page.on('response', (response) => {
        if (response.url().endsWith('/api/scan') && response.ok()) delivered.push(response.request().postDataJSON().id);
      });
      await receiver.stop();
      await scanOnce(page);
      await waitForText(page, '#error-banner', 'Wi-Fi auto-send failed: Failed to fetch');
      await waitForMetaEnd(page, ' · Checksum OK · Waiting to send');
      await nextScan(page);
      await nextScan(page);
      await waitForText(page, '#relay-waiting', '3 waiting');
      assert.equal(await page.isVisible('#relay-waiting'), true);
      await waitForMetaEnd(page, ' · Waiting to send');
      // A few failed retries later the banner names the likely cause and the cure.
      await waitForText(page, '#error-banner', `Wi-Fi auto-send failed: Failed to fetch\n${RESTART_HINT}`, 30000);
      await suite.screenshot(page, 'relay-waiting-banner.png');
      await page.click('#btn-share-result');
      assert.equal(await textOf(page, '#outbox-count'), '3 scans waiting to send');
      assert.equal(await page.isVisible('#btn-outbox-send'), true);
      await suite.screenshot(page, 'relay-waiting-dialog.png');
      await page.keyboard.press('Escape');
      assert.deepEqual(delivered, []);

      // Back on the same port with a new certificate, which this browser accepts like the first.
      const back = Date.now();
      receiver = await startReceiver({ port: receiver.port, env: { COMPUTERNAME: COMPUTER } });
      await receiver.waitForLines(RECEIVED, 3, 60000);
      t.diagnostic(`receiver back to the last waiting scan delivered: ${Date.now() - back} ms`);
      await page.waitForSelector('#relay-waiting', { state: 'hidden' });
      const stored = await storedHistory(page);
      assert.deepEqual(delivered, stored.map((item) => item.id).reverse(), 'delivered once each, in scan order');
      assert.deepEqual(scanLines(receiver).map((line) => RECEIVED.test(line)), [true, true, true]);
      assert.deepEqual(stored.map((item) => item.sentVia), [['Wi-Fi'], ['Wi-Fi'], ['Wi-Fi']]);
      await waitForMetaEnd(page, ' · Checksum OK · Sent via Wi-Fi');
      assert.equal(await page.isVisible('#error-banner'), false, 'an empty list clears the banner');
      const announced = await page.evaluate(() => window.__announced.filter((text) => text.startsWith('Sent')));
      assert.deepEqual(announced, Array(3).fill(`Sent waiting barcode ${EAN13_TEXT} to computer via Wi-Fi.`));
    } finally {
      await receiver.stop();
    }
  });

  it('survives a reload and is sent from there; Discard empties it once confirmed', { timeout: 150000 }, async () => {
    let receiver = await startReceiver();
    try {
      const page = await openPairingUrl(receiver);
      await waitForText(page, '#relay-label', 'Wi-Fi Auto');
      await receiver.stop();
      await scanOnce(page);
      await nextScan(page);
      await waitForText(page, '#relay-waiting', '2 waiting');
      const ids = (await storedHistory(page)).map((item) => item.id).reverse();
      const waiting = await page.evaluate(() => JSON.parse(localStorage.getItem('quillmark_outbox_v1')));
      assert.deepEqual(waiting.map((record) => record.id), ids);

      // Scans cannot get through yet, but the page itself loads again from the receiver.
      let blocked = true;
      const attempts = [];
      await page.route('**/api/scan', (route) => {
        attempts.push(route.request().postDataJSON().id);
        return blocked ? route.abort('connectionrefused') : route.continue();
      });
      receiver = await startReceiver({ port: receiver.port });
      await page.reload();
      await waitForText(page, '#relay-waiting', '2 waiting');
      await suite.screenshot(page, 'relay-waiting-header.png');
      const metas = await historyMeta(page);
      assert.equal(metas.length, 2);
      for (const meta of metas) assert.match(meta, / · Waiting to send$/);
      await page.click('#btn-open-connect');
      assert.equal(await textOf(page, '#outbox-count'), '2 scans waiting to send');
      const tried = attempts.length;
      await page.click('#btn-outbox-send');
      await page.waitForFunction(() => document.getElementById('share-status').textContent.startsWith('Still waiting: Failed to fetch'));
      assert.ok(attempts.length > tried, '"Send now" tries at once');
      assert.equal(await page.getAttribute('#share-status', 'data-tone'), 'error');
      await page.keyboard.press('Escape');
      blocked = false;
      await receiver.waitForLines(SCAN_LINE, 2, 60000);
      await page.waitForSelector('#relay-waiting', { state: 'hidden' });
      for (const meta of await historyMeta(page)) assert.match(meta, / · Sent via Wi-Fi$/);
      assert.deepEqual(attempts.filter((id, i) => i === 0 || attempts[i - 1] !== id), ids, 'in scan order');
      await page.unroute('**/api/scan');

      await receiver.stop();
      await page.click('#viewfinder');
      await waitForLock(page);
      await waitForText(page, '#relay-waiting', '1 waiting');
      await page.click('#btn-share-result');
      page.once('dialog', (dialog) => dialog.dismiss());
      await page.click('#btn-outbox-discard');
      assert.equal(await textOf(page, '#outbox-count'), '1 scan waiting to send', 'kept when the user says no');
      const asked = new Promise((resolve) => {
        page.once('dialog', (dialog) => {
          resolve(dialog.message());
          dialog.accept();
        });
      });
      await page.click('#btn-outbox-discard');
      assert.equal(await asked, 'Discard 1 waiting scan? They will not be sent to the computer.');
      await waitForText(page, '#share-status', 'Discarded 1 waiting scan.');
      assert.equal(await page.isVisible('#outbox-row'), false);
      assert.equal(await page.isVisible('#relay-waiting'), false);
      assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_outbox_v1')), '[]');
    } finally {
      await receiver.stop();
    }
  });

  it('a reply lost after delivery: the phone sends again and the code is typed once', T, async () => {
    const proxy = await startCuttingProxy(suite.receiver);
    try {
      const endpoint = `${proxy.origin}/api/scan`;
      const page = await openScanner(suite.context, proxy.origin, { path: `/?pc=${encodeURIComponent(endpoint)}` });
      suite.pages.push(page);
      await waitForBadge(page, `Connected (${COMPUTER})`);
      const before = suite.receiver.lines.length;
      await scanOnce(page);
      await suite.receiver.waitForLine(new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Already received\\)$`), 20000);
      await waitForMetaEnd(page, ' · Checksum OK · Sent via Wi-Fi');
      const outcomes = suite.receiver.lines.slice(before).filter((line) => SCAN_LINE.test(line)).map((line) => line.match(SCAN_LINE)[4]);
      assert.deepEqual(outcomes, ['Received', 'Already received'], 'typed once, recognised once');
      assert.equal(proxy.cut(), 1);
      assert.equal(await page.isVisible('#relay-waiting'), false);
      assert.equal(await page.isVisible('#error-banner'), false);
      assert.deepEqual((await storedHistory(page))[0].sentVia, ['Wi-Fi']);
    } finally {
      await proxy.close();
    }
  });
});

describe('kept connections', () => {
  const RECEIVED = new RegExp(`\\[EAN-13\\] ${EAN13_TEXT} \\(100% - Received\\)$`);

  // The connection of every scan POST as Chromium's network stack names it.
  async function recordScanConnections(page) {
    const connections = [];
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Network.enable');
    cdp.on('Network.responseReceived', ({ response }) => {
      if (response.url.endsWith('/api/scan')) connections.push(response.connectionId);
    });
    // Chromium reports a response after the page has shown its outcome: wait for the count.
    connections.reach = (count) => new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`${connections.length} of ${count} scan responses seen`)), 15000);
      const check = () => {
        if (connections.length < count) return;
        clearTimeout(timer);
        cdp.off('Network.responseReceived', check);
        resolve();
      };
      cdp.on('Network.responseReceived', check);
      check();
    });
    return connections;
  }

  // `count` TLS connections from the phone's own address that finish their handshake and send
  // nothing: once all are through, they hold every unread place of that address.
  async function holdUnreadPlaces(port, count) {
    const sockets = await Promise.all(Array.from({ length: count }, () => new Promise((resolve, reject) => {
      const socket = tlsConnect({ host: '127.0.0.1', port, localAddress: '127.0.0.1', rejectUnauthorized: false }, () => resolve(socket));
      socket.once('error', reject);
    })));
    return () => Promise.all(sockets.map((socket) => new Promise((resolve) => {
      socket.once('close', resolve);
      socket.destroy();
    })));
  }

  it('three scans go over one connection, and a scan after the receiver closed it is delivered once', T, async () => {
    const receiver = await startReceiver();
    try {
      const page = await openPairingUrl(receiver);
      await waitForText(page, '#relay-label', 'Wi-Fi Auto');
      const connections = await recordScanConnections(page);
      await scanOnce(page);
      await nextScan(page);
      await nextScan(page);
      await receiver.waitForLines(RECEIVED, 3, 30000);
      await connections.reach(3);
      assert.equal(new Set(connections).size, 1, `one connection for three scans: ${connections}`);

      // The receiver closes the phone's idle connection for newer ones from the same address.
      const release = await holdUnreadPlaces(receiver.port, 16); // the receiver's cap per address
      await release();
      await nextScan(page);
      await receiver.waitForLines(RECEIVED, 4, 30000);
      await waitForMetaEnd(page, ' · Checksum OK · Sent via Wi-Fi');
      await connections.reach(4);
      assert.equal(connections.length, 4, 'one response per scan');
      assert.notEqual(connections[3], connections[0], 'on a new connection');
      assert.deepEqual(scanLines(receiver).map((line) => RECEIVED.test(line)), [true, true, true, true], 'each scan received once, none again');
      assert.equal(await page.isVisible('#relay-waiting'), false, 'nothing left waiting');
      assert.equal(await page.isVisible('#error-banner'), false);
    } finally {
      await receiver.stop();
    }
  });
});
