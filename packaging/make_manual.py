#!/usr/bin/env python3
"""Writes a program's manual page from its own --help and a page template.

    make_manual.py PROGRAM TEMPLATE OUTPUT VERSION DATE

The help text is read in three parts: the usage block at the top, from "Usage: " (the
SYNOPSIS, kept line for line), the paragraphs of prose (the DESCRIPTION; one that starts "Exit
status:" is the EXIT STATUS), and the option rows under "Options:" (two spaces, the
option and its value, the text from column 24, continued on indented lines). The
template is roff with @SYNOPSIS@, @DESCRIPTION@, @OPTIONS@, @EXIT_STATUS@, @VERSION@
and @DATE@ in it; what only the manual says (name line, examples, files) is written
there. OUTPUT ending in .gz is compressed reproducibly (no name, no time stamp).
"""
import gzip
import re
import subprocess
import sys

OPTION_ROW = re.compile(r"^  (-\S.*?)(?:\s{2,}(\S.*))?$")
CONTINUATION = re.compile(r"^\s{8,}(\S.*)$")


def roff_text(text):
    """Escapes a line of plain text for roff: backslashes, minus signs, leading dots."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def option_label(label):
    """'-h, --help', '--gap-size SECONDS' or '--declick[=LEVEL]' as bold options and
    italic values."""
    words = []
    for word in label.split():
        comma = "," if word.endswith(",") else ""
        word = word.rstrip(",")
        value = ""
        if word.startswith("-") and word.endswith("]") and "[=" in word:
            word, value = word[:-1].split("[=", 1)
            value = "[=\\fI%s\\fR]" % roff_text(value)
        font = "B" if word.startswith("-") else "I"
        words.append("\\f%s%s\\fR%s%s" % (font, roff_text(word), value, comma))
    return " ".join(words)


def split_help(help_text):
    """(usage lines, prose paragraphs, option rows [label, text]) of a help text."""
    lines = help_text.rstrip("\n").split("\n")
    usage = []
    while lines and lines[0].startswith("Usage: ") or usage and lines and lines[0].strip():
        line = lines.pop(0)
        # "Usage: " and the same indent on the lines below it go; deeper indents stay.
        if line.startswith("Usage: ") or line.startswith(" " * len("Usage: ")):
            line = line[len("Usage: "):]
        usage.append(line)
    paragraphs, options, current = [], [], []
    in_options = False
    for line in lines + [""]:
        if not line.strip():
            if current:
                paragraphs.append(" ".join(current))
                current = []
            in_options = False
            continue
        if line.strip() == "Options:":
            in_options = True
            continue
        if in_options:
            row = OPTION_ROW.match(line)
            more = CONTINUATION.match(line)
            if row:
                options.append([row.group(1).strip(), row.group(2) or ""])
                continue
            if more and options:
                options[-1][1] = (options[-1][1] + " " + more.group(1)).strip()
                continue
            in_options = False  # not an option row: prose again
        current.append(line.strip())
    return usage, paragraphs, options


def manual(template, help_text, version, date):
    usage, paragraphs, options = split_help(help_text)
    synopsis = ".nf\n" + "\n".join(roff_text(u) for u in usage) + "\n.fi"
    exit_status = [p for p in paragraphs if p.startswith("Exit status:")]
    prose = [p for p in paragraphs if not p.startswith("Exit status:")]
    description = "\n.PP\n".join(roff_text(p) for p in prose)
    rows = "\n".join(".TP\n%s\n%s" % (option_label(label), roff_text(text)) for label, text in options)
    exit_text = roff_text(exit_status[0][len("Exit status:"):].strip()) if exit_status else ""
    page = template
    for key, value in (("@SYNOPSIS@", synopsis), ("@DESCRIPTION@", description), ("@OPTIONS@", rows),
                       ("@EXIT_STATUS@", exit_text), ("@VERSION@", version), ("@DATE@", date)):
        page = page.replace(key, value)
    return page


def main():
    if len(sys.argv) != 6:
        raise SystemExit(__doc__)
    program, template_path, output, version, date = sys.argv[1:]
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True, text=True).stdout
    with open(template_path, encoding="utf-8") as f:
        page = manual(f.read(), help_text, version, date).encode("utf-8")
    if output.endswith(".gz"):
        with open(output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0) as f:
            f.write(page)
    else:
        with open(output, "wb") as f:
            f.write(page)


if __name__ == "__main__":
    main()
