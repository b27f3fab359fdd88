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
# Names a listing would show reordered or not at all, and one name spelt two
# ways (NFC, NFD), which macOS takes for one folder: each host gets its ID.
NFC, NFD, BIDI, TAG = ("c0000000000000c1", "c0000000000000c2", "c0000000000000c3", "c0000000000000c4")
HOSTS += [{"id": id, "name": name, "user": "u", "host": "10.0.3.%d" % index, "port": 22}
          for index, (id, name) in enumerate([(NFC, "caf\u00e9"), (NFD, "cafe\u0301"), (BIDI, "\u202egnp.exe"),
                                              (TAG, "ops\U000e0041")])]
TREE = {"a.txt": b"alpha\n", "sub/b.bin": bytes(range(256)) * 4}
COPIED = {"tree/" + name: data for name, data in TREE.items()}


def files_under(root):
    """{relative path: bytes} of every file below `root`."""
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in Path(root).rglob("*") if p.is_file()}


def summary(files, size):
    return {"files": files, "bytes": size, "failed": 0, "failures": [], "error": None}


def error(line):
    return {"files": None, "bytes": None, "failed": None, "failures": [], "error": line}


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

    def objects(self, result):
        """{id: the rest of its JSON object}, the name checked against HOSTS."""
        found = {}
        for line in result.stdout.decode().splitlines():
            host = json.loads(line)
            self.assertEqual(host.pop("name"), next((h["name"] for h in HOSTS if h["id"] == host["id"]), None))
            found[host.pop("id")] = host
        return found


class Downloads(FleetTransfers):
    def test_each_host_lands_in_its_own_folder(self):
        ok = summary(2, 1030)
        cases = [
            # IDs stand in for the shared name and for the one no folder can have.
            ([WEB1, WEB2, DB1, DB2, ODD], 0, {"web-1": COPIED, "web-2": COPIED, DB1: COPIED, DB2: COPIED, ODD: COPIED},
             {WEB1: ok, WEB2: ok, DB1: ok, DB2: ok, ODD: ok}),
            ([WEB1, "nope"], 255, {"web-1": COPIED, "nope": {}},
             {WEB1: ok, "nope": error("sorvane: [host_not_found] 找不到主机 nope")}),
            # An ID that cannot be a folder either: the host does not run.
            ([WEB1, "../evil"], 255, {"web-1": COPIED},
             {WEB1: ok, "../evil": error("sorvane: [bad_request] 主机 ID「../evil」不能用作下载的文件夹名")}),
        ]
        for index, (ids, status, folders, objects) in enumerate(cases):
            with self.subTest(ids=ids):
                local = self.dir / "down" / str(index)
                result = self.run_tool("download", ",".join(ids), host_path(self.tree), host_path(local))
                self.assertEqual((result.status, result.stderr), (status, b""))
                self.assertEqual({entry.name: files_under(entry) for entry in local.iterdir()}, folders)
                self.assertEqual(self.objects(result), objects)
        self.assertEqual(sorted(p.name for p in (self.dir / "down").iterdir()), ["0", "1", "2"])  # no "evil"

    @posix_only
    def test_a_planted_link_and_names_no_folder_should_have(self):
        local, out = self.dir / "down", self.dir / "out"
        local.mkdir()
        out.mkdir()
        (local / "web-1").symlink_to(out)
        result = self.run_tool("download", ",".join([WEB1, WEB2, NFC, NFD, BIDI, TAG]), host_path(self.tree),
                               host_path(local))
        self.assertEqual((result.status, result.stderr), (255, b""))
        link = "sorvane: [bad_request] 无法创建文件夹 %s：a link is in its place, and nothing is written through it"
        self.assertEqual(self.objects(result), dict({WEB1: error(link % (local / "web-1"))},
                                                    **{id: summary(2, 1030) for id in (WEB2, NFC, NFD, BIDI, TAG)}))
        self.assertEqual({entry.name: files_under(entry) for entry in local.iterdir() if not entry.is_symlink()},
                         {name: COPIED for name in ("web-2", NFC, NFD, BIDI, TAG)})
        self.assertEqual(list(out.iterdir()), [])

    def test_a_destination_that_is_a_file_fails_every_host(self):
        (self.dir / "a-file").write_bytes(b"")
        result = self.run_tool("download", "-q", "web", host_path(self.tree), host_path(self.dir / "a-file"))
        self.assertEqual(result.status, 255)
        for found in self.objects(result).values():
            self.assertRegex(found["error"], r"^sorvane: \[bad_request\] 无法创建文件夹 ")


class Uploads(FleetTransfers):
    @posix_only
    def test_lines_failed_files_and_summary_on_a_terminal(self):
        os.symlink(self.dir / "gone", self.tree / "dangling")  # each copy fails this file only
        failed = "%s: 无法读取 " + str(self.tree / "dangling") + "：No such file or directory"
        cases = [
            ([WEB1 + ",nope"], 255, {"web-1: 已传输 2 个文件，共 1.0 KB，失败 1 个"},
             [failed % "web-1", "nope: sorvane: [host_not_found] 找不到主机 nope"],
             "2 台主机中 0 台成功；失败：web-1（1 个文件失败）、nope（host_not_found）"),
            (["-q", "10.0.1"], 1, {host + ": 已传输 2 个文件，共 1.0 KB，失败 1 个" for host in (DB1, DB2)},
             [failed % DB1, failed % DB2], "2 台主机中 0 台成功；失败：%s（1 个文件失败）、%s（1 个文件失败）" % (DB1, DB2)),
        ]
        for index, (hosts, status, out, err, last) in enumerate(cases):
            with self.subTest(hosts=hosts):
                remote = self.dir / ("remote-%d" % index)
                remote.mkdir()
                result = self.run_tool("upload", *hosts, host_path(self.tree), host_path(remote),
                                       stdout_tty=True, stderr_tty=True, env={"NO_COLOR": "1"})
                self.assertEqual(result.status, status, result.stderr)
                self.assertEqual(set(result.stdout.decode().splitlines()), out)
                self.assertEqual(sorted(result.stderr.decode().splitlines()), sorted(err + [last]))
                self.assertTrue(result.stderr.decode().endswith(last + "\n"))
                self.assertEqual(files_under(remote), COPIED)

    def test_json_hosts_from_stdin_and_a_stop_after_the_first_failure(self):
        ok = summary(1, 6)
        cases = [
            (["--json", WEB2 + "," + DB1], "", 0, {WEB2: ok, DB1: ok}),
            (["--hosts-file", "-"], "%s\n# the web servers\n\n%s\n" % (WEB1, WEB2), 0, {WEB1: ok, WEB2: ok}),
            (["--parallel", "1", "--fail-fast", "nope," + WEB1], "", 255, {
                "nope": error("sorvane: [host_not_found] 找不到主机 nope"),
                WEB1: error("sorvane: [connect_failed] not run: 1 host failed (--fail-fast)")}),
        ]
        for index, (hosts, stdin, status, objects) in enumerate(cases):
            with self.subTest(hosts=hosts):
                remote = self.dir / ("remote-%d" % index)
                remote.mkdir()
                result = self.run_tool("upload", *hosts, host_path(self.tree / "a.txt"), host_path(remote),
                                       stdin=stdin.encode(), stdout_tty=not harness.is_windows() and index == 0)
                self.assertEqual((result.status, result.stderr), (status, b""))
                self.assertEqual(self.objects(result), objects)
                self.assertEqual(files_under(remote), {"a.txt": TREE["a.txt"]} if status == 0 else {})


if __name__ == "__main__":
    unittest.main()
