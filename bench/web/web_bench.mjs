#!/usr/bin/env node
// Phone app benchmark: per-frame cost of the consensus tracker plus the HUD paint, the decode
// loop's frame rate on Chromium's fake camera playing a 1280x720 clip at 30 fps, and the lock
// benchmark (lock_bench.mjs): time from a code coming into view to the scan being sent.
// Run after `make web-setup` and a receiver build:
//   node bench/web/web_bench.mjs [seconds] [--lock-only | --no-lock] [--no-running | --no-fresh]
//                                [--codes=a,b] [--conditions=x,y]
// seconds: how long each frame-rate case runs (8). --no-running and --no-fresh leave out the lock
// benchmark on a running page or on fresh pages. --codes and --conditions narrow the lock
// benchmark to some of its codes (ean13 upca upce ean8 code128 itf qr-small qr-full datamatrix, and
// the hard cases of tests/web/helpers/clips.js) and conditions (sharp blurred low-contrast tilted noisy).
// (QUILLMARK_RECEIVER names the receiver binary when it is not in build/linux or build/web.)
import { existsSync } from 'node:fs';
import { performance } from 'node:perf_hooks';
import { BarcodeConsensus } from '../../web/scan/consensus.js';
import { startReceiver } from '../../tests/web/helpers/receiver.js';
import { launchBrowser, openScanner } from '../../tests/web/helpers/browser.js';
import { ClipMaker, EAN13_TEXT } from '../../tests/web/helpers/clips.js';
import { CONDITIONS, KINDS, runLockBench } from './lock_bench.mjs';

const flags = process.argv.slice(2).filter((arg) => arg.startsWith('--'));
const positional = process.argv.slice(2).filter((arg) => !arg.startsWith('--'));
const seconds = Number(positional[0] ?? 8);
const listFlag = (name, known) => {
  const flag = flags.find((arg) => arg.startsWith(`--${name}=`));
  if (!flag) return Object.keys(known);
  const names = flag.slice(name.length + 3).split(',');
  const unknown = names.filter((n) => !Object.hasOwn(known, n));
  if (unknown.length) throw new Error(`unknown ${name}: ${unknown.join(', ')} (known: ${Object.keys(known).join(' ')})`);
  return names;
};
const lockOptions = {
  kinds: listFlag('codes', Object.fromEntries(KINDS.map((k) => [k, true]))),
  conditions: listFlag('conditions', CONDITIONS),
  running: !flags.includes('--no-running'),
  fresh: !flags.includes('--no-fresh'),
};
const runLoop = !flags.includes('--lock-only');
const runLock = !flags.includes('--no-lock');
const fmt = (value, digits = 3) => value.toFixed(digits);

function stats(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mean = sorted.reduce((sum, v) => sum + v, 0) / (sorted.length || 1);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] ?? 0;
  return { n: sorted.length, mean, p50: at(0.5), p95: at(0.95), max: sorted.at(-1) ?? 0 };
}

// The tracker alone in Node, with a high-resolution clock: a realistic mix of hits and misses.
function benchConsensusInNode() {
  const tracker = new BarcodeConsensus('laser');
  const readings = [
    { text: EAN13_TEXT, format: 'EAN-13', engines: ['zxing-wasm'], sharpness: 31 },
    null,
    { text: EAN13_TEXT, format: 'ean_13', engines: ['zxing-wasm', 'native'], sharpness: 18 },
    { text: '96385074', format: 'EAN-8', engines: ['native'], sharpness: 8 },
    null,
  ];
  const rounds = 200000;
  for (let i = 0; i < 20000; i += 1) tracker.addFrame(readings[i % readings.length]);
  const t0 = performance.now();
  for (let i = 0; i < rounds; i += 1) {
    if (i % 40 === 0) tracker.reset();
    tracker.addFrame(readings[i % readings.length]);
  }
  return ((performance.now() - t0) * 1000) / rounds;
}

// Wraps the engine's frame decode and the tracker's addFrame on the page's own module instances,
// and times "addFrame + HUD paint" from the start of addFrame to the end of the frame's synchronous
// work (a microtask queued in addFrame runs right after it). Counts the camera's presented frames.
// Chromium's page clock ticks in 0.1 ms steps: means over many frames are meaningful, single
// samples are not.
async function instrument(page) {
  await page.evaluate(async () => {
    const { BarcodeScannerEngine } = await import('./scan/engine.js');
    const { BarcodeConsensus: Tracker } = await import('./scan/consensus.js');
    const bench = { decodeMs: [], frameStarts: [], trackerHudMs: [], locks: 0, presented: [] };
    window.bench = bench;
    const scan = BarcodeScannerEngine.prototype.scanVideoFrame;
    BarcodeScannerEngine.prototype.scanVideoFrame = async function timedScan(...args) {
      const t0 = performance.now();
      bench.frameStarts.push(t0);
      try {
        return await scan.apply(this, args);
      } finally {
        bench.decodeMs.push(performance.now() - t0);
      }
    };
    const addFrame = Tracker.prototype.addFrame;
    Tracker.prototype.addFrame = function timedAddFrame(...args) {
      const start = performance.now();
      const state = addFrame.apply(this, args);
      // Lock frames leave the loop with one-off work, and are not counted.
      if (state.locked) bench.locks += 1;
      else queueMicrotask(() => bench.trackerHudMs.push(performance.now() - start));
      return state;
    };
    const video = document.getElementById('camera-video');
    video.requestVideoFrameCallback(function onFrame(now, meta) {
      bench.presented.push({ at: now, count: meta.presentedFrames });
      video.requestVideoFrameCallback(onFrame);
    });
  });
}

// Camera frames presented within bursts of decoding (see frameGaps), and how many of them the
// loop decoded: a burst spans the frames presented from the one current at its first decode to
// the one current at its last.
function framesSkipped({ frameStarts, presented }) {
  const countAt = (t) => presented.filter((p) => p.at <= t).at(-1)?.count ?? null;
  let shown = 0;
  let decoded = 0;
  let burstStart = 0;
  for (let i = 1; i <= frameStarts.length; i += 1) {
    if (i < frameStarts.length && frameStarts[i] - frameStarts[i - 1] < 250) continue;
    const [first, last] = [countAt(frameStarts[burstStart]), countAt(frameStarts[i - 1])];
    if (first !== null && last !== null) {
      shown += last - first + 1;
      decoded += i - burstStart;
    }
    burstStart = i;
  }
  return { shown, decoded };
}

async function scanFor(page, ms) {
  await page.click('#btn-scan-toggle');
  await page.waitForSelector('#reticle-overlay:not([hidden])');
  const t0 = Date.now();
  // With a code in view each lock pauses the loop: a tap on the overlay starts the next scan.
  while (Date.now() - t0 < ms) {
    if (await page.isVisible('#approved-overlay')) await page.click('#approved-overlay', { position: { x: 5, y: 5 } });
    await page.waitForTimeout(100);
  }
  const result = await page.evaluate(() => window.bench);
  await page.click('#btn-scan-toggle', { force: true }).catch(() => {});
  return result;
}

// Frames per second while the loop runs: counted within bursts of consecutive frames, so the
// pauses between a lock and the next tap do not count as slow frames.
function frameGaps(frameStarts) {
  const gaps = [];
  for (let i = 1; i < frameStarts.length; i += 1) {
    const gap = frameStarts[i] - frameStarts[i - 1];
    if (gap < 250) gaps.push(gap);
  }
  return gaps;
}

async function benchCase(context, origin, label, beforeLoad) {
  const page = await openScanner(context, origin, { beforeLoad });
  await page.waitForFunction(() => document.getElementById('engine-badge').textContent !== 'Loading…');
  await instrument(page);
  const result = await scanFor(page, seconds * 1000);
  await page.close();
  const decode = stats(result.decodeMs);
  const hud = stats(result.trackerHudMs);
  const gaps = stats(frameGaps(result.frameStarts));
  console.log(`${label}:`);
  console.log(`  decode loop            ${fmt(1000 / gaps.mean, 1)} fps (median frame gap ${fmt(gaps.p50, 1)} ms) over ` +
    `${result.frameStarts.length} frames${result.locks ? `, ${result.locks} locks` : ''} (goal >= 25 fps)`);
  console.log(`  scanVideoFrame         mean ${fmt(decode.mean, 2)} ms, p50 ${fmt(decode.p50, 1)}, p95 ${fmt(decode.p95, 1)}, max ${fmt(decode.max, 1)}`);
  console.log(`  addFrame + HUD paint   mean ${fmt(hud.mean)} ms over ${hud.n} frames (goal <= 0.2 ms)`);
  const { shown, decoded } = framesSkipped(result);
  console.log(`  camera frames          ${shown} shown while decoding, ${decoded} decoded (${fmt(decoded / (shown || 1), 2)} per frame shown), ${Math.max(0, shown - decoded)} skipped`);
}

// Long clips are written much faster to memory than to disk.
const clips = new ClipMaker(existsSync('/dev/shm') ? '/dev/shm' : undefined);
const receiver = await startReceiver();
try {
  if (runLoop) {
    console.log(`addFrame alone (Node):  ${fmt(benchConsensusInNode(), 2)} us per frame`);
    for (const [kind, label] of [[null, '720p clip, nothing in view'], ['ean13', '720p clip, EAN-13 in view']]) {
      const browser = await launchBrowser({ clip: clips.clip(kind) });
      try {
        await benchCase(browser.context, receiver.origin, label);
      } finally {
        await browser.close();
      }
    }
  }
  if (runLock) await runLockBench({ clips, receiver, launchBrowser, ...lockOptions });
} finally {
  await receiver.stop();
  clips.remove();
}
