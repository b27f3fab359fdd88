// A loop of tool calls through the official SDK client, to catch calls whose
// result never comes. Each round starts a fresh sorvane-mcp and makes PAIRS
// pairs of calls: one that the server refuses at once (no `command`), then one
// that holds a conversation with the stand-in peer. A call without a result
// after HANG_SECONDS counts as a hang; a server that dies ends its round as
// lost. Run through scripts/stress-mcp.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const [build, rounds = '50', pairs = '20'] = process.argv.slice(2);
const WRAPPER = (process.env.SORVANE_WRAPPER ?? '').split(' ').filter(Boolean);
const EXE = WRAPPER.length ? '.exe' : '';
const HANG_MS = Number(process.env.HANG_SECONDS ?? 20) * 1000;
const REPO = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const hostPath = (p) => (WRAPPER.length ? 'Z:' + p.replaceAll('/', '\\') : p);
const env = { ...process.env, WINEDEBUG: '-all' };

const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'sorvane-stress-'));
const peer = spawn(WRAPPER[0] ?? path.join(build, 'sorvane-peer' + EXE), [
  ...WRAPPER.slice(1), ...(WRAPPER.length ? [path.join(build, 'sorvane-peer' + EXE)] : []),
  'demo', '--parallel', '--hosts', hostPath(path.join(REPO, 'tools/peer/examples/hosts.json')),
  '--data-dir', hostPath(dataDir)], { stdio: ['ignore', 'pipe', 'inherit'], env });
await new Promise((resolve) => peer.stdout.once('data', resolve));

// Resolves to whether the call answered in time.
async function answered(client, name, args) {
  try {
    await client.callTool({ name, arguments: args }, undefined, { timeout: HANG_MS });
    return true;
  } catch (error) {
    if (String(error).includes('timed out')) return false;
    throw error;
  }
}

let hangs = 0;
let lost = 0;
for (let round = 1; round <= Number(rounds); ++round) {
  const command = [...WRAPPER, path.join(build, 'sorvane-mcp' + EXE)];
  const transport = new StdioClientTransport({
    command: command[0], args: command.slice(1), stderr: 'inherit',
    env: { ...env, SORVANE_DATA_DIR: hostPath(dataDir) },
  });
  const client = new Client({ name: 'sorvane-stress', version: '1.0.0' });
  let roundHangs = 0;
  let note = '';
  try {
    await client.connect(transport, { timeout: 10 * HANG_MS });
    for (let i = 0; i < Number(pairs); ++i) {
      if (!await answered(client, 'exec', { host: 'a1b2c3d4e5f60718' })) ++roundHangs;
      if (!await answered(client, 'list_hosts', {})) ++roundHangs;
    }
  } catch (error) {
    ++lost;  // the server died, or never started
    note = `, server lost: ${String(error).split('\n')[0]}`;
  }
  await client.close();
  hangs += roundHangs;
  console.log(`round ${round}/${rounds}: ${roundHangs} hang(s)${note}`);
}
console.log(`stress-mcp: ${hangs} hang(s) and ${lost} lost server(s) in ${rounds} rounds of ` +
  `${pairs} pairs of calls`);
peer.kill();
fs.rmSync(dataDir, { recursive: true, force: true });
process.exit(hangs || lost ? 1 : 0);
