// Frame pacing for the decode loop: each new camera frame is decoded as soon as the previous
// decode has finished, with no pause in between. Frames that arrive during a decode are not
// queued: only the newest is decoded next, the others are skipped. The frame source and the
// task scheduler are passed in, so Node's test runner drives this with fake frames.

// Runs `fn` in a task of its own (not a microtask), so the page paints the HUD and handles taps
// between two decodes. A message channel has no timer clamp; it is made on first use, since an
// open port would keep Node's event loop alive.
let channel = null;
const waiting = [];
export function postTask(fn) {
  if (typeof MessageChannel !== 'function') {
    setTimeout(fn, 0);
    return;
  }
  if (!channel) {
    channel = new MessageChannel();
    channel.port1.onmessage = () => waiting.shift()?.();
  }
  waiting.push(fn);
  channel.port2.postMessage(null);
}

// The frames a video presents, as `watch(onFrame)`: onFrame(id) for each new frame with an id
// that grows by one per presented frame (a jump means frames that were never reported), and a
// function to stop watching. Uses the video's frame callback where the browser has one; elsewhere
// a change of the playback time seen on an animation frame counts as a new frame.
export function videoFrameSource(video, { nextPaint = globalThis.requestAnimationFrame, cancelPaint = globalThis.cancelAnimationFrame } = {}) {
  if (typeof video.requestVideoFrameCallback === 'function') {
    return {
      watch(onFrame) {
        let counted = 0;
        let handle = video.requestVideoFrameCallback(function onVideoFrame(now, meta) {
          handle = video.requestVideoFrameCallback(onVideoFrame);
          counted += 1;
          onFrame(Number.isInteger(meta?.presentedFrames) ? meta.presentedFrames : counted);
        });
        return () => video.cancelVideoFrameCallback(handle);
      },
    };
  }
  const later = typeof nextPaint === 'function' ? nextPaint : (fn) => setTimeout(fn, 16);
  const cancel = typeof nextPaint === 'function' ? cancelPaint : clearTimeout;
  return {
    watch(onFrame) {
      let id = 0;
      let lastTime = null;
      let handle = later(function poll() {
        handle = later(poll);
        if (video.currentTime === lastTime) return;
        lastTime = video.currentTime;
        id += 1;
        onFrame(id);
      });
      return () => cancel(handle);
    },
  };
}

// Decodes frames from `frames` (as videoFrameSource gives them) one at a time: `step(id)` decodes
// the video's current frame and resolves false to end the loop (a lock, a stop). Returns
// `stats` ({ decoded, skipped }: frames handed to step, and frames presented between two of
// them that never were), `stop()`, and `done`, which resolves with the stats when the loop ends
// and rejects when a step throws.
export function paceFrames({ frames, step, schedule = postTask }) {
  const stats = { decoded: 0, skipped: 0 };
  let newest = null;
  let lastDecoded = null;
  let busy = false;
  let stopped = false;
  let settle;
  const done = new Promise((resolve, reject) => {
    settle = { resolve, reject };
  });
  let unwatch = () => {};

  function stop(error) {
    if (stopped) return;
    stopped = true;
    unwatch();
    if (error) settle.reject(error);
    else settle.resolve(stats);
  }

  async function decodeNewest() {
    if (stopped) return;
    const id = newest;
    if (lastDecoded !== null) stats.skipped += id - lastDecoded - 1;
    lastDecoded = id;
    stats.decoded += 1;
    let goOn;
    try {
      goOn = await step(id);
    } catch (error) {
      stop(error);
      return;
    }
    busy = false;
    if (stopped) return;
    if (!goOn) stop();
    else if (newest > lastDecoded) startDecode();
  }

  function startDecode() {
    busy = true;
    schedule(decodeNewest);
  }

  unwatch = frames.watch((id) => {
    // A frame reported again, or out of order, is never decoded twice.
    if (stopped || (newest !== null && id <= newest)) return;
    newest = id;
    if (!busy) startDecode();
  });
  if (stopped) unwatch();
  return { stats, stop: () => stop(), done };
}
