"""sorvane-mcp's download confinement against where the copy really lands:
raw MCP lines to the real server, the stand-in peer copying for real. A
link inside the allowed folder leads out, under the name the copy of a
remote folder takes; no spelling of that remote folder may write through it."""

import os
import tempfile
import unittest
from pathlib import Path

import harness
import mcp_test
from peer import Peer

HOST = "a1b2c3d4e5f60718"


def files_named(root, name):
    """Every file called `name` below `root`, links not followed."""
    return sorted(Path(folder, name).relative_to(root).as_posix()
                  for folder, _, files in os.walk(root) if name in files)


@unittest.skipIf(harness.is_windows(), "POSIX build only")
class DownloadLanding(unittest.TestCase):
    def test_a_remote_name_that_the_text_does_not_tell_never_writes_through_a_link(self):
        with tempfile.TemporaryDirectory(prefix="sorvane-landing-") as tmp:
            base = Path(tmp).resolve()
            remote = base / "srv" / "current"  # also the peer's login directory
            remote.mkdir(parents=True)
            (remote / "authorized_keys").write_text("ssh-ed25519 AAAA planted\n")
            (base / "out").mkdir()
            root = base / "root"
            root.mkdir()
            (root / "current").symlink_to(base / "out")  # where a copy of "current" lands
            refused = [str(remote) + "/.", str(remote) + "/./", str(remote) + "\\.", "~", ".."]
            named = [("~", root / "home"), (str(remote) + "/.", root / "dot")]
            with Peer.demo(extra_env={"HOME": str(remote)}) as peer, mcp_test.Server(
                    ["--local-root", str(root)], env={"SORVANE_DATA_DIR": peer.env["SORVANE_DATA_DIR"]}) as server:
                server.ask(mcp_test.INIT)
                # Each refused into the root; named in full, they land where they are told to.
                for id, (remote_path, local) in enumerate([(path, root) for path in refused] + named):
                    with self.subTest(remote=remote_path, local=local.name):
                        result = server.ask(mcp_test.request(id, "tools/call", {"name": "download", "arguments": {
                            "host": HOST, "remote": remote_path, "local": str(local)}}))["result"]
                        self.assertEqual(result["isError"], local == root, result)
                        if local == root:
                            self.assertRegex(result["content"][0]["text"], r"^sorvane: \[bad_request\] the remote "
                                             r"path .* name the destination in full")
                            self.assertIsNone(peer.request())  # nothing reached the desktop application
            self.assertEqual(files_named(base, "authorized_keys"),
                             ["root/dot/authorized_keys", "root/home/authorized_keys", "srv/current/authorized_keys"])
            self.assertEqual(list((base / "out").iterdir()), [])


if __name__ == "__main__":
    unittest.main()
