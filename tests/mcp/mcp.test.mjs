// sorvane-mcp driven by the official MCP TypeScript SDK client (1.x, the
// protocol's 2025 handshake), against the stand-in desktop application
// (sorvane-peer); see support.mjs for where the binaries come from.
// MCP_STDERR=inherit shows the servers' diagnostics.
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { ElicitRequestSchema, ListRootsRequestSchema } from '@modelcontextprotocol/sdk/types.js';
import { AjvJsonSchemaValidator } from '@modelcontextprotocol/sdk/validation/ajv';

import {
  BUILD, EXE, HOST, REQUEST_TIMEOUT, WINDOWS, WRAPPER, cleanUp, demoPeer, hostPath, peers, posixOnly,
  scriptPeer, tempDir,
} from './support.mjs';

const clients = [];
after(async () => {
  for (const client of clients) await client.close();
  cleanUp();
});

// An SDK client connected to a fresh sorvane-mcp for `peer`; `capabilities`
// and the handlers that `setup` installs are the client's own.
async function connect(peer, args = [], { cwd, capabilities = {}, setup = () => {}, descriptors } = {}) {
  let command = [...WRAPPER, path.join(BUILD, 'sorvane-mcp' + EXE), ...args];
  if (descriptors) command = ['sh', '-c', `ulimit -n ${descriptors} && exec "$@"`, 'sh', ...command];
  const transport = new StdioClientTransport({
    command: command[0], args: command.slice(1), cwd, stderr: process.env.MCP_STDERR ?? 'pipe',
    env: { ...process.env, WINEDEBUG: '-all', SORVANE_DATA_DIR: hostPath(peer.dataDir) },
  });
  const client = new Client({ name: 'sorvane-tests', version: '1.0.0' }, { capabilities });
  setup(client);
  client.errors = [];
  client.onerror = (error) => client.errors.push(error);
  await client.connect(transport, { timeout: REQUEST_TIMEOUT });
  clients.push(client);
  return client;
}

// sorvane-mcp spoken to line by line, for messages no SDK client would send.
function rawServer(peer, args = []) {
  const command = [...WRAPPER, path.join(BUILD, 'sorvane-mcp' + EXE), ...args];
  const child = spawn(command[0], command.slice(1), {
    stdio: ['pipe', 'pipe', process.env.MCP_STDERR ?? 'ignore'],
    env: { ...process.env, WINEDEBUG: '-all', SORVANE_DATA_DIR: hostPath(peer.dataDir) },
  });
  peers.push(child);
  let buffered = '';
  const waiting = [];
  const lines = [];
  child.stdout.on('data', (chunk) => {
    buffered += chunk;
    for (let end = buffered.indexOf('\n'); end >= 0; end = buffered.indexOf('\n')) {
      lines.push(JSON.parse(buffered.slice(0, end)));
      buffered = buffered.slice(end + 1);
      while (waiting.length > 0 && lines.length > 0) waiting.shift()(lines.shift());
    }
  });
  return {
    child,
    send: (line) => child.stdin.write(line + '\n'),
    next: () => lines.length > 0 ? Promise.resolve(lines.shift()) : new Promise((r) => waiting.push(r)),
  };
}

const validator = new AjvJsonSchemaValidator();
let toolsByName;
function checkOutput(name, result) {
  if (result.structuredContent === undefined) return;
  const check = validator.getValidator(toolsByName[name].outputSchema)(result.structuredContent);
  assert.ok(check.valid, check.errorMessage);
  // On several hosts the text shows the groups instead.
  if (!result.structuredContent.results) assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent);
}
async function call(client, name, args, options) {
  const result = await client.callTool({ name, arguments: args }, undefined,
    { timeout: REQUEST_TIMEOUT, ...options });
  checkOutput(name, result);
  return result;
}
const errorLine = (result) => (assert.equal(result.isError, true), result.content[0].text);
// A folder as a file:// URI as the program under test sees it.
const fileUri = (p) => (WINDOWS ? 'file:///' + encodeURI(hostPath(p).replaceAll('\\', '/')) : pathToFileURL(p).href);
const transferDone = 'json {"type":"transfer_done","files":1,"bytes":1,"skipped":0,"failed":0,"failures":[]}\n';

describe('sorvane-mcp', () => {
  test('initialize, tools/list with valid schemas, list_hosts and exec', async () => {
    const peer = await demoPeer();
    const client = await connect(peer);
    assert.equal(client.getServerVersion().name, 'sorvane-mcp');
    assert.ok(client.getServerCapabilities().tools);

    const { tools } = await client.listTools();
    toolsByName = Object.fromEntries(tools.map((tool) => [tool.name, tool]));
    assert.deepEqual(Object.keys(toolsByName), ['list_hosts', 'exec', 'upload', 'download']);
    for (const tool of tools) {
      validator.getValidator(tool.inputSchema);  // throws on a schema that does not compile
      validator.getValidator(tool.outputSchema);
      const looks = tool.name === 'list_hosts';
      assert.deepEqual([tool.annotations.readOnlyHint, tool.annotations.destructiveHint, tool.annotations.openWorldHint],
        [looks, !looks, !looks], tool.name);
    }

    const listed = await call(client, 'list_hosts', {});
    const command = [...WRAPPER, path.join(BUILD, 'sorvane' + EXE), 'list', '--json'];
    const cli = JSON.parse(execFileSync(command[0], command.slice(1), {
      env: { ...process.env, WINEDEBUG: '-all', SORVANE_DATA_DIR: hostPath(peer.dataDir) },
    }));
    assert.deepEqual(listed.structuredContent.hosts, cli);
    assert.equal(listed.isError, false);

    const exec = await call(client, 'exec', { host: HOST, command: 'echo hello' });
    assert.deepEqual(exec.structuredContent, {
      exit_code: 0, stdout: WINDOWS ? 'hello\r\n' : 'hello\n', stderr: '',
      stdout_truncated: false, stderr_truncated: false, stdout_omitted: 0, stderr_omitted: 0,
    });
    await client.close();
  });

  test('exec: exit codes pass unchanged, streams apart, invalid UTF-8 repaired, output capped', async () => {
    const peer = await scriptPeer('stdout ab\\xff\nstderr eee\nstderr eeee\njson {"type":"exit","code":300}\n');
    const client = await connect(peer, ['--max-output', '5']);
    const result = await call(client, 'exec', { host: HOST, command: 'x' });
    assert.deepEqual(result.structuredContent, {
      exit_code: 300, stdout: 'ab\uFFFD', stderr: 'eeeee', stdout_truncated: false, stderr_truncated: true,
      stdout_omitted: 0, stderr_omitted: 2,
    });
    assert.equal(result.isError, false);
    await client.close();
  });

  test('upload and download: relative local paths, transfer summaries', posixOnly, async () => {
    const peer = await demoPeer();
    const work = tempDir();
    fs.writeFileSync(path.join(work, 'a.txt'), 'payload');
    const client = await connect(peer, ['--local-root', work], { cwd: work });
    const remote = path.join(tempDir(), 'copy.txt');
    const up = await call(client, 'upload', { host: HOST, local: 'a.txt', remote });
    assert.deepEqual(up.structuredContent, { files: 1, bytes: 7, skipped: 0, failed: 0, failures: [] });
    assert.equal(fs.readFileSync(remote, 'utf8'), 'payload');
    const down = await call(client, 'download', { host: HOST, remote, local: 'back.txt' });
    assert.equal(down.structuredContent.files, 1);
    assert.equal(fs.readFileSync(path.join(work, 'back.txt'), 'utf8'), 'payload');
    await client.close();
  });

  test('failures of the tool are error results carrying the error line', async () => {
    const peer = await demoPeer();
    const client = await connect(peer);
    assert.match(errorLine(await call(client, 'exec', { host: 'ffffffffffffffff', command: 'true' })),
      /^sorvane: \[host_not_found\] \S/);
    assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: ' \n' })),
      'sorvane: [bad_request] 命令不能为空');
    assert.match(errorLine(await call(client, 'exec', { host: HOST })), /^sorvane: \[bad_request\] .*command/);
    assert.match(errorLine(await call(client, 'exec', { host: 7, command: 'true' })), /^sorvane: \[bad_request\] .*host/);
    await client.close();

    const nobody = { dataDir: tempDir() };
    const lonely = await connect(nobody);
    assert.equal(errorLine(await call(lonely, 'list_hosts', {})),
      'sorvane: [not_running] Sorvane 未运行：请先打开 Sorvane，并在 设置 → 外部 CLI 中打开「启用外部 CLI」');
    await lonely.close();

    const broken = await scriptPeer('json {"type":"exit","code":0\n');
    const client3 = await connect(broken);
    assert.match(errorLine(await call(client3, 'exec', { host: HOST, command: 'x' })),
      /^sorvane: \[connect_failed\] 与 Sorvane 的连接意外中断：/);
    await client3.close();
  });

  test('progress replies become progress notifications, only with a token', async () => {
    const progress = (files, bytes) =>
      `json {"type":"progress","files":${files},"total_files":2,"bytes":${bytes},"total_bytes":30}\n`;
    // The pause: the SDK client runs notification handlers a tick later than
    // response handlers, so a progress notification right before the result
    // would reach a handler already removed.
    const peer = await scriptPeer(progress(0, 10) + progress(1, 20) + 'pause 100\n' +
      'json {"type":"transfer_done","files":2,"bytes":30,"skipped":0,"failed":1,"failures":["b: gone"]}\n');
    const client = await connect(peer, ['--local-root', '/tmp']);
    const seen = [];
    const args = { host: HOST, local: '/tmp', remote: '/x' };
    const done = await call(client, 'upload', args, { onprogress: (p) => seen.push(p) });
    assert.deepEqual(seen, [
      { progress: 10, total: 30, message: '0/2 files' },
      { progress: 20, total: 30, message: '1/2 files' },
    ]);
    assert.deepEqual(done.structuredContent, { files: 2, bytes: 30, skipped: 0, failed: 1, failures: ['b: gone'] });
    assert.equal(done.isError, true);  // a failed file fails the call, summary and all
    let stray = 0;
    client.setNotificationHandler((await import('@modelcontextprotocol/sdk/types.js')).ProgressNotificationSchema, () => stray++);
    await call(client, 'upload', args);
    assert.equal(stray, 0);
    await client.close();
  });

  test('a cancelled exec closes its connection and gets no result; ping and tools/list answer meanwhile', async () => {
    // The peer serves one connection after another, so the second request
    // reaches it only once the first connection is closed.
    const peer = await scriptPeer('hold\n');
    const client = await connect(peer);
    const abort = new AbortController();
    const running = call(client, 'exec', { host: HOST, command: 'sleep 30' }, { signal: abort.signal });
    running.catch(() => {});
    while (peer.request() === null) await new Promise((r) => setTimeout(r, 20));
    await client.ping();
    assert.equal((await client.listTools()).tools.length, 4);
    abort.abort('changed my mind');
    await assert.rejects(running);
    fs.rmSync(peer.requestOut);
    const next = call(client, 'list_hosts', { query: 'after' });
    next.catch(() => {});
    const start = Date.now();
    while (peer.request() === null) {
      assert.ok(Date.now() - start < 10000, 'the cancelled call kept its connection');
      await new Promise((r) => setTimeout(r, 20));
    }
    assert.match(peer.request(), /"query":"after"/);
    await new Promise((r) => setTimeout(r, 200));
    assert.deepEqual(client.errors, []);  // no result came for the cancelled call
    await client.close();
  });

  test('two calls at once, each with its own connection', posixOnly, async () => {
    // The first call finishes only when the second one runs: they meet at a fifo.
    const fifo = path.join(tempDir(), 'meet');
    execFileSync('mkfifo', [fifo]);
    const peer = await demoPeer('--parallel');
    const client = await connect(peer);
    const [writer, reader] = await Promise.all([
      call(client, 'exec', { host: HOST, command: `printf met > ${fifo}` }),
      call(client, 'exec', { host: HOST, command: `cat ${fifo}` }),
    ]);
    assert.equal(writer.structuredContent.exit_code, 0);
    assert.equal(reader.structuredContent.stdout, 'met');
    await client.close();
  });

  test('--tools and --hosts limit what the agent sees and may do', async () => {
    const peer = await demoPeer();
    const allowed = [HOST, 'c0ffee0000000001'];
    const client = await connect(peer, ['--tools', 'list_hosts,exec', '--hosts', allowed.join(',')]);
    assert.deepEqual((await client.listTools()).tools.map((t) => t.name), ['list_hosts', 'exec']);
    await assert.rejects(call(client, 'upload', { host: HOST, local: '/tmp', remote: '/x' }), (e) => e.code === -32602);
    assert.match(errorLine(await call(client, 'exec', { host: 'a1b2c3d4e5f60719', command: 'true' })),
      /^sorvane: \[host_not_found\] /);
    assert.equal(peer.request(), null);  // refused without asking the desktop application
    const listed = await call(client, 'list_hosts', {});
    assert.deepEqual(listed.structuredContent.hosts.map((h) => h.id), allowed);
    await client.close();
  });
  test('local paths stay inside --local-root: `..`, links and no root are refused', async () => {
    const peer = await demoPeer();
    const root = tempDir();
    const outside = tempDir();
    fs.writeFileSync(path.join(root, 'ok.txt'), 'fine');
    fs.writeFileSync(path.join(outside, 'secret'), 'key');
    const client = await connect(peer, ['--local-root', hostPath(root)]);
    const remote = path.join(tempDir(), 'copy.txt');
    const up = await call(client, 'upload', { host: HOST, local: hostPath(path.join(root, 'ok.txt')), remote: hostPath(remote) });
    assert.equal(up.structuredContent.files, 1);
    fs.rmSync(peer.requestOut);

    // [tool, local path, the path as the refusal names it: absolute, `..` folded]
    const through = (name) => [hostPath(`${root}/../${path.basename(outside)}/${name}`), hostPath(path.join(outside, name))];
    const refusals = [['upload', ...through('secret')], ['download', ...through('new')]];
    fs.symlinkSync(outside, path.join(root, 'out'));  // Wine shows it as a reparse point
    for (const [tool, local] of [['upload', 'out/secret'], ['download', 'out/new']]) {
      refusals.push([tool, hostPath(path.join(root, local)), hostPath(path.join(root, local))]);
    }
    for (const [tool, local, shown] of refusals) {
      const line = errorLine(await call(client, tool, { host: HOST, local, remote }));
      assert.ok(line.startsWith(`sorvane: [bad_request] the local path ${shown} `), line);
      assert.ok(line.endsWith(`is outside the allowed folders: ${hostPath(root)}`), line);
    }
    // A link to nothing leads where it points (Windows: cannot be followed), so nothing is planted.
    fs.symlinkSync(path.join(outside, 'planted'), path.join(root, 'dangling'));
    assert.match(errorLine(await call(client, 'download', { host: HOST, remote, local: hostPath(path.join(root, 'dangling')) })),
      WINDOWS ? /^sorvane: \[bad_request\] cannot check the local path / : /is outside the allowed folders/);
    assert.ok(!fs.existsSync(path.join(outside, 'planted')));
    assert.equal(peer.request(), null);  // none of them reached the desktop application
    await client.close();

    const bare = await connect(peer);
    const line = errorLine(await call(bare, 'download', { host: HOST, remote, local: hostPath(root) }));
    assert.match(line, /^sorvane: \[bad_request\] no local folder is allowed, .*--local-root DIR/);
    assert.equal(peer.request(), null);
    await bare.close();
  });

  test("the client's roots, asked for again when it says they changed", async () => {
    const peer = await scriptPeer(transferDone);
    const first = path.join(tempDir(), 'my root é');
    const second = tempDir();
    fs.mkdirSync(first);
    let roots = [first];
    let listed = 0;
    const client = await connect(peer, [], {
      capabilities: { roots: { listChanged: true } },
      setup: (c) => c.setRequestHandler(ListRootsRequestSchema, () => {
        listed++;
        return { roots: roots.map((root) => ({ uri: fileUri(root) })) };
      }),
    });
    const upload = (dir) => call(client, 'upload', { host: HOST, local: hostPath(path.join(dir, 'f')), remote: '/r' });
    assert.equal((await upload(first)).isError, false);
    assert.match(errorLine(await upload(second)), /is outside the allowed folders: .*my root é$/);
    assert.equal(listed, 1);

    roots = [second];
    await client.sendRootsListChanged();
    assert.equal((await upload(second)).isError, false);
    assert.match(errorLine(await upload(first)), /is outside the allowed folders/);
    assert.equal(listed, 2);
    await client.close();
  });

  test('a path through /proc, or a link where a download lands, is refused', posixOnly, async () => {
    const peer = await demoPeer();
    const root = tempDir();
    const outside = tempDir();
    fs.writeFileSync(path.join(root, 'secret'), 'key');
    fs.mkdirSync(path.join(root, 'dl'));
    fs.writeFileSync(path.join(outside, '.bashrc'), 'theirs');
    fs.symlinkSync(path.join(outside, '.bashrc'), path.join(root, 'dl', '.bashrc'));
    const remote = path.join(tempDir(), '.bashrc');
    fs.writeFileSync(remote, 'planted');
    // The common set-up: the server works in its root. The desktop application opens the path, and its
    // /proc/self is not the server's.
    const client = await connect(peer, ['--local-root', root], { cwd: root });
    for (const view of ['/proc/self/cwd', '/proc/thread-self/cwd']) {
      assert.match(errorLine(await call(client, 'upload', { host: HOST, local: `${view}/secret`, remote: '/tmp/x' })),
        /^sorvane: \[bad_request\] cannot check the local path .*: \/proc is a per-process view/);
      assert.match(errorLine(await call(client, 'download', { host: HOST, remote, local: `${view}/.bashrc` })),
        /\/proc is a per-process view/);
    }
    assert.match(errorLine(await call(client, 'download', { host: HOST, remote, local: path.join(root, 'dl') })),
      /the local path \S*\/dl\/\.bashrc \(which leads to \S*\/\.bashrc\) is outside the allowed folders/);
    assert.equal(fs.readFileSync(path.join(outside, '.bashrc'), 'utf8'), 'theirs');
    assert.equal(peer.request(), null);
    await client.close();
  });

  test('--confirm: the user accepts or declines; a client that cannot ask runs nothing', async () => {
    const peer = await demoPeer();
    const log = path.join(tempDir(), 'audit.log');
    const questions = [];
    let answer;
    const client = await connect(peer, ['--confirm', 'exec', '--audit-log', hostPath(log)], {
      capabilities: { elicitation: {} },
      setup: (c) => c.setRequestHandler(ElicitRequestSchema, (request) => {
        questions.push(request.params);
        return answer;
      }),
    });
    answer = { action: 'accept', content: { confirm: true } };
    assert.equal((await call(client, 'exec', { host: HOST, command: 'echo yes' })).structuredContent.exit_code, 0);
    assert.equal(questions[0].message, 'Run this command on web-1 (deploy@10.0.1.11:22)?\n\necho yes');
    assert.deepEqual(questions[0].requestedSchema.required, ['confirm']);
    assert.equal(questions[0].requestedSchema.properties.confirm.type, 'boolean');

    for (answer of [{ action: 'decline' }, { action: 'cancel' }, { action: 'accept', content: { confirm: false } }]) {
      fs.rmSync(peer.requestOut);
      assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: 'echo no' })),
        'sorvane: [bad_request] declined by the user');
      assert.match(peer.request(), /"type":"list"/);  // the host was looked up; the command never went
    }
    await client.close();
    const outcomes = fs.readFileSync(log, 'utf8').trim().split('\n').map((line) => JSON.parse(line))
      .filter((entry) => entry.event === 'ended').map((entry) => entry.outcome);
    assert.deepEqual(outcomes, ['ok', 'declined', 'declined', 'declined']);

    fs.rmSync(peer.requestOut);
    const plain = await connect(peer, ['--confirm', 'exec,upload,download', '--local-root', hostPath(tempDir())]);
    assert.match(errorLine(await call(plain, 'exec', { host: HOST, command: 'echo never' })),
      /^sorvane: \[bad_request\] --confirm needs a client that can ask its user/);
    assert.equal(peer.request(), null);
    await plain.close();
  });

  test('--audit-log: a chained line per call, for the user alone; --verify-audit', async () => {
    const peer = await demoPeer();
    const log = path.join(tempDir(), 'audit.log');
    const root = tempDir();
    const client = await connect(peer, ['--audit-log', hostPath(log), '--local-root', hostPath(root)]);
    await call(client, 'exec', { host: HOST, command: 'echo hi' });
    await call(client, 'exec', { host: 'ffffffffffffffff', command: 'true' });
    const outside = hostPath(`${root}/../elsewhere`);
    await call(client, 'download', { host: HOST, remote: '/etc/passwd', local: outside });
    await client.close();

    const lines = fs.readFileSync(log, 'utf8').split('\n');
    assert.equal(lines.pop(), '');
    const entries = lines.map((line) => JSON.parse(line));
    const sha256 = (text) => createHash('sha256').update(text).digest('hex');
    entries.forEach((entry, i) => {
      assert.equal(entry.prev, i === 0 ? '0'.repeat(64) : sha256(lines[i - 1]));
      assert.match(entry.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
      assert.deepEqual(entry.client, { name: 'sorvane-tests', version: '1.0.0' });
      if (entry.event === 'ended') assert.equal(typeof entry.duration_ms, 'number');
    });
    // A started line before anything goes to the desktop application, then the outcome, one call id for both.
    assert.deepEqual(entries.map(({ event, tool, host, arguments: args, outcome }) => [event, tool, host, args, outcome]), [
      ['started', 'exec', HOST, { command: 'echo hi' }, undefined],
      ['ended', 'exec', HOST, { command: 'echo hi' }, 'ok'],
      ['started', 'exec', 'ffffffffffffffff', { command: 'true' }, undefined],
      ['ended', 'exec', 'ffffffffffffffff', { command: 'true' }, 'error'],
      ['ended', 'download', HOST, { remote: '/etc/passwd', local: hostPath(path.join(path.dirname(root), 'elsewhere')) }, 'refused'],
    ]);
    assert.deepEqual(entries.map((entry) => entries.findIndex((other) => other.call === entry.call)), [0, 0, 2, 2, 4]);
    assert.equal(entries[1].exit_code, 0);
    assert.equal(entries[1].bytes, WINDOWS ? 4 : 3);
    assert.match(entries[3].error, /^sorvane: \[host_not_found\] /);
    if (!WINDOWS) assert.equal(fs.statSync(log).mode & 0o777, 0o600);

    const verify = () => {
      const command = [...WRAPPER, path.join(BUILD, 'sorvane-mcp' + EXE), '--verify-audit', hostPath(log)];
      return spawnSync(command[0], command.slice(1), { encoding: 'utf8', env: { ...process.env, WINEDEBUG: '-all' } });
    };
    const good = verify();
    assert.equal(good.status, 0, good.stdout + good.stderr);
    assert.match(good.stdout, /: 5 lines, the chain is intact; SHA-256 of the last line: [0-9a-f]{64}\n$/);
    fs.writeFileSync(log, [lines[0].replace('echo hi', 'echo ho'), ...lines.slice(1), ''].join('\n'));
    const tampered = verify();
    assert.equal(tampered.status, 1);
    assert.ok(tampered.stdout.includes(': line 2 breaks the chain: its prev is not the SHA-256 of the line before\n'),
      tampered.stdout);
  });

  test('deep nesting, batches and 2025-03-26 are refused, and the server lives on', async () => {
    const peer = await demoPeer();
    const server = rawServer(peer);
    server.send(JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize',
      params: { protocolVersion: '2025-03-26', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } }));
    assert.equal((await server.next()).result.protocolVersion, '2025-11-25');
    server.send('{"jsonrpc":"2.0","method":"notifications/initialized"}');
    server.send('[{"jsonrpc":"2.0","id":2,"method":"ping"}]');
    assert.deepEqual(await server.next(), { jsonrpc: '2.0', id: null, error: { code: -32600, message: 'Invalid Request' } });
    const deep = '['.repeat(48000) + ']'.repeat(48000);
    server.send(`{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"exec","arguments":{"host":"${HOST}","command":${deep}}}}`);
    const refused = await server.next();
    assert.equal(refused.id, 3);
    assert.equal(refused.error.code, -32600);
    server.send(`{"jsonrpc":"2.0","id":4,"method":"ping","params":{"_meta":${deep}}}`);
    assert.equal((await server.next()).id, 4);
    server.send('{"jsonrpc":"2.0","id":5,"method":"ping"}');
    assert.deepEqual(await server.next(), { jsonrpc: '2.0', id: 5, result: {} });
    assert.equal(peer.request(), null);
    server.child.stdin.end();
  });

  test('arguments outside the schema and NUL characters are refused; lists are trimmed; schemas use anyOf', async () => {
    const peer = await demoPeer();
    const client = await connect(peer, ['--tools', 'list_hosts , exec', '--hosts', `${HOST}, c0ffee0000000001`]);
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ['list_hosts', 'exec']);
    assert.doesNotMatch(JSON.stringify(tools), /"type":\[/);
    assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: 'true', timeout: 5 })),
      'sorvane: [bad_request] invalid arguments: unknown argument `timeout`');
    assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: 'echo a\0; rm -rf x' })),
      'sorvane: [bad_request] invalid arguments: `command` contains a NUL character');
    assert.equal(peer.request(), null);
    const listed = await call(client, 'list_hosts', {});
    assert.deepEqual(listed.structuredContent.hosts.map((h) => h.id), [HOST, 'c0ffee0000000001']);
    await client.close();
  });

  test('past the default 64 KiB, exec keeps the head and the tail of each stream', async () => {
    const peer = await scriptPeer(`stdout ${'a'.repeat(40000)}\nstdout ${'b'.repeat(40000)}\n` +
      `stdout ${'c'.repeat(40000)}\nstderr tail only\njson {"type":"exit","code":1}\n`);
    const client = await connect(peer);
    const result = await call(client, 'exec', { host: HOST, command: 'make' });
    const { stdout, ...rest } = result.structuredContent;
    assert.equal(stdout, 'a'.repeat(32768) + 'c'.repeat(32768));
    assert.deepEqual(rest, { exit_code: 1, stderr: 'tail only', stdout_truncated: true,
      stderr_truncated: false, stdout_omitted: 120000 - 65536, stderr_omitted: 0 });
    await client.close();
  });

  test('1000 calls at once with 64 descriptors queue, and too few descriptors are named', posixOnly, async () => {
    const peer = await demoPeer('--parallel');
    const many = async (args) => {
      const client = await connect(peer, args, { descriptors: 64 });
      const results = await Promise.all(Array.from({ length: 1000 },
        () => client.callTool({ name: 'list_hosts', arguments: {} }, undefined, { timeout: REQUEST_TIMEOUT })));
      await client.close();
      return new Set(results.map((r) => (r.isError ? r.content[0].text : 'ok')));
    };
    assert.deepEqual(await many([]), new Set(['ok']));
    for (const outcome of await many(['--max-calls', '200'])) {
      if (outcome !== 'ok') assert.match(outcome, /^sorvane: \[connect_failed\] .*Too many open files/);
    }
  });
  test('time limits: --timeout and timeout_seconds end a call with what arrived; a heartbeat on the way', async () => {
    const peer = await scriptPeer('stdout started\nhold\n');
    const root = tempDir();
    const client = await connect(peer, ['--timeout', '1', '--local-root', hostPath(root)]);
    const stopped = { exit_code: null, timed_out: true, stdout: 'started', stderr: '', stdout_truncated: false,
      stderr_truncated: false, stdout_omitted: 0, stderr_omitted: 0 };
    assert.deepEqual((await call(client, 'exec', { host: HOST, command: 'tail -f log' })).structuredContent, stopped);
    assert.match(errorLine(await call(client, 'download', { host: HOST, remote: '/r', local: hostPath(root) })),
      /^sorvane: \[transfer_failed\] timed out: nothing arrived from the desktop application for 1 seconds$/);

    // Past the 10-second beat: a client that resets its time-out on progress keeps waiting. The
    // call's own limit only shortens the operator's.
    const beats = [];
    const patient = await connect(peer, ['--timeout', '3600']);
    const long = await call(patient, 'exec', { host: HOST, command: 'tail -f log', timeout_seconds: 11 },
      { onprogress: (p) => beats.push(p) });
    await patient.close();
    assert.deepEqual(long.structuredContent, stopped);
    assert.ok(beats.length >= 1);
    assert.equal(beats[0].message, '7 bytes of output so far');
    assert.equal(errorLine(await call(client, 'exec', { host: HOST, command: 'x', timeout_seconds: 0 })),
      'sorvane: [bad_request] invalid arguments: `timeout_seconds` must be a positive integer');
    await client.close();
  });

  test('exec on several hosts: results, groups, the bound, confirmation naming each host, audit lines per host', async () => {
    const peer = await demoPeer();
    const log = path.join(tempDir(), 'audit.log');
    const questions = [];
    let answer = { action: 'accept', content: { confirm: true } };
    const client = await connect(peer, ['--confirm', 'exec', '--audit-log', hostPath(log), '--parallel', '2'], {
      capabilities: { elicitation: {} },
      setup: (c) => c.setRequestHandler(ElicitRequestSchema, (request) => (questions.push(request.params.message), answer)),
    });
    const nl = WINDOWS ? '\r\n' : '\n';
    const WEB2 = 'a1b2c3d4e5f60719';
    const fleet = await call(client, 'exec', { hosts: [HOST, WEB2, 'ffffffffffffffff'], command: 'echo hi' });
    assert.equal(questions.pop(), 'Run this command on 2 hosts?\n\nweb-1 (deploy@10.0.1.11:22)\nweb-2 (deploy@10.0.1.12:22)\n\necho hi');
    const { results, groups } = fleet.structuredContent;
    assert.deepEqual(results.map((r) => [r.id, r.name, r.exit_code, r.stdout]),
      [[HOST, 'web-1', 0, 'hi' + nl], [WEB2, 'web-2', 0, 'hi' + nl], ['ffffffffffffffff', null, null, '']]);
    assert.match(results[2].error, /^sorvane: \[host_not_found\] /);
    assert.deepEqual(groups.map((g) => g.hosts.map((h) => h.id)), [[HOST, WEB2], ['ffffffffffffffff']]);
    assert.ok(fleet.content[0].text.startsWith(
      `3 hosts in 2 groups\n== 2 hosts: web-1 (${HOST}), web-2 (${WEB2}) — exit 0\n-- stdout\nhi${nl}`), fleet.content[0].text);
    assert.equal(fleet.isError, false);

    answer = { action: 'decline' };
    fs.rmSync(peer.requestOut);
    assert.equal(errorLine(await call(client, 'exec', { query: 'web', command: 'echo no' })), 'sorvane: [bad_request] declined by the user');
    assert.match(questions.pop(), /^Run this command on 2 hosts\?\n\nweb-1 .*\nweb-2 .*\n\necho no$/);
    assert.match(peer.request(), /"type":"list","query":"web"/);  // the hosts were found; nothing ran
    await client.close();

    const entries = fs.readFileSync(log, 'utf8').trim().split('\n').map((line) => JSON.parse(line));
    assert.deepEqual(entries.map(({ call: id, event, host, outcome }) => [id === entries[0].call, event, host, outcome]), [
      [true, 'started', HOST, undefined], [true, 'started', WEB2, undefined],
      [true, 'ended', HOST, 'ok'], [true, 'ended', WEB2, 'ok'], [true, 'ended', 'ffffffffffffffff', 'refused'],
      [false, 'started', HOST, undefined], [false, 'started', WEB2, undefined],
      [false, 'ended', HOST, 'declined'], [false, 'ended', WEB2, 'declined'],
    ]);
    assert.equal(entries[2].bytes, ('hi' + nl).length);

    // The bound is four times --max-output: the group's output and three
    // hosts' fit, the last two hosts' are cut.
    const bounded = await connect(peer, ['--max-output', '4']);
    const all = [HOST, WEB2, 'b7c8d9e0f1a2b3c4', 'c0ffee0000000001', 'd00dfeed12345678'];
    const cut = (await call(bounded, 'exec', { hosts: all, command: 'echo abc' })).structuredContent;
    assert.deepEqual([cut.groups_cut, cut.results_cut, cut.groups.length], [0, 2, 1]);
    assert.deepEqual(cut.results.map((r) => [r.cut, r.stdout.length, r.exit_code]),
      [[false, 4, 0], [false, 4, 0], [false, 4, 0], [true, 0, 0], [true, 0, 0]]);
    await bounded.close();
  });

  test('a cancelled exec on several hosts stops every host at once', posixOnly, async () => {
    // The command never ends on its own: only the stop ends it. Its output
    // lets the stand-in peer see the client go and end it there too.
    const peer = await demoPeer();
    const log = path.join(tempDir(), 'audit.log');
    const client = await connect(peer, ['--audit-log', hostPath(log), '--parallel', '1']);
    const abort = new AbortController();
    const running = call(client, 'exec', { hosts: [HOST, 'a1b2c3d4e5f60719'], command: 'while :; do echo .; sleep 1; done' }, { signal: abort.signal });
    running.catch(() => {});
    const lines = () => (fs.existsSync(log) ? fs.readFileSync(log, 'utf8').trim().split('\n').map((l) => JSON.parse(l)) : []);
    while (!peer.request()?.includes('"type":"exec"')) await new Promise((r) => setTimeout(r, 20));
    abort.abort('enough');
    while (lines().filter((e) => e.event === 'ended').length < 2) await new Promise((r) => setTimeout(r, 20));
    assert.deepEqual(lines().filter((e) => e.event === 'ended').map((e) => [e.host, e.outcome]),
      [[HOST, 'cancelled'], ['a1b2c3d4e5f60719', 'cancelled']]);
    await client.close();
  });
});
