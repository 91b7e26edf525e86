#!/usr/bin/env bash
# Fails when a file includes from a layer above its own. Layers, bottom to top:
# base (COM and text plumbing), errortrap, registry, support, installer,
# component, tools. A folder may include its own layer and the ones below.
# Every include is resolved to the file it names, as the compiler would find
# it (quoted: beside the including file, then the include roots; angle: the
# include roots), whatever its spelling ("../x/y.h", <x/y.h>), before its
# layer is ranked; the headers generated from component/Tamberlux.idl belong
# to component. It also fails on a registry call (Reg...( ) anywhere but in
# the one door, src/base/RegistryDoor.cpp. Usage: check-layers.sh [TREE]
# (default: this checkout).
set -euo pipefail
tree="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
python3 - "$tree" <<'PY'
import os, re, sys
tree = os.path.realpath(sys.argv[1])
src = os.path.join(tree, "src")
layers = ["base", "errortrap", "registry", "support", "installer", "component", "tools"]
rank = {name: i for i, name in enumerate(layers)}
generated = {"Tamberlux.h", "Tamberlux_i.c", "Tamberlux.tlb"}  # widl's output from component/Tamberlux.idl
include = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)

def layer_of(path):
    rel = os.path.relpath(path, tree).split(os.sep)
    if rel[0] == "tools":
        return "tools"
    if rel[0] == "src" and len(rel) > 2:
        return rel[1]
    return None

def resolve(target, including, quoted):
    roots = ([os.path.dirname(including)] if quoted else []) + [src, os.path.join(tree, "tools")]
    for root in roots:
        candidate = os.path.realpath(os.path.join(root, target))
        if os.path.isfile(candidate):
            return candidate
    if os.path.basename(target) in generated:
        return os.path.join(src, "component", os.path.basename(target))
    return None  # a system or toolchain header

bad = []
for top in ("src", "tools"):
    for folder, _, files in os.walk(os.path.join(tree, top)):
        for f in files:
            if not f.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, f)
            own = layer_of(path)
            shown = os.path.relpath(path, tree)
            if own not in rank:
                bad.append(f"{shown}: folder '{own}' has no layer")
                continue
            for kind, target in include.findall(open(path, errors="replace").read()):
                found = resolve(target, path, kind == '"')
                if not found:
                    continue
                theirs = layer_of(found)
                if theirs is None or theirs not in rank:
                    bad.append(f"{shown}: includes {target}, which is outside the layers")
                elif rank[theirs] > rank[own]:
                    bad.append(f"{shown}: {own} includes {target} ({theirs}), a layer above it")
# One door to the registry: no registry call outside base/RegistryDoor.cpp.
door = os.path.join(src, "base", "RegistryDoor.cpp")
call = re.compile(r'\bReg(?!Key\b)[A-Z][A-Za-z]*\s*\(')
for top in ("src", "tools"):
    for folder, _, files in os.walk(os.path.join(tree, top)):
        for f in files:
            path = os.path.join(folder, f)
            if not f.endswith((".h", ".cpp")) or os.path.realpath(path) == door:
                continue
            for number, text in enumerate(open(path, errors="replace"), 1):
                code = text.split("//")[0]
                if call.search(code):
                    bad.append(f"{os.path.relpath(path, tree)}:{number}: a registry call outside base/RegistryDoor.cpp")
for line in bad:
    print("check-layers:", line, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
