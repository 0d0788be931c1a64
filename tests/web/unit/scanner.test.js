import { describe, it, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { installFakeCanvas } from '../helpers/fake-canvas.js';
import { setGlobal, installFakeClock } from '../helpers/globals.js';
import { BarcodeScannerEngine, SCAN_MODES, framePasses, nextPassPreference, NO_PASS_PREFERENCE } from '../../../web/scanner.js';

installFakeCanvas();

const HD = { readyState: 4, videoWidth: 1920, videoHeight: 1080 };
const NO_CODE = [];

// An engine whose two decoders are scripted: each answers with the list a callback returns.
function scriptedEngine({ wasm = () => NO_CODE, native = () => NO_CODE } = {}) {
  const engine = new BarcodeScannerEngine();
  const calls = [];
  engine.zxingReadBarcodes = async (image, options) => {
    calls.push({ engine: 'wasm', image, options });
    return wasm(image, options);
  };
  engine.nativeDetector = {
    detect: async (canvas) => {
      calls.push({ engine: 'native', canvas });
      return native(canvas);
    },
  };
  engine.engineReady = true;
  return { engine, calls };
}

describe('scan modes', () => {
  it('restrict the WebAssembly reader to the mode\'s formats', async () => {
    const { engine, calls } = scriptedEngine();
    const image = { data: new Uint8ClampedArray(4), width: 1, height: 1 };
    await engine.decodeImageData(image, null, 'linear', { tryHarder: false });
    await engine.decodeImageData(image, null, 'matrix');
    await engine.decodeImageData(image, null, 'all');
    await engine.decodeImageData(image, null, 'nonsense');
    await engine.decodeImageData(image, null, 'constructor');
    assert.deepEqual(calls[0].options, {
      tryHarder: false, tryRotate: true, tryInvert: false, tryDownscale: false, maxNumberOfSymbols: 1,
      formats: [...SCAN_MODES.linear.zxingFormats],
    });
    assert.deepEqual(calls[1].options, {
      tryHarder: true, tryRotate: true, tryInvert: true, tryDownscale: true, maxNumberOfSymbols: 1,
      formats: ['QRCode', 'DataMatrix', 'PDF417', 'Aztec', 'MicroQRCode'],
    });
    for (const call of calls.slice(2)) assert.equal('formats' in call.options, false);
    assert.ok(SCAN_MODES.linear.zxingFormats.includes('EAN-13'));
    assert.ok(!SCAN_MODES.linear.zxingFormats.includes('QRCode'));
  });
});

describe('decodeImageData merges the two decoders', () => {
  const image = { data: new Uint8ClampedArray(4), width: 1, height: 1 };
  const canvas = { id: 'canvas' };

  it('credits both engines when they read the same text', async () => {
    const { engine } = scriptedEngine({
      wasm: () => [{ text: '4006381333931', format: 'EAN-13' }],
      native: () => [{ rawValue: '4006381333931', format: 'ean_13' }],
    });
    assert.deepEqual(await engine.decodeImageData(image, canvas, 'all'), {
      text: '4006381333931', format: 'EAN-13', engines: ['zxing-wasm', 'native'],
    });
  });

  it('compares UPC readings in printed form, so the expanded and the short form agree', async () => {
    const { engine } = scriptedEngine({
      wasm: () => [{ text: '0012345000065', format: 'UPC-E' }],
      native: () => [{ rawValue: '01234565', format: 'upc_e' }],
    });
    assert.deepEqual(await engine.decodeImageData(image, canvas, 'all'), { text: '01234565', format: 'UPC-E', engines: ['zxing-wasm', 'native'] });
    const upca = scriptedEngine({ wasm: () => [{ text: '0036000291452', format: 'EAN-13' }] });
    assert.deepEqual(await upca.engine.decodeImageData(image, null, 'linear'), { text: '036000291452', format: 'UPC-A', engines: ['zxing-wasm'] });
  });

  it('keeps the WebAssembly reading when the two disagree', async () => {
    const { engine } = scriptedEngine({
      wasm: () => [{ text: 'ABC', format: 'Code128' }],
      native: () => [{ rawValue: 'ABD', format: 'code_128' }],
    });
    assert.deepEqual(await engine.decodeImageData(image, canvas, 'all'), { text: 'ABC', format: 'CODE-128', engines: ['zxing-wasm'] });
  });

  it('returns a native-only reading, even outside the mode\'s formats', async () => {
    const { engine } = scriptedEngine({ native: () => [{ rawValue: 'https://q.test', format: 'qr_code' }] });
    assert.deepEqual(await engine.decodeImageData(image, canvas, 'linear'), { text: 'https://q.test', format: 'QR-CODE', engines: ['native'] });
  });

  it('counts a throwing decoder or an empty text as nothing found', async () => {
    const { engine } = scriptedEngine({
      wasm: () => { throw new Error('wasm trap'); },
      native: () => [{ rawValue: '', format: 'qr_code' }, { rawValue: 'second', format: 'qr_code' }],
    });
    assert.equal(await engine.decodeImageData(image, canvas, 'all'), null);
  });

  it('runs the native detector only when a canvas is given', async () => {
    const { engine, calls } = scriptedEngine({ native: () => [{ rawValue: 'X', format: 'qr_code' }] });
    assert.equal(await engine.decodeImageData(image, null, 'all'), null);
    assert.deepEqual(calls.map((c) => c.engine), ['wasm']);
  });

  it('works with either decoder missing', async () => {
    const engine = new BarcodeScannerEngine();
    assert.equal(await engine.decodeImageData(image, canvas, 'all'), null);
    engine.nativeDetector = { detect: async () => [{ rawValue: 'N', format: 'aztec' }] };
    assert.deepEqual(await engine.decodeImageData(image, canvas, 'all'), { text: 'N', format: 'AZTEC', engines: ['native'] });
  });
});

describe('scanVideoFrame region of interest', () => {
  const regionDraw = async (video, digitalZoom) => {
    const { engine } = scriptedEngine();
    await engine.scanVideoFrame(video, { frameIndex: 1, digitalZoom });
    return engine.roiContext.draws[0];
  };

  it('takes the centre 84% x 52%, processed at most 960 wide', async () => {
    assert.deepEqual(await regionDraw(HD, 1), [154, 259, 1613, 562, 0, 0, 960, 334]);
    assert.deepEqual(await regionDraw(HD, 2), [557, 400, 806, 281, 0, 0, 806, 281]);
    assert.deepEqual(await regionDraw({ readyState: 2, videoWidth: 1080, videoHeight: 1920 }, 1), [87, 461, 907, 998, 0, 0, 907, 998]);
  });

  it('clamps the digital zoom to 1..4, treating a non-number as 1', async () => {
    const atOne = await regionDraw(HD, 1);
    assert.deepEqual(await regionDraw(HD, 0), atOne);
    assert.deepEqual(await regionDraw(HD, -3), atOne);
    assert.deepEqual(await regionDraw(HD, '2'), atOne);
    assert.deepEqual(await regionDraw(HD, NaN), atOne);
    assert.deepEqual(await regionDraw(HD, 7), await regionDraw(HD, 4));
    assert.deepEqual(await regionDraw(HD, 4), [759, 470, 403, 140, 0, 0, 403, 140]);
  });

  it('yields null without touching the canvases while the video is not ready', async () => {
    for (const video of [null, { readyState: 1, videoWidth: 1920, videoHeight: 1080 }, { readyState: 4, videoWidth: 0, videoHeight: 0 }]) {
      const { engine, calls } = scriptedEngine();
      assert.equal(await engine.scanVideoFrame(video, { frameIndex: 1 }), null);
      assert.equal(engine.roiCanvas, null);
      assert.equal(calls.length, 0);
    }
  });

  it('creates its canvases once, with the read-back hint', async () => {
    const { engine } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex: 4 });
    const { roiCanvas, fullCanvas } = engine;
    await engine.scanVideoFrame(HD, { frameIndex: 8 });
    assert.equal(engine.roiCanvas, roiCanvas);
    assert.equal(engine.fullCanvas, fullCanvas);
    assert.deepEqual(roiCanvas.contextOptions, { willReadFrequently: true });
    assert.deepEqual(fullCanvas.contextOptions, { willReadFrequently: true });
  });
});

describe('scanVideoFrame pass schedule', () => {
  // What each decode of a frame looks like: region (fast/thorough), contrast, full frame.
  async function passesOf(frameIndex) {
    const { engine, calls } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex });
    return calls.filter((c) => c.engine === 'wasm').map(({ image, options }) => {
      if (image.width === 840) return `full:${options.tryHarder ? 'hard' : 'fast'}`;
      if (image.data[3] === 255 && image.data[0] === 0) return `contrast:${options.tryHarder ? 'hard' : 'fast'}`;
      return `roi:${options.tryHarder ? 'hard' : 'fast'}`;
    });
  }

  it('spreads the expensive passes over a 12-frame cycle', async () => {
    const expected = {
      1: ['roi:hard', 'contrast:hard'], 2: ['roi:fast'], 3: ['roi:hard'], 4: ['roi:fast', 'contrast:hard', 'full:fast'],
      5: ['roi:hard'], 6: ['roi:fast'], 7: ['roi:hard', 'contrast:hard'], 8: ['roi:fast', 'full:fast'],
      9: ['roi:hard'], 10: ['roi:fast', 'contrast:hard'], 11: ['roi:hard'], 12: ['roi:fast', 'full:fast'],
      13: ['roi:hard', 'contrast:hard'], 0: ['roi:fast', 'full:fast'],
    };
    for (const [index, passes] of Object.entries(expected)) assert.deepEqual(await passesOf(Number(index)), passes, `frame ${index}`);
  });

  it('never gives the contrast-stretched image to the native detector', async () => {
    const { engine, calls } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex: 4 });
    const native = calls.filter((c) => c.engine === 'native').map((c) => c.canvas);
    assert.deepEqual(native, [engine.roiCanvas, engine.fullCanvas]);
  });

  it('draws the full frame at most 840 wide', async () => {
    const { engine } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex: 8 });
    assert.deepEqual(engine.fullContext.draws, [[0, 0, 840, 473]]);
    const small = scriptedEngine();
    await small.engine.scanVideoFrame({ readyState: 4, videoWidth: 640, videoHeight: 480 }, { frameIndex: 8 });
    assert.deepEqual(small.engine.fullContext.draws, [[0, 0, 640, 480]]);
  });

  it('stops at the first pass that finds a code and names it', async () => {
    const fullOnly = (image) => (image.width === 840 ? [{ text: 'QR-TEXT', format: 'QRCode' }] : NO_CODE);
    const cases = [
      [1, () => [{ text: 'A', format: 'Code128' }], 'roi-hard', 1],
      [2, () => [{ text: 'A', format: 'Code128' }], 'roi-fast', 1],
      [1, (image) => (image.data[0] === 0 ? [{ text: 'A', format: 'Code128' }] : NO_CODE), 'enhanced-roi', 2],
      [4, fullOnly, 'full', 3],
    ];
    for (const [frameIndex, wasm, pass, decodes] of cases) {
      const { engine, calls } = scriptedEngine({ wasm });
      const hit = await engine.scanVideoFrame(HD, { frameIndex });
      assert.equal(hit.pass, pass);
      assert.equal(hit.sharpness, 0); // the fake frame is uniform grey
      assert.equal(calls.filter((c) => c.engine === 'wasm').length, decodes);
    }
  });
});

describe('adaptive pass schedule', () => {
  const CHEAP = (index) => framePasses(index);

  it('puts the preferred pass first, adding at most one decode to a frame', () => {
    assert.deepEqual(framePasses(2, 'full'), ['full', 'roi-fast']);
    assert.deepEqual(framePasses(4, 'full'), ['full', 'roi-fast', 'enhanced-roi']);
    assert.deepEqual(framePasses(3, 'enhanced-roi'), ['enhanced-roi', 'roi-hard']);
    assert.deepEqual(framePasses(1, 'enhanced-roi'), ['enhanced-roi', 'roi-hard']);
    // A thorough region pass stands in for the fast one rather than adding to it.
    assert.deepEqual(framePasses(2, 'roi-hard'), ['roi-hard']);
    assert.deepEqual(framePasses(8, 'roi-hard'), ['roi-hard', 'full']);
    for (const preferred of ['roi-hard', 'enhanced-roi', 'full']) {
      for (let index = 0; index < 12; index += 1) {
        const passes = framePasses(index, preferred);
        assert.ok(passes.length <= CHEAP(index).length + 1, `${preferred} at frame ${index}`);
        assert.equal(new Set(passes).size, passes.length);
      }
    }
  });

  it('keeps the cheap schedule without a preference, or with the fast region pass or a bad name', () => {
    for (let index = 0; index < 12; index += 1) {
      for (const preferred of [null, 'roi-fast', 'photo', undefined]) assert.deepEqual(framePasses(index, preferred), CHEAP(index));
    }
  });

  it('follows the pass that read the code until it misses three frames in a row', () => {
    // Frame by frame: the pass that read (null: none), and the pass preferred afterwards.
    const frames = [
      ['roi-fast', null], ['full', 'full'], ['full', 'full'], [null, 'full'], ['roi-fast', 'full'], ['full', 'full'],
      [null, 'full'], [null, 'full'], [null, null], ['roi-hard', 'roi-hard'], ['enhanced-roi', 'enhanced-roi'],
      [null, 'enhanced-roi'], ['roi-hard', 'roi-hard'],
    ];
    let preference = NO_PASS_PREFERENCE;
    frames.forEach(([hit, expected], frame) => {
      preference = nextPassPreference(preference, hit);
      assert.equal(preference.pass, expected, `frame ${frame}`);
    });
  });

  it('reads a code only the whole frame holds on every frame after the first read', async () => {
    const fullOnly = (image) => (image.width === 840 ? [{ text: 'QR-TEXT', format: 'QRCode' }] : NO_CODE);
    const { engine, calls } = scriptedEngine({ wasm: fullOnly });
    const passes = [];
    for (let frameIndex = 1; frameIndex <= 9; frameIndex += 1) {
      const before = calls.length;
      passes.push((await engine.scanVideoFrame(HD, { frameIndex }))?.pass ?? null);
      const decodes = calls.slice(before).filter((c) => c.engine === 'wasm').length;
      assert.ok(decodes <= CHEAP(frameIndex).length + 1, `frame ${frameIndex}: ${decodes} decodes`);
    }
    assert.deepEqual(passes, [null, null, null, 'full', 'full', 'full', 'full', 'full', 'full']);

    // The code leaves the view: three misses and the cheap schedule is back.
    engine.zxingReadBarcodes = async () => NO_CODE;
    for (let frameIndex = 10; frameIndex <= 12; frameIndex += 1) await engine.scanVideoFrame(HD, { frameIndex });
    assert.deepEqual(engine.passPreference, NO_PASS_PREFERENCE);
  });
});

describe('enhanceContrast', () => {
  const engine = new BarcodeScannerEngine();
  const pixels = (values) => ({
    data: new Uint8ClampedArray(values.flatMap(([r, g, b, a = 200]) => [r, g, b, a])),
    width: values.length,
    height: 1,
  });

  it('stretches the sampled luminance range to 0..255 in grey', () => {
    // Pixels 0 and 4 are sampled (every fourth): luminance 100 and 200; pixel 2 (50) is not.
    const input = pixels([[100, 100, 100], [140, 140, 140], [50, 50, 50], [120, 120, 120], [200, 200, 200]]);
    const copy = new Uint8ClampedArray(input.data);
    const out = engine.enhanceContrast(input);
    assert.deepEqual([...out.data], [0, 0, 0, 255, 102, 102, 102, 255, 0, 0, 0, 255, 51, 51, 51, 255, 255, 255, 255, 255]);
    assert.deepEqual(input.data, copy, 'input unchanged');
    assert.notEqual(out.data, input.data);
    assert.deepEqual([out.width, out.height], [5, 1]);
  });

  it('uses at least a range of 24 so a flat image is not blown up', () => {
    const out = engine.enhanceContrast(pixels([[100, 100, 100], [110, 110, 110], [0, 0, 0], [0, 0, 0], [110, 110, 110]]));
    // min 100, max 110 -> range 24, scale 10.625: 110 -> 106.25
    assert.deepEqual([...out.data.slice(0, 8)], [0, 0, 0, 255, 106, 106, 106, 255]);
  });

  it('weighs colours by luminance', () => {
    const out = engine.enhanceContrast(pixels([[0, 0, 0], [255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 255]]));
    assert.deepEqual([out.data[4], out.data[8], out.data[12]], [76, 150, 29]);
  });
});

describe('engine loading', () => {
  let restore = [];
  afterEach(() => {
    restore.forEach((undo) => undo());
    restore = [];
  });

  it('fails with the offline message and retries on the next call', async () => {
    // Node refuses https: module URLs, so both CDN sources fail here without any traffic.
    const engine = new BarcodeScannerEngine();
    await assert.rejects(engine.initEngines(), {
      message: 'Could not load ZXing-WASM decoder and native BarcodeDetector is unavailable. Check your internet connection.',
    });
    assert.deepEqual(engine.getEngineInfo(), { ready: false, engines: [], dualEngine: false, label: 'Unavailable' });

    let created = null;
    restore.push(setGlobal('BarcodeDetector', class {
      constructor(options) { created = options; }
      static async getSupportedFormats() { return ['ean_13', 'qr_code']; }
    }));
    assert.deepEqual(await engine.initEngines(), { ready: true, engines: ['Native BarcodeDetector'], dualEngine: false, label: 'Native BarcodeDetector' });
    assert.deepEqual(created, { formats: ['ean_13', 'qr_code'] });
  });

  it('skips a native detector that supports no format', async () => {
    restore.push(setGlobal('BarcodeDetector', class { static async getSupportedFormats() { return []; } }));
    const engine = new BarcodeScannerEngine();
    await assert.rejects(engine.initEngines());
    assert.equal(engine.nativeDetector, null);
  });

  it('answers at once when ready and labels both decoders', async () => {
    const { engine } = scriptedEngine();
    assert.deepEqual(await engine.initEngines(), {
      ready: true, engines: ['ZXing-WASM', 'Native BarcodeDetector'], dualEngine: true, label: 'ZXing-WASM + Native BarcodeDetector',
    });
  });
});

describe('camera control', () => {
  let restore = [];
  let log;

  function fakeTrack(capabilities) {
    return {
      stopped: false,
      getCapabilities: () => capabilities,
      async applyConstraints(constraints) {
        log.push(['apply', constraints.advanced[0]]);
        if (capabilities.reject) throw new Error('OverconstrainedError');
      },
      stop() { this.stopped = true; log.push(['stop']); },
    };
  }

  function installCamera(capabilities, { failFirst = false, failAll = false } = {}) {
    const track = fakeTrack(capabilities);
    const requests = [];
    restore.push(setGlobal('navigator', {
      mediaDevices: {
        async getUserMedia(constraints) {
          requests.push(constraints);
          if (failAll || (failFirst && requests.length === 1)) throw new Error('NotAllowedError');
          return { getVideoTracks: () => [track], getTracks: () => [track] };
        },
      },
    }));
    return { track, requests };
  }

  const video = () => ({
    videoWidth: 1280, videoHeight: 720, attributes: {},
    setAttribute(name, value) { this.attributes[name] = value; },
    async play() { this.playing = true; },
  });

  beforeEach(() => { log = []; });
  afterEach(() => {
    restore.forEach((undo) => undo());
    restore = [];
  });

  it('asks for the rear camera at up to 1080p 30 fps and reports its abilities', async () => {
    const { requests } = installCamera({ torch: true, zoom: { min: 1, max: 10, step: 0.5 }, focusMode: ['continuous', 'manual'] });
    const engine = new BarcodeScannerEngine();
    const el = video();
    const info = await engine.startCamera(el);
    assert.deepEqual(requests, [{
      audio: false,
      video: {
        facingMode: { ideal: 'environment' }, width: { ideal: 1920, min: 640 }, height: { ideal: 1080, min: 480 },
        frameRate: { ideal: 30, min: 15 },
      },
    }]);
    assert.deepEqual(info, { width: 1280, height: 720, torchSupported: true, zoomSupported: true, zoomMin: 1, zoomMax: 6, zoomStep: 0.5 });
    assert.equal(el.muted, true);
    assert.equal(el.playsInline, true);
    assert.equal(el.playing, true);
    assert.deepEqual(log, [['apply', { focusMode: 'continuous' }]]);
  });

  it('retries once with only the facing mode, and reports defaults without capabilities', async () => {
    const { requests } = installCamera({}, { failFirst: true });
    const engine = new BarcodeScannerEngine();
    const info = await engine.startCamera(video());
    assert.deepEqual(requests[1], { audio: false, video: { facingMode: 'environment' } });
    assert.deepEqual(info, { width: 1280, height: 720, torchSupported: false, zoomSupported: false, zoomMin: 1, zoomMax: 1, zoomStep: 0.1 });
    assert.deepEqual(log, [], 'no focus constraint without focus capabilities');
  });

  it('passes the second refusal to the caller', async () => {
    installCamera({}, { failAll: true });
    await assert.rejects(new BarcodeScannerEngine().startCamera(video()), { message: 'NotAllowedError' });
  });

  it('explains a missing camera interface', async () => {
    restore.push(setGlobal('navigator', {}));
    restore.push(setGlobal('isSecureContext', false));
    restore.push(setGlobal('location', { hostname: '192.168.1.5' }));
    await assert.rejects(new BarcodeScannerEngine().startCamera(video()), {
      message: 'Camera streaming unavailable. Live video requires HTTPS on mobile browsers. Use the "Scan Photo" button below (works over plain HTTP!), or open via HTTPS.',
    });
    restore.push(setGlobal('location', { hostname: 'localhost' }));
    await assert.rejects(new BarcodeScannerEngine().startCamera(video()), {
      message: 'Camera streaming unavailable. Open this app over HTTPS or localhost on a device with a camera.',
    });
  });

  it('clamps zoom to the camera\'s own range and ignores it without zoom', async () => {
    installCamera({ zoom: { min: 1, max: 10, step: 0.1 } });
    const engine = new BarcodeScannerEngine();
    await engine.startCamera(video());
    await engine.setZoom(12);
    await engine.setZoom(0.5);
    await engine.setZoom(3);
    assert.deepEqual(log.map((entry) => entry[1].zoom), [10, 1, 3]);

    log = [];
    installCamera({});
    await engine.startCamera(video());
    log = [];
    await engine.setZoom(2);
    assert.deepEqual(log, []);
  });

  it('reports the torch state in force', async () => {
    installCamera({});
    const plain = new BarcodeScannerEngine();
    assert.equal(await plain.setTorch(true), false, 'no track yet');
    await plain.startCamera(video());
    log = [];
    assert.equal(await plain.setTorch(true), false);
    assert.deepEqual(log, [], 'nothing applied without torch support');

    installCamera({ torch: true });
    const lit = new BarcodeScannerEngine();
    await lit.startCamera(video());
    assert.equal(await lit.setTorch(true), true);
    assert.equal(await lit.setTorch(false), false);

    installCamera({ torch: true, reject: true });
    const refused = new BarcodeScannerEngine();
    await refused.startCamera(video());
    assert.equal(await refused.setTorch(true), false);
  });

  it('switches the torch off before releasing the camera', async () => {
    const { track } = installCamera({ torch: true });
    const engine = new BarcodeScannerEngine();
    await engine.startCamera(video());
    log = [];
    await engine.stopCamera();
    assert.deepEqual(log, [['apply', { torch: false }], ['stop']]);
    assert.equal(track.stopped, true);
    assert.deepEqual([engine.stream, engine.videoTrack, engine.capabilities], [null, null, {}]);
  });

  it('refocuses with a single shot, then continuous focus 450 ms later', async () => {
    const clock = installFakeClock();
    try {
      installCamera({ focusMode: ['single-shot', 'continuous'], exposureMode: ['continuous'] });
      const engine = new BarcodeScannerEngine();
      await engine.startCamera(video());
      log = [];
      await engine.triggerRefocus();
      assert.deepEqual(log, [['apply', { focusMode: 'single-shot' }]]);
      clock.tick(449);
      assert.equal(log.length, 1);
      clock.tick(1);
      await Promise.resolve();
      assert.deepEqual(log[1], ['apply', { focusMode: 'continuous', exposureMode: 'continuous' }]);
    } finally {
      clock.uninstall();
    }
  });

  it('refocuses continuously without single-shot, and not at all without focus modes', async () => {
    installCamera({ focusMode: ['continuous'] });
    const engine = new BarcodeScannerEngine();
    await engine.startCamera(video());
    log = [];
    await engine.triggerRefocus();
    assert.deepEqual(log, [['apply', { focusMode: 'continuous' }]]);

    installCamera({ exposureMode: ['continuous'] });
    await engine.startCamera(video());
    log = [];
    await engine.triggerRefocus();
    assert.deepEqual(log, []);
  });
});

describe('scanImageFile', () => {
  let restore = [];
  afterEach(() => {
    restore.forEach((undo) => undo());
    restore = [];
  });

  function installBitmap(width, height) {
    const bitmap = { width, height, closed: false, close() { this.closed = true; } };
    restore.push(setGlobal('createImageBitmap', async () => bitmap));
    return bitmap;
  }

  it('scales a large photo to 1800 on its longer side and releases the bitmap', async () => {
    const bitmap = installBitmap(4000, 3000);
    const { engine } = scriptedEngine({ wasm: () => [{ text: '96385074', format: 'EAN-8' }] });
    const hit = await engine.scanImageFile({}, { mode: 'linear' });
    assert.deepEqual(engine.fullContext.draws, [[0, 0, 1800, 1350]]);
    assert.deepEqual(hit, { text: '96385074', format: 'EAN-8', engines: ['zxing-wasm'], sharpness: 0, pass: 'photo' });
    assert.equal(bitmap.closed, true);
  });

  it('tries the contrast-stretched image with the WebAssembly reader alone', async () => {
    installBitmap(1000, 3000);
    const { engine, calls } = scriptedEngine();
    assert.equal(await engine.scanImageFile({}), null);
    assert.deepEqual(engine.fullContext.draws, [[0, 0, 600, 1800]]);
    assert.deepEqual(calls.map((c) => c.engine), ['wasm', 'native', 'wasm']);
    assert.ok(calls.every((c) => c.engine === 'native' || c.options.tryHarder));
  });

  it('releases the bitmap when reading pixels fails', async () => {
    const bitmap = installBitmap(800, 600);
    const { engine } = scriptedEngine();
    engine.ensureCanvases();
    engine.fullContext.getImageData = () => { throw new Error('canvas tainted'); };
    await assert.rejects(engine.scanImageFile({}), { message: 'canvas tainted' });
    assert.equal(bitmap.closed, true);
  });
});
