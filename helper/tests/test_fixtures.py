#!/usr/bin/env python3
"""Every shared fixture through the helper's two application command lines:
valid ones list exactly their expected names and extract with the expected
sizes and checksums (but the known limits); none may claim a success it did
not earn, crash, or hang.

    test_fixtures.py HELPER FIXTURES_DIR
"""

import os
import sys
import zlib
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, HelperTestCase, run  # noqa: E402


class FixtureTest(HelperTestCase):
    @classmethod
    def setUpClass(cls):
        with ThreadPoolExecutor(max_workers=2) as pool:
            cls.verdicts = list(pool.map(lambda item: helperlib.judge(cls.helper, cls.fixtures, item),
                                         helperlib.load_manifest(cls.fixtures)))

    def test_nothing_crashes_hangs_or_lies(self):
        # For a damaged fixture this is its whole test: a clean failure or a verified success.
        for verdict in self.verdicts:
            with self.subTest(fixture=verdict.name):
                self.assertFalse(verdict.crashed, "crash or hang: " + verdict.note)
                self.assertFalse(verdict.lied, "success claimed: " + verdict.note)

    def test_valid_fixtures_list_and_extract(self):
        for verdict in self.verdicts:
            if verdict.valid and verdict.name not in helperlib.KNOWN_LIMITS:
                with self.subTest(fixture=verdict.name):
                    self.assertTrue(verdict.ok, verdict.note)
        # Fewer than this is a fixture gone missing or a new limit.
        self.assertGreaterEqual(sum(verdict.valid and verdict.ok for verdict in self.verdicts), 79)


class SolidStreamTest(HelperTestCase):
    """A solid stream is decoded from its start whatever the run keeps of it."""

    ARCHIVES = ("sharpcompress/Rar.solid.rar", "sharpcompress/Rar5.solid.rar")
    FIRST, MIDDLE, LAST = "тест.txt", "exe/test.exe", "jpg/test.jpg"

    def solid(self, relative):
        crcs = {entry["name"]: entry["crc"] for item in helperlib.load_manifest(self.fixtures)
                if item["archive"] == "rar/" + relative for entry in item["entries"] if not entry["dir"]}
        return self.fixture(relative), crcs, self.path("out", os.path.basename(relative))

    def crcs_in(self, dest):
        return {name: zlib.crc32(data) for name, data in helperlib.tree(dest).items() if data is not None}

    def test_a_file_skipped_in_the_middle_is_decoded_and_dropped(self):
        for relative in self.ARCHIVES:
            with self.subTest(archive=relative):
                archive, crcs, dest = self.solid(relative)
                mine = self.write(os.path.join(dest, self.MIDDLE), b"already here\n")
                status, output = run(self.helper, ["x", archive, dest, "-o-"])
                self.assertEqual(status, 0, output)
                self.assertIn("Skipping  " + self.MIDDLE, output)
                self.assertTrue(output.endswith(ALL_OK + "\n"), output)
                self.assertEqual(self.read(mine), b"already here\n")
                wanted = {name: crcs[name] for name in (self.FIRST, self.LAST)}
                self.assertLessEqual(wanted.items(), self.crcs_in(dest).items())
                # The same when the middle file is not among the names asked for.
                status, output = run(self.helper, ["x", archive, dest + "-named", "-o+", "--", self.FIRST, self.LAST])
                self.assertEqual(status, 0, output)
                self.assertEqual(self.crcs_in(dest + "-named"), wanted)

    def test_a_cut_stream_keeps_what_came_before_the_cut(self):
        for relative in self.ARCHIVES:
            with self.subTest(archive=relative):
                archive, crcs, dest = self.solid(relative)
                data = self.read(archive)
                cut = self.write("cut.rar", data[:len(data) * 3 // 5])
                status, output = run(self.helper, ["x", cut, dest, "-o+"])
                self.assertFailedRun(status, output)
                self.assertIn(helperlib.UNEXPECTED_END, output)
                # Whatever took its name is whole: the first file, never the last.
                found = self.crcs_in(dest)
                self.assertEqual(found, {name: crcs[name] for name in found})
                self.assertIn(self.FIRST, found)
                self.assertNotIn(self.LAST, found, output)


if __name__ == "__main__":
    helperlib.main(fixtures=True)
