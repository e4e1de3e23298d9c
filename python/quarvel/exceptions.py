"""Exceptions raised by quarvel.

Every exception derives from :class:`QuarvelError`, so ``except QuarvelError``
catches anything the library raises about the data it was given. Exceptions
raised by callables you pass in (``default``, ``tag_handler``, ...) pass
through unchanged.

Position attributes (``file``, ``line``, ``column``, ``include_stack``,
``schema_path``) are set on the instance by the library where they apply;
lines and columns are 1-based.
"""

from collections import namedtuple

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
    """


class QuarvelIncludeError(QuarvelError):
    """An include directive failed."""


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


SchemaViolation = namedtuple("SchemaViolation", ["message", "path", "line", "column"])
SchemaViolation.__doc__ = """One violation of a schema, as listed in ``QuarvelSchemaError.errors``.

``path`` locates the offending node ("$", "$.server.port", "$.items[2]");
``line`` and ``column`` are 1-based.
"""
