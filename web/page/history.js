// The scan history without page elements: the newest 50 entries in storage, which channel
// delivered each, and the CSV export's text.
import { browserStorage, readList, writeList } from '../lib/storage.js';

export const HISTORY_KEY = 'quillmark_history_v1';
export const HISTORY_LIMIT = 50;

const isItem = (item) => item && typeof item === 'object';

// `onChange()` follows every change of the items.
export class History {
  constructor({ storage = browserStorage(), onChange = () => {} } = {}) {
    this.storage = storage;
    this.onChange = onChange;
    this.items = readList(HISTORY_KEY, isItem, storage);
  }

  // Newest first. The entry keeps its history id: sent with the scan, it lets the receiver spot
  // a resend.
  add(entry) {
    entry.id ??= `scan-${Date.now()}-${Math.random().toString(36).slice(2, 7)}`;
    this.items.unshift({ id: entry.id, timestamp: new Date().toISOString(), ...entry });
    if (this.items.length > HISTORY_LIMIT) this.items.length = HISTORY_LIMIT;
    this.changed();
  }

  // A channel delivered the scan with this id: its item says so.
  markSent(id, channel) {
    const item = this.items.find((candidate) => candidate.id === id);
    if (!item) return;
    const sentVia = Array.isArray(item.sentVia) ? item.sentVia : [];
    if (sentVia.includes(channel)) return;
    item.sentVia = [...sentVia, channel];
    this.changed();
  }

  clear() {
    this.items = [];
    this.changed();
  }

  changed() {
    writeList(HISTORY_KEY, this.items, this.storage);
    this.onChange();
  }
}

function csvField(value) {
  if (value === undefined || value === null) return '""';
  return `"${String(value).replaceAll('"', '""')}"`;
}

export function historyCsv(items) {
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

const pad2 = (n) => String(n).padStart(2, '0');

// The time of day of an ISO timestamp, or '' for one that is no date.
export function localTime(iso) {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '';
  return `${pad2(date.getHours())}:${pad2(date.getMinutes())}:${pad2(date.getSeconds())}`;
}
