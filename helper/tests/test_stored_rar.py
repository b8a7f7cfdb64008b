#!/usr/bin/env python3
"""Stored RAR 4 and RAR 5 archives made at test time with the project's rarwrite.

    test_stored_rar.py HELPER RARWRITE

Names no third-party fixture has (shell metacharacters, line feeds, non-ASCII,
deep folders, the longest a file may have) and a million entries.
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
    "\u00e9" * 125 + ".txt",  # 254 bytes: the hidden name it is written under must be cut
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

    def test_volumes_ending_between_entries(self):
        # Every volume but the last ends where an entry ends: the next entry's
        # header is in the next volume, and the run must go on to read it.
        for version in ("-4", "-5"):
            with self.subTest(version=version):
                self.rarwrite(*(["-4"] if version == "-4" else []), "-v", "2k", "--volume-digits", "2", "set%s.rar" % version,
                              "--generate", "400", "--fan-out", "50")
                out = self.path("out" + version)
                status, output = run(self.helper, ["x", "set%s.part01.rar" % version, out, "-o+"], cwd=self.work)
                self.assertTrue(output.endswith(ALL_OK + "\n"), output[-500:])
                self.assertEqual(sum(len(files) for _, _, files in os.walk(out)), 400)

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
