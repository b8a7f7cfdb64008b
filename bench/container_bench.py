#!/usr/bin/env python3
"""Times what the helper's RAR container layer costs.

Listing: the helper's bare listing (`unrar vb -v A`, read from the block
headers) against `bsdtar -tf A` on the largest solid fixture that libarchive
decodes, and on a large stored archive written by rarwrite. No RAR
compressor exists on this machine, so a solid RAR 5 archive of 200 MB cannot
be made here: the solid case is the largest solid fixture.

Decryption: extraction of a stored RAR 5 archive whose data is AES-256
encrypted against extraction of the same file stored without encryption
(both written into a scratch folder, deleted afterwards). Goal: under 1.10.

Best of a few runs each (the first warms the cache). The machine is shared,
so besides wall time each line gives the CPU time (user + system) of the
runs, which other people's work disturbs far less; both ratios are judged.
"""

import argparse
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helper_bench import TOO_SHORT, Runner  # noqa: E402

LIST_GOAL = 1.10
DECRYPT_GOAL = 1.10
PASSWORD = "bench password"


def largest_solid_fixture(args):
    with open(os.path.join(args.fixtures, "manifest.json")) as f:
        manifest = json.load(f)
    unwanted = {"enc-data", "enc-headers", "damaged", "old-comp", "bytesplit", "sfx"}
    best = None
    for item in manifest:
        if "solid" not in item["features"] or item.get("damaged") or unwanted & set(item["features"]):
            continue
        parts = [os.path.join(args.fixtures, p) for p in item["parts"]]
        if not all(os.path.exists(p) for p in parts):
            continue
        size = sum(os.path.getsize(p) for p in parts)
        if best is None or size > best[0]:
            best = (size, item["archive"], parts)
    return best


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def best(runner, make_command, prepare=None, **kwargs):
    """Best wall time and best CPU time of `repeat` runs, or (None, status, output)."""
    walls, cpus = [], []
    out = b""
    while len(walls) < runner.args.repeat:
        if prepare:
            prepare()
        before = children_cpu()
        elapsed, status, out = runner.timed(make_command(), **kwargs)
        if status != 0:
            return None, status, out
        walls.append(elapsed)
        cpus.append(children_cpu() - before)
    return (min(walls), min(cpus)), 0, out


def report(label, operation, measured, reference, goal, what=""):
    if measured is None or reference is None:
        print("%-44s %-8s %s" % (label, operation, "failed"))
        return
    verdicts = []
    for (ours, theirs) in zip(measured, reference):
        ratio = ours / theirs if theirs > 0 else float("inf")
        verdicts.append((ours, theirs, ratio))
    (w1, w2, wr), (c1, c2, cr) = verdicts
    verdict = "ok" if max(wr, cr) <= goal else ("cpu ok, wall OVER" if cr <= goal else "OVER")
    if max(w1, w2) < TOO_SHORT:
        verdict = "too short to judge"
    print("%-44s %-8s wall %7.3f %7.3f %6.3f | cpu %7.3f %7.3f %6.3f  (%sgoal %.2f: %s)" % (
        label, operation, w1, w2, wr, c1, c2, cr, what, goal, verdict))
    sys.stdout.flush()


def bench_listing(runner, label, parts):
    args = runner.args
    multi = len(parts) > 1
    helper, status, out = best(runner, lambda: [args.helper, "vb", "-v", parts[0]])
    if helper is None:
        print("%-44s helper listing failed (exit %d): %s" % (label, status, out[-300:]))
    source = ["-f", "-"] if multi else ["-f", parts[0]]
    tool, status, _ = best(runner, lambda: [args.bsdtar, "-t", *source], stdin_paths=parts if multi else None)
    report(label, "list", helper, tool, LIST_GOAL)


def bench_decryption(runner):
    args = runner.args
    folder = os.path.join(runner.scratch, "crypt")
    made = subprocess.run([args.make_encrypted, folder, str(args.crypt_mb), PASSWORD],
                          capture_output=True, check=True)
    encrypted = made.stdout.decode().splitlines()[0]
    plain = os.path.join(folder, "plain.rar")
    subprocess.run([args.rarwrite, plain, "-C", os.path.join(folder, "data")], check=True,
                   capture_output=True)
    shutil.rmtree(os.path.join(folder, "data"))
    dest = os.path.join(runner.scratch, "dest")

    def fresh_dest():
        shutil.rmtree(dest, ignore_errors=True)
        os.mkdir(dest)

    times = {}
    for name, archive, extra in (("plain", plain, []), ("encrypted", encrypted, ["-p" + PASSWORD])):
        measured, status, out = best(runner, lambda: [args.helper, "x", *extra, archive, dest, "-o+"],
                                     prepare=fresh_dest)
        if measured is None:
            print("decryption: %s extraction failed (exit %d): %s" % (name, status, out[-300:]))
            return
        times[name] = measured
    report("stored RAR 5, one file of %d MB, AES-256" % args.crypt_mb, "extract", times["encrypted"],
           times["plain"], DECRYPT_GOAL, "encrypted / plain, ")
    shutil.rmtree(dest, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--helper", required=True, help="the helper program (unrar)")
    parser.add_argument("--rarwrite", required=True, help="the archive writer")
    parser.add_argument("--make-encrypted", required=True, help="the encrypted archive writer")
    parser.add_argument("--fixtures", required=True, help="the fixtures folder")
    parser.add_argument("--bsdtar", default="bsdtar")
    parser.add_argument("--scratch", default=tempfile.gettempdir())
    parser.add_argument("--entries", type=int, default=20_000,
                        help="files in the large stored archive (0 skips it)")
    parser.add_argument("--file-size", default="16k", help="size of each of those files")
    parser.add_argument("--crypt-mb", type=int, default=256,
                        help="megabytes of the decryption case (0 skips it)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--slow", type=float, default=3.0)
    args = parser.parse_args()

    for program in (args.helper, args.rarwrite, args.make_encrypted):
        if not os.access(program, os.X_OK):
            sys.exit("container_bench: %s is not an executable program" % program)

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix="vorlo-bench-", dir=args.scratch)
    runner = Runner(args, scratch)
    print("%-44s %-8s      %7s %7s %6s |     %7s %7s %6s" % ("archive", "", "helper", "bsdtar", "ratio",
                                                             "helper", "bsdtar", "ratio"))
    try:
        solid = largest_solid_fixture(args) if os.path.isdir(args.fixtures) else None
        if solid:
            size, name, parts = solid
            bench_listing(runner, "%s (solid, %.1f MB)" % (os.path.basename(name), size / 2**20), parts)
        else:
            print("no solid fixture found in %s" % args.fixtures)
        print("(a solid RAR 5 archive of 200 MB cannot be made here: no RAR compressor on this machine)")
        if args.entries > 0:
            out = os.path.join(scratch, "stored.rar")
            made = subprocess.run([args.rarwrite, "--list", out, "--generate", str(args.entries),
                                   "--file-size", args.file_size, "--fan-out", "1000"],
                                  capture_output=True, check=True)
            parts = made.stdout.decode().splitlines()
            size = sum(os.path.getsize(p) for p in parts)
            bench_listing(runner, "stored, %d entries (%.0f MB)" % (args.entries, size / 2**20), parts)
            for p in parts:
                os.remove(p)
        if args.crypt_mb > 0:
            print("%-44s %-8s      %7s %7s %6s |     %7s %7s %6s" % ("", "", "crypt", "plain", "ratio",
                                                                     "crypt", "plain", "ratio"))
            bench_decryption(runner)
    finally:
        runner.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
