#!/usr/bin/env python3
"""Writes the entry names of the scale archive, NUL-separated, for rarwrite --names.

1,000,000 entries in all, each folder before its contents:
  big/                 one folder of 100,000 files
  deep/l1/.../l8/      a chain of nested folders, a few files at each level
  project_NN/module_MM/  the rest, spread over 60 x 15 folders
  a few files at the top
"""

import sys

TOTAL = 1_000_000
BIG_FILES = 100_000
DEEP_LEVELS = 8
DEEP_FILES = 10
PROJECTS = 60
MODULES = 15
TOP_FILES = ["README.txt", "LICENSE.txt", "changes.log"]


def names():
    out = []
    out.append("big/")
    out.extend("big/photo_%06d.jpg" % i for i in range(BIG_FILES))

    path = "deep"
    out.append(path + "/")
    for level in range(1, DEEP_LEVELS + 1):
        out.extend("%s/note_%02d.txt" % (path, i) for i in range(DEEP_FILES))
        path += "/l%d" % level
        out.append(path + "/")
    out.extend("%s/note_%02d.txt" % (path, i) for i in range(DEEP_FILES))

    folders = PROJECTS * (MODULES + 1)
    files = TOTAL - len(out) - folders - len(TOP_FILES)
    per_module, extra = divmod(files, PROJECTS * MODULES)
    module_index = 0
    for p in range(PROJECTS):
        out.append("project_%02d/" % p)
        for m in range(MODULES):
            out.append("project_%02d/module_%02d/" % (p, m))
            count = per_module + (1 if module_index < extra else 0)
            out.extend("project_%02d/module_%02d/source_%04d.cpp" % (p, m, i) for i in range(count))
            module_index += 1
    out.extend(TOP_FILES)
    assert len(out) == TOTAL, len(out)
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_scale_names.py OUTPUT")
    with open(sys.argv[1], "wb") as output:
        output.write(b"\0".join(name.encode() for name in names()))


if __name__ == "__main__":
    main()
