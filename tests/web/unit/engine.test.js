import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { installFakeCanvas } from '../helpers/fake-canvas.js';
import { setGlobal } from '../helpers/globals.js';
import { BarcodeScannerEngine } from '../../../web/scan/engine.js';
import { framePasses, NO_PASS_PREFERENCE } from '../../../web/scan/passes.js';

installFakeCanvas();

const HD = { readyState: 4, videoWidth: 1920, videoHeight: 1080 };
const NO_CODE = [];

// An engine whose two decoders are scripted: each answers with the list a callback returns.
function scriptedEngine({ wasm = () => NO_CODE, native = () => NO_CODE } = {}) {
  const engine = new BarcodeScannerEngine();
  const calls = [];
  engine.decoders.zxingReadBarcodes = async (image, options) => {
    calls.push({ engine: 'wasm', image, options });
    return wasm(image, options);
  };
  engine.decoders.nativeDetector = {
    detect: async (canvas) => {
      calls.push({ engine: 'native', canvas });
      return native(canvas);
    },
  };
  engine.decoders.ready = true;
  return { engine, calls };
}

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
      if (image.width === 840 || image.width === 1280) return `full:${options.tryHarder ? 'hard' : 'fast'}`;
      if (image.data[3] === 255 && image.data[0] === 0) return `contrast:${options.tryHarder ? 'hard' : 'fast'}`;
      return `roi:${options.tryHarder ? 'hard' : 'fast'}`;
    });
  }

  it('spreads the expensive passes over a 12-frame cycle', async () => {
    const expected = {
      1: ['roi:hard', 'contrast:hard'], 2: ['roi:fast', 'full:fast', 'full:hard'], 3: ['roi:hard'], 4: ['roi:fast', 'contrast:hard', 'full:fast'],
      5: ['roi:hard'], 6: ['roi:fast'], 7: ['roi:hard', 'contrast:hard'], 8: ['roi:fast', 'full:fast', 'full:hard'],
      9: ['roi:hard'], 10: ['roi:fast', 'contrast:hard'], 11: ['roi:hard'], 12: ['roi:fast', 'full:fast'],
      13: ['roi:hard', 'contrast:hard'], 14: ['roi:fast', 'full:fast', 'full:hard'], 0: ['roi:fast', 'full:fast'],
    };
    for (const [index, passes] of Object.entries(expected)) assert.deepEqual(await passesOf(Number(index)), passes, `frame ${index}`);
  });

  it('never gives the contrast-stretched image to the native detector', async () => {
    const { engine, calls } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex: 4 });
    const native = calls.filter((c) => c.engine === 'native').map((c) => c.canvas);
    assert.deepEqual(native, [engine.roiCanvas, engine.fullCanvas]);
  });

  it('draws the full frame at most 840 wide, and 1280 for the thorough pass', async () => {
    const { engine } = scriptedEngine();
    await engine.scanVideoFrame(HD, { frameIndex: 8 });
    assert.deepEqual(engine.fullContext.draws, [[0, 0, 840, 473], [0, 0, 1280, 720]]);
    const small = scriptedEngine();
    await small.engine.scanVideoFrame({ readyState: 4, videoWidth: 640, videoHeight: 480 }, { frameIndex: 8 });
    assert.deepEqual(small.engine.fullContext.draws, [[0, 0, 640, 480], [0, 0, 640, 480]]);
  });

  it('stops at the first pass that finds a code and names it', async () => {
    const fullOnly = (image) => (image.width === 840 ? [{ text: 'QR-TEXT', format: 'QRCode' }] : NO_CODE);
    const cases = [
      [1, () => [{ text: 'A', format: 'Code128' }], 'roi-hard', 1],
      [2, () => [{ text: 'A', format: 'Code128' }], 'roi-fast', 1],
      [1, (image) => (image.data[0] === 0 ? [{ text: 'A', format: 'Code128' }] : NO_CODE), 'enhanced-roi', 2],
      [4, fullOnly, 'full', 3],
      // Thorough, but without the inverted and downscaled searches.
      [2, (image, o) => (o.tryHarder && !o.tryInvert && !o.tryDownscale && image.width === 1280 ? [{ text: 'A', format: 'EAN-8' }] : NO_CODE), 'full-hard', 3],
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

describe('adaptive pass schedule on camera frames', () => {
  const CHEAP = (index) => framePasses(index);

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
    assert.deepEqual(passes, [null, 'full', 'full', 'full', 'full', 'full', 'full', 'full', 'full']);

    // The code leaves the view: three misses and the cheap schedule is back.
    engine.decoders.zxingReadBarcodes = async () => NO_CODE;
    for (let frameIndex = 10; frameIndex <= 12; frameIndex += 1) await engine.scanVideoFrame(HD, { frameIndex });
    assert.deepEqual(engine.passPreference, NO_PASS_PREFERENCE);
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
