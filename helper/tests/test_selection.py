#!/usr/bin/env python3
"""Extraction limited to named entries: names on the command line and in a
list file (-n@FILE), folders taking what they hold, names that match
nothing, and every fixture's own listed names.

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
            archive.writestr("a.txt", b"alpha")
            archive.writestr("docs/one.txt", b"one")
            archive.writestr("docs/sub/two.txt", b"two")
            # Shares the start of "docs" but is not inside it.
            archive.writestr("docs-other/three.txt", b"three")
            archive.writestr("pics/", b"")
            archive.writestr("pics/p.png", b"png")
            archive.writestr("-dash.txt", b"dash")
            archive.writestr("empty/", b"")

    def extract(self, *names, switches=(), dest="dest"):
        return run(self.helper, ["x", self.archive, self.path(dest), "-o+"] + list(switches) + list(names))

    def list_file(self, lines, name="names.txt"):
        return self.write(name, "".join(line + "\n" for line in lines))

    def test_named_files_and_folders_give_exactly_those(self):
        status, output = self.extract("--", "a.txt", "docs", "-dash.txt", "empty")
        self.assertEqual(status, 0, output)
        self.assertIn(ALL_OK, output)
        self.assertEqual(tree(self.path("dest")), {
            "a.txt": b"alpha", "docs": None, "docs/one.txt": b"one", "docs/sub": None,
            "docs/sub/two.txt": b"two", "-dash.txt": b"dash", "empty": None})
        # Only what was taken is named in the output.
        self.assertNotIn("three.txt", output)
        self.assertNotIn("p.png", output)

        # The same from a list file, untidy slashes and all, plus a name
        # given twice; a folder with an entry of its own takes its contents.
        names = self.list_file(["docs/sub/", "//pics", "", "docs/sub"])
        status, output = self.extract(switches=["-n@" + names], dest="listed")
        self.assertEqual(status, 0, output)
        self.assertEqual(tree(self.path("listed")), {
            "docs": None, "docs/sub": None, "docs/sub/two.txt": b"two", "pics": None, "pics/p.png": b"png"})

        # "t" takes names too: only the named entry is tested.
        status, output = run(self.helper, ["t", self.archive, "docs/one.txt"])
        self.assertEqual(status, 0, output)
        self.assertIn("docs/one.txt", output)
        self.assertNotIn("a.txt", output)

    def test_names_that_match_nothing_fail_the_run(self):
        status, output = self.extract("a.txt", "doc", "nothing.txt")
        self.assertEqual(status, 1, output)
        self.assertNotIn(ALL_OK, output)
        self.assertIn("No entry named doc in", output)
        self.assertIn("No entry named nothing.txt in", output)
        # What was found is still extracted.
        self.assertEqual(tree(self.path("dest")), {"a.txt": b"alpha"})

        status, output = self.extract("A.TXT", dest="none")
        self.assertEqual(status, 10, output)
        self.assertNotIn(ALL_OK, output)
        self.assertFalse(os.path.exists(self.path("none", "a.txt")))

        # An empty list selects nothing rather than everything.
        status, output = self.extract(switches=["-n@" + self.list_file([], "empty.txt")], dest="empty")
        self.assertEqual(status, 10, output)
        self.assertFalse(os.path.exists(self.path("empty", "a.txt")))

    def test_bad_name_lists_are_refused(self):
        # A list that cannot be read; listings take no names: an extra word is still an error.
        for command in (["x", self.archive, self.path("dest"), "-n@-"],
                        ["x", self.archive, self.path("dest"), "-n@" + self.path("missing.txt")],
                        ["vb", self.archive, "a.txt"], ["vb", "-n@" + self.list_file(["a.txt"]), self.archive]):
            status, output = run(self.helper, command)
            self.assertEqual(status, 7, output)
            self.assertFalse(os.path.exists(self.path("dest", "a.txt")))

    def test_every_fixture_by_its_listed_names(self):
        """Naming every entry "vb" lists extracts what a whole extraction does."""
        self.fixture("")  # skipped without the fixtures
        tried = 0
        for number, item in enumerate(helperlib.load_manifest(self.fixtures)):
            archive = os.path.join(self.fixtures, item["archive"])
            if item["damaged"] or item["password_note"] or os.path.getsize(archive) > 8 << 20:
                continue
            password = ["-p" + item["password"]] if item["password"] else []
            with self.subTest(archive=item["archive"]):
                status, listing = run(self.helper, ["vb", "-v"] + password + [archive])
                self.assertEqual(status, 0, listing)
                whole, listed = self.path("whole", str(number)), self.path("listed", str(number))
                if run(self.helper, ["x", archive, whole, "-o+"] + password)[0] != 0:
                    continue  # a limit of the reader, covered by the fixture tests
                names = self.list_file(listing.split("\n")[:-1], "names%d.txt" % number)
                status, output = run(self.helper, ["x", archive, listed, "-o+", "-n@" + names] + password)
                self.assertEqual((status, tree(listed)), (0, tree(whole)), output)
                tried += 1
        self.assertGreater(tried, 30)


if __name__ == "__main__":
    helperlib.main()
