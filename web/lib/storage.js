// The one door to localStorage. Private modes and full stores throw on access; every caller
// then gets "nothing stored" and keeps its values in memory, so none needs its own try/catch.
// `storage` defaults to the browser's; Node tests pass a stand-in, and null stores nothing.

export function browserStorage() {
  try {
    return globalThis.localStorage ?? null;
  } catch {
    return null;
  }
}

export function readStorage(key, storage = browserStorage()) {
  try {
    return storage?.getItem(key) ?? null;
  } catch {
    return null;
  }
}

export function writeStorage(key, value, storage = browserStorage()) {
  try {
    storage?.setItem(key, value);
  } catch {
    // Private mode or a full store: the value lives in memory only.
  }
}

// A stored JSON list, keeping only the items `keep` accepts; anything else reads as empty.
export function readList(key, keep, storage = browserStorage()) {
  try {
    const parsed = JSON.parse(readStorage(key, storage));
    return Array.isArray(parsed) ? parsed.filter(keep) : [];
  } catch {
    return [];
  }
}

export function writeList(key, items, storage = browserStorage()) {
  writeStorage(key, JSON.stringify(items), storage);
}
