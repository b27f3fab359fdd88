"""The command line and the entry flow, as seen from outside: statuses,
standard output and standard error of the real binary. Nothing here needs
the desktop application; the cases that use the stand-in peer only check
that the tool leaves it alone or hands its exit code on."""

import os
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

import harness

AFTER_HELP_END = ("255 means sorvane could not do what was asked "
                  "(the reason is printed as `sorvane: [code] message`).\n").encode()
AFTER_HELP_START = "Hosts are named by the 16-character ID that `sorvane list` prints".encode()
TOP_ABOUT = b"Run commands and move files on the SSH hosts saved in Sorvane\n"
TOP_LONG_ABOUT = (b"Run commands and move files on the SSH hosts saved in Sorvane.\n\n"
                  b"Sorvane holds the passwords and keys and makes the connections; this command never sees them.\n")
EXEC_LONG_ABOUT = (b"Run one command on a saved host and print its output.\n\n"
                   b"Opens a temporary connection, runs the command in the login shell, and closes it.")
EMPTY_COMMAND_LINE = "sorvane: [bad_request] 命令不能为空\n".encode()
UNREADABLE_STDIN = "sorvane: [bad_request] 无法读取标准输入：".encode()

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")


def peer_available():
    return bool(os.environ.get("SORVANE_PEER_BIN"))


class HelpAndVersion(unittest.TestCase):
    def test_no_arguments_prints_the_top_level_help_as_an_error(self):
        status, out, err = harness.run([])
        self.assertEqual(status, 2)
        self.assertEqual(out, b"")
        self.assertTrue(err.startswith(TOP_ABOUT), err)
        self.assertTrue(err.endswith(AFTER_HELP_END), err)

    def test_short_and_long_top_level_help_both_end_with_the_after_help(self):
        short = harness.run(["-h"])
        long = harness.run(["--help"])
        for status, out, err in (short, long):
            self.assertEqual((status, err), (0, b""))
            self.assertIn(AFTER_HELP_START, out)
            self.assertTrue(out.endswith(AFTER_HELP_END), out)
        self.assertTrue(short.stdout.startswith(TOP_ABOUT))
        self.assertIn(b"Print help (see more with '--help')", short.stdout)
        self.assertTrue(long.stdout.startswith(TOP_LONG_ABOUT))
        self.assertIn(b"Print help (see a summary with '-h')", long.stdout)

    def test_subcommand_help_has_its_long_about_and_no_after_help(self):
        status, out, err = harness.run(["exec", "--help"])
        self.assertEqual((status, err), (0, b""))
        self.assertTrue(out.startswith(EXEC_LONG_ABOUT), out)
        self.assertNotIn(AFTER_HELP_START, out)
        self.assertIn(b"--stdin", out)

    def test_help_subcommand_shows_the_long_help(self):
        self.assertEqual(harness.run(["help", "exec"]).stdout, harness.run(["exec", "--help"]).stdout)
        self.assertEqual(harness.run(["help"]).stdout, harness.run(["--help"]).stdout)

    def test_version(self):
        for flag in ("-V", "--version"):
            self.assertEqual(harness.run([flag]), (0, b"sorvane 0.1.0-beta.4\n", b""))

    @posix_only
    def test_help_on_a_terminal_is_the_same_uncoloured_text(self):
        on_pipe = harness.run(["--help"])
        on_terminal = harness.run(["--help"], stdout_tty=True, stderr_tty=True)
        self.assertEqual(on_terminal, on_pipe)
        self.assertNotIn(b"\x1b[", on_terminal.stdout)


class CommandLineErrors(unittest.TestCase):
    def assert_usage_error(self, args, needle=None):
        status, out, err = harness.run(args)
        self.assertEqual(status, 2, (args, err))
        self.assertEqual(out, b"")
        self.assertTrue(err.startswith(b"error: "), err)
        self.assertIn(b"\nUsage: ", err)
        self.assertIn(b"--help", err)
        if needle is not None:
            self.assertIn(needle, err.split(b"\n")[0])

    def test_refused_command_lines(self):
        cases = [
            (["foo"], b"foo"),
            (["--json"], b"--json"),
            (["exec", "-V"], b"-V"),
            (["exec", "ID"], b"COMMAND"),
            (["exec", "ID", "x", "--stdin"], b"--stdin"),
            (["exec", "ID", "uname", "-a"], b"-a"),
            (["exec", "ID", "cmd", "--json"], b"--json"),
            (["upload", "ID", "a", "b", "c"], b"'c'"),
            (["upload", "ID", "", "r"], b"LOCAL"),
            (["download", "ID", "r", ""], b"LOCAL"),
            (["list", "x"], b"'x'"),
            (["list", "-q", "a", "-q", "b"], b"--query"),
            (["list", "--json", "--json"], b"--json"),
            (["help", "nope"], b"nope"),
            # A count that would wrap round, or a sign, is no count.
            (["exec", "a,b", "x", "--max-output", "-1"], b"--max-output"),
            (["exec", "a,b", "x", "--max-output", "18446744073709551616"], b"--max-output"),
        ]
        for args, needle in cases:
            with self.subTest(args=args):
                self.assert_usage_error(args, needle)

    def test_values_starting_with_a_slash_are_not_options(self):
        # Windows-style "/x" options would swallow remote paths.
        status, out, err = harness.run(["download", "ID", "/var/log/app.log", "."])
        self.assertEqual((status, out), (255, b""))
        self.assertTrue(err.startswith(b"sorvane: ["), err)

    @posix_only
    def test_text_values_must_be_utf8(self):
        for args in (["exec", b"\xff", "ls"], ["exec", "ID", b"ls \xe4\xb8"], ["list", "-q", b"\xfe"],
                     ["download", "ID", b"\xc0\xaf", "."]):
            with self.subTest(args=args):
                self.assert_usage_error(args)

    @posix_only
    def test_parse_error_on_a_terminal_is_the_same_text(self):
        self.assertEqual(harness.run(["exec", "ID", "uname", "-a"], stdout_tty=True, stderr_tty=True),
                         harness.run(["exec", "ID", "uname", "-a"]))


class LocalFailures(unittest.TestCase):
    """Failures found before any connection: one bad_request line, status 255."""

    def assert_empty_command(self, result):
        self.assertEqual(result, (255, b"", EMPTY_COMMAND_LINE))

    def test_empty_commands(self):
        cases = [
            (["exec", "ID", ""], b""),
            (["exec", "ID", " \t "], b""),
            (["exec", "ID", "\u3000\u00a0"], b""),
            (["exec", "ID", "\ufeff"], b""),
            (["exec", "ID", "--stdin"], b""),
            (["exec", "ID", "--stdin"], b"\xef\xbb\xbf\r\n \n"),
        ]
        for args, stdin in cases:
            with self.subTest(args=args, stdin=stdin):
                self.assert_empty_command(harness.run(args, stdin=stdin))

    @unittest.skipUnless(harness.is_windows(), "Windows console only")
    def test_console_shows_the_chinese_message(self):
        # Under a pseudo-terminal Wine provides a console with code page 437.
        status, _, err = harness.run(["exec", "ID", ""], stderr_tty=True)
        self.assertEqual(status, 255)
        self.assertIn(EMPTY_COMMAND_LINE.rstrip(b"\n"), err)

    @posix_only
    def test_empty_command_line_on_a_terminal(self):
        self.assertEqual(harness.run(["exec", "ID", ""], stdout_tty=True, stderr_tty=True),
                         (255, b"", EMPTY_COMMAND_LINE))

    @posix_only
    def test_stdin_is_read_only_with_the_flag(self):
        # Without --stdin the input is left alone even when it holds a command.
        self.assert_empty_command(harness.run(["exec", "ID", ""], stdin=b"ls\n"))
        self.assert_empty_command(harness.run(["exec", "ID", "--stdin"], stdin=None))

    @posix_only
    def test_stdin_that_is_not_utf8(self):
        for stdin in (b"ls \xff\n", b"echo \xe4\xb8", b"\xef\xbb\xbf\xed\xa0\x80"):
            with self.subTest(stdin=stdin):
                status, out, err = harness.run(["exec", "ID", "--stdin"], stdin=stdin)
                self.assertEqual((status, out), (255, b""))
                self.assertTrue(err.startswith(UNREADABLE_STDIN), err)
                self.assertTrue(err.endswith(b"\n") and err.count(b"\n") == 1, err)

    @posix_only
    def test_local_path_need_not_be_utf8(self):
        # Accepted by the parser; what follows is a failure of the conversation.
        status, out, err = harness.run(["upload", "ID", b"caf\xe9.txt", "~"])
        self.assertEqual(status, 255, err)
        self.assertTrue(err.startswith(b"sorvane: ["), err)

    @posix_only
    @unittest.skipUnless(peer_available(), "needs sorvane-peer")
    def test_local_failures_never_reach_the_desktop_application(self):
        from peer import Peer
        with Peer.script('json {"type":"exit","code":0}\n') as peer:
            for args, stdin in ((["exec", "ID", " "], b""), (["exec", "ID", "--stdin"], b"\xff")):
                with self.subTest(args=args):
                    status, _, err = harness.run(args, stdin=stdin, env=peer.env)
                    self.assertEqual(status, 255)
                    self.assertTrue(err.startswith(b"sorvane: [bad_request] "), err)
            self.assertIsNone(peer.request())


def run_on_input_that_never_ends(args, data, fifo=None):
    """Runs sorvane with `data` on standard input, or written to the FIFO
    `fifo`, and the input left open after it, as a device such as /dev/zero
    never ends: only a read that stops at its limit ends the run."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        env = dict(os.environ, SORVANE_DATA_DIR="/nonexistent/sorvane-bounded", WINEDEBUG="-all")
        process = subprocess.Popen(harness.wrapper() + [harness.sorvane_bin()] + args, env=env,
                                   stdin=subprocess.DEVNULL if fifo else subprocess.PIPE,
                                   stdout=out, stderr=err)

        def feed():
            sink = open(fifo, "wb") if fifo else process.stdin
            try:
                sink.write(data)
                sink.flush()
                process.wait()  # open until the tool has ended
            except BrokenPipeError:
                pass  # the tool stopped reading and ended
            finally:
                try:
                    sink.close()
                except BrokenPipeError:
                    pass

        threading.Thread(target=feed, daemon=True).start()
        try:
            status = process.wait(harness.TIMEOUT)
        finally:
            process.kill()  # if it is still reading
        out.seek(0)
        err.seek(0)
        return harness.Result(status, out.read(), err.read())


class InputThatNeverEnds(unittest.TestCase):
    """A command or a hosts file read to its end stops at its limit (one
    frame; 1 MiB) with a bad_request line, instead of filling memory."""

    def test_each_read_stops_at_its_limit(self):
        frame, hosts_file = 16 * 1024 * 1024, 1024 * 1024
        with tempfile.TemporaryDirectory(prefix="sorvane-fifo-") as tmp:
            fifo = str(Path(tmp) / "hosts")
            too_long = "longer than the limit of %d bytes" % hosts_file
            over_a_frame = "命令过长：标准输入仍未结束，超过一帧的上限 %d 字节（16 MiB）" % frame
            cases = [
                (["exec", "ID", "--stdin"], b"\0", frame, None, over_a_frame),
                # Not UTF-8, as /dev/urandom gives: the limit comes first.
                (["exec", "ID", "--stdin"], b"\xff", frame, None, over_a_frame),
                (["exec", "--hosts-file", "-", "true"], b"\0", hosts_file, None, "无法读取标准输入：" + too_long),
                (["exec", "--hosts-file", fifo, "true"], b"\0", hosts_file, fifo,
                 "无法读取主机列表文件：%s：%s" % (fifo, too_long)),
            ]
            for args, filler, limit, path, message in cases:
                if path and harness.is_windows():
                    continue  # no FIFO there
                if path and not os.path.exists(path):
                    os.mkfifo(path)
                with self.subTest(args=args, filler=filler):
                    result = run_on_input_that_never_ends(args, filler * (limit + 256 * 1024), path)
                    self.assertEqual(result, (255, b"", ("sorvane: [bad_request] %s\n" % message).encode()))


@posix_only
@unittest.skipUnless(peer_available(), "needs sorvane-peer")
class WithThePeer(unittest.TestCase):
    """End to end through the stand-in desktop application."""

    def run_with_script(self, script, args, **kwargs):
        from peer import Peer
        with Peer.script(script) as peer:
            result = harness.run(args, env=peer.env, **kwargs)
            return result, peer.request()

    def test_exit_codes_outside_0_to_255_never_read_as_success(self):
        for code, status in ((0, 0), (42, 42), (255, 255), (256, 1), (300, 44), (-1, 255), (-256, 1)):
            with self.subTest(code=code):
                (got, _, err), _ = self.run_with_script('json {"type":"exit","code":%d}\n' % code,
                                                        ["exec", "ID", "true"])
                self.assertEqual(got, status, err)

    def test_a_relative_runtime_directory_counts_as_unset(self):
        from peer import Peer
        with tempfile.TemporaryDirectory(prefix="sorvane-run-") as tmp, \
                tempfile.TemporaryDirectory(prefix="sorvane-cwd-") as cwd:
            # The peer listens in $TMPDIR; the relative name leads nowhere.
            with Peer.script('json {"type":"exit","code":7}\n',
                             extra_env={"XDG_RUNTIME_DIR": tmp, "TMPDIR": tmp}) as peer:
                env = dict(peer.env, XDG_RUNTIME_DIR="run", TMPDIR=tmp)
                self.assertEqual(harness.run(["exec", "ID", "true"], env=env, cwd=cwd).status, 7)

    def test_stdin_command_is_sent_without_bom_and_with_lf(self):
        _, request = self.run_with_script('json {"type":"exit","code":0}\n', ["exec", "ID", "--stdin"],
                                          stdin=b"\xef\xbb\xbfls\r\na\rb")
        self.assertEqual(request, b'{"version":2,"request":{"type":"exec","host":"ID","command":"ls\\na\\rb"}}')

    def test_relative_local_path_is_sent_absolute(self):
        _, request = self.run_with_script('json {"type":"exit","code":0}\n',
                                          ["download", "ID", "~/x", "missing/../out.zip"], cwd="/tmp")
        self.assertIn(b'"destination":"/tmp/out.zip"', request)

    def test_json_when_asked_or_when_stdout_is_not_a_terminal(self):
        script = ('json {"type":"hosts","hosts":[{"id":"0123456789abcdef","name":"web","user":"root",'
                  '"host":"10.0.0.1","port":22}]}\n')
        for args, stdout_tty, json_expected in ((["list"], False, True), (["list"], True, False),
                                                (["list", "--json"], True, True)):
            with self.subTest(args=args, stdout_tty=stdout_tty):
                (status, out, err), _ = self.run_with_script(script, args, stdout_tty=stdout_tty)
                self.assertEqual(status, 0, err)
                self.assertIn(b"0123456789abcdef", out)
                self.assertEqual(out.lstrip().startswith(b"["), json_expected, out)

    def test_progress_line_only_when_stderr_is_a_terminal(self):
        script = ('json {"type":"progress","files":0,"total_files":1,"bytes":5,"total_bytes":10}\n'
                  'json {"type":"transfer_done","files":1,"bytes":10,"skipped":0,"failed":0,"failures":[]}\n')
        args = ["upload", "ID", "missing.bin", "~"]
        (status, _, err), _ = self.run_with_script(script, args, stderr_tty=False, stdout_tty=True)
        self.assertEqual((status, err), (0, b""))
        (status, _, err), _ = self.run_with_script(script, args, stderr_tty=True, stdout_tty=False)
        self.assertEqual(status, 0)
        self.assertNotEqual(err, b"")

    def test_character_cut_at_the_end_shows_one_replacement_on_a_terminal(self):
        script = 'stdout ok\\xe4\\xb8\njson {"type":"exit","code":0}\n'
        (status, out, _), _ = self.run_with_script(script, ["exec", "ID", "x"], stdout_tty=True)
        self.assertEqual((status, out), (0, "ok\ufffd".encode()))
        (status, out, _), _ = self.run_with_script(script, ["exec", "ID", "x"])
        self.assertEqual((status, out), (0, b"ok\xe4\xb8"))


if __name__ == "__main__":
    unittest.main()
