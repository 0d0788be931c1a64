// Starts the real receiver on a free loopback port and ends it by its PID.
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { request as httpsRequest, createServer as createHttpsServer } from 'node:https';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const repo = fileURLToPath(new URL('../../../', import.meta.url));

// A home and settings folder of this test process's own, so that a receiver under test never
// reads or writes the settings of whoever runs the tests; removed when the process ends.
let userFolders;
function temporaryUserFolders() {
  if (!userFolders) {
    const home = mkdtempSync(join(tmpdir(), 'quillmark-home-'));
    process.once('exit', () => rmSync(home, { recursive: true, force: true }));
    userFolders = { HOME: home, XDG_CONFIG_HOME: join(home, '.config') };
  }
  return userFolders;
}

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

// Waits until `count` of `lines` (the child's stdout so far and to come) match `pattern`.
export function waitForLine(child, lines, pattern, timeoutMs, count = 1) {
  const name = child.spawnfile.split('/').pop();
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => done(new Error(`${name} printed no ${count} lines matching ${pattern} in ${timeoutMs} ms:\n${lines.join('\n')}`)), timeoutMs);
    const check = () => {
      if (lines.filter((line) => pattern.test(line)).length >= count) done();
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

// The pairing URL exactly as the receiver printed it (with its pairing key, if any), with the
// advertised address replaced by 127.0.0.1 in the host and in the "pc" parameter alike: tests
// never reach a LAN address.
export function loopbackPairingUrl(printed) {
  const match = printed.match(/^https:\/\/([\d.]+):(\d+)\/\?pc=https%3A%2F%2F([\d.]+)%3A(\d+)%2Fapi%2Fscan(%3Fkey%3D[\w-]+)?$/);
  if (!match || match[1] !== match[3] || match[2] !== match[4]) throw new Error(`not a pairing URL: ${printed}`);
  return printed.replaceAll(match[1], '127.0.0.1');
}

// Returns { origin, port, lines, waitForLine(pattern), waitForLines(pattern, count), pairingUrl(),
// stop() }. Lines are the receiver's stdout. `env` is added to the environment (HOSTNAME names
// the computer in pings); DISPLAY is empty unless `env` names one, so no scan is typed into the
// tester's desktop. `port` starts it on that port (a receiver restarted in place) instead of a
// free one; `options` are further command-line options.
export async function startReceiver({ env = {}, port: fixedPort, options = [] } = {}) {
  const path = receiverPath();
  for (let attempt = 1; ; attempt += 1) {
    const port = fixedPort ?? await freePort();
    const { child, lines, stop } = spawnWithLines(path, ['--headless', '-p', String(port), ...options], { DISPLAY: '', ...temporaryUserFolders(), ...env });
    const receiver = {
      origin: `https://127.0.0.1:${port}`,
      port,
      lines,
      waitForLine: (pattern, timeoutMs = 10000) => waitForLine(child, lines, pattern, timeoutMs),
      waitForLines: (pattern, count, timeoutMs = 10000) => waitForLine(child, lines, pattern, timeoutMs, count),
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

// A loopback HTTPS proxy in front of the receiver, with a certificate of its own made here. It
// passes every request on; the first `cutScans` scans reach the receiver, whose answer is read
// whole, and then the phone's connection is cut, so that the reply never arrives.
// Returns { origin, port, cut() (scans cut so far), close() }.
export async function startCuttingProxy(receiver, { cutScans = 1 } = {}) {
  const dir = mkdtempSync(join(tmpdir(), 'quillmark-proxy-'));
  const [key, cert] = [join(dir, 'key.pem'), join(dir, 'cert.pem')];
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-keyout', key, '-out', cert, '-days', '1', '-subj', '/CN=127.0.0.1'], { stdio: 'pipe' });
  let cut = 0;
  const server = createHttpsServer({ key: readFileSync(key), cert: readFileSync(cert) }, (request, response) => {
    const body = [];
    request.on('data', (chunk) => body.push(chunk));
    request.on('end', () => {
      const upstream = httpsRequest({
        host: '127.0.0.1',
        port: receiver.port,
        method: request.method,
        path: request.url,
        headers: { ...request.headers, host: `127.0.0.1:${receiver.port}` },
        rejectUnauthorized: false,
      }, (answer) => {
        const reply = [];
        answer.on('data', (chunk) => reply.push(chunk));
        answer.on('end', () => {
          if (request.method === 'POST' && request.url === '/api/scan' && cut < cutScans) {
            cut += 1;
            request.socket.destroy();
            return;
          }
          // One request per connection, as with the receiver itself: the browser never reuses a
          // connection, so it never resends a request on its own.
          response.writeHead(answer.statusCode, { ...answer.headers, connection: 'close' });
          response.end(Buffer.concat(reply));
        });
      });
      upstream.on('error', () => request.socket.destroy());
      upstream.end(Buffer.concat(body));
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    origin: `https://127.0.0.1:${port}`,
    port,
    cut: () => cut,
    close: () => new Promise((resolve) => {
      server.closeAllConnections?.();
      server.close(() => {
        rmSync(dir, { recursive: true, force: true });
        resolve();
      });
    }),
  };
}
