"""Shell completion: the tool's hidden entry (on every build), and the bash, zsh and fish
scripts in completions/ typed into the real shells on a pseudo-terminal,
with the stand-in peer running and with nothing listening."""

import json
import os
import pty
import re
import select
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import harness
from peer import Peer

REPO = Path(__file__).resolve().parents[2]
SCRIPTS = REPO / "completions"
WEB_1 = "a1b2c3d4e5f60718"
WEB_2 = "a1b2c3d4e5f60719"

posix_only = unittest.skipIf(harness.is_windows(), "POSIX shells only")


def complete(words, env=None):
    return harness.run(["__complete", "sorvane"] + words, env=env)


class TheToolsEntry(unittest.TestCase):
    def test_host_name_or_id_prefix_gives_ids_with_name_group_and_address(self):
        with Peer.demo() as peer:
            cases = [
                ("web-1", [WEB_1 + "\tweb-1, production, deploy@10.0.1.11:22"]),
                ("WEB", [WEB_1, WEB_2]),
                ("A1B2", [WEB_1, WEB_2]),
                ("数据库", ["b7c8d9e0f1a2b3c4\t数据库主库, 数据库, postgres@db.example.internal:2222"]),
                ("build", ["c0ffee0000000001\tbuild-box, ci@build.example.internal:22"]),
                ("nothing-like-it", []),
            ]
            for index, (word, expected) in enumerate(cases):
                sub = ("exec", "upload", "download")[index % 3]  # an ID comes first in each
                status, out, err = complete([sub, word], env=peer.env)
                lines = out.decode().splitlines()
                self.assertEqual((status, err), (0, b""), word)
                if expected and "\t" not in expected[0]:
                    lines = [line.split("\t")[0] for line in lines]
                self.assertEqual(lines, expected, (sub, word))

    def test_nothing_listening_or_no_answer_offers_nothing_and_prints_nothing(self):
        self.assertEqual(complete(["exec", ""]), (0, b"", b""))
        # Refuses, or sends what is no host list: nothing either.
        for script in ('json {"type":"error","code":"not_enabled","message":"off"}\n',
                       "frame 4A - {\n", "close\n"):
            with Peer.script(script) as peer:
                self.assertEqual(complete(["exec", ""], env=peer.env), (0, b"", b""), script)
        # Accepts, then never answers: the deadline ends the wait.
        with Peer.script("pause 20000\n") as peer:
            started = time.monotonic()
            self.assertEqual(complete(["exec", ""], env=peer.env), (0, b"", b""))
            self.assertLess(time.monotonic() - started, 10)

    def test_the_entry_is_in_no_help_text(self):
        for args in (["--help"], ["-h"], ["help"]):
            self.assertNotIn(b"__complete", harness.run(args).stdout)


class Shell:
    """An interactive shell on a pseudo-terminal, fed keys as a person types."""

    TIMEOUT = 15.0

    def __init__(self, argv, setup, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execvpe(argv[0], argv, env)
        self.output = b""
        self.log = b""  # everything the shell printed
        self.type(setup + "\r")
        self.line()  # the echo of the setup line's result marker

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def read_until(self, pattern):
        deadline = time.monotonic() + self.TIMEOUT
        while True:
            found = re.search(pattern, self.output)
            if found:
                self.output = self.output[found.end():]
                return found
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("no %r in %r" % (pattern, self.output[-2000:]))
            ready, _, _ = select.select([self.fd], [], [], remaining)
            if ready:
                try:
                    chunk = os.read(self.fd, 65536)
                    self.output += chunk
                    self.log += chunk
                except OSError:
                    raise AssertionError("shell ended: %r" % self.output[-2000:])

    def line(self):
        """What `R` printed: the words of the line, as [word][word]..."""
        return self.read_until(rb"<<((?:\[[^\]\r\n]*\])*)>>").group(1).decode()

    def after_tab(self, text):
        """Types text and Tab, then prints the resulting line through R."""
        self.type(text + "\t")
        self.type("\x01R \r")  # Ctrl-A: to the start of the line
        return self.line()

    def close(self):
        os.close(self.fd)
        try:
            os.kill(self.pid, 9)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)


def shells(home):
    """Each shell with its completion loaded, and a command R that prints
    its arguments as [a][b]..."""
    bash_completion = "/usr/share/bash-completion/bash_completion"
    return {
        "bash": (["bash", "--norc", "--noprofile", "-i"],
                 "source %s; source %s; R() { printf '<<'; printf '[%%s]' \"$@\"; echo '>>'; }; R ready"
                 % (bash_completion, SCRIPTS / "sorvane.bash")),
        "zsh": (["zsh", "-f", "-i"],
                "fpath=(%s $fpath); autoload -U compinit; compinit -u -D; "
                "R() { printf '<<'; printf '[%%s]' \"$@\"; echo '>>'; }; R ready" % SCRIPTS),
        "fish": (["fish", "--no-config", "-i"],
                 "source %s; function R; printf '<<'; printf '[%%s]' $argv; echo '>>'; end; R ready"
                 % (SCRIPTS / "sorvane.fish")),
    }


@posix_only
class InTheShells(unittest.TestCase):
    def run_in_each_shell(self, data_dir, check):
        with tempfile.TemporaryDirectory(prefix="sorvane-shell-") as home:
            env = {"HOME": home, "TERM": "xterm", "PATH": "%s:/usr/bin:/bin" % os.path.dirname(harness.sorvane_bin()),
                   "SORVANE_DATA_DIR": str(data_dir), "XDG_CONFIG_HOME": home, "XDG_DATA_HOME": home}
            for name, (argv, setup) in shells(home).items():
                if not shutil.which(argv[0]):
                    self.fail("%s is not installed (scripts/setup installs it)" % name)
                with self.subTest(shell=name):
                    shell = Shell(argv, setup, env)
                    try:
                        check(shell, name, home)
                    finally:
                        shell.close()

    def test_with_the_desktop_running(self):
        def check(shell, name, home):
            Path(home, "local-file.txt").write_text("x")
            self.assertEqual(shell.after_tab("sorvane exec web-1"), "[sorvane][exec][%s]" % WEB_1)
            self.assertEqual(shell.after_tab("sorvane down"), "[sorvane][download]")
            self.assertEqual(shell.after_tab("sorvane download %s --j" % WEB_1),
                             "[sorvane][download][%s][--json]" % WEB_1)
            # Local paths where LOCAL goes; none where the remote path goes.
            self.assertEqual(shell.after_tab("sorvane upload %s %s/local-fi" % (WEB_1, home)),
                             "[sorvane][upload][%s][%s/local-file.txt]" % (WEB_1, home))
            self.assertEqual(shell.after_tab("sorvane download %s %s/local-fi" % (WEB_1, home)),
                             "[sorvane][download][%s][%s/local-fi]" % (WEB_1, home))
            # Several hosts match: the shell lists their IDs (bash after a
            # bell and the common start, zsh after the common start).
            shell.type("sorvane exec web" + "\t" * {"bash": 3, "zsh": 2, "fish": 1}[name])
            shell.read_until(WEB_1.encode())
            shell.read_until(WEB_2.encode())
            shell.type("\x01R \r")
            # fish keeps the word while its list is open; the others put in
            # what the IDs have in common.
            self.assertRegex(shell.line(), r"^\[sorvane\]\[exec\]\[(web|a1b2c3d4e5f6071)\]$")

        with Peer.demo() as peer:
            self.run_in_each_shell(peer.data_dir, check)

    def test_a_host_name_that_is_a_file_pattern_stays_one_candidate(self):
        # bash with failglob aborted on it, and with nullglob dropped it;
        # zsh with the user's options set as they please must keep it too.
        hosts = [{"id": "e0e0e0e0e0e0e0e0", "name": "web-*[ x", "group": None, "user": "u",
                  "host": "h", "port": 22}]
        with tempfile.TemporaryDirectory(prefix="sorvane-hosts-") as tmp:
            listed = Path(tmp, "hosts.json")
            listed.write_text(json.dumps(hosts))
            with Peer.demo(hosts=listed) as peer, tempfile.TemporaryDirectory(prefix="sorvane-shell-") as home:
                env = {"HOME": home, "TERM": "xterm", "SORVANE_DATA_DIR": str(peer.data_dir),
                       "PATH": "%s:/usr/bin:/bin" % os.path.dirname(harness.sorvane_bin())}
                for name, option in (("bash", "shopt -s failglob"), ("bash", "shopt -s nullglob"),
                                     ("zsh", "setopt glob_subst sh_word_split"), ("fish", "true")):
                    argv, setup = shells(home)[name]
                    with self.subTest(shell=name, option=option):
                        shell = Shell(argv, setup.replace("R ready", "%s; R ready" % option), env)
                        try:
                            self.assertEqual(shell.after_tab("sorvane exec web-"),
                                             "[sorvane][exec][e0e0e0e0e0e0e0e0]")
                            self.assertNotIn(b"no match", shell.log)
                        finally:
                            shell.close()

    def test_with_nothing_listening(self):
        def check(shell, name, home):
            self.assertEqual(shell.after_tab("sorvane exec web-1"), "[sorvane][exec][web-1]")
            self.assertNotIn(b"sorvane: [", shell.log)

        with tempfile.TemporaryDirectory(prefix="sorvane-nobody-") as data_dir:
            self.run_in_each_shell(data_dir, check)


if __name__ == "__main__":
    unittest.main()
