import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { FakeStorage, installFakeClock } from '../helpers/globals.js';
import { OUTBOX_KEY, OUTBOX_LIMIT, Outbox, retryDelay } from '../../../web/relay/outbox.js';

const settle = () => new Promise(setImmediate);
const record = (n) => ({ id: `scan-${n}`, text: `CODE-${n}`, format: 'CODE-128', confidence: 99, confirmations: 5, pressEnter: true });
const unreachable = () => Object.assign(new TypeError('Failed to fetch'), { retryable: true });
const refused = () => Object.assign(new Error('Not paired'), { status: 403 });

// An outbox whose sends go to a stand-in receiver: `answer(record)` returns a reply or throws.
// `attempts` lists every try in order with the fake clock's time; `events` what it reported.
function newOutbox({ storage = new FakeStorage(), answer = () => ({ ok: true }), clock } = {}) {
  const attempts = [];
  const events = [];
  const outbox = new Outbox({
    storage,
    send: async (sent) => {
      attempts.push({ id: sent.id, at: clock?.now() });
      return answer(sent);
    },
    onSent: (sent) => events.push(`sent ${sent.id}`),
    onFailure: (error, { action, failures }) => events.push(`${action} ${failures}`),
  });
  return { outbox, attempts, events, storage };
}

let clock = null;
afterEach(() => {
  clock?.uninstall();
  clock = null;
});

describe('waiting list', () => {
  it('sends a scan at once while nothing waits, and keeps nothing', async () => {
    const { outbox, attempts, storage } = newOutbox();
    assert.deepEqual(await outbox.submit(record(1)), { status: 'sent', reply: { ok: true } });
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1']);
    assert.equal(outbox.size, 0);
    assert.equal(storage.getItem(OUTBOX_KEY), '[]');
  });

  it('keeps scan order: later scans queue behind a failed one and go out in order', async () => {
    clock = installFakeClock();
    let down = true;
    const { outbox, attempts, events } = newOutbox({ clock, answer: () => { if (down) throw unreachable(); return { ok: true }; } });
    const first = await outbox.submit(record(1));
    assert.equal(first.status, 'waiting');
    assert.equal(first.error.message, 'Failed to fetch');
    // Joining a list that is failing: they wait, without an attempt of their own.
    assert.deepEqual(await outbox.submit(record(2)), { status: 'waiting' });
    assert.deepEqual(await outbox.submit(record(3)), { status: 'waiting' });
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1']);
    assert.equal(outbox.size, 3);
    down = false;
    clock.tick(1000);
    await settle();
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1', 'scan-1', 'scan-2', 'scan-3']);
    assert.deepEqual(events, ['sent scan-1', 'sent scan-2', 'sent scan-3'], 'each waiting scan is reported once');
    assert.equal(outbox.size, 0);
    assert.equal(clock.pending(), 0, 'no retry is left behind');
  });

  it('a scan submitted while an earlier one is still being sent waits for it, not beside it', async () => {
    let release;
    const { outbox, attempts } = newOutbox({ answer: () => new Promise((resolve) => { release = resolve; }) });
    const first = outbox.submit(record(1));
    const second = outbox.submit(record(2));
    await settle();
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1']);
    release({ ok: 1 });
    assert.equal((await first).status, 'sent');
    await settle();
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1', 'scan-2']);
    release({ ok: 2 });
    assert.deepEqual(await second, { status: 'sent', reply: { ok: 2 } });
  });

  it('retries after 1, 2, 5, 10 and then every 30 seconds, and at once when asked', async () => {
    clock = installFakeClock();
    const { outbox, attempts, events } = newOutbox({ clock, answer: () => { throw unreachable(); } });
    await outbox.submit(record(1));
    for (let i = 0; i < 7; i += 1) {
      assert.ok(clock.next(), 'a retry is always pending');
      await settle();
    }
    assert.deepEqual(attempts.map((a) => a.at), [0, 1000, 3000, 8000, 18000, 48000, 78000, 108000]);
    assert.deepEqual(events.slice(0, 3), ['retry 2', 'retry 3', 'retry 4']);
    assert.deepEqual([1, 2, 3, 4, 5, 6, 50].map(retryDelay), [1000, 2000, 5000, 10000, 30000, 30000, 30000]);
    // "Send now", coming online, the page becoming visible: an attempt at once, one timer kept.
    const before = attempts.length;
    outbox.flush();
    outbox.flush();
    await settle();
    assert.equal(attempts.length, before + 1);
    assert.equal(clock.pending(), 1);
  });

  it('drops a new scan that the receiver refuses, but holds a waiting one until asked again', async () => {
    clock = installFakeClock();
    let fail = refused;
    const { outbox, attempts, events } = newOutbox({
      clock,
      answer: () => {
        const answer = fail();
        if (answer instanceof Error) throw answer;
        return answer;
      },
    });
    const fate = await outbox.submit(record(1));
    assert.equal(fate.status, 'refused');
    assert.equal(fate.error.message, 'Not paired');
    assert.equal(outbox.size, 0, 'a refused new scan is shown, not kept');

    fail = unreachable;
    await outbox.submit(record(2));
    fail = refused;
    clock.tick(1000);
    await settle();
    assert.deepEqual(events, ['show 2']);
    assert.equal(outbox.size, 1, 'a scan that waited is never dropped');
    assert.equal(clock.pending(), 0, 'no retry of an answer that a retry cannot change');
    // The next scan tries again, and joins behind it.
    fail = () => ({ ok: true });
    assert.deepEqual(await outbox.submit(record(3)), { status: 'waiting' });
    await settle();
    assert.deepEqual(attempts.map((a) => a.id), ['scan-1', 'scan-2', 'scan-2', 'scan-2', 'scan-3']);
    assert.deepEqual(events, ['show 2', 'sent scan-2', 'sent scan-3']);
    assert.equal(outbox.size, 0);
  });

  it('survives a reload in order, and forgets what it is told to', async () => {
    const storage = new FakeStorage();
    clock = installFakeClock();
    const { outbox } = newOutbox({ storage, clock, answer: () => { throw unreachable(); } });
    for (const n of [1, 2, 3]) await outbox.submit(record(n));
    outbox.forget('scan-2');
    const reloaded = newOutbox({ storage });
    assert.equal(reloaded.outbox.size, 2);
    assert.ok(reloaded.outbox.has('scan-3') && !reloaded.outbox.has('scan-2'));
    await reloaded.outbox.flush();
    assert.deepEqual(reloaded.attempts.map((a) => a.id), ['scan-1', 'scan-3']);
    assert.deepEqual(reloaded.events, ['sent scan-1', 'sent scan-3']);
    // Broken or foreign stored values start an empty list; a broken store keeps it in memory.
    for (const stored of ['{', '{"a":1}', '[null,7,{"id":"x"}]']) {
      assert.equal(newOutbox({ storage: new FakeStorage({ [OUTBOX_KEY]: stored }) }).outbox.size, 0, stored);
    }
    const broken = new FakeStorage();
    broken.broken = true;
    const inMemory = newOutbox({ storage: broken, answer: () => { throw unreachable(); }, clock });
    assert.equal((await inMemory.outbox.submit(record(4))).status, 'waiting');
    assert.equal(inMemory.outbox.size, 1);
  });

  it(`holds at most ${OUTBOX_LIMIT} scans and refuses the next, keeping the others`, async () => {
    const waiting = Array.from({ length: OUTBOX_LIMIT }, (_, i) => record(i));
    const storage = new FakeStorage({ [OUTBOX_KEY]: JSON.stringify(waiting) });
    const { outbox, attempts } = newOutbox({ storage });
    assert.deepEqual(await outbox.submit(record('new')), { status: 'full' });
    assert.equal(outbox.size, OUTBOX_LIMIT);
    assert.equal(attempts.length, 0);
    assert.equal(JSON.parse(storage.getItem(OUTBOX_KEY)).at(-1).id, `scan-${OUTBOX_LIMIT - 1}`);
  });

  it('discards everything and stops retrying', async () => {
    clock = installFakeClock();
    const { outbox, storage } = newOutbox({ clock, answer: () => { throw unreachable(); } });
    await outbox.submit(record(1));
    await outbox.submit(record(2));
    outbox.discard();
    assert.equal(outbox.size, 0);
    assert.equal(storage.getItem(OUTBOX_KEY), '[]');
    assert.equal(clock.pending(), 0);
  });
});
