// Bluetooth LE to a receiver that offers the Nordic UART Service: pairs, writes a scan as one
// byte stream in small chunks, and reports the link's state. No page elements here.

export const DEFAULT_NUS_SERVICE = '6e400001-b5a3-f393-e0a9-e50e24dcca9e';
export const DEFAULT_NUS_RX_CHAR = '6e400002-b5a3-f393-e0a9-e50e24dcca9e';

// The payload that fits the smallest attribute MTU.
const BT_CHUNK_BYTES = 20;
const BT_UNSUPPORTED_MESSAGE =
  'Web Bluetooth is not supported in this browser (use Chrome/Edge on Android, Windows, macOS, or Linux — or use Wi-Fi / System Share on iOS).';
const BT_NOT_CONNECTED_MESSAGE = 'No Bluetooth device connected. Pair a device first.';
const UNNAMED_DEVICE = 'Bluetooth Device';

function uuidOrDefault(value, fallback) {
  const text = String(value ?? '').trim().toLowerCase();
  return text || fallback;
}

export class BluetoothRelay {
  constructor(onStateChange) {
    this.device = null;
    this.server = null;
    this.characteristic = null;
    this.onStateChange = typeof onStateChange === 'function' ? onStateChange : () => {};
    this.handleDisconnect = () => {
      this.server = null;
      this.characteristic = null;
      this.reportStatus();
    };
  }

  isSupported() {
    return typeof globalThis.navigator?.bluetooth?.requestDevice === 'function';
  }

  isConnected() {
    return Boolean(this.server?.connected && this.characteristic);
  }

  getStatus() {
    const connected = this.isConnected();
    return {
      supported: this.isSupported(),
      connected,
      deviceName: this.device?.name || (connected ? UNNAMED_DEVICE : null),
    };
  }

  reportStatus() {
    this.onStateChange(this.getStatus());
  }

  async connect({ serviceUuid, rxCharUuid } = {}) {
    if (!this.isSupported()) throw new Error(BT_UNSUPPORTED_MESSAGE);
    const service = uuidOrDefault(serviceUuid, DEFAULT_NUS_SERVICE);
    const characteristicUuid = uuidOrDefault(rxCharUuid, DEFAULT_NUS_RX_CHAR);
    const device = await globalThis.navigator.bluetooth.requestDevice({
      acceptAllDevices: true,
      optionalServices: [service],
    });
    const previous = this.device;
    previous?.removeEventListener('gattserverdisconnected', this.handleDisconnect);
    device.addEventListener('gattserverdisconnected', this.handleDisconnect);
    this.device = device;
    // One relay, one link: drop the old device's link so writes never go to a device that is no
    // longer shown, and so a failed connection below is not reported as connected.
    if (previous && previous !== device && previous.gatt?.connected) previous.gatt.disconnect();
    this.server = null;
    this.characteristic = null;
    try {
      const server = await device.gatt.connect();
      const primary = await server.getPrimaryService(service);
      this.characteristic = await primary.getCharacteristic(characteristicUuid);
      this.server = server;
    } catch (error) {
      this.characteristic = null;
      this.reportStatus();
      throw error;
    }
    this.reportStatus();
    return this.getStatus();
  }

  disconnect() {
    if (this.server?.connected) this.server.disconnect();
    this.server = null;
    this.characteristic = null;
    this.reportStatus();
  }

  async send(text, { pressEnter = true } = {}) {
    if (!this.isConnected()) throw new Error(BT_NOT_CONNECTED_MESSAGE);
    const { characteristic } = this;
    const bytes = new TextEncoder().encode(String(text ?? '') + (pressEnter !== false ? '\r\n' : ''));
    const withoutResponse =
      characteristic.properties?.writeWithoutResponse && typeof characteristic.writeValueWithoutResponse === 'function';
    const write = withoutResponse
      ? (chunk) => characteristic.writeValueWithoutResponse(chunk)
      : (chunk) => (characteristic.writeValueWithResponse ?? characteristic.writeValue).call(characteristic, chunk);
    // Sequential writes pace the stream; a character may straddle two chunks, so the receiver
    // must treat the writes as one byte stream.
    for (let offset = 0; offset < bytes.length; offset += BT_CHUNK_BYTES) {
      await write(bytes.slice(offset, offset + BT_CHUNK_BYTES));
    }
  }
}
