import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { linkManifest, registerOfflineApp } from '../../../web/lib/offline.js';

const shell = (version) => async () => ({ json: async () => ({ version, files: ['/'] }) });

describe('installable app', () => {
  it('registers the worker under the receiver version, so a new build brings a new one', async () => {
    const registered = [];
    const serviceWorker = { register: async (url, options) => { registered.push([url, options]); } };
    assert.equal(await registerOfflineApp({ serviceWorker, fetchImpl: shell('0.3.0 beta') }), true);
    assert.deepEqual(registered, [['/sw.js?v=0.3.0%20beta', { updateViaCache: 'none' }]]);
  });

  it('fails quietly on an untrusted page, an unreachable receiver, or without service workers', async () => {
    const refused = { register: async () => { throw new DOMException('SSL certificate error', 'SecurityError'); } };
    assert.equal(await registerOfflineApp({ serviceWorker: refused, fetchImpl: shell('1') }), false);
    const unused = { register: async () => assert.fail('no version, no registration') };
    assert.equal(await registerOfflineApp({ serviceWorker: unused, fetchImpl: async () => { throw new TypeError('Failed to fetch'); } }), false);
    assert.equal(await registerOfflineApp({ serviceWorker: undefined, fetchImpl: shell('1') }), false);
  });

  it('points the manifest at the pairing query the page was opened with, and only then', () => {
    const link = { href: '/manifest.webmanifest', setAttribute(name, value) { this[name] = value; } };
    const doc = { getElementById: (id) => (id === 'app-manifest' ? link : null) };
    linkManifest(doc, '');
    assert.equal(link.href, '/manifest.webmanifest');
    linkManifest(doc, '?pc=https%3A%2F%2F10.0.0.5%3A8080%2Fapi%2Fscan%3Fkey%3Dk&x=1');
    assert.equal(link.href, '/manifest.webmanifest?pc=https%3A%2F%2F10.0.0.5%3A8080%2Fapi%2Fscan%3Fkey%3Dk');
  });
});
