#!/usr/bin/env python3
"""Fails on the C library's character and number conversions in library and platform sources.

Their results follow the process's locale (isspace, tolower, strtod, ...) or they have no way to
report a bad text (atoi); base/text.h has the ASCII rules and the scans that read as the file
formats' C conversions do, the same in every locale.
"""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
FOLDERS = ("platform", "frame", "documents", "formats", "library", "tools")
SUFFIXES = {".h", ".hpp", ".cpp", ".cc", ".c"}
CALL = re.compile(
    r"(?<![\w.>])(?:std::|::)?"
    r"(isalnum|isalpha|isblank|iscntrl|isdigit|isgraph|islower|isprint|ispunct|isspace|isupper|isxdigit"
    r"|tolower|toupper|sto(?:i|l|ll|ul|ull|f|d|ld)|ato(?:i|l|ll|f)|strto[a-z]+|v?f?sscanf|v?f?scanf)\s*\(")
COMMENT = re.compile(r"//.*$")
STRING = re.compile(r'"(?:\\.|[^"\\])*"')

failures = []
for folder in FOLDERS:
    for source in sorted((root / folder).rglob("*")):
        if source.suffix not in SUFFIXES:
            continue
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            code = COMMENT.sub("", STRING.sub('""', line))
            match = CALL.search(code)
            if match:
                failures.append(f"{source.relative_to(root)}:{number}: {match.group(1)}: {line.strip()}")
for f in failures:
    print(f)
if failures:
    print("Use the locale-free helpers and scans of platform/base/text.h instead.")
sys.exit(1 if failures else 0)
