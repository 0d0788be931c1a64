// The pass schedule: which decodes a camera frame tries, in which order, and which pass the
// schedule prefers after one read a code. Pure logic.

// Passes that can take the lead of a frame, and how many frames in a row one may fail before the
// schedule falls back to the cheap order.
const ADAPTIVE_PASSES = Object.freeze(['roi-hard', 'enhanced-roi', 'full', 'full-hard']);
const PREFERENCE_MISSES = 3;

// Non-negative remainder, so the pass schedule holds for any integer frame index.
function mod(value, divisor) {
  return ((value % divisor) + divisor) % divisor;
}

// The passes a frame tries, in order, until one reads a code. The cheap schedule: the region on
// every frame (fast on even frame indices, thorough on odd), its contrast-stretched copy on every
// third, the whole frame fast on every fourth, and fast then thorough on every sixth. The thorough whole
// frame reads what a photo of the same picture reads: small codes anywhere and bars away from the
// middle rows, which the fast search never looks at. A preferred pass (the last that read a code
// where the fast region pass could not) goes first on every frame; a thorough region pass
// replaces the fast one, and the thorough whole frame comes after the fast one, so a code that
// the cheap pass reads moves the preference to it. So a frame costs at most two decodes more
// than the cheap schedule.
export function framePasses(frameIndex, preferred = null) {
  const index = Number.isInteger(frameIndex) ? frameIndex : 0;
  const passes = [mod(index, 2) === 1 ? 'roi-hard' : 'roi-fast'];
  if (mod(index, 3) === 1) passes.push('enhanced-roi');
  // The thorough whole frame always comes after the fast one: a large code that the fast pass
  // reads in a few milliseconds can cost the thorough one many times that.
  const thoroughFull = mod(index, 6) === 2;
  if (mod(index, 4) === 0 || thoroughFull) passes.push('full');
  if (thoroughFull) passes.push('full-hard');
  if (!ADAPTIVE_PASSES.includes(preferred)) return passes;
  if (preferred === 'roi-hard') return ['roi-hard', ...passes.slice(1)];
  const first = preferred === 'full-hard' ? ['full', 'full-hard'] : [preferred];
  return [...first, ...passes.filter((pass) => !first.includes(pass))];
}

export const NO_PASS_PREFERENCE = Object.freeze({ pass: null, misses: 0 });

// After a frame: `hitPass` read the code, or null when no pass did. A pass other than the fast
// region pass that reads a code becomes preferred; the preferred pass stays so until it has
// failed on PREFERENCE_MISSES frames in a row (the code moved, or left the view).
export function nextPassPreference(preference, hitPass) {
  if (ADAPTIVE_PASSES.includes(hitPass)) return { pass: hitPass, misses: 0 };
  if (!preference.pass) return preference;
  const misses = preference.misses + 1;
  return misses >= PREFERENCE_MISSES ? NO_PASS_PREFERENCE : { pass: preference.pass, misses };
}
