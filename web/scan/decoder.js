// Decoder loading and decoding: the WebAssembly reader (from this receiver or a CDN) and, where
// the browser has one, the native BarcodeDetector; one reading out of both.
import { normalizeReading } from './consensus.js';

export const SCAN_MODES = Object.freeze({
  all: Object.freeze({ id: 'all', zxingFormats: Object.freeze([]) }),
  linear: Object.freeze({
    id: 'linear',
    zxingFormats: Object.freeze([
      'EAN-13', 'EAN-8', 'UPC-A', 'UPC-E', 'Code128', 'Code39', 'Code93', 'Codabar', 'ITF',
      'DataBar', 'DataBarExpanded', 'DataBarLimited',
    ]),
  }),
  matrix: Object.freeze({
    id: 'matrix',
    zxingFormats: Object.freeze(['QRCode', 'DataMatrix', 'PDF417', 'Aztec', 'MicroQRCode']),
  }),
});

// Pinned to the release the receiver embeds (decoder/package-lock.json) and the tests install, so
// phones run the decoder that was tested.
const ZXING_VERSION = '2.2.4';
// Each source names its package root too: the reader's .wasm is fetched from the same place as
// the module, so a fallback works when an earlier source (or the reader's own default host) is
// blocked.
const CDN_SOURCES = Object.freeze([
  Object.freeze({
    name: 'cdn.jsdelivr.net',
    moduleUrl: `https://cdn.jsdelivr.net/npm/zxing-wasm@${ZXING_VERSION}/reader/+esm`,
    packageRoot: `https://cdn.jsdelivr.net/npm/zxing-wasm@${ZXING_VERSION}/`,
  }),
  Object.freeze({
    name: 'unpkg.com',
    moduleUrl: `https://unpkg.com/zxing-wasm@${ZXING_VERSION}/dist/es/reader/index.js`,
    packageRoot: `https://unpkg.com/zxing-wasm@${ZXING_VERSION}/`,
  }),
]);
export const RECEIVER_SOURCE_NAME = 'this receiver';
// A source whose module and .wasm have not both loaded by then counts as failed, so a network
// that silently drops outside traffic cannot keep the page waiting.
export const DECODER_SOURCE_LIMIT_MS = 8000;

// Where the reader is loaded from, in order. A page served by a receiver (over http or https)
// asks that receiver's own copy first, which works on a network without internet. The path is
// absolute, so the copy is found at the origin's root whatever folder this module is served from.
export function zxingSources(moduleUrl = import.meta.url) {
  const here = new URL(moduleUrl);
  if (here.protocol !== 'https:' && here.protocol !== 'http:') return [...CDN_SOURCES];
  const packageRoot = new URL(`/vendor/zxing-wasm@${ZXING_VERSION}/`, here).href;
  return [
    { name: RECEIVER_SOURCE_NAME, moduleUrl: `${packageRoot}dist/es/reader/index.js`, packageRoot },
    ...CDN_SOURCES,
  ];
}

const NO_DECODER_MESSAGE =
  'Could not load ZXing-WASM decoder and native BarcodeDetector is unavailable. Check your internet connection.';

function modeFormats(mode) {
  return (Object.hasOwn(SCAN_MODES, mode) ? SCAN_MODES[mode] : SCAN_MODES.all).zxingFormats;
}

function firstHit(results, textOf) {
  const first = results?.[0];
  const text = first ? textOf(first) : '';
  if (typeof text !== 'string' || text === '') return null;
  // In printed form, so the two decoders' UPC readings compare equal.
  const printed = normalizeReading(first.format, text);
  return { text: printed.text, format: printed.format };
}

async function settle(promise) {
  try {
    return await promise;
  } catch {
    return null;
  }
}

async function importReader(source, importModule) {
  const module = await importModule(source.moduleUrl);
  if (typeof module.readBarcodes !== 'function') throw new Error('module has no readBarcodes');
  if (typeof module.prepareZXingModule === 'function') {
    // Instantiate now, from the source that served the module: a source whose .wasm cannot be
    // fetched must count as failed here rather than break every frame later.
    await module.prepareZXingModule({
      overrides: { locateFile: (path, prefix) => (path.endsWith('.wasm') ? `${source.packageRoot}dist/reader/${path}` : prefix + path) },
      fireImmediately: true,
    });
  }
  return module.readBarcodes;
}

function withinLimit(promise, limitMs) {
  let timer;
  const expired = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error('decoder source timed out')), limitMs);
  });
  return Promise.race([promise, expired]).finally(() => clearTimeout(timer));
}

// The first source whose module exports readBarcodes and whose .wasm instantiates within the
// limit: { readBarcodes, source } with the source's name, or null when none does.
export async function loadZxingReader(sources = zxingSources(), importModule = (url) => import(url)) {
  for (const source of sources) {
    try {
      const readBarcodes = await withinLimit(importReader(source, importModule), DECODER_SOURCE_LIMIT_MS);
      return { readBarcodes, source: source.name };
    } catch {
      // Try the next source.
    }
  }
  return null;
}

async function createNativeDetector() {
  const Detector = globalThis.BarcodeDetector;
  if (typeof Detector !== 'function') return null;
  try {
    const formats = await Detector.getSupportedFormats();
    if (!Array.isArray(formats) || formats.length === 0) return null;
    return new Detector({ formats });
  } catch {
    return null;
  }
}

// The two decoders of one page: loaded once, then asked together for every image.
export class Decoders {
  constructor() {
    this.zxingReadBarcodes = null;
    this.zxingSource = null;
    this.nativeDetector = null;
    this.ready = false;
    this.loading = null;
  }

  info() {
    const engines = [];
    if (this.zxingReadBarcodes) engines.push('ZXing-WASM');
    if (this.nativeDetector) engines.push('Native BarcodeDetector');
    return {
      ready: this.ready,
      engines,
      dualEngine: engines.length === 2,
      label: engines.length ? engines.join(' + ') : 'Unavailable',
      zxingSource: this.zxingSource,
    };
  }

  async load() {
    if (this.ready) return this.info();
    // The page loads the decoders at start-up and again before the camera opens: share one attempt.
    this.loading ??= this.loadMissing().finally(() => {
      this.loading = null;
    });
    return this.loading;
  }

  async loadMissing() {
    if (!this.nativeDetector) this.nativeDetector = await createNativeDetector();
    if (!this.zxingReadBarcodes) {
      const reader = await loadZxingReader();
      this.zxingReadBarcodes = reader?.readBarcodes ?? null;
      this.zxingSource = reader?.source ?? null;
    }
    if (!this.zxingReadBarcodes && !this.nativeDetector) throw new Error(NO_DECODER_MESSAGE);
    this.ready = true;
    return this.info();
  }

  // Both decoders on one image; the native one only when given a canvas to look at. Inverted
  // codes and downscaled copies are looked for with a thorough search unless told otherwise.
  async decode(imageData, canvasForNative, mode, { tryHarder = true, tryInvert = tryHarder, tryDownscale = tryHarder } = {}) {
    const formats = modeFormats(mode);
    const options = {
      tryHarder,
      tryRotate: true,
      tryInvert,
      tryDownscale,
      maxNumberOfSymbols: 1,
    };
    if (formats.length) options.formats = [...formats];
    const [wasmResults, nativeResults] = await Promise.all([
      this.zxingReadBarcodes ? settle(this.zxingReadBarcodes(imageData, options)) : null,
      canvasForNative && this.nativeDetector ? settle(this.nativeDetector.detect(canvasForNative)) : null,
    ]);
    const wasm = firstHit(wasmResults, (result) => result.text);
    const native = firstHit(nativeResults, (result) => result.rawValue);
    if (wasm && native && wasm.text === native.text) return { ...wasm, engines: ['zxing-wasm', 'native'] };
    // The WebAssembly reader validates more strictly, so it wins a disagreement.
    if (wasm) return { ...wasm, engines: ['zxing-wasm'] };
    if (native) return { ...native, engines: ['native'] };
    return null;
  }
}
