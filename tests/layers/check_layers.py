#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, lowest first: platform, runtime, files, output, fixtures (files and below), engine, then editor, generator and remote
side by side, then driver; programs (stub, tools) on top. A layer may use only the layers before it;
editor and generator do not use each other; the remote uses platform and runtime alone; the
launcher stub uses platform alone.

usage: check_layers.py SOURCE_ROOT     check the tree
       check_layers.py --self-test     check the checker on a planted tree
"""
import os
import re
import sys
import tempfile

ORDER = ["platform", "runtime", "files", "output", "fixtures", "engine", "editor", "generator", "remote",
         "driver"]
PROGRAMS = ["stub", "tools"]
# What each folder may include besides itself.
ALLOWED = {layer: set(ORDER[:i]) for i, layer in enumerate(ORDER)}
ALLOWED["generator"].discard("editor")
# The remote knows no window and no show file: it talks to the driver through its own small
# interface, on the window's scheduler.
ALLOWED["remote"] = {"platform", "runtime"}
# Fixture definitions and the patch are files of the show: they know no output.
ALLOWED["fixtures"] = {"platform", "runtime", "files"}
ALLOWED["stub"] = {"platform"}
ALLOWED["tools"] = set(ORDER)

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE = (".h", ".hpp", ".cpp", ".cc")


def sources(root, layer):
    for folder, _, files in os.walk(os.path.join(root, layer)):
        for name in files:
            if name.endswith(SOURCE):
                yield os.path.join(folder, name)


def headers_by_name(root):
    owner = {}
    for layer in ORDER + PROGRAMS:
        for path in sources(root, layer):
            owner.setdefault(os.path.basename(path), set()).add(layer)
    return owner


def violations(root):
    owner = headers_by_name(root)
    found = []
    for layer, allowed in ALLOWED.items():
        for path in sources(root, layer):
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for header in INCLUDE.findall(text):
                first = header.split("/")[0]
                if "/" in header and first in ALLOWED:
                    layers = {first}
                else:
                    layers = owner.get(os.path.basename(header), set())
                # A header of the folder itself, or one no layer owns (a tool's own subfolder).
                if not layers or layer in layers:
                    continue
                if not layers & allowed:
                    rel = os.path.relpath(path, root)
                    found.append(f"{rel}: includes {header} of {'/'.join(sorted(layers))}")
    return found


def self_test():
    with tempfile.TemporaryDirectory() as root:
        def write(rel, text):
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                f.write(text)

        def expect(condition, what):
            if not condition:
                raise SystemExit(f"self-test failed: {what}")

        write("platform/platform.h", "#pragma once\n")
        write("runtime/clock.h", '#include "platform.h"\n')
        write("files/read_ini_key.h", '#include "clock.h"\n#include <QString>\n')
        write("editor/editor_window.h", '#include "read_ini_key.h"\n')
        write("generator/launcher_builder.h", '#include "read_ini_key.h"\n')
        write("stub/main.cpp", '#include "platform.h"\n')
        got = violations(root)
        expect(got == [], f"a clean tree reports {got}")
        write("runtime/scheduler.cpp", '#include "read_ini_key.h"\n')
        write("generator/launcher_builder.cpp", '#include "editor_window.h"\n')
        write("stub/launcher.cpp", '#include "clock.h"\n')
        write("files/x.cpp", '#include "editor/editor_window.h"\n')
        got = sorted(violations(root))
        expect([line.split(":")[0] for line in got] ==
               ["files/x.cpp", "generator/launcher_builder.cpp", "runtime/scheduler.cpp", "stub/launcher.cpp"],
               f"four planted upward includes give {got}")
    print("self-test passed")


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return 0
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = sys.argv[1]
    # A wrong root would otherwise pass with nothing checked.
    missing = [layer for layer in ORDER if not os.path.isdir(os.path.join(root, layer))]
    if missing:
        print(f"{root} is no source root: no {', '.join(missing)}", file=sys.stderr)
        return 2
    found = violations(root)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} upward include(s)", file=sys.stderr)
        return 1
    print("no upward includes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
