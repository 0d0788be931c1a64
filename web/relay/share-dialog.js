// The "Share to Computer" dialog and the header's relay badge: the Wi-Fi address, test and send,
// the waiting list's row, Bluetooth pairing and sending, and the system share sheet. Every action
// acts on the page state's latest entry; what the dialog shows is what it sends.
import { errorMessage, wifiRecord } from './auto-send.js';
import { isSystemShareSupported, shareViaSystem } from './system-share.js';
import { getSavedWifiUrl, saveWifiUrl, sendOverWifi, testWifiConnection } from './wifi.js';
import { elementsById } from '../lib/dom.js';

const BT_UNAVAILABLE_NOTE =
  'Web Bluetooth is unavailable in this browser (e.g. Safari/Firefox). Use Wi-Fi to Computer or System Share instead.';

function setBadge(badge, text, success) {
  badge.textContent = text;
  badge.className = success ? 'pill pill-success' : 'pill pill-muted';
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

// `autoSend` is read for the waiting list's last failure only.
export function createShareDialog(state, { outbox, bluetooth, autoSend }) {
  const ui = elementsById({
    shareDialog: 'share-dialog',
    relayDot: 'relay-dot',
    relayLabel: 'relay-label',
    relayWaiting: 'relay-waiting',
    sharePreview: 'share-preview',
    sharePreviewCode: 'share-preview-code',
    shareStatus: 'share-status',
    wifiBadge: 'wifi-badge',
    wifiUrl: 'wifi-url-input',
    wifiTest: 'btn-wifi-test',
    wifiSend: 'btn-wifi-send',
    wifiAutoSend: 'opt-wifi-autosend',
    outboxRow: 'outbox-row',
    outboxCount: 'outbox-count',
    outboxSend: 'btn-outbox-send',
    outboxDiscard: 'btn-outbox-discard',
    btBadge: 'bt-badge',
    btNote: 'bt-note',
    btPair: 'btn-bt-pair',
    btDisconnect: 'btn-bt-disconnect',
    btSend: 'btn-bt-send',
    btAutoSend: 'opt-bt-autosend',
    btServiceUuid: 'bt-service-uuid',
    btCharUuid: 'bt-char-uuid',
    systemSharePanel: 'system-share-panel',
    systemShare: 'btn-system-share',
  });

  let wifiVerified = false;
  // Counts the link's status reports, so a pairing attempt can tell whether it got past the chooser.
  let btStatusReports = 0;
  // Dialog actions in flight keep their button disabled whatever else repaints the dialog.
  const busy = { wifiTest: false, wifiSend: false, outboxSend: false, btPair: false, btSend: false, share: false };
  // Only the newest reachability result may paint the Wi-Fi badge: a slow start-up ping must not
  // overwrite the answer of a test or a send the user made meanwhile.
  let wifiCheck = 0;

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
    const connected = bluetooth.getStatus().connected;
    const wifiAuto = ui.wifiAutoSend.checked;
    let label = 'Connect PC';
    if (connected && wifiAuto) label = 'Wi-Fi + BT';
    else if (connected) label = 'BT Ready';
    else if (wifiAuto) label = 'Wi-Fi Auto';
    else if (wifiVerified) label = 'Wi-Fi Ready';
    ui.relayLabel.textContent = label;
    if (label === 'Connect PC') delete ui.relayDot.dataset.connected;
    else ui.relayDot.dataset.connected = 'true';
    const waiting = outbox.size;
    ui.relayWaiting.textContent = waiting ? `${waiting} waiting` : '';
    ui.relayWaiting.hidden = !waiting;
  }

  function updateBluetoothUi(status = bluetooth.getStatus()) {
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
      ui.btSend.disabled = !state.latestEntry || busy.btSend;
    } else {
      setBadge(ui.btBadge, 'Disconnected', false);
      ui.btPair.disabled = busy.btPair;
      ui.btSend.disabled = true;
    }
    updateHeaderRelayBadge();
  }

  // The preview and the buttons that act on the latest entry.
  function paintShareEntry() {
    const entry = state.latestEntry;
    ui.sharePreview.hidden = !entry;
    ui.sharePreviewCode.textContent = entry ? `${entry.text} (${entry.format})` : '';
    ui.wifiTest.disabled = busy.wifiTest;
    ui.wifiSend.disabled = !entry || busy.wifiSend;
    ui.systemShare.disabled = !entry || busy.share;
    paintOutbox();
    updateBluetoothUi();
  }

  function paintOutbox() {
    const waiting = outbox.size;
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
    const entry = state.latestEntry;
    if (!entry) return;
    clearShareStatus();
    const url = ui.wifiUrl.value;
    saveWifiUrl(url);
    await whileBusy('wifiSend', async () => {
      try {
        await sendOverWifi(url, wifiRecord(entry, state.pressEnter, entry.timestamp));
        // Delivered: if it was waiting, the list must not send it once more.
        outbox.forget(entry.id);
        state.history.markSent(entry.id, 'Wi-Fi');
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
        const status = await bluetooth.connect({ serviceUuid: ui.btServiceUuid.value, rxCharUuid: ui.btCharUuid.value });
        setShareStatus(`Paired with ${status.deviceName}.`);
      } catch (error) {
        // A dismissed chooser is the browser's NotFoundError and shows nothing. A device without the
        // service or characteristic fails with the same name, but only after the chooser, when the
        // link has already reported a status: that one is a real failure and is shown.
        if (error?.name === 'NotFoundError' && btStatusReports === reportsBefore) return;
        setShareStatus(errorMessage(error, 'Bluetooth pairing failed.'), true);
      }
    });
  }

  function onBluetoothDisconnect() {
    bluetooth.disconnect();
    setShareStatus('Bluetooth disconnected.');
  }

  async function onBluetoothSend() {
    const entry = state.latestEntry;
    if (!entry) return;
    clearShareStatus();
    await whileBusy('btSend', async () => {
      try {
        await bluetooth.send(entry.text, { pressEnter: state.pressEnter });
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
      if (outbox.size) setShareStatus(`Still waiting: ${autoSend.lastWifiFailure || 'the computer did not take the scans.'}`, true);
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
    const entry = state.latestEntry;
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
  for (const id of ['btn-open-connect', 'btn-share-dock', 'btn-share-result']) document.getElementById(id).addEventListener('click', openShareDialog);
  // The latest entry changed: an open dialog shows and sends the new one.
  state.addEventListener('entry', () => {
    if (ui.shareDialog.open) paintShareEntry();
  });

  return {
    // Opened from the receiver's QR code, the page carries the scan endpoint in `pc`: keep it,
    // send every scan there, and test it in the background. Both auto-send boxes start off
    // otherwise, whatever the browser restored into them.
    start(pc) {
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
    },
    wifiAddress: () => ui.wifiUrl.value.trim() || getSavedWifiUrl(),
    autoSendChannels: () => ({ wifi: ui.wifiAutoSend.checked, bluetooth: ui.btAutoSend.checked }),
    bluetoothChanged(status) {
      btStatusReports += 1;
      updateBluetoothUi(status);
    },
    outboxChanged() {
      updateHeaderRelayBadge();
      paintOutbox();
    },
  };
}
