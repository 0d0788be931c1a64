// Multi-frame consensus: a reading is accepted only when enough recent frames agree on it.
// Pure logic: no page elements, no network, so Node's test runner loads this same file.

export const PRECISION_PRESETS = Object.freeze({
  fast: Object.freeze({ id: 'fast', minConfirmations: 3, minAgreementRatio: 0.75, minConfidence: 82, windowSize: 8 }),
  balanced: Object.freeze({ id: 'balanced', minConfirmations: 5, minAgreementRatio: 0.82, minConfidence: 90, windowSize: 12 }),
  laser: Object.freeze({ id: 'laser', minConfirmations: 8, minAgreementRatio: 0.88, minConfidence: 96, windowSize: 16 }),
});

// Both decoders name symbologies differently ("Code128", "code_128"); reduced keys map to one name.
const FORMAT_NAMES = Object.freeze({
  ean13: 'EAN-13',
  ean8: 'EAN-8',
  upca: 'UPC-A',
  upce: 'UPC-E',
  code128: 'CODE-128',
  code39: 'CODE-39',
  code93: 'CODE-93',
  codabar: 'CODABAR',
  itf: 'ITF',
  itf14: 'ITF-14',
  databar: 'GS1-DATABAR',
  databarexpanded: 'GS1-DATABAR-EXP',
  databarlimited: 'GS1-DATABAR-LIM',
  qrcode: 'QR-CODE',
  microqrcode: 'MICRO-QR',
  rmqrcode: 'RMQR',
  datamatrix: 'DATA-MATRIX',
  pdf417: 'PDF417',
  aztec: 'AZTEC',
  maxicode: 'MAXICODE',
});

const MISS_TRIM_PERIOD = 6;
const DEFAULT_SHARPNESS = 30;
const SHARP_EDGE = 22;
const BLURRY_EDGE = 10;

export function normalizeFormat(rawFormat) {
  if (rawFormat === undefined || rawFormat === null || rawFormat === '') return 'UNKNOWN';
  const raw = String(rawFormat);
  // Unknown names come back upper-cased, so normalised names such as "GS1-DATABAR-EXP" stay stable.
  const key = raw.toLowerCase().replace(/[\s_-]+/g, '');
  return FORMAT_NAMES[key] ?? raw.toUpperCase();
}

export function verifyGtinChecksum(digits) {
  const text = String(digits ?? '');
  if (!/^\d+$/.test(text) || ![8, 12, 13, 14].includes(text.length)) return false;
  let sum = 0;
  let weight = 3;
  for (let i = text.length - 2; i >= 0; i -= 1) {
    sum += Number(text[i]) * weight;
    weight = weight === 3 ? 1 : 3;
  }
  return (10 - (sum % 10)) % 10 === Number(text[text.length - 1]);
}

// UPC-E is zero-suppressed UPC-A: expand it, then check as UPC-A.
function expandUpceBody(code) {
  const [system, d1, d2, d3, d4, d5, d6] = code;
  if (d6 <= '2') return `${system}${d1}${d2}${d6}0000${d3}${d4}${d5}`;
  if (d6 === '3') return `${system}${d1}${d2}${d3}00000${d4}${d5}`;
  if (d6 === '4') return `${system}${d1}${d2}${d3}${d4}00000${d5}`;
  return `${system}${d1}${d2}${d3}${d4}${d5}0000${d6}`;
}

export function verifyUpceChecksum(digits) {
  const text = String(digits ?? '');
  if (!/^[01]\d{7}$/.test(text)) return false;
  return verifyGtinChecksum(expandUpceBody(text) + text[7]);
}

// The 8-digit UPC-E that expands to the given 12-digit UPC-A, or null when none does. The
// candidates follow the zero-suppression rules in their usual order, so a UPC-A with several
// compressions gets the one a printer would have chosen.
function compressUpca(upca) {
  const body = upca.slice(0, 11);
  const [system, m1, m2, m3, m4, m5, , , p3, p4, p5] = body;
  const candidates = [
    `${m1}${m2}${p3}${p4}${p5}${m3}`,
    `${m1}${m2}${m3}${p4}${p5}3`,
    `${m1}${m2}${m3}${m4}${p5}4`,
    `${m1}${m2}${m3}${m4}${m5}${p5}`,
  ].map((data) => `${system}${data}${upca[11]}`);
  return candidates.find((code) => /^[01]/.test(code) && expandUpceBody(code) === body) ?? null;
}

// A reading in the form printed under the bars, which hardware scanners send too. The
// WebAssembly reader returns UPC-E expanded to 13 digits ("0" and the UPC-A), and UPC-A as an
// EAN-13 with a leading 0; an expansion that no UPC-E produces is left as it came, so the check
// rejects it. Every other reading only has its format name normalised.
export function normalizeReading(format, text) {
  const name = normalizeFormat(format);
  const payload = text === undefined || text === null ? '' : String(text);
  if (name === 'EAN-13' && /^0\d{12}$/.test(payload)) return { format: 'UPC-A', text: payload.slice(1) };
  if (name === 'UPC-E' && /^0?\d{12}$/.test(payload)) {
    const printed = compressUpca(payload.slice(-12));
    if (printed) return { format: name, text: printed };
  }
  return { format: name, text: payload };
}

function integrity(checked, valid, reason) {
  return { checked, valid, reason };
}

function checkDigitResult(name, valid) {
  return integrity(true, valid, valid ? `${name} checksum valid` : `Invalid ${name} checksum`);
}

export function validateBarcodeIntegrity(format, text) {
  const { format: name, text: payload } = normalizeReading(format, text);
  if (payload === '') return integrity(true, false, 'Empty payload');
  switch (name) {
    case 'EAN-13':
      return checkDigitResult(name, payload.length === 13 && verifyGtinChecksum(payload));
    case 'EAN-8':
      return checkDigitResult(name, payload.length === 8 && verifyGtinChecksum(payload));
    case 'UPC-A':
      return checkDigitResult(name, payload.length === 12 && verifyGtinChecksum(payload));
    case 'UPC-E':
      return checkDigitResult(name, payload.length === 8 && verifyUpceChecksum(payload));
    default:
      break;
  }
  if (name === 'ITF-14' || (name === 'ITF' && payload.length === 14)) {
    return checkDigitResult('ITF-14', verifyGtinChecksum(payload));
  }
  if (name === 'ITF') {
    const valid = /^\d+$/.test(payload) && payload.length >= 6 && payload.length % 2 === 0;
    return integrity(true, valid, valid ? 'ITF structure valid' : 'Invalid ITF length/chars');
  }
  return integrity(false, true, 'Decoder verified');
}

// Spread of a downsampled Laplacian over luminance: sharp edges give large second derivatives.
export function estimateSharpness(imageData) {
  const { data, width, height } = imageData;
  if (width < 8 || height < 8) return 50;
  const step = Math.max(2, Math.floor(Math.min(width, height) / 120));
  const rowStride = width * 4;
  const luma = (offset) => 0.299 * data[offset] + 0.587 * data[offset + 1] + 0.114 * data[offset + 2];
  const dx = step * 4;
  const dy = step * rowStride;
  let count = 0;
  let mean = 0;
  let squares = 0;
  for (let y = step; y < height - step; y += step) {
    for (let x = step; x < width - step; x += step) {
      const at = y * rowStride + x * 4;
      const laplacian = luma(at - dx) + luma(at + dx) + luma(at - dy) + luma(at + dy) - 4 * luma(at);
      count += 1;
      const delta = laplacian - mean;
      mean += delta / count;
      squares += delta * (laplacian - mean);
    }
  }
  return count < 2 ? 0 : Math.sqrt(squares / (count - 1));
}

function presetFor(name) {
  return Object.hasOwn(PRECISION_PRESETS, name) ? PRECISION_PRESETS[name] : PRECISION_PRESETS.balanced;
}

function sampleWeight(engineCount, sharpness) {
  let weight = 1.0;
  if (engineCount >= 2) weight += 0.45;
  if (sharpness >= SHARP_EDGE) weight += 0.15;
  else if (sharpness < BLURRY_EDGE) weight *= 0.65;
  return weight;
}

// Halves upwards; the epsilon absorbs binary noise such as 40.49999999 for an exact 40.5.
function roundHalfUp(value) {
  return Math.floor(value + 0.5 + 1e-9);
}

function groupBuckets(samples) {
  const buckets = new Map();
  for (const sample of samples) {
    let bucket = buckets.get(sample.key);
    if (!bucket) {
      bucket = { sample, count: 0, weight: 0, engines: [] };
      buckets.set(sample.key, bucket);
    }
    bucket.count += 1;
    bucket.weight += sample.weight;
    for (const engine of sample.engines) {
      if (!bucket.engines.includes(engine)) bucket.engines.push(engine);
    }
  }
  return [...buckets.values()];
}

export class BarcodeConsensus {
  constructor(presetName = 'balanced') {
    this.setPreset(presetName);
    this.reset();
  }

  setPreset(presetName) {
    this.preset = presetFor(presetName);
  }

  reset() {
    this.samples = [];
    this.framesProcessed = 0;
    this.rejectedChecksumCount = 0;
    this.startedAt = performance.now();
  }

  addFrame(reading) {
    this.framesProcessed += 1;
    const text = reading?.text;
    if (text === undefined || text === null || text === '') {
      // A long run of misses ages the window out, so a code that left the view stops leading.
      if (this.samples.length > 0 && this.framesProcessed % MISS_TRIM_PERIOD === 0) this.samples.shift();
      return this.evaluate();
    }
    const { format, text: payload } = normalizeReading(reading.format, text);
    const check = validateBarcodeIntegrity(format, payload);
    if (check.checked && !check.valid) {
      this.rejectedChecksumCount += 1;
      return this.evaluate();
    }
    const engines = Array.isArray(reading.engines) ? [...reading.engines] : ['zxing-wasm'];
    const sharpness = typeof reading.sharpness === 'number' ? reading.sharpness : DEFAULT_SHARPNESS;
    this.samples.push({
      key: `${format}::${payload}`,
      format,
      text: payload,
      engines,
      sharpness,
      weight: sampleWeight(engines.length, sharpness),
      integrity: check,
      timestamp: performance.now(),
    });
    while (this.samples.length > this.preset.windowSize) this.samples.shift();
    return this.evaluate();
  }

  evaluate() {
    const { preset, samples } = this;
    const counters = {
      framesProcessed: this.framesProcessed,
      rejectedChecksums: this.rejectedChecksumCount,
      elapsedMs: Math.round(performance.now() - this.startedAt),
    };
    const required = preset.minConfirmations;
    if (samples.length === 0) {
      return {
        locked: false, confidence: 0, confirmations: 0, requiredConfirmations: required,
        agreementRatio: 0, ...counters, leader: null,
      };
    }
    const buckets = groupBuckets(samples);
    let leader = buckets[0];
    for (const bucket of buckets) {
      if (bucket.weight > leader.weight) leader = bucket;
    }
    const totalWeight = samples.reduce((sum, sample) => sum + sample.weight, 0);
    let streak = 0;
    for (let i = samples.length - 1; i >= 0 && samples[i].key === leader.sample.key; i -= 1) streak += 1;

    const agreement = leader.weight / totalWeight;
    const countProgress = Math.min(1, leader.count / preset.minConfirmations);
    const checksumVerified = leader.sample.integrity.checked && leader.sample.integrity.valid;
    const bonus = (leader.engines.length >= 2 ? 4 : 0) + (checksumVerified ? 3 : 0) + (streak >= 3 ? 3 : 0);
    let confidence = roundHalfUp(Math.min(100, countProgress * 74 + agreement * 22 + bonus));
    // Never show a lock-worthy score before enough frames have confirmed the leader.
    if (leader.count < preset.minConfirmations) confidence = Math.min(confidence, preset.minConfidence - 1);
    const locked =
      leader.count >= preset.minConfirmations &&
      agreement >= preset.minAgreementRatio &&
      confidence >= preset.minConfidence;
    return {
      locked,
      confidence,
      confirmations: leader.count,
      requiredConfirmations: required,
      agreementRatio: Math.round(agreement * 1000) / 1000,
      streak,
      ...counters,
      leader: {
        format: leader.sample.format,
        text: leader.sample.text,
        engines: [...leader.engines],
        checksumVerified,
        integrityReason: leader.sample.integrity.reason,
      },
    };
  }
}
