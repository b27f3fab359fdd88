"""`sorvane upload` and `download` on several hosts, through the real binary
against the stand-in peer, whose transfers are local copies: a folder per
host for downloads (IDs where names are shared or unsafe), one line or one
JSON object per host, failed files named, the summary and the statuses."""

import json
import os
import tempfile
import unittest
from pathlib import Path

import harness
from peer import Peer, host_path

posix_only = unittest.skipIf(harness.is_windows(), "POSIX build only")

WEB1, WEB2, DB1, DB2, ODD = ("a1b2c3d4e5f60718", "a1b2c3d4e5f60719", "d0000000000000d1",
                             "d0000000000000d2", "0dd0000000000001")
HOSTS = [
    {"id": WEB1, "name": "web-1", "user": "u", "host": "10.0.0.1", "port": 22},
    {"id": WEB2, "name": "web-2", "user": "u", "host": "10.0.0.2", "port": 22},
    {"id": DB1, "name": "db", "user": "u", "host": "10.0.1.1", "port": 22},
    {"id": DB2, "name": "db", "user": "u", "host": "10.0.1.2", "port": 22},
    {"id": ODD, "name": "../CON", "user": "u", "host": "10.0.2.1", "port": 22},  # no folder name
]
TREE = {"a.txt": b"alpha\n", "sub/b.bin": bytes(range(256)) * 4}
TREE_BYTES = sum(len(data) for data in TREE.values())


def files_under(root):
    """{relative path: bytes} of every file below `root`."""
    root = Path(root)
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


class FleetTransfers(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="sorvane-fleet-transfer-")
        self.dir = Path(self._tmp.name)
        (self.dir / "hosts.json").write_text(json.dumps(HOSTS))
        self.tree = self.dir / "tree"
        for name, data in TREE.items():
            (self.tree / name).parent.mkdir(parents=True, exist_ok=True)
            (self.tree / name).write_bytes(data)
        self.peer = Peer.demo(hosts=self.dir / "hosts.json").start()

    def tearDown(self):
        self.peer.__exit__(None, None, None)
        self._tmp.cleanup()

    def run_tool(self, *args, env=None, **options):
        return harness.run(list(args), env=dict(self.peer.env, **(env or {})), **options)

    def json_lines(self, result):
        return sorted((json.loads(line) for line in result.stdout.decode().splitlines()), key=lambda o: o["id"])

    def landed(self, folder):
        """{host folder: its files} of a download's destination."""
        return {entry.name: files_under(entry) for entry in sorted(Path(folder).iterdir())}

    def break_a_file(self):
        """The tree gets a link to nothing: each copy fails that file only."""
        os.symlink(self.dir / "gone", self.tree / "dangling")


class Downloads(FleetTransfers):
    def test_each_host_lands_in_its_own_folder(self):
        tree = {"tree/" + name: data for name, data in TREE.items()}
        ok = {"files": 2, "bytes": TREE_BYTES, "failed": 0, "failures": [], "error": None}
        not_found = {"files": None, "bytes": None, "failed": None, "failures": [],
                     "error": "sorvane: [host_not_found] 找不到主机 nope"}
        cases = [
            # IDs stand in for the shared name and for the one no folder can have.
            (",".join([WEB1, WEB2, DB1, DB2, ODD]), 0,
             {"web-1": tree, "web-2": tree, DB1: tree, DB2: tree, ODD: tree},
             {WEB1: ok, WEB2: ok, DB1: ok, DB2: ok, ODD: ok}),
            (WEB1 + ",nope", 255, {"web-1": tree, "nope": {}}, {WEB1: ok, "nope": not_found}),
        ]
        for index, (ids, status, folders, objects) in enumerate(cases):
            with self.subTest(ids=ids):
                local = self.dir / ("down-%d" % index)
                result = self.run_tool("download", ids, host_path(self.tree), host_path(local))
                self.assertEqual((result.status, result.stderr), (status, b""))
                self.assertEqual(self.landed(local), folders)
                self.assertEqual({o.pop("id"): o for o in self.json_lines(result)},
                                 {id: dict(o, name=self.name_of(id)) for id, o in objects.items()})

    def name_of(self, host):
        return next((h["name"] for h in HOSTS if h["id"] == host), None)

    def test_a_host_whose_id_cannot_be_a_folder_does_not_run(self):
        local = self.dir / "down"
        result = self.run_tool("download", "--json", WEB1 + ",../evil", host_path(self.tree), host_path(local))
        self.assertEqual(result.status, 255)
        self.assertEqual(self.landed(local), {"web-1": {"tree/" + name: data for name, data in TREE.items()}})
        self.assertFalse((self.dir / "evil").exists())
        evil = [o for o in self.json_lines(result) if o["id"] == "../evil"][0]
        self.assertRegex(evil["error"], r"^sorvane: \[bad_request\] .*\.\./evil")

    def test_a_destination_that_is_a_file_fails_every_host(self):
        local = self.dir / "a-file"
        local.write_bytes(b"")
        result = self.run_tool("download", "-q", "web", host_path(self.tree), host_path(local))
        self.assertEqual(result.status, 255)
        for found in self.json_lines(result):
            self.assertRegex(found["error"], r"^sorvane: \[bad_request\] 无法创建文件夹 ")

    @posix_only
    def test_lines_on_a_terminal_with_failed_files_named(self):
        self.break_a_file()
        result = self.run_tool("download", "-q", "web", host_path(self.tree), host_path(self.dir / "down"),
                               stdout_tty=True, stderr_tty=True, env={"NO_COLOR": "1"})
        self.assertEqual(result.status, 1)
        self.assertEqual(sorted(result.stdout.decode().splitlines()),
                         ["web-%d: 已传输 2 个文件，共 %s，失败 1 个" % (n, "1.0 KB") for n in (1, 2)])
        err = result.stderr.decode().splitlines()
        self.assertEqual(sorted(line.split(": ")[0] for line in err[:-1]), ["web-1", "web-2"])
        for line in err[:-1]:
            self.assertIn("dangling", line)
        self.assertEqual(err[-1], "2 台主机中 0 台成功；失败：web-1（1 个文件失败）、web-2（1 个文件失败）")


class Uploads(FleetTransfers):
    @posix_only
    def test_statuses_lines_and_summary(self):
        cases = [
            (["-q", "web"], False, 0, {"web-1: 已传输 2 个文件，共 1.0 KB", "web-2: 已传输 2 个文件，共 1.0 KB"},
             "2 台主机全部成功"),
            ([WEB1 + ",nope"], False, 255, {"web-1: 已传输 2 个文件，共 1.0 KB"},
             "2 台主机中 1 台成功；失败：nope（host_not_found）"),
            (["-q", "10.0.1"], True, 1,
             {DB1 + ": 已传输 2 个文件，共 1.0 KB，失败 1 个", DB2 + ": 已传输 2 个文件，共 1.0 KB，失败 1 个"},
             "2 台主机中 0 台成功；失败：%s（1 个文件失败）、%s（1 个文件失败）" % (DB1, DB2)),
        ]
        for index, (hosts, broken, status, out, summary) in enumerate(cases):
            with self.subTest(hosts=hosts):
                if broken:
                    self.break_a_file()
                remote = self.dir / ("remote-%d" % index)
                remote.mkdir()
                result = self.run_tool("upload", *hosts, host_path(self.tree), host_path(remote),
                                       stdout_tty=True, stderr_tty=True, env={"NO_COLOR": "1"})
                self.assertEqual(result.status, status, result.stderr)
                self.assertEqual(set(result.stdout.decode().splitlines()), out)
                self.assertEqual(result.stderr.decode().splitlines()[-1], summary)
                self.assertEqual(files_under(remote), {"tree/" + name: data for name, data in TREE.items()})

    def test_json_one_object_per_host(self):
        remote = self.dir / "remote"
        remote.mkdir()
        result = self.run_tool("upload", "--json", WEB2 + "," + DB1, host_path(self.tree / "a.txt"),
                               host_path(remote), stdout_tty=not harness.is_windows())
        self.assertEqual((result.status, result.stderr), (0, b""))
        self.assertEqual(self.json_lines(result), [
            {"id": WEB2, "name": "web-2", "files": 1, "bytes": 6, "failed": 0, "failures": [], "error": None},
            {"id": DB1, "name": "db", "files": 1, "bytes": 6, "failed": 0, "failures": [], "error": None},
        ])
        self.assertEqual((remote / "a.txt").read_bytes(), TREE["a.txt"])

    def test_hosts_from_stdin_and_a_stop_after_the_first_failure(self):
        ok = {"files": 1, "bytes": 6, "failed": 0, "failures": [], "error": None}
        cases = [
            (["--hosts-file", "-"], "%s\n# the web servers\n\n%s\n" % (WEB1, WEB2), 0, {WEB1: ok, WEB2: ok}),
            (["--parallel", "1", "--fail-fast", "nope," + WEB1], "", 255, {
                "nope": "sorvane: [host_not_found] 找不到主机 nope",
                WEB1: "sorvane: [connect_failed] not run: 1 host failed (--fail-fast)"}),
        ]
        for index, (hosts, stdin, status, expected) in enumerate(cases):
            with self.subTest(hosts=hosts):
                remote = self.dir / ("remote-%d" % index)
                remote.mkdir()
                result = self.run_tool("upload", *hosts, host_path(self.tree / "a.txt"), host_path(remote),
                                       stdin=stdin.encode())
                self.assertEqual((result.status, result.stderr), (status, b""))
                found = {o["id"]: o for o in self.json_lines(result)}
                self.assertEqual(found.keys(), expected.keys())
                for host, want in expected.items():
                    if isinstance(want, str):
                        self.assertEqual((found[host]["files"], found[host]["error"]), (None, want))
                    else:
                        self.assertEqual({k: v for k, v in found[host].items() if k not in ("id", "name")}, want)
                self.assertEqual(files_under(remote), {"a.txt": TREE["a.txt"]} if status == 0 else {})


if __name__ == "__main__":
    unittest.main()
