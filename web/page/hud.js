// The heads-up display over the camera: frames seen, the leading reading, and the confidence bar.
import { PRECISION_PRESETS } from '../scan/consensus.js';
import { elementsById } from '../lib/dom.js';

const HIGH_CONFIDENCE = 65;

// The HUD is painted on every camera frame: only what changed is written, so an unchanged line
// costs no style invalidation.
function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

function setHidden(node, hidden) {
  if (node.hidden !== hidden) node.hidden = hidden;
}

export function createHud(state) {
  const ui = elementsById({
    viewfinder: 'viewfinder',
    frames: 'hud-frames',
    candidate: 'hud-candidate',
    status: 'hud-status-text',
    pct: 'hud-confidence-pct',
    progressbar: 'confidence-progressbar',
    fill: 'confidence-fill',
  });

  // Paints one evaluation of the tracker.
  return function updateHud(tracker) {
    const frames = tracker.framesProcessed;
    const confidence = `${tracker.confidence}%`;
    setText(ui.frames, `${frames} frame${frames === 1 ? '' : 's'}`);
    setText(ui.pct, confidence);
    if (ui.fill.style.width !== confidence) ui.fill.style.width = confidence;
    if (ui.progressbar.getAttribute('aria-valuenow') !== String(tracker.confidence)) {
      ui.progressbar.setAttribute('aria-valuenow', String(tracker.confidence));
    }
    const high = tracker.confidence >= HIGH_CONFIDENCE;
    if (high !== (ui.viewfinder.dataset.confidence === 'high')) {
      if (high) ui.viewfinder.dataset.confidence = 'high';
      else delete ui.viewfinder.dataset.confidence;
    }
    if (tracker.leader) {
      setText(ui.candidate, `${tracker.leader.format}: ${tracker.leader.text}`);
      setHidden(ui.candidate, false);
      const required = PRECISION_PRESETS[state.session.precision].minConfirmations;
      setText(ui.status, `Verifying ${tracker.confirmations}/${required} matching reads…`);
    } else {
      setHidden(ui.candidate, true);
      setText(ui.candidate, '');
      setText(ui.status, 'Hold steady — aim barcode inside frame');
    }
  };
}
