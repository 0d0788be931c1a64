import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { FakeStorage } from '../helpers/globals.js';
import { HISTORY_KEY, HISTORY_LIMIT, History, historyCsv } from '../../../web/page/history.js';

const entry = (n, fields = {}) => ({ format: 'CODE-128', text: `ITEM-${n}`, confidence: 99, confirmations: 5, agreementRatio: 1, ...fields });

function newHistory(stored) {
  const storage = new FakeStorage(stored === undefined ? {} : { [HISTORY_KEY]: stored });
  let changes = 0;
  const history = new History({ storage, onChange: () => { changes += 1; } });
  return { history, storage, changes: () => changes, saved: () => JSON.parse(storage.getItem(HISTORY_KEY)) };
}

describe('history', () => {
  it('adds newest first, gives the entry an id to send with it, and stores every change', () => {
    const { history, changes, saved } = newHistory();
    const first = entry(1);
    history.add(first);
    history.add(entry(2, { id: 'scan-kept' }));
    assert.match(first.id, /^scan-\d+-[a-z0-9]{1,5}$/, 'the caller\'s entry carries the id');
    assert.deepEqual(history.items.map((item) => item.id), ['scan-kept', first.id]);
    assert.ok(!Number.isNaN(Date.parse(history.items[0].timestamp)));
    assert.deepEqual(saved(), history.items);
    assert.equal(changes(), 2);
  });

  it('keeps the newest 50', () => {
    const { history, saved } = newHistory();
    for (let n = 1; n <= HISTORY_LIMIT + 1; n += 1) history.add(entry(n));
    assert.equal(HISTORY_LIMIT, 50);
    assert.equal(saved().length, 50);
    assert.equal(history.items[0].text, 'ITEM-51');
    assert.equal(history.items.at(-1).text, 'ITEM-2');
  });

  it('marks a channel once per scan, and ignores an id it does not hold', () => {
    const { history, changes, saved } = newHistory();
    history.add(entry(1, { id: 'a' }));
    history.markSent('a', 'Wi-Fi');
    history.markSent('a', 'Bluetooth');
    history.markSent('a', 'Wi-Fi');
    history.markSent('gone', 'Wi-Fi');
    assert.deepEqual(saved()[0].sentVia, ['Wi-Fi', 'Bluetooth']);
    assert.equal(changes(), 3);
  });

  it('reads back only stored objects; anything else, or a broken store, is an empty history', () => {
    assert.deepEqual(newHistory(JSON.stringify([{ id: 'x' }, null, 7, 'text'])).history.items, [{ id: 'x' }]);
    assert.deepEqual(newHistory('{"not":"a list"}').history.items, []);
    assert.deepEqual(newHistory('not json').history.items, []);
    const { history, storage } = newHistory(JSON.stringify([{ id: 'x' }]));
    storage.broken = true;
    assert.doesNotThrow(() => history.clear());
    assert.deepEqual(new History({ storage }).items, []);
  });
});

describe('history CSV', () => {
  it('quotes every field, doubles quotes, and leaves missing values empty', () => {
    const csv = historyCsv([
      { timestamp: '2026-03-14T09:00:01.000Z', format: 'QR-CODE', text: 'say "hi", ok', confidence: 97, confirmations: 5, agreementRatio: 0.876 },
      { timestamp: '2026-03-14T09:00:00.000Z', format: 'EAN-8', text: '96385074' },
    ]);
    assert.equal(csv, [
      '"Timestamp","Format","Code","Confidence","Confirmations","Agreement"',
      '"2026-03-14T09:00:01.000Z","QR-CODE","say ""hi"", ok","97%","5","88%"',
      '"2026-03-14T09:00:00.000Z","EAN-8","96385074","","","100%"',
    ].join('\r\n'));
    assert.equal(historyCsv([]), '"Timestamp","Format","Code","Confidence","Confirmations","Agreement"');
  });
});
