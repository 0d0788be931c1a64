// Camera and decoders: opens the rear camera, tunes it for barcodes and decodes frames and photos
// with the WebAssembly reader and, where the browser has one, the native BarcodeDetector.
import { normalizeReading, estimateSharpness } from './consensus.js';

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

// Pinned to the release the tests install, so phones run the decoder that was tested.
const ZXING_VERSION = '2.2.4';
// Each source names its package root too: the reader's .wasm is fetched from the same CDN as the
// module, so the fallback works when the first CDN (or the reader's own default host) is blocked.
const ZXING_SOURCES = Object.freeze([
  Object.freeze({
    moduleUrl: `https://cdn.jsdelivr.net/npm/zxing-wasm@${ZXING_VERSION}/reader/+esm`,
    packageRoot: `https://cdn.jsdelivr.net/npm/zxing-wasm@${ZXING_VERSION}/`,
  }),
  Object.freeze({
    moduleUrl: `https://unpkg.com/zxing-wasm@${ZXING_VERSION}/dist/es/reader/index.js`,
    packageRoot: `https://unpkg.com/zxing-wasm@${ZXING_VERSION}/`,
  }),
]);

const NO_DECODER_MESSAGE =
  'Could not load ZXing-WASM decoder and native BarcodeDetector is unavailable. Check your internet connection.';

const ROI_WIDTH_SHARE = 0.84;
const ROI_HEIGHT_SHARE = 0.52;
const ROI_MAX_WIDTH = 960;
const FULL_FRAME_MAX_WIDTH = 840;
const PHOTO_MAX_SIDE = 1800;
const MAX_DIGITAL_ZOOM = 4;
const MAX_REPORTED_ZOOM = 6;
const REFOCUS_HOLD_MS = 450;
const HAVE_CURRENT_DATA = 2;
// Passes that can take the lead of a frame, and how many frames in a row one may fail before the
// schedule falls back to the cheap order.
const ADAPTIVE_PASSES = Object.freeze(['roi-hard', 'enhanced-roi', 'full']);
const PREFERENCE_MISSES = 3;

function clampDigitalZoom(value) {
  if (typeof value !== 'number' || Number.isNaN(value)) return 1;
  return Math.min(MAX_DIGITAL_ZOOM, Math.max(1, value));
}

// Non-negative remainder, so the pass schedule holds for any integer frame index.
function mod(value, divisor) {
  return ((value % divisor) + divisor) % divisor;
}

// Centre region matching the reticle; a digital zoom shrinks it to raise small codes' resolution.
function regionOfInterest(frameWidth, frameHeight, zoom) {
  const width = Math.round((frameWidth * ROI_WIDTH_SHARE) / zoom);
  const height = Math.round((frameHeight * ROI_HEIGHT_SHARE) / zoom);
  return {
    x: Math.round((frameWidth - width) / 2),
    y: Math.round((frameHeight - height) / 2),
    width,
    height,
  };
}

function scaledToWidth(width, height, maxWidth) {
  if (width <= maxWidth) return { width, height };
  return { width: maxWidth, height: Math.round((height * maxWidth) / width) };
}

function scaledToLongerSide(width, height, maxSide) {
  const longer = Math.max(width, height);
  if (longer <= maxSide) return { width, height };
  const scale = maxSide / longer;
  return { width: Math.round(width * scale), height: Math.round(height * scale) };
}

// The passes a frame tries, in order, until one reads a code. Today's cheap schedule: the region
// on every frame (fast on even frame indices, thorough on odd), its contrast-stretched copy on
// every third, the whole frame on every fourth. A preferred pass (the last that read a code where
// the fast region pass could not) goes first on every frame; a thorough region pass replaces the
// fast one. So a frame costs at most one decode more than the cheap schedule.
export function framePasses(frameIndex, preferred = null) {
  const index = Number.isInteger(frameIndex) ? frameIndex : 0;
  const passes = [mod(index, 2) === 1 ? 'roi-hard' : 'roi-fast'];
  if (mod(index, 3) === 1) passes.push('enhanced-roi');
  if (mod(index, 4) === 0) passes.push('full');
  if (!ADAPTIVE_PASSES.includes(preferred)) return passes;
  if (preferred === 'roi-hard') return ['roi-hard', ...passes.slice(1)];
  return [preferred, ...passes.filter((pass) => pass !== preferred)];
}

export const NO_PASS_PREFERENCE = Object.freeze({ pass: null, misses: 0 });

// After a frame: `hitPass` read the code, or null when no pass did. A pass other than the fast
// region pass that reads a code becomes preferred; the preferred pass stays so until it has
// failed on PREFERENCE_MISSES frames in a row (the code moved, or left the view).
export function nextPassPreference(preference, hitPass) {
  if (ADAPTIVE_PASSES.includes(hitPass)) return { pass: hitPass, misses: 0 };
  if (!preference.pass) return preference;
  const misses = preference.misses + 1;
  return misses >= PREFERENCE_MISSES ? NO_PASS_PREFERENCE : { pass: preference.pass, misses };
}

function newCanvas() {
  if (globalThis.document?.createElement) return globalThis.document.createElement('canvas');
  return new OffscreenCanvas(1, 1);
}

function sizeCanvas(canvas, width, height) {
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
}

function modeFormats(mode) {
  return (Object.hasOwn(SCAN_MODES, mode) ? SCAN_MODES[mode] : SCAN_MODES.all).zxingFormats;
}

function newImageData(data, width, height) {
  if (typeof ImageData === 'function') return new ImageData(data, width, height);
  return { data, width, height };
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

async function importReader(source) {
  const module = await import(source.moduleUrl);
  if (typeof module.readBarcodes !== 'function') throw new Error('module has no readBarcodes');
  if (typeof module.prepareZXingModule === 'function') {
    // Instantiate now, from the CDN that served the module: a source whose .wasm cannot be fetched
    // must count as failed here rather than break every frame later.
    await module.prepareZXingModule({
      overrides: { locateFile: (path, prefix) => (path.endsWith('.wasm') ? `${source.packageRoot}dist/reader/${path}` : prefix + path) },
      fireImmediately: true,
    });
  }
  return module.readBarcodes;
}

async function loadZxingReader() {
  for (const source of ZXING_SOURCES) {
    try {
      return await importReader(source);
    } catch {
      // Try the next CDN.
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

export class BarcodeScannerEngine {
  constructor() {
    this.zxingReadBarcodes = null;
    this.nativeDetector = null;
    this.engineReady = false;
    this.stream = null;
    this.videoTrack = null;
    this.capabilities = {};
    this.roiCanvas = null;
    this.roiContext = null;
    this.fullCanvas = null;
    this.fullContext = null;
    this.loading = null;
    this.passPreference = NO_PASS_PREFERENCE;
  }

  getEngineInfo() {
    const engines = [];
    if (this.zxingReadBarcodes) engines.push('ZXing-WASM');
    if (this.nativeDetector) engines.push('Native BarcodeDetector');
    return {
      ready: this.engineReady,
      engines,
      dualEngine: engines.length === 2,
      label: engines.length ? engines.join(' + ') : 'Unavailable',
    };
  }

  async initEngines() {
    if (this.engineReady) return this.getEngineInfo();
    // The page loads the decoders at start-up and again before the camera opens: share one attempt.
    this.loading ??= this.loadDecoders().finally(() => {
      this.loading = null;
    });
    return this.loading;
  }

  async loadDecoders() {
    if (!this.nativeDetector) this.nativeDetector = await createNativeDetector();
    if (!this.zxingReadBarcodes) this.zxingReadBarcodes = await loadZxingReader();
    if (!this.zxingReadBarcodes && !this.nativeDetector) throw new Error(NO_DECODER_MESSAGE);
    this.engineReady = true;
    return this.getEngineInfo();
  }

  ensureCanvases() {
    if (this.roiCanvas) return;
    this.roiCanvas = newCanvas();
    this.roiContext = this.roiCanvas.getContext('2d', { willReadFrequently: true });
    this.fullCanvas = newCanvas();
    this.fullContext = this.fullCanvas.getContext('2d', { willReadFrequently: true });
  }

  async startCamera(videoEl) {
    await this.stopCamera();
    const media = globalThis.navigator?.mediaDevices;
    if (!media || typeof media.getUserMedia !== 'function') {
      const insecure = !globalThis.isSecureContext && globalThis.location?.hostname !== 'localhost';
      const hint = insecure
        ? ' Live video requires HTTPS on mobile browsers. Use the "Scan Photo" button below (works over plain HTTP!), or open via HTTPS.'
        : ' Open this app over HTTPS or localhost on a device with a camera.';
      throw new Error(`Camera streaming unavailable.${hint}`);
    }
    let stream;
    try {
      stream = await media.getUserMedia({
        audio: false,
        video: {
          facingMode: { ideal: 'environment' },
          width: { ideal: 1920, min: 640 },
          height: { ideal: 1080, min: 480 },
          frameRate: { ideal: 30, min: 15 },
        },
      });
    } catch {
      stream = await media.getUserMedia({ audio: false, video: { facingMode: 'environment' } });
    }
    this.stream = stream;
    videoEl.setAttribute('playsinline', '');
    videoEl.playsInline = true;
    videoEl.muted = true;
    videoEl.srcObject = stream;
    try {
      await videoEl.play();
    } catch (error) {
      await this.stopCamera();
      throw error;
    }
    this.videoTrack = stream.getVideoTracks()[0] ?? null;
    this.capabilities = this.readCapabilities();
    await this.applyAutoFocus();
    const caps = this.capabilities;
    return {
      width: videoEl.videoWidth,
      height: videoEl.videoHeight,
      torchSupported: Boolean(caps.torch),
      zoomSupported: Boolean(caps.zoom),
      zoomMin: caps.zoom?.min ?? 1,
      zoomMax: caps.zoom ? Math.min(caps.zoom.max ?? 1, MAX_REPORTED_ZOOM) : 1,
      zoomStep: caps.zoom?.step ?? 0.1,
    };
  }

  readCapabilities() {
    try {
      return this.videoTrack?.getCapabilities?.() ?? {};
    } catch {
      return {};
    }
  }

  async applyConstraintSet(set) {
    try {
      await this.videoTrack.applyConstraints({ advanced: [set] });
      return true;
    } catch {
      return false;
    }
  }

  async applyAutoFocus() {
    if (typeof this.videoTrack?.applyConstraints !== 'function') return;
    const caps = this.capabilities;
    const set = {};
    if (caps.focusMode?.includes?.('continuous')) set.focusMode = 'continuous';
    if (caps.exposureMode?.includes?.('continuous')) set.exposureMode = 'continuous';
    if (Object.keys(set).length) await this.applyConstraintSet(set);
  }

  async triggerRefocus() {
    const modes = this.capabilities.focusMode;
    if (!Array.isArray(modes) || typeof this.videoTrack?.applyConstraints !== 'function') return;
    if (!modes.includes('single-shot')) {
      await this.applyAutoFocus();
      return;
    }
    await this.applyConstraintSet({ focusMode: 'single-shot' });
    setTimeout(() => {
      this.applyAutoFocus();
    }, REFOCUS_HOLD_MS);
  }

  async setTorch(enabled) {
    if (!this.videoTrack || !this.capabilities.torch) return false;
    const on = Boolean(enabled);
    return (await this.applyConstraintSet({ torch: on })) ? on : false;
  }

  async setZoom(zoomValue) {
    const zoom = this.capabilities.zoom;
    if (!this.videoTrack || !zoom) return;
    const value = Math.min(zoom.max ?? Infinity, Math.max(zoom.min ?? 0, Number(zoomValue)));
    if (Number.isFinite(value)) await this.applyConstraintSet({ zoom: value });
  }

  async stopCamera() {
    const { stream, videoTrack, capabilities } = this;
    // Cleared first, so a start that follows at once never sees the old stream.
    this.stream = null;
    this.videoTrack = null;
    this.capabilities = {};
    if (videoTrack && capabilities.torch) {
      try {
        await videoTrack.applyConstraints({ advanced: [{ torch: false }] });
      } catch {
        // The track is stopped next anyway.
      }
    }
    stream?.getTracks().forEach((track) => track.stop());
  }

  enhanceContrast(imageData) {
    const { data, width, height } = imageData;
    const luma = (i) => 0.299 * data[i] + 0.587 * data[i + 1] + 0.114 * data[i + 2];
    let low = Infinity;
    let high = -Infinity;
    for (let i = 0; i < data.length; i += 16) {
      const value = luma(i);
      if (value < low) low = value;
      if (value > high) high = value;
    }
    if (low === Infinity) low = high = 0;
    // A minimum range keeps a flat image from being blown up into noise.
    const scale = 255 / Math.max(24, high - low);
    const out = new Uint8ClampedArray(data.length);
    for (let i = 0; i < data.length; i += 4) {
      const grey = (luma(i) - low) * scale;
      out[i] = out[i + 1] = out[i + 2] = grey;
      out[i + 3] = 255;
    }
    return newImageData(out, width, height);
  }

  async decodeImageData(imageData, canvasForNative, mode, { tryHarder = true } = {}) {
    const formats = modeFormats(mode);
    const options = {
      tryHarder,
      tryRotate: true,
      tryInvert: tryHarder,
      tryDownscale: tryHarder,
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

  async scanVideoFrame(videoEl, { mode = 'all', frameIndex = 0, digitalZoom = 1 } = {}) {
    if (!videoEl || videoEl.readyState < HAVE_CURRENT_DATA || !videoEl.videoWidth) return null;
    this.ensureCanvases();
    const frameWidth = videoEl.videoWidth;
    const frameHeight = videoEl.videoHeight;
    const region = regionOfInterest(frameWidth, frameHeight, clampDigitalZoom(digitalZoom));
    const size = scaledToWidth(region.width, region.height, ROI_MAX_WIDTH);
    sizeCanvas(this.roiCanvas, size.width, size.height);
    this.roiContext.drawImage(videoEl, region.x, region.y, region.width, region.height, 0, 0, size.width, size.height);
    const roi = this.roiContext.getImageData(0, 0, size.width, size.height);
    const sharpness = estimateSharpness(roi);
    const found = (hit, pass) => ({ ...hit, sharpness, pass });

    for (const pass of framePasses(frameIndex, this.passPreference.pass)) {
      const hit = await this.decodePass(pass, videoEl, roi, mode);
      if (hit) {
        this.passPreference = nextPassPreference(this.passPreference, pass);
        return found(hit, pass);
      }
    }
    this.passPreference = nextPassPreference(this.passPreference, null);
    return null;
  }

  async decodePass(pass, videoEl, roi, mode) {
    if (pass === 'roi-fast' || pass === 'roi-hard') {
      return this.decodeImageData(roi, this.roiCanvas, mode, { tryHarder: pass === 'roi-hard' });
    }
    if (pass === 'enhanced-roi') return this.decodeImageData(this.enhanceContrast(roi), null, mode, { tryHarder: true });
    // The whole frame catches large 2D codes and barcodes away from the centre.
    const full = scaledToWidth(videoEl.videoWidth, videoEl.videoHeight, FULL_FRAME_MAX_WIDTH);
    sizeCanvas(this.fullCanvas, full.width, full.height);
    this.fullContext.drawImage(videoEl, 0, 0, full.width, full.height);
    const pixels = this.fullContext.getImageData(0, 0, full.width, full.height);
    return this.decodeImageData(pixels, this.fullCanvas, mode, { tryHarder: false });
  }

  async scanImageFile(file, { mode = 'all' } = {}) {
    await this.initEngines();
    this.ensureCanvases();
    const bitmap = await createImageBitmap(file);
    try {
      const size = scaledToLongerSide(bitmap.width, bitmap.height, PHOTO_MAX_SIDE);
      sizeCanvas(this.fullCanvas, size.width, size.height);
      this.fullContext.drawImage(bitmap, 0, 0, size.width, size.height);
      const pixels = this.fullContext.getImageData(0, 0, size.width, size.height);
      const sharpness = estimateSharpness(pixels);
      const hit =
        (await this.decodeImageData(pixels, this.fullCanvas, mode, { tryHarder: true })) ??
        (await this.decodeImageData(this.enhanceContrast(pixels), null, mode, { tryHarder: true }));
      return hit ? { ...hit, sharpness, pass: 'photo' } : null;
    } finally {
      bitmap.close?.();
    }
  }
}
