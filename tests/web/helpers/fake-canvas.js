// A canvas stand-in for Node: records what is drawn and hands back images of the requested size.
export class FakeCanvas {
  constructor(width = 300, height = 150) {
    this.width = width;
    this.height = height;
    this.context = null;
    this.contextOptions = null;
  }

  getContext(kind, options) {
    this.contextOptions = options;
    this.context ??= new FakeContext(this);
    return this.context;
  }
}

export class FakeContext {
  constructor(canvas) {
    this.canvas = canvas;
    this.draws = [];
    this.reads = [];
    this.fill = 128;
  }

  drawImage(source, ...args) {
    this.draws.push(args);
  }

  getImageData(x, y, width, height) {
    this.reads.push([x, y, width, height]);
    return { data: new Uint8ClampedArray(width * height * 4).fill(this.fill), width, height };
  }
}

export function installFakeCanvas() {
  globalThis.OffscreenCanvas = FakeCanvas;
}
