// Automatic sending of every accepted scan over the channels that are on, and what the page
// says about it: the banner's failures, the announcement, the overlay's "Sent via" and
// "Waiting to send". Over Wi-Fi a scan goes through the waiting list, so that it never
// overtakes an earlier scan that is still waiting.
import { OUTBOX_LIMIT, RESTART_HINT_FAILURES } from './outbox.js';

const OUTBOX_FULL_MESSAGE = `the waiting list is full (${OUTBOX_LIMIT} scans), so this scan was not kept. Reconnect to the computer, or discard the waiting scans.`;
const RESTART_HINT =
  'The receiver may have restarted: scan its QR code again to reconnect. Waiting scans are kept and sent then.';

export const errorMessage = (error, fallback = 'Unknown error') =>
  (typeof error === 'string' ? error : error?.message) || fallback;

// The Wi-Fi scan record. Without a timestamp the time of sending is used; an entry from the
// stored history carries its own scan time. The id lets the receiver spot a resend.
export function wifiRecord(entry, pressEnter, timestamp) {
  const { text, format, confidence, confirmations, id } = entry;
  return { text, format, confidence, confirmations, pressEnter, timestamp, id };
}

export class AutoSend {
  // `channels()` says which auto-send boxes are ticked: { wifi, bluetooth }.
  constructor(state, { outbox, bluetooth, banner, feedback, result, channels }) {
    Object.assign(this, { state, outbox, bluetooth, banner, feedback, result, channels });
    // Why the waiting list is still waiting, with the likely cause once retries keep failing.
    this.lastWifiFailure = '';
    // The scan whose overlay says "Waiting to send", with the channels that did deliver it.
    this.shownWaiting = null;
  }

  // Resolves to the channels that delivered the entry. With `repaint`, the overlay (if it still
  // shows this entry) is painted again with the outcome.
  async send(entry, { repaint = false } = {}) {
    const { state, banner, bluetooth } = this;
    const { pressEnter } = state;
    const on = this.channels();
    const channels = [];
    let waiting = false;
    if (on.wifi) {
      const fate = await this.outbox.submit(wifiRecord(entry, pressEnter));
      if (fate.status === 'sent') {
        channels.push('Wi-Fi');
        state.history.markSent(entry.id, 'Wi-Fi');
      } else if (fate.status === 'waiting') {
        waiting = true;
        if (fate.error) this.lastWifiFailure = errorMessage(fate.error);
      }
      const failure = {
        waiting: fate.error && `Wi-Fi auto-send failed: ${errorMessage(fate.error)}`,
        refused: `Wi-Fi auto-send failed: ${errorMessage(fate.error)}`,
        full: `Wi-Fi auto-send failed: ${OUTBOX_FULL_MESSAGE}`,
      }[fate.status];
      if (failure) {
        banner.wifi = failure;
        banner.show();
      }
    }
    if (on.bluetooth && bluetooth.getStatus().connected) {
      try {
        await bluetooth.send(entry.text, { pressEnter });
        channels.push('Bluetooth');
        state.history.markSent(entry.id, 'Bluetooth');
        banner.bluetooth = '';
      } catch (error) {
        // Both channels may fail: the banner keeps both messages rather than the last one only.
        banner.bluetooth = `Bluetooth auto-send failed: ${errorMessage(error)}`;
        banner.show();
      }
    }
    if (channels.length) this.feedback.announce(`Sent barcode to computer via ${channels.join(' and ')}.`);
    if (repaint && (channels.length || waiting) && state.latestEntry === entry && this.result.shown()) {
      this.result.render(entry, channels, waiting);
      this.shownWaiting = waiting ? { id: entry.id, channels } : null;
    }
    return channels;
  }

  // A scan that had to wait has reached the computer.
  waitingSent(record) {
    const { state, shownWaiting } = this;
    state.history.markSent(record.id, 'Wi-Fi');
    this.feedback.announce(`Sent waiting barcode ${record.text} to computer via Wi-Fi.`);
    const latest = state.latestEntry;
    if (shownWaiting?.id === record.id && latest?.id === record.id && this.result.shown()) {
      this.result.render(latest, ['Wi-Fi', ...shownWaiting.channels]);
    }
    if (this.shownWaiting?.id === record.id) this.shownWaiting = null;
  }

  waitingFailed(error, { failures }) {
    this.lastWifiFailure = errorMessage(error);
    if (failures >= RESTART_HINT_FAILURES) this.lastWifiFailure += `\n${RESTART_HINT}`;
    this.banner.wifi = `Wi-Fi auto-send failed: ${this.lastWifiFailure}`;
    this.banner.show();
  }
}
