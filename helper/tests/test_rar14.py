#!/usr/bin/env python3
"""RAR 1.4 archives (signature "RE~^") made at test time.

    test_rar14.py HELPER FIXTURES

No such archive is at hand, so they are written here: stored entries, and the
compressed entries of the Rar15 fixture (RAR 1.4 and 1.5 share the compressed
format) put under RAR 1.4 headers, with the 16-bit data sum, DOS names in code
page 437, volume sets and the RAR 1.3 cipher.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, INCORRECT, HelperTestCase, run  # noqa: E402

# 2001-02-03 04:05:06 as a DOS time.
DOS_TIME = (21 << 25) | (2 << 21) | (3 << 16) | (4 << 11) | (5 << 5) | 3
FOLDER = 0x10
SPLIT_BEFORE, SPLIT_AFTER, ENCRYPTED = 0x01, 0x02, 0x04


def sum16(data):
    value = 0
    for byte in data:
        value = (value + byte) & 0xFFFF
        value = ((value << 1) | (value >> 15)) & 0xFFFF
    return value


def encrypt13(password, data):
    key = [0, 0, 0]
    for byte in password.encode():
        key[0] = (key[0] + byte) & 0xFF
        key[1] ^= byte
        rolled = (key[2] + byte) & 0xFF
        key[2] = ((rolled << 1) | (rolled >> 7)) & 0xFF
    out = bytearray(data)
    for i in range(len(out)):
        key[1] = (key[1] + key[2]) & 0xFF
        key[0] = (key[0] + key[1]) & 0xFF
        out[i] = (out[i] + key[0]) & 0xFF
    return bytes(out)


def main_header(flags=0, comment=b""):
    if comment:
        flags |= 0x02
        comment = struct.pack("<H", len(comment)) + comment
    return b"RE~^" + struct.pack("<HB", 7 + len(comment), flags) + comment


def member(name, packed, size, checksum, method=0, flags=0, attributes=0x20):
    """One file header with its data; method 0 stores, 1 to 5 compress."""
    header = struct.pack("<IIHHIBBBBB", len(packed), size, checksum, 21 + len(name), DOS_TIME,
                         attributes, flags, 2, len(name), method)
    return header + name + packed


def rar15_packed(path):
    """The packed data of the files of a RAR 1.5 archive, by their stored names."""
    with open(path, "rb") as handle:
        data = handle.read()
    packed = {}
    pos = 7
    while pos + 7 <= len(data):
        kind, flags, size = struct.unpack_from("<BHH", data, pos + 2)
        added = struct.unpack_from("<I", data, pos + 7)[0] if kind == 0x74 or flags & 0x8000 else 0
        if kind == 0x74 and (flags & 0xE0) != 0xE0:
            name_size = struct.unpack_from("<H", data, pos + 26)[0]
            packed[data[pos + 32:pos + 32 + name_size]] = data[pos + size:pos + size + added]
        pos += size + added
    return packed


def write_seeds(folder, fixtures):
    """Seeds for the container fuzz target: a small archive, cut and flipped."""
    text = rar15_packed(os.path.join(fixtures, "rar", "sharpcompress", "Rar15.rar"))[b"TECT.TXT"]
    stored = b"stored\r\n" * 8
    archive = (main_header(0x01, b"comment") + member(b"DIR", b"", 0, 0, attributes=FOLDER)
               + member(b"DIR\\ST\x82.TXT", stored, len(stored), sum16(stored))
               + member(b"TECT.TXT", text, 15498, 0, 3, SPLIT_AFTER)
               + member(b"X", encrypt13("pw", stored), len(stored), sum16(stored), flags=ENCRYPTED))
    copies = {"whole": archive, "cut-header": archive[:50], "cut-data": archive[:len(archive) // 2]}
    flipped = bytearray(archive)
    flipped[30] ^= 0x40
    copies["flipped"] = bytes(flipped)
    for name, data in copies.items():
        with open(os.path.join(folder, "rar14-%s.rar" % name), "wb") as handle:
            handle.write(data)


class Rar14Test(HelperTestCase):
    def setUp(self):
        super().setUp()
        # The compressed entries of the RAR 1.5 fixture: packed data and contents.
        source = self.fixture("sharpcompress/Rar15.rar")
        status, output = run(self.helper, ["x", source, self.path("rar15"), "-o+"])
        self.assertEqual(status, 0, output)
        self.packed = rar15_packed(source)
        self.contents = {name: self.read(os.path.join("rar15", name.decode().replace("\\", "/")))
                         for name in self.packed}

    def compressed(self, name, flags=0, password=None):
        packed = self.packed[name]
        if password:
            packed = encrypt13(password, packed)
        content = self.contents[name]
        return member(name, packed, len(content), sum16(content), 3, flags)

    def extract(self, archive, out, *options):
        return run(self.helper, ["x", *options, self.path(archive), self.path(out), "-o+"])

    def test_archive_lists_and_extracts(self):
        readme = b"stored in a RAR 1.4 archive\r\n" * 50
        accented = "CAF\u00c9 \u00e7a.TXT"
        archive = (main_header(comment=b"an archive comment")
                   + member(b"DOCS", b"", 0, 0, attributes=FOLDER)
                   + member(b"DOCS\\READ.ME", readme, len(readme), sum16(readme))
                   + member(b"CAF\x90 \x87a.TXT", b"\xe9", 1, sum16(b"\xe9"))
                   + b"".join(self.compressed(name) for name in self.packed))
        self.write("old.rar", archive)
        expected = ["DOCS", "DOCS/READ.ME", accented] + [name.decode().replace("\\", "/") for name in self.packed]

        status, output = run(self.helper, ["vb", "-v", "old.rar"], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertEqual(output.splitlines(), expected)
        status, output = run(self.helper, ["l", "old.rar"], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertIn("2001-02-03 04:05  DOCS/READ.ME", output)
        self.assertRegex(output, r"\s%d  2001-02-03 04:05  JPG/TEST\.JPG" % len(self.contents[b"JPG\\TEST.JPG"]))

        status, output = self.extract("old.rar", "out")
        self.assertEqual(status, 0, output)
        self.assertTrue(output.endswith(ALL_OK + "\n"), output)
        files = helperlib.tree(self.path("out"))
        self.assertEqual([files.pop(folder) for folder in ("DOCS", "JPG", "EXE")], [None] * 3)
        self.assertEqual(files.pop("DOCS/READ.ME"), readme)
        self.assertEqual(files.pop(accented), b"\xe9")
        for name, content in self.contents.items():
            self.assertEqual(files.pop(name.decode().replace("\\", "/")), content, name)
        self.assertEqual(files, {})
        self.assertTrue(os.path.isdir(self.path("out", "DOCS")))

        # A changed byte fails that file alone, by its 16-bit sum.
        damaged = bytearray(archive)
        damaged[archive.index(b"stored in") + 5] ^= 0x01
        self.write("damaged.rar", bytes(damaged))
        status, output = self.extract("damaged.rar", "bad")
        self.assertEqual(status, 3, output)
        self.assertNotIn(ALL_OK, output)
        self.assertRegex(output, r"(?m)^Checksum error in DOCS/READ\.ME")
        self.assertFalse(os.path.exists(self.path("bad", "DOCS", "READ.ME")), output)
        self.assertEqual(self.read("bad/TECT.TXT"), self.contents[b"TECT.TXT"])

        # Cut in a header, in stored data and in compressed data: a failure,
        # and no file that was not read whole.
        for cut in (9, archive.index(b"stored in") + 100, len(archive) - 1000):
            self.write("cut.rar", archive[:cut])
            status, output = self.extract("cut.rar", "cut%d" % cut)
            self.assertFailedRun(status, output)
            for name, content in helperlib.tree(self.path("cut%d" % cut)).items():
                self.assertIn(content, (None, readme, b"\xe9", *self.contents.values()), name)

    def test_volume_set(self):
        big = os.urandom(70000)
        text = self.contents[b"TECT.TXT"]
        first = (main_header(0x01) + self.compressed(b"TECT.TXT")
                 + member(b"BIG.BIN", big[:30000], len(big), sum16(big[:30000]), flags=SPLIT_AFTER))
        second = main_header(0x01) + member(b"BIG.BIN", big[30000:], len(big), sum16(big), flags=SPLIT_BEFORE)
        self.write("set.rar", first)
        self.write("set.r00", second)

        status, output = run(self.helper, ["vb", "-v", "set.rar"], cwd=self.work)
        self.assertEqual((status, output), (0, "TECT.TXT\nBIG.BIN\n"))
        status, output = self.extract("set.rar", "out")
        self.assertEqual(status, 0, output)
        self.assertEqual(helperlib.tree(self.path("out")), {"TECT.TXT": text, "BIG.BIN": big})

        # Without its second volume the split file is never left behind.
        os.remove(self.path("set.r00"))
        status, output = self.extract("set.rar", "cut")
        self.assertFailedRun(status, output)
        self.assertEqual(helperlib.tree(self.path("cut")), {"TECT.TXT": text})

    def test_encrypted_entries(self):
        stored = b"a secret kept since 1994\r\n" * 20
        self.write("locked.rar", main_header()
                   + member(b"SECRET.TXT", encrypt13("Passw0rd", stored), len(stored), sum16(stored),
                            flags=ENCRYPTED)
                   + self.compressed(b"JPG\\TEST.JPG", ENCRYPTED, "Passw0rd"))

        status, output = run(self.helper, ["vt", "locked.rar"], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertEqual(output.count("*"), 2, output)
        status, output = self.extract("locked.rar", "out", "-pPassw0rd")
        self.assertEqual(status, 0, output)
        self.assertEqual(helperlib.tree(self.path("out")),
                         {"SECRET.TXT": stored, "JPG": None, "JPG/TEST.JPG": self.contents[b"JPG\\TEST.JPG"]})

        status, output = self.extract("locked.rar", "wrong", "-pwrong")
        self.assertEqual(status, 11, output)
        self.assertIn(INCORRECT, output)
        self.assertEqual(helperlib.tree(self.path("wrong")) if os.path.isdir(self.path("wrong")) else {}, {})


if __name__ == "__main__":
    if sys.argv[1:2] == ["--fuzz-seeds"]:
        write_seeds(sys.argv[2], sys.argv[3])
        sys.exit(0)
    # Extraction through the helper's own RAR entries, the only path that
    # reads these archives.
    os.environ["VORLO_RAR_DIRECT"] = "1"
    helperlib.main(globals())
