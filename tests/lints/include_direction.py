#!/usr/bin/env python3
"""Fails when a source includes a folder it must not depend on.

The direction of use is library -> {formats, documents} -> frame -> platform, and inside the
platform each library uses only those below it. tools/ loads the library at run time and sees
only the platform's headers and the library's list of formats, library/formats.h, which is
constant data and includes nothing of ours itself."""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]

# What each platform library may include besides itself.
PLATFORM = {
    "base": set(),
    "com": {"base"},
    "cfx": {"com", "base"},
    "datamodel": {"cfx", "com", "base"},
    "datamodel_extras": {"datamodel", "cfx", "com", "base"},
    "host": {"datamodel", "cfx", "com", "base"},
    "sdk": {"cfx", "com", "base"},
    "xml": {"cfx", "com", "base"},
    "utilities": {"host", "datamodel", "sdk", "cfx", "com", "base"},
}
ALL_PLATFORM = set(PLATFORM)
# The one header of the library a host that loads it at run time may include.
FORMAT_LIST = "library/formats.h"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def target_of(include):
    """The folder an include names: a platform library, or one of our top folders."""
    head = include.split("/", 1)[0]
    if head in ALL_PLATFORM:
        return head
    if head == "formats":
        parts = include.split("/")
        return "formats/" + parts[1] if len(parts) > 2 else "formats"
    if head in {"frame", "documents", "library", "tools", "tests", "fuzz", "bench"}:
        return head
    return None  # a header beside the source


def allowed(source):
    """The set of folders (or single headers) a source may include, or None when it is not
    checked."""
    rel = source.relative_to(root).parts
    if "/".join(rel) == FORMAT_LIST:
        return set()
    if rel[0] == "platform":
        own = rel[1]
        return {own} | PLATFORM.get(own, set())
    if rel[0] == "frame":
        return {"frame"} | ALL_PLATFORM
    if rel[0] == "documents":
        return {"documents", "frame"} | ALL_PLATFORM
    if rel[0] == "formats":
        return {"formats/" + rel[1], "frame"} | ALL_PLATFORM
    if rel[0] == "library":
        return None
    if rel[0] == "tools":
        return {"tools", FORMAT_LIST} | ALL_PLATFORM
    return None


failures = []
for folder in ("platform", "frame", "documents", "formats", "library", "tools"):
    for source in sorted((root / folder).rglob("*")):
        if source.suffix not in {".h", ".cpp"}:
            continue
        permitted = allowed(source)
        if permitted is None:
            continue
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = target_of(m.group(1))
            if m.group(1) in permitted:
                continue
            if target is not None and target not in permitted:
                failures.append(f"{source.relative_to(root)}:{number}: includes {m.group(1)}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
