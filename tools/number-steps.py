#!/usr/bin/env python3
"""Step numbers are the line numbers the error reporter sees, and a remembered
"always ignore" is keyed by module, error number and line: so within a module
no two steps may share a number. This numbers them the way a Visual Basic
module numbers its lines: procedure k of a file numbers its steps
base + k*100 + n. A module written in several files gives each file its own
base with a comment "Step numbers in this file start at N." (N a multiple of
10000), so adding a file renumbers nothing else.

  number-steps.py          renumbers src/ in place (n is taken mod 100, so it
                           can run again)
  number-steps.py --check  only reports numbers used twice within a module

A helper shared by several procedures is told each one's step number where it
is called (Ask(L"WindowsVersion.IsWindows98OrMe", 401, …)); those are checked,
not renumbered.
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
PROC = re.compile(r'\bProc p\([^;]*?L"([A-Za-z0-9_]+)\.([A-Za-z0-9_\[\]]+)"')
# A step: p(N, …), p.Try(N, …), p.Completed(N, …), or with one of two
# numbers chosen by a condition (p(xpList ? N : M, …)).
STEP = re.compile(r'\bp(\(|\.Try\(|\.Completed\()((?:\w+ \? \d+ : )?\d+),')
# A shared helper told the procedure and its step: Ask(L"Module.Procedure", N, …).
HELPER = re.compile(r'\b\w+\(\s*L"([A-Za-z0-9_]+)\.([A-Za-z0-9_\[\]]+)",\s*(\d+),')
BASE = re.compile(r'Step numbers in this file start at (\d+)\.')


def sources():
    for folder, _, files in sorted(os.walk(ROOT)):
        for f in sorted(files):
            if f.endswith(".cpp"):
                yield os.path.join(folder, f)


def procedures(text):
    """(module, procedure, start, end) for each procedure in a file."""
    sites = list(PROC.finditer(text))
    for i, m in enumerate(sites):
        end = sites[i + 1].start() if i + 1 < len(sites) else len(text)
        yield m.group(1), m.group(2), m.start(), end


def note(seen, bad, key, where, site):
    """Records a step number of a module; a second statement using it is bad."""
    if key in seen and seen[key][1] != site:
        bad.append(f"{key[0]} step {key[1]}: {seen[key][0]} and {where}")
    seen.setdefault(key, (where, site))


def main():
    check = "--check" in sys.argv[1:]
    seen = {}
    bad = []
    for path in sources():
        text = open(path, encoding="utf-8").read()
        out, last = [], 0
        marker = BASE.search(text)
        counts = {}
        for module, proc, start, end in procedures(text):
            counts[module] = counts.get(module, 0) + 1
            base = (int(marker.group(1)) if marker else 0) + counts[module] * 100
            body = text[start:end]
            if not check:
                body = STEP.sub(lambda s: f"p{s.group(1)}" + re.sub(r"\d+", lambda n: str(base + int(n.group()) % 100),
                                                                   s.group(2)) + ",", body)
            where = f"{os.path.relpath(path, ROOT)} {module}.{proc}"
            for s in STEP.finditer(body):
                for n in re.finditer(r"\d+", s.group(2)):
                    note(seen, bad, (module, int(n.group())), where, (path, start + s.start(2) + n.start()))
            out.append(text[last:start] + body)
            last = end
        for h in HELPER.finditer(text):
            note(seen, bad, (h.group(1), int(h.group(3))), f"{os.path.relpath(path, ROOT)} {h.group(1)}.{h.group(2)}",
                 (path, h.start(3)))
        out.append(text[last:])
        new = "".join(out)
        if not check and new != text:
            open(path, "w", encoding="utf-8").write(new)
    for line in bad:
        print("number-steps: step number used twice:", line, file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
