#!/usr/bin/env python3
"""Per-fixture report of the helper on the shared RAR fixtures.

    helper/tests/fixture_report.py [HELPER] [FIXTURES_DIR]

For every archive of the manifest: whether the bare listing matches, whether
extraction reproduces the expected contents, and for failures what went
wrong (with the known limit where one applies). Ends with
the summary counts.
"""

import os
import sys
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixturelib  # noqa: E402
import knownlimits  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_HELPER = os.path.join(HERE, "..", "..", "build", "libexec", "vorlo", "unrar")
DEFAULT_FIXTURES = os.path.join(HERE, "..", "..", "..", "shared", "fixtures")


def main():
    helper = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else DEFAULT_HELPER)
    fixtures = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else DEFAULT_FIXTURES)
    manifest = fixturelib.load_manifest(fixtures)
    with ThreadPoolExecutor(max_workers=2) as pool:
        verdicts = list(pool.map(lambda item: fixturelib.judge(helper, fixtures, item, knownlimits.DAMAGED_BUT_VERIFIED, knownlimits.KEYED_CHECKSUMS), manifest))

    counts = dict(valid=0, extracted=0, listed=0, false_success=0, crashed=0, damaged_clean=0, damaged=0)
    for verdict in verdicts:
        limit = knownlimits.KNOWN_LIMITS.get(verdict.name, "")
        kind = "valid  " if verdict.valid else "damaged"
        line = "%-62s %s list %-4s extract %-4s" % (
            verdict.name, kind, "ok" if verdict.listing_ok else "FAIL", "ok" if verdict.extract_ok else "FAIL")
        if verdict.false_success:
            line += " FALSE-SUCCESS"
        if verdict.crashed:
            line += " CRASH/HANG"
        print(line)
        if verdict.valid and not (verdict.listing_ok and verdict.extract_ok):
            if limit:
                print("      limit: " + limit)
            if not verdict.listing_ok:
                print("      listing: " + verdict.listing_note)
            if not verdict.extract_ok:
                print("      extraction: " + verdict.extract_note)
        elif verdict.valid and limit:
            print("      (listed as a known limit but now passes: " + limit + ")")
        if not verdict.valid and verdict.name in knownlimits.DAMAGED_BUT_VERIFIED:
            print("      accepted: " + knownlimits.DAMAGED_BUT_VERIFIED[verdict.name])
        if verdict.valid:
            counts["valid"] += 1
            counts["extracted"] += verdict.extract_ok
            counts["listed"] += verdict.listing_ok
        else:
            counts["damaged"] += 1
            counts["damaged_clean"] += verdict.listing_ok and verdict.extract_ok
        counts["false_success"] += verdict.false_success
        counts["crashed"] += verdict.crashed

    print()
    print("valid fixtures listed correctly:    %(listed)d of %(valid)d" % counts)
    print("valid fixtures extracted correctly: %(extracted)d of %(valid)d" % counts)
    print("damaged fixtures failing cleanly:   %(damaged_clean)d of %(damaged)d" % counts)
    print("false successes:                    %(false_success)d" % counts)
    print("crashes or hangs:                   %(crashed)d" % counts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
