// Copy buttons: a button with command="--copy" copies the text of the element its commandfor
// names, and says so in the tip beside it.

const TIP_RESET_MS = 2000;
const NO_BREAK_SPACE = '\u00a0';

function copySourceText(target) {
  if (target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement) return target.value;
  return (target.innerText ?? target.textContent ?? '').trim();
}

function copyWithSelection(text) {
  const previousFocus = document.activeElement;
  const area = document.createElement('textarea');
  area.value = text;
  area.readOnly = true;
  area.setAttribute('aria-hidden', 'true');
  area.style.cssText = 'position:fixed;top:0;left:0;opacity:0;pointer-events:none;';
  document.body.append(area);
  area.select();
  let copied = false;
  try {
    copied = document.execCommand('copy');
  } catch {
    copied = false;
  }
  area.remove();
  previousFocus?.focus?.({ preventScroll: true });
  return copied;
}

async function copyText(text) {
  try {
    await navigator.clipboard.writeText(text);
    return true;
  } catch {
    return copyWithSelection(text);
  }
}

export function wireCopyButtons() {
  const tipTimers = new WeakMap();
  let lastCopyMessage = '';

  function reportCopy(button, copied) {
    const tip = button.nextElementSibling;
    clearTimeout(tipTimers.get(button));
    button.removeAttribute('data-copied');
    button.removeAttribute('data-failed');
    let message = copied ? 'Copied' : 'Copy failed';
    // The same words twice would not be announced again; a no-break space makes them new.
    if (message === lastCopyMessage) message += NO_BREAK_SPACE;
    lastCopyMessage = message;
    if (tip) tip.textContent = '';
    void button.offsetWidth;
    button.setAttribute(copied ? 'data-copied' : 'data-failed', '');
    requestAnimationFrame(() => {
      if (tip) tip.textContent = message;
    });
    tipTimers.set(button, setTimeout(() => {
      button.removeAttribute('data-copied');
      button.removeAttribute('data-failed');
      if (tip) tip.textContent = '';
    }, TIP_RESET_MS));
  }

  async function copyFromButton(button, target) {
    const text = copySourceText(target);
    if (!text) return;
    reportCopy(button, await copyText(text));
  }

  if (typeof window.CommandEvent === 'function') {
    document.addEventListener('command', (event) => {
      if (event.command === '--copy' && event.source && event.target) copyFromButton(event.source, event.target);
    }, true);
    return;
  }
  document.addEventListener('click', (event) => {
    if (event.defaultPrevented) return;
    const button = event.target.closest?.('button[command="--copy"][commandfor]');
    const target = button && document.getElementById(button.getAttribute('commandfor'));
    if (!target) return;
    event.preventDefault();
    copyFromButton(button, target);
  });
}
