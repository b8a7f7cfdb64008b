#!/usr/bin/env python3
"""Extraction limited to named entries: names on the command line and in a
list file (-n@FILE), folders taking what they hold, names that match
nothing.

    test_selection.py HELPER [FIXTURES_DIR]
"""

import os
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, HelperTestCase, run, tree  # noqa: E402


class SelectionTest(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.archive = self.path("mixed.zip")
        with zipfile.ZipFile(self.archive, "w") as archive:
            # "docs-other" shares the start of "docs" but is not inside it.
            for name, data in (("a.txt", b"alpha"), ("docs/one.txt", b"one"), ("docs/sub/two.txt", b"two"),
                               ("docs-other/three.txt", b"three"), ("pics/", b""), ("pics/p.png", b"png"),
                               ("-dash.txt", b"dash"), ("empty/", b"")):
                archive.writestr(name, data)

    def list_file(self, lines, name="names.txt"):
        return self.write(name, "".join(line + "\n" for line in lines))

    def test_named_files_and_folders_give_exactly_those(self):
        docs = {"docs": None, "docs/one.txt": b"one", "docs/sub": None, "docs/sub/two.txt": b"two"}
        for label, names, wanted, expected in (
                ("names", ["--", "a.txt", "docs", "-dash.txt", "empty"], 0,
                 dict(docs, **{"a.txt": b"alpha", "-dash.txt": b"dash", "empty": None})),
                # Untidy slashes, a name given twice; a folder with an entry of its own takes its contents.
                ("list", ["-n@" + self.list_file(["docs/sub/", "//pics", "", "docs/sub"])], 0,
                 {"docs": None, "docs/sub": None, "docs/sub/two.txt": b"two", "pics": None, "pics/p.png": b"png"}),
                # What was found is still extracted; "doc" is not "docs"; names are case sensitive.
                ("some match nothing", ["a.txt", "doc", "nothing.txt"], 1, {"a.txt": b"alpha"}),
                ("none matches", ["A.TXT"], 10, {}),
                # An empty list selects nothing rather than everything; an unreadable one is refused.
                ("empty list", ["-n@" + self.list_file([], "empty.txt")], 10, {}),
                ("list from standard input", ["-n@-"], 7, {}),
                ("missing list", ["-n@" + self.path("missing.txt")], 7, {})):
            with self.subTest(label):
                dest = self.path(label)
                status, output = run(self.helper, ["x", self.archive, dest, "-o+"] + names)
                self.assertEqual(status, wanted, output)
                self.assertEqual(ALL_OK in output, status == 0, output)
                self.assertEqual(tree(dest), expected)
                for name in [name for name in names if not name.startswith("-")] if wanted in (1, 10) else []:
                    self.assertEqual("No entry named %s in" % name in output, name not in expected, output)

    def test_bad_name_lists_are_refused(self):
        # Listings take no names; "t" does, and tests only the named entries.
        for command in (["vb", self.archive, "a.txt"], ["vb", "-n@" + self.list_file(["a.txt"]), self.archive]):
            self.assertEqual(run(self.helper, command)[0], 7, command)
        status, output = run(self.helper, ["t", self.archive, "docs/one.txt"])
        self.assertEqual(status, 0, output)
        self.assertIn("docs/one.txt", output)
        self.assertNotIn("a.txt", output)


if __name__ == "__main__":
    helperlib.main()
