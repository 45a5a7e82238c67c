#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder that ARCHITECTURE.md does not allow,
or a platform header outside that platform's files.

ARCHITECTURE.md's folder table names, per folder, the folders it may include in its last column
as backticked names (`common`, `log`) or "nothing". A folder may always include its own headers.
Windows headers belong in files named `*_win32.*` only; those include no POSIX header, and the
`*_posix.*` files no Windows header.
Usage: include_rules.py SOURCE_DIR
"""
import pathlib
import re
import sys

# A folder's row names it with a trailing "/"; a file's row (src/main.cpp) names the file.
ROW = re.compile(r"^\|\s*`(?P<folder>[a-z0-9_/.]+?)/?`\s*\|.*\|(?P<allowed>[^|]*)\|\s*$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"(?P<path>[^"]+)"', re.MULTILINE)
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s+<(?P<path>[^>]+)>", re.MULTILINE)
WINDOWS_HEADERS = re.compile(
    r"^(windows|win[a-z0-9]*|bcrypt|ncrypt|io|direct|aclapi|accctrl|sddl|shlobj|shlwapi|"
    r"[a-z]+api|lmcons|tlhelp32|versionhelpers)\.h$", re.IGNORECASE)
POSIX_HEADERS = re.compile(
    r"^(unistd|fcntl|dlfcn|langinfo|dirent|pthread|poll|pwd|grp|spawn|syslog|termios)\.h$"
    r"|^(sys|netinet|arpa|openssl)/")
SOURCES = (".cpp", ".h", ".c")


def rules(architecture: str) -> dict[str, set[str]]:
    table: dict[str, set[str]] = {}
    for line in architecture.splitlines():
        m = ROW.match(line)
        if m:
            table[m["folder"]] = set(re.findall(r"`([a-z0-9_]+)`", m["allowed"]))
    return table


def folder_of(rel: pathlib.PurePosixPath, table: dict[str, set[str]]) -> str | None:
    # The longest table entry that holds the file: "src/run" for src/run/check.cpp, or the
    # file's own row.
    best = None
    for folder in table:
        path = rel.as_posix()
        if (path == folder or path.startswith(folder + "/")) and (best is None or len(folder) > len(best)):
            best = folder
    return best


def platform_faults(rel: pathlib.PurePosixPath, text: str) -> list[str]:
    stem = rel.name.rsplit(".", 1)[0]
    win32 = stem.endswith("_win32")
    faults = []
    for m in SYSTEM_INCLUDE.finditer(text):
        header = m["path"]
        if WINDOWS_HEADERS.match(header) and not win32:
            faults.append(f"{rel}: includes <{header}>, a Windows header, outside a *_win32 file")
        elif POSIX_HEADERS.match(header) and win32:
            faults.append(f"{rel}: includes <{header}>, a POSIX header, in a Windows file")
    return faults


def main() -> int:
    root = pathlib.Path(sys.argv[1])
    table = rules((root / "ARCHITECTURE.md").read_text(encoding="utf-8"))
    if not table:
        print("ARCHITECTURE.md has no folder table", file=sys.stderr)
        return 1
    # Header folders are named by their last element: "common" for src/common.
    names = {f.rsplit("/", 1)[-1]: f for f in table if f.startswith("src/") and "." not in f}
    bad = []
    checked = 0
    for path in sorted(root.glob("src/**/*")) + sorted(root.glob("tools/**/*")):
        if path.suffix not in SOURCES or not path.is_file():
            continue
        rel = pathlib.PurePosixPath(path.relative_to(root).as_posix())
        own = folder_of(rel, table)
        if own is None:
            bad.append(f"{rel}: its folder has no line in ARCHITECTURE.md")
            continue
        checked += 1
        for m in INCLUDE.finditer(path.read_text(encoding="utf-8", errors="replace")):
            first = m["path"].split("/", 1)[0]
            if "/" not in m["path"] or first not in names:
                continue  # a header of the same folder or of another project
            if names[first] != own and first not in table[own]:
                allowed = ", ".join(sorted(table[own]))
                bad.append(f"{rel}: includes {m['path']}, but {own}/ may include "
                           + (f"only {allowed}" if allowed else "nothing"))
        bad.extend(platform_faults(rel, path.read_text(encoding="utf-8", errors="replace")))
    for line in bad:
        print(line, file=sys.stderr)
    print(f"{checked} files checked, {len(bad)} includes against ARCHITECTURE.md")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
