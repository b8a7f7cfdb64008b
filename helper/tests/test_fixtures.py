#!/usr/bin/env python3
"""Every shared fixture through the helper's two application command lines.

    test_fixtures.py HELPER FIXTURES_DIR

Valid fixtures list exactly their expected names and extract with the
expected sizes and CRCs, unless knownlimits.py names a limit of libarchive
3.6 for them; no fixture, damaged ones included, may claim a success it did
not earn, crash, or hang. Exits 77 (skipped) without the fixtures.
"""

import os
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixturelib  # noqa: E402
import knownlimits  # noqa: E402

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
        # libarchive 3.6 with the container layer can do this many of the valid
        # ones; fewer is a regression.
        extracted = sum(1 for verdict in self.verdicts if verdict.valid and verdict.extract_ok)
        self.assertGreaterEqual(extracted, 65)


if __name__ == "__main__":
    HELPER, FIXTURES = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if not os.path.isfile(os.path.join(FIXTURES, "manifest.json")):
        print("no fixtures at " + FIXTURES + ": skipped")
        sys.exit(77)
    sys.exit(0 if unittest.main(argv=sys.argv[:1], exit=False).result.wasSuccessful() else 1)
