"""What `list`, `upload` and `download` print, through the real binary: the
host table on a terminal, the JSON forms byte for byte, the summary
variants, and whole folder trees copied through the stand-in peer."""

import filecmp
import json
import os
import tempfile
import unittest
from pathlib import Path

import harness
from peer import Peer, host_path

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")

WEB1 = {"id": "0123456789abcdef", "name": "web-1", "user": "root", "host": "10.0.0.5", "port": 22,
        "os": "ubuntu"}
DB = {"id": "fedcba9876543210", "name": "db", "group": "生产", "user": "admin", "host": "10.0.0.16",
      "port": 2222}


def hosts_script(hosts):
    return "json " + json.dumps({"type": "hosts", "hosts": hosts}, ensure_ascii=False) + "\n"


def run_script(script, args, **options):
    with Peer.script(script) as peer:
        return harness.run(args, env=peer.env, **options)


class HostTable(unittest.TestCase):
    def table(self, hosts, *args):
        result = run_script(hosts_script(hosts), ["list", *args], stdout_tty=True)
        self.assertEqual(result.status, 0, result.stderr)
        return result.stdout.decode().split("\n")

    @posix_only
    def test_two_hosts_are_aligned_by_display_width(self):
        self.assertEqual(self.table([WEB1, DB]), [
            "ID                名称   分组  地址                  系统",
            "0123456789abcdef  web-1        root@10.0.0.5:22      Ubuntu",
            "fedcba9876543210  db     生产  admin@10.0.0.16:2222",
            "",
        ])

    @posix_only
    def test_wide_names_ipv6_and_os_names(self):
        hosts = [
            dict(WEB1, name="ＡＢ数据库", os="rhel"),
            dict(WEB1, name="x", host="fe80::1", port=2200, os="Ubuntu"),
            dict(WEB1, name="§…→①", os="raspbian"),
        ]
        self.assertEqual(self.table(hosts), [
            "ID                名称        分组  地址               系统",
            "0123456789abcdef  ＡＢ数据库        root@10.0.0.5:22   Red Hat",
            "0123456789abcdef  x                 root@fe80::1:2200",
            "0123456789abcdef  §…→①              root@10.0.0.5:22   Raspberry Pi OS",
            "",
        ])

    @posix_only
    def test_an_empty_table_is_a_message_on_stderr(self):
        result = run_script(hosts_script([]), ["list", "-q", "nothing"], stdout_tty=True)
        self.assertEqual(result, (0, b"", "没有匹配的主机\n".encode()))


class HostJson(unittest.TestCase):
    EXPECTED = ('[\n'
                '  {\n'
                '    "id": "0123456789abcdef",\n'
                '    "name": "web-1",\n'
                '    "group": null,\n'
                '    "user": "root",\n'
                '    "host": "10.0.0.5",\n'
                '    "port": 22,\n'
                '    "os": "ubuntu"\n'
                '  },\n'
                '  {\n'
                '    "id": "fedcba9876543210",\n'
                '    "name": "d\\"b\\\\\\t\\u0001/生",\n'
                '    "group": "生产",\n'
                '    "user": "admin",\n'
                '    "host": "10.0.0.16",\n'
                '    "port": 2222,\n'
                '    "os": null\n'
                '  }\n'
                ']\n').encode()

    def test_json_when_asked_or_when_stdout_is_not_a_terminal(self):
        hosts = [WEB1, dict(DB, name='d"b\\\t\x01/生')]
        piped = run_script(hosts_script(hosts), ["list"])
        self.assertEqual(piped, (0, self.EXPECTED, b""))
        if not harness.is_windows():
            asked = run_script(hosts_script(hosts), ["list", "--json"], stdout_tty=True)
            self.assertEqual(asked, (0, self.EXPECTED, b""))

    def test_an_empty_list_is_brackets(self):
        self.assertEqual(run_script(hosts_script([]), ["list", "--json"]), (0, b"[]\n", b""))


def summary_script(files, size, skipped, failed, failures):
    return "json " + json.dumps({"type": "transfer_done", "files": files, "bytes": size, "skipped": skipped,
                                 "failed": failed, "failures": failures}, ensure_ascii=False) + "\n"


class Summary(unittest.TestCase):
    @posix_only
    def test_sentence_variants(self):
        cases = [
            ((12, 3407872, 2, 0, []), 0, "已传输 12 个文件，共 3.2 MB，跳过 2 个\n", ""),
            ((1, 1023, 0, 0, []), 0, "已传输 1 个文件，共 1023 B\n", ""),
            ((0, 0, 0, 3, ["a: 拒绝访问", "b", "c"]), 1, "已传输 0 个文件，共 0 B，失败 3 个\n", "a: 拒绝访问\nb\nc\n"),
            ((5, 1280, 1, 1, ["x"]), 1, "已传输 5 个文件，共 1.2 KB，跳过 1 个，失败 1 个\n", "x\n"),
            ((2, 2, 0, 0, ["odd", "but shown"]), 0, "已传输 2 个文件，共 2 B\n", "odd\nbut shown\n"),
        ]
        for summary, status, out, err in cases:
            with self.subTest(summary=summary):
                result = run_script(summary_script(*summary), ["upload", "h", "/tmp", "~"], stdout_tty=True)
                self.assertEqual(result, (status, out.encode(), err.encode()))

    def test_json_summary(self):
        result = run_script(summary_script(3, 1536, 0, 1, ["坏\n文件"]), ["download", "h", "~/x", "."])
        self.assertEqual(result, (1, ('{\n  "files": 3,\n  "bytes": 1536,\n  "skipped": 0,\n  "failed": 1,\n'
                                      '  "failures": [\n    "坏\\n文件"\n  ]\n}\n').encode(), b""))
        clean = run_script(summary_script(0, 0, 0, 0, []), ["upload", "--json", "h", "x", "~"])
        self.assertEqual(clean, (0, b'{\n  "files": 0,\n  "bytes": 0,\n  "skipped": 0,\n  "failed": 0,\n'
                                    b'  "failures": []\n}\n', b""))


def make_tree(root, big_size):
    (root / "嵌套" / "deeper" / "deepest").mkdir(parents=True)
    (root / "empty-dir").mkdir()
    (root / "empty.txt").write_bytes(b"")
    (root / "嵌套" / "文件 名.txt").write_bytes("内容\n".encode() * 1000)
    (root / "嵌套" / "deeper" / "deepest" / "ü.bin").write_bytes(bytes(range(256)) * 17)
    with open(root / "big.bin", "wb") as big:
        chunk = os.urandom(1 << 20)
        for _ in range(big_size >> 20):
            big.write(chunk)


def same_tree(test, left, right):
    comparison = filecmp.dircmp(left, right)
    test.assertEqual((comparison.left_only, comparison.right_only, comparison.diff_files), ([], [], []))
    for name in comparison.common_files:
        test.assertTrue(filecmp.cmp(Path(left) / name, Path(right) / name, shallow=False), name)
    for name in comparison.common_dirs:
        same_tree(test, Path(left) / name, Path(right) / name)


class FolderTrees(unittest.TestCase):
    HOST = "a1b2c3d4e5f60718"

    def test_upload_and_download_a_tree(self):
        big = (50 << 20) if not harness.is_windows() else (4 << 20)
        with tempfile.TemporaryDirectory() as tmp, Peer.demo() as peer:
            tmp = Path(tmp)
            source = tmp / "源"
            make_tree(source, big)
            (tmp / "remote").mkdir()
            (tmp / "back").mkdir()

            up = harness.run(["upload", self.HOST, host_path(source), host_path(tmp / "remote")], env=peer.env,
                             stdout_tty=not harness.is_windows(), stderr_tty=not harness.is_windows())
            self.assertEqual(up.status, 0, up.stderr)
            same_tree(self, source, tmp / "remote" / "源")

            down = harness.run(["download", "--json", self.HOST, host_path(tmp / "remote" / "源"),
                                host_path(tmp / "back" / "copy")], env=peer.env)
            self.assertEqual(down.status, 0, down.stderr)
            self.assertEqual(down.stderr, b"")  # no progress line when stderr is not a terminal
            summary = json.loads(down.stdout)
            self.assertEqual((summary["files"], summary["failed"], summary["failures"]), (4, 0, []))
            self.assertEqual(summary["bytes"], sum(p.stat().st_size for p in source.rglob("*") if p.is_file()))
            same_tree(self, source, tmp / "back" / "copy")

            if not harness.is_windows():
                self.assertTrue(up.stdout.startswith("已传输 4 个文件，共 50.".encode()), up.stdout)
                # The progress line was drawn and then blanked before the summary.
                self.assertTrue(up.stderr.startswith(b"\r"), up.stderr)
                self.assertIn(" 个文件，".encode(), up.stderr)
                self.assertNotIn(b"\n", up.stderr)
                self.assertRegex(up.stderr, rb"\r +\r$")


if __name__ == "__main__":
    unittest.main()
