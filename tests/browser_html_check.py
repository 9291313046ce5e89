#!/usr/bin/env python3
"""Compares what Chromium made of a page before and after `quib --html`.

    browser_html_check.py [--control copy|default] NAME \
        BEFORE.dom AFTER.dom BEFORE.log AFTER.log

The .dom files are `chromium --dump-dom` output, the .log files the stderr of
the same loads with `--enable-logging=stderr --v=0`, where Chromium writes each
console message (uncaught exceptions included) as a `CONSOLE` line. A page
passes when, in the converted page,

  console    no console message appears that the original does not show;
  script     the scripts' effects are there: the `data-script-ran` of <body>
             and the text of every element whose id is `ergebnis` or starts
             with `ergebnis-` (the pages' scripts write them) as in the original;
  raw        the text of every script, style and textarea is unchanged;
  verbatim   the text of every pre, code, kbd, samp, tt and listing is unchanged;
  attributes every attribute of every element is unchanged;
  comments   every comment is unchanged;
  prose      the rest of the text differs only in quotes and dropped
             backslashes, and its quotes became German marks: see prose().

With --control the page is not expected to pass: `copy` (the original as the
"conversion") must fail `prose` and pass everything else; `default` (quib
without --html) must fail `console` or `script` on a page with scripts and
`raw` or `verbatim` on a page whose code elements hold a quote. The exit status
tells whether that expectation held, so the check is shown to catch both.
"""
import re
import sys
from html.parser import HTMLParser

OPEN, CLOSE = "\u201e", "\u201c"
QUOTES = '"\u201e\u201c\u201d'          # what a conversion may turn into a mark
RAW = {"script", "style", "textarea"}
VERBATIM = {"pre", "code", "kbd", "samp", "tt", "listing"}
BLOCKS = set("""p div li dt dd td th tr table ul ol dl h1 h2 h3 h4 h5 h6
    blockquote section article header footer nav aside main figure figcaption
    form fieldset body pre html head title address caption details summary
    dialog hr menu thead tbody tfoot hgroup legend center option""".split())
VOID = set("""area base br col embed hr img input link meta source track
    wbr""".split())


def excerpt(text, at=0, width=60):
    start = max(0, at - width // 2)
    return repr(text[start:start + width])


class Dom(HTMLParser):
    """The parts of a DOM dump the check compares, each in document order.

    Prose is cut into blocks at the elements that end a quotation in
    docs/html-mode.md, as the DOM has them; the ones a browser adds (tbody,
    an implied </p>) hold no text of their own and change nothing.
    """

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []     # open elements: [tag, label, text pieces or None, kind]
        self.elements = []  # (label, tag, sorted attributes)
        self.comments = []  # (label of the parent, text)
        self.kept = []      # (kind, label, text): script (ergebnis), raw, verbatim
        self.blocks = [["", []]]  # prose between block boundaries: [label, texts]
        self.script_ran = None    # <body data-script-ran>
        self.scripts = 0          # scripts a browser runs
        self.count = 0

    def label(self, tag, attrs):
        self.count += 1
        d = dict(attrs)
        return (f"<{tag}" + (f" id={d['id']}" if d.get("id") else "")
                + (f" class={d['class']}" if d.get("class") else "")
                + f"> (element {self.count})")

    def boundary(self, label):
        self.blocks.append([label, []])

    def handle_starttag(self, tag, attrs):
        label = self.label(tag, attrs)
        self.elements.append((label, tag, sorted((n, v or "") for n, v in attrs)))
        if tag == "body":
            self.script_ran = dict(attrs).get("data-script-ran")
        if tag == "script" and (dict(attrs).get("type") or "text/javascript") in (
                "text/javascript", "application/javascript", "module"):
            self.scripts += 1
        if tag in BLOCKS:
            self.boundary(label)
        ident = dict(attrs).get("id") or ""
        kind = ("script" if ident == "ergebnis" or ident.startswith("ergebnis-")
                else "raw" if tag in RAW else "verbatim" if tag in VERBATIM
                else None)
        if tag not in VOID:
            self.stack.append([tag, label, [] if kind else None, kind])

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.handle_endtag(tag)

    def handle_endtag(self, tag):
        for i in range(len(self.stack) - 1, -1, -1):
            if self.stack[i][0] == tag:
                for t, label, pieces, kind in reversed(self.stack[i:]):
                    if kind:
                        self.kept.append((kind, label, "".join(pieces)))
                del self.stack[i:]
                break
        if tag in BLOCKS:
            self.boundary(f"</{tag}>")

    def handle_data(self, data):
        kept = False
        for entry in self.stack:
            if entry[2] is not None:
                entry[2].append(data)
                kept = True
        if not kept:
            self.blocks[-1][1].append(data)

    def handle_comment(self, data):
        parent = self.stack[-1][1] if self.stack else "document"
        self.comments.append((parent, data))


def read_dom(path):
    dom = Dom()
    with open(path, encoding="utf-8") as f:
        dom.feed(f.read())
    dom.close()
    dom.blocks = [(label, "".join(t)) for label, t in dom.blocks]
    return dom


# [pid:tid:time:INFO:CONSOLE:n] "message", source: file:///… (line); a message
# may run over several lines. Newer builds write CONSOLE(n).
CONSOLE = re.compile(r'^\[[^\]\n]*:CONSOLE[:(]\d+\)?\] "(.*?)", source: \S* '
                     r'\((\d+)\)$', re.M | re.S)


def read_console(path):
    """The console messages of one load: [(message, line)]."""
    with open(path, encoding="utf-8", errors="replace") as f:
        return CONSOLE.findall(f.read())


def prose(before, after):
    """Aligns one block of prose, before and after, character by character.

    Allowed: equal characters; a backslash of the original dropped before `"`,
    `<`, `>` or `\\` that then follows unchanged (an escape); a quote of the
    original (`"`, also from &quot;, or „ “ ” from &bdquo; &ldquo; …) turned
    into a mark, „ while no quotation is open and “ while one is; a typographic
    quote of the original left as it is (quib leaves literal ones alone). A
    straight quote after an odd number of backslashes must stay straight, any
    other must become a mark. Every block starts with no
    quotation open and may end with one open (a stray inch mark). Returns None,
    or (position in `before`, why) for the farthest spot no alignment passes.
    """
    states = {(0, 0, False)}     # position in before, in after, quotation open
    far = [0, "text differs"]

    def stuck(i, why):
        if i > far[0] or (i == far[0] and far[1] == "text differs"):
            far[:] = [i, why]

    while states:
        nxt = set()
        for i, j, is_open in states:
            if i == len(before) and j == len(after):
                return None
            x = before[i] if i < len(before) else ""
            y = after[j] if j < len(after) else ""
            if x == "\\" and before[i + 1:i + 2] in ('"', "<", ">", "\\") \
                    and y == before[i + 1]:
                nxt.add((i + 2, j + 1, is_open))
            if x and x in QUOTES and y in (OPEN, CLOSE) and not escaped(before, i):
                if y == (CLOSE if is_open else OPEN):
                    nxt.add((i + 1, j + 1, not is_open))
                else:
                    stuck(i, "a closing mark where a quotation opens" if y == CLOSE
                          else "an opening mark where a quotation closes")
            if x == '"' and escaped(before, i):
                if y == x:
                    nxt.add((i + 1, j + 1, is_open))
                else:
                    stuck(i, "an escaped quote became a mark")
            elif x and x == y:
                if x == '"':
                    stuck(i, "straight quote not converted")
                else:
                    nxt.add((i + 1, j + 1, is_open))
            stuck(i, "text differs")
        states = nxt
    return tuple(far)


def escaped(text, i):
    """Whether the `"` at i of the original's text follows an odd number of
    backslashes: `\\"` (quib drops the backslash) or `\\&quot;` (quib keeps
    both), a quote that stays straight and does not count."""
    k = i
    while k > 0 and text[k - 1] == "\\":
        k -= 1
    return text[i] == '"' and (i - k) % 2 == 1


def pairs_in(text):
    """Pairs of quotes in one block of the original, escaped ones left out."""
    return sum(1 for i, c in enumerate(text)
               if c in QUOTES and not escaped(text, i)) // 2


def compare(before, after, console_before, console_after):
    """Returns {criterion: [problem, ...]} for all criteria."""
    p = {k: [] for k in ("console", "script", "raw", "verbatim", "attributes",
                         "comments", "prose")}
    # console: messages of the converted load that the original does not show
    seen = [m for m, _ in console_before]
    for message, line in console_after:
        if message in seen:
            seen.remove(message)
        else:
            kind = "error" if message.startswith("Uncaught") else "message"
            p["console"].append(f"new console {kind} (line {line}): {message[:120]!r}")

    # script effects
    if before.scripts and before.script_ran is None:
        p["script"].append(f"the original has {before.scripts} scripts but shows no "
                           "data-script-ran on <body>: a broken script would go unseen")
    if before.script_ran is not None and after.script_ran != before.script_ran:
        p["script"].append(f"<body data-script-ran> is {after.script_ran!r}, "
                           f"the original has {before.script_ran!r}")

    # element texts, element by element
    for kind in ("script", "raw", "verbatim"):
        b = [(label, t) for k, label, t in before.kept if k == kind]
        a = [(label, t) for k, label, t in after.kept if k == kind]
        if len(a) != len(b):
            p[kind].append(f"{len(b)} such elements in the original, {len(a)} converted")
        for (lb, tb), (la, ta) in zip(b, a):
            if kind == "script" and not tb.strip():
                p[kind].append(f"{lb}: empty in the original (its script did not run)")
            if tb != ta:
                at = next((k for k, (c, d) in enumerate(zip(tb, ta)) if c != d),
                          min(len(tb), len(ta)))
                p[kind].append(f"{la} text changed at {at}: "
                               f"{excerpt(tb, at)} -> {excerpt(ta, at)}")

    if len(after.elements) != len(before.elements):
        p["attributes"].append(f"{len(before.elements)} elements in the original, "
                               f"{len(after.elements)} converted")
    for (lb, tb, ab), (la, ta, aa) in zip(before.elements, after.elements):
        if tb != ta:
            p["attributes"].append(f"{lb} became {la}: the elements differ from here on")
            break
        if ab != aa:
            lost = [f"{n}={v[:60]!r}" for n, v in ab if (n, v) not in aa]
            new = [f"{n}={v[:60]!r}" for n, v in aa if (n, v) not in ab]
            p["attributes"].append(f"{lb}: {', '.join(lost) or '-'} -> "
                                   f"{', '.join(new) or '-'}")

    if len(after.comments) != len(before.comments):
        p["comments"].append(f"{len(before.comments)} comments in the original, "
                             f"{len(after.comments)} converted")
    for (lb, cb), (la, ca) in zip(before.comments, after.comments):
        if cb != ca:
            p["comments"].append(f"comment in {la}: {excerpt(cb)} -> {excerpt(ca)}")

    # prose, block by block
    pairs = opens = closes = 0
    if len(after.blocks) != len(before.blocks):
        p["prose"].append(f"{len(before.blocks)} blocks of prose in the original, "
                          f"{len(after.blocks)} converted")
    for (lb, tb), (la, ta) in zip(before.blocks, after.blocks):
        pairs += pairs_in(tb)
        opens += ta.count(OPEN)
        closes += ta.count(CLOSE)
        result = prose(tb, ta)
        if result and len(p["prose"]) < 8:
            at, why = result
            p["prose"].append(f"in {lb}: {why} at {excerpt(tb, at)} -> "
                              f"{excerpt(ta, at)}")
    if pairs == 0:
        p["prose"].append("the original has no quotation in its prose: nothing to test")
    elif not p["prose"] and (opens < pairs or closes < pairs):
        p["prose"].append(f"{pairs} pairs of quotes in the original's prose, but only "
                          f"{opens} marks U+201E and {closes} U+201C converted")
    p["prose-count"] = (pairs, opens, closes)
    return p


def main():
    args = sys.argv[1:]
    if args[:1] == ["--console"]:      # lists the console messages of a log
        for message, line in read_console(args[1]):
            print(f"line {line}: {message}")
        return 0
    control = None
    if args[:1] == ["--control"]:
        control, args = args[1], args[2:]
    name, dom_before, dom_after, log_before, log_after = args
    before, after = read_dom(dom_before), read_dom(dom_after)
    problems = compare(before, after, read_console(log_before),
                       read_console(log_after))
    pairs, opens, closes = problems.pop("prose-count")
    failed = {k for k, v in problems.items() if v}
    for k, v in problems.items():
        for line in v:
            print(f"{name}: {k}: {line}")
    summary = " ".join(f"{k}={'FAIL' if k in failed else 'ok'}" for k in problems)
    print(f"{name}: {summary} (prose: {pairs} pairs, {opens} \u201e and "
          f"{closes} \u201c)")
    if control is None:
        return 1 if failed else 0
    has_script = before.scripts > 0
    has_quoted_code = any(k in ("raw", "verbatim") and '"' in t
                          for k, _, t in before.kept)
    expected = []
    if control == "copy":
        expected.append(failed == {"prose"})
    else:
        expected.append(not has_script or bool(failed & {"console", "script"}))
        expected.append(not has_quoted_code or bool(failed & {"raw", "verbatim"}))
    ok = all(expected)
    print(f"{name}: control {control}: {'caught as expected' if ok else 'NOT CAUGHT'}")
    return 0 if ok else 1


sys.exit(main())
