#!/usr/bin/env python3
"""Checks that every include of the product runs along an allowed arrow.

  check_includes.py RULES SOURCE_DIR [STAMP]

RULES is written by the top CMakeLists.txt, one folder library a line:
"<folder> <folder it may include> ...". A file belongs to the library of
the longest folder that holds it; it may include its own library and the
ones its line names (a folder named there may be a part of a library,
such as ipx/wire), nothing else of the product. Only the folders named
in the system-header line may include the operating system's headers for
sockets, files, processes and terminals. Prints every wrong include as
"file:line: ..." and exits 1; on success touches STAMP (so the build runs
it again only when a source changes).
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SYSTEM = re.compile(r"^(sys/|net/|netinet/|netpacket/|arpa/|linux/|fcntl\.h$|"
                    r"spawn\.h$|unistd\.h$|termios\.h$|poll\.h$|signal\.h$|"
                    r"csignal$|dlfcn\.h$|ifaddrs\.h$|pthread\.h$|dirent\.h$)")


def read_rules(path):
    allowed, system_ok = {}, set()
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == "system-headers:":
                system_ok.update(words[1:])
            else:
                allowed[words[0]] = set(words[1:]) | {words[0]}
    return allowed, system_ok


def owner(path, folders):
    """The longest folder of `folders` that holds `path`, or None."""
    best = None
    for f in folders:
        if path.startswith(f + "/") and (best is None or len(f) > len(best)):
            best = f
    return best


def main():
    rules, source_dir = sys.argv[1], sys.argv[2]
    allowed, system_ok = read_rules(rules)
    faults = []
    for folder in sorted(allowed):
        top = os.path.join(source_dir, folder)
        for root, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".h", ".cc")):
                    continue
                full = os.path.join(root, name)
                rel = os.path.relpath(full, source_dir)
                mine = owner(rel, allowed)
                if mine != folder:
                    continue  # a file of a deeper library: checked there
                with open(full, errors="replace") as f:
                    for number, text in enumerate(f, 1):
                        m = INCLUDE.match(text)
                        if not m:
                            continue
                        kind, target = m.groups()
                        where = f"{rel}:{number}"
                        if kind == "<":
                            if SYSTEM.match(target) and not (
                                    owner(rel, system_ok) or
                                    rel.split("/")[0] in system_ok):
                                faults.append(f"{where}: <{target}> is a "
                                              "system header only the "
                                              "platform layer may include")
                            continue
                        # The deepest folder that holds the target, among
                        # the libraries and the parts of one this file may
                        # include (discovery/ipx/ may include ipx/wire/, not
                        # the rest of ipx/).
                        theirs = owner(target, set(allowed) | allowed[mine])
                        if theirs is None:
                            if "/" in target and not target.startswith(
                                    ("tests/", "sim/", "bench/")):
                                faults.append(f"{where}: \"{target}\" is in "
                                              "no library")
                            elif target.startswith(("tests/", "sim/",
                                                    "bench/")):
                                faults.append(f"{where}: the product may not "
                                              f"include \"{target}\"")
                            continue
                        if theirs not in allowed[mine]:
                            faults.append(f"{where}: {mine}/ may not include "
                                          f"{theirs}/ (\"{target}\")")
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_includes: {len(faults)} include(s) run the wrong way; "
              "the allowed arrows are in the top CMakeLists.txt")
        return 1
    if len(sys.argv) > 3:
        with open(sys.argv[3], "w"):
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
