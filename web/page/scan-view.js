// The scanner panel: the viewfinder's idle and scanning views, the dock (start/stop, torch,
// refocus, zoom, photo), and the frame loop from the camera through the consensus tracker to a
// lock. An accepted entry is shown, added to the history and handed to `relay.send`.
import { BarcodeConsensus, validateBarcodeIntegrity } from '../scan/consensus.js';
import { Camera } from '../scan/camera.js';
import { BarcodeScannerEngine } from '../scan/engine.js';
import { paceFrames, videoFrameSource } from '../scan/frame-pacer.js';
import { createHud } from './hud.js';
import { isActivationKey } from './result-view.js';
import { entryFromLock, entryFromPhoto } from './session.js';
import { elementsById } from '../lib/dom.js';

export function createScanView(state, { feedback, result, relay }) {
  const ui = elementsById({
    viewfinder: 'viewfinder',
    video: 'camera-video',
    idleOverlay: 'idle-overlay',
    reticle: 'reticle-overlay',
    zoomSlider: 'zoom-slider',
    zoomValue: 'zoom-value',
    torch: 'btn-torch',
    refocus: 'btn-refocus',
    photoInput: 'photo-input',
    scanToggle: 'btn-scan-toggle',
  });
  const { session } = state;
  const scanner = new BarcodeScannerEngine();
  const camera = new Camera();
  const consensus = new BarcodeConsensus(session.precision);
  const updateHud = createHud(state);
  // The frame loop that runs, if any.
  let pacer = null;

  function restartTracker() {
    consensus.setPreset(session.precision);
    consensus.reset();
    updateHud(consensus.evaluate());
  }

  function showScanningView(abilities) {
    ui.viewfinder.dataset.state = 'scanning';
    ui.idleOverlay.hidden = true;
    ui.reticle.hidden = false;
    ui.scanToggle.dataset.scanning = 'true';
    ui.scanToggle.disabled = false;
    ui.torch.hidden = !abilities.torchSupported;
    ui.torch.setAttribute('aria-pressed', 'false');
    ui.refocus.hidden = false;
    const [min, max, step] = session.hardwareZoom ? [abilities.zoomMin, abilities.zoomMax, abilities.zoomStep] : [1, 3, 0.1];
    Object.assign(ui.zoomSlider, { min, max, step });
    ui.zoomSlider.value = String(min);
    ui.zoomValue.textContent = `${Number(min).toFixed(1)}×`;
    ui.video.style.transform = '';
  }

  function showIdleView() {
    ui.video.srcObject = null;
    ui.video.style.transform = '';
    ui.viewfinder.dataset.state = 'idle';
    delete ui.viewfinder.dataset.confidence;
    ui.reticle.hidden = true;
    ui.idleOverlay.hidden = false;
    ui.torch.hidden = true;
    ui.refocus.hidden = true;
    ui.scanToggle.dataset.scanning = 'false';
  }

  // Accepted by a lock or from a photo: shown, kept and sent.
  function accept(entry, sendOptions, message) {
    result.render(entry);
    state.history.add(entry);
    relay.send(entry, sendOptions);
    feedback.announce(message);
  }

  async function startScanning() {
    const ticket = session.beginStart();
    if (ticket === null) return;
    feedback.clearError();
    feedback.resumeAudio();
    result.hide();
    ui.scanToggle.disabled = true;
    try {
      const engines = await scanner.initEngines();
      feedback.showEngineBadge(engines.label, true, engines.zxingSource);
      const abilities = await camera.start(ui.video);
      // Stopped (page hidden) while the camera was opening: release it again at once.
      if (session.overtaken(ticket)) {
        await camera.stop();
        showIdleView();
        return;
      }
      session.cameraOpened(abilities);
      showScanningView(abilities);
      restartTracker();
      feedback.announce('Camera active. Aim barcode inside the frame.');
      runScanLoop();
    } catch (error) {
      session.startFailed();
      // A camera that opened before a later step failed is released, so its light goes out.
      camera.stop();
      showIdleView();
      feedback.showError(error?.message || 'Unable to start camera.');
    } finally {
      session.endStart();
      ui.scanToggle.disabled = false;
    }
  }

  function resumeOrStartScan() {
    result.hide();
    feedback.clearError();
    feedback.resumeAudio();
    if (session.scanning && ui.video.srcObject) {
      session.resume();
      ui.viewfinder.dataset.state = 'scanning';
      delete ui.viewfinder.dataset.confidence;
      restartTracker();
      runScanLoop();
    } else {
      startScanning();
    }
  }

  function stopScanning() {
    session.stop();
    pacer?.stop();
    camera.stop();
    showIdleView();
  }

  // Decodes each new camera frame once, as soon as the previous decode is done (frame-pacer.js).
  function runScanLoop() {
    pacer?.stop();
    const running = session.newLoop();
    const { video } = ui;
    pacer = paceFrames({ frames: videoFrameSource(video), step: () => scanFrame(video, running) });
  }

  // One frame through the decoders and the tracker; false once the loop must end.
  async function scanFrame(video, running) {
    if (!running()) return false;
    const frameIndex = session.takeFrame(video);
    // The same picture as the last frame (or no data yet): wait for the next.
    if (!frameIndex) return true;
    let reading = null;
    try {
      reading = await scanner.scanVideoFrame(video, {
        mode: session.scanMode, frameIndex, digitalZoom: session.digitalZoom(ui.zoomSlider.value),
      });
    } catch {
      reading = null;
    }
    if (!running()) return false;
    const tracker = consensus.addFrame(reading);
    updateHud(tracker);
    if (tracker.locked && tracker.leader) {
      handleScanLock(tracker);
      return false;
    }
    return true;
  }

  function handleScanLock(tracker) {
    session.lock();
    feedback.playLockBeep();
    feedback.flashLock();
    const entry = entryFromLock(tracker);
    accept(entry, { repaint: true },
      `Scanned ${entry.format} barcode ${entry.text} with ${entry.confidence} percent confidence.`);
  }

  async function handlePhotoUpload() {
    const file = ui.photoInput.files?.[0];
    // Cleared so that choosing the same file again fires another change.
    ui.photoInput.value = '';
    if (!file) return;
    feedback.clearError();
    feedback.resumeAudio();
    try {
      const hit = await scanner.scanImageFile(file, { mode: session.scanMode });
      if (!hit) {
        feedback.showError('No barcode detected in that photo. Try a sharper, well-lit close-up.');
        return;
      }
      const integrity = validateBarcodeIntegrity(hit.format, hit.text);
      if (integrity.checked && !integrity.valid) {
        feedback.showError(`Detected ${hit.format} (${hit.text}), but check digit validation failed. Please retake photo.`);
        return;
      }
      feedback.playLockBeep();
      const entry = entryFromPhoto(hit, integrity);
      accept(entry, undefined, `Decoded ${entry.format} barcode ${entry.text} from photo.`);
    } catch (error) {
      feedback.showError(error?.message || 'Failed to decode photo.');
    }
  }

  function onViewfinderActivate() {
    const action = session.tapAction();
    if (action === 'start') startScanning();
    else if (action === 'resume') resumeOrStartScan();
    else if (action === 'refocus') camera.refocus();
  }

  ui.scanToggle.addEventListener('click', () => (session.scanning ? stopScanning() : startScanning()));
  ui.viewfinder.addEventListener('click', onViewfinderActivate);
  ui.viewfinder.addEventListener('keydown', (event) => {
    if (!isActivationKey(event.key) || event.target !== ui.viewfinder) return;
    event.preventDefault();
    onViewfinderActivate();
  });
  result.onDismiss(resumeOrStartScan);
  ui.refocus.addEventListener('click', () => camera.refocus());
  ui.torch.addEventListener('click', async () => {
    session.torchOn = await camera.setTorch(!session.torchOn);
    ui.torch.setAttribute('aria-pressed', String(session.torchOn));
  });
  ui.zoomSlider.addEventListener('input', () => {
    const value = Number.parseFloat(ui.zoomSlider.value);
    ui.zoomValue.textContent = `${value.toFixed(1)}×`;
    if (session.hardwareZoom) camera.setZoom(value);
    else if (session.scanning) ui.video.style.transform = value > 1 ? `scale(${value})` : '';
  });
  ui.photoInput.addEventListener('change', handlePhotoUpload);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden' && session.stopsWhenHidden()) stopScanning();
  });

  return {
    // A new level or symbology: the tracker starts over with it.
    settingsChanged() {
      consensus.setPreset(session.precision);
      if (session.scanning) restartTracker();
    },
    // Loads the decoders at start-up, so the badge names them before the first scan.
    loadDecoders() {
      scanner.initEngines().then(
        (engines) => feedback.showEngineBadge(engines.label, true, engines.zxingSource),
        () => feedback.showEngineBadge('Decoder offline', false),
      );
    },
  };
}
