#!/usr/bin/env python3
"""Fails when documents/xsd_version_tables.cpp is not what scripts/gen_xsd_versions.py makes of
documents/xsd_format_versions.txt, so that neither the list nor the tables change alone.

    version_tables_current.py ROOT [LIST TABLES]
"""
import difflib
import subprocess
import sys
import tempfile
from pathlib import Path

root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
listed = Path(sys.argv[2]) if len(sys.argv) > 2 else root / "documents" / "xsd_format_versions.txt"
committed = Path(sys.argv[3]) if len(sys.argv) > 3 else root / "documents" / "xsd_version_tables.cpp"
with tempfile.TemporaryDirectory() as scratch:
    made = Path(scratch) / "xsd_version_tables.cpp"
    run = subprocess.run([sys.executable, str(root / "scripts" / "gen_xsd_versions.py"), str(listed), str(made)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        print(run.stdout + run.stderr, end="")
        sys.exit(1)
    want = made.read_text(encoding="ascii").splitlines(keepends=True)
have = committed.read_text(encoding="ascii").splitlines(keepends=True)
diff = list(difflib.unified_diff(have, want, str(committed), "regenerated", n=1))
if diff:
    print("".join(diff[:60]), end="")
    print(f"{committed} differs from its list: run scripts/gen_xsd_versions.py")
sys.exit(1 if diff else 0)
