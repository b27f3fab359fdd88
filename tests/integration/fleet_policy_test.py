"""The failure policy and the hosts file of a run on several hosts, through
the real binary against the stand-in peer: hosts after the failures are not
started and are reported as not run, and IDs come from a file or stdin."""

import json
import unittest

from fan_out_test import DB1, DB2, FanOut, SOLO, WEB1, WEB2, posix_only

IN_ORDER = ["web-1", "web-2", DB1, DB2, "solo"]  # what -q 10.0 chooses, --parallel 1


@posix_only
class FailurePolicy(FanOut):
    def counted(self, fail_when):
        """A command that counts the hosts that really ran it and fails where
        `fail_when` (a test on $n, the host's place) holds."""
        return self.shell("n=$(($(cat \"$D/n\" 2>/dev/null || echo 0) + 1)); echo $n > \"$D/n\"; "
                          "echo ran; if %s; then exit 3; fi" % fail_when)

    def test_hosts_after_the_failures_are_not_run(self):
        cases = [
            (["--fail-fast"], "[ $n -eq 2 ]", 2, "1 host failed (--fail-fast)"),
            (["--max-fail", "2"], "true", 2, "2 hosts failed (--max-fail 2)"),
            (["--max-fail", "2"], "[ $n -eq 4 ]", 5, None),  # one failure is under the limit
        ]
        for options, fail_when, ran, why in cases:
            with self.subTest(options=options, fail_when=fail_when):
                (self.dir / "n").unlink(missing_ok=True)
                result = self.run_exec("--parallel", "1", *options, "-q", "10.0", self.counted(fail_when),
                                       stderr_tty=True, env={"NO_COLOR": "1"})
                self.assertEqual((self.dir / "n").read_text().strip(), str(ran))
                self.assertEqual(result.stdout.decode(), "".join("%s: ran\n" % h for h in IN_ORDER[:ran]))
                not_run = IN_ORDER[ran:]
                lines = result.stderr.decode().splitlines()
                self.assertEqual(lines[:-1], ["%s: sorvane: [connect_failed] not run: %s" % (h, why)
                                              for h in not_run])
                self.assertEqual(result.status, 255 if not_run else 1)
                if not_run:  # the summary names them as not run
                    self.assertTrue(lines[-1].endswith("、".join("%s（未运行）" % h for h in not_run)),
                                    lines[-1])

    def test_json_reports_the_hosts_not_run(self):
        result = self.run_exec("--json", "--parallel", "1", "--fail-fast", WEB1 + "," + WEB2 + "," + SOLO,
                               self.counted("true"))
        self.assertEqual((result.status, result.stderr), (255, b""))
        objects = [json.loads(line) for line in result.stdout.decode().splitlines()]
        self.assertEqual([(o["id"], o["exit_code"], o["error"]) for o in objects], [
            (WEB1, 3, None),
            (WEB2, None, "sorvane: [connect_failed] not run: 1 host failed (--fail-fast)"),
            (SOLO, None, "sorvane: [connect_failed] not run: 1 host failed (--fail-fast)"),
        ])
        self.assertFalse(any(o["timed_out"] for o in objects))

    def test_fail_fast_and_max_fail_are_refused_together(self):
        result = self.run_exec("--fail-fast", "--max-fail", "2", "-q", "web", "true")
        self.assertEqual(result.status, 2)
        self.assertTrue(result.stderr.startswith(b"error: --fail-fast excludes --max-fail\n"), result.stderr)


class HostsFile(FanOut):
    LISTED = ("\ufeff# the web servers\r\n%s\r\n\r\n   %s   # the odd one\n\n%s\n# %s\n"
              % (WEB2, SOLO, WEB2, WEB1)).encode()

    def test_ids_from_a_file_or_stdin(self):
        listed = self.dir / "hosts"
        listed.write_bytes(self.LISTED)
        for args, stdin in [([str(listed)], b""), (["-"], self.LISTED)]:
            with self.subTest(args=args):
                result = self.run_exec("--parallel", "1", "--hosts-file", *args, "echo hi", stdin=stdin)
                # The Windows peer's shell ends its lines with CR LF.
                self.assertEqual((result.status, result.stdout.replace(b"\r", b""), result.stderr),
                                 (0, b"web-2: hi\nsolo: hi\n", b""))

    def test_a_file_without_ids_or_unreadable_runs_nothing(self):
        empty = self.dir / "empty"
        empty.write_text("# nobody\n\n")
        cases = [
            ([str(empty)], "sorvane: [bad_request] 没有给出主机 ID\n"),
            ([str(self.dir / "missing")], "sorvane: [bad_request] 无法读取主机列表文件：%s\n" % (self.dir / "missing")),
        ]
        for args, err in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_exec("--hosts-file", *args, "true"), (255, b"", err.encode()))
        self.assertIsNone(self.peer.request())


if __name__ == "__main__":
    unittest.main()
