// The MCP Inspector's command line (protocol era "modern", that is version
// 2026-07-28) lists and calls the tools of the built sorvane-mcp. Runs on the
// Node.js installed beside it (package.json here), which the Inspector needs.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import path from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

import { BUILD, EXE, HOST, WRAPPER, cleanUp, demoPeer, hostPath } from '../support.mjs';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const INSPECTOR = path.join(HERE, 'node_modules/@modelcontextprotocol/inspector/clients/launcher/build/index.js');

after(cleanUp);

// The Inspector's one JSON answer to `method`, against a fresh sorvane-mcp
// (its own arguments after a '--' in `more`).
async function inspect(peer, method, ...more) {
  const split = more.includes('--') ? more.indexOf('--') : more.length;
  const [inspector, server] = [more.slice(0, split), more.slice(split + 1)];
  const { stdout } = await promisify(execFile)(process.execPath, [
    INSPECTOR, '--cli', '--protocol-era', 'modern', '--format', 'json', '--quiet',
    '-e', `SORVANE_DATA_DIR=${hostPath(peer.dataDir)}`, '-e', 'WINEDEBUG=-all',
    '--method', method, ...inspector, '--', ...WRAPPER, path.join(BUILD, 'sorvane-mcp' + EXE), ...server,
  ], { env: { ...process.env, MCP_CATALOG_PATH: path.join(peer.dataDir, 'mcp.json') } });
  return JSON.parse(stdout).result;
}

test('the Inspector in the modern era lists and calls the tools', async () => {
  const peer = await demoPeer();
  const listed = await inspect(peer, 'tools/list');
  assert.deepEqual(listed.tools.map((tool) => tool.name), ['list_hosts', 'exec', 'upload', 'download']);
  const hosts = await inspect(peer, 'tools/call', '--tool-name', 'list_hosts');
  assert.equal(hosts.isError, false);
  assert.ok(hosts.structuredContent.hosts.some((host) => host.id === HOST));
  const exec = await inspect(peer, 'tools/call', '--tool-name', 'exec', '--tool-args-json',
    JSON.stringify({ host: HOST, command: 'echo inspected' }));
  assert.match(exec.structuredContent.stdout, /^inspected\r?\n$/);
});

test('under --confirm the Inspector, which cannot ask its user, is told so and nothing runs', async () => {
  const peer = await demoPeer();
  await assert.rejects(inspect(peer, 'tools/call', '--tool-name', 'exec', '--tool-args-json',
    JSON.stringify({ host: HOST, command: 'echo never' }), '--', '--confirm', 'exec'),
  /Missing required client capability: elicitation/);
});
