#!/usr/bin/env python3
"""Times the helper's own RAR decoders against bsdtar (libarchive's decoders).

Each case extracts one archive with `unrar x A DEST -o+` and with
`bsdtar -xf A -C DEST`, in alternating runs (DEST emptied and the page cache
flushed to disk before each, outside the timing); the medians of wall time and
of CPU time (user + system) and their ratios are printed, with the helper's
peak memory (ru_maxrss). The first run of each tool is checked: both must
write the same files with the same contents, or the case is void.

Cases, chosen from the fixtures' manifest: the largest compressed RAR 5
archive and the largest RAR 2.9 archives of LZ and of PPMd data that bsdtar
decodes correctly (single-volume, unencrypted). There is no RAR compressor on
this machine, so no new compressed data can be made. The larger inputs are
built honestly from the fixtures' own compressed streams instead: the
archive's file entries written over and over under distinct names (headers
and their checksums rewritten, packed data copied byte for byte) up to about
--copies-mb of unpacked data, so both tools decode the very same streams many
times. Such a copy repeats data, it
does not make a larger dictionary or a longer solid stream.

Decryption: a stored RAR 5 file of --crypt-mb MB, AES-256 encrypted, against
the same file stored plainly (goal: at most 1.10 times the plain time).

Goals: at most bsdtar's time on RAR 5 and RAR 2.9 LZ data, 1.1 times it on
PPMd. The machine is shared: figures are indicative.
"""

import argparse
import hashlib
import json
import os
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

LZ_GOAL = 1.0
PPMD_GOAL = 1.1
DECRYPT_GOAL = 1.10
TOO_SHORT = 0.05  # seconds
PASSWORD = "bench password"
RAR4_SIGNATURE = b"Rar!\x1a\x07\x00"
RAR5_SIGNATURE = b"Rar!\x1a\x07\x01\x00"


# ---- archives ----------------------------------------------------------------

def read_vint(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def vint(value):
    out = bytearray()
    while value >= 0x80:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def rar5_blocks(data):
    """(type, header start, header end, data end, fields) of each block."""
    at = len(RAR5_SIGNATURE)
    while at + 7 <= len(data):
        size, body = read_vint(data, at + 4)
        end = body + size
        kind, p = read_vint(data, body)
        flags, p = read_vint(data, p)
        extra = data_size = 0
        if flags & 1:
            extra, p = read_vint(data, p)
        if flags & 2:
            data_size, p = read_vint(data, p)
        yield kind, at, end, end + data_size, (flags, p, extra)
        if kind == 5:
            return
        at = end + data_size


def rar5_file(data, fields):
    """A file header's compression method and where its name length lies."""
    p = fields[1]
    file_flags, p = read_vint(data, p)
    _, p = read_vint(data, p)            # unpacked size
    _, p = read_vint(data, p)            # attributes
    p += 4 if file_flags & 2 else 0      # time
    p += 4 if file_flags & 4 else 0      # data CRC
    compression, p = read_vint(data, p)
    _, p = read_vint(data, p)            # host
    return (compression >> 7) & 7, p


def rename_rar5_file(data, start, end, fields, prefix):
    """The file block's header with prefix before its name, its CRC recomputed."""
    _, p = rar5_file(data, fields)
    name_size, name_at = read_vint(data, p)
    size, body = read_vint(data, start + 4)
    name = data[name_at:name_at + name_size]
    new_body = data[body:p] + vint(len(prefix) + name_size) + prefix + name + data[name_at + name_size:end]
    header = vint(len(new_body)) + new_body
    return struct.pack("<I", zlib.crc32(header)) + header


def rar4_blocks(data):
    at = data.find(RAR4_SIGNATURE)
    at += len(RAR4_SIGNATURE)
    while at + 7 <= len(data):
        _, kind, flags, size = struct.unpack_from("<HBHH", data, at)
        if size < 7:
            return
        extra = struct.unpack_from("<I", data, at + 7)[0] if (flags & 0x8000 or kind == 0x74) else 0
        if kind == 0x74 and flags & 0x100:
            extra += struct.unpack_from("<I", data, at + 32)[0] << 32
        yield kind, flags, at, at + size, at + size + extra
        if kind == 0x7B:
            return
        at += size + extra


def rename_rar4_file(data, start, end, prefix):
    header = bytearray(data[start:end])
    flags = struct.unpack_from("<H", header, 3)[0]
    name_size = struct.unpack_from("<H", header, 26)[0]
    name_at = 32 + (8 if flags & 0x100 else 0)
    header[name_at:name_at] = prefix
    struct.pack_into("<H", header, 26, name_size + len(prefix))
    struct.pack_into("<H", header, 5, len(header))
    struct.pack_into("<H", header, 0, zlib.crc32(bytes(header[2:])) & 0xFFFF)
    return bytes(header)


def write_copies(source, target, copies):
    """source's file entries copies times over, or False where its names do not allow it."""
    with open(source, "rb") as f:
        data = f.read()
    out = bytearray()
    if data.startswith(RAR5_SIGNATURE):
        blocks = list(rar5_blocks(data))
        files = [b for b in blocks if b[0] == 2]
        if blocks[0][0] != 1 or blocks[-1][0] != 5 or not files:
            return False
        out += data[:blocks[0][3]]                       # signature, main header
        for copy in range(copies):
            for _, start, end, data_end, fields in files:
                out += rename_rar5_file(data, start, end, fields, b"copy%d_" % copy)
                out += data[end:data_end]
        out += data[blocks[-1][1]:blocks[-1][3]]
    else:
        blocks = list(rar4_blocks(data))
        files = [b for b in blocks if b[0] == 0x74]
        # Names with a Unicode part encode positions of the plain name.
        if not files or any(b[1] & (0x200 | 0x10 | 0x04) for b in files):
            return False
        out += data[:blocks[0][3]] if blocks[0][0] == 0x73 else data[:data.find(RAR4_SIGNATURE) + 7]
        for copy in range(copies):
            for _, _, start, end, data_end in files:
                out += rename_rar4_file(data, start, end, b"copy%d_" % copy)
                out += data[end:data_end]
    with open(target, "wb") as f:
        f.write(out)
    return True


def rar5_key(password, salt, log2_count):
    """The AES key and the password check value of RAR 5's key derivation."""
    rounds = 1 << log2_count
    key = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, rounds)
    value = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, rounds + 32)
    check = bytearray(8)
    for i, byte in enumerate(value):
        check[i % 8] ^= byte
    return key, bytes(check) + hashlib.sha256(bytes(check)).digest()[:4]


def aes_cbc(key, iv, data):
    padded = data + bytes(-len(data) % 16)
    done = subprocess.run(["openssl", "enc", "-aes-256-cbc", "-nopad", "-K", key.hex(), "-iv", iv.hex()],
                          input=padded, capture_output=True, check=True)
    return done.stdout


def write_encrypted_copies(source, target, copies, password, log2_count=15):
    """As write_copies, every file's data AES-256 encrypted as RAR 5 does it
    (plain checksums), so that it extracts to the same files. RAR 5 only."""
    with open(source, "rb") as f:
        data = f.read()
    blocks = list(rar5_blocks(data))
    files = [b for b in blocks if b[0] == 2]
    if not data.startswith(RAR5_SIGNATURE) or blocks[0][0] != 1 or blocks[-1][0] != 5 or not files:
        return False
    salt = os.urandom(16)
    key, check = rar5_key(password, salt, log2_count)
    out = bytearray(data[:blocks[0][3]])
    for copy in range(copies):
        for _, start, end, data_end, fields in files:
            flags, p, extra_size = fields
            header = rename_rar5_file(data, start, end, fields, b"copy%d_" % copy)
            packed = data[end:data_end]
            if not packed:
                out += header
                continue
            iv = os.urandom(16)
            cipher = aes_cbc(key, iv, packed)
            record = vint(1) + vint(0) + vint(1) + bytes([log2_count]) + salt + iv + check
            record = vint(len(record)) + record
            # Rebuild the renamed header: type, flags, sizes, then its own fields and extra area.
            size, body = read_vint(header, 4)
            kind, q = read_vint(header, body)
            _, q = read_vint(header, q)
            if flags & 1:
                _, q = read_vint(header, q)
            _, q = read_vint(header, q)
            fields_and_extra = header[q:]
            new_body = vint(kind) + vint(flags | 3) + vint(extra_size + len(record)) + vint(len(cipher)) \
                + fields_and_extra + record
            new_header = vint(len(new_body)) + new_body
            out += struct.pack("<I", zlib.crc32(new_header)) + new_header + cipher
    out += data[blocks[-1][1]:blocks[-1][3]]
    with open(target, "wb") as f:
        f.write(out)
    return True


def rar4_ppmd(path):
    """Whether the first compressed entry of a RAR 4 archive starts with a PPMd block."""
    with open(path, "rb") as f:
        data = f.read()
    for kind, flags, start, end, data_end in rar4_blocks(data):
        if kind == 0x74 and data[start + 25] != 0x30 and data_end > end:
            return bool(data[end] & 0x80)
    return None


def candidates(args):
    """(label, path, goal) of the largest decodable fixture of each kind."""
    with open(os.path.join(args.fixtures, "manifest.json")) as f:
        manifest = json.load(f)
    unwanted = {"enc-data", "enc-headers", "damaged", "old-comp", "bytesplit", "sfx", "multivol"}
    best = {}
    for item in manifest:
        if item.get("damaged") or unwanted & set(item["features"]) or item["kind"] != "single":
            continue
        path = os.path.join(args.fixtures, item["archive"])
        if not os.path.exists(path):
            continue
        if item["rar_version"] == "5":
            with open(path, "rb") as f:
                data = f.read()
            compressed = any(kind == 2 and rar5_file(data, fields)[0] != 0
                             for kind, _, _, _, fields in rar5_blocks(data))
            kind = "RAR 5 LZ" if compressed else None
        else:
            ppmd = rar4_ppmd(path)
            kind = None if ppmd is None else ("RAR 2.9 PPMd" if ppmd else "RAR 2.9 LZ")
        if kind is None:
            continue
        unpacked = sum(e["size"] or 0 for e in item["entries"])
        best.setdefault(kind, []).append((os.path.getsize(path), unpacked, path, item))
    chosen = []
    for kind in ("RAR 5 LZ", "RAR 2.9 LZ", "RAR 2.9 PPMd"):
        # The most packed data, and the most unpacked data (long matches).
        decodable = [c for c in best.get(kind, []) if bsdtar_decodes(args, c[2], c[3])]
        if not decodable:
            print("%s: no fixture that bsdtar decodes correctly" % kind)
        picks = []
        for key in (lambda c: (c[0], c[2]), lambda c: (c[1], c[2])):
            if decodable and max(decodable, key=key) not in picks:
                picks.append(max(decodable, key=key))
        for _, unpacked, path, _ in picks:
            chosen.append((kind, path, unpacked, PPMD_GOAL if "PPMd" in kind else LZ_GOAL))
    return chosen


def bsdtar_decodes(args, path, item):
    expected = {e["name"]: e["crc"] for e in item["entries"] if not e["dir"] and not e["redir"]}
    listing = subprocess.run([args.bsdtar, "-tf", path], capture_output=True)
    names = [n for n in listing.stdout.decode(errors="replace").splitlines() if n in expected]
    for name in names:
        out = subprocess.run([args.bsdtar, "-xOf", path, name], capture_output=True)
        if out.returncode != 0 or zlib.crc32(out.stdout) != expected[name]:
            return False
    return len(names) == len(expected)


# ---- timing ------------------------------------------------------------------

def tree_digest(folder):
    digest = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            if os.path.islink(path):
                continue
            crc = 0
            with open(path, "rb") as f:
                while True:
                    piece = f.read(1 << 20)
                    if not piece:
                        break
                    crc = zlib.crc32(piece, crc)
            digest.append((os.path.relpath(path, folder), os.path.getsize(path), crc))
    return digest


class Bench:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.dest = os.path.join(scratch, "dest")

    def run(self, command):
        """Wall time, CPU time, peak memory (KiB) and status of one run into a fresh DEST."""
        shutil.rmtree(self.dest, ignore_errors=True)
        os.mkdir(self.dest)
        os.sync()  # the last run's writes must not be flushed during this one
        # A child forked from this (large) Python process inherits its peak
        # memory figure across exec; GNU time forks the tool from a small one.
        measured = os.path.join(self.scratch, "maxrss")
        if self.args.time:
            command = [self.args.time, "-f", "%M", "-o", measured, *command]
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        out = b""
        while True:  # read as the application reads the helper's output
            piece = proc.stdout.read1(65536)
            if not piece:
                break
            out += piece
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = 0
        wall = time.perf_counter() - start
        peak = usage.ru_maxrss
        if self.args.time:
            with open(measured) as f:
                peak = int(f.read().split()[-1])
        return wall, usage.ru_utime + usage.ru_stime, peak, os.waitstatus_to_exitcode(status), out

    def alternate(self, first, second, check_same=True):
        """Medians of (wall, cpu) of two commands run in turn, the first one's peak memory."""
        samples = {0: [], 1: []}
        peak = 0
        digests = []
        for round_ in range(self.args.rounds):
            for which, command in ((0, first), (1, second)) if round_ % 2 == 0 else ((1, second), (0, first)):
                wall, cpu, rss, status, out = self.run(command)
                if status != 0:
                    return "exit %d: %s" % (status, out[-300:].decode(errors="replace").strip())
                if round_ == 0 and check_same:
                    digests.append(tree_digest(self.dest))
                samples[which].append((wall, cpu))
                if which == 0:
                    peak = max(peak, rss)
            if round_ == 0 and check_same and digests[0] != digests[1]:
                return "the two tools wrote different files"
        medians = [tuple(statistics.median(s[i] for s in samples[w]) for i in (0, 1)) for w in (0, 1)]
        return medians[0], medians[1], peak

    def report(self, label, result, goal, other="bsdtar"):
        if isinstance(result, str):
            print("%-52s failed: %s" % (label, result))
            return
        (w1, c1), (w2, c2), peak = result
        wr, cr = w1 / w2 if w2 else float("inf"), c1 / c2 if c2 else float("inf")
        verdict = "met" if wr <= goal else ("cpu met, wall over" if cr <= goal else "MISSED")
        if max(w1, w2) < TOO_SHORT:
            verdict = "too short to judge (process start dominates)"
        print("%-52s %7.3f %7.3f %6.2f | %7.3f %7.3f %6.2f | %7.1f  goal %.2f vs %s: %s" % (
            label, w1, w2, wr, c1, c2, cr, peak / 1024, goal, other, verdict))
        sys.stdout.flush()

    def decoding(self, kind, path, unpacked, goal, copies):
        args = self.args
        label = "%s %s" % (kind, os.path.basename(path).replace("test_read_format_", ""))
        if copies > 1:
            built = os.path.join(self.scratch, "copies.rar")
            if not write_copies(path, built, copies):
                return
            path = built
            label += " x%d" % copies
        label += " (%.1f>%.0f MB)" % (os.path.getsize(path) / 1e6, unpacked * copies / 1e6)
        result = self.alternate([args.helper, "x", path, self.dest + "/", "-o+"],
                                [args.bsdtar, "-xf", path, "-C", self.dest])
        self.report(label, result, goal)

    def compressed_decryption(self, path, unpacked):
        copies = max(1, min(self.args.max_copies, -(-self.args.copies_mb * 2**20 // max(unpacked, 1))))
        plain = os.path.join(self.scratch, "plain-copies.rar")
        encrypted = os.path.join(self.scratch, "encrypted-copies.rar")
        if not write_copies(path, plain, copies) or not write_encrypted_copies(path, encrypted, copies, PASSWORD):
            return
        result = self.alternate([self.args.helper, "x", "-p" + PASSWORD, encrypted, self.dest + "/", "-o+"],
                                [self.args.helper, "x", plain, self.dest + "/", "-o+"])
        self.report("RAR 5 LZ %s x%d, AES-256 / plain" % (os.path.basename(path), copies), result,
                    DECRYPT_GOAL, "plain")

    def decryption(self):
        args = self.args
        folder = os.path.join(self.scratch, "crypt")
        made = subprocess.run([args.make_encrypted, folder, str(args.crypt_mb), PASSWORD],
                              capture_output=True, check=True)
        encrypted = made.stdout.decode().splitlines()[0]
        plain = os.path.join(folder, "plain.rar")
        subprocess.run([args.rarwrite, plain, "-C", os.path.join(folder, "data")], check=True,
                       capture_output=True)
        shutil.rmtree(os.path.join(folder, "data"))
        result = self.alternate([args.helper, "x", "-p" + PASSWORD, encrypted, self.dest + "/", "-o+"],
                                [args.helper, "x", plain, self.dest + "/", "-o+"])
        self.report("stored RAR 5, %d MB, AES-256 / plain" % args.crypt_mb, result, DECRYPT_GOAL, "plain")
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--helper", required=True, help="the helper program (unrar)")
    parser.add_argument("--fixtures", required=True, help="the fixtures folder")
    parser.add_argument("--rarwrite", help="the archive writer (for the decryption case)")
    parser.add_argument("--make-encrypted", help="the encrypted archive writer (for the decryption case)")
    parser.add_argument("--bsdtar", default="bsdtar")
    parser.add_argument("--time", default=shutil.which("time") or "",
                        help="GNU time, for the peak memory (without it the figure includes Python's)")
    parser.add_argument("--scratch", default=tempfile.gettempdir())
    parser.add_argument("--rounds", type=int, default=7, help="runs of each tool per case")
    parser.add_argument("--copies-mb", type=int, default=128,
                        help="unpacked size of the larger inputs made of repeated entries (0 skips them)")
    parser.add_argument("--max-copies", type=int, default=500, help="repetitions at most")
    parser.add_argument("--decryption-only", action="store_true", help="only the decryption cases")
    parser.add_argument("--crypt-mb", type=int, default=256,
                        help="megabytes of the decryption case (0 skips it)")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix="vorlo-decoder-bench-", dir=args.scratch)
    bench = Bench(args, scratch)
    print("%-52s %7s %7s %6s | %7s %7s %6s | %7s" % ("median of %d runs" % args.rounds, "wall", "bsdtar",
                                                     "ratio", "cpu", "bsdtar", "ratio", "MiB"))
    try:
        chosen = candidates(args)
        for kind, path, unpacked, goal in chosen if not args.decryption_only else []:
            bench.decoding(kind, path, unpacked, goal, 1)
            copies = min(args.max_copies, -(-args.copies_mb * 2**20 // max(unpacked, 1)))
            if copies > 1:
                bench.decoding(kind, path, unpacked, goal, copies)
        if args.crypt_mb > 0 and args.rarwrite and args.make_encrypted:
            print("%-52s %7s %7s %6s | %7s %7s %6s | %7s" % ("", "crypt", "plain", "ratio", "crypt", "plain",
                                                             "ratio", "MiB"))
            bench.decryption()
            for kind, path, unpacked, _ in chosen:
                if kind == "RAR 5 LZ":
                    bench.compressed_decryption(path, unpacked)
                    break
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
