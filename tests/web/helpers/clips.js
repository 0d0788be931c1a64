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

export class ClipMaker {
  // `base`: where the clips go; a memory-backed folder writes long clips much faster.
  constructor(base = tmpdir()) {
    this.dir = mkdtempSync(join(base, 'quillmark-clips-'));
  }

  symbol(kind) {
    const png = join(this.dir, `${kind}-symbol.png`);
    execFileSync('zint', [...CODES[kind].zint, '-o', png], { stdio: 'pipe' });
    return png;
  }

  // A frame of the given size with the symbol centred (none for a blank frame).
  frame(kind, extension, { width = 1280, height = 720 } = {}) {
    const out = join(this.dir, `${kind ?? 'blank'}-${width}x${height}.${extension}`);
    const background = ['-f', 'lavfi', '-i', `color=white:s=${width}x${height}:r=30`];
    const pixelFormat = extension === 'y4m' ? 'yuv420p' : 'rgb24';
    const args = kind
      ? [...background, '-i', this.symbol(kind), '-filter_complex', `[0][1]overlay=(W-w)/2:(H-h)/2,format=${pixelFormat}`]
      : [...background, '-vf', `format=${pixelFormat}`];
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
