"""Start and stop sorvane-peer, the stand-in desktop application, for tests.

    with Peer.script("json {\"type\":\"exit\",\"code\":3}\n") as peer:
        run sorvane with env=peer.env ...
        peer.request()  # the request payload the peer received

    with Peer.demo() as peer: ...

The peer binary is $SORVANE_PEER_BIN, else found in $SORVANE_BUILD_DIR
(default: <repo>/build); when
$SORVANE_WRAPPER is set (Windows builds under Wine: "/usr/lib/wine/wine64")
the .exe is started through it and file paths are handed over as Z:\\ paths.
Each Peer has a data directory of its own, so concurrent tests never meet.
"""

import os
import shlex
import signal
import socket
import struct
import subprocess
import tempfile
import threading
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
EXAMPLE_HOSTS = REPO / "tools" / "peer" / "examples" / "hosts.json"
START_TIMEOUT = 60.0  # Wine's first start can take a long time

FRAME_JSON, FRAME_STDOUT, FRAME_STDERR = 0x4A, 0x31, 0x32


def build_dir():
    return Path(os.environ.get("SORVANE_BUILD_DIR", REPO / "build")).resolve()


def wrapper():
    return shlex.split(os.environ.get("SORVANE_WRAPPER", ""))


def exe(name):
    """Path of a built program, with .exe for a Windows build."""
    return str(build_dir() / (name + (".exe" if wrapper() else "")))


def host_path(path):
    """A path as the program under test sees it (Wine maps / to Z:)."""
    path = str(path)
    if wrapper() and path.startswith("/"):
        return "Z:" + path.replace("/", "\\")
    return path


class PeerError(RuntimeError):
    pass


class Peer:
    def __init__(self, mode_args, once=False, parallel=False, one_at_a_time=False, extra_env=None):
        self._tmp = tempfile.TemporaryDirectory(prefix="sorvane-peer-")
        tmp = Path(self._tmp.name)
        self.dir = tmp
        self.data_dir = tmp / "data"
        self.request_file = tmp / "request.bin"
        self.env = dict(os.environ)
        self.env["SORVANE_DATA_DIR"] = host_path(self.data_dir)
        self.env.update(extra_env or {})
        self.env.setdefault("WINEDEBUG", "-all")
        self._args = list(mode_args) + ["--request-out", host_path(self.request_file)]
        if once:
            self._args.append("--once")
        if parallel:
            self._args.append("--parallel")
        if one_at_a_time:
            self._args.append("--one-at-a-time")
        self.address = None
        self.process = None
        self._stderr = []

    @classmethod
    def script(cls, text, **kwargs):
        """A peer replaying `text` (the script format of `sorvane-peer --help`)."""
        peer = cls([], **kwargs)
        script_file = peer.dir / "script.txt"
        script_file.write_bytes(text.encode() if isinstance(text, str) else text)
        peer._args = ["script", host_path(script_file)] + peer._args
        return peer

    @classmethod
    def demo(cls, hosts=EXAMPLE_HOSTS, **kwargs):
        """A peer answering like the desktop application, with hosts from a file."""
        peer = cls([], **kwargs)
        peer._args = ["demo", "--hosts", host_path(hosts)] + peer._args
        return peer

    def start(self):
        binary = os.path.abspath(os.environ.get("SORVANE_PEER_BIN") or exe("sorvane-peer"))
        command = wrapper() + [binary] + self._args
        self.process = subprocess.Popen(command, env=self.env, cwd=self.dir, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._stderr_thread = threading.Thread(target=self._drain_stderr, daemon=True)
        self._stderr_thread.start()
        line = self._read_line(START_TIMEOUT)
        prefix = b"listening on "
        if not line.startswith(prefix):
            self.stop()
            raise PeerError("sorvane-peer did not start: %r %s" % (line, self.stderr()))
        self.address = line[len(prefix):].rstrip(b"\r\n").decode()
        return self

    def _read_line(self, timeout):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        return result[0] if result else b""

    def _drain_stderr(self):
        for line in self.process.stderr:
            self._stderr.append(line.decode(errors="replace"))

    def stderr(self):
        """What the peer logged so far (its own diagnostics)."""
        return "".join(self._stderr)

    def request(self):
        """The payload of the last request received, as bytes (None if none came)."""
        try:
            return self.request_file.read_bytes()
        except FileNotFoundError:
            return None

    def wait(self, timeout=30):
        """For --once peers: wait until the peer has finished and exited."""
        return self.process.wait(timeout)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process:
            self.process.stdout.close()
            self._stderr_thread.join(10)
            self.process.stderr.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        self._tmp.cleanup()
        return False

    # A minimal client of the frame protocol, for checking the peer itself
    # without the sorvane binary. POSIX builds only (a Unix socket).
    def converse(self, payload, timeout=30):
        """Sends one Json frame and returns the list of (kind, payload) frames
        until the peer closes; a truncated frame at the end comes back as
        ("truncated", bytes)."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
            conn.settimeout(timeout)
            conn.connect(self.address)
            data = payload.encode() if isinstance(payload, str) else payload
            conn.sendall(struct.pack(">BI", FRAME_JSON, len(data)) + data)
            received = bytearray()
            while True:
                chunk = conn.recv(1 << 20)
                if not chunk:
                    break
                received += chunk
        return split_frames(bytes(received))


def split_frames(data):
    frames = []
    while data:
        if len(data) < 5:
            frames.append(("truncated", data))
            break
        kind, length = struct.unpack(">BI", data[:5])
        if len(data) < 5 + length:
            frames.append(("truncated", data))
            break
        frames.append((kind, data[5:5 + length]))
        data = data[5 + length:]
    return frames
