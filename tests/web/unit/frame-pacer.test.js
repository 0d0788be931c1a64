import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { installFakeClock } from '../helpers/globals.js';
import { paceFrames, videoFrameSource } from '../../../web/scan/frame-pacer.js';

const FRAME_MS = 1000 / 30;

// A camera on the fake clock presenting frame 1, 2, 3… every FRAME_MS, and a decoder that takes
// `decodeMs` per frame. Records every decode's frame id, start and end.
async function runCamera(clock, { decodeMs, seconds = 1, stopAfter = Infinity }) {
  let onFrame = null;
  let presented = 0;
  let unwatched = false;
  const frames = {
    watch(callback) {
      onFrame = callback;
      return () => {
        unwatched = true;
      };
    },
  };
  const decodes = [];
  let running = 0;
  const step = (id) => new Promise((resolve) => {
    running += 1;
    assert.equal(running, 1, `frame ${id} decoded while another decode runs`);
    const decode = { id, start: clock.now(), newest: presented, end: null };
    decodes.push(decode);
    setTimeout(() => {
      running -= 1;
      decode.end = clock.now();
      resolve(decodes.length < stopAfter);
    }, decodeMs);
  });
  const pacer = paceFrames({ frames, step, schedule: (fn) => setTimeout(fn, 0) });
  const present = () => {
    presented += 1;
    onFrame(presented);
    if (presented < seconds * 30) setTimeout(present, FRAME_MS);
  };
  present();
  // Timer by timer, letting each decode's promise settle before the next timer.
  do await new Promise(setImmediate); while (clock.next());
  return { pacer, decodes, presented, unwatched: () => unwatched };
}

describe('frame pacer on a 30 fps camera', () => {
  let clock;
  afterEach(() => clock?.uninstall());

  it('decodes every frame once, at once, when decoding is faster than the camera', async () => {
    clock = installFakeClock();
    const { pacer, decodes, presented } = await runCamera(clock, { decodeMs: 12 });
    assert.deepEqual(decodes.map((d) => d.id), Array.from({ length: presented }, (_, i) => i + 1));
    // No pause: each decode starts when its frame is presented.
    for (const d of decodes) assert.ok(d.start - (d.id - 1) * FRAME_MS < 1, `frame ${d.id} started at ${d.start} ms`);
    assert.deepEqual(pacer.stats, { decoded: presented, skipped: 0 });
  });

  it('skips frames rather than queueing them behind a slow decoder', async () => {
    clock = installFakeClock();
    const { pacer, decodes, presented } = await runCamera(clock, { decodeMs: 50 });
    for (let i = 1; i < decodes.length; i += 1) {
      assert.ok(decodes[i].id > decodes[i - 1].id, 'a frame decoded twice or out of order');
      // The next decode takes the newest frame as soon as the last one ends: no backlog, no gap.
      assert.equal(decodes[i].id, decodes[i].newest, `decode ${i} took frame ${decodes[i].id} of ${decodes[i].newest}`);
      assert.ok(decodes[i].start - decodes[i - 1].end < 1, 'waited although a new frame was there');
    }
    assert.ok(decodes.length >= 15 && decodes.length <= 21, `${decodes.length} decodes in 1 s at 50 ms each`);
    assert.equal(pacer.stats.decoded, decodes.length);
    assert.equal(pacer.stats.skipped, decodes.at(-1).id - decodes.length);
    assert.ok(decodes.at(-1).id >= presented - 1);
  });

  it('ends when a step says so and stops watching the camera', async () => {
    clock = installFakeClock();
    const { pacer, decodes, unwatched } = await runCamera(clock, { decodeMs: 5, stopAfter: 3 });
    assert.equal(decodes.length, 3);
    assert.equal(unwatched(), true);
    assert.deepEqual(await pacer.done, { decoded: 3, skipped: 0 });
  });
});

describe('frame pacer edges', () => {
  // Frames presented by hand, tasks run by hand, decodes finished by hand.
  function manual(stepResult = true) {
    let onFrame = null;
    let watching = false;
    const tasks = [];
    const steps = [];
    const pacer = paceFrames({
      frames: {
        watch(callback) {
          onFrame = callback;
          watching = true;
          return () => {
            watching = false;
          };
        },
      },
      step: (id) => new Promise((resolve, reject) => steps.push({ id, finish: () => resolve(stepResult), fail: reject })),
      schedule: (fn) => tasks.push(fn),
    });
    const settle = () => new Promise((resolve) => setImmediate(resolve));
    return {
      pacer, steps, tasks,
      present: (id) => onFrame(id),
      watching: () => watching,
      runTasks: async () => {
        while (tasks.length) tasks.shift()();
        await settle();
      },
      finish: async () => {
        steps.at(-1).finish();
        await settle();
      },
    };
  }

  it('never decodes a frame reported again or out of order', async () => {
    const m = manual();
    m.present(5);
    await m.runTasks();
    await m.finish();
    m.present(5);
    m.present(4);
    await m.runTasks();
    assert.deepEqual(m.steps.map((s) => s.id), [5]);
    m.present(6);
    m.present(6);
    assert.equal(m.tasks.length, 1, 'one frame, one task');
  });

  it('stop() during a decode drops what follows and stops watching', async () => {
    const m = manual();
    m.present(1);
    await m.runTasks();
    m.present(2);
    m.pacer.stop();
    await m.finish();
    m.present(3);
    await m.runTasks();
    assert.deepEqual(m.steps.map((s) => s.id), [1]);
    assert.equal(m.watching(), false);
    assert.deepEqual(await m.pacer.done, { decoded: 1, skipped: 0 });
  });

  it('ends with the error of a step that throws', async () => {
    const m = manual();
    m.present(1);
    await m.runTasks();
    m.steps[0].fail(new Error('hud broke'));
    await assert.rejects(m.pacer.done, { message: 'hud broke' });
    assert.equal(m.watching(), false);
  });
});

describe('video frame source', () => {
  it('reports the presented frame count of the video frame callback and re-arms it', () => {
    const callbacks = new Map();
    let nextHandle = 1;
    const video = {
      requestVideoFrameCallback(fn) {
        callbacks.set(nextHandle, fn);
        return nextHandle++;
      },
      cancelVideoFrameCallback: (handle) => callbacks.delete(handle),
    };
    const ids = [];
    const unwatch = videoFrameSource(video).watch((id) => ids.push(id));
    const fire = (meta) => {
      const [handle, fn] = [...callbacks.entries()].at(-1);
      callbacks.delete(handle);
      fn(0, meta);
    };
    fire({ presentedFrames: 7 });
    fire({ presentedFrames: 9 });
    assert.deepEqual(ids, [7, 9]);
    unwatch();
    assert.equal(callbacks.size, 0);
  });

  it('without one, counts a changed playback time on an animation frame as a new frame', () => {
    const paints = [];
    const video = { currentTime: 0.1 };
    const ids = [];
    const unwatch = videoFrameSource(video, { nextPaint: (fn) => paints.push(fn), cancelPaint: () => paints.splice(0) })
      .watch((id) => ids.push(id));
    const paint = () => paints.shift()();
    paint();
    paint();
    video.currentTime = 0.133;
    paint();
    assert.deepEqual(ids, [1, 2]);
    unwatch();
    assert.equal(paints.length, 0);
  });
});
