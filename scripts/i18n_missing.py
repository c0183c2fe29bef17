#!/usr/bin/env python3
"""Lists the translateText("...") literals of the sources that a dictionary lacks.

Usage: i18n_missing.py [LANG]   (default en). Prints a JSON object {"source": {}} to fill in
and pass to i18n_add.py."""
import json
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DIRS = ["shared", "app", "storage", "canvas", "inference", "checker", "ui", "host", "tools"]
CALL = re.compile(r'translateText\(\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\)')
PIECE = re.compile(r'"((?:[^"\\]|\\.)*)"')


def unescape(body):
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)), body)


def literals():
    found = {}
    for d in DIRS:
        for base, _, files in os.walk(os.path.join(ROOT, d)):
            for name in files:
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(base, name)
                text = open(path, encoding="utf-8").read()
                for m in CALL.finditer(text):
                    literal = "".join(unescape(p) for p in PIECE.findall(m.group(1)))
                    found.setdefault(literal, os.path.relpath(path, ROOT))
    return found


def main():
    lang = sys.argv[1] if len(sys.argv) > 1 else "en"
    with open(os.path.join(ROOT, "shared", "i18n", lang + ".json"), encoding="utf-8") as f:
        have = json.load(f)
    missing = {k: {} for k in sorted(literals()) if k not in have}
    json.dump(missing, sys.stdout, ensure_ascii=False, indent=2)
    print()


if __name__ == "__main__":
    main()
