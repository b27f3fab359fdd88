"""End-to-end checks of sorvane-peer, the stand-in desktop application:
through the real sorvane binary, and (POSIX builds) with a raw frame client."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from peer import Peer, PeerError, host_path, FRAME_JSON, FRAME_STDOUT

WEB1 = "a1b2c3d4e5f60718"
WINDOWS = harness.is_windows()


def lines(data):
    return data.replace(b"\r\n", b"\n")


class DemoThroughSorvane(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.peer = Peer.demo().start()

    @classmethod
    def tearDownClass(cls):
        cls.peer.__exit__(None, None, None)

    def sorvane(self, *args, **kwargs):
        return harness.run(list(args), env=self.peer.env, **kwargs)

    def test_exec_streams_output_and_passes_the_exit_code_on(self):
        cases = [
            ("echo hi", 0, b"hi\n", b""),
            ("echo out&& echo err>&2&& exit 42", 42, b"out\n", b"err\n"),
        ]
        for command, status, out, err in cases:
            with self.subTest(command=command):
                result = self.sorvane("exec", WEB1, command)
                self.assertEqual(result.status, status)
                self.assertEqual(lines(result.stdout), out)
                self.assertEqual(lines(result.stderr), err)

    def test_list_filters_like_the_desktop_application(self):
        result = self.sorvane("list", "--json", "-q", "WEB")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual([h["id"] for h in json.loads(result.stdout)], [WEB1, "a1b2c3d4e5f60719"])
        self.assertEqual(json.loads(self.peer.request()),
                         {"version": 2, "request": {"type": "list", "query": "WEB"}})

    def test_unknown_host_is_an_error_reply(self):
        result = self.sorvane("exec", "0000000000000000", "echo hi")
        self.assertEqual(result.status, 255)
        self.assertEqual(result.stderr, "sorvane: [host_not_found] 找不到主机 0000000000000000\n".encode())

    def test_upload_and_download_copy_folders_with_honest_counters(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = Path(tmp)
            (tmp / "src" / "sub").mkdir(parents=True)
            (tmp / "src" / "a.txt").write_bytes(b"alpha")
            (tmp / "src" / "sub" / "b.txt").write_bytes(b"beta!")
            (tmp / "up").mkdir()
            (tmp / "down").mkdir()
            up = self.sorvane("upload", "--json", WEB1, host_path(tmp / "src"), host_path(tmp / "up"))
            self.assertEqual(up.status, 0, up.stderr)
            self.assertEqual(json.loads(up.stdout),
                             {"files": 2, "bytes": 10, "skipped": 0, "failed": 0, "failures": []})
            self.assertEqual((tmp / "up" / "src" / "sub" / "b.txt").read_bytes(), b"beta!")

            down = self.sorvane("download", "--json", WEB1, host_path(tmp / "up" / "src" / "a.txt"),
                                host_path(tmp / "down" / "renamed.txt"))
            self.assertEqual(down.status, 0, down.stderr)
            self.assertEqual((tmp / "down" / "renamed.txt").read_bytes(), b"alpha")

    def test_a_missing_source_is_a_transfer_failure(self):
        result = self.sorvane("download", WEB1, "/no/such/file/anywhere", host_path(self.peer.dir))
        self.assertEqual(result.status, 255)
        self.assertTrue(result.stderr.startswith(b"sorvane: [transfer_failed] "), result.stderr)

    def test_serves_one_client_after_another(self):
        for i in range(3):
            self.assertEqual(self.sorvane("exec", WEB1, "exit %d" % i).status, i)


class ScriptThroughSorvane(unittest.TestCase):
    def test_scripted_frames_reach_the_tool_as_written(self):
        cases = [
            # a character split between two frames shows once, whole, on a terminal
            ("stdout \\xe4\\xb8\nstdout \\xad\njson {\"type\":\"exit\",\"code\":0}\n",
             dict(stdout_tty=True), 0, "中".encode(), b""),
            ("stderr oops\\n\njson {\"type\":\"exit\",\"code\":-1}\n", {}, 255, b"", b"oops\n"),
            ("frame 4a 100 {\"type\"\n", {}, 255, b"",
             "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：failed to fill whole buffer\n".encode()),
            ("stdout partial\nclose\n", {}, 255, b"partial",
             "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected end of file\n".encode()),
        ]
        for script, tty, status, out, err in cases:
            with self.subTest(script=script), Peer.script(script) as peer:
                result = harness.run(["exec", WEB1, "anything"], env=peer.env, **tty)
                if tty:  # Wine's console wraps output in cursor show/hide sequences
                    self.assertIn(out, result.stdout)
                else:
                    self.assertEqual(result.stdout, out)
                self.assertEqual(result.stderr, err)
                self.assertEqual(result.status & 0xFF, status)
                self.assertEqual(json.loads(peer.request())["request"]["command"], "anything")

    def test_hosts_repeat_gives_a_list_of_that_many_hosts(self):
        with Peer.script("hosts-repeat 100\n") as peer:
            result = harness.run(["list", "--json"], env=peer.env)
            self.assertEqual(result.status, 0, result.stderr)
            self.assertEqual(len(json.loads(result.stdout)), 100)


class TwoPeers(unittest.TestCase):
    def test_a_second_peer_on_the_same_endpoint_is_refused(self):
        with Peer.demo() as first:
            second = Peer.demo()
            second.env = first.env
            try:
                with self.assertRaises(PeerError):
                    second.start()
                self.assertIn("already listening", second.stderr())
            finally:
                second.__exit__(None, None, None)
            self.assertEqual(harness.run(["exec", WEB1, "exit 5"], env=first.env).status, 5)


@unittest.skipIf(WINDOWS, "a raw Unix-socket client and POSIX signals")
class PeerProcess(unittest.TestCase):
    def test_stdout_repeat_sends_exactly_count_frames_of_size(self):
        with Peer.script("stdout-repeat 65536 20\njson {\"type\":\"exit\",\"code\":0}\n") as peer:
            frames = peer.converse('{"version":2,"request":{"type":"activate"}}')
            self.assertEqual([k for k, _ in frames], [FRAME_STDOUT] * 20 + [FRAME_JSON])
            self.assertTrue(all(len(p) == 65536 for _, p in frames[:20]))

    def test_once_serves_one_connection_and_removes_its_socket(self):
        with Peer.script("json {\"type\":\"activated\"}\n", once=True) as peer:
            self.assertEqual(peer.converse("{}"), [(FRAME_JSON, b'{"type":"activated"}')])
            self.assertEqual(peer.wait(), 0)
            self.assertFalse(os.path.exists(peer.address))

    def test_socket_is_private_and_removed_on_sigterm(self):
        with Peer.demo() as first:
            self.assertEqual(os.stat(first.address).st_mode & 0o777, 0o600)
            first.process.send_signal(signal.SIGTERM)
            first.wait()
            self.assertFalse(os.path.exists(first.address))


if __name__ == "__main__":
    unittest.main()
