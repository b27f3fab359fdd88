"""Text that the tool did not write, made to attack the terminal it is shown
on: host fields from a hostile hosts file, a remote file name, the desktop
application's error message, an audit line and a command to confirm. Each
reaches a real terminal (a pseudo-terminal) and the bytes that arrive are
checked: nothing can move the cursor, set the clipboard, reverse the text,
hide in it or make one host look like another, while the remote command's
own output passes as it was written."""

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
    """No control but `allowed` (tab included), no format character (zero-width
    and bidirectional ones, tags), no line or paragraph separator, valid UTF-8."""
    text = data.decode("utf-8")  # raises on anything else
    for char in text:
        bad = char not in allowed and unicodedata.category(char) in ("Cc", "Cf", "Zl", "Zp")
        test.assertFalse(bad, "U+%04X reaches the terminal in %r" % (ord(char), text))


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


A, B, C, W1, W2, T = ("e0000000000000%s" % n for n in ("a1", "b1", "c1", "d1", "d2", "f1"))
P, Q, R, S = ("e00000000000001%d" % n for n in range(4))
# A and B share a name, so show by ID, and C is named A's ID; W2 is W1 with a
# zero-width space; T's fields hold a tab, a line separator, a tag character,
# a soft hyphen and a left-to-right mark; P to S are the header lists
# {"a,b", "c"} and {"a", "b,c"}.
LOOK_ALIKE_HOSTS = [dict(id=id, name=name, user="u", host="10.0.3.1", port=22) for id, name in (
    (A, "dup"), (B, "dup"), (C, A), (W1, "web-1"), (W2, "web-1\u200b"), (P, "a,b"), (Q, "c"), (R, "a"),
    (S, "b,c"))] + [dict(id=T, name="web\t" + W1, group="g\u2028x", user="u\U000e0041",
                         host="h\u00ad\u200e", port=22)]


@posix_only  # a pseudo-terminal
class LookAlikeText(unittest.TestCase):
    """Different hosts never look the same, nor one field like two."""

    def test_tables_prefixes_and_gathered_headers_read_back_one_way(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-hostile-") as tmp:
            hosts_file = Path(tmp) / "hosts.json"
            hosts_file.write_text(json.dumps(LOOK_ALIKE_HOSTS))
            with Peer.demo(hosts=hosts_file) as peer:
                def run(*args):
                    result = harness.run(list(args), env=dict(peer.env, **DUMB), stdout_tty=True, stderr_tty=True)
                    assert_inert(self, result.stdout)
                    assert_inert(self, result.stderr)
                    return result.stdout.decode()
                rows = run("list").splitlines()
                prefixed = run("exec", ",".join((A, B, C, W1, W2, P, Q, R, S)), "echo hi")
                command = 'case "$SORVANE_DEMO_HOST_ID" in %s|%s) echo one;; %s|%s) echo two;; *) echo "$SORVANE_DEMO_HOST_ID";; esac'
                gathered = run("exec", "-b", ",".join((A, B, C, P, Q, R, S)), command % (P, Q, R, S))

        row = {line.split()[0]: line for line in rows}
        self.assertIn("  web-1\\u200b  ", row[W2])
        for cell in ("  web\\x09" + W1 + "  ", "  g\\u2028x  ", "  u\\U000e0041@h\\u00ad\\u200e:22"):
            self.assertIn(cell, row[T])
        # The tab forges no column: every address starts in one column.
        starts = {columns(line[:line.index(" u") + 1]) for line in rows[1:]}
        self.assertEqual(starts, {columns(rows[0][:rows[0].index("地址")])}, rows)

        shown = [A, B, A + " (" + C + ")", "web-1", "web-1\\u200b", "a,b", "c", "a", "b,c"]
        self.assertEqual(sorted(prefixed.splitlines()), sorted(name + ": hi" for name in shown))
        self.assertEqual(gathered, "".join("== %s（%d 台主机）\n%s\n" % group for group in (
            (A, 1, A), (B, 1, B), (A + " (" + C + ")", 1, C), ('"a,b",c', 2, "one"), ('a,"b,c"', 2, "two"))))


class HostileConfirmation(unittest.TestCase):
    """The question --confirm asks carries the command and the host name."""

    def test_the_question_shows_command_and_host_inert_and_its_end_in_view(self):
        # As raw lines: U+2028 goes as its own bytes, not as a JSON escape.
        cases = [
            ("bad\n\x1b[1A\x1b[2K ls", "bad\\x0a\\x1b[1A\\x1b[2K ls"),
            ("echo ok" + " " * 2000 + "; rm -rf ~", "echo ok[2000 spaces]; rm -rf ~"),
            ("echo ok" + "\t" * 300 + "; rm -rf ~", "echo ok[300 tabs]; rm -rf ~"),
            ("echo ok" + " \u3000\t" * 3 + "; rm -rf ~", "echo ok[9 white-space characters]; rm -rf ~"),
            ("echo ok" + " " * 8 + "x\t\u2028rm\u200b -rf ~", "echo ok        x\\x09\\u2028rm\\u200b -rf ~"),
        ]
        with tempfile.TemporaryDirectory(prefix="sorvane-hostile-") as tmp:
            hosts_file = Path(tmp) / "hosts.json"
            hosts_file.write_text(json.dumps(HOSTILE_HOSTS))
            with Peer.demo(hosts=hosts_file) as peer, \
                    Server(["--confirm", "exec"], env=dict(peer.env)) as server:
                init = dict(INIT, params=dict(INIT["params"], capabilities={"elicitation": {}}))
                server.ask(init)
                server.send({"jsonrpc": "2.0", "method": "notifications/initialized"})
                for n, (command, shown) in enumerate(cases, 1):
                    call = {"jsonrpc": "2.0", "id": n, "method": "tools/call",
                            "params": {"name": "exec", "arguments": {"host": EVIL, "command": command}}}
                    server.send(json.dumps(call, ensure_ascii=False).encode() + b"\n")
                    question = server.receive()
                    self.assertEqual(question["method"], "elicitation/create")
                    self.assertEqual(question["params"]["message"],
                                     "Run this command on %s (root@10.0.0.1:22)?\n\n%s" % (EVIL_SHOWN, shown))
                    server.send({"jsonrpc": "2.0", "id": question["id"], "result": {"action": "decline"}})
                    self.assertTrue(server.receive()["result"]["isError"])
                self.assertEqual(server.close()[0], 0)


if __name__ == "__main__":
    unittest.main()
