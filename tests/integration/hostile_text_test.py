"""Text that the tool did not write, made to attack the terminal it is shown
on: host fields from a hostile hosts file, a remote file name, the desktop
application's error message, an audit line and a command to confirm. Each
reaches a real terminal (a pseudo-terminal) and the bytes that arrive are
checked: nothing can move the cursor, set the clipboard or reverse the
text, while the remote command's own output passes as it was written."""

import json
import os
import tempfile
import unicodedata
import unittest
from pathlib import Path

import harness
from mcp_test import INIT, Server, mcp_bin
from peer import Peer, host_path

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")

CLIPBOARD = "\x1b]52;c;aGk=\x07"  # OSC 52: writes the clipboard
CLEAR = "\x1b[2J"
EVIL, FORGER = "e000000000000001", "e000000000000002"
HOSTILE_HOSTS = [
    {"id": EVIL, "name": "evil" + CLIPBOARD + CLEAR, "user": "root", "host": "10.0.0.1", "port": 22},
    # A line feed that forges a row, C1 CSI and OSC, and a right-to-left override.
    {"id": FORGER, "name": "db\n0123456789abcdef  forged", "group": "g\u009b2J\u202e",
     "user": "r", "host": "h\u009d0;x\u009c", "port": 22, "os": "ubuntu"},
]
EVIL_SHOWN = "evil\\x1b]52;c;aGk=\\x07\\x1b[2J"
FORGER_SHOWN = "db\\x0a0123456789abcdef  forged"
DUMB = {"TERM": "dumb", "NO_COLOR": ""}  # no colour, and not for NO_COLOR's sake


def assert_inert(test, data, allowed="\n"):
    """No control but `allowed`, no C1 control, no bidirectional control, valid UTF-8."""
    text = data.decode("utf-8")  # raises on anything else
    for char in text:
        code = ord(char)
        bad = (code < 0x20 and char not in allowed) or 0x7F <= code <= 0x9F or \
            0x202A <= code <= 0x202E or 0x2066 <= code <= 0x2069
        test.assertFalse(bad, "U+%04X reaches the terminal in %r" % (code, text))


def columns(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


@posix_only  # a pseudo-terminal
class HostileHosts(unittest.TestCase):
    """The fields of the hosts, and the messages, of the desktop application."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="sorvane-hostile-")
        self.dir = Path(self._tmp.name)
        self.hosts_file = self.dir / "hosts.json"
        self.hosts_file.write_text(json.dumps(HOSTILE_HOSTS))

    def tearDown(self):
        self._tmp.cleanup()

    def test_the_list_table_has_no_forged_rows_and_stays_aligned(self):
        script = "json " + json.dumps({"type": "hosts", "hosts": HOSTILE_HOSTS}) + "\n"
        with Peer.script(script) as peer:
            result = harness.run(["list"], env=peer.env, stdout_tty=True)
        self.assertEqual(result.status, 0, result.stderr)
        assert_inert(self, result.stdout)
        header, evil, forger, end = result.stdout.decode().split("\n")
        self.assertEqual(end, "")
        self.assertTrue(evil.startswith(EVIL + "  " + EVIL_SHOWN + " "), evil)
        self.assertTrue(forger.startswith(FORGER + "  " + FORGER_SHOWN + " "), forger)
        self.assertIn("  g\\u009b2J\\u202e  ", forger)
        # Widths are those of the shown text: every address starts in one column.
        starts = [columns(line[:line.index(cell)]) for line, cell in
                  ((header, "地址"), (evil, "root@10.0.0.1:22"), (forger, "r@h\\u009d0;x\\u009c:22"))]
        self.assertEqual(len(set(starts)), 1, starts)

    def test_prefixes_and_summary_of_several_hosts(self):
        # The remote command's own escapes must arrive untouched, and
        # TERM=dumb leaves out the colour that xterm gets (fan_out_test).
        command = "printf '\\033[1mok\\033[0m\\n'; exit 3"
        with Peer.demo(hosts=self.hosts_file) as peer:
            result = harness.run(["exec", EVIL + "," + FORGER, command], env=dict(peer.env, **DUMB),
                                 stdout_tty=True, stderr_tty=True)
        self.assertEqual(result.status, 1, result.stderr)
        self.assertEqual(sorted(result.stdout.split(b"\n")), sorted([
            b"", (EVIL_SHOWN + ": \x1b[1mok\x1b[0m").encode(), (FORGER_SHOWN + ": \x1b[1mok\x1b[0m").encode()]))
        assert_inert(self, result.stderr)
        self.assertEqual(result.stderr.decode(),
                         "2 台主机中 0 台成功；失败：%s（退出码 3）、%s（退出码 3）\n" % (EVIL_SHOWN, FORGER_SHOWN))

    def test_the_error_line_of_the_desktop_application(self):
        message = "找不到主机" + CLEAR + "\u009b1A\u202e\r\n" + "sorvane: [ok] fine"
        script = "json " + json.dumps({"type": "error", "code": "host_not_found", "message": message}) + "\n"
        with Peer.script(script) as peer:
            result = harness.run(["exec", EVIL, "true"], env=peer.env, stderr_tty=True)
        self.assertEqual(result.status, 255)
        self.assertEqual(result.stderr.decode(), "sorvane: [host_not_found] 找不到主机\\x1b[2J\\u009b1A"
                                                 "\\u202e\\x0d\\x0asorvane: [ok] fine\n")


@posix_only
class HostileRemoteFileName(unittest.TestCase):
    """A remote file name in a download's failure line."""

    def test_the_failure_line_shows_the_name_inert(self):
        name = "evil " + CLIPBOARD + CLEAR + " name"
        with tempfile.TemporaryDirectory(prefix="sorvane-hostile-") as tmp:
            remote = Path(tmp) / "remote"
            remote.mkdir()
            os.symlink("/nonexistent/target", remote / name)  # cannot be read: a failure
            with Peer.demo() as peer:  # its example hosts
                result = harness.run(["download", "a1b2c3d4e5f60718", str(remote), str(Path(tmp) / "local")], env=peer.env,
                                     stdout_tty=True, stderr_tty=True)
        self.assertEqual(result.status, 1, result.stderr)
        assert_inert(self, result.stderr, allowed="\n\r")  # \r: the progress line
        self.assertIn("evil \\x1b]52;c;aGk=\\x07\\x1b[2J name", result.stderr.decode())


@posix_only  # a pseudo-terminal
class HostileAuditLine(unittest.TestCase):
    """--verify-audit shows the line that breaks the chain."""

    def test_a_forged_line_cannot_say_the_chain_is_intact(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-hostile-") as tmp:
            log = Path(tmp) / "audit.log"
            log.write_bytes(b'{"prev":"0"}\x1b[1A\x1b[2K\r' + str(log).encode() + b": 0 lines, the chain is intact\n")
            result = harness.run(["--verify-audit", host_path(log)], program=mcp_bin(), stdout_tty=True)
        self.assertEqual(result.status, 1)
        assert_inert(self, result.stdout)
        self.assertIn("\n{\"prev\":\"0\"}\\x1b[1A\\x1b[2K\\x0d", result.stdout.decode())


class HostileConfirmation(unittest.TestCase):
    """The question --confirm asks carries the command and the host name."""

    def test_the_question_shows_command_and_host_inert(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-hostile-") as tmp:
            hosts_file = Path(tmp) / "hosts.json"
            hosts_file.write_text(json.dumps(HOSTILE_HOSTS))
            with Peer.demo(hosts=hosts_file) as peer, \
                    Server(["--confirm", "exec"], env=dict(peer.env)) as server:
                init = dict(INIT, params=dict(INIT["params"], capabilities={"elicitation": {}}))
                server.ask(init)
                server.send({"jsonrpc": "2.0", "method": "notifications/initialized"},
                            {"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                             "params": {"name": "exec",
                                        "arguments": {"host": EVIL, "command": "bad\n\x1b[1A\x1b[2K ls"}}})
                question = server.receive()
                self.assertEqual(question["method"], "elicitation/create")
                self.assertEqual(question["params"]["message"],
                                 "Run this command on %s (root@10.0.0.1:22)?\n\nbad\\x0a\\x1b[1A\\x1b[2K ls"
                                 % EVIL_SHOWN)
                server.send({"jsonrpc": "2.0", "id": question["id"], "result": {"action": "decline"}})
                self.assertTrue(server.receive()["result"]["isError"])
                self.assertEqual(server.close()[0], 0)


if __name__ == "__main__":
    unittest.main()
