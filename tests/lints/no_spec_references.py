#!/usr/bin/env python3
"""Fails when code, tests or build files point at a document their reader does not have."""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
PATTERN = re.compile(r"\bPart [0-9]+\.[0-9]+|\bspecification\b|\bper the spec\b|\bthe spec\b|"
                     r"piece-0[0-9]|mended from the text|\bthe text says\b", re.IGNORECASE)
SUFFIXES = {".h", ".cpp", ".txt", ".py", ".sh", ".map", ".dict"}
FOLDERS = ("platform", "frame", "documents", "formats", "library", "tools", "tests", "fuzz", "bench",
           "scripts")
me = Path(__file__).resolve()
failures = []
for folder in FOLDERS:
    for source in sorted((root / folder).rglob("*")):
        if source.suffix not in SUFFIXES or source.resolve() == me or "corpus" in source.parts:
            continue
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            if PATTERN.search(line):
                failures.append(f"{source.relative_to(root)}:{number}: {line.strip()}")
for f in failures:
    print(f)
sys.exit(1 if failures else 0)
