#!/usr/bin/env python3
"""Lists the message numbers that the given Markdown documents name.

Usage: list_message_numbers.py [--context] DOC...

A number counts as a message number when
  - it follows the word "message"/"messages" (optionally "id", "ids", "number",
    "numbers", "text"), together with the numbers listed right after it
    ("messages 7941 to 7946, 8340, 9371 and 9372"; "to" gives a range);
  - it is preceded by "gives", "formats", "prints" or "logs" in a line about
    messages ("16 gives message 7901; 11 gives 5316"; "log 9378 with the text");
  - it stands in a table column whose heading names a message id or number, or in a
    table of errno values and ids.
Ranges are expanded. With --context each number is printed with the line it came from.
The list is a check for res/messages: every number it prints must have a text there.
"""
import re
import sys

NUM = r"\d{4,5}"
LIST = r"\s*\(?(" + NUM + r"(?:(?:\s*(?:\([^)]*\))?\s*(?:,|and|to|or|-|\.\.|–)\s*)" + NUM + r")*)"
LIST_AFTER = re.compile(r"(?:\b[Mm]essages?(?:\s+(?:ids?|numbers?|texts?))?|\b[Ll]ogs?)" + LIST)
VERB_LIST = re.compile(r"\b(?:gives|prints|formats)" + LIST)
PAREN = re.compile(r"\((" + NUM + r")\)")
GIVES = re.compile(r"\b(?:gives|formats|prints|is|logs?|->|→)\s+(?:message\s+)?(" + NUM + r")\b")
WITH = re.compile(r"\((" + NUM + r") with\b")
ARROW = re.compile(r"(?:->|→)\s*(" + NUM + r")\b")
# Sizes, limits and bit masks that share a line with a message but are none.
NOT_MESSAGES = {1000, 1003, 1005, 1024, 1900, 2047, 2048, 4095, 4096, 4097, 8192, 10000, 16384, 32767,
                32768, 65535}
MSG_HEAD = re.compile(r"message (?:id|number)|^id$|^description id$|msg", re.I)


def expand(text):
    out = []
    text = re.sub(r"\([^)]*\)", " ", text)
    parts = re.split(r"\s*(,|and|or|to|\.\.|–|-)\s*", text)
    prev = None
    pending_range = False
    for p in parts:
        if re.fullmatch(NUM, p or ""):
            n = int(p)
            if pending_range and prev is not None and prev < n <= prev + 200:
                out.extend(range(prev + 1, n + 1))
            else:
                out.append(n)
            prev = n
            pending_range = False
        elif p in ("to", "..", "–", "-"):
            pending_range = True
    return out


def scan(path, found):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    msg_cols = None
    for lineno, line in enumerate(lines, 1):
        ctx = f"{path}:{lineno}"
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if all(re.fullmatch(r":?-+:?", c) for c in cells if c):
                continue
            if msg_cols is None:
                heads = cells
                msg_cols = [i for i, h in enumerate(heads) if MSG_HEAD.search(h)]
                continue
            for i in msg_cols:
                if i < len(cells):
                    for m in re.finditer(r"\b(" + NUM + r")\b", cells[i]):
                        found.setdefault(int(m.group(1)), ctx + ": " + line.strip())
                    for m in re.finditer(r"(" + NUM + r")\s*(?:to|\.\.|–)\s*(" + NUM + r")", cells[i]):
                        for n in range(int(m.group(1)), int(m.group(2)) + 1):
                            found.setdefault(n, ctx + ": " + line.strip())
        else:
            msg_cols = None
        for m in LIST_AFTER.finditer(line):
            for n in expand(m.group(1)):
                found.setdefault(n, ctx + ": " + line.strip()[:160])
        for m in ARROW.finditer(line):
            found.setdefault(int(m.group(1)), ctx + ": " + line.strip()[:160])
        if re.search(r"[Mm]essage|\blogs?\b", line):
            for m in VERB_LIST.finditer(line):
                for n in expand(m.group(1)):
                    found.setdefault(n, ctx + ": " + line.strip()[:160])
            for rx in (GIVES, WITH):
                for m in rx.finditer(line):
                    found.setdefault(int(m.group(1)), ctx + ": " + line.strip()[:160])


def main(argv):
    context = "--context" in argv
    docs = [a for a in argv if a != "--context"]
    found = {}
    for d in docs:
        scan(d, found)
    for n in sorted(found):
        if n > 65535 or n in NOT_MESSAGES:
            continue
        print(f"{n}\t{found[n]}" if context else n)


if __name__ == "__main__":
    main(sys.argv[1:])
