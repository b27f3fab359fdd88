"""A conversation closed before its final reply ends the remote command and
everything it started, whichever way the front end stopped: an MCP
cancellation or time limit, `sorvane exec --timeout`, Ctrl-C or SIGTERM.
The commands write nothing, so the hang-up alone must tell the stand-in
peer; a client that only half-closes keeps its command."""

import ctypes
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import harness
from mcp_test import INIT, Server, request
from peer import FRAME_JSON, Peer, split_frames

PATIENCE = 60.0  # for things outside the test to happen; never a measure of speed
WEB1 = "a1b2c3d4e5f60718"  # web-1 among the example hosts
# When the command's background job would create M: long after any stop.
WRITE_AFTER = 20
ENDED = "the client hung up; the command was ended"  # the peer's log, once the shell is reaped


def command(folder, write_after=WRITE_AFTER, output="open"):
    """Silent while it runs: records its pid and process group, leaves a
    background job that creates M later, and waits for it."""
    quiet = "exec >/dev/null 2>&1; " if output == "closed" else ""
    return ("cd '%s'; %sread -r s </proc/self/stat; set -- $s; echo $1 $5 >pid.tmp && mv pid.tmp pid; "
            "(sleep %d; touch M) & wait" % (folder, quiet, write_after))


def wait_for(probe):
    limit = time.monotonic() + PATIENCE
    while not probe() and time.monotonic() < limit:
        time.sleep(0.02)
    return probe()


def group_gone(group):
    """No process of the group is left. Its orphans are this process's
    children (a subreaper) and reaped here, as a zombie still counts."""
    try:
        while os.waitid(os.P_PGID, group, os.WEXITED | os.WNOHANG):
            pass
    except ChildProcessError:
        pass
    try:
        os.killpg(group, 0)
    except ProcessLookupError:
        return True
    return False


# Each stops a command through a front end once it runs (`started` says so)
# and returns what the front end reported.
def mcp_call(peer, arguments, server_args=(), cancel_once=None):
    with Server(server_args, env={"SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]}) as server:
        server.ask(INIT)
        server.send(request(7, "tools/call", {"name": "exec", "arguments": arguments}))
        if cancel_once:
            wait_for(cancel_once)
            server.send({"jsonrpc": "2.0", "method": "notifications/cancelled", "params": {"requestId": 7}})
            server.close()
            return "cancelled"
        return server.receive(PATIENCE)["result"]["structuredContent"]["timed_out"]


def cli(peer, args, stop_signal=None, started=None):
    if stop_signal is None:
        return harness.run(["exec", *args], env=peer.env, timeout=PATIENCE).status
    process = subprocess.Popen([harness.sorvane_bin(), "exec", *args], env=peer.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(started)
    process.send_signal(stop_signal)
    return process.wait(PATIENCE)


def half_closing_client(peer, text):
    """Sends the request, shuts its sending side, reads to the end: the last frame."""
    payload = json.dumps({"version": 2, "request": {"type": "exec", "host": WEB1, "command": text}}).encode()
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.settimeout(PATIENCE)
        conn.connect(peer.address)
        conn.sendall(struct.pack(">BI", FRAME_JSON, len(payload)) + payload)
        conn.shutdown(socket.SHUT_WR)
        received = bytearray()
        while chunk := conn.recv(1 << 16):
            received += chunk
    return split_frames(bytes(received))[-1:]


@unittest.skipUnless(sys.platform.startswith("linux") and not harness.is_windows(),
                     "process groups and a subreaper: Linux builds only")
class StoppedCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        libc = ctypes.CDLL(None, use_errno=True)
        PR_SET_CHILD_SUBREAPER = 36
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")

    def test_a_closed_conversation_ends_the_command_and_its_background_jobs(self):
        def started_in(folder):
            return lambda: (folder / "pid").exists()

        cases = [
            ("mcp cancellation", lambda peer, text, started: mcp_call(
                peer, {"host": WEB1, "command": text}, cancel_once=started), "cancelled"),
            ("mcp timeout_seconds", lambda peer, text, started: mcp_call(
                peer, {"host": WEB1, "command": text, "timeout_seconds": 1}), True),
            ("mcp --timeout", lambda peer, text, started: mcp_call(
                peer, {"host": WEB1, "command": text}, ("--timeout", "1")), True),
            ("exec --timeout", lambda peer, text, started: cli(
                peer, ["--timeout", "1s", "-q", "web-1", text]), 255),
            ("Ctrl-C", lambda peer, text, started: cli(
                peer, [WEB1, text], signal.SIGINT, started), -signal.SIGINT),
            ("SIGTERM, output closed", lambda peer, text, started: cli(
                peer, [WEB1, text], signal.SIGTERM, started), -signal.SIGTERM),
        ]
        for name, stop, reported in cases:
            with self.subTest(name), Peer.demo() as peer, tempfile.TemporaryDirectory() as tmp:
                folder = Path(tmp)
                text = command(folder, output="closed" if "closed" in name else "open")
                self.assertEqual(stop(peer, text, started_in(folder)), reported)
                self.assertTrue(wait_for(lambda: ENDED in peer.stderr()), peer.stderr())
                if (folder / "pid").exists():  # else a time limit came before the job began
                    shell, group = map(int, (folder / "pid").read_text().split())
                    self.assertEqual(group, shell, "the command leads a process group of its own")
                    self.assertTrue(wait_for(lambda: group_gone(group)), "the command's group is still there")
                self.assertFalse((folder / "M").exists(), "the background job outlived the stop")

    def test_a_half_closed_client_keeps_its_command(self):
        with Peer.demo() as peer, tempfile.TemporaryDirectory() as tmp:
            folder = Path(tmp)
            last = half_closing_client(peer, command(folder, write_after=1))
            self.assertEqual(last, [(FRAME_JSON, b'{"type":"exit","code":0}')])
            self.assertTrue((folder / "M").exists())


if __name__ == "__main__":
    unittest.main()
