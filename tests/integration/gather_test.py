"""`sorvane exec --gather` (-b) on several hosts, through the real binary
against the stand-in peer, whose commands learn which host they stand for
from SORVANE_DEMO_HOST_NAME: hosts with the same output and result shown
once under one header, in the order of their first host at any
--parallel, the streams apart, the status, --json and a terminal."""

import json
import os
import re
import tempfile
import unittest
from pathlib import Path

import harness
from peer import Peer

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")

WEB = ["a1b2c3d4e5f6070%d" % n for n in (1, 2, 3, 7)]
DB1, DB2, HOSTILE = "d0000000000000d1", "d0000000000000d2", "e000000000000001"
HOSTS = [{"id": id, "name": "web-0%s" % id[-1], "user": "u", "host": "10.0.0.%s" % id[-1], "port": 22}
         for id in WEB] + [
    {"id": DB1, "name": "db", "user": "u", "host": "10.0.1.1", "port": 22},
    {"id": DB2, "name": "db", "user": "u", "host": "10.0.1.2", "port": 22},
    {"id": HOSTILE, "name": "x\x1b[2J", "user": "u", "host": "10.0.2.1", "port": 22},
]
ALL_WEB = ",".join(WEB)


def header(text):
    return ("== " + text + "\n").encode()


@posix_only
class Gather(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="sorvane-gather-")
        self.dir = Path(self._tmp.name)
        (self.dir / "hosts.json").write_text(json.dumps(HOSTS))
        self.peer = Peer.demo(hosts=self.dir / "hosts.json").start()

    def tearDown(self):
        self.peer.__exit__(None, None, None)
        self._tmp.cleanup()

    def run_exec(self, *args, env=None, **options):
        return harness.run(["exec", *args], env=dict(self.peer.env, **(env or {})), **options)

    def on(self, names, then, otherwise=":"):
        """A command doing `then` on the hosts named, `otherwise` on the rest."""
        return 'case "$SORVANE_DEMO_HOST_NAME" in %s) %s;; *) %s;; esac' % ("|".join(names), then, otherwise)

    def test_groups(self):
        cases = [
            ("identical", [ALL_WEB, "echo same"], 0,
             header("web-[01-03,07]（4 台主机）") + b"same\n", b""),
            ("differing stdout", [ALL_WEB, self.on(["web-02"], "echo two", "echo rest")], 0,
             header("web-[01,03,07]（3 台主机）") + b"rest\n" + header("web-02（1 台主机）") + b"two\n", b""),
            ("differing stderr", [ALL_WEB, "echo out; " + self.on(["web-03"], "printf warn >&2")], 0,
             header("web-[01-02,07]（3 台主机）") + b"out\n" + header("web-03（1 台主机）") + b"out\n",
             header("web-03（1 台主机）") + b"warn\n"),
            ("differing exit code", [ALL_WEB, "echo x; " + self.on(["web-01", "web-07"], "exit 3")], 1,
             header("web-[01,07]（2 台主机）退出码 3") + b"x\n" + header("web-[02-03]（2 台主机）") + b"x\n", b""),
            ("an error", [WEB[0] + ",nope," + WEB[1], "true"], 255,
             header("web-[01-02]（2 台主机）") + header("nope（1 台主机）sorvane: [host_not_found] 找不到主机 nope"),
             b""),
            ("not run", ["--fail-fast", "--parallel", "1", ALL_WEB, "echo x; " + self.on(["web-02"], "exit 3")],
             255, header("web-01（1 台主机）") + b"x\n" + header("web-02（1 台主机）退出码 3") + b"x\n" +
             header("web-[03,07]（2 台主机）sorvane: [connect_failed] not run: 1 host failed (--fail-fast)"), b""),
            ("shared names", ["-q", "10.0.1", "printf 'same, no line feed'"], 0,
             header("%s,%s（2 台主机）" % (DB1, DB2)) + b"same, no line feed\n", b""),
        ]
        for name, args, status, out, err in cases:
            with self.subTest(name):
                self.assertEqual(self.run_exec("-b", *args), (status, out, err))

    def test_the_same_at_any_parallel_whatever_order_hosts_end_in(self):
        # Run together, web-01 ends last: it waits for web-07 to have ended.
        last_first = self.on(["web-07"], 'touch "%s/web-07"' % self.dir,
                             'while [ ! -e "%s/web-07" ]; do sleep 0.01; done' % self.dir)
        differing = "; echo $SORVANE_DEMO_HOST_NAME | cut -c1-5; " + self.on(["web-02"], "exit 1")
        expected = (1, header("web-[01,03,07]（3 台主机）") + b"web-0\n" +
                    header("web-02（1 台主机）退出码 1") + b"web-0\n", b"")
        self.assertEqual(self.run_exec("--gather", "--parallel", "8", ALL_WEB, last_first + differing), expected)
        self.assertEqual(self.run_exec("--gather", "--parallel", "1", ALL_WEB, "true" + differing), expected)

    def test_output_that_cannot_be_kept_fails_its_host_alone(self):
        # No folder for the temporary file: a host whose output outgrows
        # memory fails with what it had kept, the others are shown whole.
        sockets = os.environ.get("XDG_RUNTIME_DIR") or os.environ.get("TMPDIR") or "/tmp"
        env = {"XDG_RUNTIME_DIR": sockets, "TMPDIR": str(self.dir / "missing")}
        long = "head -c 300000 /dev/zero | tr '\\0' a"
        result = self.run_exec("-b", ALL_WEB, self.on(["web-02"], long, "echo short"), env=env)
        self.assertEqual((result.status, result.stderr), (255, b""))
        failed = "web-02（1 台主机）sorvane: [connect_failed] 与 Sorvane 的连接意外中断：cannot keep the output: "
        self.assertRegex(result.stdout.decode(), "^" + re.escape("== web-[01,03,07]（3 台主机）\nshort\n== " + failed) +
                         r"No such file or directory \(os error 2\)\na*\n?$")

    def test_json_one_object_per_group(self):
        result = self.run_exec("--json", "-b", "--max-output", "4", ALL_WEB + ",nope",
                               "echo 12345; " + self.on(["web-02"], "echo e >&2; exit 2"))
        self.assertEqual((result.status, result.stderr), (255, b""))
        hosts = [{"id": id, "name": "web-0" + id[-1]} for id in WEB]
        self.assertEqual([json.loads(line) for line in result.stdout.decode().splitlines()], [
            {"hosts": [hosts[0]] + hosts[2:], "exit_code": 0, "stdout": "1234", "stderr": "",
             "stdout_truncated": True, "stderr_truncated": False, "error": None, "timed_out": False},
            {"hosts": [hosts[1]], "exit_code": 2, "stdout": "1234", "stderr": "e\n",
             "stdout_truncated": True, "stderr_truncated": False, "error": None, "timed_out": False},
            {"hosts": [{"id": "nope", "name": None}], "exit_code": None, "stdout": "", "stderr": "",
             "stdout_truncated": False, "stderr_truncated": False,
             "error": "sorvane: [host_not_found] 找不到主机 nope", "timed_out": False},
        ])

    def test_on_a_terminal_coloured_headers_inert_names_and_a_summary(self):
        args = ["-b", WEB[0] + "," + WEB[1] + "," + HOSTILE,
                "printf '\\033[1mbold\\033[0m\\n'; " + self.on(["web-02"], "exit 4")]
        coloured = self.run_exec(*args, stdout_tty=True, stderr_tty=True, env={"TERM": "xterm", "NO_COLOR": ""})
        self.assertEqual(coloured.status, 1)
        bold = b"\x1b[1mbold\x1b[0m\n"  # the command's own escapes pass untouched
        self.assertEqual(coloured.stdout.replace(b"\r\n", b"\n"),
                         "\x1b[36m== web-01,\"x\\x1b[2J\"（2 台主机）\x1b[0m\n".encode() + bold +
                         "\x1b[31m== web-02（1 台主机）退出码 4\x1b[0m\n".encode() + bold)
        self.assertEqual(coloured.stderr.replace(b"\r\n", b"\n").decode(),
                         "3 台主机中 2 台成功；失败：web-02（退出码 4）\n")
        plain = self.run_exec(*args, stdout_tty=True, env={"NO_COLOR": "1"})
        self.assertTrue(plain.stdout.startswith("== web-01,\"x\\x1b[2J\"（2 台主机）\n".encode()), plain.stdout)


if __name__ == "__main__":
    unittest.main()
