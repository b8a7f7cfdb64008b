#!/usr/bin/env python3
"""Damaged data never passes for sound: archives made with Debian's zip, 7zz,
tar and compressors and the project's rarwrite, damaged where their checksums
should catch it.

    test_integrity.py HELPER RARWRITE
"""

import os
import random
import re
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, AS_NOBODY, NOBODY, UNEXPECTED_END, HelperTestCase, flip, run, tar_bytes  # noqa: E402

GOOD = b"an entry that is sound\n" * 40
ORIGINAL = b"the original contents of the damaged entry\n" * 200


def line(text):
    """`text` standing on a line of its own."""
    return r"(?m)^" + re.escape(text) + r"$"


class IntegrityTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.write("tree/good.txt", GOOD)
        self.write("tree/zz-bad.txt", ORIGINAL)

    def assertFailedExtraction(self, archive, status_wanted, bad_name="zz-bad.txt", switches=()):
        """x and t both fail, and the damaged entry never takes its name."""
        target = self.path("out")
        shutil.rmtree(target, ignore_errors=True)
        status, output = run(self.helper, ["x", archive, target, "-o+", *switches])
        self.assertEqual(status, status_wanted, output)
        self.assertNotIn(ALL_OK, output)
        self.assertEqual([name for name in helperlib.tree(target) if name == bad_name or name.endswith(".part")], [])
        status, test_output = run(self.helper, ["t", archive, *switches])
        self.assertEqual(status, status_wanted, test_output)
        self.assertNotIn(ALL_OK, test_output)
        return output

    def damaged(self, name):
        """`name` made of the tree with zz-bad.txt's data damaged, and the switches to extract it."""
        archive, tree = self.path(name), self.path("tree")
        if name == "secret.zip":
            # A wrong password that passes ZipCrypto's one-byte check decrypts to garbage.
            subprocess.run(["zip", "-q", "-0", "-X", "-P", "right", archive, "zz-bad.txt"], cwd=tree, check=True)
            return archive, ["-p" + self.password_passing_the_check(archive, "zz-bad.txt")]
        maker = ["7zz", "a", "-bso0", "-m0=Copy"] if name.endswith(".7z") else ["zip", "-q", "-0", "-X"]
        subprocess.run(maker + [archive, "zz-bad.txt", "good.txt"], cwd=tree, check=True)
        start = helperlib.read_file(archive).index(b"the original contents")
        flip(archive, start + 300)
        if name == "tampered.zip":
            # The local header's CRC made to match, the central directory
            # left alone: only the header's disagreement shows it.
            data = bytearray(helperlib.read_file(archive))
            struct.pack_into("<I", data, 14, zlib.crc32(data[start:start + len(ORIGINAL)]))
            self.write(name, bytes(data))
        return archive, []

    def test_checksum_warnings_of_zip_and_7z_fail_the_entry(self):
        self.need("zip")
        self.need("7zz")
        for name, why in (("stored.zip", ""), ("copy.7z", ""), ("tampered.zip", "Inconsistent"),
                          ("secret.zip", "corrupt file or wrong password$")):
            with self.subTest(archive=name):
                archive, switches = self.damaged(name)
                output = self.assertFailedExtraction(archive, 3, switches=switches)
                self.assertRegex(output, r"(?m)^Checksum error in zz-bad\.txt: " + why)
                if not switches:
                    self.assertEqual(self.read("out/good.txt"), GOOD)

    @staticmethod
    def password_passing_the_check(archive, member):
        with zipfile.ZipFile(archive) as opened:
            info = opened.getinfo(member)
        data = helperlib.read_file(archive)[info.header_offset:]
        encrypted = data[30 + sum(struct.unpack("<HH", data[26:30])):][:12]
        check = (info._raw_time >> 8) & 0xFF if info.flag_bits & 0x8 else (info.CRC >> 24) & 0xFF
        return next(candidate for candidate in ("wrong%d" % attempt for attempt in range(100000))
                    if bytes(zipfile._ZipDecrypter(candidate.encode())(encrypted))[11] == check)

    def test_damaged_tar_header_fails_the_run(self):
        data = bytearray(tar_bytes([("a.txt", GOOD), ("b.bin", os.urandom(20000)), ("c.txt", GOOD)]))
        second = data.index(b"b.bin")
        data[second + 148] ^= 0x01  # the header's own checksum
        archive = self.write("damaged.tar", bytes(data))
        status, output = run(self.helper, ["vb", "-v", archive])
        self.assertEqual(status, 2, output)
        self.assertNotIn("\n\n", output)  # no entries without names
        self.assertRegex(output, line(UNEXPECTED_END))
        output = self.assertFailedExtraction(archive, 2, bad_name="b.bin")
        self.assertRegex(output, line(UNEXPECTED_END))
        self.assertEqual(self.read("out/a.txt"), GOOD)

    def test_compressed_tar_streams_are_checked_to_their_end(self):
        self.write("tree/big.bin", random.Random(12).randbytes(2 * 1024 * 1024))
        plain = self.path("plain.tar")
        subprocess.run(["tar", "cf", plain, "-C", self.path("tree"), "good.txt", "big.bin"], check=True)

        def xz_check(data):
            # The block's check value ends right before the index.
            return len(data) - 12 - (struct.unpack("<I", data[-8:-4])[0] + 1) * 4 - 1

        for tool, damage, where in (("gzip", "none", None), ("gzip", "crc", lambda data: len(data) - 8),
                                    ("gzip", "length", lambda data: len(data) - 2), ("xz", "none", None),
                                    ("xz", "check", xz_check), ("zstd", "none", None),
                                    ("zstd", "checksum", lambda data: len(data) - 1), ("lz4", "none", None),
                                    ("lz4", "checksum", lambda data: len(data) - 1)):
            if not shutil.which(tool):
                continue
            with self.subTest(tool=tool, damage=damage):
                packed, out = self.path("%s-%s.tar" % (damage, tool)), self.path("out-%s-%s" % (damage, tool))
                with open(packed, "wb") as handle:
                    subprocess.run([tool, "-c", plain], stdout=handle, stderr=subprocess.DEVNULL, check=True)
                if not where:
                    status, output = run(self.helper, ["x", packed, out, "-o+"])
                    self.assertEqual(status, 0, output)
                    self.assertTrue(output.endswith(ALL_OK + "\n"), output)
                    self.assertEqual(self.read(out + "/big.bin"), self.read("tree/big.bin"))
                    continue
                flip(packed, where(helperlib.read_file(packed)))
                for command in (["x", packed, out, "-o+"], ["t", packed]):
                    status, output = run(self.helper, command)
                    self.assertEqual(status, 3, output)
                    self.assertNotIn(ALL_OK, output)
                    self.assertRegex(output, r"(?m)^Checksum error in big\.bin: .*checksum is wrong")
                # The stream is read ahead of the entries: the last file never
                # takes its name, the one before it is whole.
                self.assertEqual(helperlib.tree(out), {"good.txt": GOOD})

    def test_volume_set_with_a_bad_later_volume(self):
        """The first file spans the first volumes; its checksum is in the last of them."""
        os.chmod(self.work, 0o755)
        self.write("vtree/a.bin", random.Random(3).randbytes(150000))
        self.write("vtree/z.txt", GOOD)
        for version in ("5", "4"):
            for how in ("missing", "empty", "cut", "unreadable"):
                with self.subTest(version=version, damage=how):
                    folder = self.path("set%s-%s" % (version, how))
                    os.makedirs(os.path.join(folder, "out"))
                    self.rarwrite(*(["-4"] if version == "4" else []), "-v", "40k", folder + "/set.rar", "-C", "vtree")
                    volumes = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name != "out")
                    if how == "missing":
                        os.remove(volumes[1])
                    elif how == "unreadable":
                        os.chmod(volumes[1], 0)
                    else:
                        os.truncate(volumes[1], 0 if how == "empty" else os.path.getsize(volumes[1]) // 2)
                    if os.geteuid() == 0:
                        # Root reads anything: the helper runs as nobody.
                        os.chown(os.path.join(folder, "out"), NOBODY, NOBODY)
                    status, output = run(self.helper, ["x", volumes[0], os.path.join(folder, "out"), "-o+"],
                                         prefix=AS_NOBODY if os.geteuid() == 0 else ())
                    self.assertIn(status, (2, 3), output)
                    self.assertNotIn(ALL_OK, output)
                    self.assertRegex(output, line(UNEXPECTED_END))
                    self.assertEqual(helperlib.tree(os.path.join(folder, "out")), {}, output)

    def test_signature_alone_is_a_damaged_archive(self):
        # A RAR 5 or RAR 4 signature with nothing after it; a well-formed empty archive still lists.
        os.makedirs(self.path("nothing"))
        for version, signature in (("5", b"Rar!\x1a\x07\x01\x00"), ("4", b"Rar!\x1a\x07\x00")):
            self.write("sig.rar", signature)
            self.rarwrite(*(["-4"] if version == "4" else []), "empty.rar", "-C", "nothing")
            for command in (["vb", "-v", "sig.rar"], ["l", "sig.rar"], ["t", "sig.rar"]):
                with self.subTest(version=version, command=command[0]):
                    status, output = run(self.helper, command, cwd=self.work)
                    self.assertEqual(status, 2, output)
                    self.assertRegex(output, line(UNEXPECTED_END))
            self.assertEqual(run(self.helper, ["vb", "-v", "empty.rar"], cwd=self.work), (0, ""))
            status, output = run(self.helper, ["l", "empty.rar"], cwd=self.work)
            self.assertEqual(status, 0, output)
            self.assertIn("0 files, 0 bytes", output)


if __name__ == "__main__":
    helperlib.main(rarwrite=True)
