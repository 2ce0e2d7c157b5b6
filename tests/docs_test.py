#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The README and the pages in docs/ hold together.

Every relative link in README.md and docs/*.md (images included) must name
a file or directory of the tree, and where it names a heading (#anchor),
a heading of that Markdown file, by GitHub's rules for heading anchors. And
README.md must open with the commands for a fresh machine: its first code
block, at the top, gives `scripts/demo` and `scripts/test` (CI runs the
latter through .ci/run).

  docs_test.py SOURCE_DIR
"""
import os
import re
import sys
import urllib.parse

from quorveltest import Results

FENCE = re.compile(r"^\s*(```|~~~)")
ATX_HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*(?:\s#+)?\s*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
# [text](target) and ![alt](target); the target may carry a "title".
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^)\s]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")

# How many lines the README may take before its first code block opens:
# the title, a blank line, the fence.
README_FENCE_BY_LINE = 3
README_COMMANDS = ("scripts/demo", "scripts/test")


def prose_lines(text):
    """The lines outside fenced code blocks, with their line numbers."""
    inside = None
    for number, line in enumerate(text.splitlines(), start=1):
        fence = FENCE.match(line)
        if fence:
            if inside is None:
                inside = fence.group(1)
            elif fence.group(1) == inside:
                inside = None
            continue
        if inside is None:
            yield number, line


def rendered(heading):
    """A heading's text as GitHub renders it: code spans keep their text,
    links their words, emphasis loses its marks."""
    text = CODE_SPAN.sub(lambda m: m.group(2), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    return re.sub(r"(\*+|(?<!\w)_+|_+(?!\w))", "", text)


def slug(heading):
    """GitHub's anchor for a heading: lower case, every character but
    letters, digits, '_', '-' and spaces dropped, spaces made hyphens."""
    text = rendered(heading).strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "_- ")
    return text.replace(" ", "-")


def anchors(text):
    """Every anchor of a Markdown text; a repeated heading gets -1, -2, ..."""
    seen = {}
    result = set()
    for _, line in prose_lines(text):
        match = ATX_HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else f"{base}-{count}")
    return result


def links(text):
    """(line number, target) of every link outside code."""
    for number, line in prose_lines(text):
        definition = REFERENCE_DEFINITION.match(line)
        if definition:
            yield number, definition.group(1)
            continue
        for match in INLINE_LINK.finditer(CODE_SPAN.sub("", line)):
            yield number, match.group(1)


def broken_links(page, top):
    """What is wrong with the relative links of one page, as messages."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    problems = []
    where = os.path.relpath(page, top)
    for number, target in links(text):
        target = target.strip("<>")
        if SCHEME.match(target):
            continue
        path, _, anchor = target.partition("#")
        path = urllib.parse.unquote(path)
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        label = f"{where}:{number}: {target}"
        if os.path.commonpath([resolved, top]) != top:
            problems.append(f"{label}: leads out of the tree")
            continue
        if not os.path.exists(resolved):
            problems.append(f"{label}: no such file")
            continue
        if not anchor:
            continue
        if not resolved.endswith(".md") or os.path.isdir(resolved):
            problems.append(f"{label}: a heading in a file that is no Markdown page")
            continue
        with open(resolved, encoding="utf-8") as f:
            if urllib.parse.unquote(anchor) not in anchors(f.read()):
                problems.append(f"{label}: no heading #{anchor} in {os.path.relpath(resolved, top)}")
    return problems


def readme_commands(text):
    """What is wrong with the README's first lines, as messages."""
    lines = text.splitlines()
    opening = next((i for i, line in enumerate(lines) if FENCE.match(line)), None)
    if opening is None or opening >= README_FENCE_BY_LINE:
        return [f"no code block opens within the first {README_FENCE_BY_LINE} lines"]
    block = []
    for line in lines[opening + 1:]:
        if FENCE.match(line):
            break
        block.append(line)
    return [f"the first code block has no line that starts with {command}"
            for command in README_COMMANDS
            if not any(re.match(re.escape(command) + r"(\s|$)", line) for line in block)]


def pages(top):
    docs = os.path.join(top, "docs")
    return [os.path.join(top, "README.md")] + sorted(
        os.path.join(docs, name) for name in os.listdir(docs) if name.endswith(".md"))


def main():
    top = os.path.realpath(sys.argv[1])
    results = Results()
    with open(os.path.join(top, "README.md"), encoding="utf-8") as f:
        results.record("README.md opens with scripts/demo and scripts/test",
                       readme_commands(f.read()))
    for page in pages(top):
        results.record(f"links of {os.path.relpath(page, top)}", broken_links(page, top))
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
