// The scanner page's entry module: builds the page state and each part, and wires them together.
// The parts look up their own elements; they meet only through the state and what is passed here.
import { linkManifest, registerOfflineApp } from './lib/offline.js';
import { wireCopyButtons } from './page/copy.js';
import { createFeedback } from './page/feedback.js';
import { createHistoryView } from './page/history-view.js';
import { createResultView } from './page/result-view.js';
import { createScanView } from './page/scan-view.js';
import { createSettingsView } from './page/settings-view.js';
import { PageState } from './page/state.js';
import { startRelay } from './relay/relay.js';

export function startPage() {
  const state = new PageState();
  const feedback = createFeedback();
  const result = createResultView(state);
  const relay = startRelay(state, { feedback, result });
  const scan = createScanView(state, { feedback, result, relay });
  createSettingsView(state, { onChange: () => scan.settingsChanged() });
  createHistoryView(state).render();
  wireCopyButtons();
  scan.loadDecoders();
  linkManifest();
  registerOfflineApp();
}

// Only a page starts itself: Node's test runner may import this module without a document.
if (globalThis.document) startPage();
