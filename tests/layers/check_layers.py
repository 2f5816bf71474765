#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, lowest first: platform, runtime, files, rdm, output, fixtures (files and below), engine, then editor, generator and remote
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

ORDER = ["platform", "runtime", "files", "rdm", "output", "fixtures", "engine", "editor",
         "generator", "remote", "driver"]
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


# Inside output/: each interface's folder uses the shared part and what it names here; the shared
# part uses none of them, except the factory and the reading of 端口's forms, which sit on top.
OUTPUT_PARTS = {"serial": set(), "usbpro": {"serial"}, "net": set(), "ola": set()}
OUTPUT_TOP = {"output_factory.h", "output_factory.cpp", "address_forms.h", "address_forms.cpp"}


def output_violations(root):
    base = os.path.join(root, "output")
    owner = {}
    for part in OUTPUT_PARTS:
        for path in sources(base, part):
            owner[os.path.basename(path)] = part
    found = []
    for path in sources(root, "output"):
        rel = os.path.relpath(path, base)
        part = rel.split(os.sep)[0] if os.sep in rel else None
        if part is None and os.path.basename(path) in OUTPUT_TOP:
            continue
        allowed = OUTPUT_PARTS.get(part, set()) | {part}
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for header in INCLUDE.findall(text):
            other = owner.get(os.path.basename(header))
            if other is not None and other not in allowed:
                found.append(f"output/{rel}: includes {header} of output/{other}")
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
        write("output/frame_output.h", "#pragma once\n")
        write("output/serial/serial_port.h", '#include "frame_output.h"\n')
        write("output/usbpro/usb_pro_output.h", '#include "serial_port.h"\n')
        write("output/output_factory.cpp", '#include "usb_pro_output.h"\n')
        expect(output_violations(root) == [], f"a clean output/ reports {output_violations(root)}")
        write("output/output_link.h", '#include "serial_port.h"\n')
        write("output/net/udp_sink.h", '#include "usb_pro_output.h"\n')
        got = sorted(line.split(":")[0] for line in output_violations(root))
        expect(got == ["output/net/udp_sink.h", "output/output_link.h"],
               f"two planted includes across output/ give {got}")
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
    found = violations(root) + output_violations(root)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} upward include(s)", file=sys.stderr)
        return 1
    print("no upward includes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
