// The trust page: shows the local CA's fingerprint and whether this connection is trusted
// already. Only a page the browser trusts may register a service worker, so a registration
// that works is the test.
import { registerOfflineApp } from '../lib/offline.js';

export const TRUST_TEXTS = {
  trusted: 'This phone trusts the receiver: no more certificate warnings.',
  untrusted: 'This phone does not trust the receiver yet: follow the steps below.',
  ephemeral: 'This receiver makes a new certificate at every start (--ephemeral-identity): there is nothing to install.',
};

export async function startTrustPage({ fetchImpl = fetch, register = registerOfflineApp } = {}) {
  const status = document.getElementById('trust-status');
  const fingerprint = document.getElementById('trust-fingerprint');
  let lasting = false;
  try {
    const reply = await (await fetchImpl('/api/trust', { cache: 'no-store' })).json();
    lasting = reply.lasting === true;
    fingerprint.textContent = reply.caFingerprint || '—';
  } catch {
    fingerprint.textContent = '—';
  }
  const state = !lasting ? 'ephemeral' : (await register()) ? 'trusted' : 'untrusted';
  status.dataset.trusted = state;
  status.textContent = TRUST_TEXTS[state];
}

if (globalThis.document) startTrustPage();
