// What the suites of sorvane-mcp share, whichever SDK client drives it: where
// the binaries are, the stand-in desktop application (sorvane-peer), and the
// cleanup of what a suite started. Binaries come from $SORVANE_BUILD_DIR
// (default <repo>/build); with $SORVANE_WRAPPER set (Windows builds under
// Wine) the cases that need no POSIX shell run, through the wrapper.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const BUILD = path.resolve(process.env.SORVANE_BUILD_DIR ?? path.join(REPO, 'build'));
export const WRAPPER = (process.env.SORVANE_WRAPPER ?? '').split(' ').filter(Boolean);
export const WINDOWS = WRAPPER.length > 0;
export const EXE = WINDOWS ? '.exe' : '';
const HOSTS = path.join(REPO, 'tools/peer/examples/hosts.json');
export const HOST = 'a1b2c3d4e5f60718';
export const posixOnly = { skip: WINDOWS && 'POSIX build only' };
// A Wine process can take long to start on a loaded machine.
export const REQUEST_TIMEOUT = WINDOWS ? 180000 : 60000;

const temporaries = [];
export function tempDir() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'sorvane-mcp-'));
  temporaries.push(dir);
  return dir;
}
// A path as the program under test sees it (Wine maps / to Z:).
export const hostPath = (p) => (WINDOWS ? 'Z:' + p.replaceAll('/', '\\') : p);

// Child processes to kill when the suite ends.
export const peers = [];
// At the end of a suite, after its clients have closed.
export function cleanUp() {
  for (const peer of peers) peer.kill();
  for (const dir of temporaries) fs.rmSync(dir, { recursive: true, force: true });
}

// Starts sorvane-peer with `args` in a data directory of its own; resolves
// once it listens.
export function startPeer(args) {
  const dataDir = tempDir();
  const requestOut = path.join(dataDir, 'request.bin');
  const command = [...WRAPPER, path.join(BUILD, 'sorvane-peer' + EXE), ...args,
    '--data-dir', hostPath(dataDir), '--request-out', hostPath(requestOut)];
  const child = spawn(command[0], command.slice(1), {
    stdio: ['ignore', 'pipe', 'inherit'], env: { ...process.env, WINEDEBUG: '-all' },
  });
  peers.push(child);
  return new Promise((resolve, reject) => {
    let seen = '';
    child.stdout.on('data', (chunk) => {
      seen += chunk;
      if (seen.includes('\n')) {
        if (!seen.startsWith('listening on ')) reject(new Error(`peer did not start: ${seen}`));
        resolve({ dataDir, requestOut, request: () => fs.existsSync(requestOut) ? fs.readFileSync(requestOut, 'utf8') : null });
      }
    });
    child.on('exit', (code) => reject(new Error(`peer exited with ${code}`)));
  });
}
export const demoPeer = (...more) => startPeer(['demo', '--hosts', hostPath(HOSTS), ...more]);
export function scriptPeer(script) {
  const file = path.join(tempDir(), 'script.txt');
  fs.writeFileSync(file, script);
  return startPeer(['script', hostPath(file)]);
}
