// sorvane-mcp driven by the official MCP TypeScript SDK client 2.x: pinned to
// protocol version 2026-07-28 (no handshake, every request carrying its
// version), and in its default mode, which still begins with `initialize`.
// See support.mjs for where the binaries come from.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, describe, test } from 'node:test';

import { Client } from '@modelcontextprotocol/client';
import { StdioClientTransport } from '@modelcontextprotocol/client/stdio';

import {
  BUILD, EXE, HOST, REQUEST_TIMEOUT, WINDOWS, WRAPPER, cleanUp, demoPeer, hostPath, posixOnly, scriptPeer,
  tempDir,
} from './support.mjs';

const STATELESS = '2026-07-28';
// `mode` matters: a bare `{ pin }` is ignored and the client stays with the handshake.
const PINNED = { mode: { pin: STATELESS } };

const clients = [];
after(async () => {
  for (const client of clients) await client.close();
  cleanUp();
});

// `versionNegotiation` null: the client's default.
async function connect(peer, args = [], { cwd, versionNegotiation = PINNED, capabilities = {}, setup } = {}) {
  const command = [...WRAPPER, path.join(BUILD, 'sorvane-mcp' + EXE), ...args];
  const transport = new StdioClientTransport({
    command: command[0], args: command.slice(1), cwd, stderr: process.env.MCP_STDERR ?? 'pipe',
    env: { ...process.env, WINEDEBUG: '-all', SORVANE_DATA_DIR: hostPath(peer.dataDir) },
  });
  const client = new Client({ name: 'sorvane-tests-2', version: '2.0.0' },
    { capabilities, ...(versionNegotiation && { versionNegotiation }) });
  client.errors = [];
  client.onerror = (error) => client.errors.push(error);
  setup?.(client);
  await client.connect(transport, { timeout: REQUEST_TIMEOUT });
  clients.push(client);
  return client;
}

const call = (client, name, args, options) =>
  client.callTool({ name, arguments: args }, { timeout: REQUEST_TIMEOUT, ...options });
const errorLine = (result) => (assert.equal(result.isError, true), result.content[0].text);
const waitForRequest = async (peer) => {
  while (peer.request() === null) await new Promise((r) => setTimeout(r, 20));
};

describe('sorvane-mcp with the 2.x client', () => {
  test('pinned to 2026-07-28: discovery, the tools and their results', async () => {
    const peer = await demoPeer();
    const client = await connect(peer);
    assert.equal(client.getProtocolEra(), 'modern');
    assert.equal(client.getNegotiatedProtocolVersion(), STATELESS);
    const discovered = client.getDiscoverResult();
    assert.deepEqual(discovered.supportedVersions, [STATELESS, '2025-11-25', '2025-06-18']);
    assert.ok(discovered.capabilities.tools);
    assert.equal(client.getServerVersion().name, 'sorvane-mcp');
    assert.match(client.getInstructions(), /list_hosts/);

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name), ['list_hosts', 'exec', 'upload', 'download']);
    const listed = await call(client, 'list_hosts', {});
    assert.equal(listed.isError, false);
    assert.ok(listed.structuredContent.hosts.some((host) => host.id === HOST));
    const exec = await call(client, 'exec', { host: HOST, command: 'echo hello' });
    assert.equal(exec.structuredContent.exit_code, 0);
    assert.equal(exec.structuredContent.stdout, WINDOWS ? 'hello\r\n' : 'hello\n');
    assert.match(errorLine(await call(client, 'exec', { host: 'ffffffffffffffff', command: 'true' })),
      /^sorvane: \[host_not_found\] \S/);
    assert.deepEqual(client.errors, []);
  });

  test('pinned: upload and download inside --local-root', posixOnly, async () => {
    const peer = await demoPeer();
    const [local, back, remote] = [tempDir(), tempDir(), tempDir()];
    fs.writeFileSync(path.join(local, 'data.bin'), 'twelve bytes');
    const client = await connect(peer, ['--local-root', local, '--local-root', back]);
    const up = await call(client, 'upload', { host: HOST, local: path.join(local, 'data.bin'), remote });
    assert.deepEqual(up.structuredContent, { files: 1, bytes: 12, skipped: 0, failed: 0, failures: [] });
    // Into an existing folder, under the remote name.
    const down = await call(client, 'download', { host: HOST, remote: path.join(remote, 'data.bin'), local: back });
    assert.equal(down.isError, false);
    assert.equal(fs.readFileSync(path.join(back, 'data.bin'), 'utf8'), 'twelve bytes');
  });

  test('pinned: a cancelled exec closes its connection and gets no result', async () => {
    // The peer serves one connection after another: the next request reaches
    // it only once the cancelled call's connection is closed.
    const peer = await scriptPeer('hold\n');
    const client = await connect(peer);
    const abort = new AbortController();
    const running = call(client, 'exec', { host: HOST, command: 'sleep 30' }, { signal: abort.signal });
    running.catch(() => {});
    await waitForRequest(peer);
    abort.abort('changed my mind');
    await assert.rejects(running);
    fs.rmSync(peer.requestOut);
    call(client, 'list_hosts', { query: 'after' }).catch(() => {});
    await waitForRequest(peer);
    assert.match(peer.request(), /"query":"after"/);
    assert.deepEqual(client.errors, []);
  });

  test('pinned: a heartbeat while a long exec runs, past the 10-second beat', async () => {
    // No time limit races the beat: the client stops the call when the beat comes.
    const peer = await scriptPeer('stdout started\nhold\n');
    const client = await connect(peer);
    const abort = new AbortController();
    const beats = [];
    const running = call(client, 'exec', { host: HOST, command: 'tail -f log' },
      { signal: abort.signal, onprogress: (p) => abort.abort(beats.push(p)) });
    await assert.rejects(running);
    assert.equal(beats.length, 1);
    assert.equal(beats[0].message, '7 bytes of output so far');
  });

  test('pinned: --confirm asks the user in the result: accepted, declined, no capability', async () => {
    const peer = await demoPeer();
    const questions = [];
    const answers = [{ action: 'accept', content: { confirm: true } }, { action: 'decline' }];
    const client = await connect(peer, ['--confirm', 'exec'], {
      capabilities: { elicitation: { form: {} } },
      setup: (c) => c.setRequestHandler('elicitation/create', (request) => {
        questions.push(request.params.message);
        return answers.shift();
      }),
    });
    const ran = await call(client, 'exec', { host: HOST, command: 'echo yes' });
    assert.equal(ran.structuredContent.exit_code, 0);
    assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: 'echo no' })),
      'sorvane: [bad_request] declined by the user');
    assert.equal(questions.length, 2);
    assert.match(questions[0], /echo yes/);
    assert.match(questions[1], /echo no/);
    assert.equal((await call(client, 'list_hosts', {})).isError, false);  // not under --confirm

    const unable = await connect(peer, ['--confirm', 'exec']);
    await assert.rejects(call(unable, 'exec', { host: HOST, command: 'echo never' }),
      (error) => error.code === -32021 && 'elicitation' in error.data.requiredCapabilities);
  });

  test('pinned: an answer counts for its own call only, once, and unchanged', async () => {
    const peer = await demoPeer();
    const client = await connect(peer, ['--confirm', 'exec'], {
      capabilities: { elicitation: { form: {} } }, inputRequired: { autoFulfill: false },
    });
    const ask = (args, retry) =>
      client.callTool({ name: 'exec', arguments: args, ...retry }, { timeout: REQUEST_TIMEOUT, allowInputRequired: true });
    const args = { host: HOST, command: 'echo once' };
    const asked = await ask(args);
    assert.equal(asked.resultType, 'input_required');
    assert.equal(asked.inputRequests.confirm.method, 'elicitation/create');
    const yes = { confirm: { action: 'accept', content: { confirm: true } } };
    const state = asked.requestState;
    const tampered = state.replace(/.$/, (c) => (c === '0' ? '1' : '0'));
    assert.match(errorLine(await ask(args, { inputResponses: yes, requestState: tampered })),
      /the requestState sent back was not handed out by this sorvane-mcp process/);
    const other = await ask({ host: HOST, command: 'echo other' }, { inputResponses: yes, requestState: state });
    assert.equal(other.resultType, 'input_required');
    assert.match(other.inputRequests.confirm.params.message, /echo other/);
    const ran = await ask(args, { inputResponses: yes, requestState: state });
    assert.equal(ran.structuredContent.stdout, WINDOWS ? 'once\r\n' : 'once\n');
    assert.equal((await ask(args, { inputResponses: yes, requestState: state })).resultType, 'input_required');
  });

  test("pinned: the client's roots are asked for in the result", posixOnly, async () => {
    const peer = await demoPeer();
    const [local, remote] = [tempDir(), tempDir()];
    fs.writeFileSync(path.join(local, 'data.bin'), 'twelve bytes');
    const listed = [];
    const client = await connect(peer, [], {
      capabilities: { roots: {} },
      setup: (c) => c.setRequestHandler('roots/list', () => (listed.push(1), { roots: [{ uri: `file://${local}` }] })),
    });
    const up = await call(client, 'upload', { host: HOST, local: path.join(local, 'data.bin'), remote });
    assert.equal(up.structuredContent.bytes, 12);
    assert.match(errorLine(await call(client, 'upload', { host: HOST, local: remote, remote })),
      /outside the allowed folders/);
    assert.equal(listed.length, 2);  // asked on each call: nothing is kept between calls
  });

  test('in its default mode the 2.x client gets the 2025 handshake', async () => {
    const peer = await demoPeer();
    const client = await connect(peer, [], { versionNegotiation: null });
    assert.equal(client.getProtocolEra(), 'legacy');
    assert.equal(client.getNegotiatedProtocolVersion(), '2025-11-25');
    assert.equal((await client.listTools()).tools.length, 4);
    assert.equal((await call(client, 'list_hosts', {})).isError, false);
  });
});
