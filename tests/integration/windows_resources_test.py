"""The Windows executables' file properties, read from the PE files
themselves: each version resource carries the one version of CMakeLists.txt
and names its own program, and the manifest declares Windows 10 and 11. Also
a checker for scripts/package:

    python3 windows_resources_test.py path/to/sorvane.exe path/to/sorvane-mcp.exe
"""

import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import harness
from mcp_test import mcp_bin

REPO = Path(__file__).resolve().parents[2]
RT_VERSION, RT_MANIFEST = 16, 24
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def project_version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r'set\(SORVANE_VERSION "([^"]+)"\)', text).group(1)


def resources(image):
    """{(type id, name id): bytes} of a PE32+ image's resource section."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        raise ValueError("not PE32+")
    resource_rva = struct.unpack_from("<I", image, optional + 112 + 2 * 8)[0]
    table = [struct.unpack_from("<8xIIII", image, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA %#x outside every section" % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", image, base + directory)
        for i in range(named + ids):
            yield struct.unpack_from("<II", image, base + directory + 16 + 8 * i)

    found = {}
    for type_id, type_dir in entries(0):
        for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
            for _, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", image, base + leaf)
                found[(type_id, name_id)] = image[offset(rva):offset(rva) + size]
    return found


def version_block(data, start=0):
    """One VS_VERSIONINFO-style block: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, start)
    end = start + length
    key_end = start + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[start + 6:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child = version_block(data, position)
        children.append(child)
        position = (child[3] + 3) & ~3
    return key, value, children, end


def version_info(data):
    """(fixed file version tuple, fixed product version tuple, {string: value})."""
    key, fixed, children, _ = version_block(data)
    assert key == "VS_VERSION_INFO", key
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert signature == 0xFEEF04BD
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, pairs, _ in tables:
                for name, value, _, _ in pairs:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return split(file_ms, file_ls), split(product_ms, product_ls), strings


def check(exe):
    """Raises AssertionError unless `exe` carries the expected resources;
    returns its version strings."""
    found = resources(Path(exe).read_bytes())
    version = project_version()
    numbers = tuple(int(n) for n in re.match(r"(\d+)\.(\d+)\.(\d+)", version).groups()) + (0,)
    file_version, product_version, strings = version_info(found[(RT_VERSION, 1)])
    assert (file_version, product_version) == (numbers, numbers), (file_version, product_version)
    for name in ("FileVersion", "ProductVersion"):
        assert strings.get(name) == version, (name, strings.get(name))
    for name in ("ProductName", "FileDescription"):
        assert strings.get(name), name
    # A program built with another's resource would show that one's name.
    assert strings.get("OriginalFilename") == Path(exe).name, strings.get("OriginalFilename")
    assert strings.get("InternalName") == Path(exe).stem, strings.get("InternalName")
    manifest = ElementTree.fromstring(found[(RT_MANIFEST, 1)])
    supported = [e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
    assert WINDOWS_10_AND_11 in supported, supported
    return strings


@unittest.skipUnless(harness.is_windows(), "the Windows build only")
class WindowsResources(unittest.TestCase):
    def test_version_resource_and_manifest_of_each_program(self):
        tool, server = check(harness.sorvane_bin()), check(mcp_bin())
        self.assertNotEqual(tool["FileDescription"], server["FileDescription"])


if __name__ == "__main__":
    if len(sys.argv) >= 2 and not sys.argv[1].startswith("-"):
        for path in sys.argv[1:]:
            check(path)
            print("%s: version resource and manifest as expected" % path)
    else:
        unittest.main()
