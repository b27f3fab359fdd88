"""Whole conversations: the real sorvane binary against the stand-in peer,
replaying scripted frames. What reaches standard output and standard error,
byte for byte, and the exit status."""

import os
import subprocess
import unittest

import harness
from peer import Peer, host_path as peer_path

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")
BROKEN = "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：".encode()
EXIT0 = 'json {"type":"exit","code":0}\n'


def exec_with(script, args=("exec", "0123456789abcdef", "uptime"), **run_options):
    """Runs sorvane against a peer replaying `script`; returns the result and
    the request the peer received."""
    with Peer.script(script) as peer:
        result = harness.run(list(args), env=peer.env, **run_options)
        return result, peer.request()


class RequestOnTheWire(unittest.TestCase):
    def test_exec_request_is_compact_json_without_newline(self):
        _, request = exec_with(EXIT0, args=["exec", "abc", 'say "hi"\tthere\n你好'])
        self.assertEqual(request, '{"version":2,"request":{"type":"exec","host":"abc",'
                                  '"command":"say \\"hi\\"\\tthere\\n你好"}}'.encode())

    def test_list_without_query_sends_null(self):
        _, request = exec_with('json {"type":"hosts","hosts":[]}\n', args=["list"])
        self.assertEqual(request, b'{"version":2,"request":{"type":"list","query":null}}')

    @posix_only
    def test_local_paths_are_made_absolute_and_remote_paths_kept(self):
        done = 'json {"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":0,"failures":[]}\n'
        cwd = os.path.realpath(os.getcwd())
        _, upload = exec_with(done, args=["upload", "h", "./a/../b.zip", "~/x"])
        self.assertEqual(upload, ('{"version":2,"request":{"type":"upload","host":"h",'
                                  '"source":"%s/b.zip","destination":"~/x"}}' % cwd).encode())
        _, download = exec_with(done, args=["download", "h", "~/log", "."])
        self.assertEqual(download, ('{"version":2,"request":{"type":"download","host":"h",'
                                    '"source":"~/log","destination":"%s"}}' % cwd).encode())

    @posix_only
    def test_a_local_path_that_is_not_utf8_breaks_the_conversation(self):
        result, request = exec_with(EXIT0, args=[b"upload", b"h", b"/tmp/\xff", b"~"])
        self.assertEqual(result.status, 255)
        self.assertEqual(result.stderr, BROKEN + b"path contains invalid UTF-8 characters\n")
        self.assertIsNone(request)


class ExitStatus(unittest.TestCase):
    def test_remote_codes(self):
        cases = [(0, 0), (3, 3), (42, 42), (255, 255)]
        if not harness.is_windows():
            cases += [(300, 44), (256, 1), (-1, 255), (-256, 1)]
        for code, status in cases:
            result, _ = exec_with('json {"type":"exit","code":%d}\n' % code)
            self.assertEqual(result.status, status, code)
            self.assertEqual((result.stdout, result.stderr), (b"", b""))

    @unittest.skipUnless(harness.is_windows(), "Windows build only")
    def test_windows_passes_all_32_bits(self):
        # Wine hands only 8 bits to a Linux parent; cmd inside Wine sees all 32.
        for code, shown in ((300, b"300"), (-1, b"-1"), (256, b"256")):
            with Peer.script('json {"type":"exit","code":%d}\n' % code) as peer:
                command = harness.wrapper() + ["cmd", "/c", peer_path(harness.sorvane_bin()), "exec", "h", "x",
                                               "&", "echo", "%errorlevel%"]
                out = subprocess.run(command, env=peer.env, capture_output=True, timeout=120).stdout
            self.assertEqual(out.strip().splitlines()[-1], shown)

    def test_stderr_output_does_not_change_a_zero_code(self):
        result, _ = exec_with("stderr warning\\n\n" + EXIT0)
        self.assertEqual(result, (0, b"", b"warning\n"))

    def test_activated_prints_nothing(self):
        result, _ = exec_with('json {"type":"activated","extra":1}\n')
        self.assertEqual(result, (0, b"", b""))

    def test_error_reply_prints_its_own_code_and_message(self):
        result, _ = exec_with('stdout before\n'
                              'json {"message":"找不到主机","code":"host_not_found","type":"error"}\n')
        self.assertEqual(result, (255, b"before", "sorvane: [host_not_found] 找不到主机\n".encode()))

    def test_hosts_reply_to_exec_is_printed(self):
        result, _ = exec_with('json {"type":"hosts","hosts":[]}\n')
        self.assertEqual(result, (0, b"[]\n", b""))


class RemoteOutput(unittest.TestCase):
    def test_bytes_pass_through_unchanged_to_pipes(self):
        script = ("stdout line one\\n\n" "stderr \\xff\\xe4\\xb8\n" "stdout \\x1b[31mred\\x1b[0m\n"
                  "stdout \n" "stdout no newline\n" + EXIT0)
        result, _ = exec_with(script)
        self.assertEqual(result, (0, b"line one\n\x1b[31mred\x1b[0mno newline", b"\xff\xe4\xb8"))

    @posix_only
    def test_terminal_gets_valid_utf8_only(self):
        script = ("stdout \\xe4\\xb8\n" "stdout \\xad|\\xff|\\xe4\\xb8A|\n" "stdout \\xe4\\xb8\n"
                  "stderr \\xe4\n" + EXIT0)
        result, _ = exec_with(script, stdout_tty=True, stderr_tty=True)
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stdout, "中|\ufffd|\ufffdA|\ufffd".encode())
        self.assertEqual(result.stderr, "\ufffd".encode())

    @posix_only
    def test_split_character_to_a_file_is_written_as_it_arrives(self):
        result, _ = exec_with("stdout \\xe4\\xb8\n" "stdout \\xad\n" + EXIT0, stderr_tty=True)
        self.assertEqual(result.stdout, "中".encode())

    @posix_only
    def test_a_reader_that_goes_away_is_a_broken_conversation(self):
        script = "stdout-repeat 65536 64\n" + EXIT0
        with Peer.script(script) as peer:
            process = subprocess.Popen([harness.sorvane_bin(), "exec", "h", "yes"], env=peer.env,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            process.stdout.read(10)
            process.stdout.close()
            err = process.stderr.read()
            process.stderr.close()
            status = process.wait(30)
        self.assertEqual(status, 255)  # not a death by SIGPIPE
        self.assertTrue(err.startswith(BROKEN), err)
        self.assertIn(b"(os error 32)", err)


class BrokenConversations(unittest.TestCase):
    def assert_broken(self, script, description):
        result, _ = exec_with(script)
        self.assertEqual(result.status, 255, script)
        self.assertTrue(result.stderr.endswith(BROKEN + description.encode() + b"\n"),
                        (script, result.stderr))

    def test_endings_and_bad_frames(self):
        cases = [
            ("close\n", "unexpected end of file"),
            ("stdout partial\nclose\n", "unexpected end of file"),
            ("raw J\n", "failed to fill whole buffer"),
            ("raw J\\x00\\x00\n", "failed to fill whole buffer"),
            ("frame 4a 100 {\"type\"\n", "failed to fill whole buffer"),
            ("raw j\\x00\\x00\\x00\\x00\n", "unknown frame"),
            ("raw \\x00\n", "unknown frame"),
            ("raw J\\x01\\x00\\x00\\x01\n", "frame too large"),
        ]
        for script, description in cases:
            with self.subTest(script=script):
                self.assert_broken(script, description)

    def test_undecodable_replies(self):
        for payload in ('{"type":"exited","code":0}', '{"type":"exit","code":2147483648}',
                        '{"type":"error","code":"NOT_RUNNING","message":"x"}', '{"type":"exit"} {}'):
            with self.subTest(payload=payload):
                result, _ = exec_with("json %s\n" % payload)
                self.assertEqual(result.status, 255)
                self.assertTrue(result.stderr.startswith(BROKEN), result.stderr)
                self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)

    def test_frames_after_the_final_reply_have_no_effect(self):
        result, _ = exec_with('json {"type":"exit","code":5}\n' "stdout late\n" "raw garbage\n")
        self.assertEqual(result, (5, b"", b""))

    def test_not_running(self):
        result = harness.run(["exec", "h", "uptime"])
        self.assertEqual(result.status, 255)
        self.assertEqual(result.stderr, ("sorvane: [not_running] Sorvane 未运行：请先打开 Sorvane，"
                                         "并在 设置 → 外部 CLI 中打开「启用外部 CLI」\n").encode())


class Progress(unittest.TestCase):
    PROGRESS = 'json {"type":"progress","files":%d,"total_files":10,"bytes":1536,"total_bytes":1048576}\n'
    DONE = 'json {"type":"transfer_done","files":10,"bytes":1048576,"skipped":0,"failed":0,"failures":[]}\n'

    @posix_only
    def test_progress_is_drawn_on_a_terminal_and_erased_before_the_summary(self):
        script = self.PROGRESS % 3 + self.PROGRESS % 10 + self.DONE
        result, _ = exec_with(script, args=["upload", "h", "/tmp", "~"], stdout_tty=True, stderr_tty=True)
        line3 = "3/10 个文件，1.5 KB / 1.0 MB"
        line10 = "10/10 个文件，1.5 KB / 1.0 MB"
        self.assertEqual(result.stderr, ("\r" + line3 + "\r" + line10 + "\r" + " " * 29 + "\r").encode())
        self.assertEqual(result.stdout, "已传输 10 个文件，共 1.0 MB\n".encode())
        self.assertEqual(result.status, 0)

    def test_no_progress_when_stderr_is_not_a_terminal(self):
        result, _ = exec_with(self.PROGRESS % 3 + self.DONE, args=["upload", "h", "/tmp", "~"])
        self.assertEqual(result.stderr, b"")
        self.assertIn(b'"failures": []', result.stdout)

    @posix_only
    def test_error_after_progress_starts_at_the_beginning_of_the_line(self):
        script = self.PROGRESS % 3 + 'json {"type":"error","code":"transfer_failed","message":"磁盘满"}\n'
        result, _ = exec_with(script, args=["upload", "h", "/tmp", "~"], stderr_tty=True)
        self.assertTrue(result.stderr.endswith(("\r" + " " * 28 + "\rsorvane: [transfer_failed] 磁盘满\n")
                                               .encode()), result.stderr)
        self.assertEqual(result.status, 255)


if __name__ == "__main__":
    unittest.main()
