// Starts the real receiver on a free loopback port and ends it by its PID.
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { createServer } from 'node:net';
import { fileURLToPath } from 'node:url';

const repo = fileURLToPath(new URL('../../../', import.meta.url));

export function receiverPath() {
  const candidates = [process.env.QUILLMARK_RECEIVER, `${repo}build/linux/quillmark-receiver`, `${repo}build/web/quillmark-receiver`];
  const found = candidates.find((path) => path && existsSync(path));
  if (!found) throw new Error('quillmark-receiver not found: build it or set QUILLMARK_RECEIVER');
  return found;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Waits until one of `lines` (the child's stdout so far and to come) matches `pattern`.
export function waitForLine(child, lines, pattern, timeoutMs) {
  const name = child.spawnfile.split('/').pop();
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => done(new Error(`${name} printed no line matching ${pattern} in ${timeoutMs} ms:\n${lines.join('\n')}`)), timeoutMs);
    const check = () => {
      if (lines.some((line) => pattern.test(line))) done();
    };
    const exited = (code) => done(new Error(`${name} exited with ${code}:\n${lines.join('\n')}`));
    function done(error) {
      clearTimeout(timer);
      child.stdout.off('data', check);
      child.off('exit', exited);
      if (error) reject(error);
      else resolve();
    }
    child.stdout.on('data', check);
    child.once('exit', exited);
    check();
  });
}

// Starts a program whose stdout lines are collected in `lines`; `stop()` ends it by its PID.
export function spawnWithLines(path, args, env) {
  const child = spawn(path, args, { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...env } });
  const lines = [];
  let partial = '';
  child.stdout.setEncoding('utf8');
  child.stdout.on('data', (chunk) => {
    const parts = (partial + chunk).split('\n');
    partial = parts.pop();
    lines.push(...parts);
  });
  child.stderr.on('data', () => {});
  const stop = () => new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve();
    child.once('exit', () => resolve());
    process.kill(child.pid, 'SIGTERM');
  });
  return { child, lines, stop };
}

// The pairing URL exactly as the receiver printed it, with the advertised address replaced by
// 127.0.0.1 in the host and in the "pc" parameter alike: tests never reach a LAN address.
export function loopbackPairingUrl(printed) {
  const match = printed.match(/^https:\/\/([\d.]+):(\d+)\/\?pc=https%3A%2F%2F([\d.]+)%3A(\d+)%2Fapi%2Fscan$/);
  if (!match || match[1] !== match[3] || match[2] !== match[4]) throw new Error(`not a pairing URL: ${printed}`);
  return printed.replaceAll(match[1], '127.0.0.1');
}

// Returns { origin, port, lines, waitForLine(pattern), pairingUrl(), stop() }. Lines are the
// receiver's stdout. `env` is added to the environment (HOSTNAME names the computer in pings);
// DISPLAY is empty unless `env` names one, so no scan is typed into the tester's desktop.
export async function startReceiver({ env = {} } = {}) {
  const path = receiverPath();
  for (let attempt = 1; ; attempt += 1) {
    const port = await freePort();
    const { child, lines, stop } = spawnWithLines(path, ['--headless', '-p', String(port)], { DISPLAY: '', ...env });
    const receiver = {
      origin: `https://127.0.0.1:${port}`,
      port,
      lines,
      waitForLine: (pattern, timeoutMs = 10000) => waitForLine(child, lines, pattern, timeoutMs),
      async pairingUrl() {
        await receiver.waitForLine(/^Pairing URL: /);
        return loopbackPairingUrl(lines.find((line) => line.startsWith('Pairing URL: ')).slice('Pairing URL: '.length));
      },
      stop,
    };
    try {
      await receiver.waitForLine(/HTTPS listening on 0\.0\.0\.0:\d+/);
      return receiver;
    } catch (error) {
      await receiver.stop();
      // Another process may have taken the port between probing and binding.
      if (attempt >= 3) throw error;
    }
  }
}
