"""Reading bug report files: a file holds reports one after the other, each
a header of "name: value" lines and sections (a title line, then its lines),
blocks apart by a blank line, CR LF throughout."""
import re


def split_reports(text):
    """The reports of a file's text; a report starts with its "date/time" line."""
    return [chunk for chunk in re.split(r"\r\n\r\n(?=date/time)", text.rstrip("\r\n")) if chunk]


def parse_report(text):
    """(header names in order, header dict, [(section title, lines)], header text) of one report."""
    blocks = text.strip("\r\n").split("\r\n\r\n")
    names, header = [], {}
    for line in blocks[0].split("\r\n"):
        name, _, value = line.partition(": ")
        names.append(name.rstrip())
        header[name.rstrip()] = value
    sections = []
    for block in blocks[1:]:
        lines = block.split("\r\n")
        sections.append((lines[0], lines[1:]))
    return names, header, sections, blocks[0]
