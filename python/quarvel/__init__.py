"""quarvel: fast, exact YAML for Python configuration.

``loads`` / ``loads_all`` read YAML 1.2 (or 1.1) into Python objects,
``dumps`` writes YAML, ``to_json`` writes JSON. Behaviour is chosen with the
``OPT_*`` flags, combined with ``|``.
"""

# Importing quarvel stays cheap: the modules below import only what every
# call needs and load the rest (tempfile, re, typing) where it is used.
# Public names are imported by name and listed in a literal __all__, so that
# type checkers see what the package exports. QuarvelAnnotatedDict/List are
# among them: pickle looks them up here, where their type names point.
from _quarvel import (
    OPT_ANNOTATE_NUMBERS,
    OPT_ANNOTATED,
    OPT_DUPLICATE_KEYS_ERROR,
    OPT_DUPLICATE_KEYS_WARN,
    OPT_ENV_VAR,
    OPT_ENV_VAR_NOT_FOUND_WARN,
    OPT_EXPLICIT_END,
    OPT_EXPLICIT_START,
    OPT_FLOW_STYLE,
    OPT_INCLUDE_DIR_RECURSIVE,
    OPT_INCLUDES,
    OPT_INDENT_2,
    OPT_INDENT_4,
    OPT_INDENTLESS_SEQUENCES,
    OPT_NAIVE_UTC,
    OPT_NULL_AS_KEYWORD,
    OPT_NULL_AS_TILDE,
    OPT_OMIT_MICROSECONDS,
    OPT_PASSTHROUGH_DATACLASS,
    OPT_PASSTHROUGH_DATETIME,
    OPT_PASSTHROUGH_TAG,
    OPT_PYYAML_COMPAT,
    OPT_REJECT_COMPLEX_KEYS,
    OPT_ROUND_TRIP,
    OPT_SCHEMA_FORMAT,
    OPT_SECRET_NOT_FOUND_WARN,
    OPT_SECRETS,
    OPT_SERIALIZE_NUMPY,
    OPT_SINGLE_QUOTES,
    OPT_SORT_KEYS,
    OPT_UPGRADE_1_1,
    OPT_UTC_Z,
    OPT_YAML_1_1,
    OPT_YAML_1_1_WARN,
    QuarvelAnnotatedDict,
    QuarvelAnnotatedList,
    QuarvelDocument,
    QuarvelDocumentView,
    QuarvelNode,
    QuarvelTag,
    dump_includes,
    dump_includes_map,
    dumps,
    loads,
    loads_all,
    schema_ref,
    to_json,
    yaml_version,
)

from . import exceptions
from ._annotated import QuarvelAnnotatedFloat, QuarvelAnnotatedInt, QuarvelAnnotatedStr
from ._files import dump, load, load_all
from .exceptions import (
    QuarvelCircularIncludeError,
    QuarvelComplexKeyError,
    QuarvelDecodeError,
    QuarvelDuplicateKeyError,
    QuarvelEncodeError,
    QuarvelEnvVarError,
    QuarvelError,
    QuarvelIncludeConfinementError,
    QuarvelIncludeDepthError,
    QuarvelIncludeError,
    QuarvelIncludeNotFoundError,
    QuarvelParseError,
    QuarvelSchemaError,
    QuarvelSecretNotFoundError,
    QuarvelUnserializableError,
    SchemaViolation,
)

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    _TagTable = dict[Any, Any]
else:
    _TagTable = dict


class Tags(_TagTable):
    """A table of tag callbacks: ``Tags({"!env": handler})``.

    For ``loads`` the keys are tag texts and each callable receives the
    converted value; for ``dumps`` the keys are types and each callable
    returns a ``QuarvelTag`` or a ``(tag, value)`` tuple.
    """


__all__ = [
    "loads",
    "loads_all",
    "dumps",
    "to_json",
    "schema_ref",
    "yaml_version",
    "dump_includes",
    "dump_includes_map",
    "OPT_YAML_1_1",
    "OPT_PYYAML_COMPAT",
    "OPT_UPGRADE_1_1",
    "OPT_YAML_1_1_WARN",
    "OPT_ROUND_TRIP",
    "OPT_ANNOTATED",
    "OPT_ANNOTATE_NUMBERS",
    "OPT_INCLUDES",
    "OPT_INCLUDE_DIR_RECURSIVE",
    "OPT_SECRETS",
    "OPT_ENV_VAR",
    "OPT_SECRET_NOT_FOUND_WARN",
    "OPT_ENV_VAR_NOT_FOUND_WARN",
    "OPT_PASSTHROUGH_TAG",
    "OPT_DUPLICATE_KEYS_ERROR",
    "OPT_DUPLICATE_KEYS_WARN",
    "OPT_REJECT_COMPLEX_KEYS",
    "OPT_INDENT_2",
    "OPT_INDENT_4",
    "OPT_INDENTLESS_SEQUENCES",
    "OPT_FLOW_STYLE",
    "OPT_SORT_KEYS",
    "OPT_EXPLICIT_START",
    "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES",
    "OPT_NULL_AS_KEYWORD",
    "OPT_NULL_AS_TILDE",
    "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME",
    "OPT_PASSTHROUGH_DATACLASS",
    "OPT_OMIT_MICROSECONDS",
    "OPT_NAIVE_UTC",
    "OPT_UTC_Z",
    "OPT_SCHEMA_FORMAT",
    "QuarvelDocument",
    "QuarvelDocumentView",
    "QuarvelNode",
    "QuarvelTag",
    "QuarvelAnnotatedDict",
    "QuarvelAnnotatedList",
    "QuarvelAnnotatedStr",
    "QuarvelAnnotatedInt",
    "QuarvelAnnotatedFloat",
    "Tags",
    "load",
    "load_all",
    "dump",
    "exceptions",
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

__version__ = "0.1.0"
