"""`sorvane exec` on several hosts, through the real binary against the
stand-in peer, which runs each host's command with the local shell: the
hosts chosen, every line whole behind its host, the streams apart, the
statuses, --json, --parallel, --timeout and Ctrl-C."""

import json
import os
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import harness
from peer import Peer, host_path

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")

WEB1, WEB2, DB1, DB2, SOLO = ("a1b2c3d4e5f60718", "a1b2c3d4e5f60719", "d0000000000000d1",
                              "d0000000000000d2", "c0ffee0000000001")
HOSTS = [
    {"id": WEB1, "name": "web-1", "group": "web", "user": "u", "host": "10.0.0.1", "port": 22},
    {"id": WEB2, "name": "web-2", "group": "web", "user": "u", "host": "10.0.0.2", "port": 22},
    {"id": DB1, "name": "db", "user": "u", "host": "10.0.1.1", "port": 22},
    {"id": DB2, "name": "db", "user": "u", "host": "10.0.1.2", "port": 22},
    {"id": SOLO, "name": "solo", "user": "u", "host": "10.0.2.1", "port": 22},
]
PATIENCE = 60.0  # for things outside the tool to happen; never a measure of speed


class FanOut(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="sorvane-fan-out-")
        self.dir = Path(self._tmp.name)
        hosts_file = self.dir / "hosts.json"
        hosts_file.write_text(json.dumps(HOSTS))
        self.peer = Peer.demo(hosts=hosts_file, one_at_a_time=self.one_at_a_time()).start()

    def tearDown(self):
        (self.dir / "release").touch()  # lets any command still waiting end
        self.peer.__exit__(None, None, None)
        self._tmp.cleanup()

    def one_at_a_time(self):
        return False

    def run_exec(self, *args, env=None, **options):
        return harness.run(["exec", *args], env=dict(self.peer.env, **(env or {})), **options)

    def lines(self, data):
        return sorted(data.decode().splitlines())

    def shell(self, text):
        """A POSIX command with D standing for the test's directory."""
        return "D='%s'; %s" % (self.dir, text)


class ChoosingHosts(FanOut):
    def test_ids_and_a_query(self):
        by_ids = self.run_exec(WEB2 + "," + SOLO + ",," + WEB2, "echo hi")
        self.assertEqual(by_ids.status, 0, by_ids.stderr)
        self.assertEqual(self.lines(by_ids.stdout), ["solo: hi", "web-2: hi"])
        by_query = self.run_exec("-q", "web", "echo hi")
        self.assertEqual((by_query.status, by_query.stderr), (0, b""))
        self.assertEqual(self.lines(by_query.stdout), ["web-1: hi", "web-2: hi"])

    def test_hosts_that_share_a_name_are_shown_by_id(self):
        result = self.run_exec("-q", "10.0.1", "echo hi")
        self.assertEqual(self.lines(result.stdout), [DB1 + ": hi", DB2 + ": hi"])

    @posix_only
    def test_the_command_from_stdin_goes_to_every_host(self):
        result = self.run_exec("--query", "web", "--stdin", stdin=b"\xef\xbb\xbfecho one\r\necho two\n")
        self.assertEqual(self.lines(result.stdout),
                         ["web-1: one", "web-1: two", "web-2: one", "web-2: two"])

    def test_an_empty_choice_runs_nothing(self):
        self.assertEqual(self.run_exec(",,", "true"), (255, b"", "sorvane: [bad_request] 没有给出主机 ID\n".encode()))
        for query in ["", " "]:  # would be every host
            self.assertEqual(self.run_exec("-q", query, "true"),
                             (255, b"", "sorvane: [bad_request] 查询不能为空\n".encode()))
        self.assertIsNone(self.peer.request())  # not even asked for the list
        self.assertEqual(self.run_exec("-q", "nothing-like-it", "true"),
                         (255, b"", "sorvane: [host_not_found] 没有与查询「nothing-like-it」匹配的主机\n".encode()))
        self.assertEqual(json.loads(self.peer.request())["request"]["type"], "list")

    @posix_only
    def test_the_one_host_form_is_untouched(self):
        self.assertEqual(self.run_exec(SOLO, "echo hi; exit 3"), (3, b"hi\n", b""))


@posix_only
class Output(FanOut):
    # Each host prints half a line to each stream, waits until the other host
    # has done the same, then ends both lines: the halves reach the tool
    # interleaved, and must leave it whole.
    INTERLEAVED = ("if mkdir \"$D/ticket\" 2>/dev/null; then me=A; other=B; else me=B; other=A; fi; "
                   "printf \"$me-out \"; printf \"$me-err \" >&2; touch \"$D/$me\"; "
                   "while [ ! -e \"$D/$other\" ]; do sleep 0.01; done; "
                   "printf \"$me-end\\n\"; printf \"$me-bye\" >&2")

    def test_lines_stay_whole_and_on_their_stream(self):
        result = self.run_exec(WEB1 + "," + WEB2, self.shell(self.INTERLEAVED))
        self.assertEqual(result.status, 0, result.stderr)
        out, err = self.lines(result.stdout), self.lines(result.stderr)
        names = sorted(line.split(": ")[0] for line in out)
        self.assertEqual(names, ["web-1", "web-2"])
        self.assertEqual(sorted(line.split(": ")[1] for line in out), ["A-out A-end", "B-out B-end"])
        self.assertEqual(sorted(line.split(": ")[1] for line in err), ["A-err A-bye", "B-err B-bye"])
        for name in names:  # each host's two lines are the same role's
            role = [line for line in out if line.startswith(name)][0][len(name) + 2]
            self.assertIn("%s: %s-err %s-bye" % (name, role, role), err)

    def test_colour_on_a_terminal_unless_no_colour(self):
        # Whatever terminal runs the tests: TERM=dumb would mean no colour.
        coloured = self.run_exec("-q", "web-1", "echo hi", stdout_tty=True, env={"TERM": "xterm", "NO_COLOR": ""})
        self.assertEqual(coloured.stdout, b"\x1b[36mweb-1:\x1b[0m hi\n")
        plain = self.run_exec("-q", "web-1", "echo hi", stdout_tty=True, env={"NO_COLOR": "1"})
        self.assertEqual(plain.stdout, b"web-1: hi\n")

    def test_invalid_utf8_is_repaired_on_a_terminal_only(self):
        command = "printf 'a\\377b\\n'"
        self.assertEqual(self.run_exec("-q", "solo", command).stdout, b"solo: a\xffb\n")
        on_terminal = self.run_exec("-q", "solo", command, stdout_tty=True, env={"NO_COLOR": "1"})
        self.assertEqual(on_terminal.stdout, "solo: a\ufffdb\n".encode())


@posix_only
class Statuses(FanOut):
    def test_each_status(self):
        first_fails = self.shell("if mkdir \"$D/ticket\" 2>/dev/null; then exit 3; fi")
        cases = [
            (["-q", "web", "true"], 0, b""),
            (["-q", "web", first_fails], 1, b""),
            ([WEB1 + ",nope," + WEB2, "true"], 255, "nope: sorvane: [host_not_found] 找不到主机 nope\n".encode()),
        ]
        for args, status, err in cases:
            with self.subTest(args=args):
                result = self.run_exec(*args)
                self.assertEqual((result.status, result.stderr), (status, err))

    def test_summary_on_a_terminal(self):
        result = self.run_exec(WEB1 + ",nope," + WEB2, "exit 4", stderr_tty=True, env={"NO_COLOR": "1"})
        self.assertEqual(result.status, 255)
        self.assertEqual(result.stderr.decode().splitlines()[-1],
                         "3 台主机中 0 台成功；失败：web-1（退出码 4）、nope（host_not_found）、web-2（退出码 4）")
        self.assertEqual(self.run_exec("-q", "web", "true", stderr_tty=True).stderr.decode(), "2 台主机全部成功\n")

    def test_json_one_object_per_host_and_line(self):
        result = self.run_exec("--json", "--max-output", "4", WEB1 + ",nope", "echo 12345; echo e >&2; exit 2")
        self.assertEqual((result.status, result.stderr), (255, b""))
        objects = sorted((json.loads(line) for line in result.stdout.decode().splitlines()),
                         key=lambda o: o["id"])
        self.assertEqual(objects, [
            {"id": WEB1, "name": "web-1", "exit_code": 2, "stdout": "1234", "stderr": "e\n",
             "stdout_truncated": True, "stderr_truncated": False, "error": None, "timed_out": False},
            {"id": "nope", "name": None, "exit_code": None, "stdout": "", "stderr": "",
             "stdout_truncated": False, "stderr_truncated": False,
             "error": "sorvane: [host_not_found] 找不到主机 nope", "timed_out": False},
        ])


@posix_only
class Scheduling(FanOut):
    def test_parallel_one_runs_the_hosts_in_turn_in_list_order(self):
        alone = self.shell("mkdir \"$D/running\" || echo overlap; sleep 0.05; rmdir \"$D/running\"; echo x")
        result = self.run_exec("--parallel", "1", "-q", "10.0", alone)
        self.assertEqual(result, (0, ("web-1: x\nweb-2: x\n%s: x\n%s: x\nsolo: x\n" % (DB1, DB2)).encode(), b""))

    def test_a_timeout_stops_one_host_while_the_others_finish(self):
        first_hangs = self.shell("if mkdir \"$D/ticket\" 2>/dev/null; then "
                                 "while [ ! -e \"$D/release\" ]; do sleep 0.05; done; fi; echo done")
        result = self.run_exec("--timeout", "5s", "-q", "web", first_hangs)
        self.assertEqual(result.status, 255)
        self.assertEqual(len(self.lines(result.stdout)), 1, result.stdout)
        self.assertRegex(result.stderr, b"^web-[12]: sorvane: \\[connect_failed\\] timed out after 5s\n$")

    def test_json_says_which_hosts_timed_out(self):
        hangs = self.shell("while [ ! -e \"$D/release\" ]; do sleep 0.05; done")
        result = self.run_exec("--json", "--timeout", "1000ms", "-q", "web", hangs)
        self.assertEqual((result.status, result.stderr), (255, b""))
        for line in result.stdout.decode().splitlines():
            self.assertEqual({key: value for key, value in json.loads(line).items() if key != "id"},
                             {"name": json.loads(line)["name"], "exit_code": None, "stdout": "", "stderr": "",
                              "stdout_truncated": False, "stderr_truncated": False,
                              "error": "sorvane: [connect_failed] timed out after 1s", "timed_out": True})
        self.assertEqual(len(result.stdout.splitlines()), 2)

    def test_ctrl_c_closes_every_conversation(self):
        # Each host's command says it started, then prints until the peer
        # finds its client gone and stops it.
        command = self.shell("echo $$ > \"$D/pid.$$\"; while [ ! -e \"$D/release\" ]; do echo tick; sleep 0.05; done")
        process = subprocess.Popen([harness.sorvane_bin(), "exec", "-q", "10.0", command], env=self.peer.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pids = wait_for(lambda: [int(p.read_text()) for p in self.dir.glob("pid.*") if p.read_text().strip()],
                        lambda found: len(found) == len(HOSTS))
        process.send_signal(signal.SIGINT)
        self.assertEqual(process.wait(PATIENCE), -signal.SIGINT)  # as an interrupted single exec
        self.assertEqual(wait_for(lambda: [pid for pid in pids if alive(pid)], lambda left: not left), [])


class OneInstance(FanOut):
    """A desktop application that serves one conversation at a time (on
    Windows: one pipe instance, busy for everyone else meanwhile)."""

    def one_at_a_time(self):
        return True

    def test_every_host_runs_in_turn_and_none_fails_busy(self):
        result = self.run_exec("--parallel", "8", "-q", "10.0", "echo x")
        self.assertEqual((result.status, result.stderr), (0, b""))
        self.assertEqual(self.lines(result.stdout.replace(b"\r", b"")),
                         sorted(["web-1: x", "web-2: x", DB1 + ": x", DB2 + ": x", "solo: x"]))


class TooLargeForAFrame(FanOut):
    def test_refused_before_anything_is_asked(self):
        command = b"echo " + b"x" * (16 * 1024 * 1024)
        for args in [[WEB1, "--stdin"], [WEB1 + "," + WEB2, "--stdin"], ["-q", "web", "--stdin"]]:
            with self.subTest(args=args):
                result = self.run_exec(*args, stdin=command)
                self.assertEqual((result.status, result.stdout), (255, b""))
                self.assertRegex(result.stderr.decode(),
                                 r"^sorvane: \[bad_request\] .* 16777216 字节（16 MiB）\n$")
                self.assertIsNone(self.peer.request())


class AFaultyListing(unittest.TestCase):
    """The listing that names the hosts stalls or breaks (so does every
    conversation after it): each host asked for by ID still gets its answer,
    and a stall ends at --timeout."""

    def run_on(self, script, *args):
        with Peer.script(script, parallel=True) as peer:
            return harness.run(["exec", *args], env=peer.env, timeout=PATIENCE)

    def test_every_id_gets_its_object(self):
        cases = [
            ("hold\n", "timed out after 1s", True),
            ("json {not json\n", "与 Sorvane 的连接意外中断：", False),
            ("raw J\\x00\\x00\\x00\\x10{\"type\"\n", "failed to fill whole buffer", False),
        ]
        for script, error, timed_out in cases:
            with self.subTest(script=script):
                result = self.run_on(script, "--json", "--timeout", "1s", WEB1 + "," + WEB2, "true")
                self.assertEqual(result.status, 255)
                objects = sorted((json.loads(line) for line in result.stdout.decode().splitlines()),
                                 key=lambda o: o["id"])
                self.assertEqual([(o["id"], o["name"], o["exit_code"], o["timed_out"]) for o in objects],
                                 [(WEB1, None, None, timed_out), (WEB2, None, None, timed_out)])
                for found in objects:
                    self.assertIn(error, found["error"])
                self.assertRegex(result.stderr.decode(), "^sorvane: 无法取得主机名称，各主机以 ID 运行：\\[connect_failed\\] ")

    def test_a_stalled_listing_ends_at_the_timeout(self):
        result = self.run_on("hold\n", "--timeout", "1s", "-q", "web", "true")
        self.assertEqual(result, (255, b"", b"sorvane: [connect_failed] timed out after 1s while listing the hosts\n"))
        terminal = self.run_on("hold\n", "--timeout", "1s", WEB1 + "," + WEB2, "true")
        self.assertEqual(terminal.status, 255)
        self.assertEqual(sorted(terminal.stderr.decode().splitlines()[1:]),
                         ["%s: sorvane: [connect_failed] timed out after 1s" % host for host in (WEB1, WEB2)])


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


def wait_for(probe, done):
    """Polls `probe` until `done` says yes; what it found last."""
    limit = time.monotonic() + PATIENCE
    while True:
        found = probe()
        if done(found) or time.monotonic() > limit:
            return found
        time.sleep(0.02)


if __name__ == "__main__":
    unittest.main()
