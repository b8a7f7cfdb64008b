"""rarwrite's archives as libarchive reads them.

The oracle is libarchive through bsdtar: the archive (all volumes, fed in
order on standard input) is converted to a pax tar, which Python reads back
with every name byte intact. rarwalk adds what libarchive 3.6 leaves out for
stored entries: data checksums and volume flags.
"""

import io
import os
import subprocess
import tarfile
import tempfile
import unittest
import zlib

import rarwalk

RARWRITE = os.environ["RARWRITE"]
BSDTAR = os.environ.get("BSDTAR", "bsdtar")
# Local time matters to RAR 4 (DOS times); a zone with summer time shows
# a conversion that forgets it.
ENV = dict(os.environ, TZ="Europe/Paris", LC_ALL="C.UTF-8")

FORMATS = {"RAR 5": [], "RAR 4": ["-4"]}


def rarwrite(*args, stdin=None, check=True):
    result = subprocess.run([RARWRITE, "--list", *args], input=stdin, env=ENV,
                            capture_output=True)
    if check and result.returncode != 0:
        raise AssertionError("rarwrite %s failed: %s" % (args, result.stderr.decode()))
    return result


def volumes_of(result):
    return result.stdout.decode().splitlines()


def read_with_libarchive(paths):
    """[(name, is_dir, contents, mtime, mode)] in archive order."""
    data = b"".join(open(p, "rb").read() for p in paths)
    tar = subprocess.run([BSDTAR, "-cf", "-", "--format", "pax", "-P", "@-"], input=data,
                         env=ENV, capture_output=True)
    if tar.returncode != 0:
        raise AssertionError("libarchive refused %s: %s" % (paths, tar.stderr.decode()))
    entries = []
    with tarfile.open(fileobj=io.BytesIO(tar.stdout), mode="r:") as archive:
        for member in archive:
            contents = archive.extractfile(member).read() if member.isfile() else None
            entries.append((member.name, member.isdir(), contents, int(member.mtime),
                            member.mode & 0o7777))
    return entries


def pattern(size, seed):
    """The reproducible bytes rarwrite generates (splitmix64, little-endian)."""
    out = bytearray()
    state = seed
    mask = (1 << 64) - 1
    while len(out) < size:
        state = (state + 0x9E3779B97F4A7C15) & mask
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & mask
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & mask
        out += (z ^ (z >> 31)).to_bytes(8, "little")
    return bytes(out[:size])


class TempDirTestCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="rarwrite-")
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def assertVolumeSet(self, paths, volume_size):
        """Each volume within its size, numbered in order, flagged as a set."""
        entries, volumes = rarwalk.walk(paths)
        self.assertGreater(len(paths), 1, "the data should have needed several volumes")
        for index, (path, volume) in enumerate(zip(paths, volumes)):
            self.assertLessEqual(os.path.getsize(path), volume_size, path)
            self.assertTrue(volume.is_volume, path)
            self.assertEqual(volume.number, index, path)
            self.assertEqual(volume.more_volumes, index < len(paths) - 1, path)
        return entries


class FolderTreeTest(TempDirTestCase):
    """Archives of a folder tree, whole and in volumes, in both formats."""

    FILES = {
        "Read me.txt": b"Hello.\n",
        "empty": b"",
        "data/random.bin": bytes(os.urandom(150_000)),
        # One byte more than the writer's copy buffer.
        "data/chunk+1.bin": pattern(1024 * 1024 + 1, 7),
        "it's \"quoted\" $HOME `id`.txt": b"quotes\n",
        "new\nline.txt": b"two\nlines\n",
        " leading space and trailing space ": b"spaces\n",
        "-starts-with-dash": b"dash\n",
        "Été/naïve café.txt": "crème brûlée\n".encode(),
        "日本語/ファイル.txt": "テキスト\n".encode(),
        "emoji 😀.txt": b"beyond the basic plane\n",
        "/".join("level%02d" % i for i in range(40)) + "/deep.txt": b"deep\n",
        "x" * 200 + "/" + "y" * 240: b"long names\n",
    }
    FOLDERS = ["empty folder", "data/sub/subsub"]

    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        stamp = 1_500_000_000  # an even number: RAR 4 keeps times to 2 s
        for name, contents in sorted(self.FILES.items()):
            path = os.path.join(self.src, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(contents)
            stamp += 86_400 * 31 + 2
            os.utime(path, (stamp, stamp))
        for name in self.FOLDERS:
            os.makedirs(os.path.join(self.src, name), exist_ok=True)
        os.chmod(os.path.join(self.src, "Read me.txt"), 0o755)
        for folder, _, _ in os.walk(self.src):
            os.utime(folder, (1_400_000_000, 1_400_000_000))

    def expected(self):
        """Every folder before its contents, siblings sorted bytewise."""
        order = []

        def visit(folder, prefix):
            for name in sorted(os.listdir(folder), key=os.fsencode):
                path = os.path.join(folder, name)
                st = os.lstat(path)
                is_dir = os.path.isdir(path)
                contents = None if is_dir else open(path, "rb").read()
                order.append((prefix + name, is_dir, contents, int(st.st_mtime),
                              st.st_mode & 0o7777))
                if is_dir:
                    visit(path, prefix + name + "/")

        visit(self.src, "")
        return order

    def test_round_trip(self):
        expected = self.expected()
        for label, format_args in FORMATS.items():
            for volume_size in (None, 96 * 1024):
                with self.subTest(format=label, volume_size=volume_size):
                    out = self.path("t%s-%s.rar" % (format_args, volume_size))
                    args = [*format_args, out, "-C", self.src]
                    if volume_size:
                        args = ["-v", str(volume_size), *args]
                    paths = volumes_of(rarwrite(*args))
                    if volume_size:
                        self.assertVolumeSet(paths, volume_size)
                    else:
                        self.assertEqual(paths, [out])
                        rarwalk.walk(paths)
                    actual = read_with_libarchive(paths)
                    self.assertEqual([e[0] for e in actual], [e[0] for e in expected])
                    self.assertEqual(actual, expected)

    def test_extraction_reproduces_the_tree(self):
        for label, format_args in FORMATS.items():
            with self.subTest(format=label):
                paths = volumes_of(rarwrite(*format_args, "-v", "200k", self.path("x.rar"),
                                            "-C", self.src))
                dest = self.path("dest" + label[-1])
                os.mkdir(dest)
                data = b"".join(open(p, "rb").read() for p in paths)
                subprocess.run([BSDTAR, "-xf", "-", "-C", dest], input=data, env=ENV, check=True)
                self.assertEqual(subprocess.run(["diff", "-r", self.src, dest]).returncode, 0)


class NameListTest(TempDirTestCase):
    """Entries named one by one, exactly as given, in the order given."""

    NAMES = [
        "a b/",
        "a b/it's \"q\" $HOME `id` $(id).txt",
        "line\nbreak",
        "carriage\rreturn",
        "tab\there",
        "../up",
        "/absolute/name",
        "no/parent/folder/entry.txt",
        "日本語/ファイル.txt",
        "emoji 😀",
        "Ελληνικά και русский.txt",
        "back\\slash",
        "z",
    ]

    def test_hostile_names_exactly(self):
        stdin = b"".join(n.encode() + b"\0" for n in self.NAMES)
        for label, format_args in FORMATS.items():
            for volume_size in (None, 512):
                with self.subTest(format=label, volume_size=volume_size):
                    args = [*format_args, self.path("n%s%s.rar" % (format_args, volume_size)),
                            "--names", "-"]
                    if volume_size:
                        # libarchive 3.6 cannot reach a last RAR 5 volume under
                        # 511 bytes: end with enough data to fill it.
                        args = ["-v", str(volume_size), *args, "--big-file", "1k", "--name", "z2"]
                    paths = volumes_of(rarwrite(*args, stdin=stdin))
                    if volume_size:
                        self.assertVolumeSet(paths, volume_size)
                    expected = []
                    for name in self.NAMES:
                        is_dir = name.endswith("/")
                        name = name.rstrip("/")
                        contents = None if is_dir else name.encode() + b"\n"
                        if format_args:
                            # RAR 4 readers take "\" as a folder separator.
                            name = name.replace("\\", "/")
                        expected.append((name, is_dir, contents))
                    if volume_size:
                        expected.append(("z2", False, pattern(1024, 0)))
                    actual = [e[:3] for e in read_with_libarchive(paths)]
                    self.assertEqual(actual, expected)

    def test_given_contents_and_list_from_file(self):
        records = [b"first.txt", b"any bytes \xff\xfe\n\r\x01",
                   b"empty", b"",
                   "dossier/résumé".encode(), b"x" * 5000]
        listing = self.path("list")
        with open(listing, "wb") as f:
            f.write(b"\0".join(records))  # no terminator after the last record
        for label, format_args in FORMATS.items():
            with self.subTest(format=label):
                paths = volumes_of(rarwrite(*format_args, self.path("c.rar"), "--names", listing,
                                            "--with-contents", "--mtime", "1234567890"))
                actual = read_with_libarchive(paths)
                self.assertEqual([(e[0].encode(), e[2]) for e in actual],
                                 list(zip(records[::2], records[1::2])))
                self.assertEqual({e[3] for e in actual}, {1234567890})


class GeneratedContentTest(TempDirTestCase):
    def test_many_entries_in_folders(self):
        for label, format_args in FORMATS.items():
            with self.subTest(format=label):
                paths = volumes_of(rarwrite(*format_args, self.path("g.rar"),
                                            "--generate", "25000", "--fan-out", "10000"))
                actual = read_with_libarchive(paths)
                self.assertEqual(len(actual), 25003)
                self.assertEqual(actual[0][:3], ("dir0", True, None))
                self.assertEqual(actual[1][:3], ("dir0/file00000.txt", False, b"file 0\n"))
                self.assertEqual(actual[10001][:3], ("dir1", True, None))
                self.assertEqual(actual[-1][:3], ("dir2/file24999.txt", False, b"file 24999\n"))
                self.assertEqual(len({e[0] for e in actual}), 25003)

    def test_big_file_streams_across_volumes(self):
        size = 2 * 1024 * 1024 + 123
        expected = pattern(size, 0)
        for label, format_args in FORMATS.items():
            with self.subTest(format=label):
                volume_size = 512 * 1024
                paths = volumes_of(rarwrite(*format_args, "-v", "512k", "--volume-digits", "3",
                                            self.path("big.rar"), "--name", "big file.bin",
                                            "--big-file", str(size)))
                self.assertTrue(paths[0].endswith("big.part001.rar"))
                entries = self.assertVolumeSet(paths, volume_size)
                self.assertEqual(entries[0].crc, zlib.crc32(expected))
                actual = read_with_libarchive(paths)
                self.assertEqual([(e[0], e[2]) for e in actual], [("big file.bin", expected)])

    def test_generated_file_sizes_and_old_volume_names(self):
        paths = volumes_of(rarwrite("-4", "-v", "6k", "--old-volume-names", self.path("old.rar"),
                                    "--generate", "5", "--file-size", "3k"))
        self.assertEqual([os.path.basename(p) for p in paths],
                         ["old.rar", "old.r00", "old.r01"])
        self.assertVolumeSet(paths, 6 * 1024)
        actual = read_with_libarchive(paths)
        self.assertEqual([(e[0], e[2]) for e in actual],
                         [("file%d.txt" % i, pattern(3072, i)) for i in range(5)])


class RefusalTest(TempDirTestCase):
    """What the writer cannot store makes it fail, never a quietly wrong archive."""

    def test_failures_are_reported(self):
        os.makedirs(self.path("tree"))
        os.symlink("/etc/passwd", self.path("tree", "link"))
        cases = {
            "volume too small for a header": (["-v", "60", self.path("a.rar"), "--names", "-"],
                                              b"a rather long name for such a small volume"),
            "name not UTF-8": ([self.path("b.rar"), "--names", "-"], b"bad \xff name"),
            "empty name": ([self.path("c.rar"), "--names", "-"], b"ok\0\0"),
            "link in a tree": ([self.path("d.rar"), "-C", self.path("tree")], None),
            "missing folder": ([self.path("e.rar"), "-C", self.path("nowhere")], None),
            "contents without a name": ([self.path("f.rar"), "--names", "-", "--with-contents"],
                                        b"name\0contents\0orphan"),
            "unknown option": (["--frobnicate", self.path("g.rar"), "-C", self.tmp], None),
        }
        for label, (args, stdin) in cases.items():
            with self.subTest(label):
                result = rarwrite(*args, stdin=stdin, check=False)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(b"rarwrite: ", result.stderr)


if __name__ == "__main__":
    unittest.main()
