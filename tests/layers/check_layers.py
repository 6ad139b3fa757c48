#!/usr/bin/env python3
"""The module's layers, bottom up: include, platform, framework, http, the
units (manifest, package), entry. A source file includes its own layer and
those below it, never one above, and the two units never include each other.
Prints each include that breaks the rule and exits 1 when there is one."""
import os, re, sys

LAYERS = {"include": 0, "platform": 1, "framework": 2, "http": 3, "manifest": 4, "package": 4, "entry": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.M)


def breaks(root):
    found = []
    for folder, layer in LAYERS.items():
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for included in INCLUDE.findall(f.read()):
                        other = LAYERS.get(included)
                        if other is not None and (other > layer or (other == layer and included != folder)):
                            found.append(f"{os.path.relpath(path, root)} includes {included}/")
    return found


if __name__ == "__main__":
    found = breaks(sys.argv[1])
    print("\n".join(found) or "the layers hold")
    sys.exit(1 if found else 0)
