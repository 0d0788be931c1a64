// Camera clips and photos made at test time: zint draws the code, ffmpeg puts it on a white
// 1280x720 frame. A one-frame Y4M is enough: Chromium's fake camera loops it at the rate in its
// header, 30 fps like a phone camera.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const EAN13_TEXT = '4006381333931';
export const QR_TEXT = 'https://quillmark.test/item/42?lot=7';
export const UPCE_TEXT = '01234565';

// Each kind: zint's arguments, and the format and text the scanner reports for it (UPC codes as
// printed under the bars). zint computes the check digits the texts end with.
export const CODES = Object.freeze({
  ean13: { zint: ['-b', 'EANX', '--scale=4', '--height=40', '-d', EAN13_TEXT.slice(0, 12)], format: 'EAN-13', text: EAN13_TEXT },
  upca: { zint: ['-b', 'UPCA', '--scale=4', '--height=40', '-d', '03600029145'], format: 'UPC-A', text: '036000291452' },
  upce: { zint: ['-b', 'UPCE', '--scale=4', '--height=40', '-d', UPCE_TEXT.slice(0, 7)], format: 'UPC-E', text: UPCE_TEXT },
  ean8: { zint: ['-b', 'EANX', '--scale=4', '--height=40', '-d', '9638507'], format: 'EAN-8', text: '96385074' },
  code128: { zint: ['-b', 'CODE128', '--scale=3', '--height=40', '-d', 'QM-2026-0042'], format: 'CODE-128', text: 'QM-2026-0042' },
  itf: { zint: ['-b', 'C25INTER', '--scale=3', '--height=40', '-d', '3141592654'], format: 'ITF', text: '3141592654' },
  qr: { zint: ['-b', 'QRCODE', '--scale=8', '-d', QR_TEXT], format: 'QR-CODE', text: QR_TEXT },
  // zint draws a module 2 x scale pixels wide: 232 pixels fit the reticle's region (52% of 720
  // lines); 638 pixels fill nine tenths of the frame's height and overflow the region.
  'qr-small': { zint: ['-b', 'QRCODE', '--scale=4', '-d', QR_TEXT], format: 'QR-CODE', text: QR_TEXT },
  'qr-full': { zint: ['-b', 'QRCODE', '--scale=11', '-d', QR_TEXT], format: 'QR-CODE', text: QR_TEXT },
  datamatrix: { zint: ['-b', 'DATAMATRIX', '--scale=10', '-d', 'QM-DM-2026-0042'], format: 'DATA-MATRIX', text: 'QM-DM-2026-0042' },
});

// Codes as product photos show them, each on a 1280x720 frame: small, away from the centre, at
// a low resolution, turned away. `kind` names the code (its text and format), `scale` replaces
// its zint scale, `at` places the symbol's top-left corner (centred without it), and `filter`
// is an ffmpeg filter applied to the whole frame afterwards.
export const HARD_CASES = Object.freeze({
  'datamatrix-small': { kind: 'datamatrix', scale: 1, at: [1000, 90] },
  'ean8-corner': { kind: 'ean8', scale: 1, at: [100, 600] },
  'ean13-low-edge': { kind: 'ean13', scale: 2, at: [420, 560] },
  'upca-small-edge': { kind: 'upca', scale: 1, at: [820, 40] },
  // Shot at 640x360 and shown at 1280x720.
  'upca-low-res': { kind: 'upca', scale: 1.5, filter: 'scale=640:360,scale=1280:720' },
  'qr-small-tilted': {
    kind: 'qr-small',
    scale: 3,
    filter: 'negate,perspective=x0=0:y0=0:x1=1279:y1=150:x2=0:y2=719:x3=1279:y3=570:sense=destination,negate',
  },
});

// zint's arguments, the symbol's place and the frame filter of a code kind or a hard case.
function pictureOf(name) {
  const hard = HARD_CASES[name];
  if (!hard) return { zint: CODES[name].zint, at: null, filter: null };
  const zint = CODES[hard.kind].zint.map((arg) => (arg.startsWith('--scale=') ? `--scale=${hard.scale}` : arg));
  return { zint, at: hard.at ?? null, filter: hard.filter ?? null };
}

export class ClipMaker {
  // `base`: where the clips go; a memory-backed folder writes long clips much faster.
  constructor(base = tmpdir()) {
    this.dir = mkdtempSync(join(base, 'quillmark-clips-'));
  }

  symbol(kind) {
    const png = join(this.dir, `${kind}-symbol.png`);
    execFileSync('zint', [...pictureOf(kind).zint, '-o', png], { stdio: 'pipe' });
    return png;
  }

  // A frame of the given size with the symbol (centred unless placed), or blank without one.
  frame(kind, extension, { width = 1280, height = 720 } = {}) {
    const out = join(this.dir, `${kind ?? 'blank'}-${width}x${height}.${extension}`);
    const background = ['-f', 'lavfi', '-i', `color=white:s=${width}x${height}:r=30`];
    const pixelFormat = extension === 'y4m' ? 'yuv420p' : 'rgb24';
    let args = [...background, '-vf', `format=${pixelFormat}`];
    if (kind) {
      const { at, filter } = pictureOf(kind);
      const place = at ? at.join(':') : '(W-w)/2:(H-h)/2';
      const graph = `[0][1]overlay=${place}${filter ? `,${filter}` : ''},format=${pixelFormat}`;
      args = [...background, '-i', this.symbol(kind), '-filter_complex', graph];
    }
    execFileSync('ffmpeg', ['-loglevel', 'error', ...args, '-frames:v', '1', '-y', out], { stdio: 'pipe' });
    return out;
  }

  clip(kind, size) {
    return this.frame(kind, 'y4m', size);
  }

  photo(kind, size) {
    return this.frame(kind, 'png', size);
  }

  remove() {
    rmSync(this.dir, { recursive: true, force: true });
  }
}
