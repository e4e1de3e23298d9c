"""Compiler-style reports of errors and warnings for the command line.

An error or warning becomes ``file:line:column: error: message``, followed by
the source line it points at and a caret under the column, then one
``included from`` note per file of the include chain::

    conf/sensors.yaml:4:9: error: unclosed flow collection at end of input
        4 |   name: [1, 2
          |         ^
    conf/configuration.yaml:7:9: note: included from here
        7 | sensor: !include sensors.yaml
          |         ^
"""

from __future__ import annotations

import codecs
import os
import re
from collections.abc import Iterable

from .exceptions import QuarvelError, QuarvelSchemaError

# " at line 3, column 7", as error messages and warnings end (a directive
# error may follow it with " in FILE" and the include chain).
_AT_LINE_COLUMN = re.compile(r" at line (\d+), column (\d+)")
# "... at conf/r.yaml:3": how missing secrets and variables are warned about.
_AT_FILE_LINE = re.compile(r" at (.+):(\d+)$")
_SCHEMA_POSITION = re.compile(r" \(line \d+, column \d+\)$")


class Diagnostic:
    """One report: an error or a warning, where it is, and the notes under it.
    A plain class rather than a dataclass: importing dataclasses would cost
    the command line a few milliseconds of its start."""

    __slots__ = ("severity", "message", "file", "line", "column", "chain", "notes", "end_line", "end_column")

    def __init__(
        self,
        severity: str,  # "error" or "warning"
        message: str,
        file: str | None,
        line: int | None = None,
        column: int | None = None,
        chain: list[tuple[str, int]] | None = None,
        # Other places the error points at, in its file: (text, line, column),
        # as "the '[' is never closed" at the bracket.
        notes: list[tuple[str, int | None, int | None]] | None = None,
        # Where the reported text ends (just past it), when that is known.
        end_line: int | None = None,
        end_column: int | None = None,
    ) -> None:
        self.severity = severity
        self.message = message
        self.file = file
        self.line = line
        self.column = column
        self.chain: list[tuple[str, int]] = chain if chain is not None else []
        self.notes: list[tuple[str, int | None, int | None]] = notes if notes is not None else []
        self.end_line = end_line
        self.end_column = end_column


def _strip_file_suffix(message: str, file: str | None) -> str:
    if file and message.endswith(" in " + file):
        return message[: -len(" in " + file)]
    return message


def _located(message: str, line: int | None, column: int | None):
    """Takes " at line L, column C" out of a message, reading the position
    from it when the error carries none of its own."""
    found = _AT_LINE_COLUMN.search(message)
    if found is None:
        return message, line, column
    if line is None:
        line, column = int(found.group(1)), int(found.group(2))
    return message[: found.start()] + message[found.end() :], line, column


def from_error(error: QuarvelError, default_file: str | None) -> list[Diagnostic]:
    """The reports for one exception raised by quarvel: one per schema
    violation, otherwise one."""
    file = getattr(error, "file", None) or default_file
    if isinstance(error, QuarvelSchemaError):
        violations = getattr(error, "errors", None) or []
        if violations:
            return [
                Diagnostic("error", f"schema: {v.message} at {v.path}", file, v.line, v.column)
                for v in violations
            ]
        message = _SCHEMA_POSITION.sub("", str(error))
        return [
            Diagnostic("error", message, file, getattr(error, "line", None), getattr(error, "column", None))
        ]
    first_line = str(error).split("\n", 1)[0]
    message = _strip_file_suffix(first_line, getattr(error, "file", None))
    message, line, column = _located(message, getattr(error, "line", None), getattr(error, "column", None))
    chain = list(getattr(error, "include_stack", None) or [])
    notes = [_located(note, None, None) for note in getattr(error, "__notes__", None) or []]
    return [Diagnostic("error", message, file, line, column, chain, notes)]


def from_warning(text: str, default_file: str | None, notes: Iterable[str] = ()) -> Diagnostic:
    """The report for one warning text logged by quarvel, with the notes
    its log record carried."""
    file = default_file
    located = [_located(note, None, None) for note in notes]
    message, line, column = _located(text, None, None)
    if line is not None:
        # "...; keeping the last value" followed the position; an included
        # file is named after it.
        if " in " in message and message.rsplit(" in ", 1)[1].startswith(("/", ".")):
            message, file = message.rsplit(" in ", 1)
        return Diagnostic("warning", message, file, line, column, notes=located)
    found = _AT_FILE_LINE.search(text)
    if found is not None:
        return Diagnostic("warning", text[: found.start()], found.group(1), int(found.group(2)))
    return Diagnostic("warning", text, file)


def decode_source(data: bytes) -> str:
    """The text of a file for showing its lines: UTF-8 unless a byte order
    mark says otherwise; undecodable bytes are replaced."""
    for bom, encoding in (
        (codecs.BOM_UTF32_LE, "utf-32"),
        (codecs.BOM_UTF32_BE, "utf-32"),
        (codecs.BOM_UTF8, "utf-8-sig"),
        (codecs.BOM_UTF16_LE, "utf-16"),
        (codecs.BOM_UTF16_BE, "utf-16"),
    ):
        if data.startswith(bom):
            return data.decode(encoding, errors="replace")
    return data.decode("utf-8", errors="replace")


class SourceLines:
    """Lines of the files reports point into, read once each."""

    def __init__(self) -> None:
        self._texts: dict[str, list[str] | None] = {}

    def add(self, name: str, data: bytes) -> None:
        self._texts[name] = decode_source(data).splitlines()

    def line(self, name: str | None, number: int | None) -> str | None:
        if name is None or number is None or number < 1:
            return None
        if name not in self._texts:
            try:
                with open(name, "rb") as f:
                    self.add(name, f.read())
            except OSError:
                self._texts[name] = None
        lines = self._texts[name]
        if lines is None:
            return None
        # A position just past the last line (an error at the end of input)
        # shows an empty line.
        if number == len(lines) + 1:
            return ""
        return lines[number - 1] if number <= len(lines) else None


def shown_path(path: str | None) -> str:
    """A path as a report shows it: relative to the working directory when
    it lies below it, as given otherwise."""
    if path is None:
        return "<unknown>"
    if os.path.isabs(path):
        try:
            relative = os.path.relpath(path)
        except ValueError:
            return path
        if not relative.startswith(".." + os.sep) and relative != "..":
            return relative
    return path


# Longer source lines (minified JSON, say) are shown as a window around the
# column, so that one report does not fill a terminal.
_MAX_SHOWN = 160


def _window(text: str, column: int | None) -> tuple[str, int | None]:
    if len(text) <= _MAX_SHOWN:
        return text, column
    at = (column or 1) - 1
    start = max(0, min(at - _MAX_SHOWN // 2, len(text) - _MAX_SHOWN))
    end = start + _MAX_SHOWN
    shown = ("..." if start else "") + text[start:end] + ("..." if end < len(text) else "")
    if column is not None:
        column = column - start + (3 if start else 0)
    return shown, column


def _quoted_line(number: int, text: str, column: int | None) -> list[str]:
    gutter = f"{number:5d} | "
    text, column = _window(text, column)
    out = [gutter + text]
    if column is not None and column >= 1:
        # Tabs stay tabs so the caret lines up however wide they show.
        lead = "".join("\t" if ch == "\t" else " " for ch in text[: column - 1])
        out.append(" " * (len(gutter) - 2) + "| " + lead + "^")
    return out


def render(diagnostic: Diagnostic, sources: SourceLines) -> str:
    """The lines of one report, ending with a line feed."""
    where = shown_path(diagnostic.file)
    if diagnostic.line is not None:
        where += f":{diagnostic.line}"
        if diagnostic.column is not None:
            where += f":{diagnostic.column}"
    out = [f"{where}: {diagnostic.severity}: {diagnostic.message}"]
    text = sources.line(diagnostic.file, diagnostic.line)
    if text is not None:
        out += _quoted_line(diagnostic.line, text, diagnostic.column)
    for note, line, column in diagnostic.notes:
        if line is None:
            out.append(f"{shown_path(diagnostic.file)}: note: {note}")
            continue
        out.append(f"{shown_path(diagnostic.file)}:{line}:{column}: note: {note}")
        text = sources.line(diagnostic.file, line)
        if text is not None:
            out += _quoted_line(line, text, column)
    for path, line in reversed(diagnostic.chain):
        text = sources.line(path, line)
        column = _directive_column(text)
        at = f"{line}:{column}" if column is not None else f"{line}"
        out.append(f"{shown_path(path)}:{at}: note: included from here")
        if text is not None:
            out += _quoted_line(line, text, column)
    return "\n".join(out) + "\n"


def _directive_column(text: str | None) -> int | None:
    """The column of the include directive on a line of the including file."""
    if text is None:
        return None
    at = text.find("!include")
    return at + 1 if at >= 0 else None
