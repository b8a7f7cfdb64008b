#!/usr/bin/env python3
"""Stored RAR 4 and RAR 5 archives made at test time with the project's rarwrite.

    test_stored_rar.py HELPER RARWRITE

Names no third-party fixture has (shell metacharacters, line feeds, non-ASCII,
deep folders), volume sets of every naming scheme with holes in them, many
entries, and corrupted stored data, which libarchive does not check itself.
Exits 77 (skipped) without rarwrite.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, UNEXPECTED_END, HelperTestCase, run  # noqa: E402

RARWRITE = None
HOSTILE_NAMES = [
    "with space/",
    "with space/it's \"quoted\" $HOME `id` & ; | * ? [x].txt",
    "line\nfeed.txt",
    "tab\tand\rreturn.txt",
    "Crème brûlée/日本語/emoji 👋.txt",
    "/".join("deep%d" % level for level in range(40)) + "/bottom.txt",
    "-starts-with-dash.txt",
]


class StoredRarTest(HelperTestCase):
    def rarwrite(self, *args, names=None):
        data = b"".join(name.encode() + b"\0" for name in names) if names else None
        subprocess.run([RARWRITE, *args], cwd=self.work, input=data, check=True,
                       stdout=subprocess.DEVNULL)

    def expected_listing(self, names):
        shown = [name.rstrip("/").replace("\n", "?").replace("\r", "?").replace("\t", "?") for name in names]
        return "".join(line + "\n" for line in shown)

    def test_hostile_names_list_and_extract(self):
        for version in ("-4", "-5"):
            with self.subTest(version=version):
                archive = "names%s.rar" % version
                self.rarwrite(*(["-4"] if version == "-4" else []), archive, "--names", "-", names=HOSTILE_NAMES)
                status, output = run(self.helper, ["vb", "-v", archive], cwd=self.work)
                self.assertEqual(status, 0, output)
                self.assertEqual(output, self.expected_listing(HOSTILE_NAMES))
                out = "out" + version
                status, output = run(self.helper, ["x", self.path(archive), self.path(out), "-o+"])
                self.assertEqual(status, 0, output)
                self.assertTrue(output.endswith(ALL_OK + "\n"), output)
                for name in HOSTILE_NAMES:
                    if not name.endswith("/"):
                        self.assertEqual(self.read(os.path.join(out, name)), name.encode() + b"\n")

    def test_volume_sets(self):
        self.write("tree/a.bin", os.urandom(150000))
        self.write("tree/b/c.bin", os.urandom(90000))
        layouts = {
            "new": (["-v", "40k"], "set.part1.rar"),
            "padded": (["-v", "40k", "--volume-digits", "3"], "set.part001.rar"),
            "old": (["-4", "-v", "40k", "--old-volume-names"], "set.rar"),
        }
        for layout, (options, first) in layouts.items():
            with self.subTest(layout=layout):
                for name in os.listdir(self.work):
                    if name.startswith("set."):
                        os.remove(self.path(name))
                self.rarwrite(*options, "set.rar", "-C", "tree")
                volumes = sorted(name for name in os.listdir(self.work) if name.startswith("set."))
                self.assertGreater(len(volumes), 3)
                status, output = run(self.helper, ["vb", "-v", first], cwd=self.work)
                self.assertEqual((status, output), (0, "a.bin\nb\nb/c.bin\n"))
                status, output = run(self.helper, ["x", self.path(first), self.path("out"), "-o+"])
                self.assertEqual(status, 0, output)
                self.assertEqual(self.read("out/b/c.bin"), self.read("tree/b/c.bin"))
                self.assertEqual(helperlib.marks(output), sorted(helperlib.marks(output)))

                # A hole in the set: the middle volume goes missing.
                middle = [name for name in volumes if name != first][1]
                os.rename(self.path(middle), self.path("aside"))
                for command in (["vb", "-v", first], ["x", self.path(first), self.path("hole"), "-o+"]):
                    status, output = run(self.helper, command, cwd=self.work)
                    self.assertNotEqual(status, 0, output)
                    self.assertIn(UNEXPECTED_END, output)
                    self.assertNotIn(ALL_OK, output)
                os.rename(self.path("aside"), self.path(middle))

    def test_many_entries(self):
        self.rarwrite("many.rar", "--generate", "20000", "--fan-out", "1000")
        status, output = run(self.helper, ["vb", "-v", "many.rar"], cwd=self.work)
        self.assertEqual(status, 0)
        lines = output.splitlines()
        self.assertEqual(len(lines), 20020)
        self.assertEqual(lines[-1], "dir19/file19999.txt")

    def test_a_million_entries_are_not_taken_for_a_cut_archive(self):
        # The header walk that looks for a missing end block stops after a
        # million blocks; stopping there is no sign of a cut archive.
        with open(self.helper, "rb") as program:
            if b"__asan_init" in program.read():
                self.skipTest("a million entries take minutes under the sanitizers")
        self.rarwrite("million.rar", "--generate", "1000000", "--fan-out", "10000", "--file-size", "0")
        status, output = run(self.helper, ["t", "million.rar"], cwd=self.work)
        self.assertEqual(status, 0, output[-500:])
        self.assertTrue(output.endswith(ALL_OK + "\n"), output[-500:])

    def test_corrupt_stored_data_is_caught(self):
        self.write("tree/good.txt", b"good contents\n" * 10)
        self.write("tree/zz-bad.txt", b"the original contents\n" * 50)
        for version in ([], ["-4"]):
            with self.subTest(version=version):
                self.rarwrite(*version, "c.rar", "-C", "tree")
                with open(self.path("c.rar"), "r+b") as handle:
                    data = handle.read()
                    handle.seek(data.index(b"the original") + 100)
                    handle.write(b"X")
                status, output = run(self.helper, ["x", self.path("c.rar"), self.path("out"), "-o+"])
                self.assertEqual(status, 3, output)
                self.assertNotIn(ALL_OK, output)
                self.assertIn("Checksum error in zz-bad.txt", output)
                self.assertFalse(os.path.exists(self.path("out/zz-bad.txt")))
                self.assertEqual(self.read("out/good.txt"), b"good contents\n" * 10)
                status, output = run(self.helper, ["t", self.path("c.rar")])
                self.assertEqual(status, 3, output)


if __name__ == "__main__":
    RARWRITE = os.path.abspath(sys.argv.pop(2)) if len(sys.argv) > 2 else ""
    if not os.access(RARWRITE, os.X_OK):
        print("rarwrite is not built: skipped")
        sys.exit(77)
    helperlib.main(globals())
