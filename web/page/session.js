// The scan session's state, without page elements: the settings it scans with, whether the
// camera is open or opening, whether the frame loop runs and which start or loop is current.
// Also the history entry a lock or a photo makes.
import { PRECISION_PRESETS } from '../scan/consensus.js';

const HAVE_CURRENT_DATA = 2;

export class ScanSession {
  constructor() {
    this.precision = 'balanced';
    this.scanMode = 'all';
    // The camera is open; the frame loop feeds the tracker (false after a lock); a start is under way.
    this.scanning = false;
    this.looping = false;
    this.starting = false;
    this.torchOn = false;
    this.hardwareZoom = false;
    // Bumped by every stop: a start or a frame loop that sees another value has been overtaken.
    this.cameraSession = 0;
    // The one frame loop that may feed the tracker; an older loop exits at its next check.
    this.activeLoop = 0;
    this.lastVideoTime = -1;
    this.frameCounter = 0;
  }

  choosePrecision(id) {
    this.precision = Object.hasOwn(PRECISION_PRESETS, id) ? id : 'balanced';
  }

  chooseMode(id) {
    this.scanMode = id;
  }

  // A camera start begins: its ticket, or null while another start is under way.
  beginStart() {
    if (this.starting) return null;
    this.starting = true;
    return this.cameraSession;
  }

  // A stop came between the start that holds this ticket and now.
  overtaken(ticket) {
    return ticket !== this.cameraSession;
  }

  cameraOpened(camera) {
    this.scanning = true;
    this.looping = true;
    this.lastVideoTime = -1;
    this.frameCounter = 0;
    this.torchOn = false;
    this.hardwareZoom = camera.zoomSupported && camera.zoomMax > camera.zoomMin;
  }

  startFailed() {
    this.scanning = false;
    this.looping = false;
  }

  endStart() {
    this.starting = false;
  }

  // The open camera scans again after a lock.
  resume() {
    this.lastVideoTime = -1;
    this.looping = true;
  }

  stop() {
    this.cameraSession += 1;
    this.scanning = false;
    this.looping = false;
    this.torchOn = false;
    this.hardwareZoom = false;
  }

  lock() {
    this.looping = false;
  }

  // Starts a frame loop and answers, at each check, whether it may still run.
  newLoop() {
    this.activeLoop += 1;
    const loop = this.activeLoop;
    return () => loop === this.activeLoop && this.scanning && this.looping;
  }

  // Takes the video's current frame when it is new: a frozen or repeated frame must never add
  // agreement. Returns the frame's index, or 0 for a frame to skip.
  takeFrame(video) {
    if (video.currentTime === this.lastVideoTime || video.readyState < HAVE_CURRENT_DATA) return 0;
    this.lastVideoTime = video.currentTime;
    this.frameCounter += 1;
    return this.frameCounter;
  }

  // The slider zooms digitally only where the camera has no zoom of its own.
  digitalZoom(sliderValue) {
    if (this.hardwareZoom) return 1;
    const value = Number.parseFloat(sliderValue);
    return Number.isNaN(value) ? 1 : value;
  }

  // What a tap on the viewfinder does: 'start', 'resume', 'refocus', or null while the camera opens.
  tapAction() {
    if (this.starting) return null;
    if (!this.scanning) return 'start';
    if (!this.looping) return 'resume';
    return 'refocus';
  }

  // A hidden page releases the camera, also one that is still opening.
  stopsWhenHidden() {
    return this.scanning || this.starting;
  }
}

// The entry of a tracker lock.
export function entryFromLock(state) {
  const { leader } = state;
  return {
    format: leader.format,
    text: leader.text,
    confidence: state.confidence,
    confirmations: state.confirmations,
    requiredConfirmations: state.requiredConfirmations,
    agreementRatio: state.agreementRatio,
    elapsedMs: state.elapsedMs,
    checksumVerified: leader.checksumVerified,
    engines: leader.engines,
  };
}

// The entry of a photo's single reading: its confidence rests on both decoders agreeing or a
// valid check digit.
export function entryFromPhoto(hit, integrity) {
  const checksumVerified = integrity.checked && integrity.valid;
  const bothEngines = hit.engines.includes('zxing-wasm') && hit.engines.includes('native');
  return {
    format: hit.format,
    text: hit.text,
    confidence: bothEngines ? 97 : checksumVerified ? 94 : 90,
    confirmations: 1,
    requiredConfirmations: 1,
    agreementRatio: 1,
    elapsedMs: 0,
    checksumVerified,
    engines: hit.engines,
  };
}
