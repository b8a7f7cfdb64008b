#!/usr/bin/env python3
"""The helper's command-line contract, through the real program.

    test_cli.py HELPER [FIXTURES_DIR]

Archives are made at test time with Python's zipfile and tarfile and with
Debian's zip and 7zz; the RAR cases use copies of the shared fixtures in a
temporary folder and are skipped without them.
"""

import fnmatch
import os
import resource
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helperlib  # noqa: E402
from helperlib import (ALL_OK, INCORRECT, PROMPT, UNEXPECTED_END, HelperTestCase, main, marks,  # noqa: E402
                       run)


class CommandLineTest(HelperTestCase):
    def test_help_and_bad_command_lines(self):
        status, output = run(self.helper, ["--help"])
        self.assertEqual(status, 0)
        self.assertIn("Exit status", output)
        self.assertEqual(run(self.helper, ["-?"]), (status, output))
        for bad in (["q", "a.rar"], ["x", "-z", "a.rar"], [], ["vb"]):
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

    def test_names_are_utf8_whatever_the_locale(self):
        archive = self.fixture("sharpcompress/Rar4.rar")
        for locale in ("C", "POSIX", "C.UTF-8"):
            with self.subTest(locale=locale):
                done = subprocess.run([self.helper, "vb", "-v", archive], stdout=subprocess.PIPE,
                                      env=dict(os.environ, LC_ALL=locale, LANG=locale))
                self.assertEqual(done.returncode, 0)
                self.assertIn("тест.txt", done.stdout.decode("utf-8"))

    def test_control_characters_in_names_become_question_marks(self):
        with zipfile.ZipFile(self.path("odd.zip"), "w") as archive:
            archive.writestr("line\nfeed.txt", "1")
            archive.writestr("carriage\rreturn\x1b.txt", "2")
            archive.writestr("dir/plain.txt", "3")
        status, output = run(self.helper, ["vb", "-v", "odd.zip"], cwd=self.work)
        self.assertEqual(status, 0, output)
        self.assertEqual(output, "line?feed.txt\ncarriage?return?.txt\ndir/plain.txt\n")
        status, output = run(self.helper, ["x", self.path("odd.zip"), self.path("out"), "-o+"])
        self.assertEqual(status, 0, output)
        self.assertIn("Extracting  line?feed.txt", output)
        self.assertEqual(self.read("out/line\nfeed.txt"), b"1")


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
        lines = output.split("\n")
        self.assertEqual(lines[0], "Extracting from " + archive)
        self.assertEqual(lines[-2:], [ALL_OK, ""])
        entries = [line for line in lines if line.startswith("Extracting  ")]
        self.assertEqual(len(entries), 3)
        for line in entries:
            self.assertTrue(line.endswith("  OK"), repr(line))
            self.assertRegex(line, r"^Extracting  \S+\x08{4}[ \d]{2}\d%")
        percentages = marks(output)
        self.assertEqual(percentages, sorted(percentages))
        self.assertGreater(len(set(percentages)), 2)
        self.assertEqual(percentages[-1], 100)
        for member, data in files.items():
            self.assertEqual(self.read("out/" + member), data)

    def test_overwrite_and_skip(self):
        archive = self.make_zip("o.zip", {"f.txt": b"archived", "g.txt": b"other"})
        self.write("out/f.txt", b"local")
        status, output = run(self.helper, ["x", archive, self.path("out"), "-o-"])
        self.assertEqual(status, 0, output)
        self.assertIn(ALL_OK, output)
        self.assertEqual(self.read("out/f.txt"), b"local")
        self.assertEqual(self.read("out/g.txt"), b"other")
        status, output = run(self.helper, ["x", archive, self.path("out"), "-o+"])
        self.assertEqual(status, 0, output)
        self.assertEqual(self.read("out/f.txt"), b"archived")

    def test_write_failure_removes_the_file(self):
        archive = self.make_zip("w.zip", {"small.txt": b"fits", "large.bin": os.urandom(600000)})

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        done = subprocess.run([self.helper, "x", archive, self.path("out"), "-o+"], preexec_fn=limit_file_size,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        output = done.stdout.decode()
        self.assertEqual(done.returncode, 5, output)
        self.assertIn("Write error in large.bin", output)
        self.assertNotIn(ALL_OK, output)
        self.assertFalse(os.path.exists(self.path("out/large.bin")))
        self.assertEqual(self.read("out/small.txt"), b"fits")

    def test_truncated_archives(self):
        rar = self.fixture("sharpcompress/Rar5.rar")
        with open(rar, "rb") as handle:
            data = handle.read()
        for keep in (6, 2):  # cut inside the data, then inside the headers
            self.write("cut.rar", data[: len(data) * keep // 10])
            status, output = run(self.helper, ["vb", "-v", "cut.rar"], cwd=self.work)
            self.assertFailedRun(status, output)
            self.assertIn(UNEXPECTED_END, output)
            status, output = run(self.helper, ["x", self.path("cut.rar"), self.path("out"), "-o+"])
            self.assertFailedRun(status, output)
            self.assertIn(UNEXPECTED_END, output)

    def test_self_extracting_stub_with_a_stray_signature(self):
        # A stub may contain the signature bytes without an archive behind
        # them: the archive is the one whose main header follows.
        for fixture in ("sharpcompress/Rar.rar", "sharpcompress/Rar5.rar"):
            with self.subTest(fixture=fixture):
                with open(self.fixture(fixture), "rb") as handle:
                    data = handle.read()
                stray = b"Rar!\x1a\x07\x00\x00" if fixture.endswith("Rar.rar") else b"Rar!\x1a\x07\x01\x00\x00"
                self.write("setup.exe", b"MZ" + stray + bytes(300) + data)
                self.write("plain.rar", data)
                expected = run(self.helper, ["vb", "-v", "plain.rar"], cwd=self.work)
                self.assertEqual(expected[0], 0, expected[1])
                self.assertEqual(run(self.helper, ["vb", "-v", "setup.exe"], cwd=self.work), expected)
                for name in ("plain.rar", "setup.exe"):
                    status, output = run(self.helper, ["x", self.path(name), self.path("out", name), "-o+"])
                    self.assertEqual(status, 0, output)
                    self.assertIn(ALL_OK, output)
                self.assertEqual(helperlib.tree(self.path("out", "setup.exe")),
                                 helperlib.tree(self.path("out", "plain.rar")))

    def test_raw_pieces_of_every_naming_are_one_archive(self):
        # Pieces cut by split(1) or by hand, whatever their names: the
        # listing and the extraction read them as the one archive they are.
        for fixture in ("sharpcompress/Rar.rar", "sharpcompress/Rar5.rar"):
            with open(self.fixture(fixture), "rb") as handle:
                data = handle.read()
            self.write("plain.rar", data)
            expected = run(self.helper, ["vb", "-v", "plain.rar"], cwd=self.work)
            self.assertEqual(expected[0], 0, expected[1])
            run(self.helper, ["x", self.path("plain.rar"), self.path("plain"), "-o+"])
            size = len(data) // 3 + 1
            for names in (("c.001", "c.002", "c.003"), ("c_aa", "c_ab", "c_ac"), ("c.rar.aa", "c.rar.ab", "c.rar.ac")):
                with self.subTest(fixture=fixture, names=names):
                    for index, name in enumerate(names):
                        self.write(name, data[index * size:(index + 1) * size])
                    self.assertEqual(run(self.helper, ["vb", "-v", names[0]], cwd=self.work), expected)
                    status, output = run(self.helper, ["x", self.path(names[0]), self.path(names[0] + "-out"), "-o+"])
                    self.assertEqual(status, 0, output)
                    self.assertEqual(helperlib.tree(self.path(names[0] + "-out")), helperlib.tree(self.path("plain")))

    def copy_set(self, first, keep):
        """Copies the named parts of a fixture volume set into the work folder."""
        folder = os.path.dirname(self.fixture(first))
        stem = os.path.basename(first).split(".part")[0]
        parts = sorted(name for name in os.listdir(folder) if name.startswith(stem + ".part"))
        for index, name in enumerate(parts, 1):
            if index in keep:
                shutil.copy(os.path.join(folder, name), self.path(name))
        return parts

    def test_missing_volumes(self):
        for first in ("sharpcompress/Rar5.multi.part01.rar", "sharpcompress/Rar4.multi.part01.rar"):
            for missing in ("middle", "last"):
                with self.subTest(archive=first, missing=missing):
                    shutil.rmtree(self.work)
                    os.makedirs(self.work)
                    count = len(self.copy_set(first, range(1, 100)))
                    for name in os.listdir(self.work):
                        os.remove(self.path(name))
                    dropped = 3 if missing == "middle" else count
                    parts = self.copy_set(first, [i for i in range(1, count + 1) if i != dropped])
                    name = os.path.basename(first)
                    status, output = run(self.helper, ["vb", "-v", name], cwd=self.work)
                    self.assertFailedRun(status, output)
                    self.assertIn(UNEXPECTED_END, output)
                    status, extracted = run(self.helper, ["x", self.path(name), self.path("out"), "-o+"])
                    self.assertFailedRun(status, extracted)
                    self.assertIn(UNEXPECTED_END, extracted)
                    if missing == "middle":
                        # The hole is named, and the parts around it are never
                        # joined into a file (nor reported as a checksum error).
                        for text in (output, extracted):
                            self.assertIn("Cannot find volume", text)
                            self.assertIn(parts[dropped - 1], text)
                            self.assertNotIn("Checksum error", text)
                        self.assertFalse(os.path.exists(self.path("out/jpg/test.jpg")))


class StallTest(HelperTestCase):
    def test_a_stalled_read_ends_the_run(self):
        shim = os.environ.get("VORLO_STALLING_READ")
        if not shim:
            self.skipTest("no stalling-read library")
        with zipfile.ZipFile(self.path("s.zip"), "w") as archive:
            archive.writestr("a.bin", os.urandom(2000000))
        started = time.monotonic()
        done = subprocess.run([self.helper, "x", self.path("s.zip"), self.path("out"), "-o+"],
                              env=dict(os.environ, LD_PRELOAD=shim), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=40)
        output = done.stdout.decode()
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(done.returncode, 2, output)
        self.assertIn(UNEXPECTED_END, output)
        self.assertNotIn(ALL_OK, output)


class PasswordTest(HelperTestCase):
    SECRET = b"the secret contents\n" * 100

    def make_encrypted(self, tool):
        self.write("src/plain.txt", b"not secret")
        self.write("src/secret.txt", self.SECRET)
        self.write("src/secret2.txt", self.SECRET[::-1])
        archive = self.path("enc.zip")
        # The first entry is plain, the second encrypted.
        if tool == "zip":
            self.need("zip")
            commands = [["zip", "-q", archive, "plain.txt"],
                        ["zip", "-q", "-P", "right", archive, "secret.txt", "secret2.txt"]]
        else:
            self.need("7zz")
            commands = [["7zz", "a", "-bso0", "-tzip", archive, "plain.txt"],
                        ["7zz", "a", "-bso0", "-tzip", "-mem=AES256", "-pright", archive, "secret.txt",
                         "secret2.txt"]]
        for command in commands:
            subprocess.run(command, cwd=self.path("src"), check=True)
        return archive

    def extract(self, archive, answers, *switches):
        return run(self.helper, ["x", archive, self.path("out"), "-o+", *switches], stdin_text=answers)

    def test_right_password(self):
        for tool in ("zip", "7zz"):
            with self.subTest(tool=tool):
                archive = self.make_encrypted(tool)
                status, output = self.extract(archive, "right\n")
                self.assertEqual(status, 0, output)
                self.assertEqual(output.count(PROMPT % archive), 1, output)
                self.assertIn(ALL_OK, output)
                self.assertEqual(self.read("out/secret.txt"), self.SECRET)
                self.assertEqual(self.read("out/secret2.txt"), self.SECRET[::-1])
                # Names are not hidden: a listing asks nothing.
                status, output = run(self.helper, ["vb", "-v", archive])
                self.assertEqual((status, output), (0, "plain.txt\nsecret.txt\nsecret2.txt\n"))

    def test_wrong_then_right(self):
        # AES archives check a password before any data: no chance of a lucky wrong one.
        archive = self.make_encrypted("7zz")
        status, output = self.extract(archive, "wrong\nright\n")
        self.assertEqual(status, 0, output)
        self.assertEqual(output.count(PROMPT % archive), 2, output)
        self.assertEqual(output.count(INCORRECT + "\n"), 1, output)
        self.assertEqual(self.read("out/secret.txt"), self.SECRET)

    def test_three_wrong_passwords(self):
        archive = self.make_encrypted("7zz")
        status, output = self.extract(archive, "one\ntwo\nthree\nright\n")
        self.assertEqual(status, 11, output)
        self.assertEqual(output.count(PROMPT % archive), 3, output)
        self.assertEqual(output.count(INCORRECT), 3, output)
        self.assertNotIn(ALL_OK, output)
        self.assertFalse(os.path.exists(self.path("out/secret.txt")))

    def test_end_of_input_and_preset_password(self):
        archive = self.make_encrypted("7zz")
        status, output = self.extract(archive, "")
        self.assertEqual(status, 11, output)
        self.assertEqual(output.count(PROMPT % archive), 1, output)
        self.assertFalse(os.path.exists(self.path("out/secret.txt")))
        status, output = self.extract(archive, "", "-pright")
        self.assertEqual(status, 0, output)
        self.assertNotIn("Enter password", output)
        status, output = self.extract(archive, "", "-pwrong")
        self.assertEqual(status, 11, output)
        self.assertNotIn("Enter password", output)

    def test_encrypted_rar_is_decrypted(self):
        # Names hidden: the listing asks, and asks again after a wrong answer.
        hidden = self.fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar")
        status, output = run(self.helper, ["vb", "-v", hidden], stdin_text="wrong\ntest\n")
        self.assertEqual(status, 0, output)
        self.assertTrue(output.startswith(PROMPT % hidden), output)
        self.assertEqual(output.count("The specified password is incorrect."), 1, output)
        self.assertIn("exe/test.exe\n", output)
        status, output = run(self.helper, ["vb", "-v", hidden], stdin_text="a\nb\nc\n")
        self.assertEqual(status, 11, output)
        self.assertEqual(output.count(PROMPT % hidden), 3, output)
        # Every refused answer is said, the last one too, as for ZIP passwords.
        self.assertEqual(output.count(INCORRECT + "\n"), 3, output)
        self.assertNotIn("exe/test.exe", output)
        # Data only: the listing asks nothing, extraction asks once and verifies.
        data = self.fixture("sharpcompress/Rar.encrypted_filesOnly.rar")
        status, output = run(self.helper, ["vb", "-v", data])
        self.assertEqual(status, 0, output)
        self.assertNotIn("Enter password", output)
        status, output = self.extract(data, "test\n")
        self.assertEqual(status, 0, output)
        self.assertEqual(output.count(PROMPT % data), 1, output)
        self.assertIn(ALL_OK, output)
        # A wrong password for RAR 4 data shows only in the checksum: no success, no file left.
        shutil.rmtree(self.path("out"), ignore_errors=True)
        status, output = self.extract(data, "wrong\n")
        self.assertNotEqual(status, 0, output)
        self.assertNotIn(ALL_OK, output)
        self.assertFalse(os.path.exists(self.path("out/exe/test.exe")), output)
        # ... then "incorrect", a new prompt, and the run starts over with the new answer.
        status, output = self.extract(data, "wrong\ntest\n")
        self.assertEqual(status, 0, output)
        self.assertEqual(output.count("The specified password is incorrect."), 1, output)
        self.assertIn(ALL_OK, output)

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
        output += rest
        self.assertEqual(helper.returncode, 255)
        self.assertNotIn(ALL_OK.encode(), output)
        self.assertEqual(self.read("out/plain.txt"), b"not secret")
        self.assertEqual(os.listdir(self.path("out")), ["plain.txt"])


if __name__ == "__main__":
    main(globals())
