// The pages as a phone user meets them, served by the real receiver: idle scanner, themes, About,
// the computer-side receiver page, history export, photo decoding, copy buttons, decoder sources.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { useBrowserSuite, waitForEngine, waitForLock, waitForText, textOf } from '../helpers/suite.js';
import { storedHistory, blockReceiverDecoder, reportDecoderReady, PHONE } from '../helpers/browser.js';
import { EAN13_TEXT } from '../helpers/clips.js';

const suite = useBrowserSuite();
const T = { timeout: 60000 };

const item = (n, fields = {}) => ({
  id: `scan-17000000000${String(n).padStart(2, '0')}-k${n}`,
  timestamp: new Date(Date.UTC(2026, 2, 14, 9, 0, n)).toISOString(),
  format: 'CODE-128', text: `ITEM-${n}`, confidence: 99, confirmations: 5, requiredConfirmations: 5,
  agreementRatio: 1, elapsedMs: 300, checksumVerified: false, engines: ['zxing-wasm'], ...fields,
});

async function uploadPhoto(page, path) {
  await page.setInputFiles('#photo-input', path);
}

describe('scanner page at rest', () => {
  it('shows the idle scanner, "Loading…" until the decoder answers, then its name', T, async () => {
    let release;
    const gate = new Promise((resolve) => { release = resolve; });
    const page = await suite.open({
      beforeLoad: (p) => p.route((url) => url.pathname.endsWith('/dist/es/reader/index.js'), async (route) => {
        await gate;
        await route.fallback();
      }),
    });
    await page.waitForSelector('#idle-overlay h2');
    assert.equal(await textOf(page, '#idle-overlay h2'), 'Tap to Scan');
    assert.equal(await textOf(page, '#engine-badge'), 'Loading…');
    await waitForText(page, '#settings-summary-text', 'Balanced (5f) · All 1D/2D');
    assert.equal(await page.title(), 'Quillmark — Barcode Scanner');
    assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'idle');
    assert.equal(await page.isVisible('#reticle-overlay'), false);
    release();
    await waitForText(page, '#engine-badge', 'ZXing-WASM');
    await suite.screenshot(page, 'web-scanner-idle-light.png');
  });

  it('serves the same page at /index.html and keeps the counts at zero', T, async () => {
    const page = await suite.open({ path: '/index.html' });
    await waitForEngine(page);
    assert.equal(await textOf(page, '#history-count'), '0');
    assert.equal(await page.isVisible('#btn-export-csv'), false);
    await page.click('#history-details summary');
    assert.equal(await page.isVisible('#history-empty'), true);
  });

  it('follows a dark preference, page and browser chrome alike', T, async () => {
    const page = await suite.open();
    await page.emulateMedia({ colorScheme: 'dark' });
    await waitForEngine(page);
    assert.equal(await page.evaluate(() => getComputedStyle(document.body).backgroundColor), 'rgb(11, 16, 24)');
    const darkChrome = await page.evaluate(() => [...document.querySelectorAll('meta[name="theme-color"]')]
      .find((meta) => matchMedia(meta.media).matches)?.content);
    assert.equal(darkChrome, '#0b1018');
    await suite.screenshot(page, 'web-scanner-idle-dark.png');
    await page.emulateMedia({ colorScheme: 'light' });
    assert.equal(await page.evaluate(() => getComputedStyle(document.body).backgroundColor), 'rgb(244, 246, 250)');
  });
});

describe('About and receiver pages', () => {
  it('About leads back to the scanner', T, async () => {
    const page = await suite.newPage();
    await page.goto(`${suite.origin}/about`);
    assert.equal(await page.title(), 'About — Quillmark');
    assert.equal(await textOf(page, 'h1'), 'About Quillmark');
    assert.equal(await textOf(page, '.powered-by'), 'Powered by Brackenfold');
    assert.equal(await page.getAttribute('#link-trust', 'href'), './trust.html');
    await suite.screenshot(page, 'web-about.png');
    await page.click('text=Back to Scanner');
    await page.waitForURL(`${suite.origin}/`);
    await page.waitForSelector('text=Tap to Scan');
  });

  it('receiver page shows the HTTPS endpoint from the ping reply and "Listening on Wi-Fi"', T, async () => {
    const page = await suite.newPage();
    await page.goto(`${suite.origin}/receiver.html`);
    const ping = await page.evaluate(async () => (await fetch('/api/ping')).json());
    await waitForText(page, '#endpoint-url', `https://${ping.lanAddresses[0]}:${suite.receiver.port}/api/scan`);
    await waitForText(page, '#rx-status', 'Listening on Wi-Fi');
    assert.equal(await page.getAttribute('#rx-status', 'class'), 'pill pill-success');
    assert.equal(await page.isVisible('#rx-latest-card'), false);
    assert.equal(await textOf(page, '#rx-empty'), 'Waiting for scans from your phone…');
    await suite.screenshot(page, 'web-receiver.png');
  });

  it('receiver page lists a scan the moment it is posted, at desktop and phone width', T, async () => {
    const page = await suite.newPage();
    await page.setViewportSize({ width: 1280, height: 800 });
    await page.goto(`${suite.origin}/receiver.html`);
    await waitForText(page, '#rx-status', 'Listening on Wi-Fi');
    const before = Number(await textOf(page, '#rx-count'));
    const text = `LIVE-${Date.now()} "quoted", =1`;
    // Posted as a phone would, from another page; the receiver page only listens.
    const phone = await suite.newPage();
    await phone.goto(`${suite.origin}/about.html`);
    const reply = await phone.evaluate(async (body) => (await fetch('/api/scan', {
      method: 'POST', headers: { 'content-type': 'application/json' }, body,
    })).status, JSON.stringify({ text, format: 'EAN-13', confidence: 98, id: `live-${Date.now()}` }));
    assert.equal(reply, 200);
    await waitForText(page, '#rx-code', text, 1000);
    assert.equal(await textOf(page, '#rx-count'), String(before + 1));
    assert.equal(await textOf(page, '#rx-list .history-code'), text, 'the new scan is at the top');
    assert.match(await textOf(page, '#rx-list .history-meta'), /^EAN-13 · 98% · \d\d:\d\d:\d\d$/);
    await suite.screenshot(page, 'web-receiver-live-desktop.png');
    await page.setViewportSize(PHONE);
    await suite.screenshot(page, 'web-receiver-live-phone.png');
  });
});

describe('receiver page with an event stream', () => {
  const records = [
    { id: 'rx-2', text: 'OLDER-2', format: 'CODE-128', confidence: 96, timestamp: '2026-03-14T09:00:02.000Z' },
    { id: 'rx-1', text: 'OLDER-1', format: 'EAN-8', confidence: 94, timestamp: '2026-03-14T09:00:01.000Z' },
  ];
  const latest = { id: 'rx-3', text: 'NEW "3"', format: 'QR-CODE', confidence: 99, timestamp: '2026-03-14T09:00:03.000Z' };

  it('lists the streamed scans, newest first, and exports them', T, async () => {
    const page = await suite.newPage();
    // This receiver has no event stream; a stand-in plays one so the page's list can be seen.
    // Its long retry keeps the browser from replaying it while the test looks.
    await page.route('**/api/events', (route) => route.fulfill({
      status: 200,
      headers: { 'content-type': 'text/event-stream' },
      body: `retry: 600000\n\nevent: init\ndata: ${JSON.stringify(records)}\n\nevent: scan\ndata: not json\n\nevent: scan\ndata: ${JSON.stringify(latest)}\n\n`,
    }));
    await page.goto(`${suite.origin}/receiver.html`);
    await waitForText(page, '#rx-count', '3');
    assert.equal(await textOf(page, '#rx-code'), 'NEW "3"');
    assert.equal(await textOf(page, '#rx-format'), 'QR-CODE');
    assert.equal(await textOf(page, '#rx-confidence'), '99% Verified');
    assert.deepEqual(await page.$$eval('#rx-list .history-code', (codes) => codes.map((c) => [c.id, c.textContent])),
      [['rx-3', 'NEW "3"'], ['rx-2', 'OLDER-2'], ['rx-1', 'OLDER-1']]);
    assert.match(await textOf(page, '#rx-list .history-meta'), /^QR-CODE · 99% · \d\d:\d\d:\d\d$/);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#btn-rx-csv')]);
    assert.match(download.suggestedFilename(), /^received-barcodes-\d{4}-\d\d-\d\d\.csv$/);
    assert.equal(readFileSync(await download.path(), 'utf8'), [
      '"Timestamp","Format","Code","Confidence"',
      '"2026-03-14T09:00:03.000Z","QR-CODE","NEW ""3""","99%"',
      '"2026-03-14T09:00:02.000Z","CODE-128","OLDER-2","96%"',
      '"2026-03-14T09:00:01.000Z","EAN-8","OLDER-1","94%"',
    ].join('\r\n'));
    await page.click('#btn-rx-clear');
    await waitForText(page, '#rx-count', '0');
    assert.equal(await page.isVisible('#rx-latest-card'), false);
    assert.equal(await page.isVisible('#rx-empty'), true);
  });
});

describe('camera refused', () => {
  for (const [message, banner] of [['Permission denied', 'Permission denied'], ['', 'Unable to start camera.']]) {
    it(`shows ${JSON.stringify(banner)} and returns to idle`, T, async () => {
      const page = await suite.open({
        beforeLoad: (p) => p.addInitScript((text) => {
          navigator.mediaDevices.getUserMedia = async () => { throw new DOMException(text, 'NotAllowedError'); };
        }, message),
      });
      await waitForEngine(page);
      await page.click('#viewfinder');
      await waitForText(page, '#error-banner', banner);
      assert.equal(await page.getAttribute('#btn-scan-toggle', 'data-scanning'), 'false');
      assert.equal(await page.isEnabled('#btn-scan-toggle'), true);
      assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'idle');
      assert.equal(await textOf(page, '#idle-overlay h2'), 'Tap to Scan');
    });
  }
});

describe('history export', () => {
  it('downloads the history as CSV with exact bytes', T, async () => {
    const history = [
      item(3, { text: 'SKU "42" A,B', agreementRatio: 0.839 }),
      item(2, { format: 'EAN-13', text: EAN13_TEXT, confidence: 94, confirmations: 1, agreementRatio: undefined }),
      item(1, { format: 'QR-CODE', text: 'line1\nline2', confidence: 90, confirmations: undefined }),
    ];
    const page = await suite.open({ history });
    await page.click('#history-details summary');
    assert.equal(await textOf(page, '#history-count'), '3');
    const dayBefore = new Date().toISOString().slice(0, 10);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#btn-export-csv')]);
    const dayAfter = new Date().toISOString().slice(0, 10);
    assert.ok([`barcodes-${dayBefore}.csv`, `barcodes-${dayAfter}.csv`].includes(download.suggestedFilename()));
    const bytes = readFileSync(await download.path());
    assert.equal(bytes.toString('utf8'), [
      '"Timestamp","Format","Code","Confidence","Confirmations","Agreement"',
      '"2026-03-14T09:00:03.000Z","CODE-128","SKU ""42"" A,B","99%","5","84%"',
      '"2026-03-14T09:00:02.000Z","EAN-13","4006381333931","94%","1","100%"',
      '"2026-03-14T09:00:01.000Z","QR-CODE","line1\nline2","90%","","100%"',
    ].join('\r\n'));
    assert.notEqual(bytes[0], 0xef, 'no byte-order mark');
  });

  it('tolerates broken stored history and clears it', T, async () => {
    const page = await suite.open({ storage: { quillmark_history_v1: '{not json' } });
    assert.equal(await textOf(page, '#history-count'), '0');
    await page.close();
    const seeded = await suite.open({ history: [item(1), item(2)] });
    await seeded.click('#history-details summary');
    await seeded.click('#btn-clear-history');
    await waitForText(seeded, '#history-count', '0');
    assert.deepEqual(await storedHistory(seeded), []);
    assert.equal(await seeded.isVisible('#btn-clear-history'), false);
  });
});

describe('photo decoding', () => {
  it('decodes a barcode photo into the overlay, history and announcement', T, async () => {
    const history = Array.from({ length: 50 }, (_, i) => item(50 - i));
    const page = await suite.open({ history });
    await uploadPhoto(page, suite.clips.photo('ean13'));
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-format'), 'EAN-13');
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
    assert.equal(await textOf(page, '#result-confidence'), '94% Verified');
    assert.equal(await textOf(page, '#approved-meta'), '1/1 frames · 100% match · Checksum OK');
    await waitForText(page, '#sr-announcer', `Decoded EAN-13 barcode ${EAN13_TEXT} from photo.`);
    const stored = await storedHistory(page);
    assert.equal(stored.length, 50, 'the 51st scan pushes the oldest out');
    assert.equal(stored[0].text, EAN13_TEXT);
    assert.equal(stored.at(-1).text, 'ITEM-2');
    assert.match(stored[0].id, /^scan-\d{13}-[0-9a-z]{1,5}$/);
    assert.deepEqual(Object.keys(stored[0]), ['id', 'timestamp', 'format', 'text', 'confidence', 'confirmations',
      'requiredConfirmations', 'agreementRatio', 'elapsedMs', 'checksumVerified', 'engines']);
    assert.equal(await textOf(page, '#history-count'), '50');
    assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'idle', 'a photo leaves the camera alone');
  });

  it('reports a photo without a barcode, and the same file may be chosen again', T, async () => {
    const page = await suite.open();
    const blank = suite.clips.photo(null);
    await uploadPhoto(page, blank);
    await waitForText(page, '#error-banner', 'No barcode detected in that photo. Try a sharper, well-lit close-up.');
    assert.equal(await page.isVisible('#approved-overlay'), false);
    await page.evaluate(() => { document.getElementById('error-banner').textContent = 'stale'; });
    await uploadPhoto(page, blank);
    await waitForText(page, '#error-banner', 'No barcode detected in that photo. Try a sharper, well-lit close-up.');
  });
});

describe('copy buttons', () => {
  for (const [name, beforeLoad] of [
    ['with invoker commands', undefined],
    ['through the click fallback', (p) => p.addInitScript(() => { delete window.CommandEvent; })],
  ]) {
    it(`copy the code ${name}, announcing a repeat with a no-break space`, T, async () => {
      const page = await suite.open({ beforeLoad });
      await uploadPhoto(page, suite.clips.photo('ean13'));
      await waitForLock(page);
      await page.click('#btn-copy-approved');
      await waitForText(page, '#btn-copy-approved + .tip', 'Copied');
      assert.equal(await page.evaluate(() => navigator.clipboard.readText()), EAN13_TEXT);
      assert.equal(await page.getAttribute('#btn-copy-approved', 'data-copied'), '');
      await page.click('#btn-copy-approved');
      await waitForText(page, '#btn-copy-approved + .tip', 'Copied\u00a0');
      assert.equal(await page.isVisible('#approved-overlay'), true, 'copying does not start a new scan');
      await page.waitForFunction(() => !document.getElementById('btn-copy-approved').hasAttribute('data-copied'), null, { timeout: 5000 });
      assert.equal(await textOf(page, '#btn-copy-approved + .tip'), '');
    });
  }

  it('copies a history entry by its own button', T, async () => {
    const page = await suite.open({ history: [item(7, { text: 'HIST-7' })] });
    await page.click('#history-details summary');
    await page.click('button[aria-label="Copy CODE-128 barcode HIST-7"]');
    await page.waitForFunction(() => navigator.clipboard.readText().then((text) => text === 'HIST-7'));
  });
});

describe('decoder sources', () => {
  it('takes the receiver\'s own copy first; without it, the first CDN', T, async () => {
    const own = await suite.open();
    assert.equal(await reportDecoderReady(own, 'receiver\'s copy'), 'ZXing-WASM (decoder from this receiver)');
    assert.equal(await textOf(own, '#engine-badge'), 'ZXing-WASM');
    assert.deepEqual(suite.browser.cdnRequests, [], 'no CDN was asked');

    const cdn = await suite.open({ beforeLoad: blockReceiverDecoder });
    assert.equal(await reportDecoderReady(cdn, 'CDN stand-in'), 'ZXing-WASM (decoder from cdn.jsdelivr.net)');
    assert.deepEqual(suite.browser.cdnRequests.map((request) => [new URL(request.url).pathname, request.served]), [
      ['/npm/zxing-wasm@2.2.4/reader/+esm', true],
      ['/npm/zxing-wasm@2.2.4/share.js', true],
      ['/npm/zxing-wasm@2.2.4/dist/reader/zxing_reader.wasm', true],
    ]);
    await cdn.setInputFiles('#photo-input', suite.clips.photo('ean13'));
    await waitForLock(cdn);
    assert.equal(await textOf(cdn, '#result-code'), EAN13_TEXT);
  });

  it('moves on from a CDN that never answers after 8 s', T, async () => {
    let hold;
    const asked = new Promise((resolve) => { hold = resolve; });
    const page = await suite.open({
      beforeLoad: async (p) => {
        await p.clock.install();
        await blockReceiverDecoder(p);
        await p.route((url) => url.hostname === 'cdn.jsdelivr.net', (route) => hold(route));
      },
    });
    const held = await asked;
    assert.equal(await textOf(page, '#engine-badge'), 'Loading…');
    await page.clock.fastForward(8000);
    await waitForText(page, '#engine-badge', 'ZXing-WASM');
    assert.equal(await page.getAttribute('#engine-badge', 'title'), 'ZXing-WASM (decoder from unpkg.com)');
    await held.abort();
  });

  it('falls back to the second CDN, whose own .wasm serves alone', T, async () => {
    const requests = [];
    const page = await suite.open({
      beforeLoad: async (p) => {
        p.on('request', (request) => requests.push(request.url()));
        await blockReceiverDecoder(p);
        await p.route((url) => url.hostname.endsWith('jsdelivr.net'), (route) => route.abort('blockedbyclient'));
      },
    });
    await waitForText(page, '#engine-badge', 'ZXing-WASM');
    await uploadPhoto(page, suite.clips.photo('ean13'));
    await waitForLock(page);
    assert.equal(await textOf(page, '#result-code'), EAN13_TEXT);
    const wasm = requests.filter((url) => url.endsWith('.wasm'));
    assert.deepEqual(wasm.map((url) => new URL(url).hostname), ['unpkg.com']);
    assert.ok(wasm[0].endsWith('/zxing-wasm@2.2.4/dist/reader/zxing_reader.wasm'));
  });

  it('says "Decoder offline" without the receiver\'s copy or any CDN, and explains it on start', T, async () => {
    const page = await suite.open({
      beforeLoad: async (p) => {
        await blockReceiverDecoder(p);
        await p.route((url) => !['127.0.0.1', 'localhost'].includes(url.hostname), (route) => route.abort('internetdisconnected'));
      },
    });
    await waitForText(page, '#engine-badge', 'Decoder offline');
    await page.click('#btn-scan-toggle');
    await waitForText(page, '#error-banner',
      'Could not load ZXing-WASM decoder and native BarcodeDetector is unavailable. Check your internet connection.');
    assert.equal(await page.getAttribute('#btn-scan-toggle', 'data-scanning'), 'false');
    assert.equal(await page.isEnabled('#btn-scan-toggle'), true);
    assert.equal(await page.getAttribute('#viewfinder', 'data-state'), 'idle');
  });
});

describe('Wi-Fi module against the receiver', () => {
  it('pings the receiver and posts a scan record that it delivers', T, async () => {
    const page = await suite.newPage();
    await page.goto(`${suite.origin}/about.html`);
    const result = await page.evaluate(async (origin) => {
      const wifi = await import('./relay/wifi.js');
      const ping = await wifi.testWifiConnection(origin);
      const reply = await wifi.sendOverWifi(`${origin}/api/scan`, {
        text: 'QM-WEB-7', format: 'CODE-128', confidence: 97, confirmations: 5, pressEnter: false,
      });
      const refused = await wifi.sendOverWifi(origin, { text: '   ', format: 'CODE-128' }).catch((error) => error.message);
      return { ping, reply, refused };
    }, suite.origin);
    assert.equal(result.ping.ok, true);
    assert.equal(result.ping.port, suite.receiver.port);
    assert.deepEqual(result.reply, { ok: true, scan: { text: 'QM-WEB-7', format: 'CODE-128', confidence: 97 } });
    assert.equal(result.refused, 'Missing barcode text');
    await suite.receiver.waitForLine(/\[CODE-128\] QM-WEB-7 \(97% - /);
  });
});
