"""Paths into loaded documents for the command line: ``server.ports[0]``.

A path is a chain of steps. ``name`` or ``.name`` steps into a mapping by
key; ``[2]`` steps into a sequence by position (or into a mapping whose key
is the number 2); ``["a.b"]`` or ``['a.b']`` is a key that holds dots or
brackets. A bare step of digits into a sequence is a position too, so
``ports.0`` is ``ports[0]``. The empty path and ``.`` mean the whole document.
"""

from __future__ import annotations

import _quarvel

# typing is only read by type checkers: importing it would slow the command
# line's start.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any


class PathError(ValueError):
    """A path that cannot be read, or that leads nowhere in the document."""


class Step:
    """One step of a path: a key's text (str) or a position in brackets (int)."""

    __slots__ = ("key",)

    def __init__(self, key: str | int) -> None:
        self.key = key

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Step) and type(self.key) is type(other.key) and self.key == other.key

    def __hash__(self) -> int:
        return hash((type(self.key), self.key))

    def __repr__(self) -> str:
        return f"Step({self.key!r})"

    def shown(self, first: bool) -> str:
        if isinstance(self.key, int):
            return f"[{self.key}]"
        if self.key and all(ch not in self.key for ch in ".[]\"' "):
            return self.key if first else "." + self.key
        escaped = self.key.replace("\\", "\\\\").replace('"', '\\"')
        return f'["{escaped}"]'


def show(steps: list[Step]) -> str:
    return "".join(s.shown(i == 0) for i, s in enumerate(steps)) or "."


def _quoted(path: str, i: int) -> tuple[str, int]:
    """The key of a quoted step starting at ``path[i]``; returns it and the
    position after the closing quote."""
    quote = path[i]
    out = []
    i += 1
    while i < len(path):
        ch = path[i]
        if ch == "\\" and i + 1 < len(path):
            out.append(path[i + 1])
            i += 2
            continue
        if ch == quote:
            return "".join(out), i + 1
        out.append(ch)
        i += 1
    raise PathError(f"unclosed quote in path {path!r}")


def parse_path(path: str) -> list[Step]:
    if path in ("", "."):
        return []
    steps: list[Step] = []
    i = 0
    n = len(path)
    while i < n:
        ch = path[i]
        if ch == "[":
            if i + 1 < n and path[i + 1] in "\"'":
                key, i = _quoted(path, i + 1)
                steps.append(Step(key))
            else:
                end = path.find("]", i)
                if end < 0:
                    raise PathError(f"unclosed '[' in path {path!r}")
                inner = path[i + 1 : end].strip()
                if not inner.isdigit():
                    raise PathError(f"'[{inner}]' in path {path!r}: brackets hold a position or a quoted key")
                steps.append(Step(int(inner)))
                i = end
            if i >= n or path[i] != "]":
                raise PathError(f"expected ']' in path {path!r}")
            i += 1
            continue
        if ch == ".":
            if i == 0 or i + 1 == n or path[i + 1] in ".":
                raise PathError(f"empty step in path {path!r}")
            i += 1
            if path[i] == "[":
                continue
        start = i
        while i < n and path[i] not in ".[":
            i += 1
        if start == i:
            raise PathError(f"empty step in path {path!r}")
        steps.append(Step(path[start:i]))
    return steps


def _scalar_key(text: str) -> Any:
    """What a bare key step reads as in YAML: "80" is 80, "true" is True."""
    try:
        return _quarvel.loads(text)
    except Exception:
        return text


def _step_plain(value: Any, step: Step) -> Any:
    key = step.key
    if isinstance(value, dict):
        if key in value:
            return value[key]
        other = _scalar_key(key) if isinstance(key, str) else str(key)
        try:
            return value[other]
        except (KeyError, TypeError):
            raise LookupError from None
    if isinstance(value, list):
        if isinstance(key, str) and key.isdigit():
            key = int(key)
        if isinstance(key, int) and key < len(value):
            return value[key]
    raise LookupError


def _is_mapping_view(view: Any) -> bool:
    try:
        view.keys()
    except TypeError:
        return False
    return True


def view_key(view: Any, step: Step) -> str | int:
    """The key that item access on a round-trip view takes for a step: a
    mapping's keys are matched by their text, a sequence's by position."""
    key = step.key
    if _is_mapping_view(view):
        return str(key)
    if isinstance(key, str) and key.isdigit():
        return int(key)
    return key


def _step_view(view: Any, step: Step) -> Any:
    if not isinstance(view, (_quarvel.QuarvelDocument, _quarvel.QuarvelDocumentView)):
        raise LookupError
    try:
        return view[view_key(view, step)]
    except (KeyError, IndexError, TypeError):
        raise LookupError from None


def lookup(value: Any, steps: list[Step], path: str, *, views: bool = False) -> Any:
    """The value at ``steps`` below ``value``; ``views`` walks a round-trip
    document instead of plain Python data."""
    for i, step in enumerate(steps):
        try:
            value = _step_view(value, step) if views else _step_plain(value, step)
        except LookupError:
            where = show(steps[: i + 1])
            raise PathError(f"no value at {where}" + (f" (in {path})" if where != path else "")) from None
    return value
