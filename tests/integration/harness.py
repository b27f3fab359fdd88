"""Run the sorvane binary the way a user would, and capture what it does.

    status, out, err = harness.run(["exec", "ID", ""], stdin=b"...",
                                   stdout_tty=True)

The binary is $SORVANE_BIN (default: <build dir>/sorvane[.exe], the build dir
being $SORVANE_BUILD_DIR or <repo>/build). With $SORVANE_WRAPPER set (Windows
builds: "/usr/lib/wine/wine64") the binary runs through it. Standard output
and standard error are pipes, or pseudo-terminals when asked for; a
pseudo-terminal is raw, so the bytes read are exactly the bytes written.
Every run gets a fresh, empty SORVANE_DATA_DIR unless the caller's env names
one, so nothing is listening where the tool looks for the desktop application.
"""

import collections
import os
import pty
import shlex
import subprocess
import tempfile
import threading
import tty
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
TIMEOUT = 120.0  # Wine's first start can be slow

Result = collections.namedtuple("Result", "status stdout stderr")


def wrapper():
    return shlex.split(os.environ.get("SORVANE_WRAPPER", ""))


def is_windows():
    """True for a Windows build (run under Wine): skip POSIX-only cases."""
    return bool(wrapper()) or sorvane_bin().endswith(".exe")


def sorvane_bin():
    explicit = os.environ.get("SORVANE_BIN")
    if explicit:
        return explicit
    build = Path(os.environ.get("SORVANE_BUILD_DIR", REPO / "build"))
    return str(build / ("sorvane.exe" if wrapper() else "sorvane"))


class _Capture:
    """One output stream of the child: a pipe, or a raw pseudo-terminal."""

    def __init__(self, use_pty):
        if use_pty:
            self.read_fd, self.child_fd = pty.openpty()
            tty.setraw(self.child_fd)
        else:
            self.read_fd, self.child_fd = os.pipe()
        self.data = bytearray()
        self._thread = threading.Thread(target=self._drain, daemon=True)

    def start(self):
        os.close(self.child_fd)  # the child holds its own copy now
        self._thread.start()

    def _drain(self):
        while True:
            try:
                chunk = os.read(self.read_fd, 65536)
            except OSError:  # EIO: the terminal's last writer has gone
                break
            if not chunk:
                break
            self.data += chunk
        os.close(self.read_fd)

    def finish(self, timeout):
        self._thread.join(timeout)
        return bytes(self.data)


def run(args, stdin=b"", env=None, stdout_tty=False, stderr_tty=False, cwd=None, timeout=TIMEOUT,
        program=None):
    """Runs sorvane (or `program`, such as sorvane-mcp) with `args` (str or
    bytes each) and returns Result(status, stdout bytes, stderr bytes).
    `stdin` is bytes, or None for /dev/null."""
    full_env = dict(os.environ)
    full_env.setdefault("WINEDEBUG", "-all")
    with tempfile.TemporaryDirectory(prefix="sorvane-cli-") as data_dir:
        full_env["SORVANE_DATA_DIR"] = data_dir
        full_env.update(env or {})
        out, err = _Capture(stdout_tty), _Capture(stderr_tty)
        command = wrapper() + [program or sorvane_bin()] + list(args)
        stdin_arg = subprocess.DEVNULL if stdin is None else subprocess.PIPE
        process = subprocess.Popen(command, stdin=stdin_arg, stdout=out.child_fd, stderr=err.child_fd,
                                   env=full_env, cwd=cwd)
        out.start()
        err.start()
        if stdin is not None:
            try:
                process.stdin.write(stdin)
                process.stdin.close()
            except BrokenPipeError:
                pass  # the tool need not read its input
        try:
            status = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        # A lingering wineserver may hold the streams open: once the tool has
        # exited, its output is complete after a short drain.
        return Result(status, out.finish(10), err.finish(10))
