"""Exceptions raised by quarvel.

Every exception derives from :class:`QuarvelError`, so ``except QuarvelError``
catches anything the library raises about the data it was given. Exceptions
raised by callables you pass in (``default``, ``tag_handler``, ...) pass
through unchanged.

Position attributes (``file``, ``line``, ``column``, ``include_stack``,
``schema_path``, ``errors``) are set on the instance by the library where
they apply, and are absent elsewhere; lines and columns are 1-based. The
classes declare them, with their types, for type checkers.
"""

from __future__ import annotations

from collections import namedtuple

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import NamedTuple

__all__ = [
    "QuarvelError",
    "QuarvelParseError",
    "QuarvelDecodeError",
    "QuarvelEncodeError",
    "QuarvelEnvVarError",
    "QuarvelSchemaError",
    "QuarvelIncludeError",
    "QuarvelComplexKeyError",
    "QuarvelDuplicateKeyError",
    "QuarvelIncludeDepthError",
    "QuarvelSecretNotFoundError",
    "QuarvelUnserializableError",
    "QuarvelCircularIncludeError",
    "QuarvelIncludeNotFoundError",
    "QuarvelIncludeConfinementError",
    "SchemaViolation",
]


class QuarvelError(Exception):
    """Base class of every error quarvel reports."""

    # Where the fault is, set on the instance where it is known; None
    # otherwise, so that every error can be asked.
    file: str | None = None
    line: int | None = None
    column: int | None = None


class QuarvelParseError(QuarvelError, ValueError):
    """The text is not valid YAML (syntax, structure or limits)."""


class QuarvelDuplicateKeyError(QuarvelParseError):
    """A mapping repeats a key while duplicate keys are errors."""


class QuarvelComplexKeyError(QuarvelParseError):
    """A mapping key is a sequence or mapping while complex keys are rejected."""


class QuarvelDecodeError(QuarvelError, ValueError):
    """A loaded document cannot be turned into Python objects."""


class QuarvelEncodeError(QuarvelError, TypeError):
    """An object graph cannot be written as YAML or JSON."""


class QuarvelUnserializableError(QuarvelEncodeError):
    """An object of an unsupported type was given to dumps or to_json."""


class QuarvelSchemaError(QuarvelError, ValueError):
    """A document does not satisfy its schema.

    The message, ``schema_path``, ``line`` and ``column`` describe the first
    violation; ``errors`` lists every violation found, as
    :class:`SchemaViolation` records, in the order found.

    A schema that cannot be used (a pattern that does not compile, a
    reference that names nothing, another document that no
    ``schema_resolver`` provides) raises this error before any document node
    is checked: then ``schema_path`` is empty, ``line`` and ``column`` are
    None and ``errors`` is empty.
    """

    schema_path: str
    errors: list[SchemaViolation]


class QuarvelIncludeError(QuarvelError):
    """An include directive failed.

    ``include_stack`` lists the ``(file, line)`` of the include directives
    that led to ``file``, outermost first.
    """

    include_stack: list[tuple[str, int]]


class QuarvelIncludeNotFoundError(QuarvelIncludeError):
    """An included file or directory does not exist."""


class QuarvelCircularIncludeError(QuarvelIncludeError):
    """Files include each other in a cycle."""


class QuarvelIncludeDepthError(QuarvelIncludeError):
    """Includes are nested too deeply."""


class QuarvelIncludeConfinementError(QuarvelIncludeError):
    """An include path leads outside the include directory."""


class QuarvelSecretNotFoundError(QuarvelError):
    """A !secret names a secret that no secrets.yaml defines."""


class QuarvelEnvVarError(QuarvelError):
    """An !env_var names an undefined environment variable and has no default."""


if TYPE_CHECKING:

    class SchemaViolation(NamedTuple):
        message: str
        path: str
        line: int
        column: int
        schema_path: str

else:
    # collections.namedtuple makes the same class without importing typing.
    SchemaViolation = namedtuple(  # noqa: PYI024
        "SchemaViolation", ["message", "path", "line", "column", "schema_path"]
    )
SchemaViolation.__doc__ = """One violation of a schema, as listed in ``QuarvelSchemaError.errors``.

``path`` locates the offending node ("$", "$.server.port", "$.items[2]");
``line`` and ``column`` are 1-based. ``schema_path`` is the JSON pointer of
the failing keyword in the schema ("#/properties/port/type"); through a
``$ref`` it continues from the place referred to ("#/$defs/port/minimum").
"""
