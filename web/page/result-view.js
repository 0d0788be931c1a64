// The result overlay: the accepted entry, how it was verified and how it was delivered. Showing
// an entry makes it the page's latest entry.
import { elementsById } from '../lib/dom.js';

export function createResultView(state) {
  const ui = elementsById({
    overlay: 'approved-overlay',
    format: 'result-format',
    confidence: 'result-confidence',
    code: 'result-code',
    meta: 'approved-meta',
    viewfinder: 'viewfinder',
  });

  function render(entry, sentVia = [], waiting = false) {
    state.showEntry(entry);
    ui.format.textContent = entry.format;
    ui.confidence.textContent = `${entry.confidence}% Verified`;
    ui.code.textContent = entry.text;
    const meta = [
      `${entry.confirmations}/${entry.requiredConfirmations} frames`,
      `${Math.round(entry.agreementRatio * 100)}% match`,
    ];
    if (entry.elapsedMs) meta.push(`${entry.elapsedMs} ms`);
    if (entry.checksumVerified) meta.push('Checksum OK');
    if (sentVia.length) meta.push(`Sent via ${sentVia.join('+')}`);
    if (waiting) meta.push('Waiting to send');
    ui.meta.textContent = meta.join(' · ');
    const wasHidden = ui.overlay.hidden;
    ui.overlay.hidden = false;
    if (wasHidden) ui.overlay.focus({ preventScroll: true });
  }

  function hide() {
    const hadFocus = ui.overlay.contains(document.activeElement);
    ui.overlay.hidden = true;
    if (hadFocus) ui.viewfinder.focus({ preventScroll: true });
  }

  const shown = () => !ui.overlay.hidden;

  // A tap or a key on the overlay, outside its buttons, dismisses it.
  function onDismiss(dismiss) {
    ui.overlay.addEventListener('click', (event) => {
      if (!event.target.closest('button')) dismiss();
    });
    ui.overlay.addEventListener('keydown', (event) => {
      if (!(isActivationKey(event.key) || event.key === 'Escape') || event.target.closest('button')) return;
      event.preventDefault();
      dismiss();
    });
  }

  return { render, hide, shown, onDismiss };
}

export const isActivationKey = (key) => key === 'Enter' || key === ' ';
