#!/usr/bin/env python3
"""Times the bundled helper against bsdtar (the same libarchive engine).

For each archive: the bare listing (`unrar vb -v A` against `bsdtar -tf A`)
and the extraction (`unrar x A DEST -o+` against `bsdtar -xf A -C DEST`),
best of a few runs (the first one warms the cache), and their ratio. The helper's output
goes to a pipe that is read, as the application reads it; one extra
extraction with its output sent to /dev/null shows what progress
reporting costs. bsdtar opens a volume set only as one stream, so it
reads the concatenated volumes from a pipe (`cat parts | bsdtar -f -`).

Cases: a stored archive of many small entries and a big stored file, both
written by rarwrite into a scratch folder (deleted afterwards), and the
largest compressed fixtures that libarchive can decode.

Goals: listing and extraction within 1.10 of bsdtar, progress reporting
within 2 %.

The cost per file is measured apart (--files, --empty): the helper and bsdtar
extract the same archive of many small files (in 100 folders), then of many
empty files, in alternating runs; the median of the ratios of wall time and of
system time is printed (goal: at most bsdtar's wall time). The big stored file
is also extracted against cp copying the archive (goal: within 1.3 of cp).
Creating files on ext4 is several times slower for minutes after many were
deleted (the inode allocator), so no output of these runs is deleted before
the last one: each is moved aside, and all go at the end, unless the
filesystem would run out of inodes (a million empty files, run fourteen
times, is more than a 256 GB ext4 holds): then what was moved aside is
deleted, and a line says so. Timings on a shared machine are indicative only.
"""

import argparse
import json
import os
import resource
import statistics
import shutil
import signal
import subprocess
import sys
import tempfile
import time

LIST_GOAL = 1.10
EXTRACT_GOAL = 1.10
PER_FILE_GOAL = 1.0
COPY_GOAL = 1.3
PROGRESS_GOAL = 1.02
TOO_SHORT = 0.05  # seconds: process start-up noise dominates below this


def parse_size(text):
    units = {"k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    if text[-1:].lower() in units:
        return int(text[:-1]) * units[text[-1].lower()]
    return int(text)


class Runner:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.running = []

    def fresh(self, dest, few_files=False):
        """An empty `dest`; what it held is moved aside, not deleted: deleting
        many files makes creating files slower for minutes on ext4. A few big
        files are deleted (the disk would fill up)."""
        if few_files:
            shutil.rmtree(dest, ignore_errors=True)
        self.make_room()
        if os.path.exists(dest):
            aside = os.path.join(self.scratch, "aside")
            os.makedirs(aside, exist_ok=True)
            self.moved = getattr(self, "moved", 0) + 1
            os.rename(dest, os.path.join(aside, str(self.moved)))
        os.mkdir(dest)
        # What the run before wrote (or the archive just made) is flushed
        # now, not during the next timed run.
        os.sync()

    def make_room(self):
        """Deletes the outputs moved aside when the filesystem has too few free
        inodes left for three more runs like the last one."""
        free = os.statvfs(self.scratch).f_favail
        last = getattr(self, "free_before", free) - free
        self.free_before = free
        aside = os.path.join(self.scratch, "aside")
        if last > 0 and free < 3 * last + 100000 and os.path.exists(aside):
            print("(outputs moved aside deleted: too few free inodes; the next runs create files slower)",
                  file=sys.stderr, flush=True)
            shutil.rmtree(aside, ignore_errors=True)
            os.sync()
            self.free_before = os.statvfs(self.scratch).f_favail

    def stop(self):
        """Ends the runs under way, so that nothing writes into the scratch folder."""
        for proc in self.running:
            if proc.poll() is None:
                proc.terminate()
                proc.wait()

    def timed(self, command, stdin_paths=None, stdout=subprocess.PIPE, cwd=None):
        """Wall time of one run, its exit status and standard output (its system time in self.system)."""
        before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_stime
        feeder = None
        stdin = subprocess.DEVNULL
        if stdin_paths:
            feeder = subprocess.Popen(["cat", *stdin_paths], stdout=subprocess.PIPE)
            stdin = feeder.stdout
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=subprocess.STDOUT,
                                cwd=cwd)
        self.running = [p for p in (feeder, proc) if p]
        if feeder:
            feeder.stdout.close()
        out = bytearray()
        if stdout == subprocess.PIPE:
            # Read in small pieces, as the application does. A bytearray grows in
            # place: appending to bytes copies everything read so far each time,
            # which made the reader itself compete with the helper for the CPU.
            while True:
                piece = proc.stdout.read1(65536)
                if not piece:
                    break
                out += piece
        status = proc.wait()
        elapsed = time.perf_counter() - start
        if feeder:
            feeder.wait()
        self.system = resource.getrusage(resource.RUSAGE_CHILDREN).ru_stime - before
        return elapsed, status, bytes(out)

    def best(self, make_command, **kwargs):
        """Best of `repeat` runs; a single run when one takes over `slow` seconds."""
        prepare = kwargs.pop("prepare", None)
        times = []
        while len(times) < self.args.repeat:
            if prepare:
                prepare()
            elapsed, status, out = self.timed(make_command(), **kwargs)
            if status != 0:
                return None, status, out
            times.append(elapsed)
            if elapsed > self.args.slow:
                break
        return min(times), 0, out


def report(label, operation, helper, tool, goal):
    if helper is None or tool is None:
        print("%-48s %-8s %9s %9s %7s" % (label, operation,
                                          "failed" if helper is None else "%.3f" % helper,
                                          "failed" if tool is None else "%.3f" % tool, "-"))
        return
    ratio = helper / tool if tool > 0 else float("inf")
    verdict = "ok" if ratio <= goal else "OVER"
    if max(helper, tool) < TOO_SHORT:
        verdict = "too short to judge"
    print("%-48s %-8s %9.3f %9.3f %7.3f  (goal %.2f: %s)" % (label, operation, helper, tool,
                                                           ratio, goal, verdict))
    sys.stdout.flush()


def bench_archive(runner, label, parts, few_files=False):
    args = runner.args
    first = parts[0]
    multi = len(parts) > 1
    dest = os.path.join(runner.scratch, "dest")

    def fresh_dest():
        runner.fresh(dest, few_files)

    def bsdtar(mode):
        source = ["-f", "-"] if multi else ["-f", first]
        if mode == "list":
            return [args.bsdtar, "-t", *source]
        return [args.bsdtar, "-x", *source, "-C", dest]

    stdin_paths = parts if multi else None
    helper_list, status, out = runner.best(lambda: [args.helper, "vb", "-v", first])
    if helper_list is None:
        print("%-48s helper listing failed (exit %d): %s" % (label, status, out[-300:]))
    tool_list, status, _ = runner.best(lambda: bsdtar("list"), stdin_paths=stdin_paths)
    report(label, "list", helper_list, tool_list, LIST_GOAL)

    helper_x, status, out = runner.best(lambda: [args.helper, "x", first, dest, "-o+"],
                                        prepare=fresh_dest)
    if helper_x is None:
        print("%-48s helper extraction failed (exit %d): %s" % (label, status, out[-300:]))
    tool_x, _, _ = runner.best(lambda: bsdtar("extract"), stdin_paths=stdin_paths,
                               prepare=fresh_dest)
    report(label, "extract", helper_x, tool_x, EXTRACT_GOAL)

    if args.progress and helper_x is not None:
        quiet, _, _ = runner.best(lambda: [args.helper, "x", first, dest, "-o+"],
                                  stdout=subprocess.DEVNULL, prepare=fresh_dest)
        if quiet is not None:
            ratio = helper_x / quiet
            verdict = "ok" if ratio <= PROGRESS_GOAL else "OVER"
            if helper_x < TOO_SHORT:
                verdict = "too short to judge"
            print("%-48s %-8s %9.3f %9.3f %7.3f  (pipe / null, goal %.2f: %s)" % (
                label, "progress", helper_x, quiet, ratio, PROGRESS_GOAL, verdict))


def bench_alternating(runner, label, archive, tool_name, tool_command, goal, few_files=False):
    """The helper's extraction against another program's, alternating, `--rounds` times each.
    tool_command(dest) gives the other program's command line."""
    rounds = runner.args.rounds
    dest = os.path.join(runner.scratch, "dest")

    walls, systems = {"helper": [], tool_name: []}, {"helper": [], tool_name: []}
    commands = {"helper": lambda: [runner.args.helper, "x", archive, dest, "-o+"],
                tool_name: lambda: tool_command(dest)}
    # One untimed run of each warms the cache.
    for name in ["helper", tool_name] + ["helper", tool_name] * rounds:
        runner.fresh(dest, few_files)
        elapsed, status, out = runner.timed(commands[name]())
        if status != 0:
            print("%-48s %s failed (exit %d): %s" % (label, name, status, out[-300:].decode("utf-8", "replace")))
            return
        walls[name].append(elapsed)
        systems[name].append(runner.system)
    ratios = [h / t for h, t in zip(walls["helper"][1:], walls[tool_name][1:]) if t > 0]
    system_ratios = [h / t for h, t in zip(systems["helper"][1:], systems[tool_name][1:]) if t > 0]
    wall = statistics.median(ratios)
    verdict = "ok" if wall <= goal else "OVER"
    print("%-48s %-8s %9.3f %9.3f %7.3f  (vs %s, median of %d, range %.2f-%.2f, goal %.2f: %s)" % (
        label, "extract", statistics.median(walls["helper"][1:]), statistics.median(walls[tool_name][1:]),
        wall, tool_name, len(ratios), min(ratios), max(ratios), goal, verdict))
    if system_ratios:
        print("%-48s %-8s %9.3f %9.3f %7.3f  (system time, median)" % (
            label, "system", statistics.median(systems["helper"][1:]),
            statistics.median(systems[tool_name][1:]), statistics.median(system_ratios)))
    sys.stdout.flush()


def bench_per_file(runner, label, count, size):
    """Many files of `size` bytes in 100 folders: the helper against bsdtar."""
    parts = rarwrite(runner, "files.rar", "--generate", str(count), "--fan-out", str(max(1, count // 100)),
                     "--file-size", str(size))
    bench_alternating(runner, label, parts[0], "bsdtar",
                      lambda dest: [runner.args.bsdtar, "-x", "-f", parts[0], "-C", dest], PER_FILE_GOAL)
    for p in parts:
        os.remove(p)


def rarwrite(runner, name, *source):
    out = os.path.join(runner.scratch, name)
    result = subprocess.run([runner.args.rarwrite, "--list", out, *source], capture_output=True,
                            check=True)
    return result.stdout.decode().splitlines()


def decodable_fixtures(args):
    """The largest fixtures libarchive can list and decode, biggest first."""
    with open(os.path.join(args.fixtures, "manifest.json")) as f:
        manifest = json.load(f)
    unwanted = {"enc-data", "enc-headers", "damaged", "old-comp", "bytesplit", "sfx"}
    candidates = []
    for item in manifest:
        if item.get("damaged") or unwanted & set(item["features"]):
            continue
        size = sum(e["size"] for e in item["entries"])
        candidates.append((size, item))
    candidates.sort(key=lambda c: -c[0])
    def decodes(parts):
        # bsdtar -t checks nothing of the data: decode it to /dev/null.
        feed = subprocess.Popen(["cat", *parts], stdout=subprocess.PIPE)
        check = subprocess.run([args.bsdtar, "-xOf", "-"], stdin=feed.stdout,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        feed.wait()
        return check.returncode == 0

    # The largest archives, plus the largest volume set if none is among them.
    chosen = []
    have_set = False
    for size, item in candidates:
        if len(chosen) >= args.fixtures_count and (have_set or args.fixtures_count == 0):
            break
        is_set = item["kind"] == "volumes"
        if len(chosen) >= args.fixtures_count and not is_set:
            continue
        parts = [os.path.join(args.fixtures, p) for p in item["parts"]]
        if decodes(parts):
            chosen.append((item["archive"], parts, size))
            have_set = have_set or is_set
    return chosen


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--helper", required=True, help="the helper program (unrar)")
    parser.add_argument("--rarwrite", required=True, help="the archive writer")
    parser.add_argument("--fixtures", required=True, help="the fixtures folder")
    parser.add_argument("--bsdtar", default="bsdtar")
    parser.add_argument("--scratch", default=tempfile.gettempdir(),
                        help="where the generated archives and extractions go")
    parser.add_argument("--entries", type=int, default=100_000,
                        help="entries of the many-entries case (0 skips it)")
    parser.add_argument("--files", type=int, default=100_000,
                        help="small files of the per-file case, against bsdtar (0 skips it)")
    parser.add_argument("--file-size", type=int, default=100, help="bytes per file of the per-file case")
    parser.add_argument("--empty", type=int, default=1_000_000,
                        help="empty files of the second per-file case (0 skips it)")
    parser.add_argument("--rounds", type=int, default=5,
                        help="alternating runs of each program in the per-file and copy cases")
    parser.add_argument("--big", default="1g", help="size of the big-file case (0 skips it)")
    parser.add_argument("--fixtures-count", type=int, default=3,
                        help="how many of the largest fixtures, plus the largest volume set "
                             "(0 skips them)")
    parser.add_argument("--repeat", type=int, default=3,
                        help="runs per measurement, the best counts (the first warms the cache)")
    parser.add_argument("--slow", type=float, default=3.0,
                        help="seconds beyond which one timed run is enough")
    parser.add_argument("--no-progress", dest="progress", action="store_false",
                        help="skip the progress-reporting measurement")
    args = parser.parse_args()

    for program in (args.helper, args.rarwrite):
        if not os.access(program, os.X_OK):
            sys.exit("helper_bench: %s is not an executable program" % program)

    # Stopped with SIGTERM too, the scratch folder (up to a few GB) goes.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix="vorlo-bench-", dir=args.scratch)
    runner = Runner(args, scratch)
    print("%-48s %-8s %9s %9s %7s" % ("archive", "", "helper s", "bsdtar s", "ratio"))
    try:
        if args.files > 0:
            bench_per_file(runner, "stored, %d files of %d bytes" % (args.files, args.file_size),
                           args.files, args.file_size)
        if args.empty > 0:
            bench_per_file(runner, "stored, %d empty files" % args.empty, args.empty, 0)
        if args.entries > 0:
            parts = rarwrite(runner, "entries.rar", "--generate", str(args.entries),
                             "--fan-out", "10000")
            bench_archive(runner, "stored, %d entries" % args.entries, parts)
            for p in parts:
                os.remove(p)
        for name, parts, size in (decodable_fixtures(args) if args.fixtures_count > 0 else []):
            label = os.path.basename(name)
            if len(parts) > 1:
                label += " +%d vol" % (len(parts) - 1)
            bench_archive(runner, "%s (%.1f MB)" % (label, size / 2**20), parts)
        big = parse_size(args.big)
        if big > 0:
            parts = rarwrite(runner, "big.rar", "--big-file", str(big))
            bench_archive(runner, "stored, one file of %d MB" % (big >> 20), parts, few_files=True)
            bench_alternating(runner, "stored, one file of %d MB" % (big >> 20), parts[0], "cp",
                              lambda dest: ["cp", parts[0], dest], COPY_GOAL, few_files=True)
            for p in parts:
                os.remove(p)
    finally:
        runner.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
