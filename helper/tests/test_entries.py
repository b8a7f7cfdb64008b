#!/usr/bin/env python3
"""What the helper makes of each entry, and what it prints about it: hard
links, device nodes, names in legacy code pages, hostile names in the
helper's messages, an endless password line.

    test_entries.py HELPER [FIXTURES_DIR]
"""

import functools
import io
import os
import shutil
import stat
import subprocess
import sys
import tarfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, INCORRECT, MIB, UNEXPECTED_END, HelperTestCase, run  # noqa: E402

CUT_MARK = "\u2026"
MAX_NAME_BYTES = 4096
tar_bytes = functools.partial(helperlib.tar_bytes, fmt=tarfile.PAX_FORMAT)


class EntriesTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.dest = self.path("dest")
        os.makedirs(self.dest)

    def extract(self, archive, *switches):
        shutil.rmtree(self.dest, ignore_errors=True)
        return run(self.helper, ["x", archive, self.dest] + list(switches), cwd=self.work)

    def assertClean(self, output):
        """No control character but the progress marks' backspaces, no stray marker line."""
        for character in output:
            self.assertTrue(character in "\n\b" or ord(character) >= 0x20 and not 0x7F <= ord(character) < 0xA0,
                            "control character %r in %r" % (character, output))
        self.assertNotIn(ALL_OK, output.split("\n"))

    def assertInShort(self, part, output):
        self.assertTrue(part in output, "%r... not in %r" % (part[:40], output[-3000:]))

    def test_hard_links_come_out_with_their_data(self):
        self.need("bsdtar")
        self.write("source/first.txt", b"linked data\n")
        os.makedirs(self.path("source/sub"))
        os.link(self.path("source/first.txt"), self.path("source/second.txt"))
        os.link(self.path("source/first.txt"), self.path("source/sub/third.txt"))
        # newc gives the data with the last name only; tar with the first.
        for fmt in ("newc", "pax", "ustar"):
            with self.subTest(fmt=fmt):
                archive = self.path("links." + fmt)
                subprocess.run(["bsdtar", "--format", fmt, "-cf", archive, "first.txt", "sub/third.txt",
                                "second.txt"], cwd=self.path("source"), check=True)
                status, output = self.extract(archive, "-o+")
                self.assertEqual(status, 0, output)
                self.assertIn(ALL_OK, output.split("\n"))
                self.assertEqual({name: data for name, data in helperlib.tree(self.dest).items() if data},
                                 dict.fromkeys(("first.txt", "second.txt", "sub/third.txt"), b"linked data\n"))

        # Links may point only at what this run wrote: never at a file the
        # destination held before, whether the link carries data or not.
        # (A pax header marks an archive whose hard links may carry data.)
        def link(target, data=b""):
            return {"type": tarfile.LNKTYPE, "linkname": target, "data": data, "pax_headers": {"comment": "x"}}
        archive = self.write("hostile.tar", tar_bytes([
            ("own.txt", b"old"), ("grab", link("victim.txt", b"EVIL")), ("grab2", link("./victim.txt")),
            ("again", link("own.txt", b"newer"))]))
        for switch in ("-o+", "-o-"):
            with self.subTest(switch=switch):
                out = self.path("out" + switch)
                victim = self.write(os.path.join(out, "victim.txt"), b"precious")
                status, output = run(self.helper, ["x", archive, out, switch])
                self.assertEqual(status, 9, output)
                self.assertNotIn(ALL_OK, output)
                self.assertEqual((self.read(victim), os.stat(victim).st_nlink), (b"precious", 1))
                self.assertIn("Refused hard link grab: its target victim.txt is not a file written by this extraction",
                              output)
                # A link to the run's own file that brings data gives it to both names.
                self.assertEqual(helperlib.tree(out), {"victim.txt": b"precious", "own.txt": b"newer", "again": b"newer"})

    def test_sparse_files_keep_their_data_and_holes(self):
        self.need("bsdtar")
        data = os.urandom(3 * MIB + 5)
        with open(self.path("sparse.bin"), "wb") as handle:
            for offset, piece in ((0, data), (5 * MIB, b"middle"), (9 * MIB, b"end")):
                handle.seek(offset)
                handle.write(piece)
            handle.truncate(9 * MIB + 4096)
        subprocess.run(["bsdtar", "--format", "pax", "-cf", "sparse.tar", "sparse.bin"], cwd=self.work, check=True)
        status, output = self.extract(self.path("sparse.tar"))
        self.assertEqual(status, 0, output)
        self.assertEqual(helperlib.tree(self.dest), {"sparse.bin": self.read("sparse.bin")})
        self.assertLess(os.stat(os.path.join(self.dest, "sparse.bin")).st_blocks * 512, 4 * MIB)  # holes kept

    def test_devices_fifos_and_set_id_bits_are_not_made(self):
        archive = self.write("special.tar", tar_bytes([
            ("disk", {"type": tarfile.BLKTYPE, "devmajor": 8, "mode": 0o666}),
            ("term\x1b]0;x\x07", {"type": tarfile.CHRTYPE, "devmajor": 5, "mode": 0o666}),
            ("pipe", {"type": tarfile.FIFOTYPE}),
            ("tool", {"data": b"#!/bin/sh\n", "mode": 0o6755}),
            ("shared", {"type": tarfile.DIRTYPE, "mode": 0o3777}),
            ("shared/plain.txt", b"plain"),
        ]))
        status, output = self.extract(archive, "-o+")
        # Told, not silent: what was skipped is named and the run is no success.
        self.assertEqual(status, 1, output)
        self.assertNotIn(ALL_OK, output)
        self.assertClean(output)
        for line in ("Skipping  disk  (a device node, not created)",
                     "Skipping  term?]0;x?  (a device node, not created)",
                     "Skipping  pipe  (a FIFO, not created)"):
            self.assertIn(line, output.split("\n"))
        self.assertEqual(sorted(os.listdir(self.dest)), ["shared", "tool"])
        self.assertEqual(self.read("dest/shared/plain.txt"), b"plain")
        for name in ("tool", "shared"):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.dest, name)).st_mode) & 0o7000, 0, name)
        # Testing reads what there is to read: nothing is missing from the archive.
        status, output = run(self.helper, ["t", archive], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertIn(ALL_OK, output.split("\n"))

    def test_legacy_code_page_names(self):
        latin = self.write("latin.tar", helperlib.tar_bytes([("caf\xe9 \x80.txt", b"tar")], tarfile.GNU_FORMAT, "latin-1"))
        # Python writes non-ASCII ZIP names as UTF-8; the bytes of code page
        # 437 (0x82 is "é") go in by hand, without the UTF-8 flag.
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            archive.writestr("cafX.txt", b"zip")
            archive.writestr("utf8 caf\u00e9 flagged.txt", b"flagged")
        dos = self.write("dos.zip", buffer.getvalue().replace(b"cafX", b"caf\x82"))
        for archive, names in {latin: ["caf\u00e9 \u20ac.txt"], dos: ["caf\u00e9.txt", "utf8 caf\u00e9 flagged.txt"]}.items():
            with self.subTest(archive=os.path.basename(archive)):
                status, output = run(self.helper, ["vb", archive], cwd=self.work)
                self.assertEqual((status, output.split("\n")), (0, names + [""]), output)
                status, output = self.extract(archive)
                self.assertEqual(status, 0, output)
                self.assertIn(ALL_OK, output.split("\n"))
                self.assertEqual(sorted(os.listdir(self.dest)), sorted(names))
                for name in names:
                    self.assertIn("Extracting  " + name, output)
        self.assertEqual(self.read("dest/caf\u00e9.txt"), b"zip")

    def test_names_are_printed_safely_and_bounded(self):
        marker_names = ["***All OK****", "x\n***All OK****\n", UNEXPECTED_END, "\x1b[2J\r***All OK****",
                        "del\x7f next\x85line\u2028end"]
        members = [("l", {"type": tarfile.SYMTYPE, "linkname": "sub"}), ("sub", None)]
        for name in marker_names:
            # Through the link, libarchive's own refusal quotes the whole name.
            members += [(name, b"m"), ("l/" + name, b"t")]
        members += [("\u00e9" * 3000, b"long"), ("h" * 100000, b"huge"), ("fine.txt", b"fine")]
        archive = self.write("names.tar", tar_bytes(members))

        status, output = self.extract(archive, "-o+")
        self.assertEqual(status, 9, output[:2000])
        self.assertClean(output)
        self.assertNotIn(UNEXPECTED_END, output.split("\n"))
        found = helperlib.tree(self.dest)
        self.assertEqual((found["fine.txt"], found[ALL_OK], found[UNEXPECTED_END], found["sub"]), (b"fine", b"m", b"m", None))
        self.assertFalse([name for name in found if name.startswith("sub/")])
        # Names over the limit fail on their own, in lines of bounded length.
        self.assertLess(max(len(line.encode()) for line in output.split("\n")), 4 * MAX_NAME_BYTES)
        self.assertIn("Extracting  del? next?line?end", output)
        self.assertInShort("Extracting  " + "\u00e9" * 2046 + CUT_MARK, output)
        self.assertInShort("Cannot create " + "h" * 4093 + CUT_MARK + ": ", output)

        status, output = run(self.helper, ["vb", archive], cwd=self.work)
        self.assertIn("h" * 4093 + CUT_MARK, output.split("\n"), output[:300])
        self.assertIn("\u00e9" * 2046 + CUT_MARK, output.split("\n"), output[:300])

    def test_endless_password_line_is_refused_in_bounded_memory(self):
        self.need("zip")
        self.write("secret.txt", b"secret")
        subprocess.run(["zip", "-q", "-P", "right", "locked.zip", "secret.txt"], cwd=self.work, check=True)
        helper = subprocess.Popen([self.helper, "x", "locked.zip", self.dest], cwd=self.work, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        helper.stdin.write(b"y" * (64 * MIB))
        helper.stdin.flush()
        # Read while the helper still waits for the line's end.
        peak = [line for line in self.read("/proc/%d/status" % helper.pid).decode().splitlines()
                if line.startswith("VmHWM:")][0]
        helper.stdin.close()
        output = helper.stdout.read().decode("utf-8", "replace")
        status = helper.wait(timeout=60)
        helper.stdout.close()
        self.assertLess(int(peak.split()[1]), 48 * 1024, peak)
        self.assertEqual(status, 11, output)
        self.assertIn(INCORRECT, output.split("\n"))
        self.assertNotIn(ALL_OK, output)
        self.assertEqual(os.listdir(self.dest), [])


if __name__ == "__main__":
    helperlib.main()
