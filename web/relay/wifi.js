// Wi-Fi to the computer: pings the receiver, posts a scan record to it, and remembers its
// address. No page elements here.
import { readStorage, writeStorage } from '../lib/storage.js';

const WIFI_URL_KEY = 'quillmark_wifi_url_v1';
const FALLBACK_ENDPOINT = 'http://192.168.1.100:8080/api/scan';
const PING_TIMEOUT_MS = 4000;
const SEND_TIMEOUT_MS = 5000;

const EMPTY_URL_MESSAGE = 'Enter the target computer URL (e.g. https://192.168.1.25:8080).';
const PING_TIMEOUT_MESSAGE =
  'Connection timed out. Make sure both devices are on the same Wi-Fi and the Quillmark receiver is running on the computer.';
const SEND_TIMEOUT_MESSAGE = 'Wi-Fi send timed out. Verify the computer receiver is running.';

export function getSavedWifiUrl() {
  const saved = readStorage(WIFI_URL_KEY);
  if (saved) return saved;
  const here = globalThis.location;
  if (here && (here.protocol === 'http:' || here.protocol === 'https:')) return `${here.origin}/api/scan`;
  return FALLBACK_ENDPOINT;
}

export function saveWifiUrl(url) {
  writeStorage(WIFI_URL_KEY, String(url ?? '').trim());
}

// An HTTPS page may not call plain http (browsers block it as mixed content), so an address
// typed without a scheme takes the page's own when that is https.
function defaultScheme() {
  return globalThis.location?.protocol === 'https:' ? 'https://' : 'http://';
}

export function normalizeWifiEndpoint(rawUrl) {
  const text = String(rawUrl ?? '').trim();
  if (!text) throw new Error(EMPTY_URL_MESSAGE);
  const url = new URL(/^https?:\/\//i.test(text) ? text : `${defaultScheme()}${text}`);
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
