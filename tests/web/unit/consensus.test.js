import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import {
  PRECISION_PRESETS,
  normalizeFormat,
  verifyGtinChecksum,
  verifyUpceChecksum,
  validateBarcodeIntegrity,
  normalizeReading,
  estimateSharpness,
  BarcodeConsensus,
} from '../../../web/scan/consensus.js';

const read = (text, extra = {}) => ({ text, format: 'Code128', engines: ['zxing-wasm'], ...extra });

function feed(tracker, readings) {
  return readings.map((reading) => tracker.addFrame(reading));
}

function image(width, height, pixel) {
  const data = new Uint8ClampedArray(width * height * 4);
  for (let y = 0; y < height; y += 1) {
    for (let x = 0; x < width; x += 1) {
      const [r, g, b] = pixel(x, y);
      data.set([r, g, b, 255], (y * width + x) * 4);
    }
  }
  return { data, width, height };
}

describe('precision presets', () => {
  it('hold the thresholds of each level', () => {
    assert.deepEqual(
      Object.values(PRECISION_PRESETS).map((p) => [p.id, p.minConfirmations, p.minAgreementRatio, p.minConfidence, p.windowSize]),
      [['fast', 3, 0.75, 82, 8], ['balanced', 5, 0.82, 90, 12], ['laser', 8, 0.88, 96, 16]],
    );
  });

  it('fall back to balanced for an unknown or missing name', () => {
    assert.equal(new BarcodeConsensus('turbo').preset.id, 'balanced');
    assert.equal(new BarcodeConsensus().preset.id, 'balanced');
    assert.equal(new BarcodeConsensus('toString').preset.id, 'balanced');
  });
});

describe('normalizeFormat', () => {
  it('puts both decoders\' names into one bucket', () => {
    const cases = [
      ['ean_13', 'EAN-13'], ['EAN-13', 'EAN-13'], ['Ean 13', 'EAN-13'], ['ean_8', 'EAN-8'],
      ['upc_a', 'UPC-A'], ['UPC-E', 'UPC-E'], ['Code128', 'CODE-128'], ['code_128', 'CODE-128'],
      ['code_39', 'CODE-39'], ['Code93', 'CODE-93'], ['codabar', 'CODABAR'], ['itf', 'ITF'],
      ['ITF-14', 'ITF-14'], ['DataBar', 'GS1-DATABAR'], ['DataBarExpanded', 'GS1-DATABAR-EXP'],
      ['DataBarLimited', 'GS1-DATABAR-LIM'], ['QRCode', 'QR-CODE'], ['qr_code', 'QR-CODE'],
      ['MicroQRCode', 'MICRO-QR'], ['rMQRCode', 'RMQR'], ['data_matrix', 'DATA-MATRIX'],
      ['pdf417', 'PDF417'], ['aztec', 'AZTEC'], ['MaxiCode', 'MAXICODE'],
    ];
    for (const [raw, expected] of cases) assert.equal(normalizeFormat(raw), expected, raw);
  });

  it('upper-cases the raw name when it is not in the table', () => {
    assert.equal(normalizeFormat('DXFilmEdge'), 'DXFILMEDGE');
    assert.equal(normalizeFormat('dx_film edge'), 'DX_FILM EDGE');
  });

  it('reports a missing name as UNKNOWN', () => {
    for (const raw of [undefined, null, '']) assert.equal(normalizeFormat(raw), 'UNKNOWN');
  });

  it('is stable on its own outputs', () => {
    for (const name of ['CODE-128', 'GS1-DATABAR-EXP', 'GS1-DATABAR-LIM', 'MICRO-QR', 'DATA-MATRIX', 'QR-CODE', 'RMQR']) {
      assert.equal(normalizeFormat(name), name);
      assert.equal(normalizeFormat(normalizeFormat(name.toLowerCase())), normalizeFormat(name.toLowerCase()));
    }
  });
});

describe('check digits', () => {
  it('pass and fail GS1 mod-10 codes of every length', () => {
    assert.equal(verifyGtinChecksum('4006381333931'), true);
    assert.equal(verifyGtinChecksum('4006381333932'), false);
    assert.equal(verifyGtinChecksum('96385074'), true);
    assert.equal(verifyGtinChecksum('036000291452'), true);
    assert.equal(verifyGtinChecksum('10012345678902'), true);
  });

  it('refuse wrong lengths and non-digits', () => {
    for (const bad of ['', '4006381333', '40063813339311', '400638133393A', ' 4006381333931', '1234567', null, undefined]) {
      assert.equal(verifyGtinChecksum(bad), false, String(bad));
    }
  });

  it('expand UPC-E to UPC-A before checking', () => {
    // Each row exercises another branch of the expansion (last data digit 0-2, 3, 4, 5-9).
    assert.equal(verifyUpceChecksum('01234565'), true); // d6=5 -> 01234500006 + 5
    assert.equal(verifyUpceChecksum('04252614'), true); // d6=1 -> 04210000526 + 4
    assert.equal(verifyUpceChecksum('01234133'), true); // d6=3 -> 01230000041 + 3
    assert.equal(verifyUpceChecksum('01234145'), true); // d6=4 -> 01234000001 + 5
    assert.equal(verifyUpceChecksum('01234566'), false);
  });

  it('refuse UPC-E codes with another number system or length', () => {
    for (const bad of ['21234565', '0123456', '012345650', '0123456a']) assert.equal(verifyUpceChecksum(bad), false, bad);
  });
});

describe('validateBarcodeIntegrity', () => {
  it('checks the retail symbologies by their check digit', () => {
    assert.deepEqual(validateBarcodeIntegrity('ean_13', '4006381333931'), { checked: true, valid: true, reason: 'EAN-13 checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('EAN-13', '4006381333932'), { checked: true, valid: false, reason: 'Invalid EAN-13 checksum' });
    assert.deepEqual(validateBarcodeIntegrity('EAN-13', '96385074'), { checked: true, valid: false, reason: 'Invalid EAN-13 checksum' });
    assert.deepEqual(validateBarcodeIntegrity('EAN-8', '96385074'), { checked: true, valid: true, reason: 'EAN-8 checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('UPC-A', '036000291452'), { checked: true, valid: true, reason: 'UPC-A checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('upc_e', '01234565'), { checked: true, valid: true, reason: 'UPC-E checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('UPC-E', '21234565'), { checked: true, valid: false, reason: 'Invalid UPC-E checksum' });
  });

  it('checks ITF as ITF-14 at 14 characters and by structure otherwise', () => {
    assert.deepEqual(validateBarcodeIntegrity('ITF', '10012345678902'), { checked: true, valid: true, reason: 'ITF-14 checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('ITF', '10012345678903'), { checked: true, valid: false, reason: 'Invalid ITF-14 checksum' });
    assert.deepEqual(validateBarcodeIntegrity('ITF-14', '4006381333931'), { checked: true, valid: true, reason: 'ITF-14 checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('ITF', '1234567890'), { checked: true, valid: true, reason: 'ITF structure valid' });
    assert.deepEqual(validateBarcodeIntegrity('ITF', '1234567'), { checked: true, valid: false, reason: 'Invalid ITF length/chars' });
    assert.deepEqual(validateBarcodeIntegrity('ITF', '12345A'), { checked: true, valid: false, reason: 'Invalid ITF length/chars' });
    assert.deepEqual(validateBarcodeIntegrity('ITF', '1234'), { checked: true, valid: false, reason: 'Invalid ITF length/chars' });
  });

  it('leaves self-checking symbologies unchecked and refuses an empty payload', () => {
    assert.deepEqual(validateBarcodeIntegrity('Code128', 'ABC-123'), { checked: false, valid: true, reason: 'Decoder verified' });
    assert.deepEqual(validateBarcodeIntegrity('QRCode', 'https://example.test'), { checked: false, valid: true, reason: 'Decoder verified' });
    assert.deepEqual(validateBarcodeIntegrity('EAN-13', ''), { checked: true, valid: false, reason: 'Empty payload' });
    assert.deepEqual(validateBarcodeIntegrity('QRCode', undefined), { checked: true, valid: false, reason: 'Empty payload' });
  });
});

describe('UPC readings in their printed form', () => {
  it('reports UPC-E as its 8 printed digits, from the 8-, 12- or 13-digit form', () => {
    // One code per expansion rule (last data digit 0-2, 3, 4, 5-9), as the decoder expands it.
    for (const [expanded, printed] of [
      ['0012345000065', '01234565'], ['0042100005264', '04252614'], ['0012300000413', '01234133'],
      ['0012340000015', '01234145'], ['012345000065', '01234565'], ['01234565', '01234565'],
    ]) {
      assert.deepEqual(normalizeReading('UPC-E', expanded), { format: 'UPC-E', text: printed }, expanded);
      assert.deepEqual(validateBarcodeIntegrity('upc_e', expanded), { checked: true, valid: true, reason: 'UPC-E checksum valid' }, expanded);
    }
  });

  it('still rejects a 13-digit UPC-E that is no expansion or has a wrong check digit', () => {
    for (const bad of ['0012345600065', '1012345000062', '0212345000065', '0012345000066', '00123450000651', '4006381333931']) {
      assert.equal(validateBarcodeIntegrity('UPC-E', bad).valid, false, bad);
    }
    assert.deepEqual(normalizeReading('UPC-E', '0012345600065'), { format: 'UPC-E', text: '0012345600065' });
  });

  it('reports an EAN-13 with a leading 0 as the 12-digit UPC-A', () => {
    assert.deepEqual(normalizeReading('EAN-13', '0036000291452'), { format: 'UPC-A', text: '036000291452' });
    assert.deepEqual(validateBarcodeIntegrity('ean_13', '0036000291452'), { checked: true, valid: true, reason: 'UPC-A checksum valid' });
    assert.deepEqual(validateBarcodeIntegrity('EAN-13', '0036000291453'), { checked: true, valid: false, reason: 'Invalid UPC-A checksum' });
  });

  it('leaves other EAN-13s and every other format as they are', () => {
    assert.deepEqual(normalizeReading('ean_13', '4006381333931'), { format: 'EAN-13', text: '4006381333931' });
    assert.deepEqual(normalizeReading('UPC-A', '036000291452'), { format: 'UPC-A', text: '036000291452' });
    assert.deepEqual(normalizeReading('Code128', '0036000291452'), { format: 'CODE-128', text: '0036000291452' });
    assert.deepEqual(normalizeReading('EAN-8', '01234565'), { format: 'EAN-8', text: '01234565' });
    assert.deepEqual(normalizeReading('QRCode', undefined), { format: 'QR-CODE', text: '' });
  });

  it('lets both forms of one code vote together in the tracker', () => {
    const tracker = new BarcodeConsensus('fast');
    const state = feed(tracker, [
      { text: '0012345000065', format: 'UPC-E', engines: ['zxing-wasm'] },
      { text: '01234565', format: 'upc_e', engines: ['native'] },
      { text: '0012345000065', format: 'UPC-E', engines: ['zxing-wasm'] },
    ]).at(-1);
    assert.equal(state.locked, true);
    assert.deepEqual(state.leader, {
      format: 'UPC-E', text: '01234565', engines: ['zxing-wasm', 'native'], checksumVerified: true, integrityReason: 'UPC-E checksum valid',
    });
    const upca = feed(new BarcodeConsensus('fast'), [0, 1, 2].map(() => ({ text: '0036000291452', format: 'EAN-13' }))).at(-1);
    assert.deepEqual([upca.locked, upca.leader.format, upca.leader.text], [true, 'UPC-A', '036000291452']);
  });
});

describe('estimateSharpness', () => {
  it('is 0 for a uniform image and 50 for one too small to measure', () => {
    assert.equal(estimateSharpness(image(64, 48, () => [128, 128, 128])), 0);
    assert.equal(estimateSharpness(image(7, 100, (x) => [x * 30, 0, 0])), 50);
    assert.equal(estimateSharpness(image(100, 7, (x) => [x * 30, 0, 0])), 50);
  });

  it('is 0 with fewer than two sample points', () => {
    // 8 x 8 at step 2 visits x and y in {2, 4}: 4 points; 5 x 5 cannot be measured at all.
    assert.equal(estimateSharpness(image(8, 8, () => [9, 9, 9])), 0);
  });

  it('is the sample deviation of the Laplacian at the sampling step', () => {
    // Vertical stripes two pixels wide: at step 2 the samples alternate between two columns.
    const stripes = image(10, 10, (x) => ((x >> 1) % 2 ? [255, 255, 255] : [0, 0, 0]));
    // Sample x in {2,4,6}, y in {2,4,6}: column 2 (white) has dark neighbours at 0 and 4 -> -510,
    // column 4 (black) has white neighbours -> +510, column 6 (white) -> -510.
    const values = [-510, 510, -510, -510, 510, -510, -510, 510, -510];
    const mean = values.reduce((a, b) => a + b) / values.length;
    const expected = Math.sqrt(values.reduce((s, v) => s + (v - mean) ** 2, 0) / (values.length - 1));
    assert.ok(Math.abs(estimateSharpness(stripes) - expected) < 1e-9);
  });

  it('uses luminance weights and ignores alpha', () => {
    const red = image(20, 20, (x, y) => ((x + y) % 4 < 2 ? [255, 0, 0] : [0, 0, 0]));
    const green = image(20, 20, (x, y) => ((x + y) % 4 < 2 ? [0, 255, 0] : [0, 0, 0]));
    assert.ok(Math.abs(estimateSharpness(green) / estimateSharpness(red) - 0.587 / 0.299) < 1e-9);
    const transparent = { ...red, data: red.data.map((v, i) => (i % 4 === 3 ? 0 : v)) };
    assert.equal(estimateSharpness(transparent), estimateSharpness(red));
  });

  it('grows with edge contrast and widens its step on large images', () => {
    const soft = image(240, 240, (x) => { const v = (x % 8) * 20; return [v, v, v]; });
    const hard = image(240, 240, (x) => { const v = x % 8 < 4 ? 0 : 255; return [v, v, v]; });
    assert.ok(estimateSharpness(hard) > estimateSharpness(soft));
    // 960 x 334 samples with step 2; a uniform region there must still read 0.
    assert.equal(estimateSharpness(image(960, 334, () => [40, 40, 40])), 0);
  });
});

describe('BarcodeConsensus confidence per read', () => {
  const expected = {
    fast: [47, 71, 99],
    balanced: [37, 52, 69, 84, 99],
    laser: [31, 41, 53, 62, 71, 81, 90, 99],
  };
  for (const [preset, confidences] of Object.entries(expected)) {
    it(`${preset}: locks exactly at its last confirming read with 99`, () => {
      const tracker = new BarcodeConsensus(preset);
      const states = feed(tracker, confidences.map(() => read('ABC-123')));
      assert.deepEqual(states.map((s) => s.confidence), confidences);
      assert.deepEqual(states.map((s) => s.locked), confidences.map((_, i) => i === confidences.length - 1));
      const last = states.at(-1);
      assert.equal(last.confirmations, PRECISION_PRESETS[preset].minConfirmations);
      assert.equal(last.requiredConfirmations, PRECISION_PRESETS[preset].minConfirmations);
      assert.equal(last.agreementRatio, 1);
      assert.equal(last.streak, confidences.length);
      assert.deepEqual(last.leader, {
        format: 'CODE-128', text: 'ABC-123', engines: ['zxing-wasm'], checksumVerified: false, integrityReason: 'Decoder verified',
      });
    });
  }

  it('caps the confidence one below the threshold until enough reads confirm', () => {
    // Two engines on sharp EAN frames would score 74*4/5 + 22 + 4 + 3 + 3 = 91.2 on read 4.
    const tracker = new BarcodeConsensus('balanced');
    const ean = { text: '4006381333931', format: 'EAN-13', engines: ['zxing-wasm', 'native'], sharpness: 40 };
    const states = feed(tracker, [ean, ean, ean, ean, ean]);
    assert.equal(states[3].confidence, 89);
    assert.equal(states[3].locked, false);
    assert.equal(states[4].confidence, 100);
    assert.equal(states[4].locked, true);
    assert.equal(states[4].leader.checksumVerified, true);
    assert.equal(states[4].leader.integrityReason, 'EAN-13 checksum valid');
  });
});

describe('BarcodeConsensus agreement between candidates', () => {
  it('laser: a stray read before eight good ones still locks', () => {
    const tracker = new BarcodeConsensus('laser');
    const states = feed(tracker, [read('B'), ...Array(8).fill(read('A'))]);
    const last = states.at(-1);
    assert.equal(last.agreementRatio, 0.889);
    assert.equal(last.streak, 8);
    assert.equal(last.confidence, 97);
    assert.equal(last.locked, true);
  });

  it('laser: a stray read after eight good ones withholds the lock', () => {
    const tracker = new BarcodeConsensus('laser');
    const states = feed(tracker, [...Array(8).fill(read('A')), read('B')]);
    assert.equal(states[7].locked, true);
    const last = states.at(-1);
    assert.deepEqual([last.agreementRatio, last.streak, last.confidence, last.locked], [0.889, 0, 94, false]);
    assert.equal(last.leader.text, 'A');
  });

  it('balanced: 0.813 agreement stays unlocked at 95, 0.839 locks', () => {
    const tracker = new BarcodeConsensus('balanced');
    tracker.addFrame(read('B', { sharpness: 30 })); // weight 1.15
    const fifth = feed(tracker, Array(5).fill(read('A', { sharpness: 15 }))).at(-1); // weight 1.0
    assert.deepEqual([fifth.agreementRatio, fifth.confidence, fifth.locked], [0.813, 95, false]);
    const sixth = tracker.addFrame(read('A', { sharpness: 15 }));
    assert.deepEqual([sixth.agreementRatio, sixth.confidence, sixth.locked], [0.839, 95, true]);
  });

  it('weighs reads by engine agreement and sharpness', () => {
    const weightOf = (reading) => {
      const tracker = new BarcodeConsensus();
      tracker.addFrame(reading);
      return Math.round(tracker.samples[0].weight * 10000) / 10000;
    };
    const one = ['zxing-wasm'];
    const two = ['zxing-wasm', 'native'];
    assert.equal(weightOf(read('A', { engines: one, sharpness: 22 })), 1.15);
    assert.equal(weightOf(read('A', { engines: one, sharpness: 21.9 })), 1);
    assert.equal(weightOf(read('A', { engines: one, sharpness: 10 })), 1);
    assert.equal(weightOf(read('A', { engines: one, sharpness: 9.9 })), 0.65);
    assert.equal(weightOf(read('A', { engines: one })), 1.15); // missing sharpness counts as 30
    assert.equal(weightOf(read('A', { engines: two, sharpness: 30 })), 1.6);
    assert.equal(weightOf(read('A', { engines: two, sharpness: 10 })), 1.45);
    assert.equal(weightOf(read('A', { engines: two, sharpness: 0 })), 0.9425);
    assert.equal(weightOf({ text: 'A', format: 'Code128', sharpness: 15 }), 1); // no engines: one decoder
    const tracker = new BarcodeConsensus();
    tracker.addFrame({ text: 'A', format: 'Code128' });
    assert.deepEqual(tracker.samples[0].engines, ['zxing-wasm']);
  });

  it('breaks a weight tie in favour of the earlier candidate', () => {
    const tracker = new BarcodeConsensus('balanced');
    const state = feed(tracker, [read('A'), read('B'), read('B'), read('A')]).at(-1);
    assert.equal(state.leader.text, 'A');
    assert.equal(state.streak, 1);
    assert.equal(state.agreementRatio, 0.5);
  });

  it('gives the cross-engine bonus to reads by each decoder on different frames', () => {
    const tracker = new BarcodeConsensus('balanced');
    const state = feed(tracker, [
      read('A', { engines: ['native'], sharpness: 15 }),
      read('A', { engines: ['zxing-wasm'], sharpness: 15 }),
    ]).at(-1);
    assert.deepEqual(state.leader.engines, ['native', 'zxing-wasm']);
    assert.equal(state.confidence, 56); // 29.6 + 22 + 4
  });

  it('keeps the same text in different formats apart', () => {
    const tracker = new BarcodeConsensus('fast');
    const state = feed(tracker, [read('123456'), { text: '123456', format: 'QRCode' }, read('123456')]).at(-1);
    assert.equal(state.confirmations, 2);
    assert.equal(state.leader.format, 'CODE-128');
    assert.equal(state.locked, false);
  });
});

describe('BarcodeConsensus window and misses', () => {
  it('rejects a failed check digit without touching the window', () => {
    const tracker = new BarcodeConsensus('balanced');
    tracker.addFrame({ text: '4006381333931', format: 'ean_13' });
    const before = tracker.evaluate();
    const after = tracker.addFrame({ text: '4006381333932', format: 'ean_13' });
    assert.equal(after.rejectedChecksums, 1);
    assert.equal(after.framesProcessed, 2);
    assert.equal(after.confirmations, before.confirmations);
    assert.equal(after.confidence, before.confidence);
    assert.equal(tracker.samples.length, 1);
  });

  it('counts a null reading or an empty text as a miss', () => {
    const tracker = new BarcodeConsensus('balanced');
    const states = feed(tracker, [null, { text: '' }, undefined]);
    assert.deepEqual(states.map((s) => [s.framesProcessed, s.confidence, s.leader]), [[1, 0, null], [2, 0, null], [3, 0, null]]);
    assert.equal('streak' in states[0], false);
  });

  it('drops one old sample on misses at frames 6, 12, 18 only', () => {
    const tracker = new BarcodeConsensus('laser');
    feed(tracker, [read('A'), read('B'), read('C'), read('D')]); // frames 1-4
    const sizes = [];
    for (let frame = 5; frame <= 19; frame += 1) {
      tracker.addFrame(null);
      sizes.push([frame, tracker.samples.length]);
    }
    assert.deepEqual(sizes.filter(([, n], i, all) => i === 0 || n !== all[i - 1][1]), [[5, 4], [6, 3], [12, 2], [18, 1]]);
    assert.equal(tracker.evaluate().leader.text, 'D');
  });

  it('never trims an empty window and keeps hits on trim frames', () => {
    const tracker = new BarcodeConsensus('fast');
    feed(tracker, [null, null, null, null, null, null]);
    assert.equal(tracker.samples.length, 0);
    feed(tracker, [read('A'), read('A'), read('A'), read('A'), read('A'), read('A')]); // frame 12 is a hit
    assert.equal(tracker.samples.length, 6);
  });

  it('keeps at most windowSize samples, oldest dropped first', () => {
    const tracker = new BarcodeConsensus('fast');
    feed(tracker, [read('old'), ...Array(8).fill(read('new'))]);
    assert.equal(tracker.samples.length, 8);
    assert.equal(tracker.samples.every((s) => s.text === 'new'), true);
  });

  it('keeps the window on setPreset and shrinks it at the next sample', () => {
    const tracker = new BarcodeConsensus('laser');
    feed(tracker, Array(12).fill(read('A')));
    tracker.setPreset('fast');
    assert.equal(tracker.samples.length, 12);
    assert.equal(tracker.evaluate().requiredConfirmations, 3);
    tracker.addFrame(read('A'));
    assert.equal(tracker.samples.length, 8);
    assert.equal(tracker.framesProcessed, 13);
  });

  it('starts afresh after reset', () => {
    const tracker = new BarcodeConsensus('fast');
    feed(tracker, [read('A'), read('A'), { text: '4006381333932', format: 'EAN-13' }]);
    tracker.startedAt -= 5000;
    assert.ok(tracker.evaluate().elapsedMs >= 5000);
    tracker.reset();
    const state = tracker.evaluate();
    assert.deepEqual(
      [state.framesProcessed, state.confidence, state.leader, state.rejectedChecksums, state.locked],
      [0, 0, null, 0, false],
    );
    assert.ok(state.elapsedMs < 1000);
  });

  it('stores samples with their key, integrity and timestamp', () => {
    const tracker = new BarcodeConsensus();
    tracker.addFrame({ text: 96385074, format: 'ean_8', engines: ['native'], sharpness: 5, pass: 'full' });
    const [sample] = tracker.samples;
    assert.equal(sample.key, 'EAN-8::96385074');
    assert.equal(sample.text, '96385074');
    assert.equal(sample.weight, 0.65);
    assert.deepEqual(sample.integrity, { checked: true, valid: true, reason: 'EAN-8 checksum valid' });
    assert.equal(typeof sample.timestamp, 'number');
    assert.equal('pass' in sample, false);
  });
});
