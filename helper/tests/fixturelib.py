"""Runs the helper on the shared third-party RAR fixtures and judges the result.

Used by the fixture test (through ctest) and by fixture_report.py (by hand).
"""

import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import zlib
from dataclasses import dataclass, field

# Per run: generous, the stall watchdog of the helper ends spinning runs at 10 s.
RUN_TIMEOUT = 40


def load_manifest(fixtures_dir):
    with open(os.path.join(fixtures_dir, "manifest.json"), encoding="utf-8") as handle:
        return json.load(handle)


def fixture_name(item):
    return item["archive"].split("/", 1)[1]


@dataclass
class Run:
    status: int = 0          # exit status; negative: killed by that signal
    output: str = ""
    timed_out: bool = False

    @property
    def crashed(self):
        return self.timed_out or (self.status < 0) or self.status >= 128 and self.status != 255

    def tail(self, lines=2):
        text = [line for line in self.output.replace("\b", "").splitlines() if line.strip()]
        return " | ".join(text[-lines:])


def run_helper(helper, args, cwd=None, stdin_text=None, timeout=RUN_TIMEOUT):
    try:
        done = subprocess.run([helper] + args, cwd=cwd, input=(stdin_text or "").encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        return Run(status=-9, output=(expired.output or b"").decode("utf-8", "replace"), timed_out=True)
    return Run(status=done.returncode, output=done.stdout.decode("utf-8", "replace"))


def file_crc(path):
    crc = 0
    with open(path, "rb") as handle:
        while True:
            block = handle.read(1 << 20)
            if not block:
                return crc & 0xFFFFFFFF
            crc = zlib.crc32(block, crc)


def blake2sp(path):
    """BLAKE2sp of a file: eight BLAKE2s leaves over interleaved 64-byte blocks."""
    def leaf(i):
        return hashlib.blake2s(digest_size=32, fanout=8, depth=2, node_offset=i, node_depth=0,
                               inner_size=32, last_node=(i == 7))
    leaves = [leaf(i) for i in range(8)]
    with open(path, "rb") as handle:
        data = handle.read()
    for index in range(0, max(len(data), 1), 64):
        leaves[(index // 64) % 8].update(data[index:index + 64])
    root = hashlib.blake2s(digest_size=32, fanout=8, depth=2, node_offset=0, node_depth=1,
                           inner_size=32, last_node=True)
    for node in leaves:
        root.update(node.digest())
    return root.hexdigest()


def check_contents(item, dest, keyed=False):
    """'' when every regular file of the manifest is in dest with its size and CRC.

    With `keyed`, the manifest's checksums of encrypted entries are the keyed
    forms stored by RAR 5 (an HMAC under the password): only their sizes are
    compared here, the helper checks the keyed values itself."""
    for entry in item["entries"] or []:
        if entry["dir"] or entry["redir"] is not None:
            continue
        path = os.path.join(dest, entry["name"])
        if not os.path.isfile(path) or os.path.islink(path):
            return "missing " + entry["name"]
        if os.path.getsize(path) != entry["size"]:
            return "wrong size of " + entry["name"]
        if keyed and entry["encrypted"]:
            continue
        if entry["crc"] is not None and file_crc(path) != entry["crc"]:
            return "wrong CRC of " + entry["name"]
        if entry["crc"] is None and entry["blake2"] and blake2sp(path) != entry["blake2"]:
            return "wrong BLAKE2sp of " + entry["name"]
    return ""


@dataclass
class Verdict:
    name: str
    valid: bool
    listing_ok: bool = False
    listing_note: str = ""
    extract_ok: bool = False
    extract_note: str = ""
    false_success: bool = False
    crashed: bool = False
    notes: list = field(default_factory=list)


def judge(helper, fixtures_dir, item, verified_damaged=(), keyed_checksums=()):
    """Lists and extracts one fixture through the application's two command lines."""
    archive = os.path.join(fixtures_dir, item["archive"])
    verdict = Verdict(name=fixture_name(item), valid=not item["damaged"])
    password = item.get("password")
    answer = (password + "\n") * 3 if password else None

    listing = run_helper(helper, ["vb", "-v", os.path.basename(archive)],
                         cwd=os.path.dirname(archive), stdin_text=answer)
    verdict.crashed |= listing.crashed
    expected = item["expected_names"]
    lines = listing.output.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    # The prompt ends its own line after the answer: drop it with that line.
    prompt = "Enter password (will not be echoed) for %s: " % os.path.basename(archive)
    lines = [line.replace(prompt, "") for line in lines if line != prompt]
    if expected is not None:
        verdict.listing_ok = listing.status == 0 and lines == expected
        if not verdict.listing_ok:
            verdict.listing_note = "exit %d: %s" % (listing.status, listing.tail())
    elif verdict.valid:
        # Valid, but nobody states its names: it must at least list cleanly.
        verdict.listing_ok = listing.status == 0
        if not verdict.listing_ok:
            verdict.listing_note = "exit %d: %s" % (listing.status, listing.tail())
    else:
        # A listing reads headers only: it may well succeed on damaged data.
        verdict.listing_ok = not listing.crashed
        verdict.listing_note = "exit %d: %s" % (listing.status, listing.tail(1))

    dest = tempfile.mkdtemp(prefix="vorlo-fixture-")
    try:
        extraction = run_helper(helper, ["x", archive, dest, "-o+"], stdin_text=answer)
        verdict.crashed |= extraction.crashed
        claimed = extraction.status == 0 or "***All OK****" in extraction.output
        problem = check_contents(item, dest, verdict.name in keyed_checksums) \
            if item["entries"] is not None else "no expected contents"
        if verdict.valid:
            verdict.extract_ok = claimed and problem == "" and extraction.status == 0 \
                and "***All OK****" in extraction.output
            verdict.false_success = claimed and problem != ""
            if not verdict.extract_ok:
                verdict.extract_note = "exit %d: %s" % (extraction.status, problem if claimed else extraction.tail())
        else:
            accepted = verdict.name in verified_damaged
            verdict.extract_ok = (accepted or not claimed) and not extraction.crashed
            verdict.false_success = claimed and not accepted
            verdict.extract_note = "exit %d: %s" % (extraction.status, extraction.tail(1))
    finally:
        shutil.rmtree(dest, ignore_errors=True)
    return verdict
