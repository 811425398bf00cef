#!/usr/bin/env python3
"""The documentation's links hold: every relative link and heading anchor in README.md,
SECURITY.md and docs/*.md names a file that exists and, after '#', a heading of that file (as
GitHub makes anchors); every command in a code block of docs/developers.md names scripts that
exist.

    check_doc_links.py SOURCE_DIR
"""
import glob
import os
import re
import sys

failures = []
FENCE = re.compile(r"^\s*(```|~~~)")
# [text](target) and ![alt](target); a target may carry a title after a blank.
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
INLINE_CODE = re.compile(r"`+[^`]*`+")
# A file of the tree a command runs: scripts/x.sh, tests/static/x.py, installer/x.cmake.
SCRIPT = re.compile(r"(?<![\w./$-])((?:\./)?(?:[\w.-]+/)*[\w.-]+\.(?:sh|py|cmake))\b")


def split_blocks(text):
    """(prose lines with their numbers, fenced code blocks as lists of (number, line)). The pages
    fence every code block."""
    prose, blocks, block, fence = [], [], None, None
    for number, line in enumerate(text.splitlines(), 1):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1) == fence:
                blocks.append(block)
                fence, block = None, None
            else:
                block.append((number, line))
        elif opening:
            fence, block = opening.group(1), []
        else:
            prose.append((number, line))
    if fence:
        failures.append("a code block opened at line %d is never closed" % (block[0][0] - 1 if block else 0))
    return prose, blocks


def anchor(heading):
    """GitHub's anchor of a heading: its text without formatting, lower case, punctuation but
    '-' and '_' dropped, each space a '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = text.replace("`", "").replace("*", "")
    text = text.strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(text):
    """Every anchor of a file's headings; repeated ones get -1, -2, ... as on GitHub."""
    prose, _ = split_blocks(text)
    found, seen = set(), {}
    for _, line in prose:
        heading = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        base = anchor(heading.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else "%s-%d" % (base, count))
    return found


def check_headings(path, prose):
    """Headings go down one level at a time."""
    level = 0
    for number, line in prose:
        heading = re.match(r"^(#{1,6})\s", line)
        if heading:
            depth = len(heading.group(1))
            if depth > level + 1:
                failures.append("%s:%d: heading jumps from level %d to %d" % (path, number, level, depth))
            level = depth


def check_links(source_dir, path, cache):
    with open(path, encoding="utf-8") as stream:
        text = stream.read()
    prose, _ = split_blocks(text)
    check_headings(os.path.relpath(path, source_dir), prose)
    for number, line in prose:
        for target in LINK.findall(INLINE_CODE.sub("", line)):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # https:, mailto:
            file_part, _, fragment = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
            where = "%s:%d: %s" % (os.path.relpath(path, source_dir), number, target)
            if not os.path.exists(linked):
                failures.append(where + ": no such file")
                continue
            if fragment:
                if not linked.endswith(".md"):
                    failures.append(where + ": an anchor into a file that is not Markdown")
                    continue
                if linked not in cache:
                    with open(linked, encoding="utf-8") as stream:
                        cache[linked] = anchors(stream.read())
                if fragment not in cache[linked]:
                    failures.append(where + ": no heading with that anchor")


def check_commands(source_dir, path):
    """Each script a code block's command names is in the tree (build outputs excepted)."""
    with open(path, encoding="utf-8") as stream:
        _, blocks = split_blocks(stream.read())
    for block in blocks:
        for number, line in block:
            command = line.split("#", 1)[0] if not line.lstrip().startswith("<") else ""
            for script in SCRIPT.findall(command):
                if script.startswith(("build/", "./build/")):
                    continue
                if not os.path.isfile(os.path.join(source_dir, script)):
                    failures.append("%s:%d: %s does not exist" % (os.path.relpath(path, source_dir), number, script))
            for named in re.findall(r"\bbash\s+([^\s;|&]+)", command):
                if not named.startswith("-") and not os.path.isfile(os.path.join(source_dir, named)):
                    failures.append("%s:%d: bash %s: no such script" % (os.path.relpath(path, source_dir), number, named))


def main():
    source_dir = os.path.abspath(sys.argv[1])
    pages = [os.path.join(source_dir, name) for name in ("README.md", "SECURITY.md")]
    pages += sorted(glob.glob(os.path.join(source_dir, "docs", "*.md")))
    cache = {}
    for page in pages:
        if os.path.exists(page):
            check_links(source_dir, page, cache)
        else:
            failures.append("%s: missing" % os.path.relpath(page, source_dir))
    developers = os.path.join(source_dir, "docs", "developers.md")
    if os.path.exists(developers):
        check_commands(source_dir, developers)
    for failure in failures:
        print("FAIL:", failure)
    print("%d page(s): %s" % (len(pages), "%d problem(s)" % len(failures) if failures else "every link holds"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
