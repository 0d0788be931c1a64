// Reads camera frames and photos: cuts the region of interest, runs the frame's pass schedule
// and asks both decoders. The camera itself is camera.js; the decoders are decoder.js.
import { estimateSharpness } from './consensus.js';
import { Decoders } from './decoder.js';
import { NO_PASS_PREFERENCE, framePasses, nextPassPreference } from './passes.js';
import {
  clampDigitalZoom, enhanceContrast, newCanvas, regionOfInterest, scaledToLongerSide, scaledToWidth, sizeCanvas,
} from './pixels.js';

const ROI_MAX_WIDTH = 960;
const FULL_FRAME_MAX_WIDTH = 840;
// A 720p frame at its own resolution: what the photo path decodes of the same picture.
const FULL_FRAME_HARD_MAX_WIDTH = 1280;
const PHOTO_MAX_SIDE = 1800;
const HAVE_CURRENT_DATA = 2;

export class BarcodeScannerEngine {
  constructor(decoders = new Decoders()) {
    this.decoders = decoders;
    this.roiCanvas = null;
    this.roiContext = null;
    this.fullCanvas = null;
    this.fullContext = null;
    this.passPreference = NO_PASS_PREFERENCE;
  }

  getEngineInfo() {
    return this.decoders.info();
  }

  initEngines() {
    return this.decoders.load();
  }

  ensureCanvases() {
    if (this.roiCanvas) return;
    this.roiCanvas = newCanvas();
    this.roiContext = this.roiCanvas.getContext('2d', { willReadFrequently: true });
    this.fullCanvas = newCanvas();
    this.fullContext = this.fullCanvas.getContext('2d', { willReadFrequently: true });
  }

  async scanVideoFrame(videoEl, { mode = 'all', frameIndex = 0, digitalZoom = 1 } = {}) {
    if (!videoEl || videoEl.readyState < HAVE_CURRENT_DATA || !videoEl.videoWidth) return null;
    this.ensureCanvases();
    const frameWidth = videoEl.videoWidth;
    const frameHeight = videoEl.videoHeight;
    const region = regionOfInterest(frameWidth, frameHeight, clampDigitalZoom(digitalZoom));
    const size = scaledToWidth(region.width, region.height, ROI_MAX_WIDTH);
    sizeCanvas(this.roiCanvas, size.width, size.height);
    this.roiContext.drawImage(videoEl, region.x, region.y, region.width, region.height, 0, 0, size.width, size.height);
    const roi = this.roiContext.getImageData(0, 0, size.width, size.height);
    const sharpness = estimateSharpness(roi);
    const found = (hit, pass) => ({ ...hit, sharpness, pass });

    for (const pass of framePasses(frameIndex, this.passPreference.pass)) {
      const hit = await this.decodePass(pass, videoEl, roi, mode);
      if (hit) {
        this.passPreference = nextPassPreference(this.passPreference, pass);
        return found(hit, pass);
      }
    }
    this.passPreference = nextPassPreference(this.passPreference, null);
    return null;
  }

  async decodePass(pass, videoEl, roi, mode) {
    if (pass === 'roi-fast' || pass === 'roi-hard') {
      return this.decoders.decode(roi, this.roiCanvas, mode, { tryHarder: pass === 'roi-hard' });
    }
    if (pass === 'enhanced-roi') return this.decoders.decode(enhanceContrast(roi), null, mode, { tryHarder: true });
    // The whole frame catches large 2D codes and barcodes away from the centre.
    const hard = pass === 'full-hard';
    const full = scaledToWidth(videoEl.videoWidth, videoEl.videoHeight, hard ? FULL_FRAME_HARD_MAX_WIDTH : FULL_FRAME_MAX_WIDTH);
    sizeCanvas(this.fullCanvas, full.width, full.height);
    this.fullContext.drawImage(videoEl, 0, 0, full.width, full.height);
    const pixels = this.fullContext.getImageData(0, 0, full.width, full.height);
    // The thorough pass is after small codes and bars off the middle rows: inverted codes are the
    // region passes' job and large ones the fast pass's, and leaving them out halves its cost.
    const options = hard ? { tryHarder: true, tryInvert: false, tryDownscale: false } : { tryHarder: false };
    return this.decoders.decode(pixels, this.fullCanvas, mode, options);
  }

  async scanImageFile(file, { mode = 'all' } = {}) {
    await this.initEngines();
    this.ensureCanvases();
    const bitmap = await createImageBitmap(file);
    try {
      const size = scaledToLongerSide(bitmap.width, bitmap.height, PHOTO_MAX_SIDE);
      sizeCanvas(this.fullCanvas, size.width, size.height);
      this.fullContext.drawImage(bitmap, 0, 0, size.width, size.height);
      const pixels = this.fullContext.getImageData(0, 0, size.width, size.height);
      const sharpness = estimateSharpness(pixels);
      const hit =
        (await this.decoders.decode(pixels, this.fullCanvas, mode, { tryHarder: true })) ??
        (await this.decoders.decode(enhanceContrast(pixels), null, mode, { tryHarder: true }));
      return hit ? { ...hit, sharpness, pass: 'photo' } : null;
    } finally {
      bitmap.close?.();
    }
  }
}
