import { describe, it, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { scopedGlobals } from '../helpers/globals.js';
import { isSystemShareSupported, shareViaSystem } from '../../../web/relay/system-share.js';

const use = scopedGlobals(afterEach);

describe('system share', () => {
  it('opens the share sheet with the format in the title', async () => {
    const shared = [];
    use('navigator', { share: async (data) => { shared.push(data); } });
    assert.equal(isSystemShareSupported(), true);
    await shareViaSystem({ text: 'ABC-1', format: 'CODE-128' });
    assert.deepEqual(shared, [{ title: 'Barcode (CODE-128)', text: 'ABC-1' }]);
  });

  it('refuses where there is no share sheet, and passes on a cancel', async () => {
    use('navigator', {});
    assert.equal(isSystemShareSupported(), false);
    await assert.rejects(shareViaSystem({ text: 'A', format: 'QR-CODE' }), { message: 'System Share Sheet is not supported in this browser.' });
    use('navigator', { share: async () => { throw new DOMException('Share canceled', 'AbortError'); } });
    await assert.rejects(shareViaSystem({ text: 'A', format: 'QR-CODE' }), { name: 'AbortError' });
  });
});
