// The relay half of the page: builds the waiting list, the Bluetooth link, the banner, automatic
// sending and the share dialog, and routes the reports of the list and the link to them. Scans
// still waiting from an earlier visit are sent at once, to the address this visit uses.
import { browserStorage } from '../lib/storage.js';
import { AutoSend } from './auto-send.js';
import { RelayBanner } from './banner.js';
import { BluetoothRelay } from './bluetooth.js';
import { Outbox } from './outbox.js';
import { createShareDialog } from './share-dialog.js';
import { sendOverWifi } from './wifi.js';

// Returns what the scanning half uses: `send(entry, { repaint })`, the automatic send.
export function startRelay(state, { feedback, result }) {
  const banner = new RelayBanner(feedback);
  // The link and the list report only after start-up, when `dialog` and `autoSend` exist.
  const bluetooth = new BluetoothRelay((status) => dialog.bluetoothChanged(status));
  const outbox = new Outbox({
    storage: browserStorage(),
    send: (record) => sendOverWifi(dialog.wifiAddress(), record),
    onChange: () => {
      if (!outbox.size) banner.clear();
      dialog.outboxChanged();
      state.historyChanged();
    },
    onSent: (record) => autoSend.waitingSent(record),
    onFailure: (error, details) => autoSend.waitingFailed(error, details),
  });
  state.outbox = outbox;
  const autoSend = new AutoSend(state, {
    outbox, bluetooth, banner, feedback, result, channels: () => dialog.autoSendChannels(),
  });
  const dialog = createShareDialog(state, { outbox, bluetooth, autoSend });
  dialog.start((new URLSearchParams(window.location.search).get('pc') ?? '').trim());
  // Back on the network, or back in front of the user: waiting scans need not wait for the timer.
  const retryNow = () => {
    if (outbox.size) outbox.flush();
  };
  window.addEventListener('online', retryNow);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') retryNow();
  });
  retryNow();
  return autoSend;
}
