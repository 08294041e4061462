#!/usr/bin/env python3
"""Every relative link in README.md and docs/*.md names a file that exists, and a link to
a heading of a Markdown page names a heading that page has. Prints each broken link;
exits 1 if there is any."""
import glob
import os
import re
import sys

root = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
link = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def anchors(path):
    """GitHub's heading anchors: lower case, punctuation dropped, spaces to hyphens."""
    found = set()
    fenced = False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
        if fenced or not line.startswith("#"):
            continue
        text = line.lstrip("#").strip().lower()
        slug = re.sub(r"[^\w\- ]", "", text).replace(" ", "-")
        found.add(slug)
    return found


pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
broken = 0
for page in pages:
    fenced = False
    for number, line in enumerate(open(page, encoding="utf-8"), 1):
        if line.startswith("```"):
            fenced = not fenced
        if fenced:
            continue
        for target in link.findall(line):
            if re.match(r"^[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            problem = None
            if not os.path.exists(full):
                problem = "no such file"
            elif anchor and full.endswith(".md") and anchor not in anchors(full):
                problem = "no such heading"
            if problem:
                broken += 1
                print("%s:%d: %s: %s" % (os.path.relpath(page, root), number, target, problem))
sys.exit(1 if broken else 0)
