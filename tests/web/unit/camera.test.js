import { describe, it, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { setGlobal, installFakeClock } from '../helpers/globals.js';
import { Camera } from '../../../web/scan/camera.js';

describe('camera control', () => {
  let restore = [];
  let log;

  function fakeTrack(capabilities) {
    return {
      stopped: false,
      getCapabilities: () => capabilities,
      async applyConstraints(constraints) {
        log.push(['apply', constraints.advanced[0]]);
        if (capabilities.reject) throw new Error('OverconstrainedError');
      },
      stop() { this.stopped = true; log.push(['stop']); },
    };
  }

  function installCamera(capabilities, { failFirst = false, failAll = false } = {}) {
    const track = fakeTrack(capabilities);
    const requests = [];
    restore.push(setGlobal('navigator', {
      mediaDevices: {
        async getUserMedia(constraints) {
          requests.push(constraints);
          if (failAll || (failFirst && requests.length === 1)) throw new Error('NotAllowedError');
          return { getVideoTracks: () => [track], getTracks: () => [track] };
        },
      },
    }));
    return { track, requests };
  }

  const video = () => ({
    videoWidth: 1280, videoHeight: 720, attributes: {},
    setAttribute(name, value) { this.attributes[name] = value; },
    async play() { this.playing = true; },
  });

  beforeEach(() => { log = []; });
  afterEach(() => {
    restore.forEach((undo) => undo());
    restore = [];
  });

  it('asks for the rear camera at up to 1080p 30 fps and reports its abilities', async () => {
    const { requests } = installCamera({ torch: true, zoom: { min: 1, max: 10, step: 0.5 }, focusMode: ['continuous', 'manual'] });
    const camera = new Camera();
    const el = video();
    const info = await camera.start(el);
    assert.deepEqual(requests, [{
      audio: false,
      video: {
        facingMode: { ideal: 'environment' }, width: { ideal: 1920, min: 640 }, height: { ideal: 1080, min: 480 },
        frameRate: { ideal: 30, min: 15 },
      },
    }]);
    assert.deepEqual(info, { width: 1280, height: 720, torchSupported: true, zoomSupported: true, zoomMin: 1, zoomMax: 6, zoomStep: 0.5 });
    assert.equal(el.muted, true);
    assert.equal(el.playsInline, true);
    assert.equal(el.playing, true);
    assert.deepEqual(log, [['apply', { focusMode: 'continuous' }]]);
  });

  it('retries once with only the facing mode, and reports defaults without capabilities', async () => {
    const { requests } = installCamera({}, { failFirst: true });
    const camera = new Camera();
    const info = await camera.start(video());
    assert.deepEqual(requests[1], { audio: false, video: { facingMode: 'environment' } });
    assert.deepEqual(info, { width: 1280, height: 720, torchSupported: false, zoomSupported: false, zoomMin: 1, zoomMax: 1, zoomStep: 0.1 });
    assert.deepEqual(log, [], 'no focus constraint without focus capabilities');
  });

  it('passes the second refusal to the caller', async () => {
    installCamera({}, { failAll: true });
    await assert.rejects(new Camera().start(video()), { message: 'NotAllowedError' });
  });

  it('explains a missing camera interface', async () => {
    restore.push(setGlobal('navigator', {}));
    restore.push(setGlobal('isSecureContext', false));
    restore.push(setGlobal('location', { hostname: '192.168.1.5' }));
    await assert.rejects(new Camera().start(video()), {
      message: 'Camera streaming unavailable. Live video requires HTTPS on mobile browsers. Use the "Scan Photo" button below (works over plain HTTP!), or open via HTTPS.',
    });
    restore.push(setGlobal('location', { hostname: 'localhost' }));
    await assert.rejects(new Camera().start(video()), {
      message: 'Camera streaming unavailable. Open this app over HTTPS or localhost on a device with a camera.',
    });
  });

  it('clamps zoom to the camera\'s own range and ignores it without zoom', async () => {
    installCamera({ zoom: { min: 1, max: 10, step: 0.1 } });
    const camera = new Camera();
    await camera.start(video());
    await camera.setZoom(12);
    await camera.setZoom(0.5);
    await camera.setZoom(3);
    assert.deepEqual(log.map((entry) => entry[1].zoom), [10, 1, 3]);

    log = [];
    installCamera({});
    await camera.start(video());
    log = [];
    await camera.setZoom(2);
    assert.deepEqual(log, []);
  });

  it('reports the torch state in force', async () => {
    installCamera({});
    const plain = new Camera();
    assert.equal(await plain.setTorch(true), false, 'no track yet');
    await plain.start(video());
    log = [];
    assert.equal(await plain.setTorch(true), false);
    assert.deepEqual(log, [], 'nothing applied without torch support');

    installCamera({ torch: true });
    const lit = new Camera();
    await lit.start(video());
    assert.equal(await lit.setTorch(true), true);
    assert.equal(await lit.setTorch(false), false);

    installCamera({ torch: true, reject: true });
    const refused = new Camera();
    await refused.start(video());
    assert.equal(await refused.setTorch(true), false);
  });

  it('switches the torch off before releasing the camera', async () => {
    const { track } = installCamera({ torch: true });
    const camera = new Camera();
    await camera.start(video());
    log = [];
    await camera.stop();
    assert.deepEqual(log, [['apply', { torch: false }], ['stop']]);
    assert.equal(track.stopped, true);
    assert.deepEqual([camera.stream, camera.videoTrack, camera.capabilities], [null, null, {}]);
  });

  it('refocuses with a single shot, then continuous focus 450 ms later', async () => {
    const clock = installFakeClock();
    try {
      installCamera({ focusMode: ['single-shot', 'continuous'], exposureMode: ['continuous'] });
      const camera = new Camera();
      await camera.start(video());
      log = [];
      await camera.refocus();
      assert.deepEqual(log, [['apply', { focusMode: 'single-shot' }]]);
      clock.tick(449);
      assert.equal(log.length, 1);
      clock.tick(1);
      await Promise.resolve();
      assert.deepEqual(log[1], ['apply', { focusMode: 'continuous', exposureMode: 'continuous' }]);
    } finally {
      clock.uninstall();
    }
  });

  it('refocuses continuously without single-shot, and not at all without focus modes', async () => {
    installCamera({ focusMode: ['continuous'] });
    const camera = new Camera();
    await camera.start(video());
    log = [];
    await camera.refocus();
    assert.deepEqual(log, [['apply', { focusMode: 'continuous' }]]);

    installCamera({ exposureMode: ['continuous'] });
    await camera.start(video());
    log = [];
    await camera.refocus();
    assert.deepEqual(log, []);
  });
});
