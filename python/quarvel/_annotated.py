"""Scalars that remember where they came from (annotated loading)."""

import struct

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

# The six positions of a record, packed into one bytes object: line, column,
# end line, end column, offset, end offset. One small object per scalar
# instead of six ints keeps annotated loading fast and lean; the positions are
# unpacked only when read.
_POSITIONS = struct.Struct("<6Q")

# What the extension fills when it builds an instance directly: the packed
# positions first, then the file, the style, the source tag and the source
# target. It reads this from each concrete class's own namespace; a class
# without it (a subclass, say) is created by calling it instead.
_LAYOUT = ("_positions", "__file__", "style", "__source_tag__", "__source_target__")
_TEXTS = _LAYOUT[1:]


def _position(index, name):
    def get(self):
        return _POSITIONS.unpack(self._positions)[index]

    get.__name__ = name
    return property(get, doc=f"The record's {name.strip('_').replace('_', ' ')}.")


class _AnnotatedScalar:
    """Shared behaviour: the location record and the provenance flags.

    Instances are created as ``cls(value, line, column, file, end_line,
    end_column, style, source_tag, source_target, offset, end_offset)``;
    ``style`` is one of "plain", "single", "double", "literal", "folded".
    """

    __slots__ = ()

    __line__ = _position(0, "__line__")
    __column__ = _position(1, "__column__")
    __end_line__ = _position(2, "__end_line__")
    __end_column__ = _position(3, "__end_column__")
    __offset__ = _position(4, "__offset__")
    __end_offset__ = _position(5, "__end_offset__")

    def _arguments(self):
        """The ten record arguments of the constructor, in order."""
        line, column, end_line, end_column, offset, end_offset = _POSITIONS.unpack(self._positions)
        return (line, column, self.__file__, end_line, end_column, self.style,
                self.__source_tag__, self.__source_target__, offset, end_offset)

    def __setattr__(self, name, value):
        if name in _LAYOUT:
            raise AttributeError(f"attribute '{name}' of annotated scalars is read-only")
        object.__setattr__(self, name, value)

    def __delattr__(self, name):
        if name in _LAYOUT:
            raise AttributeError(f"attribute '{name}' of annotated scalars is read-only")
        object.__delattr__(self, name)

    @property
    def is_secret(self):
        """Whether this value was produced by a `!secret` directive."""
        return self.__source_tag__ == "!secret"

    @property
    def is_env_var(self):
        """Whether this value was produced by an `!env_var` directive."""
        return self.__source_tag__ == "!env_var"

    @property
    def is_include(self):
        """Whether this value was produced by any `!include` directive."""
        return self.__source_tag__ in _INCLUDE_TAGS


def _members(base):
    """The constructor, pickling support and repr of one concrete class."""

    def __new__(cls, value, line, column, file, end_line, end_column, style, source_tag,
                source_target, offset, end_offset):
        self = base.__new__(cls, value)
        positions = _POSITIONS.pack(line, column, end_line, end_column, offset, end_offset)
        object.__setattr__(self, "_positions", positions)
        for name, text in zip(_TEXTS, (file, style, source_tag, source_target)):
            object.__setattr__(self, name, text)
        return self

    def __reduce__(self):
        return (type(self), (base(self), *self._arguments()))

    def __repr__(self):
        return base.__repr__(self)

    return {
        "__new__": __new__,
        "__reduce__": __reduce__,
        "__repr__": __repr__,
        "_quarvel_layout": _LAYOUT,
    }


# str and float instances keep the record in slots; int subclasses cannot have
# slots of their own, so there the record lives in the instance dict.


class QuarvelAnnotatedStr(_AnnotatedScalar, str):
    """A `str` carrying the source location of the scalar it was read from."""

    __slots__ = _LAYOUT
    locals().update(_members(str))


class QuarvelAnnotatedInt(_AnnotatedScalar, int):
    """An `int` carrying the source location of the scalar it was read from."""

    locals().update(_members(int))


class QuarvelAnnotatedFloat(_AnnotatedScalar, float):
    """A `float` carrying the source location of the scalar it was read from."""

    __slots__ = _LAYOUT
    locals().update(_members(float))


for _cls in (QuarvelAnnotatedStr, QuarvelAnnotatedInt, QuarvelAnnotatedFloat):
    _cls.__module__ = "quarvel"
del _cls
