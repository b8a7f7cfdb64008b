#!/usr/bin/env python3
"""Hostile archives: the helper never writes outside the destination (a
sandbox folder beside a file that must stay as it is), nor follows a link out
of it, and survives absurd depth, more data than the disk holds, and damaged
copies of every fixture.

    test_hostile.py HELPER [FIXTURES_DIR]
"""

import os
import random
import shutil
import subprocess
import sys
import tarfile
import uuid
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, MIB, HelperTestCase, crashed, run, tar_bytes  # noqa: E402

PRECIOUS = b"must not change"


class HostileTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.sandbox = self.path("sandbox")
        self.dest = os.path.join(self.sandbox, "dest")
        os.makedirs(self.dest)
        self.write("sandbox/outside.txt", PRECIOUS)
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

    def assertSandboxIntact(self):
        self.assertEqual(self.read("sandbox/outside.txt"), PRECIOUS)
        self.assertEqual(sorted(os.listdir(self.sandbox)), ["dest", "outside.txt"])
        self.assertFalse(os.path.exists(self.absolute))

    def assertContained(self, status, output, refused):
        """Failed, nothing outside touched, every link inside resolving inside, the refused named."""
        self.assertFailedRun(status, output)
        self.assertSandboxIntact()
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
            ("hard-abs", "hardlink", self.absolute),
            ("sub/ok-link", "symlink", "../good.txt"),
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
        self.assertContained(status, output, ["up", "root", "climb", "hard", "hard-abs", "esc", "in/through.txt"])
        self.assertEqual(status, 9, output)
        self.assertEqual(self.read("sandbox/dest/good.txt"), b"fine")
        self.assertEqual(os.readlink(os.path.join(self.dest, "sub/ok-link")), "../good.txt")
        self.assertEqual(os.readlink(os.path.join(self.dest, "dot")), ".")
        self.assertFalse(os.path.exists(os.path.join(self.dest, "sub", "through.txt")))

    def test_links_in_the_way_are_replaced_not_followed(self):
        # Links planted before the run (pointing outside) or made by the archive, for a file with
        # data and an empty one (made only when complete); a folder in the way goes only when empty.
        for planted in ("planted.txt", "planted-empty.txt"):
            os.symlink("../outside.txt", os.path.join(self.dest, planted))
        os.makedirs(os.path.join(self.dest, "empty-folder"))
        self.write("sandbox/dest/full-folder/mine.txt", b"mine")
        archive = self.make_tar([
            ("good.txt", "file", "fine"),
            ("alias.txt", "symlink", "good.txt"),
            ("alias.txt", "file", "replaced"),
            ("planted.txt", "file", "replaced too"),
            ("planted-empty.txt", "file", ""),
            ("empty-folder", "file", "a file now"),
            ("full-folder", "file", "refused"),
        ])
        status, output = self.extract(archive)
        self.assertEqual(status, 9, output)
        self.assertRegex(output, r"(?m)^Cannot create full-folder: Is a directory$")
        self.assertEqual(helperlib.tree(self.dest), {
            "good.txt": b"fine", "alias.txt": b"replaced", "planted.txt": b"replaced too", "planted-empty.txt": b"",
            "empty-folder": b"a file now", "full-folder": None, "full-folder/mine.txt": b"mine"})
        self.assertSandboxIntact()

    def test_ten_thousand_levels(self):
        # Python's own tree removal recurses: too deep for it.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dest])
        deep = "d/" * 10000 + "leaf.txt"
        archive = self.write("deep.tar", tar_bytes([(deep, b"bottom")]))
        # Shown cut, with a mark: one name never makes a line of megabytes.
        self.assertEqual(run(self.helper, ["vb", "-v", archive]), (0, deep[:4093] + "\u2026\n"))
        status, output = run(self.helper, ["x", archive, self.dest, "-o+"], cwd=self.sandbox)
        self.assertEqual(status, 0, output[-300:])
        self.assertIn(ALL_OK, output)
        self.assertSandboxIntact()
        # Read from its own folder: the whole path is too long for one call.
        found = subprocess.run(["find", self.dest, "-name", "leaf.txt", "-execdir", "cat", "{}", ";"],
                               stdout=subprocess.PIPE, check=True).stdout
        self.assertEqual(found, b"bottom")

    def test_entry_larger_than_the_free_space(self):
        # A tmpfs of 8 MiB where this may mount one, and in any case a file size limit of as much.
        small = os.urandom(64 * 1024)
        archive = self.write("big.tar", tar_bytes([("first.bin", small), ("huge.bin", os.urandom(24 * MIB)),
                                                   ("after.txt", b"x")]))
        for mount in (False, True):
            with self.subTest(mount=mount):
                if mount and (os.geteuid() != 0 or subprocess.run(
                        ["mount", "-t", "tmpfs", "-o", "size=%d" % (8 * MIB), "vorlo-test", self.dest],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0):
                    self.skipTest("no small filesystem here")
                if mount:
                    self.addCleanup(subprocess.run, ["umount", "-l", self.dest])
                status, output = run(self.helper, ["x", archive, self.dest, "-o+"], timeout=120,
                                     file_limit=None if mount else 8 * MIB)
                self.assertEqual(status, 5, output)
                self.assertNotIn(ALL_OK, output)
                if mount:
                    # Stopped with the reserve still free, even in the middle of the file.
                    self.assertIn("nearly full", output)
                    self.assertNotIn("No space left", output)
                    self.assertRegex(output, r"(?m)^(Write error in|Cannot write|Cannot create) huge\.bin")
                else:
                    # The file size limit's signal is no end: the error is told.
                    self.assertRegex(output, r"(?m)^Write error in huge\.bin")
                # What was extracted before stays; nothing half written is left, no temporary file either.
                self.assertEqual(helperlib.tree(self.dest), {"first.bin": small})

    def test_damaged_copies_of_every_fixture(self):
        """Truncated and bit-flipped copies: a clean error or the right content.

        Every valid fixture, volume sets and encrypted ones included (the
        password is answered at the prompt); in a set the first and the last
        volume are damaged, each in turn. Fixtures the helper cannot extract
        even whole still must not crash, hang or claim a success.
        """
        self.fixture("")  # skipped without the fixtures
        items = [item for item in helperlib.load_manifest(self.fixtures) if not item["damaged"]]
        self.assertGreater(len(items), 60)
        cases = []
        for item in items:
            parts = [(os.path.basename(part), open(os.path.join(self.fixtures, part), "rb").read())
                     for part in item["parts"]]
            rng = random.Random(helperlib.fixture_name(item))
            single = len(parts) == 1
            for index in [0] if single else [0, len(parts) - 1]:
                name, data = parts[index]
                cuts = (len(data) // 3, 2 * len(data) // 3, len(data) - 7)[:3 if single else 2]
                damaged = [("cut%d" % cut, data[:cut]) for cut in cuts]
                for _ in range(4 if single and len(data) <= 2 * MIB else 1):
                    position, flipped = rng.randrange(len(data)), bytearray(data)
                    flipped[position] ^= 1 << rng.randrange(8)
                    damaged.append(("flip%d" % position, bytes(flipped)))
                cases += [(item, "v%d-%s" % (index, how), parts[:index] + [(name, copy)] + parts[index + 1:])
                          for how, copy in damaged]

        def check(case):
            item, how, parts = case
            label = helperlib.fixture_name(item) + " " + how
            folder = os.path.join(self.work, label.replace("/", "_").replace(" ", "-"))
            dest = os.path.join(folder, "dest")
            os.makedirs(dest)
            for part, data in parts:
                self.write(os.path.join(folder, part), data)
            answer = (item["password"] + "\n") * 3 if item.get("password") else None
            problems = []
            for command in (["vb", "-v", parts[0][0]], ["x", parts[0][0], dest, "-o+"]):
                status, output = run(self.helper, command, answer, folder, timeout=30)
                if crashed(status):
                    problems.append("%s crashed or hung (%d): %s" % (command[0], status, helperlib.tail(output)))
            if not crashed(status) and (ALL_OK in output or status == 0) and helperlib.check_contents(item, dest):
                problems.append("success claimed with " + helperlib.check_contents(item, dest))
            if sorted(os.listdir(folder)) != sorted([part for part, _ in parts] + ["dest"]):
                problems.append("wrote outside the destination: %s" % os.listdir(folder))
            problems += ["temporary file left: " + name for _, _, files in os.walk(dest) for name in files
                         if name.startswith(".") and name.endswith(".part")]
            shutil.rmtree(folder, ignore_errors=True)
            return label, problems

        with ThreadPoolExecutor(max_workers=2) as pool:
            for label, problems in pool.map(check, cases):
                with self.subTest(copy=label):
                    self.assertEqual(problems, [])


if __name__ == "__main__":
    helperlib.main()
