#!/usr/bin/env python3
"""Checks what a browser made of a page before and after conversion.

    browser_check.py <dom-before> <dom-after> <pairs> <text>...

Both files are DOMs as headless Chromium dumped them. The converted page must
show exactly <pairs> opening marks U+201E and as many closing marks U+201C,
each expected <text> must appear in its text, and no attribute value may
have changed: the straight quotes of the markup must have stayed straight.
"""
import re
import sys
from html.parser import HTMLParser

OPEN, CLOSE = "\u201e", "\u201c"


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.text = []
        self.attributes = []
        self.in_body = False

    def handle_starttag(self, tag, attrs):
        self.in_body |= tag == "body"
        for name, value in attrs:
            if re.fullmatch(r"[a-z-]+", name):
                self.attributes.append((tag, name, value))

    def handle_data(self, data):
        if self.in_body:
            self.text.append(data)


def read(path):
    page = Page()
    with open(path, encoding="utf-8") as f:
        page.feed(f.read())
    return "".join(page.text), sorted(page.attributes, key=repr)


def main():
    before_path, after_path, pairs, *texts = sys.argv[1:]
    _, before_attributes = read(before_path)
    text, after_attributes = read(after_path)
    problems = []
    if text.count(OPEN) != int(pairs) or text.count(CLOSE) != int(pairs):
        problems.append(f"expected {pairs} pairs of U+201E/U+201C, the page shows "
                        f"{text.count(OPEN)} and {text.count(CLOSE)}")
    for t in texts:
        if t not in text:
            problems.append(f"text not shown: {t!r}")
    if after_attributes != before_attributes:
        problems.append(f"attributes changed:\n  before {before_attributes}\n"
                        f"  after  {after_attributes}")
    for tag, name, value in after_attributes:
        if OPEN in value or CLOSE in value:
            problems.append(f"a mark inside <{tag} {name}>: {value!r}")
    if problems:
        print(f"{after_path}:\n" + "\n".join(problems))
        print("text seen by the browser:\n" + text)
        return 1
    print(f"{after_path}: {pairs} pairs of marks, texts and attributes as expected")
    return 0


sys.exit(main())
