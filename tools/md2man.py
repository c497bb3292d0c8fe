#!/usr/bin/env python3
"""Turns a manual page written in Markdown into troff (man macros).

    md2man.py SOURCE.md OUTPUT [--date YYYY-MM-DD] [--version TEXT]

The source's first line names the page: "# name(section) -- one-line summary".
Its "#" headings become sections, "##" sub-sections.  A line

    <!-- include PATH#Heading -->

puts in the text under that heading of another Markdown file (PATH relative
to the source; without "#Heading" the whole file; "#Heading (opening)" stops
at its first sub-heading), so that the README and
docs/cli.md stay the one place their text is kept.  Included headings sit one
level below the heading the include line is under.

Understood: paragraphs, "-" lists (nested by indentation), fenced and
indented code blocks, tables (a line per row), `code`, **bold**, *italic*,
_italic_, [links](...) (their text) and images (left out).
"""
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r"^<!--\s*include\s+(\S+?)(?:#(.+?))?\s*-->\s*$")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
ITEM = re.compile(r"^(\s*)[-*]\s+(.*)$")
IMAGE = re.compile(r"^\s*!\[[^\]]*\]\([^)]*\)\s*$")


def section_of(lines, heading):
    """The lines under `heading` (its own line left out), up to the next
    heading of the same or a higher level (of any level for "... (opening)"),
    with their heading level."""
    opening = heading.endswith(" (opening)")
    if opening:
        heading = heading[: -len(" (opening)")]
    start, level = None, 0
    fenced = False
    for i, line in enumerate(lines):
        if line.lstrip().startswith("```"):
            fenced = not fenced
        m = None if fenced else HEADING.match(line)
        if not m:
            continue
        if start is None and m.group(2).strip() == heading:
            start, level = i + 1, len(m.group(1))
        elif start is not None and (opening or len(m.group(1)) <= level):
            return lines[start:i], level
    if start is None:
        sys.exit(f"md2man: no heading '{heading}'")
    return lines[start:], level


def expand(path, depth=0):
    """The source's lines with its include lines replaced."""
    out = []
    current_level = 0
    fenced = False
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.lstrip().startswith("```"):
            fenced = not fenced
        m = None if fenced else HEADING.match(line)
        if m:
            current_level = len(m.group(1))
        inc = None if fenced else INCLUDE.match(line)
        if not inc:
            out.append(line)
            continue
        other = (path.parent / inc.group(1)).resolve()
        lines = expand(other, depth + 1) if depth < 4 else other.read_text(encoding="utf-8").splitlines()
        level = 0
        if inc.group(2):
            lines, level = section_of(lines, inc.group(2).strip())
        # Headings of the included text go one below the including heading.
        shift = current_level + 1 - (level + 1)
        fenced_in = False
        for l in lines:
            if l.lstrip().startswith("```"):
                fenced_in = not fenced_in
            h = None if fenced_in else HEADING.match(l)
            if h:
                l = "#" * min(6, max(1, len(h.group(1)) + shift)) + " " + h.group(2)
            out.append(l)
    return out


def escape(text):
    text = text.replace("\\", "\\e")
    return text


def inline(text):
    """Markdown inline marks to troff fonts."""
    spans = []

    def keep(m):
        spans.append(escape(m.group(1)).replace("-", "\\-"))
        return f"\x00{len(spans) - 1}\x00"

    text = re.sub(r"`([^`]+)`", keep, text)
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)
    text = re.sub(r"\[([^\]]+)\]\([^)]*\)", r"\1", text)
    text = escape(text)
    text = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"(?<![\w*])\*(?!\s)(.+?)(?<!\s)\*(?![\w*])", r"\\fI\1\\fR", text)
    text = re.sub(r"(?<!\w)_(?!\s)(.+?)(?<!\s)_(?!\w)", r"\\fI\1\\fR", text)
    text = re.sub(r"\x00(\d+)\x00", lambda m: "\\fB" + spans[int(m.group(1))] + "\\fR", text)
    return text


def line_out(text):
    """A text line that troff will not take for a request."""
    if text.startswith((".", "'")):
        return "\\&" + text
    return text


def quoted(text):
    return '"' + text.replace('"', '\\(dq') + '"'


class Writer:
    def __init__(self):
        self.out = []
        self.para = []
        self.lists = []  # indentation of each open list level

    def flush(self):
        if self.para:
            self.out.append(line_out(inline(" ".join(s.strip() for s in self.para))))
            self.para = []

    def close_lists(self, down_to=0):
        self.flush()
        while len(self.lists) > down_to:
            self.lists.pop()
            if self.lists:
                self.out.append(".RE")

    def request(self, text):
        self.flush()
        self.out.append(text)


def convert(lines, name, section, summary, date, version):
    w = Writer()
    w.out.append(f'.TH {quoted(name.upper())} {quoted(section)} {quoted(date)} {quoted(version)} '
                 f'{quoted("User Commands")}')
    w.out.append(".SH NAME")
    w.out.append(f"{name} \\- {escape(summary)}")
    i = 0
    in_table = False
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if stripped.startswith("```"):
            w.close_lists(len(w.lists))
            w.request(".PP" if not w.lists else ".IP")
            w.out.append(".RS 4" if not w.lists else ".RS 2")
            w.out.append(".nf")
            i += 1
            while i < len(lines) and not lines[i].strip().startswith("```"):
                w.out.append(line_out(escape(lines[i]).replace("-", "\\-")))
                i += 1
            w.out.append(".fi")
            w.out.append(".RE")
            i += 1
            continue
        if not stripped:
            w.flush()
            in_table = False
            # An indented block after a blank line is code (4 spaces more
            # than the list item it belongs to).
            base = (w.lists[-1] + 2) if w.lists else 0
            j = i + 1
            if j < len(lines) and lines[j].startswith(" " * (base + 4)) and lines[j].strip() \
                    and not ITEM.match(lines[j]):
                w.request(".IP" if w.lists else ".PP")
                w.out.append(".RS 4" if not w.lists else ".RS 2")
                w.out.append(".nf")
                while j < len(lines) and (lines[j].startswith(" " * (base + 4)) or not lines[j].strip()):
                    if not lines[j].strip() and not (j + 1 < len(lines) and lines[j + 1].startswith(" " * (base + 4))):
                        break
                    w.out.append(line_out(escape(lines[j][base + 4:]).replace("-", "\\-")))
                    j += 1
                w.out.append(".fi")
                w.out.append(".RE")
                i = j
                continue
            i += 1
            continue
        if IMAGE.match(line) or INCLUDE.match(line):
            i += 1
            continue
        h = HEADING.match(line)
        if h:
            w.close_lists()
            level = len(h.group(1))
            title = inline(h.group(2))
            if level == 1:
                w.request(f".SH {quoted(title.upper())}")
            elif level == 2:
                w.request(f".SS {quoted(title)}")
            else:
                w.request(".PP")
                w.out.append(f"\\fB{title}\\fR")
                w.request(".PP")
            i += 1
            continue
        if stripped.startswith("|"):
            cells = [c.strip() for c in stripped.strip("|").split("|")]
            if all(re.fullmatch(r":?-+:?", c) for c in cells):
                i += 1
                continue
            if not in_table:
                w.request(".PP" if not w.lists else ".IP")
                w.out.append(line_out(" \\(em ".join(f"\\fI{inline(c)}\\fR" for c in cells)))
                in_table = True
            else:
                w.request(".TP")
                w.out.append(line_out(inline(cells[0]) or "\\&"))
                w.out.append(line_out("; ".join(inline(c) for c in cells[1:])))
            i += 1
            continue
        m = ITEM.match(line)
        if m:
            indent = len(m.group(1))
            while w.lists and indent < w.lists[-1]:
                w.close_lists(len(w.lists) - 1)
            if not w.lists or indent > w.lists[-1]:
                w.flush()
                if w.lists:
                    w.out.append(".RS 2")
                w.lists.append(indent)
            w.request(".IP \\(bu 2")
            w.para.append(m.group(2))
            i += 1
            continue
        # Text: a paragraph, or the continuation of a list item.
        if w.lists:
            indent = len(line) - len(line.lstrip())
            while w.lists and indent <= w.lists[-1] and not w.para:
                w.close_lists(len(w.lists) - 1)
            if w.lists and not w.para:
                w.request(".IP")
        if not w.lists and not w.para:
            w.request(".PP")
        w.para.append(line)
        i += 1
    w.close_lists()
    w.flush()
    return "\n".join(w.out) + "\n"


def main(argv):
    args = argv[1:]
    date, version = "", ""
    while len(args) > 2 and args[-2] in ("--date", "--version"):
        if args[-2] == "--date":
            date = args[-1]
        else:
            version = args[-1]
        args = args[:-2]
    if len(args) != 2:
        sys.exit("usage: md2man.py SOURCE.md OUTPUT [--date YYYY-MM-DD] [--version TEXT]")
    source, output = Path(args[0]), Path(args[1])
    lines = expand(source)
    title = re.match(r"^#\s+(\S+)\((\w+)\)\s+--\s+(.*)$", lines[0]) if lines else None
    if not title:
        sys.exit(f"md2man: {source}: the first line must be '# name(section) -- summary'")
    text = convert(lines[1:], title.group(1), title.group(2), title.group(3), date, version)
    output.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main(sys.argv)
