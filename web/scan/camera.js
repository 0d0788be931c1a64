// Camera control: opens the rear camera, tunes focus and exposure for barcodes, and drives the
// torch, the hardware zoom and a refocus. Knows nothing of decoding.

const MAX_REPORTED_ZOOM = 6;
const REFOCUS_HOLD_MS = 450;

export class Camera {
  constructor() {
    this.stream = null;
    this.videoTrack = null;
    this.capabilities = {};
  }

  // Plays the camera in `videoEl` and reports what it can do.
  async start(videoEl) {
    await this.stop();
    const media = globalThis.navigator?.mediaDevices;
    if (!media || typeof media.getUserMedia !== 'function') {
      const insecure = !globalThis.isSecureContext && globalThis.location?.hostname !== 'localhost';
      const hint = insecure
        ? ' Live video requires HTTPS on mobile browsers. Use the "Scan Photo" button below (works over plain HTTP!), or open via HTTPS.'
        : ' Open this app over HTTPS or localhost on a device with a camera.';
      throw new Error(`Camera streaming unavailable.${hint}`);
    }
    let stream;
    try {
      stream = await media.getUserMedia({
        audio: false,
        video: {
          facingMode: { ideal: 'environment' },
          width: { ideal: 1920, min: 640 },
          height: { ideal: 1080, min: 480 },
          frameRate: { ideal: 30, min: 15 },
        },
      });
    } catch {
      stream = await media.getUserMedia({ audio: false, video: { facingMode: 'environment' } });
    }
    this.stream = stream;
    videoEl.setAttribute('playsinline', '');
    videoEl.playsInline = true;
    videoEl.muted = true;
    videoEl.srcObject = stream;
    try {
      await videoEl.play();
    } catch (error) {
      await this.stop();
      throw error;
    }
    this.videoTrack = stream.getVideoTracks()[0] ?? null;
    this.capabilities = this.readCapabilities();
    await this.applyAutoFocus();
    const caps = this.capabilities;
    return {
      width: videoEl.videoWidth,
      height: videoEl.videoHeight,
      torchSupported: Boolean(caps.torch),
      zoomSupported: Boolean(caps.zoom),
      zoomMin: caps.zoom?.min ?? 1,
      zoomMax: caps.zoom ? Math.min(caps.zoom.max ?? 1, MAX_REPORTED_ZOOM) : 1,
      zoomStep: caps.zoom?.step ?? 0.1,
    };
  }

  readCapabilities() {
    try {
      return this.videoTrack?.getCapabilities?.() ?? {};
    } catch {
      return {};
    }
  }

  async applyConstraintSet(set) {
    try {
      await this.videoTrack.applyConstraints({ advanced: [set] });
      return true;
    } catch {
      return false;
    }
  }

  async applyAutoFocus() {
    if (typeof this.videoTrack?.applyConstraints !== 'function') return;
    const caps = this.capabilities;
    const set = {};
    if (caps.focusMode?.includes?.('continuous')) set.focusMode = 'continuous';
    if (caps.exposureMode?.includes?.('continuous')) set.exposureMode = 'continuous';
    if (Object.keys(set).length) await this.applyConstraintSet(set);
  }

  async refocus() {
    const modes = this.capabilities.focusMode;
    if (!Array.isArray(modes) || typeof this.videoTrack?.applyConstraints !== 'function') return;
    if (!modes.includes('single-shot')) {
      await this.applyAutoFocus();
      return;
    }
    await this.applyConstraintSet({ focusMode: 'single-shot' });
    setTimeout(() => {
      this.applyAutoFocus();
    }, REFOCUS_HOLD_MS);
  }

  // Resolves the torch state in force.
  async setTorch(enabled) {
    if (!this.videoTrack || !this.capabilities.torch) return false;
    const on = Boolean(enabled);
    return (await this.applyConstraintSet({ torch: on })) ? on : false;
  }

  async setZoom(zoomValue) {
    const zoom = this.capabilities.zoom;
    if (!this.videoTrack || !zoom) return;
    const value = Math.min(zoom.max ?? Infinity, Math.max(zoom.min ?? 0, Number(zoomValue)));
    if (Number.isFinite(value)) await this.applyConstraintSet({ zoom: value });
  }

  async stop() {
    const { stream, videoTrack, capabilities } = this;
    // Cleared first, so a start that follows at once never sees the old stream.
    this.stream = null;
    this.videoTrack = null;
    this.capabilities = {};
    if (videoTrack && capabilities.torch) {
      try {
        await videoTrack.applyConstraints({ advanced: [{ torch: false }] });
      } catch {
        // The track is stopped next anyway.
      }
    }
    stream?.getTracks().forEach((track) => track.stop());
  }
}
