// The system share sheet (AirDrop, Quick Share, …) for one scan. No page elements here.

const SHARE_UNSUPPORTED_MESSAGE = 'System Share Sheet is not supported in this browser.';

export function isSystemShareSupported() {
  return typeof globalThis.navigator?.share === 'function';
}

export async function shareViaSystem(payload) {
  if (!isSystemShareSupported()) throw new Error(SHARE_UNSUPPORTED_MESSAGE);
  await globalThis.navigator.share({ title: `Barcode (${payload.format})`, text: payload.text });
}
