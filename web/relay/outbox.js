// The waiting list of scans bound for the computer over Wi-Fi: kept in storage so that it
// survives a reload, sent one at a time in scan order, retried after growing pauses while the
// computer cannot be reached. No page elements here: the relay drives it and paints its reports.
import { readList, writeList } from '../lib/storage.js';

export const OUTBOX_KEY = 'quillmark_outbox_v1';
export const OUTBOX_LIMIT = 500;
// The pause after the first, second, … failed attempt in a row; the last one repeats.
export const RETRY_DELAYS_MS = [1000, 2000, 5000, 10000, 30000];
// Failed attempts in a row after which the receiver may have restarted with a new certificate,
// which the browser refuses exactly like an unreachable computer.
export const RESTART_HINT_FAILURES = 3;

export function retryDelay(failures) {
  const index = Math.min(Math.max(1, failures), RETRY_DELAYS_MS.length) - 1;
  return RETRY_DELAYS_MS[index];
}

// What a failed send calls for: 'retry' when a later attempt may succeed (no answer at all, a
// time-out, a server error), 'show' when it cannot (the receiver refused the scan, a bad address).
export function failureAction(error) {
  const status = error?.status;
  if (typeof status === 'number') return status >= 500 ? 'retry' : 'show';
  return error?.retryable === true ? 'retry' : 'show';
}

const isRecord = (record) => record && typeof record === 'object' && typeof record.text === 'string';

// `send(record)` resolves once the receiver took the record and rejects with the failure
// otherwise. A record's fate goes to whoever submitted it while it has not waited yet; a record
// that waited is reported through `onSent(record, reply)` and its failed attempts through
// `onFailure(error, { action, failures })`. `onChange()` follows every change of the list.
export class Outbox {
  constructor({ storage = null, send, onChange, onSent, onFailure } = {}) {
    this.storage = storage;
    this.send = send;
    this.onChange = onChange ?? (() => {});
    this.onSent = onSent ?? (() => {});
    this.onFailure = onFailure ?? (() => {});
    this.records = readList(OUTBOX_KEY, isRecord, storage);
    this.failures = 0;
    this.timer = null;
    this.running = null;
    // Records sent for the first time, each with the function that tells its submitter.
    this.submitters = new Map();
  }

  get size() {
    return this.records.length;
  }

  has(id) {
    return this.records.some((record) => record.id === id);
  }

  // Puts the record at the end of the list. Resolves to { status } for the submitter: 'sent'
  // (with `reply`), 'waiting' (kept for a later attempt), 'refused' (with `error`: the receiver
  // will never take it, so it is not kept) or 'full' (not kept: the list is at its limit).
  submit(record) {
    if (this.records.length >= OUTBOX_LIMIT) return Promise.resolve({ status: 'full' });
    this.records.push(record);
    this.changed();
    // Behind records that already failed: it waits its turn, whatever the next attempt brings.
    if (this.failures > 0) {
      // Retries had stopped on an answer that a retry cannot change: a new scan tries again.
      if (!this.running && this.timer === null) this.flush();
      return Promise.resolve({ status: 'waiting' });
    }
    const fate = new Promise((resolve) => this.submitters.set(record, resolve));
    this.flush();
    return fate;
  }

  // Sends the list in order now, unless a send is already under way.
  flush() {
    clearTimeout(this.timer);
    this.timer = null;
    if (!this.running && this.records.length) this.running = this.drain();
    return this.running ?? Promise.resolve();
  }

  // Takes a record out of the list (it reached the computer another way).
  forget(id) {
    const before = this.records.length;
    this.records = this.records.filter((record) => record.id !== id);
    if (this.records.length !== before) this.changed();
  }

  discard() {
    clearTimeout(this.timer);
    this.timer = null;
    this.records = [];
    this.failures = 0;
    this.tellSubmitters({ status: 'discarded' });
    this.changed();
  }

  async drain() {
    // flush() records this run before any of it can finish.
    await null;
    try {
      while (this.records.length) {
        const record = this.records[0];
        let reply;
        try {
          reply = await this.send(record);
        } catch (error) {
          if (this.records[0] !== record) continue; // discarded or forgotten meanwhile
          if (this.failed(record, error)) continue;
          return;
        }
        if (this.records[0] === record) {
          this.records.shift();
          this.changed();
        }
        this.failures = 0;
        const submitter = this.takeSubmitter(record);
        if (submitter) submitter({ status: 'sent', reply });
        else this.onSent(record, reply);
      }
    } finally {
      this.running = null;
    }
  }

  // Settles a failed attempt of the list's first record; true when the list goes on at once.
  failed(record, error) {
    const action = failureAction(error);
    const submitter = this.takeSubmitter(record);
    if (submitter && action === 'show') {
      // A new scan that the receiver refuses outright is shown, not kept: no retry can help.
      this.records.shift();
      this.changed();
      submitter({ status: 'refused', error });
      return true;
    }
    this.failures += 1;
    if (submitter) submitter({ status: 'waiting', error });
    else this.onFailure(error, { action, failures: this.failures });
    // Everything behind it waits too.
    this.tellSubmitters({ status: 'waiting' });
    // An answer that a retry cannot change stops the retries until someone asks again.
    if (action === 'retry') {
      this.timer = setTimeout(() => {
        this.timer = null;
        this.flush();
      }, retryDelay(this.failures));
    }
    return false;
  }

  takeSubmitter(record) {
    const submitter = this.submitters.get(record);
    this.submitters.delete(record);
    return submitter;
  }

  tellSubmitters(fate) {
    for (const submitter of this.submitters.values()) submitter(fate);
    this.submitters.clear();
  }

  changed() {
    writeList(OUTBOX_KEY, this.records, this.storage);
    this.onChange();
  }
}
