// An X display of the test's own (Xvfb, which picks a free number and reports it) and the x11
// suite's text sink: a focused window that appends what it is typed to a file. Both are ended
// by their PIDs.
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { spawnWithLines, waitForLine } from './receiver.js';

const repo = fileURLToPath(new URL('../../../', import.meta.url));

function sinkPath() {
  const candidates = [process.env.QUILLMARK_X11_SINK, `${repo}build/linux/tests/quillmark_x11_text_sink`];
  const found = candidates.find((path) => path && existsSync(path));
  if (!found) throw new Error('quillmark_x11_text_sink not found: build it or set QUILLMARK_X11_SINK');
  return found;
}

// Returns { name, typed(), waitForTyped(text), stop() }: the display ":N" with a focused sink
// window on it; waitForTyped resolves once the sink has recorded exactly `text`.
export async function startDisplayWithSink() {
  const dir = mkdtempSync(join(tmpdir(), 'quillmark-x11-'));
  const file = join(dir, 'typed.txt');
  const server = spawnWithLines('Xvfb', ['-displayfd', '1', '-screen', '0', '640x480x24', '-nolisten', 'tcp']);
  let sink;
  const stop = async () => {
    await sink?.stop();
    await server.stop();
    rmSync(dir, { recursive: true, force: true });
  };
  try {
    await waitForLine(server.child, server.lines, /^\d+$/, 30000);
    const name = `:${server.lines[0]}`;
    sink = spawnWithLines(sinkPath(), [file], { DISPLAY: name });
    await waitForLine(sink.child, sink.lines, /^ready$/, 30000);
    const typed = () => (existsSync(file) ? readFileSync(file, 'utf8') : '');
    const waitForTyped = async (text, timeoutMs = 10000) => {
      const deadline = Date.now() + timeoutMs;
      while (typed() !== text) {
        if (Date.now() > deadline) throw new Error(`typed ${JSON.stringify(typed())}, not ${JSON.stringify(text)}`);
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    };
    return { name, typed, waitForTyped, stop };
  } catch (error) {
    await stop();
    throw error;
  }
}
