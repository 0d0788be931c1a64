// The installable app: registers the service worker that keeps the app shell for offline start.
// Its URL carries the receiver's version, so a new receiver installs a new worker (and cache).
// A page the browser does not trust (a certificate warning clicked through) may not register
// one: that, and a receiver that cannot be reached, end quietly with false.
export async function registerOfflineApp({ serviceWorker = globalThis.navigator?.serviceWorker, fetchImpl = globalThis.fetch } = {}) {
  if (!serviceWorker || !fetchImpl) return false;
  try {
    const shell = await (await fetchImpl('/app-shell.json', { cache: 'no-store' })).json();
    await serviceWorker.register(`/sw.js?v=${encodeURIComponent(shell.version)}`, { updateViaCache: 'none' });
    return true;
  } catch {
    return false;
  }
}

// Points the page's manifest link at one whose start URL carries this page's pairing query, so
// the installed app opens paired with the same receiver. The query stays on the phone and its
// receiver: the manifest only echoes it.
export function linkManifest(doc = globalThis.document, search = globalThis.location?.search ?? '') {
  const link = doc?.getElementById('app-manifest');
  const pairing = new URLSearchParams(search).get('pc');
  if (link && pairing) link.setAttribute('href', `/manifest.webmanifest?pc=${encodeURIComponent(pairing)}`);
}
