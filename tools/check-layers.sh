#!/usr/bin/env bash
# Fails when a file includes from a layer above its own. Layers, bottom to top:
# base (COM and text plumbing), errortrap, registry, support, installer,
# component, tools. A folder may include its own layer and the ones below.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - <<'PY'
import os, re, sys
layers = ["base", "errortrap", "registry", "support", "installer", "component", "tools"]
rank = {name: i for i, name in enumerate(layers)}
include = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)
bad = []
for top in ("src", "tools"):
    for folder, _, files in os.walk(top):
        for f in files:
            if not f.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, f)
            own = "tools" if top == "tools" else path.split(os.sep)[1]
            if own not in rank:
                bad.append(f"{path}: folder '{own}' has no layer")
                continue
            for target in include.findall(open(path, errors="replace").read()):
                if target in rank and rank[target] > rank[own]:
                    bad.append(f"{path}: {own} includes {target}, a layer above it")
for line in bad:
    print("check-layers:", line, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
