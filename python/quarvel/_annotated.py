"""Scalars that remember where they came from (annotated loading)."""

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

_FIELDS = (
    "__line__",
    "__column__",
    "__file__",
    "__end_line__",
    "__end_column__",
    "style",
    "__source_tag__",
    "__source_target__",
    "__offset__",
    "__end_offset__",
)


class _AnnotatedScalar:
    """Shared behaviour: the location record and the provenance flags.

    Instances are created as ``cls(value, line, column, file, end_line,
    end_column, style, source_tag, source_target, offset, end_offset)``;
    ``style`` is one of "plain", "single", "double", "literal", "folded".
    """

    __slots__ = ()

    def _set_record(self, record):
        for name, value in zip(_FIELDS, record):
            object.__setattr__(self, name, value)

    def _record(self):
        return tuple(getattr(self, name) for name in _FIELDS)

    def __setattr__(self, name, value):
        if name in _FIELDS:
            raise AttributeError(f"attribute '{name}' of annotated scalars is read-only")
        object.__setattr__(self, name, value)

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


def _make(base):
    def __new__(cls, value, *record):
        if len(record) != len(_FIELDS):
            raise TypeError(
                f"{cls.__name__}() takes 11 positional arguments ({len(record) + 1} given)"
            )
        self = base.__new__(cls, value)
        self._set_record(record)
        return self

    def __reduce__(self):
        return (type(self), (base(self), *self._record()))

    def __repr__(self):
        return base.__repr__(self)

    return {"__new__": __new__, "__reduce__": __reduce__, "__repr__": __repr__}


class QuarvelAnnotatedStr(_AnnotatedScalar, str):
    """A `str` carrying the source location of the scalar it was read from."""

    locals().update(_make(str))


class QuarvelAnnotatedInt(_AnnotatedScalar, int):
    """An `int` carrying the source location of the scalar it was read from."""

    locals().update(_make(int))


class QuarvelAnnotatedFloat(_AnnotatedScalar, float):
    """A `float` carrying the source location of the scalar it was read from."""

    locals().update(_make(float))


for _cls in (QuarvelAnnotatedStr, QuarvelAnnotatedInt, QuarvelAnnotatedFloat):
    _cls.__module__ = "quarvel"
del _cls
