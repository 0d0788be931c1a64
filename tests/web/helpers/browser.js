// Debian's Chromium through playwright-core: a fresh profile, a fake camera playing a clip, the
// CDN stand-in that serves zxing-wasm from node_modules (or none at all), and no traffic beyond
// loopback.
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const packageDir = fileURLToPath(new URL('../node_modules/zxing-wasm/', import.meta.url));
const installedVersion = JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8')).version;

export const PHONE = { width: 390, height: 844 };

export function artifactsDir() {
  const dir = process.env.QUILLMARK_ARTIFACTS ?? fileURLToPath(new URL('../../../build/test-artifacts/', import.meta.url));
  mkdirSync(dir, { recursive: true });
  return dir;
}

const isLoopback = (url) => ['127.0.0.1', 'localhost', '[::1]'].includes(url.hostname);

// Maps a CDN URL of the pinned zxing-wasm release to a file of the installed package.
function packageFileFor(url) {
  const match = url.pathname.match(/\/zxing-wasm@([^/]+)\/(.*)$/);
  if (!match || match[1] !== installedVersion) return null;
  const rest = match[2];
  if (rest === 'reader/+esm') return 'dist/es/reader/index.js';
  if (rest === 'share.js') return 'dist/es/share.js';
  if (rest.startsWith('dist/') && !rest.includes('..')) return rest;
  return null;
}

const CONTENT_TYPES = { js: 'text/javascript; charset=utf-8', wasm: 'application/wasm' };

// Every non-loopback request lands here; `requests` records what was asked and what was served.
// With `serve` false every one of them is aborted: a network without internet.
export async function installCdnStandIn(target, requests = [], { serve = true } = {}) {
  await target.route((url) => !isLoopback(url), async (route) => {
    const url = new URL(route.request().url());
    const file = serve ? packageFileFor(url) : null;
    requests.push({ url: url.href, served: Boolean(file) });
    if (!file) return route.abort('blockedbyclient');
    let body;
    try {
      body = readFileSync(join(packageDir, file));
    } catch {
      return route.fulfill({ status: 404, body: 'not in package', headers: { 'access-control-allow-origin': '*' } });
    }
    return route.fulfill({
      status: 200,
      body,
      headers: { 'content-type': CONTENT_TYPES[file.split('.').pop()] ?? 'application/octet-stream', 'access-control-allow-origin': '*' },
    });
  });
  return requests;
}

// A BarcodeDetector for this Chromium, which has none: it answers what the test sets in
// window.__nativeAnswer ({ rawValue, format }, or null for nothing found).
export const NATIVE_DETECTOR_STAND_IN = () => {
  window.__nativeAnswer = null;
  window.__nativeCalls = 0;
  window.BarcodeDetector = class BarcodeDetector {
    static async getSupportedFormats() {
      return ['ean_13', 'ean_8', 'upc_a', 'code_128', 'qr_code'];
    }

    constructor(options) {
      this.formats = options?.formats ?? [];
    }

    async detect() {
      window.__nativeCalls += 1;
      const answer = window.__nativeAnswer;
      return answer ? [{ ...answer, boundingBox: { x: 0, y: 0, width: 1, height: 1 }, cornerPoints: [] }] : [];
    }
  };
};

// Web Bluetooth for this Chromium, which has none: one device with a GATT server and a write
// characteristic. window.__bt steers it and records what the page did:
//   deviceName, dismiss (the user closes the chooser), missingService, failWrites (an error
//   message for every write), requests (requestDevice options), uuids (service and
//   characteristic asked for), writes (each chunk as an array of bytes), drop() (link lost).
export const BLUETOOTH_STAND_IN = () => {
  const bt = { deviceName: 'QM Wedge', dismiss: false, missingService: false, failWrites: null, requests: [], uuids: [], writes: [] };
  window.__bt = bt;
  const record = (chunk) => {
    if (bt.failWrites) throw new DOMException(bt.failWrites, 'NetworkError');
    bt.writes.push(Array.from(chunk));
  };
  const characteristic = {
    properties: { write: true, writeWithoutResponse: true },
    writeValueWithoutResponse: async (chunk) => record(chunk),
    writeValueWithResponse: async (chunk) => record(chunk),
  };
  let device = null;
  const newDevice = () => {
    const target = new EventTarget();
    target.id = 'stand-in-device';
    target.name = bt.deviceName;
    target.gatt = {
      device: target,
      connected: false,
      async connect() {
        this.connected = true;
        return this;
      },
      disconnect() {
        if (!this.connected) return;
        this.connected = false;
        target.dispatchEvent(new Event('gattserverdisconnected'));
      },
      async getPrimaryService(uuid) {
        bt.uuids.push(uuid);
        if (bt.missingService) throw new DOMException(`No Services matching UUID ${uuid} found in Device.`, 'NotFoundError');
        return {
          async getCharacteristic(charUuid) {
            bt.uuids.push(charUuid);
            return characteristic;
          },
        };
      },
    };
    return target;
  };
  bt.drop = () => device?.gatt.disconnect();
  Object.defineProperty(navigator, 'bluetooth', {
    configurable: true,
    value: {
      async requestDevice(options) {
        bt.requests.push(options);
        if (bt.dismiss) throw new DOMException('User cancelled the requestDevice() chooser.', 'NotFoundError');
        device ??= newDevice();
        return device;
      },
    },
  });
};

// Web Share for this Chromium, which has none. window.__share records the calls; `failure` set
// to an error name makes the sheet fail with it ('AbortError' is the user cancelling).
export const SHARE_STAND_IN = () => {
  const share = { calls: [], failure: null };
  window.__share = share;
  Object.defineProperty(navigator, 'share', {
    configurable: true,
    value: async (data) => {
      share.calls.push(data);
      if (share.failure) throw new DOMException(`${share.failure} from the share sheet`, share.failure);
    },
  });
};

// Records in window.__decoderReadyMs when the engine badge first turns ready, in ms since the
// page started loading.
const DECODER_CLOCK = () => {
  new MutationObserver((changes, observer) => {
    if (!document.getElementById('engine-badge')?.classList.contains('pill-success')) return;
    window.__decoderReadyMs = performance.now();
    observer.disconnect();
  }).observe(document, { subtree: true, childList: true, attributes: true, attributeFilter: ['class'] });
};

// A HOME whose NSS database (where Chromium on Linux keeps the user's certificates) trusts the
// CA in `caFile` for web sites, as a phone does once its user installed the Quillmark CA.
function homeTrusting(caFile) {
  const home = mkdtempSync(join(tmpdir(), 'quillmark-nss-'));
  const db = join(home, '.pki', 'nssdb');
  mkdirSync(db, { recursive: true });
  execFileSync('certutil', ['-N', '-d', `sql:${db}`, '--empty-password']);
  execFileSync('certutil', ['-A', '-d', `sql:${db}`, '-n', 'Quillmark local CA', '-t', 'C,,', '-i', caFile]);
  return home;
}

// `cdn` false: no CDN stand-in, every request beyond loopback is aborted and listed in cdnRequests.
// `trustCa`: the path of a CA certificate that the browser trusts as a phone would, with no
// certificate error passed over; otherwise every certificate error is (a click-through).
// Service workers are blocked unless `serviceWorkers` is 'allow', so that request routing in
// tests sees every request the page makes.
export async function launchBrowser({ clip, viewport = PHONE, colorScheme = 'light', cdn = true, trustCa, serviceWorkers = 'block' } = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'quillmark-profile-'));
  const home = trustCa ? homeTrusting(trustCa) : null;
  const args = [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
    '--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream',
  ];
  if (clip) args.push(`--use-file-for-fake-video-capture=${clip}`);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.QUILLMARK_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    ignoreHTTPSErrors: !trustCa,
    serviceWorkers,
    ...(home ? { env: { ...process.env, HOME: home } } : {}),
    viewport,
    deviceScaleFactor: 2,
    colorScheme,
    acceptDownloads: true,
    args,
  });
  const cdnRequests = await installCdnStandIn(context, [], { serve: cdn });
  await context.addInitScript(DECODER_CLOCK);
  return {
    context,
    cdnRequests,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
      if (home) rmSync(home, { recursive: true, force: true });
    },
  };
}

// A fresh scanner page with the given history in storage (or none).
export async function openScanner(context, origin, { history, storage = {}, path = '/', beforeLoad } = {}) {
  const page = await context.newPage();
  await page.goto(`${origin}/about.html`);
  await page.evaluate(([items, extra]) => {
    localStorage.clear();
    if (items) localStorage.setItem('quillmark_history_v1', JSON.stringify(items));
    for (const [key, value] of Object.entries(extra)) localStorage.setItem(key, value);
  }, [history ?? null, storage]);
  if (beforeLoad) await beforeLoad(page);
  await page.goto(`${origin}${path}`);
  return page;
}

// Makes the receiver's own copy of the decoder unavailable to this page.
export const blockReceiverDecoder = (page) =>
  page.route((url) => isLoopback(url) && url.pathname.startsWith('/vendor/'), (route) => route.abort('blockedbyclient'));

// Waits for a ready decoder, prints how long it took from the start of loading and where it came
// from (the engine badge's tooltip), and returns that tooltip.
export async function reportDecoderReady(page, what) {
  await page.waitForFunction(() => window.__decoderReadyMs !== undefined, null, { timeout: 30000 });
  const [ms, title] = await page.evaluate(() => [window.__decoderReadyMs, document.getElementById('engine-badge').title]);
  console.log(`${what}: decoder ready ${Math.round(ms)} ms after the page started loading — ${title}`);
  return title;
}

export async function storedHistory(page) {
  return page.evaluate(() => JSON.parse(localStorage.getItem('quillmark_history_v1') ?? 'null'));
}
