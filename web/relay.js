// The relay half of the scanner page: the "Share to Computer" dialog, the header's relay badge,
// automatic sending of every accepted scan, the waiting list of scans that could not reach the
// computer yet, and pairing from the receiver's QR code. It meets the scanning half (app.js) only
// through the `page` object handed to startRelay.
import { browserStorage } from './lib/storage.js';
import { BluetoothRelay } from './relay/bluetooth.js';
import { OUTBOX_LIMIT, Outbox, RESTART_HINT_FAILURES } from './relay/outbox.js';
import { isSystemShareSupported, shareViaSystem } from './relay/system-share.js';
import { getSavedWifiUrl, saveWifiUrl, sendOverWifi, testWifiConnection } from './relay/wifi.js';

const $ = (id) => document.getElementById(id);
const ui = {
  shareDialog: $('share-dialog'),
  relayDot: $('relay-dot'),
  relayLabel: $('relay-label'),
  relayWaiting: $('relay-waiting'),
  sharePreview: $('share-preview'),
  sharePreviewCode: $('share-preview-code'),
  shareStatus: $('share-status'),
  wifiBadge: $('wifi-badge'),
  wifiUrl: $('wifi-url-input'),
  wifiTest: $('btn-wifi-test'),
  wifiSend: $('btn-wifi-send'),
  wifiAutoSend: $('opt-wifi-autosend'),
  outboxRow: $('outbox-row'),
  outboxCount: $('outbox-count'),
  outboxSend: $('btn-outbox-send'),
  outboxDiscard: $('btn-outbox-discard'),
  btBadge: $('bt-badge'),
  btNote: $('bt-note'),
  btPair: $('btn-bt-pair'),
  btDisconnect: $('btn-bt-disconnect'),
  btSend: $('btn-bt-send'),
  btAutoSend: $('opt-bt-autosend'),
  btServiceUuid: $('bt-service-uuid'),
  btCharUuid: $('bt-char-uuid'),
  systemSharePanel: $('system-share-panel'),
  systemShare: $('btn-system-share'),
};

const OUTBOX_FULL_MESSAGE = `the waiting list is full (${OUTBOX_LIMIT} scans), so this scan was not kept. Reconnect to the computer, or discard the waiting scans.`;
const RESTART_HINT =
  'The receiver may have restarted: scan its QR code again to reconnect. Waiting scans are kept and sent then.';

// What the scanning half lends this one (set by startRelay): `latestEntry`, `pressEnter()`,
// `showError`, `clearError`, `errorText()`, `announce`, `renderResult`, `resultShown()`,
// `markSent(id, channel)` and `historyChanged()`.
let page = null;

const BT_UNAVAILABLE_NOTE =
  'Web Bluetooth is unavailable in this browser (e.g. Safari/Firefox). Use Wi-Fi to Computer or System Share instead.';

let wifiVerified = false;
// Counts the relay's status reports, so a pairing attempt can tell whether it got past the chooser.
let btStatusReports = 0;
const btRelay = new BluetoothRelay((status) => {
  btStatusReports += 1;
  updateBluetoothUi(status);
});
// Dialog actions in flight keep their button disabled whatever else repaints the dialog.
const busy = { wifiTest: false, wifiSend: false, outboxSend: false, btPair: false, btSend: false, share: false };
// Only the newest reachability result may paint the Wi-Fi badge: a slow start-up ping must not
// overwrite the answer of a test or a send the user made meanwhile.
let wifiCheck = 0;

const errorMessage = (error, fallback = 'Unknown error') =>
  (typeof error === 'string' ? error : error?.message) || fallback;

function setBadge(badge, text, success) {
  badge.textContent = text;
  badge.className = success ? 'pill pill-success' : 'pill pill-muted';
}

function setShareStatus(message, isError = false) {
  ui.shareStatus.textContent = message;
  ui.shareStatus.dataset.tone = isError ? 'error' : 'ok';
  ui.shareStatus.hidden = !message;
}

function clearShareStatus() {
  ui.shareStatus.hidden = true;
  ui.shareStatus.textContent = '';
  delete ui.shareStatus.dataset.tone;
}

function updateHeaderRelayBadge() {
  const bluetooth = btRelay.getStatus().connected;
  const wifiAuto = ui.wifiAutoSend.checked;
  let label = 'Connect PC';
  if (bluetooth && wifiAuto) label = 'Wi-Fi + BT';
  else if (bluetooth) label = 'BT Ready';
  else if (wifiAuto) label = 'Wi-Fi Auto';
  else if (wifiVerified) label = 'Wi-Fi Ready';
  ui.relayLabel.textContent = label;
  if (label === 'Connect PC') delete ui.relayDot.dataset.connected;
  else ui.relayDot.dataset.connected = 'true';
  const waiting = outbox?.size ?? 0;
  ui.relayWaiting.textContent = waiting ? `${waiting} waiting` : '';
  ui.relayWaiting.hidden = !waiting;
}

function updateBluetoothUi(status = btRelay.getStatus()) {
  ui.btDisconnect.hidden = !status.connected;
  ui.btPair.hidden = status.connected;
  if (!status.supported) {
    setBadge(ui.btBadge, 'Unsupported', false);
    ui.btNote.textContent = BT_UNAVAILABLE_NOTE;
    ui.btPair.disabled = true;
    ui.btSend.disabled = true;
    ui.btAutoSend.disabled = true;
  } else if (status.connected) {
    setBadge(ui.btBadge, status.deviceName, true);
    ui.btSend.disabled = !page.latestEntry || busy.btSend;
  } else {
    setBadge(ui.btBadge, 'Disconnected', false);
    ui.btPair.disabled = busy.btPair;
    ui.btSend.disabled = true;
  }
  updateHeaderRelayBadge();
}

// The preview and the buttons that act on the latest entry: what the dialog shows is what it sends.
function paintShareEntry() {
  const entry = page.latestEntry;
  ui.sharePreview.hidden = !entry;
  ui.sharePreviewCode.textContent = entry ? `${entry.text} (${entry.format})` : '';
  ui.wifiTest.disabled = busy.wifiTest;
  ui.wifiSend.disabled = !entry || busy.wifiSend;
  ui.systemShare.disabled = !entry || busy.share;
  paintOutbox();
  updateBluetoothUi();
}

function paintOutbox() {
  const waiting = outbox?.size ?? 0;
  ui.outboxRow.hidden = !waiting;
  ui.outboxCount.textContent = `${waiting} scan${waiting === 1 ? '' : 's'} waiting to send`;
  ui.outboxSend.disabled = busy.outboxSend;
}

async function whileBusy(action, work) {
  busy[action] = true;
  paintShareEntry();
  try {
    await work();
  } finally {
    busy[action] = false;
    paintShareEntry();
  }
}

// The Wi-Fi scan record. Without a timestamp the time of sending is used; an entry from the
// stored history carries its own scan time. The id lets the receiver spot a resend.
function wifiRecord(entry, pressEnter, timestamp) {
  const { text, format, confidence, confirmations, id } = entry;
  return { text, format, confidence, confirmations, pressEnter, timestamp, id };
}

const wifiAddress = () => ui.wifiUrl.value.trim() || getSavedWifiUrl();

// The relay's lines in the error banner. It remembers what it showed, so that an emptied
// waiting list takes back its own words and nobody else's.
const banner = { wifi: '', bluetooth: '', shown: '' };

function showRelayBanner() {
  banner.shown = [banner.wifi, banner.bluetooth].filter(Boolean).join('\n');
  if (banner.shown) page.showError(banner.shown);
}

function clearRelayBanner() {
  if (banner.shown && page.errorText() === banner.shown) page.clearError();
  banner.wifi = '';
  banner.bluetooth = '';
  banner.shown = '';
}

// Why the waiting list is still waiting, with the likely cause once retries keep failing.
let lastWifiFailure = '';

// The scan whose overlay says "Waiting to send", with the channels that did deliver it.
let shownWaiting = null;

// Sends every accepted scan over the channels that are on. Over Wi-Fi a scan goes through the
// waiting list, so that it never overtakes an earlier scan that is still waiting. With
// `repaint`, the overlay (if it still shows this entry) is painted again with the outcome.
async function autoRelayScan(entry, { repaint = false } = {}) {
  const pressEnter = page.pressEnter();
  const channels = [];
  let waiting = false;
  if (ui.wifiAutoSend.checked) {
    const fate = await outbox.submit(wifiRecord(entry, pressEnter));
    if (fate.status === 'sent') {
      channels.push('Wi-Fi');
      page.markSent(entry.id, 'Wi-Fi');
    } else if (fate.status === 'waiting') {
      waiting = true;
      if (fate.error) lastWifiFailure = errorMessage(fate.error);
    }
    const failure = {
      waiting: fate.error && `Wi-Fi auto-send failed: ${errorMessage(fate.error)}`,
      refused: `Wi-Fi auto-send failed: ${errorMessage(fate.error)}`,
      full: `Wi-Fi auto-send failed: ${OUTBOX_FULL_MESSAGE}`,
    }[fate.status];
    if (failure) {
      banner.wifi = failure;
      showRelayBanner();
    }
  }
  if (ui.btAutoSend.checked && btRelay.getStatus().connected) {
    try {
      await btRelay.send(entry.text, { pressEnter });
      channels.push('Bluetooth');
      page.markSent(entry.id, 'Bluetooth');
      banner.bluetooth = '';
    } catch (error) {
      // Both channels may fail: the banner keeps both messages rather than the last one only.
      banner.bluetooth = `Bluetooth auto-send failed: ${errorMessage(error)}`;
      showRelayBanner();
    }
  }
  if (channels.length) page.announce(`Sent barcode to computer via ${channels.join(' and ')}.`);
  if (repaint && (channels.length || waiting) && page.latestEntry === entry && page.resultShown()) {
    page.renderResult(entry, channels, waiting);
    shownWaiting = waiting ? { id: entry.id, channels } : null;
  }
  return channels;
}

// A scan that had to wait has reached the computer.
function onWaitingScanSent(record) {
  page.markSent(record.id, 'Wi-Fi');
  page.announce(`Sent waiting barcode ${record.text} to computer via Wi-Fi.`);
  const latest = page.latestEntry;
  if (shownWaiting?.id === record.id && latest?.id === record.id && page.resultShown()) {
    page.renderResult(latest, ['Wi-Fi', ...shownWaiting.channels]);
  }
  if (shownWaiting?.id === record.id) shownWaiting = null;
}

function onWaitingScanFailed(error, { failures }) {
  lastWifiFailure = errorMessage(error);
  if (failures >= RESTART_HINT_FAILURES) lastWifiFailure += `\n${RESTART_HINT}`;
  banner.wifi = `Wi-Fi auto-send failed: ${lastWifiFailure}`;
  showRelayBanner();
}

function onOutboxChanged() {
  if (!outbox) return;
  if (!outbox.size) clearRelayBanner();
  updateHeaderRelayBadge();
  paintOutbox();
  page.historyChanged();
}

let outbox = null;

// Pings the receiver and paints the Wi-Fi badge; `reachableLabel` is the badge of a reply that
// names no host. Resolves whether it was reached.
async function checkWifi(url, reachableLabel) {
  wifiCheck += 1;
  const check = wifiCheck;
  try {
    const reply = await testWifiConnection(url);
    if (check !== wifiCheck) return { stale: true };
    const host = typeof reply?.host === 'string' ? reply.host : '';
    wifiVerified = true;
    setBadge(ui.wifiBadge, host ? `Connected (${host})` : reachableLabel, true);
    return { host };
  } catch (error) {
    if (check !== wifiCheck) return { stale: true };
    wifiVerified = false;
    setBadge(ui.wifiBadge, 'Unreachable', false);
    return { error };
  } finally {
    updateHeaderRelayBadge();
  }
}

async function onWifiTest() {
  clearShareStatus();
  const url = ui.wifiUrl.value;
  saveWifiUrl(url);
  await whileBusy('wifiTest', async () => {
    const result = await checkWifi(url, 'Reachable');
    if (result.stale) return;
    if (result.error) setShareStatus(errorMessage(result.error), true);
    else setShareStatus(`Wi-Fi receiver is reachable${result.host ? ` on ${result.host}` : ''}.`);
  });
}

async function onWifiSend() {
  const entry = page.latestEntry;
  if (!entry) return;
  clearShareStatus();
  const url = ui.wifiUrl.value;
  saveWifiUrl(url);
  await whileBusy('wifiSend', async () => {
    try {
      await sendOverWifi(url, wifiRecord(entry, page.pressEnter(), entry.timestamp));
      // Delivered: if it was waiting, the list must not send it once more.
      outbox.forget(entry.id);
      page.markSent(entry.id, 'Wi-Fi');
      wifiCheck += 1;
      wifiVerified = true;
      setBadge(ui.wifiBadge, 'Connected', true);
      setShareStatus(`Sent ${entry.text} over Wi-Fi.`);
      updateHeaderRelayBadge();
    } catch (error) {
      setShareStatus(`Wi-Fi send failed: ${errorMessage(error)}`, true);
    }
  });
}

async function onBluetoothPair() {
  clearShareStatus();
  const reportsBefore = btStatusReports;
  await whileBusy('btPair', async () => {
    try {
      const status = await btRelay.connect({ serviceUuid: ui.btServiceUuid.value, rxCharUuid: ui.btCharUuid.value });
      setShareStatus(`Paired with ${status.deviceName}.`);
    } catch (error) {
      // A dismissed chooser is the browser's NotFoundError and shows nothing. A device without the
      // service or characteristic fails with the same name, but only after the chooser, when the
      // relay has already reported a status: that one is a real failure and is shown.
      if (error?.name === 'NotFoundError' && btStatusReports === reportsBefore) return;
      setShareStatus(errorMessage(error, 'Bluetooth pairing failed.'), true);
    }
  });
}

function onBluetoothDisconnect() {
  btRelay.disconnect();
  setShareStatus('Bluetooth disconnected.');
}

async function onBluetoothSend() {
  const entry = page.latestEntry;
  if (!entry) return;
  clearShareStatus();
  await whileBusy('btSend', async () => {
    try {
      await btRelay.send(entry.text, { pressEnter: page.pressEnter() });
      setShareStatus(`Sent ${entry.text} over Bluetooth.`);
    } catch (error) {
      setShareStatus(`Bluetooth send failed: ${errorMessage(error)}`, true);
    }
  });
}

async function onOutboxSend() {
  clearShareStatus();
  await whileBusy('outboxSend', async () => {
    await outbox.flush();
    if (outbox.size) setShareStatus(`Still waiting: ${lastWifiFailure || 'the computer did not take the scans.'}`, true);
    else setShareStatus('All waiting scans were sent.');
  });
}

function onOutboxDiscard() {
  const count = outbox.size;
  if (!count) return;
  const scans = `${count} waiting scan${count === 1 ? '' : 's'}`;
  // Discarding loses scans that were never typed on the computer: the user must mean it.
  if (!window.confirm(`Discard ${scans}? They will not be sent to the computer.`)) return;
  outbox.discard();
  setShareStatus(`Discarded ${scans}.`);
}

async function onSystemShare() {
  const entry = page.latestEntry;
  if (!entry) return;
  clearShareStatus();
  await whileBusy('share', async () => {
    try {
      await shareViaSystem(entry);
      setShareStatus('Shared via system sheet.');
    } catch (error) {
      if (error?.name === 'AbortError') return; // the user cancelled the sheet
      setShareStatus(errorMessage(error, 'System share failed.'), true);
    }
  });
}

function openShareDialog() {
  clearShareStatus();
  ui.wifiUrl.value = getSavedWifiUrl();
  ui.systemSharePanel.hidden = !isSystemShareSupported();
  paintShareEntry();
  if (!ui.shareDialog.open) ui.shareDialog.showModal();
}

// Browsers without the dialog's own light dismiss: a press that starts and ends outside the
// dialog's box closes it. A drag that starts inside (selecting the URL) does not.
function wireLightDismiss(dialog) {
  let startedOutside = false;
  const outside = (event) => {
    const box = dialog.getBoundingClientRect();
    return event.clientX < box.left || event.clientX > box.right || event.clientY < box.top || event.clientY > box.bottom;
  };
  dialog.addEventListener('pointerdown', (event) => {
    startedOutside = event.target === dialog && outside(event);
  });
  dialog.addEventListener('pointerup', (event) => {
    const close = startedOutside && event.target === dialog && outside(event);
    startedOutside = false;
    if (close) dialog.close();
  });
}

function wireShareDialog() {
  const dialog = ui.shareDialog;
  dialog.addEventListener('close', () => {
    dialog.returnValue = '';
  });
  if (!('closedBy' in dialog)) wireLightDismiss(dialog);
  ui.wifiUrl.addEventListener('change', () => saveWifiUrl(ui.wifiUrl.value));
  ui.wifiTest.addEventListener('click', onWifiTest);
  ui.wifiSend.addEventListener('click', onWifiSend);
  ui.wifiAutoSend.addEventListener('change', () => {
    saveWifiUrl(ui.wifiUrl.value);
    updateHeaderRelayBadge();
  });
  ui.outboxSend.addEventListener('click', onOutboxSend);
  ui.outboxDiscard.addEventListener('click', onOutboxDiscard);
  ui.btPair.addEventListener('click', onBluetoothPair);
  ui.btDisconnect.addEventListener('click', onBluetoothDisconnect);
  ui.btSend.addEventListener('click', onBluetoothSend);
  ui.systemShare.addEventListener('click', onSystemShare);
  for (const id of ['btn-open-connect', 'btn-share-dock', 'btn-share-result']) $(id).addEventListener('click', openShareDialog);
}

// Opened from the receiver's QR code, the page carries the scan endpoint in "pc": keep it, send
// every scan there, and test it in the background. Both auto-send boxes start off otherwise,
// whatever the browser restored into them. Scans still waiting from an earlier visit are sent at
// once, to the address this visit uses.
export function startRelay(shared) {
  page = shared;
  outbox = new Outbox({
    storage: browserStorage(),
    send: (record) => sendOverWifi(wifiAddress(), record),
    onChange: onOutboxChanged,
    onSent: onWaitingScanSent,
    onFailure: onWaitingScanFailed,
  });
  wireShareDialog();
  const pc = (new URLSearchParams(window.location.search).get('pc') ?? '').trim();
  ui.btAutoSend.checked = false;
  ui.wifiAutoSend.checked = Boolean(pc);
  if (pc) {
    saveWifiUrl(pc);
    ui.wifiUrl.value = pc;
    checkWifi(pc, 'Connected');
  } else {
    ui.wifiUrl.value = getSavedWifiUrl();
  }
  updateBluetoothUi();
  paintOutbox();
  // Back on the network, or back in front of the user: waiting scans need not wait for the timer.
  const retryNow = () => {
    if (outbox.size) outbox.flush();
  };
  window.addEventListener('online', retryNow);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') retryNow();
  });
  retryNow();
  return {
    autoRelayScan,
    // The latest entry changed: an open dialog shows and sends the new one.
    entryChanged: () => {
      if (ui.shareDialog.open) paintShareEntry();
    },
    isWaiting: (id) => outbox.has(id),
  };
}
