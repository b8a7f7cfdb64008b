#!/usr/bin/env python3
"""Extractions cut short from outside (SIGKILL, the destination made
read-only halfway) or failing where an older copy lies: nothing half written
carries an entry's name, nothing extracted or already there is lost, at most
one hidden file is left (none where files can be made without a name; ctest's
helper_interrupted_named preloads a library that refuses those).

    test_interrupted.py HELPER RARWRITE
"""

import fnmatch
import os
import signal
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import ALL_OK, AS_NOBODY, MIB, NOBODY, HelperTestCase, run  # noqa: E402

BIG_SIZE = 128 * MIB
AFTER = "zz-after.txt"  # the entry after the big one


class InterruptedTest(HelperTestCase):
    def make_big_archive(self):
        self.small = {"a.txt": b"first entry\n" * 100, "sub/b.bin": os.urandom(200000)}
        for name, data in self.small.items():
            self.write("tree/" + name, data)
        self.archive = self.path("big.rar")
        # a.txt, sub, sub/b.bin, then big.bin, then zz-after.txt
        self.rarwrite(self.archive, "-C", "tree", "--big-file", str(BIG_SIZE), "--names", "-", names=[AFTER])

    def start(self, dest, prefix=()):
        self.log = self.path("log-" + os.path.basename(dest))
        with open(self.log, "wb") as log:
            proc = subprocess.Popen([*prefix, self.helper, "x", self.archive, dest, "-o+"],
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def output(self):
        return self.read(self.log).decode("utf-8", "replace")

    def file_being_written(self, proc, dest):
        """The size of the helper's open file in `dest` other than a folder (with or without a name), or -1."""
        folder, fds = os.path.realpath(dest) + "/", "/proc/%d/fd/" % proc.pid
        try:
            for fd in os.listdir(fds):
                link, info = os.readlink(fds + fd), os.stat(fds + fd)
                if link.startswith(folder) and link[len(folder):] not in ("", AFTER) and "/" not in link[len(folder):] \
                        and stat.S_ISREG(info.st_mode):
                    return info.st_size
        except OSError:
            pass
        return -1

    def wait_for_big_entry(self, proc, dest):
        """True once big.bin is being written (some data in it), the helper still running."""
        deadline = time.monotonic() + 60
        while proc.poll() is None and time.monotonic() < deadline:
            if "big.bin" in self.output() and self.file_being_written(proc, dest) > 14:
                return True
            time.sleep(0.002)
        return False

    def assertEarlierEntriesIntact(self, dest):
        for name, data in self.small.items():
            self.assertEqual(self.read(os.path.join(dest, name)), data, name)

    def assertOnlyHiddenLeftovers(self, dest, expected):
        """The file being written left nothing, or one hidden file where files cannot be made without a name."""
        extra = set(os.listdir(dest)) - set(expected)
        self.assertEqual(len(extra), 0 if helperlib.unnamed_files_supported(dest) else 1, extra)
        for name in extra:
            self.assertTrue(fnmatch.fnmatch(name, ".big.bin.*.part"), name)

    def test_sigkill_in_the_middle_of_a_file(self):
        self.make_big_archive()
        for replacing in (False, True):
            with self.subTest(replacing=replacing):
                dest = self.path("out-%s" % replacing)
                os.makedirs(dest)
                if replacing:
                    self.write(os.path.join(dest, "big.bin"), b"an older copy\n")
                proc = self.start(dest)
                self.assertTrue(self.wait_for_big_entry(proc, dest), self.output())
                proc.kill()
                proc.wait(timeout=30)
                self.assertEarlierEntriesIntact(dest)
                self.assertOnlyHiddenLeftovers(dest, ["a.txt", "sub"] + ["big.bin"] * replacing)
                if replacing:
                    # Replaced only by a complete new copy.
                    self.assertEqual(self.read(os.path.join(dest, "big.bin")), b"an older copy\n")

                # The same extraction again finishes the job.
                status, output = run(self.helper, ["x", self.archive, dest, "-o+"], timeout=120)
                self.assertEqual(status, 0, output)
                self.assertIn(ALL_OK, output)
                self.assertEqual((os.path.getsize(os.path.join(dest, "big.bin")), self.read(os.path.join(dest, AFTER))),
                                 (BIG_SIZE, AFTER.encode() + b"\n"))

    def test_destination_made_read_only_halfway(self):
        self.make_big_archive()
        dest = self.path("out")
        os.makedirs(dest)
        self.addCleanup(os.chmod, dest, 0o755)
        # Root ignores folder permissions: the helper runs as nobody then.
        prefix = AS_NOBODY if os.geteuid() == 0 else ()
        if prefix:
            os.chmod(self.work, 0o755)
            os.chown(dest, NOBODY, NOBODY)
        proc = self.start(dest, prefix)
        self.assertTrue(self.wait_for_big_entry(proc, dest), self.output())
        proc.send_signal(signal.SIGSTOP)
        os.chmod(dest, 0o555)
        proc.send_signal(signal.SIGCONT)
        status = proc.wait(timeout=120)
        output = self.output()
        self.assertEqual(status, 5, output)
        self.assertNotIn(ALL_OK, output)
        self.assertRegex(output, r"(?m)^Cannot create big\.bin: Permission denied$")
        self.assertRegex(output, r"(?m)^Cannot create %s: " % AFTER)
        self.assertEarlierEntriesIntact(dest)
        # The complete data of big.bin, if it had a hidden name, cannot even
        # be deleted from a read-only folder.
        self.assertOnlyHiddenLeftovers(dest, ["a.txt", "sub"])

    def test_failed_replacement_keeps_the_older_copy(self):
        # Stored data, which libarchive does not check: the helper's own CRC catches it.
        self.write("small/good.txt", b"good contents\n" * 10)
        self.write("small/zz-bad.txt", b"the original contents\n" * 50)
        os.chmod(self.path("small/good.txt"), 0o640)
        mask = os.umask(0)
        os.umask(mask)
        for version in ([], ["-4"]):
            with self.subTest(version=version):
                self.rarwrite(*version, "--mtime", "1600000000", "c.rar", "-C", "small")
                with open(self.path("c.rar"), "rb") as handle:
                    helperlib.flip(self.path("c.rar"), handle.read().index(b"the original") + 100)
                self.write("out/zz-bad.txt", b"an older copy\n")
                for command in (["x", self.path("c.rar"), self.path("out"), "-o+"], ["t", self.path("c.rar")]):
                    status, output = run(self.helper, command)
                    self.assertEqual(status, 3, output)
                    self.assertNotIn(ALL_OK, output)
                    self.assertIn("Checksum error in zz-bad.txt", output)
                self.assertEqual(self.read("out/zz-bad.txt"), b"an older copy\n")
                self.assertEqual(sorted(os.listdir(self.path("out"))), ["good.txt", "zz-bad.txt"])
                # A file renamed into place keeps the time and mode set on it.
                self.assertEqual(self.read("out/good.txt"), b"good contents\n" * 10)
                info = os.stat(self.path("out/good.txt"))
                self.assertEqual((int(info.st_mtime), info.st_mode & 0o777), (1600000000, 0o640 & ~mask))


if __name__ == "__main__":
    helperlib.main(rarwrite=True)
