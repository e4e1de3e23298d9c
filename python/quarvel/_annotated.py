"""Scalars that remember where they came from (annotated loading)."""

from __future__ import annotations

import struct

import _quarvel

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Self

__all__ = ["QuarvelAnnotatedStr", "QuarvelAnnotatedInt", "QuarvelAnnotatedFloat"]

_INCLUDE_TAGS = frozenset(
    {
        "!include",
        "!include_dir_list",
        "!include_dir_named",
        "!include_dir_merge_list",
        "!include_dir_merge_named",
    }
)

# The int class's record, packed: int subclasses cannot have fields of their
# own, so its six positions (line, column, end line, end column, offset, end
# offset) go into one bytes object in the instance dict, unpacked only when
# read. The str and float classes are the extension's types, with the record
# stored inline.
_POSITIONS = struct.Struct("<6Q")

# What the extension fills when it builds an int instance directly: the
# packed positions, then the file, the style, the source tag and the source
# target. It reads the names (as `_quarvel_layout`) from the class's own
# namespace; a class without them (a subclass, say) is created by calling it.
_LAYOUT = ("_positions", "__file__", "style", "__source_tag__", "__source_target__")
_TEXTS = _LAYOUT[1:]


def _position(index: int, name: str, doc: str) -> property:
    def get(self: _AnnotatedScalar) -> int:
        value: int = _POSITIONS.unpack(self._positions)[index]
        return value

    get.__name__ = name
    return property(get, doc=doc)


class _AnnotatedScalar:
    """Shared behaviour: the location record and the provenance flags.

    Instances are created as ``cls(value, line, column, file, end_line,
    end_column, style, source_tag, source_target, offset, end_offset)``;
    ``style`` is one of "plain", "single", "double", "literal", "folded".
    """

    __slots__ = ()

    if TYPE_CHECKING:
        # The constructor and the record as type checkers see them. The str
        # and float classes are the extension's types, with the record inline;
        # the int class packs its positions in `_positions`.
        _positions: bytes

        def __new__(
            cls,
            value: str | float,
            line: int,
            column: int,
            file: str | None,
            end_line: int,
            end_column: int,
            style: str,
            source_tag: str | None,
            source_target: str | None,
            offset: int,
            end_offset: int,
        ) -> Self: ...
        @property
        def __line__(self) -> int: ...
        @property
        def __column__(self) -> int: ...
        @property
        def __end_line__(self) -> int: ...
        @property
        def __end_column__(self) -> int: ...
        @property
        def __offset__(self) -> int: ...
        @property
        def __end_offset__(self) -> int: ...
        @property
        def __file__(self) -> str | None: ...
        @property
        def style(self) -> str: ...
        @property
        def __source_tag__(self) -> str | None: ...
        @property
        def __source_target__(self) -> str | None: ...

    def _arguments(self) -> tuple[int, int, str | None, int, int, str, str | None, str | None, int, int]:
        """The ten record arguments of the constructor, in order."""
        return (
            self.__line__,
            self.__column__,
            self.__file__,
            self.__end_line__,
            self.__end_column__,
            self.style,
            self.__source_tag__,
            self.__source_target__,
            self.__offset__,
            self.__end_offset__,
        )

    def __setattr__(self, name: str, value: object) -> None:
        if name in _LAYOUT:
            raise AttributeError(f"attribute '{name}' of annotated scalars is read-only")
        object.__setattr__(self, name, value)

    def __delattr__(self, name: str) -> None:
        if name in _LAYOUT:
            raise AttributeError(f"attribute '{name}' of annotated scalars is read-only")
        object.__delattr__(self, name)

    @property
    def is_secret(self) -> bool:
        """Whether this value was produced by a `!secret` directive."""
        return self.__source_tag__ == "!secret"

    @property
    def is_env_var(self) -> bool:
        """Whether this value was produced by an `!env_var` directive."""
        return self.__source_tag__ == "!env_var"

    @property
    def is_include(self) -> bool:
        """Whether this value was produced by any `!include` directive."""
        return self.__source_tag__ in _INCLUDE_TAGS


def _behaviour(base):
    """Pickling support and repr of one concrete class."""

    def __reduce__(self):
        return (type(self), (base(self), *self._arguments()))

    def __repr__(self):
        return base.__repr__(self)

    return {"__slots__": (), "__reduce__": __reduce__, "__repr__": __repr__}


def _packed_int_members():
    """The int class's constructor and position properties: int subclasses
    cannot have fields of their own, so the record lives in the instance dict,
    its positions packed into one bytes object."""

    def __new__(
        cls,
        value,
        line,
        column,
        file,
        end_line,
        end_column,
        style,
        source_tag,
        source_target,
        offset,
        end_offset,
    ):
        self = int.__new__(cls, value)
        positions = _POSITIONS.pack(line, column, end_line, end_column, offset, end_offset)
        object.__setattr__(self, "_positions", positions)
        for name, text in zip(_TEXTS, (file, style, source_tag, source_target), strict=True):
            object.__setattr__(self, name, text)
        return self

    members = _behaviour(int)
    del members["__slots__"]
    members.update(
        __new__=__new__,
        _quarvel_layout=_LAYOUT,
        __line__=_position(0, "__line__", "The 1-based line where the scalar starts."),
        __column__=_position(1, "__column__", "The 1-based column where the scalar starts."),
        __end_line__=_position(2, "__end_line__", "The 1-based line where the scalar ends."),
        __end_column__=_position(3, "__end_column__", "The 1-based column just past the scalar."),
        __offset__=_position(4, "__offset__", "The 0-based byte offset where the scalar starts."),
        __end_offset__=_position(5, "__end_offset__", "The 0-based byte offset just past it."),
    )
    return members


_STR_DOC = "A `str` carrying the source location of the scalar it was read from."
_FLOAT_DOC = "A `float` carrying the source location of the scalar it was read from."

if TYPE_CHECKING:

    class QuarvelAnnotatedStr(_AnnotatedScalar, str):
        """A `str` carrying the source location of the scalar it was read from."""

    class QuarvelAnnotatedFloat(_AnnotatedScalar, float):
        """A `float` carrying the source location of the scalar it was read from."""

else:
    # The extension's own types: the record is stored inline, and a loaded str
    # is one allocation. Their Python behaviour comes from a slot-less mixin.
    QuarvelAnnotatedStr = _quarvel._annotated_scalar_class(
        "QuarvelAnnotatedStr", type("_AnnotatedStrBehaviour", (_AnnotatedScalar,), _behaviour(str)), _STR_DOC
    )
    QuarvelAnnotatedFloat = _quarvel._annotated_scalar_class(
        "QuarvelAnnotatedFloat",
        type("_AnnotatedFloatBehaviour", (_AnnotatedScalar,), _behaviour(float)),
        _FLOAT_DOC,
    )


class QuarvelAnnotatedInt(_AnnotatedScalar, int):
    """An `int` carrying the source location of the scalar it was read from.

    It has the attributes of `QuarvelAnnotatedStr`; `__file__`, `style`,
    `__source_tag__` and `__source_target__` are kept in the instance dict,
    since `int` subclasses cannot have slots.
    """

    if not TYPE_CHECKING:
        locals().update(_packed_int_members())


QuarvelAnnotatedInt.__module__ = "quarvel"
