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

// A hand-driven clock for setTimeout/clearTimeout (kept small so it runs on any Node.js 18+).
export function installFakeClock() {
  let now = 0;
  let nextId = 1;
  const timers = new Map();
  const undo = [
    setGlobal('setTimeout', (callback, delay = 0, ...args) => {
      const id = nextId++;
      timers.set(id, { at: now + Math.max(0, Number(delay) || 0), callback, args });
      return id;
    }),
    setGlobal('clearTimeout', (id) => timers.delete(id)),
  ];
  return {
    pending: () => timers.size,
    now: () => now,
    // Runs the earliest timer alone and moves the time to it; false when none is pending.
    next() {
      const due = [...timers.entries()].sort((a, b) => a[1].at - b[1].at)[0];
      if (!due) return false;
      const [id, timer] = due;
      timers.delete(id);
      now = Math.max(now, timer.at);
      timer.callback(...timer.args);
      return true;
    },
    tick(ms) {
      const until = now + ms;
      for (;;) {
        const due = [...timers.entries()].filter(([, t]) => t.at <= until).sort((a, b) => a[1].at - b[1].at)[0];
        if (!due) break;
        const [id, timer] = due;
        timers.delete(id);
        now = timer.at;
        timer.callback(...timer.args);
      }
      now = until;
    },
    uninstall: () => undo.reverse().forEach((restore) => restore()),
  };
}

// For a test file: returns `use(name, value)`, which sets a global until the current test ends.
export function scopedGlobals(afterEach) {
  let restore = [];
  afterEach(() => {
    restore.reverse().forEach((undo) => undo());
    restore = [];
  });
  return (name, value) => restore.push(setGlobal(name, value));
}
