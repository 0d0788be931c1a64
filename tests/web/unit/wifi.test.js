import { describe, it, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { FakeStorage, scopedGlobals, installFakeClock } from '../helpers/globals.js';
import { getSavedWifiUrl, saveWifiUrl, normalizeWifiEndpoint, testWifiConnection, sendOverWifi } from '../../../web/relay/wifi.js';
import { failureAction } from '../../../web/relay/outbox.js';

const use = scopedGlobals(afterEach);

// A fetch stand-in: records requests and answers from a handler; `hang` never answers until aborted.
function installFetch(handler) {
  const requests = [];
  use('fetch', (url, init = {}) => {
    requests.push({ url, ...init, body: init.body });
    return new Promise((resolve, reject) => {
      init.signal?.addEventListener('abort', () => reject(new DOMException('The operation was aborted.', 'AbortError')));
      Promise.resolve(handler(url, init)).then((answer) => {
        if (answer !== 'hang') resolve(answer);
      }, reject);
    });
  });
  return requests;
}

const reply = (status, body) => new Response(body, { status });

describe('computer address storage', () => {
  beforeEach(() => use('localStorage', new FakeStorage()));

  it('returns the saved address, trimmed when saved', () => {
    saveWifiUrl('  https://10.0.0.2:8080/api/scan \n');
    assert.equal(localStorage.getItem('quillmark_wifi_url_v1'), 'https://10.0.0.2:8080/api/scan');
    assert.equal(getSavedWifiUrl(), 'https://10.0.0.2:8080/api/scan');
  });

  it('falls back to the page\'s own origin, then to an example address', () => {
    use('location', new URL('https://127.0.0.1:8443/?pc=x'));
    assert.equal(getSavedWifiUrl(), 'https://127.0.0.1:8443/api/scan');
    saveWifiUrl('');
    assert.equal(getSavedWifiUrl(), 'https://127.0.0.1:8443/api/scan', 'an empty saved value does not count');
    use('location', new URL('file:///sdcard/index.html'));
    assert.equal(getSavedWifiUrl(), 'http://192.168.1.100:8080/api/scan');
  });

  it('ignores storage failures', () => {
    const storage = new FakeStorage({ quillmark_wifi_url_v1: 'http://a/api/scan' });
    storage.broken = true;
    use('localStorage', storage);
    use('location', undefined);
    assert.doesNotThrow(() => saveWifiUrl('http://b'));
    assert.equal(getSavedWifiUrl(), 'http://192.168.1.100:8080/api/scan');
  });
});

describe('normalizeWifiEndpoint', () => {
  it('completes an address to the scan endpoint', () => {
    const cases = [
      ['192.168.1.25:8383', 'http://192.168.1.25:8383/api/scan'],
      ['https://192.168.1.25:8383', 'https://192.168.1.25:8383/api/scan'],
      ['https://192.168.1.25:8383/', 'https://192.168.1.25:8383/api/scan'],
      ['HTTPS://192.168.1.25:8383/api/scan', 'https://192.168.1.25:8383/api/scan'],
      ['  http://PC-Desk.local:80/  ', 'http://pc-desk.local/api/scan'],
      ['https://10.0.0.9:443/hook', 'https://10.0.0.9/hook'],
      ['10.0.0.9:8080/?token=1', 'http://10.0.0.9:8080/api/scan?token=1'],
      ['http://10.0.0.9/api/scan/', 'http://10.0.0.9/api/scan/'],
    ];
    for (const [raw, expected] of cases) assert.equal(normalizeWifiEndpoint(raw), expected, raw);
  });

  it('gives an address without a scheme the https of an https page, else http', () => {
    use('location', new URL('https://192.168.1.25:8080/?pc=x'));
    assert.equal(normalizeWifiEndpoint('192.168.1.25:8383'), 'https://192.168.1.25:8383/api/scan');
    assert.equal(normalizeWifiEndpoint('pc-desk.local:443/hook'), 'https://pc-desk.local/hook');
    assert.equal(normalizeWifiEndpoint('http://192.168.1.25:8383'), 'http://192.168.1.25:8383/api/scan', 'a typed scheme stays');
    use('location', new URL('http://localhost:8080/'));
    assert.equal(normalizeWifiEndpoint('192.168.1.25:8383'), 'http://192.168.1.25:8383/api/scan');
    assert.equal(normalizeWifiEndpoint('HTTPS://192.168.1.25:8383'), 'https://192.168.1.25:8383/api/scan');
    use('location', new URL('file:///sdcard/index.html'));
    assert.equal(normalizeWifiEndpoint('192.168.1.25:8383'), 'http://192.168.1.25:8383/api/scan');
  });

  it('refuses an empty or unparsable address', () => {
    for (const empty of ['', '   ', null, undefined]) {
      assert.throws(() => normalizeWifiEndpoint(empty), { message: 'Enter the target computer URL (e.g. https://192.168.1.25:8080).' });
    }
    assert.throws(() => normalizeWifiEndpoint('http://[broken'), TypeError);
  });
});

describe('testWifiConnection', () => {
  it('pings /api/ping beside the scan endpoint and returns the reply', async () => {
    const requests = installFetch(() => reply(200, '{"ok":true,"host":"DESK","port":8080}'));
    assert.deepEqual(await testWifiConnection('https://192.168.1.25:8383'), { ok: true, host: 'DESK', port: 8080 });
    await testWifiConnection('https://192.168.1.25:8383/api/scan/');
    await testWifiConnection('http://10.0.0.9/hook');
    assert.deepEqual(requests.map((r) => r.url), [
      'https://192.168.1.25:8383/api/ping', 'https://192.168.1.25:8383/api/ping', 'http://10.0.0.9/hook',
    ]);
    assert.equal(requests[0].method, 'GET');
    assert.equal(requests[0].mode, 'cors');
  });

  it('counts a reply that is not JSON as reachable', async () => {
    installFetch(() => reply(200, '<html>hello</html>'));
    assert.deepEqual(await testWifiConnection('10.0.0.9:8080'), { ok: true });
  });

  it('fails on a non-success status', async () => {
    installFetch(() => reply(404, 'Not found'));
    await assert.rejects(testWifiConnection('10.0.0.9:8080'), { message: 'Server responded with HTTP 404' });
  });

  it('explains a network failure with the host and port', async () => {
    installFetch(() => Promise.reject(new TypeError('Failed to fetch')));
    await assert.rejects(testWifiConnection('https://192.168.1.25:8383'), {
      message: 'Could not reach 192.168.1.25:8383. Check the IP/port and make sure both devices share the same Wi-Fi.',
    });
  });

  it('gives up after 4000 ms and clears its timer', async () => {
    const clock = installFakeClock();
    try {
      installFetch(() => 'hang');
      const pending = testWifiConnection('10.0.0.9:8080');
      let settled = false;
      pending.catch(() => {}).finally(() => { settled = true; });
      clock.tick(3999);
      await new Promise(setImmediate);
      assert.equal(settled, false);
      clock.tick(1);
      await assert.rejects(pending, {
        message: 'Connection timed out. Make sure both devices are on the same Wi-Fi and the Quillmark receiver is running on the computer.',
      });
      assert.equal(clock.pending(), 0);
    } finally {
      clock.uninstall();
    }
  });

  it('leaves no timer behind after an answer or a failure', async () => {
    const clock = installFakeClock();
    try {
      installFetch(() => reply(500, ''));
      await assert.rejects(testWifiConnection('10.0.0.9'));
      installFetch(() => reply(200, '{}'));
      await testWifiConnection('10.0.0.9');
      installFetch(() => Promise.reject(new TypeError('Failed to fetch')));
      await assert.rejects(sendOverWifi('10.0.0.9', { text: 'A' }));
      assert.equal(clock.pending(), 0);
    } finally {
      clock.uninstall();
    }
  });
});

describe('sendOverWifi', () => {
  const entry = { text: '4006381333931', format: 'EAN-13', confidence: 99, confirmations: 5 };

  it('posts the scan record with its members in order', async () => {
    const requests = installFetch(() => reply(200, '{"ok":true,"scan":{"text":"4006381333931"}}'));
    const answer = await sendOverWifi('https://127.0.0.1:8080', { ...entry, pressEnter: false, timestamp: '2026-03-14T09:26:53.589Z' });
    assert.deepEqual(answer, { ok: true, scan: { text: '4006381333931' } });
    const [request] = requests;
    assert.equal(request.url, 'https://127.0.0.1:8080/api/scan');
    assert.equal(request.method, 'POST');
    assert.equal(request.mode, 'cors');
    assert.deepEqual(request.headers, { 'Content-Type': 'application/json' });
    assert.equal(request.body,
      '{"text":"4006381333931","format":"EAN-13","confidence":99,"confirmations":5,"pressEnter":false,"timestamp":"2026-03-14T09:26:53.589Z"}');
    // A scan with an id names it last, so that the receiver can tell a resend.
    await sendOverWifi('https://127.0.0.1:8080', { ...entry, timestamp: '2026-03-14T09:26:53.589Z', id: 'scan-1773480413589-k7a2c' });
    assert.equal(requests[1].body,
      '{"text":"4006381333931","format":"EAN-13","confidence":99,"confirmations":5,"pressEnter":true,"timestamp":"2026-03-14T09:26:53.589Z","id":"scan-1773480413589-k7a2c"}');
  });

  it('sends pressEnter true unless it is exactly false, and stamps the current time', async () => {
    const requests = installFetch(() => reply(200, 'OK'));
    const before = Date.now();
    await sendOverWifi('10.0.0.9', entry);
    await sendOverWifi('10.0.0.9', { ...entry, pressEnter: 0 });
    const [first, second] = requests.map((r) => JSON.parse(r.body));
    assert.deepEqual(Object.keys(first), ['text', 'format', 'confidence', 'confirmations', 'pressEnter', 'timestamp']);
    assert.equal(first.pressEnter, true);
    assert.equal(second.pressEnter, true);
    assert.match(first.timestamp, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
    assert.ok(Date.parse(first.timestamp) >= before - 1);
  });

  it('reports the receiver\'s own error text, else the status', async () => {
    installFetch(() => reply(400, '{"ok":false,"error":"Missing barcode text"}'));
    await assert.rejects(sendOverWifi('10.0.0.9', entry), { message: 'Missing barcode text' });
    installFetch(() => reply(502, '<h1>Bad gateway</h1>'));
    await assert.rejects(sendOverWifi('10.0.0.9', entry), { message: 'Receiver returned HTTP 502' });
    installFetch(() => reply(500, '{"ok":false}'));
    await assert.rejects(sendOverWifi('10.0.0.9', entry), { message: 'Receiver returned HTTP 500' });
  });

  it('passes a network error through unchanged and refuses an empty address', async () => {
    const failure = new TypeError('Failed to fetch');
    const requests = installFetch(() => Promise.reject(failure));
    await assert.rejects(sendOverWifi('10.0.0.9', entry), (error) => error === failure);
    await assert.rejects(sendOverWifi('  ', entry), { message: 'Enter the target computer URL (e.g. https://192.168.1.25:8080).' });
    assert.equal(requests.length, 1);
  });

  it('marks which failures a retry may cure: no answer, a time-out, a server error', async () => {
    const cases = [
      [() => Promise.reject(new TypeError('Failed to fetch')), 'retry'],
      [() => reply(503, '{"ok":false,"error":"Busy"}'), 'retry'],
      [() => reply(500, 'oops'), 'retry'],
      [() => reply(400, '{"ok":false,"error":"Missing barcode text"}'), 'show'],
      [() => reply(403, '{"ok":false,"error":"Not paired"}'), 'show'],
      [() => reply(404, 'Not found'), 'show'],
    ];
    for (const [answer, action] of cases) {
      installFetch(answer);
      const error = await sendOverWifi('10.0.0.9', entry).catch((failure) => failure);
      assert.equal(failureAction(error), action, `${error.message} calls for ${action}`);
    }
    const badAddress = await sendOverWifi('http://[', entry).catch((error) => error);
    assert.equal(failureAction(badAddress), 'show', 'an unparsable address is no network failure');
    assert.equal(failureAction(await sendOverWifi(' ', entry).catch((error) => error)), 'show');
    const clock = installFakeClock();
    try {
      installFetch(() => 'hang');
      const timedOut = sendOverWifi('10.0.0.9', entry).catch((error) => error);
      clock.tick(5000);
      assert.equal(failureAction(await timedOut), 'retry');
    } finally {
      clock.uninstall();
    }
  });

  it('gives up after 5000 ms', async () => {
    const clock = installFakeClock();
    try {
      installFetch(() => 'hang');
      const pending = sendOverWifi('10.0.0.9', entry);
      let settled = false;
      pending.catch(() => {}).finally(() => { settled = true; });
      clock.tick(4999);
      await new Promise(setImmediate);
      assert.equal(settled, false);
      clock.tick(1);
      await assert.rejects(pending, { message: 'Wi-Fi send timed out. Verify the computer receiver is running.' });
      assert.equal(clock.pending(), 0);
    } finally {
      clock.uninstall();
    }
  });
});
