#!/usr/bin/env python3
"""Hostile archives of another kind than test_safety.py's escapes: awkward
names, absurd depth, more data than the disk holds, and damaged copies of
every fixture.

    test_hostile.py HELPER [FIXTURES_DIR]

The small filesystem is a size-limited tmpfs when this runs as root and may
mount; otherwise a file size limit (RLIMIT_FSIZE) stands in for it.
"""

import io
import os
import random
import resource
import shutil
import subprocess
import sys
import tarfile
import zipfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixturelib  # noqa: E402
from helperlib import ALL_OK, HelperTestCase, main, run  # noqa: E402

METACHARACTERS = "meta ;|&$`'\"\\<>(){}[]*?~!#%^=,+@: $(touch pwned) `id` ${HOME}.txt"
MIB = 1 << 20


def tar_bytes(members):
    """members: (name, data or None for a folder)."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, data in members:
            info = tarfile.TarInfo(name)
            if data is None:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def run_limited(helper, args, file_limit=None, timeout=120):
    def limit():
        if file_limit:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    done = subprocess.run([helper] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          preexec_fn=limit, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace")


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

    def test_shell_metacharacters_in_names(self):
        data = b"harmless\n"
        archive = self.write("meta.tar", tar_bytes([("dir $(x);`y`", None),
                                                    ("dir $(x);`y`/" + METACHARACTERS, data)]))
        status, output = run(self.helper, ["vb", "-v", "meta.tar"], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertEqual(output.split("\n"), ["dir $(x);`y`", "dir $(x);`y`/" + METACHARACTERS, ""])

        status, output = run(self.helper, ["x", archive, self.dest, "-o+"], cwd=self.sandbox)
        self.assertEqual(status, 0, output)
        self.assertIn(ALL_OK, output)
        with open(os.path.join(self.dest, "dir $(x);`y`", METACHARACTERS), "rb") as handle:
            self.assertEqual(handle.read(), data)
        self.assertOnlyDestination()
        self.assertFalse(os.path.exists(os.path.join(self.sandbox, "pwned")))

    def test_ten_thousand_levels(self):
        # Python's own tree removal recurses: too deep for it.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.dest])
        deep = "d/" * 10000 + "leaf.txt"
        archive = self.write("deep.tar", tar_bytes([(deep, b"bottom")]))
        status, output = run(self.helper, ["vb", "-v", "deep.tar"], cwd=self.work)
        self.assertLess(status, 128, output[-300:])
        if status == 0:
            # Shown cut, with a mark: one name never makes a line of megabytes.
            self.assertEqual(output, deep[:4093] + "\u2026\n")

        status, output = run(self.helper, ["x", archive, self.dest, "-o+"], cwd=self.sandbox)
        self.assertLess(status, 128, output[-300:])
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

    def extract_to_small_disk(self, archive, size):
        """Runs an extraction onto a filesystem of `size` bytes (or a file size limit)."""
        mounted = self.small_filesystem(size)
        status, output = run_limited(self.helper, ["x", archive, self.dest, "-o+"],
                                     file_limit=None if mounted else size)
        return mounted, status, output

    def test_entry_larger_than_the_free_space(self):
        small = os.urandom(64 * 1024)
        big = random.Random(7).randbytes(24 * MIB)
        archive = self.write("big.tar", tar_bytes([("first.bin", small), ("huge.bin", big), ("after.txt", b"x")]))
        mounted, status, output = self.extract_to_small_disk(archive, 8 * MIB)
        self.assertEqual(status, 5, output)
        self.assertNotIn(ALL_OK, output)
        self.assertRegex(output, r"(?m)^(Write error in|Cannot write|Cannot create) huge\.bin")
        # What was extracted before stays; nothing half written is left.
        with open(os.path.join(self.dest, "first.bin"), "rb") as handle:
            self.assertEqual(handle.read(), small)
        self.assertFalse(os.path.exists(os.path.join(self.dest, "huge.bin")))
        self.assertEqual(os.listdir(self.dest), ["first.bin"])  # no temporary file either
        if mounted:
            self.assertIn("nearly full", output)

    def test_zip_bomb_stops_before_the_disk_is_full(self):
        archive = self.path("bomb.zip")
        chunk = bytes(MIB)
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as bomb:
            with bomb.open("zeros.bin", "w", force_zip64=True) as member:
                for _ in range(256):
                    member.write(chunk)
        self.assertLess(os.path.getsize(archive), MIB)
        mounted, status, output = self.extract_to_small_disk(archive, 32 * MIB)
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
        password is answered at the prompt); in a volume set one volume at a
        time is damaged. Fixtures the helper cannot extract even whole still
        must not crash, hang or claim a success.
        """
        if not self.fixtures or not os.path.isfile(os.path.join(self.fixtures, "manifest.json")):
            self.skipTest("no fixtures")
        items = [item for item in fixturelib.load_manifest(self.fixtures) if not item["damaged"]]
        self.assertGreater(len(items), 60)
        cases = []
        for item in items:
            parts = []
            for part in item["parts"]:
                with open(os.path.join(self.fixtures, part), "rb") as handle:
                    parts.append((os.path.basename(part), handle.read()))
            rng = random.Random(fixturelib.fixture_name(item))
            large = sum(len(data) for _, data in parts) > 2 * MIB
            # Single archives get more damage; in a set the first and the last
            # volume are damaged, each in turn.
            targets = [0] if len(parts) == 1 else [0, len(parts) - 1]
            for index in targets:
                name, data = parts[index]
                cuts = (len(data) // 3, 2 * len(data) // 3, len(data) - 7)
                flips = 1 if large or len(parts) > 1 else 4
                damaged = [("cut%d" % cut, data[:cut]) for cut in cuts[:3 if len(parts) == 1 else 2]]
                for _ in range(flips):
                    flipped = bytearray(data)
                    position = rng.randrange(len(data))
                    flipped[position] ^= 1 << rng.randrange(8)
                    damaged.append(("flip%d" % position, bytes(flipped)))
                for how, copy in damaged:
                    changed = list(parts)
                    changed[index] = (name, copy)
                    cases.append((item, "v%d-%s" % (index, how), changed))

        def check(case):
            item, how, parts = case
            name = fixturelib.fixture_name(item)
            folder = os.path.join(self.work, "damaged", name.replace("/", "_") + "-" + how)
            dest = os.path.join(folder, "dest")
            os.makedirs(dest)
            for part, data in parts:
                with open(os.path.join(folder, part), "wb") as handle:
                    handle.write(data)
            first = parts[0][0]
            password = item.get("password")
            answer = (password + "\n") * 3 if password else None
            problems = []
            listing = fixturelib.run_helper(self.helper, ["vb", "-v", first], cwd=folder,
                                            stdin_text=answer, timeout=30)
            if listing.crashed:
                problems.append("listing crashed or hung (%d): %s" % (listing.status, listing.tail()))
            extraction = fixturelib.run_helper(self.helper, ["x", os.path.join(folder, first), dest, "-o+"],
                                               cwd=folder, stdin_text=answer, timeout=30)
            if extraction.crashed:
                problems.append("extraction crashed or hung (%d): %s" % (extraction.status, extraction.tail()))
            elif ALL_OK in extraction.output or extraction.status == 0:
                wrong = fixturelib.check_contents(item, dest)
                if wrong:
                    problems.append("success claimed with " + wrong)
            if sorted(os.listdir(folder)) != sorted([part for part, _ in parts] + ["dest"]):
                problems.append("wrote outside the destination: %s" % os.listdir(folder))
            left = [name for _, _, files in os.walk(dest) for name in files
                    if name.startswith(".") and name.endswith(".part")]
            if left:
                problems.append("temporary files left: %s" % left)
            shutil.rmtree(folder, ignore_errors=True)
            return "%s %s" % (name, how), problems

        with ThreadPoolExecutor(max_workers=2) as pool:
            results = list(pool.map(check, cases))
        for label, problems in results:
            with self.subTest(copy=label):
                self.assertEqual(problems, [])

if __name__ == "__main__":
    main(globals())
