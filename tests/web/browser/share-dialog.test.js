// The "Share to Computer" dialog as a phone user meets it, against the real receiver: Wi-Fi test
// and send, the preview, ways to close it, Bluetooth and the system share sheet through
// stand-ins (this Chromium has neither).
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:net';
import { useBrowserSuite, waitForLock, waitForText, textOf } from '../helpers/suite.js';
import { BLUETOOTH_STAND_IN, SHARE_STAND_IN } from '../helpers/browser.js';
import { EAN13_TEXT } from '../helpers/clips.js';

const COMPUTER = 'QUILLMARK-PC';
const suite = useBrowserSuite({ receiverEnv: { COMPUTERNAME: COMPUTER } });
const T = { timeout: 60000 };
const NUS_SERVICE = '6e400001-b5a3-f393-e0a9-e50e24dcca9e';
const NUS_RX = '6e400002-b5a3-f393-e0a9-e50e24dcca9e';

const item = (fields = {}) => ({
  id: 'scan-1773478853589-k7a2c',
  timestamp: '2026-03-14T09:00:53.589Z',
  format: 'CODE-128', text: 'ITEM-7', confidence: 99, confirmations: 5, requiredConfirmations: 5,
  agreementRatio: 1, elapsedMs: 300, checksumVerified: false, engines: ['zxing-wasm'], ...fields,
});

// A loopback TCP server: `silent` accepts and never answers; otherwise the port is closed again
// at once, so nothing listens on it.
async function loopbackPort({ silent = false } = {}) {
  const sockets = new Set();
  const server = createServer((socket) => sockets.add(socket));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  const close = () => new Promise((resolve) => {
    for (const socket of sockets) socket.destroy();
    server.close(() => resolve());
  });
  if (!silent) await close();
  return { port, close };
}

async function openDialog(page, via = '#btn-open-connect') {
  await page.click(via);
  await page.waitForSelector('#share-dialog[open]');
}

const dialogOpen = (page) => page.evaluate(() => document.getElementById('share-dialog').open);

async function expectStatus(page, text, tone) {
  await waitForText(page, '#share-status', text);
  assert.equal(await page.isVisible('#share-status'), true);
  assert.equal(await page.getAttribute('#share-status', 'data-tone'), tone);
}

async function expectNoStatus(page) {
  assert.equal(await page.isVisible('#share-status'), false);
  assert.equal(await textOf(page, '#share-status'), '');
}

const scanLineFor = (format, text) => new RegExp(`^\\[\\d\\d:\\d\\d:\\d\\d\\] \\[${format}\\] ${text} \\((\\d+)% - (.+)\\)$`);

describe('Wi-Fi panel', () => {
  it('Test Wi-Fi names the reachable computer; a later failure takes "Wi-Fi Ready" back', T, async () => {
    const page = await suite.open({ history: [item()] });
    await waitForText(page, '#relay-label', 'Connect PC');
    await openDialog(page);
    assert.equal(await page.inputValue('#wifi-url-input'), `${suite.origin}/api/scan`, 'the page\'s own receiver is the default');
    assert.equal(await textOf(page, '#wifi-badge'), 'Not tested');
    await page.click('#btn-wifi-test');
    await expectStatus(page, `Wi-Fi receiver is reachable on ${COMPUTER}.`, 'ok');
    assert.equal(await textOf(page, '#wifi-badge'), `Connected (${COMPUTER})`);
    assert.equal(await page.getAttribute('#wifi-badge', 'class'), 'pill pill-success');
    assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi Ready');
    assert.equal(await page.getAttribute('#relay-dot', 'data-connected'), 'true');
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_wifi_url_v1')), `${suite.origin}/api/scan`);
    await suite.screenshot(page, 'relay-dialog-wifi.png');

    const closed = await loopbackPort();
    await page.fill('#wifi-url-input', `https://127.0.0.1:${closed.port}`);
    await page.click('#btn-wifi-test');
    await expectStatus(page,
      `Could not reach 127.0.0.1:${closed.port}. Check the IP/port and make sure both devices share the same Wi-Fi.`, 'error');
    assert.equal(await textOf(page, '#wifi-badge'), 'Unreachable');
    assert.equal(await page.getAttribute('#wifi-badge', 'class'), 'pill pill-muted');
    assert.equal(await textOf(page, '#relay-label'), 'Connect PC');
    assert.equal(await page.getAttribute('#relay-dot', 'data-connected'), null);
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmark_wifi_url_v1')), `https://127.0.0.1:${closed.port}`);
  });

  it('Test Wi-Fi reports a wrong path and a receiver that never answers', T, async () => {
    const page = await suite.open();
    await openDialog(page);
    await page.fill('#wifi-url-input', `${suite.origin}/hook`);
    await page.click('#btn-wifi-test');
    await expectStatus(page, 'Server responded with HTTP 404', 'error');

    const silent = await loopbackPort({ silent: true });
    try {
      await page.fill('#wifi-url-input', `https://127.0.0.1:${silent.port}/api/scan`);
      await page.click('#btn-wifi-test');
      await expectNoStatus(page);
      assert.equal(await page.isDisabled('#btn-wifi-test'), true, 'no second test while one runs');
      await expectStatus(page,
        'Connection timed out. Make sure both devices are on the same Wi-Fi and server.mjs is running.', 'error');
      assert.equal(await page.isDisabled('#btn-wifi-test'), false);
      assert.equal(await textOf(page, '#wifi-badge'), 'Unreachable');
    } finally {
      await silent.close();
    }
  });

  it('Send via Wi-Fi sends the stored scan after a reload, with its own time and the press-Enter choice', T, async () => {
    const stored = item();
    const page = await suite.open({ history: [stored] });
    await page.reload();
    await openDialog(page, '#btn-share-dock');
    assert.equal(await page.isVisible('#share-preview'), true);
    assert.equal(await textOf(page, '#share-preview-code'), 'ITEM-7 (CODE-128)');

    const sent = page.waitForRequest((request) => request.url().endsWith('/api/scan'));
    await page.click('#btn-wifi-send');
    assert.deepEqual((await sent).postDataJSON(), {
      text: 'ITEM-7', format: 'CODE-128', confidence: 99, confirmations: 5, pressEnter: true, timestamp: stored.timestamp, id: stored.id,
    });
    await expectStatus(page, 'Sent ITEM-7 over Wi-Fi.', 'ok');
    const line = await suite.receiver.waitForLine(scanLineFor('CODE-128', 'ITEM-7'))
      .then(() => suite.receiver.lines.findLast((l) => scanLineFor('CODE-128', 'ITEM-7').test(l)));
    assert.equal(line.match(scanLineFor('CODE-128', 'ITEM-7'))[1], '99');
    assert.equal(await textOf(page, '#wifi-badge'), 'Connected');
    assert.equal(await page.getAttribute('#wifi-badge', 'class'), 'pill pill-success');
    assert.equal(await textOf(page, '#relay-label'), 'Wi-Fi Ready');
    assert.equal(await page.isDisabled('#btn-wifi-send'), false);

    // Press Enter off: the record says so and the receiver logs an outcome without Enter.
    await page.keyboard.press('Escape');
    await page.click('#settings-details summary');
    await page.uncheck('#opt-press-enter');
    const storedText = 'ITEM-8';
    await page.evaluate((entry) => localStorage.setItem('quillmark_history_v1', JSON.stringify([entry])), item({ text: storedText }));
    await page.reload();
    await openDialog(page);
    const second = page.waitForRequest((request) => request.url().endsWith('/api/scan'));
    await page.click('#btn-wifi-send');
    assert.equal((await second).postDataJSON().pressEnter, false);
    await expectStatus(page, `Sent ${storedText} over Wi-Fi.`, 'ok');
    await suite.receiver.waitForLine(scanLineFor('CODE-128', storedText));
    const outcome = suite.receiver.lines.findLast((l) => scanLineFor('CODE-128', storedText).test(l)).match(scanLineFor('CODE-128', storedText))[2];
    assert.doesNotMatch(outcome, /Enter/);
  });

  it('Send via Wi-Fi shows why a send failed', T, async () => {
    const page = await suite.open({ history: [item({ text: '   ' })] });
    await openDialog(page);
    await page.click('#btn-wifi-send');
    await expectStatus(page, 'Wi-Fi send failed: Missing barcode text', 'error');

    const closed = await loopbackPort();
    await page.fill('#wifi-url-input', `https://127.0.0.1:${closed.port}/api/scan`);
    await page.click('#btn-wifi-send');
    await expectStatus(page, 'Wi-Fi send failed: Failed to fetch', 'error');
    assert.equal(await textOf(page, '#wifi-badge'), 'Not tested', 'a failed send says nothing about reachability');
    assert.equal(await textOf(page, '#relay-label'), 'Connect PC');
  });

  it('with no scan yet: no preview, nothing to send, but Test Wi-Fi works', T, async () => {
    const page = await suite.open({ beforeLoad: (p) => p.addInitScript(SHARE_STAND_IN) });
    await openDialog(page);
    assert.equal(await page.isVisible('#share-preview'), false);
    assert.equal(await page.isDisabled('#btn-wifi-send'), true);
    assert.equal(await page.isVisible('#system-share-panel'), true);
    assert.equal(await page.isDisabled('#btn-system-share'), true);
    assert.equal(await page.isDisabled('#btn-wifi-test'), false);
    await page.click('#btn-wifi-test');
    await expectStatus(page, `Wi-Fi receiver is reachable on ${COMPUTER}.`, 'ok');

    // A scan that lands while the dialog is open is what the dialog then offers.
    await page.setInputFiles('#photo-input', suite.clips.photo('ean13'));
    await waitForText(page, '#share-preview-code', `${EAN13_TEXT} (EAN-13)`);
    assert.equal(await page.isVisible('#share-preview'), true);
    assert.equal(await page.isDisabled('#btn-wifi-send'), false);
    assert.equal(await page.isDisabled('#btn-system-share'), false);
  });

  it('each opening starts with an empty status and the saved address', T, async () => {
    const page = await suite.open({ storage: { quillmark_wifi_url_v1: 'https://127.0.0.1:9/api/scan' } });
    await openDialog(page);
    assert.equal(await page.inputValue('#wifi-url-input'), 'https://127.0.0.1:9/api/scan');
    await page.click('#btn-wifi-test');
    await expectStatus(page, 'Could not reach 127.0.0.1:9. Check the IP/port and make sure both devices share the same Wi-Fi.', 'error');
    await page.fill('#wifi-url-input', `${suite.origin}/api/scan`);
    await page.dispatchEvent('#wifi-url-input', 'change');
    await page.keyboard.press('Escape');
    await openDialog(page);
    await expectNoStatus(page);
    assert.equal(await page.inputValue('#wifi-url-input'), `${suite.origin}/api/scan`);
  });
});

describe('closing the dialog', () => {
  async function outsidePoint(page) {
    const box = await page.locator('#share-dialog').boundingBox();
    return { x: box.x + box.width / 2, y: Math.max(2, box.y - 8) };
  }

  it('closes by Escape, the close button and a tap outside, not by a tap inside', T, async () => {
    const page = await suite.open();
    await openDialog(page);
    await page.keyboard.press('Escape');
    assert.equal(await dialogOpen(page), false, 'Escape');

    await openDialog(page);
    await page.click('button[aria-label="Close share dialog"]');
    assert.equal(await dialogOpen(page), false, 'close button');
    assert.equal(await page.evaluate(() => document.getElementById('share-dialog').returnValue), '');

    await openDialog(page, '#btn-share-dock');
    await page.click('#wifi-panel-title');
    assert.equal(await dialogOpen(page), true, 'a tap inside keeps it open');
    const { x, y } = await outsidePoint(page);
    await page.mouse.click(x, y);
    await page.waitForFunction(() => !document.getElementById('share-dialog').open);
  });

  it('closes by a tap outside where the browser has no light dismiss of its own', T, async () => {
    const page = await suite.open({
      beforeLoad: (p) => p.addInitScript(() => { delete HTMLDialogElement.prototype.closedBy; }),
    });
    // Without the attribute the browser's own light dismiss is off: only the page can close it.
    await page.evaluate(() => document.getElementById('share-dialog').removeAttribute('closedby'));
    await openDialog(page);
    await page.click('#bt-panel-title');
    assert.equal(await dialogOpen(page), true, 'a tap inside keeps it open');

    // A drag that starts inside and ends outside (selecting text) keeps it open too.
    const title = await page.locator('#wifi-panel-title').boundingBox();
    const { x, y } = await outsidePoint(page);
    await page.mouse.move(title.x + 5, title.y + 5);
    await page.mouse.down();
    await page.mouse.move(x, y);
    await page.mouse.up();
    assert.equal(await dialogOpen(page), true, 'a drag out of the dialog keeps it open');

    await page.mouse.click(x, y);
    await page.waitForFunction(() => !document.getElementById('share-dialog').open);
    await page.keyboard.press('Escape');
  });
});

describe('Bluetooth panel', () => {
  const withBluetooth = (setup = () => {}) => async (page) => {
    await page.addInitScript(BLUETOOTH_STAND_IN);
    await page.addInitScript(setup);
  };

  it('says so where the browser has no Web Bluetooth', T, async () => {
    const page = await suite.open({ history: [item()] });
    await openDialog(page);
    assert.equal(await textOf(page, '#bt-badge'), 'Unsupported');
    assert.equal(await page.getAttribute('#bt-badge', 'class'), 'pill pill-muted');
    assert.equal(await textOf(page, '#bt-note'),
      'Web Bluetooth is unavailable in this browser (e.g. Safari/Firefox). Use Wi-Fi to Computer or System Share instead.');
    assert.equal(await page.isDisabled('#btn-bt-pair'), true);
    assert.equal(await page.isDisabled('#btn-bt-send'), true);
    assert.equal(await page.isDisabled('#opt-bt-autosend'), true);
    assert.equal(await page.isVisible('#btn-bt-disconnect'), false);
    assert.equal(await page.isVisible('#system-share-panel'), false, 'no share sheet here either');
  });

  it('pairs, writes 20-byte chunks with and without CR LF, and disconnects', T, async () => {
    const text = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghi'; // 45 bytes
    const page = await suite.open({ history: [item({ text })], beforeLoad: withBluetooth() });
    await openDialog(page);
    assert.equal(await textOf(page, '#bt-badge'), 'Disconnected');
    assert.equal(await page.isDisabled('#btn-bt-send'), true);
    await page.click('#btn-bt-pair');
    await expectStatus(page, 'Paired with QM Wedge.', 'ok');
    assert.equal(await textOf(page, '#bt-badge'), 'QM Wedge');
    assert.equal(await page.getAttribute('#bt-badge', 'class'), 'pill pill-success');
    assert.equal(await page.isVisible('#btn-bt-pair'), false);
    assert.equal(await page.isVisible('#btn-bt-disconnect'), true);
    assert.equal(await page.isDisabled('#btn-bt-send'), false);
    assert.equal(await textOf(page, '#relay-label'), 'BT Ready');
    const bt = await page.evaluate(() => window.__bt);
    assert.deepEqual(bt.requests, [{ acceptAllDevices: true, optionalServices: [NUS_SERVICE] }]);
    assert.deepEqual(bt.uuids, [NUS_SERVICE, NUS_RX]);
    await suite.screenshot(page, 'relay-dialog-bluetooth.png');

    await page.click('#btn-bt-send');
    await expectStatus(page, `Sent ${text} over Bluetooth.`, 'ok');
    let writes = await page.evaluate(() => window.__bt.writes.splice(0));
    assert.deepEqual(writes.map((chunk) => chunk.length), [20, 20, 7]);
    assert.equal(Buffer.from(writes.flat()).toString(), `${text}\r\n`);

    await page.keyboard.press('Escape');
    await page.click('#settings-details summary');
    await page.uncheck('#opt-press-enter');
    await openDialog(page);
    await page.click('#btn-bt-send');
    await expectStatus(page, `Sent ${text} over Bluetooth.`, 'ok');
    writes = await page.evaluate(() => window.__bt.writes.splice(0));
    assert.deepEqual(writes.map((chunk) => chunk.length), [20, 20, 5]);
    assert.equal(Buffer.from(writes.flat()).toString(), text);

    await page.evaluate(() => { window.__bt.failWrites = 'GATT operation failed for unknown reason.'; });
    await page.click('#btn-bt-send');
    await expectStatus(page, 'Bluetooth send failed: GATT operation failed for unknown reason.', 'error');
    assert.equal(await page.isDisabled('#btn-bt-send'), false, 'still connected, so sending stays possible');

    await page.click('#btn-bt-disconnect');
    await expectStatus(page, 'Bluetooth disconnected.', 'ok');
    assert.equal(await textOf(page, '#bt-badge'), 'Disconnected');
    assert.equal(await page.isVisible('#btn-bt-pair'), true);
    assert.equal(await page.isDisabled('#btn-bt-send'), true);
    assert.equal(await textOf(page, '#relay-label'), 'Connect PC');
  });

  it('asks for the custom service and characteristic, and names a device without a name', T, async () => {
    const page = await suite.open({ beforeLoad: withBluetooth(() => { window.__bt.deviceName = ''; }) });
    await openDialog(page);
    await page.click('.uuid-details summary');
    await page.fill('#bt-service-uuid', '  0000FFE0-0000-1000-8000-00805F9B34FB ');
    await page.fill('#bt-char-uuid', '0000FFE1-0000-1000-8000-00805F9B34FB');
    await page.click('#btn-bt-pair');
    await expectStatus(page, 'Paired with Bluetooth Device.', 'ok');
    assert.equal(await textOf(page, '#bt-badge'), 'Bluetooth Device');
    assert.equal(await page.isDisabled('#btn-bt-send'), true, 'nothing scanned yet');
    const bt = await page.evaluate(() => window.__bt);
    assert.deepEqual(bt.requests[0].optionalServices, ['0000ffe0-0000-1000-8000-00805f9b34fb']);
    assert.deepEqual(bt.uuids, ['0000ffe0-0000-1000-8000-00805f9b34fb', '0000ffe1-0000-1000-8000-00805f9b34fb']);

    // The device drops the link by itself.
    await page.evaluate(() => window.__bt.drop());
    await waitForText(page, '#bt-badge', 'Disconnected');
    assert.equal(await textOf(page, '#relay-label'), 'Connect PC');
  });

  it('a dismissed chooser shows nothing; a device without the service says why', T, async () => {
    const page = await suite.open({ beforeLoad: withBluetooth(() => { window.__bt.dismiss = true; }) });
    await openDialog(page);
    await page.click('#btn-bt-pair');
    await page.waitForFunction(() => !document.getElementById('btn-bt-pair').disabled);
    await expectNoStatus(page);
    assert.equal(await textOf(page, '#bt-badge'), 'Disconnected');
    assert.equal(await page.evaluate(() => window.__bt.requests.length), 1);

    await page.evaluate(() => Object.assign(window.__bt, { dismiss: false, missingService: true }));
    await page.click('#btn-bt-pair');
    await expectStatus(page, `No Services matching UUID ${NUS_SERVICE} found in Device.`, 'error');
    assert.equal(await textOf(page, '#bt-badge'), 'Disconnected');
    assert.equal(await page.isDisabled('#btn-bt-pair'), false);
  });
});

describe('System Share panel', () => {
  it('shares the scan; a cancelled sheet shows nothing, another failure says why', T, async () => {
    const page = await suite.open({ history: [item()], beforeLoad: (p) => p.addInitScript(SHARE_STAND_IN) });
    await openDialog(page, '#btn-share-dock');
    await page.click('#btn-system-share');
    await expectStatus(page, 'Shared via system sheet.', 'ok');
    assert.deepEqual(await page.evaluate(() => window.__share.calls), [{ title: 'Barcode (CODE-128)', text: 'ITEM-7' }]);

    await page.evaluate(() => { window.__share.failure = 'AbortError'; });
    await page.click('#btn-system-share');
    await page.waitForFunction(() => window.__share.calls.length === 2);
    await page.waitForFunction(() => !document.getElementById('btn-system-share').disabled);
    await expectNoStatus(page);

    await page.evaluate(() => { window.__share.failure = 'NotAllowedError'; });
    await page.click('#btn-system-share');
    await expectStatus(page, 'NotAllowedError from the share sheet', 'error');
  });

  it('shares the scan just taken from the result overlay', T, async () => {
    const page = await suite.open({ beforeLoad: (p) => p.addInitScript(SHARE_STAND_IN) });
    await page.setInputFiles('#photo-input', suite.clips.photo('ean13'));
    await waitForLock(page);
    await openDialog(page, '#btn-share-result');
    assert.equal(await textOf(page, '#share-preview-code'), `${EAN13_TEXT} (EAN-13)`);
    await page.click('#btn-system-share');
    await expectStatus(page, 'Shared via system sheet.', 'ok');
    assert.deepEqual(await page.evaluate(() => window.__share.calls), [{ title: 'Barcode (EAN-13)', text: EAN13_TEXT }]);
    await page.keyboard.press('Escape');
    assert.equal(await page.isVisible('#approved-overlay'), true, 'sharing does not start a new scan');
  });
});
