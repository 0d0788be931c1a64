// The scanner page: idle / scanning / approved states, the frame loop from the camera engine into
// the consensus tracker, the HUD, lock feedback, the result overlay, settings, photo decoding,
// history with CSV export, and copy buttons. The relay half (share dialog, relay badge, automatic
// sending, waiting list, pairing from the receiver's QR code) is relay.js.
import { BarcodeConsensus, PRECISION_PRESETS, validateBarcodeIntegrity } from './scan/consensus.js';
import { Camera } from './scan/camera.js';
import { BarcodeScannerEngine } from './scan/engine.js';
import { startRelay } from './relay.js';
import { readStorage, writeStorage } from './lib/storage.js';

const HISTORY_KEY = 'quillmark_history_v1';
const PRESS_ENTER_KEY = 'quillmark_press_enter_v1';
const HISTORY_LIMIT = 50;
const HIGH_CONFIDENCE = 65;
const IDLE_FRAME_WAIT_MS = 30;
const FRAME_PAUSE_MS = 16;
const TIP_RESET_MS = 2000;
const NO_BREAK_SPACE = '\u00a0';

const PRECISION_LABELS = { fast: 'Fast (3f)', balanced: 'Balanced (5f)', laser: 'Laser (8f)' };
const MODE_LABELS = { all: 'All 1D/2D', linear: '1D Laser', matrix: '2D Codes' };

const $ = (id) => document.getElementById(id);
const ui = {
  viewfinder: $('viewfinder'),
  video: $('camera-video'),
  idleOverlay: $('idle-overlay'),
  reticle: $('reticle-overlay'),
  hudFrames: $('hud-frames'),
  hudCandidate: $('hud-candidate'),
  hudStatus: $('hud-status-text'),
  hudPct: $('hud-confidence-pct'),
  progressbar: $('confidence-progressbar'),
  fill: $('confidence-fill'),
  lockFlash: $('lock-flash'),
  zoomSlider: $('zoom-slider'),
  zoomValue: $('zoom-value'),
  torch: $('btn-torch'),
  refocus: $('btn-refocus'),
  photoInput: $('photo-input'),
  scanToggle: $('btn-scan-toggle'),
  errorBanner: $('error-banner'),
  engineBadge: $('engine-badge'),
  summaryText: $('settings-summary-text'),
  precisionGroup: $('precision-group'),
  modeGroup: $('mode-group'),
  optSound: $('opt-sound'),
  optPressEnter: $('opt-press-enter'),
  historyCount: $('history-count'),
  exportCsv: $('btn-export-csv'),
  clearHistory: $('btn-clear-history'),
  historyEmpty: $('history-empty'),
  historyList: $('history-list'),
  overlay: $('approved-overlay'),
  resultFormat: $('result-format'),
  resultConfidence: $('result-confidence'),
  resultCode: $('result-code'),
  approvedMeta: $('approved-meta'),
  copyApproved: $('btn-copy-approved'),
  announcer: $('sr-announcer'),
};

const scanner = new BarcodeScannerEngine();
const camera = new Camera();
let precision = 'balanced';
let scanMode = 'all';
const consensus = new BarcodeConsensus(precision);
let isScanning = false;
let scanLoopActive = false;
let torchOn = false;
let hardwareZoomSupported = false;
let lastVideoTime = -1;
let frameCounter = 0;
let audioCtx = null;
let history = [];
// What relay.js hands back once wired: autoRelayScan, entryChanged and isWaiting.
let relay = null;
// All that the relay half may read or call of this one.
const shared = {
  latestEntry: null,
  pressEnter: () => ui.optPressEnter.checked,
  showError,
  clearError,
  errorText: () => (ui.errorBanner.hidden ? '' : ui.errorBanner.textContent),
  announce,
  renderResult,
  resultShown: () => !ui.overlay.hidden,
  markSent: markHistorySent,
  historyChanged: () => renderHistory(),
};
// Bumped by every stop: a start or a frame loop that sees another value has been overtaken.
let cameraSession = 0;
let cameraStarting = false;
// The one frame loop that may feed the tracker; an older loop exits at its next check.
let activeLoop = 0;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Waits at most `ms` for the video's next frame. A plain 30 ms wait after the 16 ms pause would
// miss every other frame of a 30 fps camera; waking on the frame itself keeps the camera's pace.
function nextFrameOrTimeout(video, ms) {
  if (typeof video.requestVideoFrameCallback !== 'function') return sleep(ms);
  return new Promise((resolve) => {
    const timer = setTimeout(() => {
      video.cancelVideoFrameCallback(handle);
      resolve();
    }, ms);
    const handle = video.requestVideoFrameCallback(() => {
      clearTimeout(timer);
      resolve();
    });
  });
}

// ---- Banner, announcements -------------------------------------------------------------------

function showError(message) {
  ui.errorBanner.textContent = message;
  ui.errorBanner.hidden = false;
}

function clearError() {
  ui.errorBanner.hidden = true;
  ui.errorBanner.textContent = '';
}

function announce(message) {
  ui.announcer.textContent = '';
  requestAnimationFrame(() => {
    ui.announcer.textContent = message;
  });
}

// The badge names the decoders; its tooltip adds where the WebAssembly reader came from.
function showEngineBadge(label, ready, zxingSource = null) {
  ui.engineBadge.textContent = label;
  ui.engineBadge.title = zxingSource ? `${label} (decoder from ${zxingSource})` : label;
  ui.engineBadge.className = ready ? 'pill pill-success' : 'pill pill-danger';
}

// ---- Lock feedback ---------------------------------------------------------------------------

function resumeAudio() {
  try {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!audioCtx && Context) audioCtx = new Context();
    audioCtx?.resume?.().catch(() => {});
  } catch {
    audioCtx = null;
  }
}

function playLockBeep() {
  if (!ui.optSound.checked) return;
  try {
    navigator.vibrate?.([45, 30, 55]);
  } catch {
    // Vibration is a nicety.
  }
  try {
    resumeAudio();
    if (!audioCtx) return;
    const t = audioCtx.currentTime;
    const oscillator = audioCtx.createOscillator();
    const gain = audioCtx.createGain();
    oscillator.type = 'sine';
    oscillator.frequency.setValueAtTime(1760, t);
    oscillator.frequency.setValueAtTime(2349.32, t + 0.065);
    gain.gain.setValueAtTime(0.0001, t);
    gain.gain.exponentialRampToValueAtTime(0.18, t + 0.012);
    gain.gain.exponentialRampToValueAtTime(0.0001, t + 0.16);
    oscillator.connect(gain).connect(audioCtx.destination);
    oscillator.start(t);
    oscillator.stop(t + 0.17);
  } catch {
    // An autoplay block or a missing audio device must not disturb the scan.
  }
}

function flashLock() {
  ui.lockFlash.classList.remove('active');
  void ui.lockFlash.offsetWidth;
  ui.lockFlash.classList.add('active');
}

// ---- HUD -------------------------------------------------------------------------------------

// The HUD is painted on every camera frame: only what changed is written, so an unchanged line
// costs no style invalidation.
function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

function setHidden(node, hidden) {
  if (node.hidden !== hidden) node.hidden = hidden;
}

function updateHud(state) {
  const frames = state.framesProcessed;
  const confidence = `${state.confidence}%`;
  setText(ui.hudFrames, `${frames} frame${frames === 1 ? '' : 's'}`);
  setText(ui.hudPct, confidence);
  if (ui.fill.style.width !== confidence) ui.fill.style.width = confidence;
  if (ui.progressbar.getAttribute('aria-valuenow') !== String(state.confidence)) {
    ui.progressbar.setAttribute('aria-valuenow', String(state.confidence));
  }
  const high = state.confidence >= HIGH_CONFIDENCE;
  if (high !== (ui.viewfinder.dataset.confidence === 'high')) {
    if (high) ui.viewfinder.dataset.confidence = 'high';
    else delete ui.viewfinder.dataset.confidence;
  }
  if (state.leader) {
    setText(ui.hudCandidate, `${state.leader.format}: ${state.leader.text}`);
    setHidden(ui.hudCandidate, false);
    setText(ui.hudStatus, `Verifying ${state.confirmations}/${PRECISION_PRESETS[precision].minConfirmations} matching reads…`);
  } else {
    setHidden(ui.hudCandidate, true);
    setText(ui.hudCandidate, '');
    setText(ui.hudStatus, 'Hold steady — aim barcode inside frame');
  }
}

function restartTracker() {
  consensus.setPreset(precision);
  consensus.reset();
  updateHud(consensus.evaluate());
}

// ---- Result overlay --------------------------------------------------------------------------

function renderResult(entry, sentVia = [], waiting = false) {
  shared.latestEntry = entry;
  relay?.entryChanged();
  ui.resultFormat.textContent = entry.format;
  ui.resultConfidence.textContent = `${entry.confidence}% Verified`;
  ui.resultCode.textContent = entry.text;
  const meta = [
    `${entry.confirmations}/${entry.requiredConfirmations} frames`,
    `${Math.round(entry.agreementRatio * 100)}% match`,
  ];
  if (entry.elapsedMs) meta.push(`${entry.elapsedMs} ms`);
  if (entry.checksumVerified) meta.push('Checksum OK');
  if (sentVia.length) meta.push(`Sent via ${sentVia.join('+')}`);
  if (waiting) meta.push('Waiting to send');
  ui.approvedMeta.textContent = meta.join(' · ');
  const wasHidden = ui.overlay.hidden;
  ui.overlay.hidden = false;
  if (wasHidden) ui.overlay.focus({ preventScroll: true });
}

function hideResult() {
  const hadFocus = ui.overlay.contains(document.activeElement);
  ui.overlay.hidden = true;
  if (hadFocus) ui.viewfinder.focus({ preventScroll: true });
}

// ---- Scanning --------------------------------------------------------------------------------

function showScanningView(camera) {
  ui.viewfinder.dataset.state = 'scanning';
  ui.idleOverlay.hidden = true;
  ui.reticle.hidden = false;
  ui.scanToggle.dataset.scanning = 'true';
  ui.scanToggle.disabled = false;
  ui.torch.hidden = !camera.torchSupported;
  ui.torch.setAttribute('aria-pressed', 'false');
  torchOn = false;
  ui.refocus.hidden = false;
  hardwareZoomSupported = camera.zoomSupported && camera.zoomMax > camera.zoomMin;
  const [min, max, step] = hardwareZoomSupported ? [camera.zoomMin, camera.zoomMax, camera.zoomStep] : [1, 3, 0.1];
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

async function startScanning() {
  if (cameraStarting) return;
  cameraStarting = true;
  const session = cameraSession;
  clearError();
  resumeAudio();
  hideResult();
  ui.scanToggle.disabled = true;
  try {
    const engines = await scanner.initEngines();
    showEngineBadge(engines.label, true, engines.zxingSource);
    const abilities = await camera.start(ui.video);
    // Stopped (page hidden) while the camera was opening: release it again at once.
    if (session !== cameraSession) {
      await camera.stop();
      showIdleView();
      return;
    }
    isScanning = true;
    scanLoopActive = true;
    lastVideoTime = -1;
    frameCounter = 0;
    showScanningView(abilities);
    restartTracker();
    announce('Camera active. Aim barcode inside the frame.');
    runScanLoop();
  } catch (error) {
    isScanning = false;
    scanLoopActive = false;
    // A camera that opened before a later step failed is released, so its light goes out.
    camera.stop();
    showIdleView();
    showError(error?.message || 'Unable to start camera.');
  } finally {
    cameraStarting = false;
    ui.scanToggle.disabled = false;
  }
}

function resumeOrStartScan() {
  hideResult();
  clearError();
  resumeAudio();
  if (isScanning && ui.video.srcObject) {
    lastVideoTime = -1;
    scanLoopActive = true;
    ui.viewfinder.dataset.state = 'scanning';
    delete ui.viewfinder.dataset.confidence;
    restartTracker();
    runScanLoop();
  } else {
    startScanning();
  }
}

function stopScanning() {
  cameraSession += 1;
  isScanning = false;
  scanLoopActive = false;
  torchOn = false;
  hardwareZoomSupported = false;
  camera.stop();
  showIdleView();
}

function currentDigitalZoom() {
  if (hardwareZoomSupported) return 1;
  const value = Number.parseFloat(ui.zoomSlider.value);
  return Number.isNaN(value) ? 1 : value;
}

async function runScanLoop() {
  activeLoop += 1;
  const loop = activeLoop;
  const running = () => loop === activeLoop && isScanning && scanLoopActive;
  while (running()) {
    const { video } = ui;
    // Only new camera frames count: a frozen or repeated frame must never add agreement.
    if (video.currentTime === lastVideoTime || video.readyState < 2) {
      await nextFrameOrTimeout(video, IDLE_FRAME_WAIT_MS);
      continue;
    }
    lastVideoTime = video.currentTime;
    frameCounter += 1;
    let reading = null;
    try {
      reading = await scanner.scanVideoFrame(video, { mode: scanMode, frameIndex: frameCounter, digitalZoom: currentDigitalZoom() });
    } catch {
      reading = null;
    }
    if (!running()) return;
    const state = consensus.addFrame(reading);
    updateHud(state);
    if (state.locked && state.leader) {
      handleScanLock(state);
      return;
    }
    await sleep(FRAME_PAUSE_MS);
  }
}

function handleScanLock(state) {
  scanLoopActive = false;
  playLockBeep();
  flashLock();
  const { leader } = state;
  const entry = {
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
  renderResult(entry);
  addHistoryEntry(entry);
  relay.autoRelayScan(entry, { repaint: true });
  announce(`Scanned ${entry.format} barcode ${entry.text} with ${entry.confidence} percent confidence.`);
}

// ---- Photo -----------------------------------------------------------------------------------

async function handlePhotoUpload() {
  const file = ui.photoInput.files?.[0];
  // Cleared so that choosing the same file again fires another change.
  ui.photoInput.value = '';
  if (!file) return;
  clearError();
  resumeAudio();
  try {
    const hit = await scanner.scanImageFile(file, { mode: scanMode });
    if (!hit) {
      showError('No barcode detected in that photo. Try a sharper, well-lit close-up.');
      return;
    }
    const integrity = validateBarcodeIntegrity(hit.format, hit.text);
    if (integrity.checked && !integrity.valid) {
      showError(`Detected ${hit.format} (${hit.text}), but check digit validation failed. Please retake photo.`);
      return;
    }
    playLockBeep();
    const checksumVerified = integrity.checked && integrity.valid;
    const bothEngines = hit.engines.includes('zxing-wasm') && hit.engines.includes('native');
    const entry = {
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
    renderResult(entry);
    addHistoryEntry(entry);
    relay.autoRelayScan(entry);
    announce(`Decoded ${entry.format} barcode ${entry.text} from photo.`);
  } catch (error) {
    showError(error?.message || 'Failed to decode photo.');
  }
}

// ---- History ---------------------------------------------------------------------------------

function loadHistory() {
  try {
    const parsed = JSON.parse(readStorage(HISTORY_KEY));
    return Array.isArray(parsed) ? parsed.filter((item) => item && typeof item === 'object') : [];
  } catch {
    return [];
  }
}

function saveHistory() {
  writeStorage(HISTORY_KEY, JSON.stringify(history));
}

function addHistoryEntry(entry) {
  // The entry keeps its history id: sent with the scan, it lets the receiver spot a resend.
  entry.id ??= `scan-${Date.now()}-${Math.random().toString(36).slice(2, 7)}`;
  history.unshift({ id: entry.id, timestamp: new Date().toISOString(), ...entry });
  if (history.length > HISTORY_LIMIT) history.length = HISTORY_LIMIT;
  saveHistory();
  renderHistory();
}

// A channel delivered the scan with this id: its history item says so.
function markHistorySent(id, channel) {
  const item = history.find((candidate) => candidate.id === id);
  if (!item) return;
  const sentVia = Array.isArray(item.sentVia) ? item.sentVia : [];
  if (sentVia.includes(channel)) return;
  item.sentVia = [...sentVia, channel];
  saveHistory();
  renderHistory();
}

function clearHistory() {
  history = [];
  saveHistory();
  renderHistory();
}

const pad2 = (n) => String(n).padStart(2, '0');

function localTime(iso) {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '';
  return `${pad2(date.getHours())}:${pad2(date.getMinutes())}:${pad2(date.getSeconds())}`;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// Copy button and tip for one history item; the icons are those of the overlay's copy button.
function historyCopyButton(item) {
  const wrap = element('span', 'copy');
  const button = element('button', 'copy-button');
  button.type = 'button';
  button.setAttribute('command', '--copy');
  button.setAttribute('commandfor', item.id);
  button.setAttribute('aria-label', `Copy ${item.format} barcode ${item.text}`);
  for (const icon of ui.copyApproved.querySelectorAll('svg')) button.append(icon.cloneNode(true));
  button.append('Copy');
  const tip = element('span', 'tip');
  tip.setAttribute('role', 'status');
  wrap.append(button, tip);
  return wrap;
}

function historyItem(item) {
  const row = element('li', 'history-item');
  const main = element('div', 'history-main');
  const code = element('code', 'history-code', item.text);
  code.id = item.id;
  const delivery = [];
  if (Array.isArray(item.sentVia) && item.sentVia.length) delivery.push(`Sent via ${item.sentVia.join('+')}`);
  if (relay?.isWaiting(item.id)) delivery.push('Waiting to send');
  const meta = element('div', 'history-meta',
    [`${item.format} · ${item.confidence}% (${item.confirmations} reads) · ${localTime(item.timestamp)}`, ...delivery].join(' · '));
  main.append(code, meta);
  row.append(main, historyCopyButton(item));
  return row;
}

function renderHistory() {
  const any = history.length > 0;
  ui.historyCount.textContent = String(history.length);
  ui.historyEmpty.hidden = any;
  ui.exportCsv.hidden = !any;
  ui.clearHistory.hidden = !any;
  ui.historyList.replaceChildren(...history.map(historyItem));
}

function csvField(value) {
  if (value === undefined || value === null) return '""';
  return `"${String(value).replaceAll('"', '""')}"`;
}

function historyCsv(items) {
  const header = ['Timestamp', 'Format', 'Code', 'Confidence', 'Confirmations', 'Agreement'];
  const rows = items.map((item) => [
    item.timestamp,
    item.format,
    item.text,
    item.confidence === undefined || item.confidence === null ? null : `${item.confidence}%`,
    item.confirmations,
    `${Math.round((item.agreementRatio ?? 1) * 100)}%`,
  ]);
  return [header, ...rows].map((row) => row.map(csvField).join(',')).join('\r\n');
}

function exportHistoryCsv() {
  if (!history.length) return;
  const blob = new Blob([historyCsv(history)], { type: 'text/csv;charset=utf-8' });
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = `barcodes-${new Date().toISOString().slice(0, 10)}.csv`;
  document.body.append(link);
  link.click();
  link.remove();
  URL.revokeObjectURL(url);
}

// ---- Copy buttons ----------------------------------------------------------------------------

const tipTimers = new WeakMap();
let lastCopyMessage = '';

function copySourceText(target) {
  if (target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement) return target.value;
  return (target.innerText ?? target.textContent ?? '').trim();
}

function copyWithSelection(text) {
  const previousFocus = document.activeElement;
  const area = document.createElement('textarea');
  area.value = text;
  area.readOnly = true;
  area.setAttribute('aria-hidden', 'true');
  area.style.cssText = 'position:fixed;top:0;left:0;opacity:0;pointer-events:none;';
  document.body.append(area);
  area.select();
  let copied = false;
  try {
    copied = document.execCommand('copy');
  } catch {
    copied = false;
  }
  area.remove();
  previousFocus?.focus?.({ preventScroll: true });
  return copied;
}

async function copyText(text) {
  try {
    await navigator.clipboard.writeText(text);
    return true;
  } catch {
    return copyWithSelection(text);
  }
}

function reportCopy(button, copied) {
  const tip = button.nextElementSibling;
  clearTimeout(tipTimers.get(button));
  button.removeAttribute('data-copied');
  button.removeAttribute('data-failed');
  let message = copied ? 'Copied' : 'Copy failed';
  // The same words twice would not be announced again; a no-break space makes them new.
  if (message === lastCopyMessage) message += NO_BREAK_SPACE;
  lastCopyMessage = message;
  if (tip) tip.textContent = '';
  void button.offsetWidth;
  button.setAttribute(copied ? 'data-copied' : 'data-failed', '');
  requestAnimationFrame(() => {
    if (tip) tip.textContent = message;
  });
  tipTimers.set(button, setTimeout(() => {
    button.removeAttribute('data-copied');
    button.removeAttribute('data-failed');
    if (tip) tip.textContent = '';
  }, TIP_RESET_MS));
}

async function copyFromButton(button, target) {
  const text = copySourceText(target);
  if (!text) return;
  reportCopy(button, await copyText(text));
}

function wireCopyButtons() {
  if (typeof window.CommandEvent === 'function') {
    document.addEventListener('command', (event) => {
      if (event.command === '--copy' && event.source && event.target) copyFromButton(event.source, event.target);
    }, true);
    return;
  }
  document.addEventListener('click', (event) => {
    if (event.defaultPrevented) return;
    const button = event.target.closest?.('button[command="--copy"][commandfor]');
    const target = button && document.getElementById(button.getAttribute('commandfor'));
    if (!target) return;
    event.preventDefault();
    copyFromButton(button, target);
  });
}

// ---- Settings --------------------------------------------------------------------------------

function updateSettingsSummary() {
  ui.summaryText.textContent = `${PRECISION_LABELS[precision] ?? precision} · ${MODE_LABELS[scanMode] ?? scanMode}`;
}

function wireRadioGroup(group, attribute, onChoose) {
  const options = () => [...group.querySelectorAll('[role="radio"]')];
  const choose = (option) => {
    for (const other of options()) {
      const checked = other === option;
      other.setAttribute('aria-checked', String(checked));
      other.tabIndex = checked ? 0 : -1;
    }
    onChoose(option.getAttribute(attribute));
  };
  const checked = options().find((option) => option.getAttribute('aria-checked') === 'true');
  if (checked) choose(checked);
  group.addEventListener('click', (event) => {
    const option = event.target.closest('[role="radio"]');
    if (option && group.contains(option)) choose(option);
  });
  // Arrow keys move the choice, as in a native radio group.
  group.addEventListener('keydown', (event) => {
    const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[event.key];
    const all = options();
    const index = all.indexOf(event.target.closest('[role="radio"]'));
    if (!step || index < 0) return;
    event.preventDefault();
    const next = all[(index + step + all.length) % all.length];
    next.focus();
    choose(next);
  });
}

function onSettingChanged() {
  consensus.setPreset(precision);
  updateSettingsSummary();
  if (isScanning) restartTracker();
}

// ---- Page wiring -----------------------------------------------------------------------------

function onViewfinderActivate() {
  if (cameraStarting) return;
  if (!isScanning) startScanning();
  else if (!scanLoopActive) resumeOrStartScan();
  else camera.refocus();
}

const isActivationKey = (key) => key === 'Enter' || key === ' ';

function wirePage() {
  ui.scanToggle.addEventListener('click', () => (isScanning ? stopScanning() : startScanning()));
  ui.viewfinder.addEventListener('click', onViewfinderActivate);
  ui.viewfinder.addEventListener('keydown', (event) => {
    if (!isActivationKey(event.key) || event.target !== ui.viewfinder) return;
    event.preventDefault();
    onViewfinderActivate();
  });
  ui.overlay.addEventListener('click', (event) => {
    if (!event.target.closest('button')) resumeOrStartScan();
  });
  ui.overlay.addEventListener('keydown', (event) => {
    if (!(isActivationKey(event.key) || event.key === 'Escape') || event.target.closest('button')) return;
    event.preventDefault();
    resumeOrStartScan();
  });
  ui.refocus.addEventListener('click', () => camera.refocus());
  ui.torch.addEventListener('click', async () => {
    torchOn = await camera.setTorch(!torchOn);
    ui.torch.setAttribute('aria-pressed', String(torchOn));
  });
  ui.zoomSlider.addEventListener('input', () => {
    const value = Number.parseFloat(ui.zoomSlider.value);
    ui.zoomValue.textContent = `${value.toFixed(1)}×`;
    if (hardwareZoomSupported) camera.setZoom(value);
    else if (isScanning) ui.video.style.transform = value > 1 ? `scale(${value})` : '';
  });
  ui.photoInput.addEventListener('change', handlePhotoUpload);
  wireRadioGroup(ui.precisionGroup, 'data-precision', (id) => {
    precision = Object.hasOwn(PRECISION_PRESETS, id) ? id : 'balanced';
    onSettingChanged();
  });
  wireRadioGroup(ui.modeGroup, 'data-mode', (id) => {
    scanMode = id;
    onSettingChanged();
  });
  ui.exportCsv.addEventListener('click', exportHistoryCsv);
  ui.clearHistory.addEventListener('click', clearHistory);
  ui.optPressEnter.addEventListener('change', () => writeStorage(PRESS_ENTER_KEY, String(ui.optPressEnter.checked)));
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden' && (isScanning || cameraStarting)) stopScanning();
  });
  wireCopyButtons();
}

function startUp() {
  history = loadHistory();
  shared.latestEntry = history[0] ?? null;
  const pressEnter = readStorage(PRESS_ENTER_KEY);
  if (pressEnter === 'true' || pressEnter === 'false') ui.optPressEnter.checked = pressEnter === 'true';
  wirePage();
  relay = startRelay(shared);
  updateSettingsSummary();
  renderHistory();
  scanner.initEngines().then(
    (engines) => showEngineBadge(engines.label, true, engines.zxingSource),
    () => showEngineBadge('Decoder offline', false),
  );
}

startUp();
