#!/usr/bin/env python3
"""The helper's command-line contract, through the real program: exit
statuses, progress lines, damaged and pieced archives, password prompts.

    test_cli.py HELPER [FIXTURES_DIR]
"""

import fnmatch
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import (ALL_OK, INCORRECT, PROMPT, UNEXPECTED_END, HelperTestCase, marks, read_file,  # noqa: E402
                       run, tree)


class CommandLineTest(HelperTestCase):
    def test_help_and_bad_command_lines(self):
        status, output = run(self.helper, ["--help"])
        self.assertEqual(status, 0)
        self.assertIn("Exit status", output)
        self.assertEqual(run(self.helper, ["-?"]), (status, output))
        for bad in (["q", "a.rar"], ["x", "-z", "a.rar"], [], ["vb"], ["l", "a.rar", "extra"]):
            status, output = run(self.helper, bad)
            self.assertEqual(status, 7, bad)
            self.assertIn("Usage", output)

    def test_missing_and_foreign_files(self):
        status, output = run(self.helper, ["vb", "-v", self.path("nothing.rar")])
        self.assertEqual(status, 6)
        self.assertEqual(len(output.strip().splitlines()), 1, output)
        # Text, a one-word line (which libarchive's manifest reader would
        # take for an entry) and an empty file are not archives.
        for name, content in (("text.rar", b"this is not an archive at all\n" * 50), ("word.rar", b"hello\n"),
                              ("manifest.rar", b"#mtree\n./leak type=file contents=/etc/hostname\n"),
                              ("empty.rar", b"")):
            self.write(name, content)
            for command in (["vb", "-v", name], ["x", self.path(name), self.path("out"), "-o+"]):
                status, output = run(self.helper, command, cwd=self.work)
                self.assertFailedRun(status, output)
                self.assertIn(name, output)
            self.assertFalse(os.path.exists(self.path("out/leak")))


class ExtractionTest(HelperTestCase):
    def make_zip(self, name, files):
        with zipfile.ZipFile(self.path(name), "w", zipfile.ZIP_DEFLATED) as archive:
            for member, data in files.items():
                archive.writestr(member, data)
        return self.path(name)

    def test_progress_lines_and_marks(self):
        files = {"a/one.bin": os.urandom(700000), "a/two.bin": os.urandom(900000), "three.txt": b"x" * 10}
        archive = self.make_zip("p.zip", files)
        status, output = run(self.helper, ["x", archive, self.path("out"), "-o+"])
        self.assertEqual(status, 0, output)
        # A line per entry, its marks counting up to 100 %, then the success marker alone.
        self.assertRegex(output, r"^Extracting from %s\n(Extracting  \S+\x08{4}[ \d]{2}\d%%.*  OK\n){3}%s\n$"
                         % (re.escape(archive), re.escape(ALL_OK)))
        percentages = marks(output)
        self.assertEqual(percentages, sorted(percentages))
        self.assertGreater(len(set(percentages)), 2)
        self.assertEqual(percentages[-1], 100)
        self.assertEqual({name: data for name, data in tree(self.path("out")).items() if data}, files)

    def test_truncated_archives(self):
        # Cut inside the data, then inside the headers; volume sets without a middle or the last volume.
        data = read_file(self.fixture("sharpcompress/Rar5.rar"))
        cases = [("cut%d" % keep, {"cut.rar": data[:len(data) * keep // 10]}) for keep in (6, 2)]
        for first in ("sharpcompress/Rar5.multi.part01.rar", "sharpcompress/Rar4.multi.part01.rar"):
            folder, stem = os.path.dirname(self.fixture(first)), os.path.basename(first).split(".part")[0]
            parts = sorted(name for name in os.listdir(folder) if name.startswith(stem + ".part"))
            cases += [("%s without %s" % (stem, dropped),
                       {name: read_file(os.path.join(folder, name)) for name in parts if name != dropped})
                      for dropped in (parts[2], parts[-1])]
        for label, files in cases:
            with self.subTest(label):
                for name, content in files.items():
                    self.write(os.path.join(label, name), content)
                for command in (["vb", "-v", min(files)], ["x", min(files), "out", "-o+"]):
                    status, output = run(self.helper, command, cwd=self.path(label))
                    self.assertFailedRun(status, output)
                    self.assertIn(UNEXPECTED_END, output)
                    if label.endswith(".part03.rar"):
                        # A hole in the middle is named, and the parts around
                        # it are never joined into a file.
                        self.assertRegex(output, "Cannot find volume .*/" + re.escape(label.split()[-1]))
                        self.assertNotIn("Checksum error", output)
                        self.assertFalse(os.path.exists(self.path(label, "out", "jpg", "test.jpg")))

    def assertSameArchive(self, first, plain):
        """`first` lists and extracts as the archive plain.rar does."""
        self.assertEqual(run(self.helper, ["vb", "-v", first], cwd=self.work),
                         run(self.helper, ["vb", "-v", plain], cwd=self.work))
        for name in (first, plain):
            status, output = run(self.helper, ["x", self.path(name), self.path("out", name), "-o+"])
            self.assertEqual(status, 0, output)
            self.assertIn(ALL_OK, output)
        self.assertEqual(tree(self.path("out", first)), tree(self.path("out", plain)))

    def test_self_extracting_stub_with_a_stray_signature(self):
        # A stub may contain the signature bytes without an archive behind
        # them: the archive is the one whose main header follows.
        for fixture, stray in (("sharpcompress/Rar.rar", b"Rar!\x1a\x07\x00\x00"),
                               ("sharpcompress/Rar5.rar", b"Rar!\x1a\x07\x01\x00\x00")):
            with self.subTest(fixture=fixture):
                data = read_file(self.fixture(fixture))
                self.write("setup.exe", b"MZ" + stray + bytes(300) + data)
                self.write("plain.rar", data)
                self.assertSameArchive("setup.exe", "plain.rar")

    def test_raw_pieces_of_every_naming_are_one_archive(self):
        # Pieces cut by split(1) or by hand, whatever their names: the
        # listing and the extraction read them as the one archive they are.
        for fixture in ("sharpcompress/Rar.rar", "sharpcompress/Rar5.rar"):
            data = read_file(self.fixture(fixture))
            self.write("plain.rar", data)
            size = len(data) // 3 + 1
            for names in (("c.001", "c.002", "c.003"), ("c_aa", "c_ab", "c_ac"), ("c.rar.aa", "c.rar.ab", "c.rar.ac")):
                with self.subTest(fixture=fixture, names=names):
                    for index, name in enumerate(names):
                        self.write(name, data[index * size:(index + 1) * size])
                    self.assertSameArchive(names[0], "plain.rar")
                    shutil.rmtree(self.path("out"), ignore_errors=True)

    def test_a_stalled_read_ends_the_run(self):
        shim = os.environ.get("VORLO_STALLING_READ")
        if not shim:
            self.skipTest("no stalling-read library")
        archive = self.make_zip("s.zip", {"a.bin": os.urandom(2000000)})
        started = time.monotonic()
        status, output = run(self.helper, ["x", archive, self.path("out"), "-o+"], timeout=40,
                             env=dict(os.environ, LD_PRELOAD=shim))
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(status, 2, output)
        self.assertIn(UNEXPECTED_END, output)
        self.assertNotIn(ALL_OK, output)


class PasswordTest(HelperTestCase):
    SECRET = b"the secret contents\n" * 100

    def make_encrypted(self, tool):
        """A ZIP whose first entry is plain and the next two encrypted with "right"."""
        archive = self.path("enc-%s.zip" % tool)
        if not os.path.exists(archive):
            self.need(tool)
            self.write("src/plain.txt", b"not secret")
            self.write("src/secret.txt", self.SECRET)
            self.write("src/secret2.txt", self.SECRET[::-1])
            plain, secret = (["zip", "-q"], ["zip", "-q", "-P", "right"]) if tool == "zip" else \
                (["7zz", "a", "-bso0", "-tzip"], ["7zz", "a", "-bso0", "-tzip", "-mem=AES256", "-pright"])
            subprocess.run(plain + [archive, "plain.txt"], cwd=self.path("src"), check=True)
            subprocess.run(secret + [archive, "secret.txt", "secret2.txt"], cwd=self.path("src"), check=True)
        return archive

    def extract(self, archive, answers, *switches):
        shutil.rmtree(self.path("out"), ignore_errors=True)
        return run(self.helper, ["x", archive, self.path("out"), "-o+", *switches], stdin_text=answers)

    def test_right_password(self):
        # ZipCrypto (zip) and AES (7zz), whose check leaves no chance to a lucky wrong password.
        # answers, switches: exit status, prompts, refusals
        for tool, answers, switches, expected in (("zip", "right\n", [], (0, 1, 0)),
                                                  ("7zz", "right\n", [], (0, 1, 0)),
                                                  ("7zz", "wrong\nright\n", [], (0, 2, 1)),
                                                  ("7zz", "one\ntwo\nthree\nright\n", [], (11, 3, 3)),
                                                  ("7zz", "", [], (11, 1, 0)),
                                                  ("7zz", "", ["-pright"], (0, 0, 0)),
                                                  ("7zz", "", ["-pwrong"], (11, 0, 1))):
            with self.subTest(tool=tool, answers=answers, switches=switches):
                archive = self.make_encrypted(tool)
                status, output = self.extract(archive, answers, *switches)
                self.assertEqual((status, output.count(PROMPT % archive), output.count(INCORRECT + "\n")),
                                 expected, output)
                if status == 0:
                    self.assertIn(ALL_OK, output)
                    self.assertEqual(self.read("out/secret.txt"), self.SECRET)
                    self.assertEqual(self.read("out/secret2.txt"), self.SECRET[::-1])
                else:
                    self.assertNotIn(ALL_OK, output)
                    self.assertEqual(os.listdir(self.path("out")), ["plain.txt"])
                # Names are not hidden: a listing asks nothing.
                self.assertEqual(run(self.helper, ["vb", "-v", archive]), (0, "plain.txt\nsecret.txt\nsecret2.txt\n"))

    def test_encrypted_rar_is_decrypted(self):
        # Names hidden: the listing asks, again after a wrong answer, and says every refused answer,
        # the last one too. Data only: the listing asks nothing, extraction asks and verifies; a wrong
        # password for RAR 4 data shows only in the checksum: "incorrect", a new prompt, and the run
        # starts over with the new answer, no file left before.
        hidden = self.fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar")
        data = self.fixture("sharpcompress/Rar.encrypted_filesOnly.rar")
        # answers: exit status, prompts, refusals
        for archive, command, answers, expected in ((hidden, "vb", "wrong\ntest\n", (0, 2, 1)),
                                                    (hidden, "vb", "a\nb\nc\n", (11, 3, 3)),
                                                    (data, "vb", "", (0, 0, 0)),
                                                    (data, "x", "test\n", (0, 1, 0)),
                                                    (data, "x", "wrong\n", (11, 2, 1)),
                                                    (data, "x", "wrong\ntest\n", (0, 2, 1))):
            with self.subTest(archive=os.path.basename(archive), command=command, answers=answers):
                status, output = self.extract(archive, answers) if command == "x" else \
                    run(self.helper, ["vb", "-v", archive], stdin_text=answers)
                self.assertEqual((status, output.count(PROMPT % archive), output.count(INCORRECT + "\n")),
                                 expected, output)
                if command == "vb":
                    self.assertEqual("exe/test.exe\n" in output, status == 0, output)
                else:
                    self.assertEqual(ALL_OK in output, status == 0, output)
                    self.assertEqual(os.path.exists(self.path("out/exe/test.exe")), status == 0, output)

    def test_stop_signal_removes_the_partial_file(self):
        archive = self.make_encrypted("zip")
        helper = subprocess.Popen([self.helper, "x", archive, self.path("out"), "-o+"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # The helper waits at the prompt of the second entry, its file open.
        output = b""
        deadline = time.monotonic() + 20
        while b"Enter password" not in output and time.monotonic() < deadline:
            output += os.read(helper.stdout.fileno(), 4096)
        # ... without a name, or under a hidden one, until its data is complete and checked.
        self.assertFalse(os.path.exists(self.path("out/secret.txt")), output)
        hidden = 0 if helperlib.unnamed_files_supported(self.path("out")) else 1
        self.assertEqual(len(fnmatch.filter(os.listdir(self.path("out")), ".secret.txt.*.part")), hidden,
                         os.listdir(self.path("out")))
        helper.send_signal(signal.SIGTERM)
        helper.wait(timeout=10)  # standard input stays open: the signal alone ends it
        rest, _ = helper.communicate()
        self.assertEqual(helper.returncode, 255)
        self.assertNotIn(ALL_OK.encode(), output + rest)
        self.assertEqual(os.listdir(self.path("out")), ["plain.txt"])
        self.assertEqual(self.read("out/plain.txt"), b"not secret")


if __name__ == "__main__":
    helperlib.main()
