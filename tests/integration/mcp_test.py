"""sorvane-mcp fed raw lines on standard input: version negotiation, bad
input of every kind, the command line, and the end of input. The SDK client
tests in tests/mcp cover the tools themselves."""

import json
import os
import re
import select
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path


import harness
from peer import Peer, exe, host_path

INIT = {"jsonrpc": "2.0", "id": 0, "method": "initialize",
        "params": {"protocolVersion": "2025-11-25", "capabilities": {}, "clientInfo": {"name": "t", "version": "1"}}}


def mcp_bin():
    return os.environ.get("SORVANE_MCP_BIN") or exe("sorvane-mcp")


def encode(message):
    return message if isinstance(message, bytes) else json.dumps(message).encode() + b"\n"


class Server:
    """A running sorvane-mcp with pipes on all three standard streams."""

    def __init__(self, args=(), env=None):
        full_env = dict(os.environ, WINEDEBUG="-all")
        full_env.update(env or {"SORVANE_DATA_DIR": "/nonexistent/sorvane-mcp-test"})
        self.process = subprocess.Popen(harness.wrapper() + [mcp_bin(), *args], env=full_env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._pending = b""

    def send(self, *messages):
        for message in messages:
            self.process.stdin.write(encode(message))
        self.process.stdin.flush()

    def receive(self, timeout=30):
        """The next line of standard output as JSON."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self._pending:
            ready, _, _ = select.select([self.process.stdout], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError("no message from sorvane-mcp")
            chunk = os.read(self.process.stdout.fileno(), 1 << 20)
            if not chunk:
                raise AssertionError("sorvane-mcp closed its output")
            self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        return json.loads(line)

    def ask(self, *messages):
        self.send(*messages)
        return self.receive()

    def close(self, timeout=30, late_ids=()):
        """Ends the input; returns (status, seconds to exit, stderr). Nothing
        may be left unread but answers to `late_ids`."""
        start = time.monotonic()
        self.process.stdin.close()
        status = self.process.wait(timeout)
        elapsed = time.monotonic() - start
        rest = self._pending + self.process.stdout.read()
        err = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        assert all(json.loads(line)["id"] in late_ids for line in rest.splitlines()), rest
        return status, elapsed, err

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except BrokenPipeError:
                pass
        return False


def request(id, method, params=None):
    message = {"jsonrpc": "2.0", "id": id, "method": method}
    if params is not None:
        message["params"] = params
    return message


def error_code(reply):
    return reply["error"]["code"]


class Lifecycle(unittest.TestCase):
    def test_protocol_version_negotiation(self):
        cases = [("2025-11-25", "2025-11-25"), ("2025-06-18", "2025-06-18"), ("2025-03-26", "2025-11-25"),
                 ("2024-11-05", "2025-11-25"), (42, "2025-11-25"), (None, "2025-11-25")]
        with Server() as server:
            for asked, answered in cases:
                params = dict(INIT["params"], protocolVersion=asked)
                reply = server.ask(request(1, "initialize", params))
                self.assertEqual(reply["result"]["protocolVersion"], answered, asked)
                self.assertIn("tools", reply["result"]["capabilities"])
            self.assertEqual(server.close()[0], 0)

    def test_only_ping_before_initialize(self):
        with Server() as server:
            self.assertEqual(server.ask(request("p", "ping")), {"jsonrpc": "2.0", "id": "p", "result": {}})
            for method in ("tools/list", "tools/call", "resources/list"):
                self.assertIn("error", server.ask(request(2, method, {"name": "list_hosts"})), method)
            self.assertIn("result", server.ask(INIT))
            self.assertEqual(len(server.ask(request(3, "tools/list"))["result"]["tools"]), 4)

    def test_end_of_input_ends_the_server_without_waiting_for_open_calls(self):
        # The call in flight still gets its outcome line before the process ends:
        # the peer holds it for ever, so only a call that was stopped has one.
        with Peer.script("hold\n") as peer, Server(("--audit-log", str(peer.dir / "audit.log")), env={
                "SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]}) as server:
            server.ask(INIT)
            server.send(request(5, "tools/call", {"name": "exec", "arguments": {"host": "h", "command": "sleep 60"}}))
            deadline = time.monotonic() + 30
            while peer.request() is None and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertIsNotNone(peer.request())
            self.assertEqual(server.close()[0], 0)
            lines = [json.loads(line) for line in (peer.dir / "audit.log").read_text().splitlines()]
        self.assertEqual([line.get("outcome") for line in lines], [None, "cancelled"])


STATELESS = "2026-07-28"
META = {"io.modelcontextprotocol/protocolVersion": STATELESS, "io.modelcontextprotocol/clientCapabilities": {},
        "io.modelcontextprotocol/clientInfo": {"name": "raw", "version": "2"}}
HOST = "a1b2c3d4e5f60718"


def stateless(id, method, params=None, **meta):
    """A request of the stateless revision, its _meta changed by `meta` (None: left out)."""
    envelope = {key: value for key, value in dict(META, **meta).items() if value is not None}
    return request(id, method, dict(params or {}, _meta=envelope))


class StatelessRevision(unittest.TestCase):
    """A client that starts without initialize, naming the revision in every request."""

    def serve(self, peer, *args):
        return Server(args, env={"SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]})

    def assert_nothing_server_initiated(self, messages):
        sent = [m["method"] for m in messages if "method" in m]
        self.assertEqual([m for m in sent if m != "notifications/progress"], [])

    def test_envelope_errors_on_any_request_and_results_of_the_revision(self):
        other = "io.modelcontextprotocol/protocolVersion"
        with Peer.demo() as peer, self.serve(peer) as server:
            # Before initialize, a request without the envelope is malformed, not "not initialized".
            for first in (request(1, "tools/list"), stateless(1, "tools/list", **{other: None}),
                          stateless(1, "tools/list", **{"io.modelcontextprotocol/clientCapabilities": None})):
                self.assertEqual(error_code(server.ask(first)), -32602)
            unsupported = server.ask(stateless(2, "server/discover", **{other: "2099-01-01"}))
            self.assertEqual(unsupported["error"]["code"], -32022)
            self.assertEqual(unsupported["error"]["data"], {"supported": [STATELESS], "requested": "2099-01-01"})

            discovered = server.ask(stateless(3, "server/discover"))["result"]
            self.assertEqual(discovered["supportedVersions"], [STATELESS, "2025-11-25", "2025-06-18"])
            self.assertEqual(discovered["_meta"]["io.modelcontextprotocol/serverInfo"]["name"], "sorvane-mcp")
            self.assertIn("tools", discovered["capabilities"])
            self.assertIn("list_hosts", discovered["instructions"])
            listed = server.ask(stateless(4, "tools/list"))["result"]
            self.assertEqual(len(listed["tools"]), 4)
            called = server.ask(stateless(5, "tools/call", {"name": "list_hosts", "arguments": {}}))["result"]
            self.assertFalse(called["isError"])
            refused = server.ask(stateless(6, "tools/call", {"name": "exec", "arguments": {}}))["result"]
            self.assertTrue(refused["isError"])
            for result in (discovered, listed, called, refused):
                self.assertEqual(result["resultType"], "complete")
            for result in (discovered, listed):
                self.assertEqual((result["ttlMs"], result["cacheScope"]), (60000, "private"))

            # Each request is judged on its own, also after the first served one.
            self.assertEqual(error_code(server.ask(stateless(7, "tools/list", **{other: "2025-11-25"}))), -32022)
            self.assertEqual(error_code(server.ask(request(8, "tools/list"))), -32602)
            for removed in ("ping", "logging/setLevel", "initialize"):
                self.assertEqual(error_code(server.ask(stateless(9, removed, {"level": "info"}))), -32601, removed)
            self.assertEqual(server.close()[0], 0)

    def test_the_user_and_the_roots_are_asked_in_results_and_nothing_is_sent_to_the_client(self):
        with Peer.demo() as peer, self.serve(peer, "--confirm", "exec", "--audit-log",
                                             str(peer.dir / "audit.log")) as server:
            seen = []

            def exec_call(id, command, capabilities={"elicitation": {}, "roots": {}}, **retry):
                params = dict({"name": "exec", "arguments": {"host": HOST, "command": command}}, **retry)
                seen.append(server.ask(stateless(id, "tools/call", params, **{
                    "io.modelcontextprotocol/clientCapabilities": capabilities})))
                return seen[-1].get("result") or seen[-1]["error"]

            def answer(state, action="accept", confirm=True):
                return {"requestState": state,
                        "inputResponses": {"confirm": {"action": action, "content": {"confirm": confirm}}}}

            no_form = exec_call(1, "echo one", capabilities={})
            self.assertEqual((no_form["code"], no_form["data"]["requiredCapabilities"]),
                             (-32021, {"elicitation": {"form": {}}}))
            asked = exec_call(2, "echo one")
            self.assertEqual((asked["resultType"], asked["inputRequests"]["confirm"]["method"]),
                             ("input_required", "elicitation/create"))
            self.assertIn("echo one", asked["inputRequests"]["confirm"]["params"]["message"])
            state = asked["requestState"]
            tampered = state[:-1] + ("0" if state[-1] != "0" else "1")
            self.assertRegex(exec_call(3, "echo one", **answer(tampered))["content"][0]["text"],
                             r"^sorvane: \[bad_request\] the requestState sent back was not handed out")
            self.assertEqual(exec_call(4, "echo one", **answer(state, "decline"))["content"][0]["text"],
                             "sorvane: [bad_request] declined by the user")
            state = exec_call(5, "echo one")["requestState"]
            ran = exec_call(6, "echo one", **answer(state))
            self.assertEqual((ran["resultType"], ran["structuredContent"]["exit_code"]), ("complete", 0))
            # An answer lets one call run: not another command, nor the same one again.
            for id, command in ((7, "echo two"), (8, "echo one")):
                again = exec_call(id, command, **answer(state))
                self.assertEqual(again["resultType"], "input_required")
                self.assertIn(command, again["inputRequests"]["confirm"]["params"]["message"])

            # On several hosts: one question naming each, one answer for all.
            fleet = {"name": "exec", "arguments": {"hosts": [HOST, "a1b2c3d4e5f60719"], "command": "echo all"}}
            capable = {"io.modelcontextprotocol/clientCapabilities": {"elicitation": {}}}
            asked = server.ask(stateless(20, "tools/call", fleet, **capable))["result"]
            self.assertRegex(asked["inputRequests"]["confirm"]["params"]["message"], r"(?s)web-1.*web-2.*echo all")
            ran = server.ask(stateless(21, "tools/call", dict(fleet, **answer(asked["requestState"])), **capable))
            self.assertEqual([r["exit_code"] for r in ran["result"]["structuredContent"]["results"]], [0, 0], json.dumps(ran))
            seen += [asked, ran]

            # The client's roots are asked for when the operator allows no folder.
            download = {"name": "download", "arguments": {"host": HOST, "remote": "/nonexistent/r",
                                                          "local": host_path(peer.dir)}}
            file_uri = lambda path: "file://" + ("/" if ":" in host_path(path) else "") + \
                host_path(path).replace("\\", "/")
            roots = {"io.modelcontextprotocol/clientCapabilities": {"roots": {}}}
            asked = server.ask(stateless(9, "tools/call", download, **roots))["result"]
            self.assertEqual(asked["inputRequests"], {"roots": {"method": "roots/list"}})
            given = dict(download, requestState=asked["requestState"], inputResponses={
                "roots": {"roots": [{"uri": file_uri(peer.dir)}]}})
            allowed = server.ask(stateless(10, "tools/call", given, **roots))["result"]
            self.assertEqual(allowed["resultType"], "complete")
            self.assertNotIn("allowed", allowed["content"][0]["text"])  # the peer's own error
            (peer.dir / "elsewhere").mkdir()
            given["requestState"] = server.ask(stateless(11, "tools/call", download, **roots))["result"]["requestState"]
            given["inputResponses"]["roots"]["roots"] = [{"uri": file_uri(peer.dir / "elsewhere")}]
            refused = server.ask(stateless(11, "tools/call", given, **roots))["result"]
            self.assertIn("outside the allowed folders", refused["content"][0]["text"])
            seen += [asked, allowed, refused]

            # A call cancelled by the client ends without an answer, and nothing is sent in its place.
            # One that ended before the cancel came may still be answered, before or after the next.
            server.send(stateless(12, "tools/call", {"name": "list_hosts", "arguments": {}}))
            server.send({"jsonrpc": "2.0", "method": "notifications/cancelled", "params": {"requestId": 12}})
            seen.append(server.ask(stateless(13, "tools/list")))
            if seen[-1]["id"] == 12:
                seen.append(server.receive())
            self.assertEqual(seen[-1]["id"], 13)
            self.assertEqual(server.close(late_ids=(12,))[0], 0)
            self.assert_nothing_server_initiated(seen)
            lines = [json.loads(line) for line in (peer.dir / "audit.log").read_text().splitlines()]
        self.assertEqual([(line["tool"], line.get("outcome")) for line in lines if line["tool"] == "exec"],
                         [("exec", "refused"), ("exec", "refused"), ("exec", None), ("exec", "declined"),
                          ("exec", None), ("exec", "ok")] + [("exec", None)] * 2 + [("exec", "ok")] * 2)
        self.assertEqual(lines[0]["client"], {"name": "raw", "version": "2"})

    def test_roots_count_only_under_the_state_handed_out_for_the_call(self):
        # A download outside --local-root that brings roots nobody asked for:
        # the roots are left aside, so the client is asked (or, offering no
        # roots, refused) and the desktop application hears nothing.
        with Peer.demo() as peer, self.serve(peer, "--local-root", host_path(peer.dir)) as server:
            elsewhere = tempfile.mkdtemp(prefix="sorvane-elsewhere-")
            offers = {"io.modelcontextprotocol/clientCapabilities": {"roots": {}}}
            download = {"name": "download", "arguments": {"host": HOST, "remote": "/r", "local": host_path(elsewhere)}}
            everything = {"roots": {"roots": [{"uri": "file:///"}, {"uri": "file:///Z:/"}]}}
            other_call = server.ask(stateless(1, "tools/call", dict(download, arguments=dict(
                download["arguments"], remote="/other")), **offers))["result"]["requestState"]
            cases = [({}, offers, "input_required"),
                     ({"requestState": other_call}, offers, "input_required"),
                     ({"requestState": "00.00"}, offers, "was not handed out"),
                     ({}, {}, "outside the allowed folders")]
            for id, (state, capabilities, expected) in enumerate(cases, 2):
                params = dict(download, inputResponses=everything, **state)
                result = server.ask(stateless(id, "tools/call", params, **capabilities))["result"]
                self.assertIn(expected, result["resultType"] + result.get("content", [{"text": ""}])[0]["text"])
            self.assertIsNone(peer.request())
            os.rmdir(elsewhere)


class BadInput(unittest.TestCase):
    def test_the_server_answers_and_goes_on(self):
        call = lambda id, params: request(id, "tools/call", params)
        cases = [
            (b"this is not json\n", None, -32700),
            (b'{"jsonrpc":"2.0","id":1,"method":"initialize"\n', None, -32700),
            (b"[1,2]\n", None, -32600),
            (b'"just a string"\n', None, -32600),
            (b'{"jsonrpc":"2.0","id":{"x":1},"method":"ping"}\n', None, -32600),
            (b'{"id":7,"method":"ping"}\n', None, -32600),
            (b'{"jsonrpc":"2.0","id":8,"method":5}\n', 8, -32600),
            (b'{"jsonrpc":"2.0","id":9,"method":"ping","params":[1]}\n', 9, -32600),
            (b'{"jsonrpc":"2.0","id":10,"method":"\xff"}\n', 10, -32600),
            (request(11, "no/such/method"), 11, -32601),
            (call(12, {}), 12, -32602),
            (call(13, {"name": 5}), 13, -32602),
            (call(14, {"name": "format_disk", "arguments": {}}), 14, -32602),
        ]
        with Server() as server:
            server.ask(INIT)
            for line, id, code in cases:
                reply = server.ask(line)
                self.assertEqual((reply["id"], error_code(reply)), (id, code), line)
            # Unknown notifications and stray responses get no answer at all.
            server.send({"jsonrpc": "2.0", "method": "notifications/whatever"},
                        {"jsonrpc": "2.0", "id": 99, "result": {}}, b"\n", b"   \r\n")
            self.assertEqual(server.ask(request(15, "ping"))["id"], 15)
            self.assertEqual(server.close()[0], 0)

    def test_text_that_cannot_be_decoded_is_answered_with_the_id(self):
        # Half an emoji, as an agent may cut one, or bytes that are not UTF-8:
        # an answer the client can match to its request, naming the argument.
        head = b'{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":{"name":"exec","arguments":'
        cases = [(head % 1 + b'{"host":"h","command":"echo \\ud83d"}}}\n', 1, -32602, "`command`"),
                 (head % 2 + b'{"host":"h\xff","command":"x"}}}\n', 2, -32602, "`host`"),
                 (head % 3 + b'{"host":"h","\\udc00":"x"}}}\n', 3, -32602, "`\ufffd`"),
                 (b'{"jsonrpc":"2.0","id":"\\ud83d","method":"ping"}\n', None, -32700, "the member /id")]
        with Server() as server:
            server.ask(INIT)
            for line, id, code, named in cases:
                reply = server.ask(line)
                self.assertEqual((reply["id"], error_code(reply)), (id, code), line)
                self.assertIn(named + " holds text that cannot be decoded", reply["error"]["message"])
            self.assertEqual(server.ask(request(4, "ping"))["id"], 4)
            self.assertEqual(server.close()[0], 0)

    def test_ill_typed_arguments_are_tool_errors(self):
        with Server() as server:
            server.ask(INIT)
            for arguments in ({"host": "h"}, {"host": ["h"], "command": "x"}, "not an object",
                              {"host": "h", "local": None, "remote": "/"}):
                name = "upload" if "local" in arguments else "exec"
                reply = server.ask(request(1, "tools/call", {"name": name, "arguments": arguments}))
                self.assertTrue(reply["result"]["isError"], arguments)
                self.assertRegex(reply["result"]["content"][0]["text"], r"^sorvane: \[bad_request\] ")
                self.assertNotIn("structuredContent", reply["result"])

    def test_a_line_over_16_mib_gets_one_error_and_nothing_in_it_is_read(self):
        # Each oversized line holds a well-formed request, at its start or
        # past the limit: had any part been read as a message, a result would
        # come back for id 66 or 67.
        padding = " " * (16 * 1024 * 1024)
        lines = [('{"jsonrpc":"2.0","id":66,"method":"ping"}' + padding + "\n").encode(),
                 (padding + '{"jsonrpc":"2.0","id":67,"method":"ping"}\n').encode()]
        with Server() as server:
            server.ask(INIT)
            server.send(*lines, request(68, "ping"))
            replies = [server.receive() for _ in range(3)]
            self.assertEqual([(r["id"], "error" in r) for r in replies], [(None, True), (None, True), (68, False)])

    @unittest.skipIf(harness.is_windows(), "POSIX build only")
    def test_messages_never_interleave(self):
        # Large results from concurrent calls, with pings answered in between:
        # every line must be one whole message.
        size = 300000
        command = "head -c %d /dev/zero | tr '\\0' x" % size
        with Peer.demo(parallel=True) as peer, Server(["--max-output", str(size)],
                                                         env={"SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]}) as server:
            server.ask(INIT)
            for i in range(12):
                server.send(request(i, "tools/call", {"name": "exec", "arguments": {"host": "a1b2c3d4e5f60718",
                                                                                   "command": command}}),
                            request("ping%d" % i, "ping"))
            replies = {reply["id"]: reply for reply in (server.receive() for _ in range(24))}
            for i in range(12):
                self.assertEqual(len(replies[i]["result"]["structuredContent"]["stdout"]), size)
                self.assertEqual(replies["ping%d" % i]["result"], {})


class Limits(unittest.TestCase):
    serve = StatelessRevision.serve

    def test_an_agents_time_limit_only_shortens_the_operators(self):
        exec_call = lambda id, seconds: request(id, "tools/call", {"name": "exec", "arguments": {
            "host": HOST, "command": "x", "timeout_seconds": seconds}})
        with Peer.script("hold\n") as peer, self.serve(peer, "--timeout", "2") as server:
            server.ask(INIT)
            for id, seconds in enumerate((2 ** 63 - 1, 2 ** 64 - 1, 31622401, 2 ** 64, -1, 0, 1.5, "6")):
                result = server.ask(exec_call(id, seconds))["result"]
                self.assertTrue(result["isError"], seconds)
                self.assertIn("invalid arguments: `timeout_seconds` must be a positive integer",
                              result["content"][0]["text"])
            self.assertIsNone(peer.request())
            # The peer holds the command for ever: only the operator's 2 seconds end it.
            held = server.ask(exec_call(9, 3600))["result"]["structuredContent"]
            self.assertEqual((held["exit_code"], held["timed_out"]), (None, True))

    def test_calls_past_the_waiting_bounds_are_refused_and_the_server_goes_on(self):
        # One call holds the only turn; past 1024 waiting calls, or 64 MiB of
        # their messages, the rest are refused at once, and pings are still answered.
        for count, size, refused in ((1 + 1024 + 3, 1, 3), (70, 1 << 20, None)):
            with Peer.script("hold\n") as peer, self.serve(peer, "--max-calls", "1") as server:
                server.ask(INIT)
                for id in range(count):
                    server.send(request(id, "tools/call", {"name": "exec", "arguments": {
                        "host": HOST, "command": "x" * size}}))
                server.send(request("p", "ping"))
                replies = [server.receive()]
                while replies[-1]["id"] != "p":
                    replies.append(server.receive())
                busy = [(r["id"], error_code(r)) for r in replies[:-1]]
                first = count - (refused or len(busy))
                self.assertEqual(busy, [(id, -32000) for id in range(first, count)], size)
                self.assertGreater(first, 1, size)
                self.assertIn("Server busy", replies[0]["error"]["message"])
                self.assertEqual(server.close()[0], 0)


@unittest.skipIf(harness.is_windows(), "POSIX build only")
class AuditLog(unittest.TestCase):
    def serve(self, peer, *args):
        return Server(["--audit-log", *args], env={"SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]})

    def lines(self, log):
        return [json.loads(line) for line in log.read_text().splitlines()]

    def verify(self, log):
        return subprocess.run([mcp_bin(), "--verify-audit", str(log)], capture_output=True, text=True, timeout=60)

    def test_only_a_private_regular_file_of_the_user_is_a_log(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-audit-") as tmp:
            tmp = Path(tmp)
            target = tmp / "target.log"
            target.touch(mode=0o600)
            (tmp / "link.log").symlink_to(target)
            os.mkfifo(tmp / "fifo.log")
            for name, mode in (("group.log", 0o620), ("others.log", 0o602), ("foreign.log", 0o600)):
                (tmp / name).touch()
                os.chmod(tmp / name, mode)
            cases = [("link.log", "is a symbolic link"), ("fifo.log", "is not a regular file"),
                     ("/dev/null", "is not a regular file"),
                     ("group.log", "is writable by others than its owner"),
                     ("others.log", "is writable by others than its owner")]
            if os.geteuid() == 0:  # only root can give a file away
                os.chown(tmp / "foreign.log", 65534, -1)
                cases.append(("foreign.log", "is not owned by the current user"))
            for name, why in cases:
                with self.subTest(log=name):
                    log = tmp / name
                    result = subprocess.run([mcp_bin(), "--audit-log", str(log)], stdin=subprocess.DEVNULL,
                                            capture_output=True, timeout=60)
                    self.assertEqual((result.returncode, result.stdout, result.stderr.decode()),
                                     (2, b"", "sorvane-mcp: cannot open the audit log %s: %s\n" % (log, why)))
            self.assertEqual(target.read_bytes(), b"")

    def test_a_log_that_cannot_be_written_refuses_every_call(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-audit-") as tmp:
            log = Path(tmp) / "audit.log"
            with Peer.demo() as peer, self.serve(peer, str(log)) as server:
                server.ask(INIT)  # started: the log was made
                # Swapped afterwards for a FIFO, where lines would vanish.
                log.unlink()
                os.mkfifo(log)
                reply = server.ask(request(1, "tools/call", {"name": "exec", "arguments": {
                    "host": "a1b2c3d4e5f60718", "command": "touch never"}}))
                self.assertTrue(reply["result"]["isError"])
                self.assertEqual(reply["result"]["content"][0]["text"],
                                 "sorvane: [bad_request] the audit log cannot be written, so the call was not "
                                 "run: is not a regular file")
                self.assertIsNone(peer.request())

    def test_a_stopped_server_leaves_the_started_line_and_verify_warns(self):
        for stop in (signal.SIGKILL, signal.SIGTERM):
            with Peer.demo() as peer, self.serve(peer, str(peer.dir / "audit.log")) as server:
                server.ask(INIT)
                server.send(request(1, "tools/call", {"name": "exec", "arguments": {
                    "host": "a1b2c3d4e5f60718", "command": "sleep 2; touch m"}}))
                deadline = time.monotonic() + 30
                while peer.request() is None and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertIsNotNone(peer.request())
                server.process.send_signal(stop)
                server.process.wait(30)
                [line] = self.lines(peer.dir / "audit.log")
                self.assertEqual((line["event"], line["tool"], line["arguments"]),
                                 ("started", "exec", {"command": "sleep 2; touch m"}), stop)
                verified = self.verify(peer.dir / "audit.log")
                self.assertEqual(verified.returncode, 0, verified.stdout)
                self.assertIn(": 1 lines, the chain is intact", verified.stdout)
                self.assertIn(": warning: line 1: a call started and no line gives its outcome", verified.stdout)

    def test_unknown_tools_and_refused_arguments_are_recorded(self):
        with Peer.demo() as peer, self.serve(peer, str(peer.dir / "audit.log")) as server:
            server.ask(INIT)
            server.ask(request(1, "tools/call", {"name": "format_disk", "arguments": {"host": "a1b2c3d4e5f60718"}}))
            server.ask(request(2, "tools/call", {"name": "exec", "arguments": {"host": "h", "command": "a\0b"}}))
            server.ask(request(3, "tools/call", {"name": "exec", "arguments": {"host": "h", "command": "\ud83d"}}))
            server.ask(request(4, "tools/call", {"name": "exec", "arguments": {"host": "a1b2c3d4e5f60718",
                                                                             "command": "true"}}))
            self.assertEqual(server.close()[0], 0)
            lines = self.lines(peer.dir / "audit.log")
        self.assertEqual([(line["event"], line["tool"], line.get("outcome")) for line in lines],
                         [("ended", "format_disk", "refused"), ("ended", "exec", "refused"),
                          ("ended", "exec", "refused"), ("started", "exec", None), ("ended", "exec", "ok")])
        self.assertEqual(lines[0]["error"], "Unknown tool: format_disk")
        self.assertEqual(lines[3]["call"], lines[4]["call"])
        self.assertEqual(len({line["call"] for line in lines}), 4)


class CommandLine(unittest.TestCase):
    def run_mcp(self, *args):
        return subprocess.run(harness.wrapper() + [mcp_bin(), *args], capture_output=True, timeout=120,
                              stdin=subprocess.DEVNULL, env=dict(os.environ, WINEDEBUG="-all"))

    def test_help_version_and_errors(self):
        help_text = self.run_mcp("--help")
        self.assertEqual(help_text.returncode, 0)
        for option in (b"--tools", b"--hosts", b"--max-output"):
            self.assertIn(option, help_text.stdout)
        version = self.run_mcp("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^sorvane-mcp \d+\.\d+\.\d+\S*\n$")
        for bad in (["--max-output", "lots"], ["--max-output", "-1"], ["--max-output", "1.5"],
                    ["--max-output", "99999999999999999999999"], ["--tools", "exec,rm"], ["--hosts", ","],
                    ["--frobnicate"], ["extra"]):
            result = self.run_mcp(*bad)
            self.assertEqual(result.returncode, 2, bad)
            self.assertEqual(result.stdout, b"", bad)

    def test_roots_that_are_no_folders_and_hosts_that_are_no_ids_refuse_to_start(self):
        file = harness.REPO / "README.md"
        cases = [(["--local-root", "/nonexistent/sorvane-root"], "--local-root: no folder to allow at /nonexistent/sorvane-root: "),
                 (["--local-root", host_path(file)], "not a folder"),
                 (["--hosts", "0123456789abcdef,web-1"], "--hosts: not a host ID"),
                 (["--timeout", "18446744073709551615"], "--timeout: not a number of seconds from 0 to 31622400"),
                 (["--timeout", "31622401"], "--timeout: not a number of seconds from 0 to 31622400")]
        for args, why in cases:
            result = self.run_mcp(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(why, result.stderr.decode(), args)

    def test_the_man_page_names_every_option_of_the_help(self):
        page = (harness.REPO / "doc" / "sorvane-mcp.1").read_text().replace("\\-", "-")
        page = re.sub(r"\\f[BIRP]|\\&", "", page)
        options = set(re.findall(r"(?<![\w-])--?[A-Za-z][\w-]*", self.run_mcp("--help").stdout.decode()))
        self.assertGreaterEqual(len(options), 6)
        for option in options:
            self.assertIn(option, page)


if __name__ == "__main__":
    unittest.main()
