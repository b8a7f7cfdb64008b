"""What the helper's tests, which read every kind of archive rarwrite makes,
do not show: times (RAR 4 keeps local DOS times), modes, RAR 4's packed UTF-16
names and files past the copy buffer as libarchive (bsdtar) reads them, volume
sizes, and failures that leave no archive behind."""

import io
import os
import subprocess
import tarfile
import tempfile
import unittest

RARWRITE = os.environ["RARWRITE"]
BSDTAR = os.environ.get("BSDTAR", "bsdtar")
# A zone with summer time shows a conversion to DOS time that forgets it.
ENV = dict(os.environ, TZ="Europe/Paris", LC_ALL="C.UTF-8")
CHUNK = 1 << 20  # the writer's copy buffer
# name: (contents, or None for a folder; mtime, even as RAR 4 keeps it; mode)
TREE = {
    "Read me.txt": (b"Hello.\n", 1_500_000_000, 0o755),
    "data": (None, 1_400_000_000, 0o750),
    "data/exactly the buffer.bin": (os.urandom(CHUNK), 1_510_000_000, 0o640),  # winter time
    "data/one byte more.bin": (os.urandom(CHUNK + 1), 1_500_000_000, 0o640),  # summer time
    "empty": (b"", 1_500_000_000, 0o644),
    "it's \"quoted\" $HOME\nline.txt": (b"quotes\n", 1_500_000_000, 0o644),
    "Été": (None, 1_400_000_000, 0o755),
    "Été/naïve ファイル 😀.txt": ("crème brûlée\n".encode(), 1_500_000_000, 0o644),
}


def rarwrite(*args, stdin=None):
    return subprocess.run([RARWRITE, "--list", *args], input=stdin, env=ENV, capture_output=True)


def read_with_libarchive(path):
    """[(name, is_dir, contents, mtime, mode)] in archive order."""
    tar = subprocess.run([BSDTAR, "-cf", "-", "--format", "pax", "-P", "@" + path], env=ENV, capture_output=True)
    if tar.returncode != 0:
        raise AssertionError("libarchive refused %s: %s" % (path, tar.stderr.decode()))
    with tarfile.open(fileobj=io.BytesIO(tar.stdout), mode="r:") as archive:
        return [(m.name, m.isdir(), archive.extractfile(m).read() if m.isfile() else None, int(m.mtime),
                 m.mode & 0o7777) for m in archive]


class RarWriteTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="rarwrite-")
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def test_archives_as_libarchive_reads_them(self):
        # Contents (longer names) before their folder, whose time they would change.
        for name, (contents, mtime, mode) in sorted(TREE.items(), key=lambda item: -len(item[0])):
            path = self.path("src", name)
            os.makedirs(path if contents is None else os.path.dirname(path), exist_ok=True)
            if contents is not None:
                with open(path, "wb") as f:
                    f.write(contents)
            os.chmod(path, mode)
            os.utime(path, (mtime, mtime))
        # Each folder before its contents, siblings sorted bytewise; then the named entries.
        expected = [(name, contents is None, contents, mtime, mode) for name, (contents, mtime, mode)
                    in sorted(TREE.items(), key=lambda item: [part.encode() for part in item[0].split("/")])]
        records = [b"given/none", b"", b"given/any bytes", b"\xff\xfe\n\r\x01"]
        expected += [(records[i].decode(), False, records[i + 1], 1_700_000_000, 0o644) for i in (0, 2)]
        with open(self.path("list"), "wb") as f:
            f.write(b"\0".join(records))  # no terminator after the last record
        for label, format_args in {"RAR 5": [], "RAR 4": ["-4"]}.items():
            with self.subTest(format=label):
                archive = self.path("t%s.rar" % format_args)
                sources = ["-C", self.path("src"), "--names", self.path("list"), "--with-contents"]
                done = rarwrite(*format_args, archive, *sources)
                self.assertEqual((done.returncode, done.stdout.decode()), (0, archive + "\n"), done.stderr)
                self.assertEqual(read_with_libarchive(archive), expected)

                # The same in volumes, which the helper's tests read.
                volumes = rarwrite(*format_args, "-v", "200k", self.path("v.rar"), *sources).stdout.split()
                self.assertGreater(len(volumes), 9)
                self.assertLessEqual(max(os.path.getsize(v) for v in volumes), 200 * 1024)

    def test_failures_leave_no_archive(self):
        os.makedirs(self.path("tree"))
        os.mkfifo(self.path("tree", "pipe"))
        os.symlink("pipe", self.path("tree", "link"))
        cases = {
            "volume too small for a header": (["-v", "60", "--names", "-"], b"a rather long name for a small volume"),
            "volume too small for the archive headers": (["-v", "10", "--names", "-"], b"a"),
            "name not UTF-8": (["--names", "-"], b"ok\0bad \xff name"),
            "empty name": (["--names", "-"], b"ok\0\0"),
            "link or pipe in a tree": (["-C", self.path("tree")], None),
            "contents without a name": (["--names", "-", "--with-contents"], b"name\0contents\0orphan"),
        }
        for label, (args, stdin) in cases.items():
            with self.subTest(label):
                done = rarwrite(self.path("f.rar"), *args, stdin=stdin)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn(b"rarwrite: ", done.stderr)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["tree"])


if __name__ == "__main__":
    unittest.main()
