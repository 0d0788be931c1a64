// The installed scanner's service worker: keeps the app shell (pages, modules, styles, the
// decoder; the list and version from /app-shell.json) so the app opens with the receiver off.
// Each receiver version registers it under its own URL (?v=...), so a new build brings a new
// worker and cache and the old cache goes. /api/ is never cached: scans wait in the page's
// own list until the receiver answers again.
const VERSION = new URL(self.location.href).searchParams.get('v') ?? '';
const CACHE = `quillmark-shell-${VERSION}`;

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const shell = await (await fetch('/app-shell.json', { cache: 'no-store' })).json();
    const cache = await caches.open(CACHE);
    await cache.addAll(shell.files.map((path) => new Request(path, { cache: 'no-store' })));
    await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const name of await caches.keys()) {
      if (name !== CACHE) await caches.delete(name);
    }
    await self.clients.claim();
  })());
});

// The network first, so a running receiver always serves its own files; the cache when the
// receiver cannot be reached. A page's query (the pairing "pc") does not pick another copy.
self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== 'GET' || url.origin !== self.location.origin || url.pathname.startsWith('/api/')) return;
  event.respondWith((async () => {
    try {
      return await fetch(event.request);
    } catch (error) {
      const cached = await caches.match(event.request, { cacheName: CACHE, ignoreSearch: true });
      if (cached) return cached;
      throw error;
    }
  })());
});
