// localStorage stand-in for Node; `broken` makes every access throw, as private modes may.
export class FakeStorage {
  constructor(entries = {}) {
    this.map = new Map(Object.entries(entries));
    this.broken = false;
  }

  getItem(key) {
    if (this.broken) throw new Error('SecurityError');
    return this.map.has(key) ? this.map.get(key) : null;
  }

  setItem(key, value) {
    if (this.broken) throw new Error('QuotaExceededError');
    this.map.set(key, String(value));
  }

  removeItem(key) {
    this.map.delete(key);
  }
}

// Replaces a global for one test; returns the function that puts the old one back.
export function setGlobal(name, value) {
  const had = Object.getOwnPropertyDescriptor(globalThis, name);
  Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
  return () => (had ? Object.defineProperty(globalThis, name, had) : delete globalThis[name]);
}
