// The history card: count, list with copy buttons and delivery state, CSV export and clear.
// Paints the page state's history whenever it says the history changed.
import { historyCsv, localTime } from './history.js';
import { elementsById } from '../lib/dom.js';

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

export function createHistoryView(state) {
  const ui = elementsById({
    count: 'history-count',
    exportCsv: 'btn-export-csv',
    clear: 'btn-clear-history',
    empty: 'history-empty',
    list: 'history-list',
    copyApproved: 'btn-copy-approved',
  });

  // Copy button and tip for one history item; the icons are those of the overlay's copy button.
  function copyButton(item) {
    const wrap = element('span', 'copy');
    const button = element('button', 'copy-button');
    button.type = 'button';
    button.setAttribute('command', '--copy');
    button.setAttribute('commandfor', item.id);
    button.setAttribute('aria-label', `Copy ${item.format} barcode ${item.text}`);
    for (const icon of ui.copyApproved.querySelectorAll('svg')) button.append(icon.cloneNode(true));
    button.append('Copy');
    const tip = element('span', 'tip');
    tip.setAttribute('role', 'status');
    wrap.append(button, tip);
    return wrap;
  }

  function historyItem(item) {
    const row = element('li', 'history-item');
    const main = element('div', 'history-main');
    const code = element('code', 'history-code', item.text);
    code.id = item.id;
    const delivery = [];
    if (Array.isArray(item.sentVia) && item.sentVia.length) delivery.push(`Sent via ${item.sentVia.join('+')}`);
    if (state.isWaiting(item.id)) delivery.push('Waiting to send');
    const meta = element('div', 'history-meta',
      [`${item.format} · ${item.confidence}% (${item.confirmations} reads) · ${localTime(item.timestamp)}`, ...delivery].join(' · '));
    main.append(code, meta);
    row.append(main, copyButton(item));
    return row;
  }

  function render() {
    const { items } = state.history;
    const any = items.length > 0;
    ui.count.textContent = String(items.length);
    ui.empty.hidden = any;
    ui.exportCsv.hidden = !any;
    ui.clear.hidden = !any;
    ui.list.replaceChildren(...items.map(historyItem));
  }

  function exportCsv() {
    const { items } = state.history;
    if (!items.length) return;
    const blob = new Blob([historyCsv(items)], { type: 'text/csv;charset=utf-8' });
    const url = URL.createObjectURL(blob);
    const link = document.createElement('a');
    link.href = url;
    link.download = `barcodes-${new Date().toISOString().slice(0, 10)}.csv`;
    document.body.append(link);
    link.click();
    link.remove();
    URL.revokeObjectURL(url);
  }

  ui.exportCsv.addEventListener('click', exportCsv);
  ui.clear.addEventListener('click', () => state.history.clear());
  state.addEventListener('history', render);
  return { render };
}
