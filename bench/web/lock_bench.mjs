// Lock benchmark: how long a code in view takes to become a scan sent to the receiver, per code
// and picture condition, on Chromium's fake camera at 30 fps with the balanced preset.
//
// Running page: one clip per code, for each condition 2 s of blank white frames, then the code for
// CODE_SECONDS, all on one page whose camera stays open. Fresh page: a clip of 2 s blank and the
// sharp code, and a new page per run whose camera is started by the tap. The page's own pixel test
// finds the first presented video frame that holds the code; the time runs from that frame to the
// page issuing its POST to /api/scan, both on the page's clock.
import { execFileSync } from 'node:child_process';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { openScanner } from '../../tests/web/helpers/browser.js';
import { CODES, HARD_CASES } from '../../tests/web/helpers/clips.js';
import { normalizeReading } from '../../web/scan/consensus.js';

// Each condition: a filter applied once to the still of the code, and one applied to every frame.
export const CONDITIONS = Object.freeze({
  sharp: { still: 'null', frame: 'null' },
  blurred: { still: 'gblur=sigma=2', frame: 'null' },
  // Grey bars on a grey label: a quarter of the full contrast.
  'low-contrast': { still: 'lutyuv=y=110+val*0.25', frame: 'null' },
  // The label turned away on its left side. Negated around the warp, so the uncovered corners
  // come out white rather than black.
  tilted: { still: 'negate,perspective=x0=150:y0=110:x1=1279:y1=0:x2=150:y2=610:x3=1279:y3=719:sense=destination,negate', frame: 'null' },
  // Sensor noise that changes from frame to frame.
  noisy: { still: 'null', frame: 'noise=alls=40:allf=t+u' },
});

export const GROUPS = Object.freeze({
  '1D': ['ean13', 'upca', 'upce', 'ean8', 'code128', 'itf'],
  '2D': ['qr-small', 'qr-full', 'datamatrix'],
});

// The goal figures come from these clips: they show the sharp code more than once.
const REPEATED = Object.freeze({ ean13: 3, 'qr-full': 3 });
// Fresh pages per code; more for the codes with a goal.
const FRESH_RUNS = 3;
const FRESH_REPEATED = Object.freeze({ ean13: 7, 'qr-full': 7 });

// A hard case (a code as product photos show it) counts in the group of its code, and is shown
// sharp only: the picture itself is what makes it hard.
const codeOf = (kind) => HARD_CASES[kind]?.kind ?? kind;
const groupOf = (kind) => Object.keys(GROUPS).find((group) => GROUPS[group].includes(codeOf(kind)));

const BLANK_SECONDS = 2;
const CODE_SECONDS = 2.5;
const CODE_FRAMES = 75;
const FPS = 30;
const FRAME_MS = 1000 / FPS;

// Runs in the page before its modules: stamps scan POSTs and watches every presented video frame
// for the first one that is no longer blank. A frame the page never got to see (its main thread
// was busy) may have been the first to hold the code, so after a gap the earliest possible time
// is taken: the frame after the last blank one seen. Lock times are therefore never understated.
const PROBE = (frameMs) => {
  const probe = { codeAt: null, lastBlankAt: null, lastPresented: null, gaps: 0, posts: [] };
  probe.arm = () => Object.assign(probe, { codeAt: null, lastBlankAt: null, lastPresented: null, posts: [] });
  window.__probe = probe;
  const realFetch = window.fetch;
  window.fetch = function stampedFetch(input, init) {
    const url = typeof input === 'string' ? input : input?.url ?? '';
    if (url.includes('/api/scan') && init?.method === 'POST') probe.posts.push({ at: performance.now(), body: init.body });
    return realFetch.call(this, input, init);
  };
  const canvas = document.createElement('canvas');
  // Large enough that the smallest hard case (a 32-pixel DataMatrix) leaves dark pixels.
  canvas.width = 320;
  canvas.height = 180;
  const context = canvas.getContext('2d', { willReadFrequently: true });
  const holdsCode = (video) => {
    context.drawImage(video, 0, 0, canvas.width, canvas.height);
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    let marked = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] + data[i + 1] + data[i + 2] < 3 * 200) marked += 1;
    return marked > 20;
  };
  const watch = (video) => {
    const onFrame = (now, meta) => {
      if (probe.codeAt === null && video.videoWidth) {
        const shown = meta.presentationTime || now;
        const missed = probe.lastPresented === null ? 0 : meta.presentedFrames - probe.lastPresented - 1;
        if (!holdsCode(video)) probe.lastBlankAt = shown;
        else if (missed > 0 && probe.lastBlankAt !== null) {
          probe.gaps += 1;
          probe.codeAt = probe.lastBlankAt + frameMs;
        } else if (probe.lastBlankAt !== null) probe.codeAt = shown;
        probe.lastPresented = meta.presentedFrames;
      }
      video.requestVideoFrameCallback(onFrame);
    };
    video.requestVideoFrameCallback(onFrame);
  };
  document.addEventListener('DOMContentLoaded', () => watch(document.getElementById('camera-video')));
};

// Records every frame decode of the page's engine: start, end, decodes run, the pass that read.
async function instrument(page) {
  await page.evaluate(async () => {
    const { BarcodeScannerEngine } = await import('./scan/engine.js');
    const { Decoders } = await import('./scan/decoder.js');
    const frames = [];
    window.__frames = frames;
    let decodes = 0;
    const decode = Decoders.prototype.decode;
    Decoders.prototype.decode = function countedDecode(...args) {
      decodes += 1;
      return decode.apply(this, args);
    };
    const scan = BarcodeScannerEngine.prototype.scanVideoFrame;
    BarcodeScannerEngine.prototype.scanVideoFrame = async function timedScan(...args) {
      const frame = { start: performance.now(), end: null, decodes: 0, pass: null };
      decodes = 0;
      try {
        const hit = await scan.apply(this, args);
        frame.pass = hit?.pass ?? null;
        return hit;
      } finally {
        frame.end = performance.now();
        frame.decodes = decodes;
        frames.push(frame);
      }
    };
  });
}

// One clip: each condition's blank lead-in and code, in the given order. ffmpeg makes each
// condition's still once from the photo of the centred code, then strings the clip together.
export function makeClip(clips, kind, conditions) {
  const photo = clips.photo(kind);
  const stills = {};
  for (const condition of new Set(conditions)) {
    stills[condition] = join(clips.dir, `${kind}-${condition}.png`);
    const filter = `format=yuv420p,${CONDITIONS[condition].still},format=rgb24`;
    execFileSync('ffmpeg', ['-loglevel', 'error', '-i', photo, '-vf', filter, '-frames:v', '1', '-y', stills[condition]], { stdio: 'pipe' });
  }
  const out = join(clips.dir, `lock-${kind}.y4m`);
  const inputs = [];
  const chains = [];
  conditions.forEach((condition, i) => {
    inputs.push('-f', 'lavfi', '-t', String(BLANK_SECONDS), '-i', `color=white:s=1280x720:r=${FPS}`);
    inputs.push('-i', stills[condition]);
    chains.push(`[${2 * i}]format=yuv420p,setsar=1[b${i}]`);
    // The still is decoded once and repeated in memory: decoding it for every frame is slow.
    const repeat = `loop=loop=${CODE_FRAMES - 1}:size=1,setpts=N/${FPS}/TB`;
    chains.push(`[${2 * i + 1}]format=yuv420p,setsar=1,${repeat},${CONDITIONS[condition].frame}[c${i}]`);
  });
  const order = conditions.map((_, i) => `[b${i}][c${i}]`).join('');
  const graph = `${chains.join(';')};${order}concat=n=${2 * conditions.length}:v=1:a=0,format=yuv420p[out]`;
  execFileSync('ffmpeg', ['-loglevel', 'error', ...inputs, '-filter_complex', graph, '-map', '[out]', '-r', String(FPS), '-y', out], { stdio: 'pipe' });
  return out;
}

const median = (values) => {
  if (values.length === 0) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};

// The frames decoded between the code's first frame and the POST, and which passes read it.
function frameStory(frames, from, to) {
  const decoded = frames.filter((f) => f.start >= from && f.start <= to);
  const passes = {};
  for (const f of decoded) if (f.pass) passes[f.pass] = (passes[f.pass] ?? 0) + 1;
  return {
    shown: Math.round((to - from) / FRAME_MS) + 1,
    decoded: decoded.length,
    hits: decoded.filter((f) => f.pass).length,
    passes,
    decodes: decoded.reduce((sum, f) => sum + f.decodes, 0),
    decodeMs: decoded.reduce((sum, f) => sum + f.end - f.start, 0),
  };
}

// Waits for this condition's code to appear and be sent, or for its time in view to run out.
async function measureSegment(page, code) {
  await page.waitForFunction(() => window.__probe.codeAt !== null, null, { timeout: (BLANK_SECONDS + CODE_SECONDS) * 1000 + 15000 });
  const limitMs = CODE_SECONDS * 1000;
  await page.waitForFunction((limit) => window.__probe.posts.length > 0 || performance.now() - window.__probe.codeAt > limit, limitMs, { timeout: limitMs + 15000 });
  const { codeAt, posts, frames } = await page.evaluate(() => ({ codeAt: window.__probe.codeAt, posts: window.__probe.posts, frames: window.__frames }));
  const post = posts.find((p) => p.at >= codeAt);
  if (!post) return { locked: false, story: frameStory(frames, codeAt, codeAt + limitMs) };
  const sent = JSON.parse(post.body);
  return {
    locked: true,
    ms: post.at - codeAt,
    format: sent.format,
    text: sent.text,
    // The decoder's own form of the right code (UPC as a 13-digit number) is no wrong lock.
    right: normalizeReading(sent.format, sent.text).text === code.text,
    asPrinted: sent.text === code.text && sent.format === code.format,
    story: frameStory(frames, codeAt, post.at),
  };
}

// Once the next blank lead-in shows, and the scan is paused by a lock or has decoded a frame of
// the blank (so no lock on the code can still come): after a lock, a tap on the overlay starts
// the next scan; without one the tracker is reset by choosing the precision again.
async function rearm(page) {
  await page.evaluate(() => window.__probe.arm());
  await page.waitForFunction(() => {
    const { lastBlankAt } = window.__probe;
    const paused = !document.getElementById('approved-overlay').hidden;
    return lastBlankAt !== null && (paused || window.__frames.some((f) => f.start > lastBlankAt && f.end !== null));
  }, null, { timeout: (BLANK_SECONDS + CODE_SECONDS) * 1000 + 15000 });
  if (await page.isVisible('#approved-overlay')) await page.click('#approved-overlay', { position: { x: 5, y: 5 } });
  else await page.evaluate(() => document.querySelector('[data-precision="balanced"]').click());
}

const codeName = (kind) => (HARD_CASES[kind] ? kind : `${CODES[kind].format}${{ 'qr-small': ' (small)', 'qr-full': ' (full height)' }[kind] ?? ''}`);

function describeRun(kind, condition, run) {
  const { story } = run;
  const passes = Object.entries(story.passes).map(([pass, n]) => `${pass} ${n}`).join(', ');
  const frames = `${story.shown} shown / ${story.decoded} decoded / ${story.hits} read${passes ? ` (${passes})` : ''}`;
  let outcome;
  if (!run.locked) outcome = `no lock in ${CODE_SECONDS * 1000} ms`;
  else if (!run.right) outcome = `WRONG LOCK ${run.format} ${run.text} after ${Math.round(run.ms)} ms`;
  else outcome = `locked ${String(Math.round(run.ms)).padStart(5)} ms${run.asPrinted ? '' : ` as ${run.format} ${run.text}`}`;
  const name = codeName(kind);
  console.log(`  ${name.padEnd(24)} ${condition.padEnd(13)} ${outcome.padEnd(40)} frames: ${frames}`);
}

export const KINDS = Object.freeze([...Object.values(GROUPS).flat(), ...Object.keys(HARD_CASES)]);

async function openMeasuredPage(context, receiver) {
  const pairingUrl = await receiver.pairingUrl();
  const { origin } = new URL(pairingUrl);
  const page = await openScanner(context, origin, {
    path: pairingUrl.slice(origin.length),
    beforeLoad: (p) => p.addInitScript(PROBE, FRAME_MS),
  });
  await page.waitForFunction(() => document.getElementById('engine-badge').textContent !== 'Loading…');
  await instrument(page);
  return page;
}

// One page per code whose camera stays open through every condition.
async function runningPage({ clips, receiver, launchBrowser, kind, conditions, results }) {
  const order = HARD_CASES[kind] ? ['sharp'] : conditions.includes('sharp') ? [...conditions, ...Array((REPEATED[kind] ?? 1) - 1).fill('sharp')] : conditions;
  const clip = makeClip(clips, kind, order);
  const browser = await launchBrowser({ clip });
  try {
    const page = await openMeasuredPage(browser.context, receiver);
    await page.click('#btn-scan-toggle');
    for (const condition of order) {
      const run = { kind, condition, page: 'running', ...(await measureSegment(page, CODES[codeOf(kind)])) };
      results.push(run);
      describeRun(kind, condition, run);
      await rearm(page);
    }
  } finally {
    await browser.close();
    rmSync(clip, { force: true });
  }
}

// A new page per run: loaded, the tap starts the camera, the code shows 2 s later.
async function freshPages({ clips, receiver, launchBrowser, kind, results }) {
  const clip = makeClip(clips, kind, ['sharp']);
  const browser = await launchBrowser({ clip });
  try {
    for (let i = 0; i < (FRESH_REPEATED[kind] ?? FRESH_RUNS); i += 1) {
      const page = await openMeasuredPage(browser.context, receiver);
      await page.click('#btn-scan-toggle');
      const run = { kind, condition: 'sharp', page: 'fresh', ...(await measureSegment(page, CODES[codeOf(kind)])) };
      results.push(run);
      describeRun(kind, 'fresh page', run);
      await page.close();
    }
  } finally {
    await browser.close();
    rmSync(clip, { force: true });
  }
}

export async function runLockBench({ clips, receiver, launchBrowser, kinds = KINDS, conditions = Object.keys(CONDITIONS), running = true, fresh = true }) {
  const results = [];
  if (running) {
    console.log(`Lock time on a running page: first video frame holding the code -> scan POSTed, balanced preset,`);
    console.log(`1280x720 at ${FPS} fps, ${BLANK_SECONDS} s blank before each condition, ${CODE_SECONDS} s of code in view:`);
    for (const kind of kinds) await runningPage({ clips, receiver, launchBrowser, kind, conditions, results });
    summarise(results.filter((r) => r.page === 'running'));
  }
  const freshKinds = kinds.filter((kind) => !HARD_CASES[kind]);
  if (fresh && freshKinds.length) {
    console.log(`Lock time on a fresh page: the tap starts the camera, the sharp code shows ${BLANK_SECONDS} s later:`);
    for (const kind of freshKinds) await freshPages({ clips, receiver, launchBrowser, kind, results });
    summarise(results.filter((r) => r.page === 'fresh'), { goals: true });
  }
  return results;
}

// Unlocked runs count as slower than any lock, so they raise a median rather than vanish from it.
function summarise(results, { goals = false } = {}) {
  const times = (runs) => runs.map((r) => (r.locked && r.right ? r.ms : Infinity));
  const show = (ms) => (Number.isFinite(ms) ? `${Math.round(ms)} ms` : 'no lock');
  // Frames decoded from the code's first frame to the lock: what the time would be if every
  // frame were decoded, and so the part of the figure that a busy machine does not change.
  const frames = (runs) => runs.map((r) => (r.locked && r.right ? r.story.decoded : Infinity));
  const medians = {};
  const frameMedians = {};
  for (const group of Object.keys(GROUPS)) {
    const runs = results.filter((r) => groupOf(r.kind) === group);
    if (!runs.length) continue;
    medians[group] = median(times(runs));
    frameMedians[group] = median(frames(runs));
    console.log(`${group} median: ${show(medians[group])}, ${frameMedians[group]} frames decoded to the lock, over ` +
      `${runs.length} runs, ${runs.filter((r) => r.locked).length} locked`);
  }
  if (medians['1D'] && medians['2D']) {
    console.log(`2D/1D median ratio: ${(medians['2D'] / medians['1D']).toFixed(2)} by time, ` +
      `${(frameMedians['2D'] / frameMedians['1D']).toFixed(2)} by frames decoded (goal <= 1.15)`);
  }
  for (const [kind, goal] of [['ean13', 160], ['qr-full', 175]]) {
    const runs = results.filter((r) => r.kind === kind && r.condition === 'sharp');
    if (runs.length) console.log(`${codeName(kind)}, sharp: p50 ${show(median(times(runs)))} over ${runs.length} runs${goals ? ` (goal <= ${goal} ms)` : ''}`);
  }
  const hard = results.filter((r) => HARD_CASES[r.kind]);
  if (hard.length) console.log(`hard cases (small, off-centre, low-resolution, tilted) locked: ${hard.filter((r) => r.locked && r.right).length} of ${hard.length}`);
  const upc = results.filter((r) => r.kind === 'upca' || r.kind === 'upce');
  if (upc.length) console.log(`UPC-A and UPC-E sent as printed: ${upc.filter((r) => r.asPrinted).length} of ${upc.length} (goal: all)`);
  const sum = (key) => results.reduce((total, r) => total + r.story[key], 0);
  const decoded = sum('decoded');
  if (decoded) {
    const shown = sum('shown');
    console.log(`with the code in view: ${shown} camera frames shown, ${decoded} decoded (${(decoded / shown).toFixed(2)} per frame shown, ` +
      `${shown - decoded} skipped); ${(sum('decodes') / decoded).toFixed(2)} decoder calls and ${(sum('decodeMs') / decoded).toFixed(1)} ms per decoded frame`);
  }
  console.log(`wrong locks: ${results.filter((r) => r.locked && !r.right).length} (goal 0)`);
}
