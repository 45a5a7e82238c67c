#!/usr/bin/env python3
"""Fails when a Markdown file of the checkout links to a file that does not exist, or to a
heading that the linked page does not have (as GitHub makes anchors from headings). Text moves
between README.md and docs/ break such links silently otherwise.

Usage: links.py SOURCE_DIR
"""
import pathlib
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")
SKIPPED_DIRS = {".git", ".state", "node_modules"}


def slug(heading: str) -> str:
    text = heading.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(page: pathlib.Path) -> set[str]:
    found: set[str] = set()
    seen: dict[str, int] = {}
    in_fence = False
    for line in page.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            in_fence = not in_fence
            continue
        m = None if in_fence else HEADING.match(line)
        if m:
            base = slug(m[1])
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
    return found


def pages(root: pathlib.Path):
    for path in sorted(root.rglob("*.md")):
        rel = path.relative_to(root)
        if not any(part in SKIPPED_DIRS or part.startswith("build") for part in rel.parts[:-1]):
            yield path


def main() -> int:
    root = pathlib.Path(sys.argv[1]).resolve()
    broken = []
    for page in pages(root):
        text = page.read_text(encoding="utf-8")
        text = re.sub(r"^```.*?^```", "", text, flags=re.MULTILINE | re.DOTALL)
        for target in LINK.findall(text):
            if re.match(r"^[a-z]+:", target):
                continue
            path_part, _, anchor = target.partition("#")
            linked = (page.parent / path_part).resolve() if path_part else page
            where = f"{page.relative_to(root)}: {target}"
            if not linked.exists():
                broken.append(f"{where}: no such file")
            elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
                broken.append(f"{where}: no such heading")
    for line in broken:
        print(line, file=sys.stderr)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
