import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { ScanSession, entryFromPhoto } from '../../../web/page/session.js';

const CAMERA = { zoomSupported: false, zoomMin: 1, zoomMax: 1 };

describe('scan session', () => {
  it('lets one camera start run at a time, and a stop overtakes it', () => {
    const session = new ScanSession();
    const ticket = session.beginStart();
    assert.notEqual(ticket, null);
    assert.equal(session.beginStart(), null, 'a second tap while the camera opens');
    assert.equal(session.tapAction(), null);
    assert.equal(session.stopsWhenHidden(), true, 'a hidden page stops an opening camera too');
    session.stop();
    assert.equal(session.overtaken(ticket), true);
    session.endStart();
    assert.equal(session.overtaken(session.beginStart()), false);
  });

  it('goes start, refocus, resume after a lock, and start again after a stop', () => {
    const session = new ScanSession();
    assert.equal(session.tapAction(), 'start');
    session.beginStart();
    session.cameraOpened(CAMERA);
    session.endStart();
    assert.equal(session.tapAction(), 'refocus');
    session.lock();
    assert.equal(session.tapAction(), 'resume');
    session.resume();
    assert.equal(session.tapAction(), 'refocus');
    session.stop();
    assert.equal(session.tapAction(), 'start');
    assert.equal(session.stopsWhenHidden(), false);
  });

  it('runs only the newest frame loop, and none after a lock or a stop', () => {
    const session = new ScanSession();
    session.cameraOpened(CAMERA);
    const older = session.newLoop();
    const newer = session.newLoop();
    assert.deepEqual([older(), newer()], [false, true]);
    session.lock();
    assert.equal(newer(), false);
    session.resume();
    const resumed = session.newLoop();
    session.stop();
    assert.equal(resumed(), false);
  });

  it('counts only new frames of a video that has data', () => {
    const session = new ScanSession();
    session.cameraOpened(CAMERA);
    assert.equal(session.takeFrame({ currentTime: 0.5, readyState: 1 }), 0, 'no data yet');
    assert.equal(session.takeFrame({ currentTime: 0.5, readyState: 4 }), 1);
    assert.equal(session.takeFrame({ currentTime: 0.5, readyState: 4 }), 0, 'the same frame again');
    assert.equal(session.takeFrame({ currentTime: 0.6, readyState: 4 }), 2);
    session.resume();
    assert.equal(session.takeFrame({ currentTime: 0.6, readyState: 4 }), 3, 'after a resume the frame counts again');
    session.cameraOpened(CAMERA);
    assert.equal(session.takeFrame({ currentTime: 0.7, readyState: 4 }), 1, 'a new camera counts from one');
  });

  it('zooms digitally only without a hardware zoom', () => {
    const session = new ScanSession();
    assert.equal(session.digitalZoom('2.5'), 2.5);
    assert.equal(session.digitalZoom('x'), 1);
    session.cameraOpened({ zoomSupported: true, zoomMin: 1, zoomMax: 5 });
    assert.equal(session.digitalZoom('2.5'), 1);
    session.cameraOpened({ zoomSupported: true, zoomMin: 1, zoomMax: 1 });
    assert.equal(session.digitalZoom('2.5'), 2.5, 'a zoom range of one value is no zoom');
    session.stop();
    assert.equal(session.hardwareZoom, false);
  });

  it('falls back to the balanced level for an unknown name', () => {
    const session = new ScanSession();
    session.choosePrecision('laser');
    assert.equal(session.precision, 'laser');
    session.choosePrecision('constructor');
    assert.equal(session.precision, 'balanced');
  });
});

describe('photo entry', () => {
  const hit = (engines) => ({ format: 'EAN-13', text: '4006381333931', engines });

  it('is most confident when both decoders agree, then with a valid check digit', () => {
    const valid = { checked: true, valid: true };
    const unchecked = { checked: false, valid: false };
    assert.equal(entryFromPhoto(hit(['zxing-wasm', 'native']), unchecked).confidence, 97);
    assert.deepEqual(entryFromPhoto(hit(['zxing-wasm']), valid), {
      format: 'EAN-13', text: '4006381333931', confidence: 94, confirmations: 1, requiredConfirmations: 1,
      agreementRatio: 1, elapsedMs: 0, checksumVerified: true, engines: ['zxing-wasm'],
    });
    assert.equal(entryFromPhoto(hit(['native']), unchecked).confidence, 90);
    assert.equal(entryFromPhoto(hit(['native']), unchecked).checksumVerified, false);
  });
});
