#!/usr/bin/env node
// Camera path against photo path on the same 1280x720 picture: for each hard case of the lock
// benchmark (small, off-centre, low-resolution and tilted codes), which passes of twelve camera
// frames read the code, and whether the photo path reads it. Each frame is decoded from a canvas
// that holds the picture, so no camera timing is involved.
//   node bench/web/camera_photo.mjs [--cases=a,b]
import { readFileSync } from 'node:fs';
import { startReceiver } from '../../tests/web/helpers/receiver.js';
import { launchBrowser, openScanner } from '../../tests/web/helpers/browser.js';
import { ClipMaker, CODES, HARD_CASES } from '../../tests/web/helpers/clips.js';

const flag = process.argv.find((arg) => arg.startsWith('--cases='));
const cases = flag ? flag.slice(8).split(',') : Object.keys(HARD_CASES);
const FRAMES = 12;

const clips = new ClipMaker();
const receiver = await startReceiver();
const browser = await launchBrowser();
try {
  const page = await openScanner(browser.context, receiver.origin);
  await page.waitForFunction(() => document.getElementById('engine-badge').textContent !== 'Loading…');
  console.log(`camera path: ${FRAMES} frames of the still; photo path: the same picture as a photo`);
  for (const name of cases) {
    const { kind } = HARD_CASES[name];
    const png = readFileSync(clips.photo(name)).toString('base64');
    const result = await page.evaluate(async ([data, frames]) => {
      const { BarcodeScannerEngine } = await import('./scan/engine.js');
      const engine = new BarcodeScannerEngine();
      await engine.initEngines();
      const blob = await (await fetch(`data:image/png;base64,${data}`)).blob();
      const bitmap = await createImageBitmap(blob);
      const canvas = document.createElement('canvas');
      Object.assign(canvas, { width: bitmap.width, height: bitmap.height });
      canvas.getContext('2d').drawImage(bitmap, 0, 0);
      Object.assign(canvas, { readyState: 4, videoWidth: bitmap.width, videoHeight: bitmap.height });
      const reads = [];
      let ms = 0;
      for (let frameIndex = 1; frameIndex <= frames; frameIndex += 1) {
        const t0 = performance.now();
        const hit = await engine.scanVideoFrame(canvas, { frameIndex });
        ms += performance.now() - t0;
        reads.push(hit ? `${hit.pass}:${hit.text}` : null);
      }
      const photo = await engine.scanImageFile(blob);
      return { reads, ms: ms / frames, photo: photo ? photo.text : null };
    }, [png, FRAMES]);
    const want = CODES[kind].text;
    const right = (text) => text !== null && text.endsWith(want.slice(-7));
    const passes = result.reads.map((r) => (r === null ? '-' : right(r.split(':').slice(1).join(':')) ? r.split(':')[0] : `WRONG ${r}`));
    const read = passes.filter((p) => p !== '-').length;
    console.log(`  ${name.padEnd(22)} camera ${String(read).padStart(2)}/${FRAMES} ` +
      `(${result.ms.toFixed(1)} ms/frame)  photo ${result.photo === null ? 'no read' : right(result.photo) ? 'read' : `WRONG ${result.photo}`}`);
    console.log(`    ${passes.join(' ')}`);
  }
} finally {
  await browser.close();
  await receiver.stop();
  clips.remove();
}
