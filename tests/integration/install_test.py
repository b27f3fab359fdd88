"""`cmake --install`: the programs, their man pages and the shell
completions where each shell looks for them; development programs only on
request."""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness

SHIPPED_POSIX = {
    "bin/sorvane",
    "bin/sorvane-mcp",
    "share/man/man1/sorvane.1",
    "share/man/man1/sorvane-mcp.1",
    "share/bash-completion/completions/sorvane",
    "share/zsh/site-functions/_sorvane",
    "share/fish/vendor_completions.d/sorvane.fish",
}
SHIPPED_WINDOWS = {
    "bin/sorvane.exe",
    "bin/sorvane-mcp.exe",
    "share/man/man1/sorvane.1",
    "share/man/man1/sorvane-mcp.1",
    "share/bash-completion/completions/sorvane",
    "share/zsh/site-functions/_sorvane",
    "share/fish/vendor_completions.d/sorvane.fish",
    "share/sorvane/sorvane.ps1",
}


def install(test, *extra):
    build = os.environ.get("SORVANE_BUILD_DIR", str(harness.REPO / "build"))
    prefix = tempfile.mkdtemp(prefix="sorvane-install-")
    test.addCleanup(shutil.rmtree, prefix)
    subprocess.run(["cmake", "--install", build, "--prefix", prefix] + list(extra), check=True,
                   stdout=subprocess.DEVNULL)
    root = Path(prefix)
    return root, {str(p.relative_to(root)) for p in root.rglob("*") if p.is_file()}


class Install(unittest.TestCase):
    def test_default_install_is_the_programs_their_pages_and_completions(self):
        root, files = install(self)
        self.assertEqual(files, SHIPPED_WINDOWS if harness.is_windows() else SHIPPED_POSIX)
        if not harness.is_windows():
            for program in ("sorvane", "sorvane-mcp"):
                version = subprocess.run([str(root / "bin" / program), "-V"], stdout=subprocess.PIPE).stdout
                self.assertTrue(version.startswith(program.encode() + b" "), version)

    def test_the_stand_in_peer_is_in_the_development_component(self):
        if not os.environ.get("SORVANE_PEER_BIN"):
            self.skipTest("built without tools")
        _, files = install(self, "--component", "development")
        self.assertIn("sorvane-peer", {Path(f).stem for f in files})
        self.assertFalse({f for f in files if Path(f).stem in ("sorvane", "sorvane-mcp")})


if __name__ == "__main__":
    unittest.main()
