// Carries an accepted scan to a computer: Wi-Fi (POST to the receiver), Bluetooth LE (Nordic UART
// Service) or the system share sheet; remembers the computer's address. No page elements here.

export const DEFAULT_NUS_SERVICE = '6e400001-b5a3-f393-e0a9-e50e24dcca9e';
export const DEFAULT_NUS_RX_CHAR = '6e400002-b5a3-f393-e0a9-e50e24dcca9e';

const WIFI_URL_KEY = 'quillmark_wifi_url_v1';
const FALLBACK_ENDPOINT = 'http://192.168.1.100:8080/api/scan';
// The payload that fits the smallest attribute MTU.
const BT_CHUNK_BYTES = 20;
const PING_TIMEOUT_MS = 4000;
const SEND_TIMEOUT_MS = 5000;

const EMPTY_URL_MESSAGE = 'Enter the target computer URL (e.g. http://192.168.1.25:8080).';
const PING_TIMEOUT_MESSAGE =
  'Connection timed out. Make sure both devices are on the same Wi-Fi and server.mjs is running.';
const SEND_TIMEOUT_MESSAGE = 'Wi-Fi send timed out. Verify the computer receiver is running.';
const SHARE_UNSUPPORTED_MESSAGE = 'System Share Sheet is not supported in this browser.';
const BT_UNSUPPORTED_MESSAGE =
  'Web Bluetooth is not supported in this browser (use Chrome/Edge on Android, Windows, macOS, or Linux — or use Wi-Fi / System Share on iOS).';
const BT_NOT_CONNECTED_MESSAGE = 'No Bluetooth device connected. Pair a device first.';
const UNNAMED_DEVICE = 'Bluetooth Device';

function readStorage(key) {
  try {
    return globalThis.localStorage?.getItem(key) ?? null;
  } catch {
    return null;
  }
}

export function getSavedWifiUrl() {
  const saved = readStorage(WIFI_URL_KEY);
  if (saved) return saved;
  const here = globalThis.location;
  if (here && (here.protocol === 'http:' || here.protocol === 'https:')) return `${here.origin}/api/scan`;
  return FALLBACK_ENDPOINT;
}

export function saveWifiUrl(url) {
  try {
    globalThis.localStorage?.setItem(WIFI_URL_KEY, String(url ?? '').trim());
  } catch {
    // Private browsing or a full store: the address is simply not remembered.
  }
}

export function normalizeWifiEndpoint(rawUrl) {
  const text = String(rawUrl ?? '').trim();
  if (!text) throw new Error(EMPTY_URL_MESSAGE);
  const url = new URL(/^https?:\/\//i.test(text) ? text : `http://${text}`);
  if (url.pathname === '/' || url.pathname === '') url.pathname = '/api/scan';
  return url.href;
}

function pingAddress(endpoint) {
  const url = new URL(endpoint);
  url.pathname = url.pathname.replace(/\/api\/scan\/?$/, '/api/ping');
  return url;
}

// A reply that is not a JSON object still means the receiver answered.
async function readReply(response) {
  const text = await response.text();
  try {
    const reply = JSON.parse(text);
    if (reply && typeof reply === 'object') return reply;
  } catch {
    // Fall through.
  }
  return { ok: true };
}

// Runs fetch and reading the reply under one abort timer, cleared in every case.
async function withTimeout(timeoutMs, work) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), timeoutMs);
  try {
    return await work(controller.signal);
  } finally {
    clearTimeout(timer);
  }
}

class HttpStatusError extends Error {
  constructor(message, status) {
    super(message);
    this.status = status;
  }
}

// Marks a failure that a later attempt may cure: the receiver was not reached or did not answer.
function retryable(error) {
  if (error && typeof error === 'object') error.retryable = true;
  return error;
}

export async function testWifiConnection(rawUrl) {
  const ping = pingAddress(normalizeWifiEndpoint(rawUrl));
  return withTimeout(PING_TIMEOUT_MS, async (signal) => {
    try {
      const response = await fetch(ping.href, { method: 'GET', mode: 'cors', cache: 'no-store', signal });
      if (!response.ok) throw new HttpStatusError(`Server responded with HTTP ${response.status}`);
      return await readReply(response);
    } catch (error) {
      if (error instanceof HttpStatusError) throw error;
      if (signal.aborted) throw new Error(PING_TIMEOUT_MESSAGE);
      throw new Error(
        `Could not reach ${ping.host}. Check the IP/port and make sure both devices share the same Wi-Fi.`,
      );
    }
  });
}

function scanRecord(payload) {
  return {
    text: payload.text,
    format: payload.format,
    confidence: payload.confidence,
    confirmations: payload.confirmations,
    pressEnter: payload.pressEnter !== false,
    timestamp: payload.timestamp || new Date().toISOString(),
    // Names the scan, so that the receiver types a resend after a lost reply only once.
    ...(payload.id ? { id: String(payload.id) } : {}),
  };
}

export async function sendOverWifi(rawUrl, payload = {}) {
  const endpoint = normalizeWifiEndpoint(rawUrl);
  const body = JSON.stringify(scanRecord(payload));
  return withTimeout(SEND_TIMEOUT_MS, async (signal) => {
    try {
      const response = await fetch(endpoint, {
        method: 'POST',
        mode: 'cors',
        cache: 'no-store',
        headers: { 'Content-Type': 'application/json' },
        body,
        signal,
      });
      const reply = await readReply(response);
      if (!response.ok) {
        const message = typeof reply.error === 'string' && reply.error ? reply.error : `Receiver returned HTTP ${response.status}`;
        throw new HttpStatusError(message, response.status);
      }
      return reply;
    } catch (error) {
      if (error instanceof HttpStatusError) throw error;
      if (signal.aborted) throw retryable(new Error(SEND_TIMEOUT_MESSAGE));
      throw retryable(error);
    }
  });
}

export function isSystemShareSupported() {
  return typeof globalThis.navigator?.share === 'function';
}

export async function shareViaSystem(payload) {
  if (!isSystemShareSupported()) throw new Error(SHARE_UNSUPPORTED_MESSAGE);
  await globalThis.navigator.share({ title: `Barcode (${payload.format})`, text: payload.text });
}

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
