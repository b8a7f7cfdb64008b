"""The harness of the helper's command-line tests: the real program run as the
application runs it (output and errors merged), archives made at test time,
and the judge of the shared third-party fixtures."""

import hashlib
import io
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zlib
from types import SimpleNamespace

PROMPT = "Enter password (will not be echoed) for %s: "
INCORRECT = "The specified password is incorrect."
ALL_OK = "***All OK****"
UNEXPECTED_END = "Unexpected end of archive"
MARK = re.compile(r"\x08\x08\x08\x08([ \d]{2}\d)%")
MIB = 1 << 20
NOBODY = 65534
AS_NOBODY = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]

# What the helper cannot do on valid fixtures: they must still fail cleanly.
KNOWN_LIMITS = {
    # d.txt is encrypted with another password: it fails, the other entries extract.
    "libarchive/test_read_format_rar4_encrypted.rar",
    "libarchive/test_read_format_rar5_encrypted.rar",
}
# RAR 5 encrypted entries store keyed checksums (an HMAC under the password):
# the manifest gives those, so only sizes are compared (the helper checks them).
KEYED_CHECKSUMS = {
    "libarchive/test_read_format_rar5_encrypted.rar",
    "libarchive/test_read_format_rar5_solid_encrypted.rar",
    "sharpcompress/Rar5.encrypted_filesOnly.rar",
}
# Marked damaged, but the data extracted matches the stored CRC-32: a verified
# success (only the hash record is malformed; the 4 bytes decoded match).
DAMAGED_BUT_VERIFIED = {
    "libarchive/test_read_format_rar5_invalid_hash_valid_htime_exfld.rar",
    "libarchive/test_read_format_rar_unbound_staticdata.rar",
}


def run(helper, args, stdin_text="", cwd=None, timeout=60, file_limit=None, prefix=(), env=None):
    """(exit status, output); a run that outlives `timeout` counts as killed (-9)."""
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    try:
        done = subprocess.run([*prefix, helper, *args], input=(stdin_text or "").encode(), cwd=cwd, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                              preexec_fn=limit if file_limit else None)
    except subprocess.TimeoutExpired as expired:
        return -9, (expired.output or b"").decode("utf-8", "replace")
    return done.returncode, done.stdout.decode("utf-8", "replace")


def crashed(status):
    """Killed, hung or crashed; 255 is the helper's own exit on a stop signal."""
    return status < 0 or 128 <= status < 255


def tail(output, lines=2):
    return " | ".join([line for line in output.replace("\b", "").splitlines() if line.strip()][-lines:])


def read_file(path):
    with open(path, "rb") as handle:
        return handle.read()


def tree(folder):
    """Every file below `folder` with its contents, every folder as None, every link as "-> target"."""
    return {os.path.relpath(path, folder): "-> " + os.readlink(path) if os.path.islink(path) else
            None if os.path.isdir(path) else read_file(path)
            for root, folders, files in os.walk(folder)
            for path in (os.path.join(root, name) for name in folders + files)}


def tar_bytes(members, fmt=tarfile.GNU_FORMAT, encoding="utf-8"):
    """members: (name, data) with data bytes or text (a file), None (a folder),
    or a dict of TarInfo fields (type, linkname, mode, devmajor, pax_headers...) and "data"."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=fmt, encoding=encoding) as archive:
        for name, data in members:
            fields = dict(data) if isinstance(data, dict) else \
                {"type": tarfile.DIRTYPE, "mode": 0o755} if data is None else {"data": data}
            content = fields.pop("data", b"")
            content = content.encode() if isinstance(content, str) else content
            info = tarfile.TarInfo(name)
            for key, value in fields.items():
                setattr(info, key, value)
            info.size = len(content)
            archive.addfile(info, io.BytesIO(content) if content else None)
    return buffer.getvalue()


def flip(path, position):
    with open(path, "r+b") as handle:
        handle.seek(position)
        handle.write(bytes([read_file(path)[position] ^ 0x01]))


def unnamed_files_supported(folder):
    """Whether files without a name (O_TMPFILE) can be made in `folder`: the
    helper stages files that way there, else under hidden names."""
    try:
        return os.close(os.open(folder, os.O_TMPFILE | os.O_WRONLY, 0o600)) is None
    except OSError:
        return False


def marks(output):
    """The percentages of the progress marks, in order; fails on malformed marks."""
    if "\b" in MARK.sub("", output):
        raise AssertionError("malformed progress mark in %r" % output)
    return [int(value) for value in MARK.findall(output)]


def load_manifest(fixtures_dir):
    return json.loads(read_file(os.path.join(fixtures_dir, "manifest.json")))


def fixture_name(item):
    return item["archive"].split("/", 1)[1]


def blake2sp(data):
    """BLAKE2sp: eight BLAKE2s leaves over interleaved 64-byte blocks."""
    def node(offset, depth, last):
        return hashlib.blake2s(digest_size=32, fanout=8, depth=2, node_offset=offset, node_depth=depth,
                               inner_size=32, last_node=last)
    leaves = [node(i, 0, i == 7) for i in range(8)]
    for index in range(0, max(len(data), 1), 64):
        leaves[(index // 64) % 8].update(data[index:index + 64])
    root = node(0, 1, True)
    for leaf in leaves:
        root.update(leaf.digest())
    return root.hexdigest()


def check_contents(item, dest):
    """'' when every regular file of the manifest is in dest with its size and checksum."""
    for entry in item["entries"] or []:
        if entry["dir"] or entry["redir"] is not None:
            continue
        path = os.path.join(dest, entry["name"])
        if not os.path.isfile(path) or os.path.islink(path):
            return "missing " + entry["name"]
        data = read_file(path)
        if len(data) != entry["size"]:
            return "wrong size of " + entry["name"]
        if entry["encrypted"] and fixture_name(item) in KEYED_CHECKSUMS:
            continue
        if entry["crc"] is not None and zlib.crc32(data) != entry["crc"]:
            return "wrong CRC of " + entry["name"]
        if entry["crc"] is None and entry["blake2"] and blake2sp(data) != entry["blake2"]:
            return "wrong BLAKE2sp of " + entry["name"]
    return ""


def judge(helper, fixtures_dir, item):
    """Lists and extracts one fixture through the application's two command lines: `ok` when a
    valid one listed and extracted as expected or a damaged one failed (or verified), `lied` when
    a success was claimed with wrong or missing contents, `crashed`, and notes."""
    archive = os.path.join(fixtures_dir, item["archive"])
    name, valid = fixture_name(item), not item["damaged"]
    answer = (item["password"] + "\n") * 3 if item.get("password") else None
    # Names are UTF-8 whatever the locale: listed under the plainest one.
    status, output = run(helper, ["vb", "-v", os.path.basename(archive)], answer, os.path.dirname(archive), 40,
                         env=dict(os.environ, LC_ALL="C", LANG="C"))
    # The prompt ends its own line after the answer: drop it with that line.
    prompt = PROMPT % os.path.basename(archive)
    lines = output.split("\n")
    lines = [line.replace(prompt, "") for line in lines[:-1 if lines[-1] == "" else None] if line != prompt]
    # A listing reads headers only: it may well succeed on damaged data.
    listed = status == 0 and lines == item["expected_names"] if item["expected_names"] is not None else \
        status == 0 or not valid
    note = "" if listed else "listing: exit %d: %s; " % (status, tail(output))
    dest = tempfile.mkdtemp(prefix="vorlo-fixture-")
    broke = crashed(status)
    status, output = run(helper, ["x", archive, dest, "-o+"], answer, timeout=40)
    problem = check_contents(item, dest) if item["entries"] is not None else "no expected contents"
    shutil.rmtree(dest, ignore_errors=True)
    broke |= crashed(status)
    claimed = status == 0 or ALL_OK in output
    lied = claimed and (problem != "" if valid else name not in DAMAGED_BUT_VERIFIED)
    return SimpleNamespace(name=name, valid=valid, lied=lied, crashed=broke,
                           ok=listed and status == 0 and ALL_OK in output and not problem if valid else
                           not lied and not broke,
                           note=note + "extraction: exit %d: %s" % (status, problem if claimed else tail(output)))


class HelperTestCase(unittest.TestCase):
    helper = fixtures = rarwrite_program = None

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
        return read_file(self.path(relative))

    def fixture(self, relative):
        path = os.path.join(self.fixtures or "/nonexistent", "rar", relative)
        if not os.path.exists(path):
            self.skipTest("fixture missing: " + relative)
        return path

    def need(self, program):
        if not shutil.which(program):
            self.skipTest(program + " is not installed")

    def rarwrite(self, *args, names=None):
        """The project's stored-RAR writer; `names` go to --names - on its input."""
        data = b"".join(name.encode() + b"\0" for name in names) if names else None
        subprocess.run([self.rarwrite_program, *args], cwd=self.work, input=data, check=True,
                       stdout=subprocess.DEVNULL)

    def assertFailedRun(self, status, output):
        self.assertNotEqual(status, 0, output)
        self.assertNotIn(ALL_OK, output)
        self.assertFalse(crashed(status), "crashed: " + output[-2000:])


def main(test_globals=None, rarwrite=False, fixtures=False):
    """HELPER then FIXTURES_DIR (or RARWRITE with `rarwrite`); exits 77 (skipped) without what is needed."""
    second = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else ""
    HelperTestCase.helper = os.path.abspath(sys.argv[1])
    HelperTestCase.rarwrite_program, HelperTestCase.fixtures = (second, None) if rarwrite else (None, second or None)
    missing = "rarwrite is not built" if rarwrite and not os.access(second, os.X_OK) else "no fixtures at " + second \
        if fixtures and not os.path.isfile(os.path.join(second, "manifest.json")) else ""
    if missing:
        print(missing + ": skipped")
        sys.exit(77)
    unittest.main(module=test_globals["__name__"] if test_globals else "__main__", argv=sys.argv[:1])
