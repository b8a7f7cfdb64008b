"""What the helper's tests do not show of rarwrite's archives.

The helper reads every kind of archive rarwrite makes for the tests; these
check the rest against another reader, libarchive through bsdtar: entry
times (RAR 4 keeps local DOS times), permission bits, names in RAR 4's
packed UTF-16, the streamed path of files larger than the copy buffer,
volume sizes, and that whatever cannot be written fails without leaving an
archive behind.
"""

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
FORMATS = {"RAR 5": [], "RAR 4": ["-4"]}
CHUNK = 1 << 20  # the writer's copy buffer


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

    def make_tree(self):
        """{name: (contents or None for a folder, mtime, mode)}, written below src/."""
        files = {
            "Read me.txt": b"Hello.\n",
            "empty": b"",
            "data/exactly the buffer.bin": os.urandom(CHUNK),
            "data/one byte more.bin": os.urandom(CHUNK + 1),
            "it's \"quoted\" $HOME\nline.txt": b"quotes\n",
            "Été/naïve ファイル 😀.txt": "crème brûlée\n".encode(),
            "日本語/テキスト.txt": "テキスト\n".encode(),
        }
        tree, stamp = {}, 1_500_000_000  # even: RAR 4 keeps times to 2 s
        for name, contents in sorted(files.items()):
            stamp += 86_400 * 61  # across summer and winter time
            tree[name] = (contents, stamp, 0o755 if name == "Read me.txt" else 0o640)
        for name in ("data", "empty folder", "Été", "日本語"):
            tree[name] = (None, 1_400_000_000, 0o750)
        # Contents (longer names) before their folder, whose time they would change.
        for name, (contents, mtime, mode) in sorted(tree.items(), key=lambda item: -len(item[0])):
            path = self.path("src", name)
            if contents is None:
                os.makedirs(path, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(contents)
            os.chmod(path, mode)
            os.utime(path, (mtime, mtime))
        return tree

    def test_tree_and_named_entries_as_libarchive_reads_them(self):
        tree = self.make_tree()
        # Each folder before its contents, siblings sorted bytewise.
        expected = sorted(((name, contents is None, contents, mtime, mode)
                           for name, (contents, mtime, mode) in tree.items()),
                          key=lambda e: [part.encode() for part in e[0].split("/")])
        records = [b"given/none", b"", b"given/any bytes", b"\xff\xfe\n\r\x01"]
        expected += [("given/none", False, b"", 1_700_000_000, 0o644),
                     ("given/any bytes", False, records[3], 1_700_000_000, 0o644)]
        with open(self.path("list"), "wb") as f:
            f.write(b"\0".join(records))  # no terminator after the last record
        for label, format_args in FORMATS.items():
            with self.subTest(format=label):
                archive = self.path("t%s.rar" % format_args)
                done = rarwrite(*format_args, archive, "-C", self.path("src"), "--names", self.path("list"),
                                "--with-contents")
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout.decode(), archive + "\n")
                self.assertEqual(read_with_libarchive(archive), expected)

    def test_volumes_keep_to_their_size_and_names(self):
        data = os.urandom(100_000)
        for name in ("a.bin", "b/c.bin"):
            os.makedirs(os.path.dirname(self.path("v", name)), exist_ok=True)
            with open(self.path("v", name), "wb") as f:
                f.write(data)
        layouts = [([], "s.part%d.rar", 1), (["-4", "--volume-digits", "3"], "s.part%03d.rar", 1),
                   (["-4", "--old-volume-names"], None, 0)]
        for options, pattern, first in layouts:
            with self.subTest(options=options):
                for name in os.listdir(self.tmp):
                    if name.startswith("s."):
                        os.remove(self.path(name))
                done = rarwrite(*options, "-v", "20k", self.path("s.rar"), "-C", self.path("v"))
                self.assertEqual(done.returncode, 0, done.stderr)
                volumes = done.stdout.decode().splitlines()
                self.assertGreater(len(volumes), 9)
                names = [pattern % (first + i) if pattern else "s.rar" if i == 0 else "s.r%02d" % (i - 1)
                         for i in range(len(volumes))]
                self.assertEqual([os.path.basename(v) for v in volumes], names)
                self.assertEqual(sorted(os.listdir(self.tmp)), sorted(names + ["v"]))
                for volume in volumes:
                    self.assertLessEqual(os.path.getsize(volume), 20 * 1024, volume)

    def test_failures_leave_no_archive(self):
        os.makedirs(self.path("tree"))
        os.mkfifo(self.path("tree", "pipe"))
        os.symlink("pipe", self.path("tree", "link"))
        cases = {
            "volume too small for a header": (["-v", "60", "--names", "-"], b"a rather long name for a small volume"),
            "volume too small for the archive headers": (["-v", "10", "--names", "-"], b"a"),
            "name not UTF-8": (["--names", "-"], b"ok\0bad \xff name"),
            "overlong UTF-8": (["--names", "-"], b"\xc0\xaf"),
            "empty name": (["--names", "-"], b"ok\0\0"),
            "pipe or link in a tree": (["-C", self.path("tree")], None),
            "missing folder": (["-C", self.path("nowhere")], None),
            "contents without a name": (["--names", "-", "--with-contents"], b"name\0contents\0orphan"),
            "unknown option": (["--frobnicate", "-C", self.path("tree")], None),
        }
        for label, (args, stdin) in cases.items():
            with self.subTest(label):
                done = rarwrite(self.path("f.rar"), *args, stdin=stdin)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn(b"rarwrite: ", done.stderr)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["tree"])


if __name__ == "__main__":
    unittest.main()
