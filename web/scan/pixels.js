// Pixel work on frames and photos: the region of interest, scaling, canvases and the contrast
// stretch. No decoding here.

const ROI_WIDTH_SHARE = 0.84;
const ROI_HEIGHT_SHARE = 0.52;
const MAX_DIGITAL_ZOOM = 4;

export function clampDigitalZoom(value) {
  if (typeof value !== 'number' || Number.isNaN(value)) return 1;
  return Math.min(MAX_DIGITAL_ZOOM, Math.max(1, value));
}

// Centre region matching the reticle; a digital zoom shrinks it to raise small codes' resolution.
export function regionOfInterest(frameWidth, frameHeight, zoom) {
  const width = Math.round((frameWidth * ROI_WIDTH_SHARE) / zoom);
  const height = Math.round((frameHeight * ROI_HEIGHT_SHARE) / zoom);
  return {
    x: Math.round((frameWidth - width) / 2),
    y: Math.round((frameHeight - height) / 2),
    width,
    height,
  };
}

export function scaledToWidth(width, height, maxWidth) {
  if (width <= maxWidth) return { width, height };
  return { width: maxWidth, height: Math.round((height * maxWidth) / width) };
}

export function scaledToLongerSide(width, height, maxSide) {
  const longer = Math.max(width, height);
  if (longer <= maxSide) return { width, height };
  const scale = maxSide / longer;
  return { width: Math.round(width * scale), height: Math.round(height * scale) };
}

export function newCanvas() {
  if (globalThis.document?.createElement) return globalThis.document.createElement('canvas');
  return new OffscreenCanvas(1, 1);
}

export function sizeCanvas(canvas, width, height) {
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
}

function newImageData(data, width, height) {
  if (typeof ImageData === 'function') return new ImageData(data, width, height);
  return { data, width, height };
}

// A grey copy whose sampled luminance range is stretched to 0..255; the input is left as it is.
export function enhanceContrast(imageData) {
  const { data, width, height } = imageData;
  const luma = (i) => 0.299 * data[i] + 0.587 * data[i + 1] + 0.114 * data[i + 2];
  let low = Infinity;
  let high = -Infinity;
  for (let i = 0; i < data.length; i += 16) {
    const value = luma(i);
    if (value < low) low = value;
    if (value > high) high = value;
  }
  if (low === Infinity) low = high = 0;
  // A minimum range keeps a flat image from being blown up into noise.
  const scale = 255 / Math.max(24, high - low);
  const out = new Uint8ClampedArray(data.length);
  for (let i = 0; i < data.length; i += 4) {
    const grey = (luma(i) - low) * scale;
    out[i] = out[i + 1] = out[i + 2] = grey;
    out[i + 3] = 255;
  }
  return newImageData(out, width, height);
}
