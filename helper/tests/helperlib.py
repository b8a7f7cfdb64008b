"""Small tools shared by the helper's test drivers."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

PROMPT = "Enter password (will not be echoed) for %s: "
INCORRECT = "The specified password is incorrect."
ALL_OK = "***All OK****"
UNEXPECTED_END = "Unexpected end of archive"
MARK = re.compile(r"\x08\x08\x08\x08([ \d]{2}\d)%")


def run(helper, args, stdin_text="", cwd=None, timeout=60):
    """Runs the helper with standard output and error merged, as the application does."""
    done = subprocess.run([helper] + list(args), input=stdin_text.encode(), cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def tree(folder):
    """Every file below `folder`, by its path there, with its contents."""
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(root, name), "rb") as handle:
                found[os.path.relpath(os.path.join(root, name), folder)] = handle.read()
    return found


def unnamed_files_supported(folder):
    """Whether files without a name (O_TMPFILE) can be made in `folder`: the
    helper stages files that way there, else under hidden names."""
    try:
        os.close(os.open(folder, os.O_TMPFILE | os.O_WRONLY, 0o600))
        return True
    except OSError:
        return False


def marks(output):
    """The percentages of the progress marks, in order; fails on malformed marks."""
    found = [int(value) for value in MARK.findall(output)]
    stray = MARK.sub("", output)
    if "\b" in stray:
        raise AssertionError("malformed progress mark in %r" % output)
    return found


class HelperTestCase(unittest.TestCase):
    helper = None
    fixtures = None

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vorlo-helper-test-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def write(self, relative, data):
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as handle:
            handle.write(data if isinstance(data, bytes) else data.encode())
        return target

    def read(self, relative):
        with open(self.path(relative), "rb") as handle:
            return handle.read()

    def fixture(self, relative):
        if not self.fixtures or not os.path.isdir(self.fixtures):
            self.skipTest("no fixtures")
        path = os.path.join(self.fixtures, "rar", relative)
        if not os.path.exists(path):
            self.skipTest("fixture missing: " + relative)
        return path

    def need(self, program):
        if not shutil.which(program):
            self.skipTest(program + " is not installed")

    def assertFailedRun(self, status, output):
        self.assertNotEqual(status, 0, output)
        self.assertNotIn(ALL_OK, output)
        self.assertLess(status, 128, "crashed: " + output)


def main(test_globals):
    import sys
    HelperTestCase.helper = os.path.abspath(sys.argv[1])
    HelperTestCase.fixtures = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    result = unittest.main(module=test_globals["__name__"], argv=sys.argv[:1], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
