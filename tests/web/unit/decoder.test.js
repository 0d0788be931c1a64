import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { setGlobal, installFakeClock } from '../helpers/globals.js';
import { Decoders, SCAN_MODES, zxingSources, loadZxingReader } from '../../../web/scan/decoder.js';

const NO_CODE = [];

// Decoders whose two readers are scripted: each answers with the list a callback returns.
function scriptedDecoders({ wasm = () => NO_CODE, native = () => NO_CODE } = {}) {
  const decoders = new Decoders();
  const calls = [];
  decoders.zxingReadBarcodes = async (image, options) => {
    calls.push({ engine: 'wasm', image, options });
    return wasm(image, options);
  };
  decoders.nativeDetector = {
    detect: async (canvas) => {
      calls.push({ engine: 'native', canvas });
      return native(canvas);
    },
  };
  decoders.ready = true;
  return { decoders, calls };
}

describe('scan modes', () => {
  it('restrict the WebAssembly reader to the mode\'s formats', async () => {
    const { decoders, calls } = scriptedDecoders();
    const image = { data: new Uint8ClampedArray(4), width: 1, height: 1 };
    await decoders.decode(image, null, 'linear', { tryHarder: false });
    await decoders.decode(image, null, 'matrix');
    await decoders.decode(image, null, 'all');
    await decoders.decode(image, null, 'nonsense');
    await decoders.decode(image, null, 'constructor');
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

describe('decode merges the two decoders', () => {
  const image = { data: new Uint8ClampedArray(4), width: 1, height: 1 };
  const canvas = { id: 'canvas' };

  it('credits both engines when they read the same text', async () => {
    const { decoders } = scriptedDecoders({
      wasm: () => [{ text: '4006381333931', format: 'EAN-13' }],
      native: () => [{ rawValue: '4006381333931', format: 'ean_13' }],
    });
    assert.deepEqual(await decoders.decode(image, canvas, 'all'), {
      text: '4006381333931', format: 'EAN-13', engines: ['zxing-wasm', 'native'],
    });
  });

  it('compares UPC readings in printed form, so the expanded and the short form agree', async () => {
    const { decoders } = scriptedDecoders({
      wasm: () => [{ text: '0012345000065', format: 'UPC-E' }],
      native: () => [{ rawValue: '01234565', format: 'upc_e' }],
    });
    assert.deepEqual(await decoders.decode(image, canvas, 'all'), { text: '01234565', format: 'UPC-E', engines: ['zxing-wasm', 'native'] });
    const upca = scriptedDecoders({ wasm: () => [{ text: '0036000291452', format: 'EAN-13' }] });
    assert.deepEqual(await upca.decoders.decode(image, null, 'linear'), { text: '036000291452', format: 'UPC-A', engines: ['zxing-wasm'] });
  });

  it('keeps the WebAssembly reading when the two disagree', async () => {
    const { decoders } = scriptedDecoders({
      wasm: () => [{ text: 'ABC', format: 'Code128' }],
      native: () => [{ rawValue: 'ABD', format: 'code_128' }],
    });
    assert.deepEqual(await decoders.decode(image, canvas, 'all'), { text: 'ABC', format: 'CODE-128', engines: ['zxing-wasm'] });
  });

  it('returns a native-only reading, even outside the mode\'s formats', async () => {
    const { decoders } = scriptedDecoders({ native: () => [{ rawValue: 'https://q.test', format: 'qr_code' }] });
    assert.deepEqual(await decoders.decode(image, canvas, 'linear'), { text: 'https://q.test', format: 'QR-CODE', engines: ['native'] });
  });

  it('counts a throwing decoder or an empty text as nothing found', async () => {
    const { decoders } = scriptedDecoders({
      wasm: () => { throw new Error('wasm trap'); },
      native: () => [{ rawValue: '', format: 'qr_code' }, { rawValue: 'second', format: 'qr_code' }],
    });
    assert.equal(await decoders.decode(image, canvas, 'all'), null);
  });

  it('runs the native detector only when a canvas is given', async () => {
    const { decoders, calls } = scriptedDecoders({ native: () => [{ rawValue: 'X', format: 'qr_code' }] });
    assert.equal(await decoders.decode(image, null, 'all'), null);
    assert.deepEqual(calls.map((c) => c.engine), ['wasm']);
  });

  it('works with either decoder missing', async () => {
    const decoders = new Decoders();
    assert.equal(await decoders.decode(image, canvas, 'all'), null);
    decoders.nativeDetector = { detect: async () => [{ rawValue: 'N', format: 'aztec' }] };
    assert.deepEqual(await decoders.decode(image, canvas, 'all'), { text: 'N', format: 'AZTEC', engines: ['native'] });
  });
});

describe('decoder loading', () => {
  let restore = [];
  afterEach(() => {
    restore.forEach((undo) => undo());
    restore = [];
  });

  it('fails with the offline message and retries on the next call', async () => {
    // Node refuses https: module URLs, so both CDN sources fail here without any traffic.
    const decoders = new Decoders();
    await assert.rejects(decoders.load(), {
      message: 'Could not load ZXing-WASM decoder and native BarcodeDetector is unavailable. Check your internet connection.',
    });
    assert.deepEqual(decoders.info(), { ready: false, engines: [], dualEngine: false, label: 'Unavailable', zxingSource: null });

    let created = null;
    restore.push(setGlobal('BarcodeDetector', class {
      constructor(options) { created = options; }
      static async getSupportedFormats() { return ['ean_13', 'qr_code']; }
    }));
    assert.deepEqual(await decoders.load(), {
      ready: true, engines: ['Native BarcodeDetector'], dualEngine: false, label: 'Native BarcodeDetector', zxingSource: null,
    });
    assert.deepEqual(created, { formats: ['ean_13', 'qr_code'] });
  });

  it('skips a native detector that supports no format', async () => {
    restore.push(setGlobal('BarcodeDetector', class { static async getSupportedFormats() { return []; } }));
    const decoders = new Decoders();
    await assert.rejects(decoders.load());
    assert.equal(decoders.nativeDetector, null);
  });

  it('answers at once when ready and labels both decoders', async () => {
    const { decoders } = scriptedDecoders();
    assert.deepEqual(await decoders.load(), {
      ready: true, engines: ['ZXing-WASM', 'Native BarcodeDetector'], dualEngine: true, label: 'ZXing-WASM + Native BarcodeDetector',
      zxingSource: null,
    });
  });
});

describe('decoder sources', () => {
  const pinned = JSON.parse(readFileSync(new URL('../../../decoder/package.json', import.meta.url))).dependencies['zxing-wasm'];

  it('puts the serving receiver\'s own copy, of the version it embeds, before the two CDNs', () => {
    const sources = zxingSources('https://192.168.1.25:8080/scan/decoder.js');
    assert.deepEqual(sources.map((source) => source.name), ['this receiver', 'cdn.jsdelivr.net', 'unpkg.com']);
    assert.equal(sources[0].moduleUrl, `https://192.168.1.25:8080/vendor/zxing-wasm@${pinned}/dist/es/reader/index.js`);
    assert.equal(sources[0].packageRoot, `https://192.168.1.25:8080/vendor/zxing-wasm@${pinned}/`);
    for (const source of sources.slice(1)) assert.ok(source.moduleUrl.includes(`/zxing-wasm@${pinned}/`), source.moduleUrl);
    assert.equal(zxingSources('http://localhost:8080/scan/decoder.js')[0].moduleUrl, `http://localhost:8080/vendor/zxing-wasm@${pinned}/dist/es/reader/index.js`);
    assert.deepEqual(zxingSources('file:///sdcard/scan/decoder.js').map((source) => source.name), ['cdn.jsdelivr.net', 'unpkg.com']);
  });

  it('gives up on a source after 8 s, and skips one without a reader or whose .wasm fails', async () => {
    const clock = installFakeClock();
    try {
      const readBarcodes = () => [];
      const modules = {
        hangs: () => new Promise(() => {}),
        empty: async () => ({}),
        brokenWasm: async () => ({ readBarcodes, prepareZXingModule: async () => { throw new Error('404'); } }),
        good: async () => ({ readBarcodes, prepareZXingModule: async () => {} }),
      };
      const asked = [];
      const source = (name) => ({ name, moduleUrl: name, packageRoot: `${name}/` });
      const pending = loadZxingReader(['empty', 'brokenWasm', 'hangs', 'good'].map(source), (url) => {
        asked.push(url);
        return modules[url]();
      });
      for (let turn = 0; turn < 10; turn += 1) await new Promise(setImmediate);
      clock.tick(7999);
      await new Promise(setImmediate);
      assert.deepEqual(asked, ['empty', 'brokenWasm', 'hangs'], 'still waiting for the third source');
      clock.tick(1);
      assert.deepEqual(await pending, { readBarcodes, source: 'good' });
      assert.deepEqual(asked, ['empty', 'brokenWasm', 'hangs', 'good']);
      assert.equal(clock.pending(), 0, 'no timer left behind');
    } finally {
      clock.uninstall();
    }
  });
});
