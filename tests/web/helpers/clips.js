// Camera clips and photos made at test time: zint draws the code, ffmpeg puts it on a white
// 1280x720 frame. A one-frame Y4M is enough: Chromium's fake camera loops it at the rate in its
// header, 30 fps like a phone camera.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const EAN13_TEXT = '4006381333931';
export const QR_TEXT = 'https://quillmark.test/item/42?lot=7';

const SYMBOLS = {
  ean13: ['-b', 'EANX', '--scale=4', '--height=40', '-d', EAN13_TEXT.slice(0, 12)],
  qr: ['-b', 'QRCODE', '--scale=8', '-d', QR_TEXT],
};

export class ClipMaker {
  constructor() {
    this.dir = mkdtempSync(join(tmpdir(), 'quillmark-clips-'));
  }

  symbol(kind) {
    const png = join(this.dir, `${kind}-symbol.png`);
    execFileSync('zint', [...SYMBOLS[kind], '-o', png], { stdio: 'pipe' });
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
