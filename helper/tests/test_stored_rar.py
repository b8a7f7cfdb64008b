#!/usr/bin/env python3
"""Stored RAR 4 and RAR 5 archives made at test time with the project's rarwrite.

    test_stored_rar.py HELPER RARWRITE

Names no third-party fixture has (shell metacharacters, line feeds, non-ASCII,
deep folders), volume sets of every naming scheme, a million entries.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, HelperTestCase, run  # noqa: E402

HOSTILE_NAMES = [
    "with space/",
    "with space/it's \"quoted\" $HOME `id` & ; | * ? [x] $(touch pwned).txt",
    "line\nfeed.txt",
    "tab\tand\rreturn.txt",
    "Crème brûlée/日本語/emoji 👋.txt",
    "/".join("deep%d" % level for level in range(40)) + "/bottom.txt",
    "-starts-with-dash.txt",
]


class StoredRarTest(HelperTestCase):
    def test_hostile_names_list_and_extract(self):
        # Shown with every control character as "?", written under their own names.
        shown = "".join(name.rstrip("/").replace("\n", "?").replace("\r", "?").replace("\t", "?") + "\n"
                        for name in HOSTILE_NAMES)
        for version in ("-4", "-5"):
            with self.subTest(version=version):
                archive = "names%s.rar" % version
                self.rarwrite(*(["-4"] if version == "-4" else []), archive, "--names", "-", names=HOSTILE_NAMES)
                self.assertEqual(run(self.helper, ["vb", "-v", archive], cwd=self.work), (0, shown))
                out = "out" + version
                status, output = run(self.helper, ["x", self.path(archive), self.path(out), "-o+"], cwd=self.work)
                self.assertEqual(status, 0, output)
                self.assertTrue(output.endswith(ALL_OK + "\n"), output)
                for name in HOSTILE_NAMES:
                    if not name.endswith("/"):
                        self.assertEqual(self.read(os.path.join(out, name)), name.encode() + b"\n")
                self.assertFalse(os.path.exists(self.path("pwned")))

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
                self.assertGreater(len([name for name in os.listdir(self.work) if name.startswith("set.")]), 3)
                status, output = run(self.helper, ["vb", "-v", first], cwd=self.work)
                self.assertEqual((status, output), (0, "a.bin\nb\nb/c.bin\n"))
                status, output = run(self.helper, ["x", self.path(first), self.path("out", layout), "-o+"])
                self.assertEqual(status, 0, output)
                self.assertEqual(helperlib.tree(self.path("out", layout)), helperlib.tree(self.path("tree")))
                self.assertEqual(helperlib.marks(output), sorted(helperlib.marks(output)))

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


if __name__ == "__main__":
    helperlib.main(rarwrite=True)
