#!/usr/bin/env python3
"""Checks that every include in src/ points down the layers (docs/architecture.md).

Usage: check-includes.py [ROOT]

Reads each #include "folder/..." of the sources under src/ and looks up whether the
including folder may depend on the included one. Prints every include that goes against
the direction as file:line and exits 1; exits 0 when there is none.
"""
import os
import re
import sys

# What each folder may include besides itself: the layers below it only. From the bottom:
# platform (every operating-system difference, still to come), object, runtime, io, then
# crypto and files, then serialization and net, then session, then plugin.
ALLOWED = {
    "platform": set(),
    "object": {"platform"},
    "runtime": {"object", "platform"},
    "io": {"runtime", "object", "platform"},
    "crypto": {"io", "runtime", "object", "platform"},
    "files": {"crypto", "io", "runtime", "object", "platform"},
    "serialization": {"files", "crypto", "io", "runtime", "object", "platform"},
    "net": {"files", "crypto", "io", "runtime", "object", "platform"},
    "session": {"net", "serialization", "files", "crypto", "io", "runtime", "object", "platform"},
    "plugin": {"session", "net", "serialization", "files", "crypto", "io", "runtime", "object",
               "platform"},
}

# The one named exception: the logging facility and the objects. Objects log, assert and
# lock, so object/ may include the facility and the primitives it is made of; the facility
# (runtime/Debug*) builds its lines from strings and may write them to a stream object.
# Keyed by (including folder, file name prefix or None for any file): included headers.
EXCEPTION = {
    ("object", None): {"runtime/Debug.h", "runtime/BaseAssert.h", "runtime/BaseMutex.h",
                       "runtime/BaseThread.h"},
    ("runtime", "Debug"): {"io/IOAbstract.h"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE_EXTENSIONS = (".h", ".hpp", ".c", ".cc", ".cpp")


def is_excepted(folder, file_name, included):
    for (owner, prefix), headers in EXCEPTION.items():
        if owner == folder and (prefix is None or file_name.startswith(prefix)) and included in headers:
            return True
    return False


def offences(root):
    src = os.path.join(root, "src")
    for directory, _, files in sorted(os.walk(src)):
        for name in sorted(files):
            if not name.endswith(SOURCE_EXTENSIONS):
                continue
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, root)
            folder = os.path.relpath(path, src).split(os.sep)[0]
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    included = match.group(1)
                    target = included.split("/")[0] if "/" in included else None
                    if target is None or target not in ALLOWED:
                        yield relative, number, included, "not written from src/ (folder/...)"
                    elif folder not in ALLOWED:
                        yield relative, number, included, "in a folder the layers do not know: %s/" % folder
                    elif target != folder and target not in ALLOWED[folder] and not is_excepted(
                            folder, name, included):
                        yield relative, number, included, "%s/ may not include %s/" % (folder, target)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = 0
    for relative, number, included, why in offences(root):
        print('%s:%d: #include "%s": %s' % (relative, number, included, why))
        found += 1
    if found:
        print("%d include(s) against the layers; see docs/architecture.md" % found)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
