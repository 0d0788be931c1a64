import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { framePasses, nextPassPreference, NO_PASS_PREFERENCE } from '../../../web/scan/passes.js';

describe('adaptive pass schedule', () => {
  const CHEAP = (index) => framePasses(index);

  it('puts the preferred pass first, adding at most two decodes to a frame', () => {
    assert.deepEqual(framePasses(2), ['roi-fast', 'full', 'full-hard']);
    assert.deepEqual(framePasses(8), ['roi-fast', 'full', 'full-hard']);
    assert.deepEqual(framePasses(2, 'full'), ['full', 'roi-fast', 'full-hard']);
    assert.deepEqual(framePasses(14, 'roi-hard'), ['roi-hard', 'full', 'full-hard']);
    assert.deepEqual(framePasses(4, 'full'), ['full', 'roi-fast', 'enhanced-roi']);
    assert.deepEqual(framePasses(3, 'enhanced-roi'), ['enhanced-roi', 'roi-hard']);
    assert.deepEqual(framePasses(1, 'enhanced-roi'), ['enhanced-roi', 'roi-hard']);
    // A thorough region pass stands in for the fast one rather than adding to it.
    assert.deepEqual(framePasses(6, 'roi-hard'), ['roi-hard']);
    assert.deepEqual(framePasses(8, 'roi-hard'), ['roi-hard', 'full', 'full-hard']);
    // The fast whole frame goes before the thorough one, so a code it reads takes the lead.
    assert.deepEqual(framePasses(3, 'full-hard'), ['full', 'full-hard', 'roi-hard']);
    assert.deepEqual(framePasses(8, 'full-hard'), ['full', 'full-hard', 'roi-fast']);
    for (const preferred of ['roi-hard', 'enhanced-roi', 'full', 'full-hard']) {
      for (let index = 0; index < 12; index += 1) {
        const passes = framePasses(index, preferred);
        assert.ok(passes.length <= CHEAP(index).length + 2, `${preferred} at frame ${index}`);
        assert.equal(new Set(passes).size, passes.length);
      }
    }
  });

  it('keeps the cheap schedule without a preference, or with the fast region pass or a bad name', () => {
    for (let index = 0; index < 12; index += 1) {
      for (const preferred of [null, 'roi-fast', 'photo', undefined]) assert.deepEqual(framePasses(index, preferred), CHEAP(index));
    }
  });

  it('follows the pass that read the code until it misses three frames in a row', () => {
    // Frame by frame: the pass that read (null: none), and the pass preferred afterwards.
    const frames = [
      ['roi-fast', null], ['full', 'full'], ['full', 'full'], [null, 'full'], ['roi-fast', 'full'], ['full', 'full'],
      [null, 'full'], [null, 'full'], [null, null], ['roi-hard', 'roi-hard'], ['enhanced-roi', 'enhanced-roi'],
      [null, 'enhanced-roi'], ['roi-hard', 'roi-hard'], ['full-hard', 'full-hard'], ['full', 'full'],
    ];
    let preference = NO_PASS_PREFERENCE;
    frames.forEach(([hit, expected], frame) => {
      preference = nextPassPreference(preference, hit);
      assert.equal(preference.pass, expected, `frame ${frame}`);
    });
  });
});
