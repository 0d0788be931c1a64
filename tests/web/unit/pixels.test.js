import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { enhanceContrast } from '../../../web/scan/pixels.js';

describe('enhanceContrast', () => {
  const pixels = (values) => ({
    data: new Uint8ClampedArray(values.flatMap(([r, g, b, a = 200]) => [r, g, b, a])),
    width: values.length,
    height: 1,
  });

  it('stretches the sampled luminance range to 0..255 in grey', () => {
    // Pixels 0 and 4 are sampled (every fourth): luminance 100 and 200; pixel 2 (50) is not.
    const input = pixels([[100, 100, 100], [140, 140, 140], [50, 50, 50], [120, 120, 120], [200, 200, 200]]);
    const copy = new Uint8ClampedArray(input.data);
    const out = enhanceContrast(input);
    assert.deepEqual([...out.data], [0, 0, 0, 255, 102, 102, 102, 255, 0, 0, 0, 255, 51, 51, 51, 255, 255, 255, 255, 255]);
    assert.deepEqual(input.data, copy, 'input unchanged');
    assert.notEqual(out.data, input.data);
    assert.deepEqual([out.width, out.height], [5, 1]);
  });

  it('uses at least a range of 24 so a flat image is not blown up', () => {
    const out = enhanceContrast(pixels([[100, 100, 100], [110, 110, 110], [0, 0, 0], [0, 0, 0], [110, 110, 110]]));
    // min 100, max 110 -> range 24, scale 10.625: 110 -> 106.25
    assert.deepEqual([...out.data.slice(0, 8)], [0, 0, 0, 255, 106, 106, 106, 255]);
  });

  it('weighs colours by luminance', () => {
    const out = enhanceContrast(pixels([[0, 0, 0], [255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 255]]));
    assert.deepEqual([out.data[4], out.data[8], out.data[12]], [76, 150, 29]);
  });
});
