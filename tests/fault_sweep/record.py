#!/usr/bin/env python3
"""Records the bytes that the stand-in desktop application (sorvane-peer, demo
mode) sends back in three real conversations, into recordings/:

  list.bin    the five example hosts
  exec.bin    a shell command that writes to both streams and exits with 3
  upload.bin  a folder of several files: progress replies, then the summary

Run from a built tree: SORVANE_BUILD_DIR=build tests/fault_sweep/record.py
"""
import json
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "integration"))
from peer import Peer  # noqa: E402

HOST = "a1b2c3d4e5f60718"


def record(name, request):
    with Peer.demo() as peer:
        frames = peer.converse(json.dumps({"version": 2, "request": request}))
    raw = bytearray()
    for kind, payload in frames:
        assert kind != "truncated", name
        raw += bytes([kind]) + len(payload).to_bytes(4, "big") + payload
    (HERE / "recordings" / name).write_bytes(bytes(raw))
    print(f"{name}: {len(raw)} bytes, {len(frames)} frames")


def main():
    record("list.bin", {"type": "list", "query": None})
    record("exec.bin", {"type": "exec", "host": HOST,
                        "command": "printf 'out 1\\n'; sleep 0.2; printf 'err \\344\\270' >&2; sleep 0.2; "
                                   "printf '\\255\\n' >&2; sleep 0.2; printf 'out 2'; exit 3"})
    with tempfile.TemporaryDirectory() as source, tempfile.TemporaryDirectory() as target:
        for i in range(4):
            # Large enough to take a few of the peer's 100 ms progress intervals.
            (Path(source) / f"file{i}.bin").write_bytes(bytes(96 << 20))
        record("upload.bin", {"type": "upload", "host": HOST, "source": source,
                              "destination": target + "/copy"})


if __name__ == "__main__":
    main()
