// What the page tells the user besides the result: the error banner, screen-reader
// announcements, the decoder badge, and the beep, buzz and flash of a lock.
import { elementsById } from '../lib/dom.js';

export function createFeedback() {
  const ui = elementsById({
    errorBanner: 'error-banner',
    announcer: 'sr-announcer',
    engineBadge: 'engine-badge',
    optSound: 'opt-sound',
    lockFlash: 'lock-flash',
  });
  let audioCtx = null;

  function showError(message) {
    ui.errorBanner.textContent = message;
    ui.errorBanner.hidden = false;
  }

  function clearError() {
    ui.errorBanner.hidden = true;
    ui.errorBanner.textContent = '';
  }

  const errorText = () => (ui.errorBanner.hidden ? '' : ui.errorBanner.textContent);

  function announce(message) {
    ui.announcer.textContent = '';
    requestAnimationFrame(() => {
      ui.announcer.textContent = message;
    });
  }

  // The badge names the decoders; its tooltip adds where the WebAssembly reader came from.
  function showEngineBadge(label, ready, zxingSource = null) {
    ui.engineBadge.textContent = label;
    ui.engineBadge.title = zxingSource ? `${label} (decoder from ${zxingSource})` : label;
    ui.engineBadge.className = ready ? 'pill pill-success' : 'pill pill-danger';
  }

  function resumeAudio() {
    try {
      const Context = window.AudioContext || window.webkitAudioContext;
      if (!audioCtx && Context) audioCtx = new Context();
      audioCtx?.resume?.().catch(() => {});
    } catch {
      audioCtx = null;
    }
  }

  function playLockBeep() {
    if (!ui.optSound.checked) return;
    try {
      navigator.vibrate?.([45, 30, 55]);
    } catch {
      // Vibration is a nicety.
    }
    try {
      resumeAudio();
      if (!audioCtx) return;
      const t = audioCtx.currentTime;
      const oscillator = audioCtx.createOscillator();
      const gain = audioCtx.createGain();
      oscillator.type = 'sine';
      oscillator.frequency.setValueAtTime(1760, t);
      oscillator.frequency.setValueAtTime(2349.32, t + 0.065);
      gain.gain.setValueAtTime(0.0001, t);
      gain.gain.exponentialRampToValueAtTime(0.18, t + 0.012);
      gain.gain.exponentialRampToValueAtTime(0.0001, t + 0.16);
      oscillator.connect(gain).connect(audioCtx.destination);
      oscillator.start(t);
      oscillator.stop(t + 0.17);
    } catch {
      // An autoplay block or a missing audio device must not disturb the scan.
    }
  }

  function flashLock() {
    ui.lockFlash.classList.remove('active');
    void ui.lockFlash.offsetWidth;
    ui.lockFlash.classList.add('active');
  }

  return { showError, clearError, errorText, announce, showEngineBadge, resumeAudio, playLockBeep, flashLock };
}
