#!/usr/bin/env python3
"""Merges translations into the nine translated dictionaries.

Input: one or more JSON files {"source": {"en": "...", "es": "...", ...}, ...}.
Existing keys are overwritten; files are rewritten sorted, UTF-8, two-space indented."""
import json
import os
import sys
import tempfile

LANGS = ["en", "es", "fr", "pt", "ru", "ja", "de", "tr", "pl"]
I18N = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shared", "i18n")


def main(paths):
    entries = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            entries.update(json.load(f))
    for source, row in entries.items():
        missing = [lang for lang in LANGS if lang not in row]
        if missing:
            sys.exit(f"{source!r}: no translation for {', '.join(missing)}")
    for lang in LANGS:
        target = os.path.join(I18N, lang + ".json")
        try:
            with open(target, encoding="utf-8") as f:
                data = json.load(f)
        except FileNotFoundError:
            data = {}
        for source, row in entries.items():
            data[source] = row[lang]
        fd, tmp = tempfile.mkstemp(dir=I18N, suffix=".tmp")
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            json.dump(data, f, ensure_ascii=False, indent=2, sort_keys=True)
            f.write("\n")
        os.replace(tmp, target)
    print(f"{len(entries)} entries merged into {len(LANGS)} dictionaries")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: i18n_add.py FILE.json...")
    main(sys.argv[1:])
