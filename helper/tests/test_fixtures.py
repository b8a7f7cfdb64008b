#!/usr/bin/env python3
"""Every shared fixture through the helper's two application command lines.

    test_fixtures.py HELPER FIXTURES_DIR

Valid fixtures list exactly their expected names and extract with the
expected sizes and CRCs, unless knownlimits.py names a limit for them; no fixture, damaged ones included, may claim a success it did
not earn, crash, or hang. Exits 77 (skipped) without the fixtures.
"""

import os
import shutil
import sys
import unittest
import zlib
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixturelib  # noqa: E402
import helperlib  # noqa: E402
import knownlimits  # noqa: E402
from helperlib import ALL_OK, run  # noqa: E402

HELPER = FIXTURES = None


class FixtureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        manifest = fixturelib.load_manifest(FIXTURES)
        with ThreadPoolExecutor(max_workers=2) as pool:
            cls.verdicts = list(pool.map(
                lambda item: fixturelib.judge(HELPER, FIXTURES, item, knownlimits.DAMAGED_BUT_VERIFIED,
                                             knownlimits.KEYED_CHECKSUMS),
                manifest))

    def test_nothing_crashes_hangs_or_lies(self):
        for verdict in self.verdicts:
            with self.subTest(fixture=verdict.name):
                self.assertFalse(verdict.crashed, "crash or hang")
                self.assertFalse(verdict.false_success, "success claimed: " + verdict.extract_note)

    def test_valid_fixtures_list_and_extract(self):
        for verdict in self.verdicts:
            if not verdict.valid or verdict.name in knownlimits.KNOWN_LIMITS:
                continue
            with self.subTest(fixture=verdict.name):
                self.assertTrue(verdict.listing_ok, verdict.listing_note)
                self.assertTrue(verdict.extract_ok, verdict.extract_note)

    def test_damaged_fixtures_fail_cleanly(self):
        for verdict in self.verdicts:
            if not verdict.valid:
                with self.subTest(fixture=verdict.name):
                    self.assertTrue(verdict.extract_ok, verdict.extract_note)

    def test_enough_fixtures_extract(self):
        # Every valid one but the known limits; fewer is a regression.
        extracted = sum(1 for verdict in self.verdicts if verdict.valid and verdict.extract_ok)
        self.assertGreaterEqual(extracted, 79)


class SolidStreamTest(helperlib.HelperTestCase):
    """A solid stream is decoded from its start whatever the run keeps of it."""

    ARCHIVES = ("sharpcompress/Rar.solid.rar", "sharpcompress/Rar5.solid.rar")
    FIRST, MIDDLE, LAST = "тест.txt", "exe/test.exe", "jpg/test.jpg"

    def crcs(self, relative):
        for item in fixturelib.load_manifest(self.fixtures):
            if item["archive"] == "rar/" + relative:
                return {entry["name"]: entry["crc"] for entry in item["entries"] if not entry["dir"]}
        self.skipTest("not in the manifest: " + relative)

    def crc_of(self, path):
        with open(path, "rb") as handle:
            return zlib.crc32(handle.read())

    def test_a_file_skipped_in_the_middle_is_decoded_and_dropped(self):
        for relative in self.ARCHIVES:
            with self.subTest(archive=relative):
                archive, crcs = self.fixture(relative), self.crcs(relative)
                dest = self.path("out")
                shutil.rmtree(dest, ignore_errors=True)
                mine = self.write(os.path.join("out", self.MIDDLE), b"already here\n")
                status, output = run(self.helper, ["x", archive, dest, "-o-"])
                self.assertEqual(status, 0, output)
                self.assertIn("Skipping  " + self.MIDDLE, output)
                self.assertTrue(output.endswith(ALL_OK + "\n"), output)
                with open(mine, "rb") as handle:
                    self.assertEqual(handle.read(), b"already here\n")
                for name in (self.FIRST, self.LAST):
                    self.assertEqual(self.crc_of(os.path.join(dest, name)), crcs[name], name)

    def test_a_cut_stream_keeps_what_came_before_the_cut(self):
        for relative in self.ARCHIVES:
            with self.subTest(archive=relative):
                archive, crcs = self.fixture(relative), self.crcs(relative)
                with open(archive, "rb") as handle:
                    data = handle.read()
                cut = self.write("cut.rar", data[:len(data) * 3 // 5])
                dest = self.path("out")
                shutil.rmtree(dest, ignore_errors=True)
                status, output = run(self.helper, ["x", cut, dest, "-o+"])
                self.assertFailedRun(status, output)
                self.assertIn(helperlib.UNEXPECTED_END, output)
                self.assertEqual(self.crc_of(os.path.join(dest, self.FIRST)), crcs[self.FIRST])
                self.assertFalse(os.path.exists(os.path.join(dest, self.LAST)), output)
                for folder, _, files in os.walk(dest):
                    for name in files:
                        entry = os.path.relpath(os.path.join(folder, name), dest)
                        self.assertEqual(self.crc_of(os.path.join(folder, name)), crcs.get(entry), entry)


if __name__ == "__main__":
    HELPER, FIXTURES = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    helperlib.HelperTestCase.helper, helperlib.HelperTestCase.fixtures = HELPER, FIXTURES
    if not os.path.isfile(os.path.join(FIXTURES, "manifest.json")):
        print("no fixtures at " + FIXTURES + ": skipped")
        sys.exit(77)
    sys.exit(0 if unittest.main(argv=sys.argv[:1], exit=False).result.wasSuccessful() else 1)
