#!/usr/bin/env python3
"""Hostile archives of another kind than test_safety.py's escapes: absurd
depth, more data than the disk holds, and damaged copies of every fixture.

    test_hostile.py HELPER [FIXTURES_DIR]

The small filesystem is a size-limited tmpfs when this runs as root and may
mount; a file size limit (RLIMIT_FSIZE) stands in for it in every case.
"""

import os
import random
import shutil
import subprocess
import sys
import zipfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, MIB, HelperTestCase, crashed, run, tar_bytes  # noqa: E402


class HostileTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.sandbox = self.path("sandbox")
        self.dest = os.path.join(self.sandbox, "dest")
        os.makedirs(self.dest)

    def assertOnlyDestination(self):
        self.assertEqual(os.listdir(self.sandbox), ["dest"])

    def small_filesystem(self, size):
        """Mounts a tmpfs of `size` bytes on the destination; False when not allowed."""
        if os.geteuid() != 0 or not shutil.which("mount"):
            return False
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "vorlo-test", self.dest],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if mounted:
            self.addCleanup(subprocess.run, ["umount", "-l", self.dest])
        return mounted

    def test_ten_thousand_levels(self):
        # Python's own tree removal recurses: too deep for it.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dest])
        deep = "d/" * 10000 + "leaf.txt"
        archive = self.write("deep.tar", tar_bytes([(deep, b"bottom")]))
        status, output = run(self.helper, ["vb", "-v", "deep.tar"], cwd=self.work)
        self.assertFalse(crashed(status), output[-300:])
        if status == 0:
            # Shown cut, with a mark: one name never makes a line of megabytes.
            self.assertEqual(output, deep[:4093] + "\u2026\n")

        status, output = run(self.helper, ["x", archive, self.dest, "-o+"], cwd=self.sandbox)
        self.assertFalse(crashed(status), output[-300:])
        self.assertOnlyDestination()
        if ALL_OK in output:
            # Walk down by file descriptors: the whole path is too long for one call.
            folder = os.open(self.dest, os.O_RDONLY)
            try:
                for _ in range(10000):
                    below = os.open("d", os.O_RDONLY, dir_fd=folder)
                    os.close(folder)
                    folder = below
                leaf = os.open("leaf.txt", os.O_RDONLY, dir_fd=folder)
                self.assertEqual(os.read(leaf, 100), b"bottom")
                os.close(leaf)
            finally:
                os.close(folder)
        else:
            self.assertNotEqual(status, 0, output[-300:])
            self.assertRegex(output, r"(?m)^(Cannot create|Refused unsafe entry) ")

    def extract_to_small_disk(self, archive, size, mount):
        """Extracts onto a filesystem of `size` bytes, or else under a file size limit of `size`."""
        mounted = mount and self.small_filesystem(size)
        return mounted, run(self.helper, ["x", archive, self.dest, "-o+"], timeout=120,
                            file_limit=None if mounted else size)

    def test_entry_larger_than_the_free_space(self):
        small = os.urandom(64 * 1024)
        archive = self.write("big.tar", tar_bytes([("first.bin", small), ("huge.bin", os.urandom(24 * MIB)),
                                                   ("after.txt", b"x")]))
        for mount in (False, True):
            with self.subTest(mount=mount):
                mounted, (status, output) = self.extract_to_small_disk(archive, 8 * MIB, mount)
                if mount and not mounted:
                    self.skipTest("no small filesystem here")
                self.assertEqual(status, 5, output)
                self.assertNotIn(ALL_OK, output)
                if mounted:
                    self.assertIn("nearly full", output)
                    self.assertRegex(output, r"(?m)^(Write error in|Cannot write|Cannot create) huge\.bin")
                else:
                    # The file size limit's signal is no end: the error is told.
                    self.assertRegex(output, r"(?m)^Write error in huge\.bin")
                # What was extracted before stays; nothing half written is left.
                with open(os.path.join(self.dest, "first.bin"), "rb") as handle:
                    self.assertEqual(handle.read(), small)
                self.assertEqual(os.listdir(self.dest), ["first.bin"])  # no temporary file either

    def test_zip_bomb_stops_before_the_disk_is_full(self):
        archive = self.path("bomb.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as bomb:
            with bomb.open("zeros.bin", "w", force_zip64=True) as member:
                for _ in range(256):
                    member.write(bytes(MIB))
        self.assertLess(os.path.getsize(archive), MIB)
        mounted, (status, output) = self.extract_to_small_disk(archive, 32 * MIB, True)
        self.assertEqual(status, 5, output)
        self.assertNotIn(ALL_OK, output)
        self.assertRegex(output, r"(?m)^(Write error in|Cannot write) zeros\.bin")
        self.assertEqual(os.listdir(self.dest), [])
        if mounted:
            self.assertIn("nearly full", output)
            # Stopped with the reserve still free, even while the file was being written.
            self.assertNotIn("No space left", output)

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
            parts = []
            for part in item["parts"]:
                with open(os.path.join(self.fixtures, part), "rb") as handle:
                    parts.append((os.path.basename(part), handle.read()))
            rng = random.Random(helperlib.fixture_name(item))
            single = len(parts) == 1
            for index in [0] if single else [0, len(parts) - 1]:
                name, data = parts[index]
                cuts = (len(data) // 3, 2 * len(data) // 3, len(data) - 7)[:3 if single else 2]
                damaged = [("cut%d" % cut, data[:cut]) for cut in cuts]
                for _ in range(4 if single and len(data) <= 2 * MIB else 1):
                    flipped = bytearray(data)
                    position = rng.randrange(len(data))
                    flipped[position] ^= 1 << rng.randrange(8)
                    damaged.append(("flip%d" % position, bytes(flipped)))
                for how, copy in damaged:
                    cases.append((item, "v%d-%s" % (index, how), parts[:index] + [(name, copy)] + parts[index + 1:]))

        def check(case):
            item, how, parts = case
            label = helperlib.fixture_name(item) + " " + how
            folder = os.path.join(self.work, label.replace("/", "_").replace(" ", "-"))
            dest = os.path.join(folder, "dest")
            os.makedirs(dest)
            for part, data in parts:
                with open(os.path.join(folder, part), "wb") as handle:
                    handle.write(data)
            answer = (item["password"] + "\n") * 3 if item.get("password") else None
            problems = []
            status, output = run(self.helper, ["vb", "-v", parts[0][0]], answer, folder, timeout=30)
            if crashed(status):
                problems.append("listing crashed or hung (%d): %s" % (status, helperlib.tail(output)))
            status, output = run(self.helper, ["x", parts[0][0], dest, "-o+"], answer, folder, timeout=30)
            if crashed(status):
                problems.append("extraction crashed or hung (%d): %s" % (status, helperlib.tail(output)))
            elif (ALL_OK in output or status == 0) and helperlib.check_contents(item, dest):
                problems.append("success claimed with " + helperlib.check_contents(item, dest))
            if sorted(os.listdir(folder)) != sorted([part for part, _ in parts] + ["dest"]):
                problems.append("wrote outside the destination: %s" % os.listdir(folder))
            left = [name for _, _, files in os.walk(dest) for name in files
                    if name.startswith(".") and name.endswith(".part")]
            if left:
                problems.append("temporary files left: %s" % left)
            shutil.rmtree(folder, ignore_errors=True)
            return label, problems

        with ThreadPoolExecutor(max_workers=2) as pool:
            for label, problems in pool.map(check, cases):
                with self.subTest(copy=label):
                    self.assertEqual(problems, [])


if __name__ == "__main__":
    helperlib.main()
