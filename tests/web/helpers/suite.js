// Shared set-up of a browser test file: one receiver, one browser (with the given camera clip),
// fresh pages per test, and a check that no page threw.
import { before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { startReceiver } from './receiver.js';
import { launchBrowser, openScanner, artifactsDir } from './browser.js';
import { ClipMaker } from './clips.js';

export const LOCK_TIMEOUT_MS = 30000;

export function useBrowserSuite({ clip: clipKind = null, colorScheme = 'light', receiverEnv = {} } = {}) {
  const suite = { pages: [], pageErrors: [] };
  before(async () => {
    suite.clips = new ClipMaker();
    suite.receiver = await startReceiver({ env: receiverEnv });
    suite.browser = await launchBrowser({ clip: clipKind ? suite.clips.clip(clipKind) : undefined, colorScheme });
    suite.context = suite.browser.context;
    await suite.context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: suite.receiver.origin });
    suite.context.on('weberror', (error) => suite.pageErrors.push(error.error().message));
    suite.origin = suite.receiver.origin;
  });
  afterEach(async () => {
    const pages = suite.pages.splice(0);
    await Promise.all(pages.map((page) => page.close()));
    const errors = suite.pageErrors.splice(0);
    assert.deepEqual(errors, [], 'the pages threw no uncaught errors');
  });
  after(async () => {
    await suite.browser?.close();
    await suite.receiver?.stop();
    suite.clips?.remove();
  });
  suite.open = async (options) => {
    const page = await openScanner(suite.context, suite.origin, options);
    suite.pages.push(page);
    return page;
  };
  suite.newPage = async () => {
    const page = await suite.context.newPage();
    suite.pages.push(page);
    return page;
  };
  // Another camera: a browser whose fake camera plays the given clip, closed after `use` ends.
  suite.withCamera = async (kind, use) => {
    const browser = await launchBrowser({ clip: suite.clips.clip(kind), colorScheme });
    browser.context.on('weberror', (error) => suite.pageErrors.push(error.error().message));
    try {
      return await use(browser.context);
    } finally {
      await browser.close();
    }
  };
  suite.screenshot = (page, name) => page.screenshot({ path: join(artifactsDir(), name), animations: 'disabled' });
  return suite;
}

export const waitForEngine = (page) =>
  page.waitForFunction(() => document.getElementById('engine-badge').textContent !== 'Loading…');

export const waitForLock = (page) => page.waitForSelector('#approved-overlay:not([hidden])', { timeout: LOCK_TIMEOUT_MS });

export const waitForText = (page, selector, expected, timeout = 10000) =>
  page.waitForFunction(
    ([sel, want]) => document.querySelector(sel)?.textContent === want,
    [selector, expected],
    { timeout },
  ).catch(async (error) => {
    const actual = await page.evaluate((sel) => document.querySelector(sel)?.textContent, selector);
    throw new Error(`${selector} never read ${JSON.stringify(expected)}; it reads ${JSON.stringify(actual)} (${error.message})`);
  });

export const textOf = (page, selector) => page.evaluate((sel) => document.querySelector(sel)?.textContent ?? null, selector);
