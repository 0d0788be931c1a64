// The one object the page's parts share: the scan session, the history, the latest entry, the
// "press Enter" choice and the relay's waiting list. A part that shows one of them listens for
// its event: 'entry' when the latest entry changes, 'history' when the history or a scan's
// delivery does.
import { History } from './history.js';
import { ScanSession } from './session.js';

export class PageState extends EventTarget {
  constructor({ storage } = {}) {
    super();
    this.session = new ScanSession();
    this.history = new History({ storage, onChange: () => this.historyChanged() });
    this.latestEntry = this.history.items[0] ?? null;
    this.pressEnter = true;
    // The relay's waiting list, once the relay runs.
    this.outbox = null;
  }

  showEntry(entry) {
    this.latestEntry = entry;
    this.dispatchEvent(new Event('entry'));
  }

  historyChanged() {
    this.dispatchEvent(new Event('history'));
  }

  isWaiting(id) {
    return this.outbox?.has(id) ?? false;
  }
}
