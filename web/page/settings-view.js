// The settings card: confidence level and symbology (radio groups with arrow keys), the summary
// line, and the remembered "press Enter" choice. `onChange()` follows a new level or symbology.
import { readStorage, writeStorage } from '../lib/storage.js';
import { elementsById } from '../lib/dom.js';

const PRESS_ENTER_KEY = 'quillmark_press_enter_v1';
const PRECISION_LABELS = { fast: 'Fast (3f)', balanced: 'Balanced (5f)', laser: 'Laser (8f)' };
const MODE_LABELS = { all: 'All 1D/2D', linear: '1D Laser', matrix: '2D Codes' };

function wireRadioGroup(group, attribute, onChoose) {
  const options = () => [...group.querySelectorAll('[role="radio"]')];
  const choose = (option) => {
    for (const other of options()) {
      const checked = other === option;
      other.setAttribute('aria-checked', String(checked));
      other.tabIndex = checked ? 0 : -1;
    }
    onChoose(option.getAttribute(attribute));
  };
  const checked = options().find((option) => option.getAttribute('aria-checked') === 'true');
  if (checked) choose(checked);
  group.addEventListener('click', (event) => {
    const option = event.target.closest('[role="radio"]');
    if (option && group.contains(option)) choose(option);
  });
  // Arrow keys move the choice, as in a native radio group.
  group.addEventListener('keydown', (event) => {
    const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[event.key];
    const all = options();
    const index = all.indexOf(event.target.closest('[role="radio"]'));
    if (!step || index < 0) return;
    event.preventDefault();
    const next = all[(index + step + all.length) % all.length];
    next.focus();
    choose(next);
  });
}

export function createSettingsView(state, { onChange }) {
  const ui = elementsById({
    summary: 'settings-summary-text',
    precisionGroup: 'precision-group',
    modeGroup: 'mode-group',
    pressEnter: 'opt-press-enter',
  });
  const { session } = state;

  function paintSummary() {
    ui.summary.textContent = `${PRECISION_LABELS[session.precision] ?? session.precision} · ${MODE_LABELS[session.scanMode] ?? session.scanMode}`;
  }

  const stored = readStorage(PRESS_ENTER_KEY);
  if (stored === 'true' || stored === 'false') ui.pressEnter.checked = stored === 'true';
  state.pressEnter = ui.pressEnter.checked;
  ui.pressEnter.addEventListener('change', () => {
    state.pressEnter = ui.pressEnter.checked;
    writeStorage(PRESS_ENTER_KEY, String(ui.pressEnter.checked));
  });
  wireRadioGroup(ui.precisionGroup, 'data-precision', (id) => {
    session.choosePrecision(id);
    paintSummary();
    onChange();
  });
  wireRadioGroup(ui.modeGroup, 'data-mode', (id) => {
    session.chooseMode(id);
    paintSummary();
    onChange();
  });
  paintSummary();
}
