#!/usr/bin/env python3
"""Hostile archives: the helper never writes outside the destination.

    test_safety.py HELPER [FIXTURES_DIR]

Each archive is made at test time with Python's tarfile or zipfile. The
destination sits in a sandbox folder beside a file that must stay as it is;
after the run nothing may exist in the sandbox but the destination and that
file, every link inside the destination must resolve inside it, refused
entries must be named, and the run must fail without the success marker.
"""

import os
import sys
import tarfile
import uuid
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import HelperTestCase, run, tar_bytes  # noqa: E402

PRECIOUS = b"must not change"


class SafetyTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.sandbox = self.path("sandbox")
        self.dest = os.path.join(self.sandbox, "dest")
        os.makedirs(self.dest)
        self.outside = os.path.join(self.sandbox, "outside.txt")
        with open(self.outside, "wb") as handle:
            handle.write(PRECIOUS)
        self.absolute = "/tmp/vorlo-absolute-%s.txt" % uuid.uuid4().hex
        self.addCleanup(lambda: os.path.exists(self.absolute) and os.remove(self.absolute))

    def make_tar(self, members):
        """members: (name, kind, payload) with kind file, dir, symlink or hardlink."""
        kinds = {"symlink": tarfile.SYMTYPE, "hardlink": tarfile.LNKTYPE}
        return self.write("hostile.tar", tar_bytes(
            [(name, payload if kind == "file" else None if kind == "dir" else
              {"type": kinds[kind], "linkname": payload}) for name, kind, payload in members]))

    def extract(self, archive):
        return run(self.helper, ["x", archive, self.dest, "-o+"])

    def assertContained(self, status, output, refused):
        self.assertFailedRun(status, output)
        with open(self.outside, "rb") as handle:
            self.assertEqual(handle.read(), PRECIOUS)
        self.assertEqual(sorted(os.listdir(self.sandbox)), ["dest", "outside.txt"])
        self.assertFalse(os.path.exists(self.absolute))
        real_dest = os.path.realpath(self.dest)
        for folder, subfolders, files in os.walk(self.dest):
            for name in subfolders + files:
                target = os.path.realpath(os.path.join(folder, name))
                self.assertTrue(target == real_dest or target.startswith(real_dest + os.sep),
                                "%s resolves to %s" % (name, target))
        for name in refused:
            self.assertRegex(output, r"(?m)^Refused unsafe entry %s|^Cannot create %s" % (name, name))

    def test_paths_and_links_out_of_the_destination(self):
        archive = self.make_tar([
            ("good.txt", "file", "fine"),
            (self.absolute, "file", "absolute"),
            ("../parent.txt", "file", "parent"),
            ("sub/../../sneaky.txt", "file", "sneaky"),
            ("up", "symlink", "../outside.txt"),
            ("root", "symlink", "/etc"),
            ("dot", "symlink", "."),
            ("climb", "symlink", "dot/../outside.txt"),
            ("hard", "hardlink", "../outside.txt"),
            ("hard-abs", "hardlink", self.absolute),
            ("sub/ok-link", "symlink", "../good.txt"),
        ])
        status, output = self.extract(archive)
        self.assertContained(status, output, ["up", "root", "climb", "hard", "hard-abs"])
        self.assertEqual(status, 9, output)
        with open(os.path.join(self.dest, "good.txt")) as handle:
            self.assertEqual(handle.read(), "fine")
        self.assertEqual(os.readlink(os.path.join(self.dest, "sub/ok-link")), "../good.txt")
        self.assertEqual(os.readlink(os.path.join(self.dest, "dot")), ".")

    def test_writing_through_links(self):
        archive = self.make_tar([
            ("sub", "dir", None),
            # The classic: a link to the parent, then a file "through" it.
            ("esc", "symlink", ".."),
            ("esc/payload.txt", "file", "payload"),
            # A harmless link, but a file may not be written through it either.
            ("in", "symlink", "sub"),
            ("in/through.txt", "file", "through"),
            # A hard link to a file outside, then data written into it.
            ("hard", "hardlink", "../outside.txt"),
            ("hard", "file", "overwritten"),
        ])
        status, output = self.extract(archive)
        self.assertContained(status, output, ["esc", "in/through.txt", "hard"])
        self.assertFalse(os.path.exists(os.path.join(self.dest, "sub", "through.txt")))

    def test_links_in_the_way_are_replaced_not_followed(self):
        # One planted before the run (pointing outside), one made by the archive.
        os.symlink("../outside.txt", os.path.join(self.dest, "planted.txt"))
        archive = self.make_tar([
            ("good.txt", "file", "fine"),
            ("alias.txt", "symlink", "good.txt"),
            ("alias.txt", "file", "replaced"),
            ("planted.txt", "file", "replaced too"),
        ])
        status, output = self.extract(archive)
        self.assertEqual(status, 0, output)
        for name, text in (("good.txt", "fine"), ("alias.txt", "replaced"), ("planted.txt", "replaced too")):
            path = os.path.join(self.dest, name)
            self.assertFalse(os.path.islink(path), name)
            with open(path) as handle:
                self.assertEqual(handle.read(), text)
        with open(self.outside, "rb") as handle:
            self.assertEqual(handle.read(), PRECIOUS)
        self.assertEqual(sorted(os.listdir(self.dest)), ["alias.txt", "good.txt", "planted.txt"])

    def test_zip_paths(self):
        with zipfile.ZipFile(self.path("hostile.zip"), "w") as archive:
            archive.writestr("../zip-parent.txt", "x")
            archive.writestr(self.absolute, "x")
            archive.writestr("fine/inside.txt", "ok")
        status, output = self.extract(self.path("hostile.zip"))
        self.assertContained(status, output, ["../zip-parent.txt"])
        self.assertTrue(os.path.isfile(os.path.join(self.dest, "fine", "inside.txt")))


if __name__ == "__main__":
    helperlib.main()
