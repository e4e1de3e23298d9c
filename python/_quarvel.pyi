from typing import Any, Callable
from os import PathLike

_Data = str | bytes | bytearray | memoryview
_Path = str | PathLike[str]

def loads(
    data: _Data,
    /,
    *,
    option: int | None = None,
    include_dir: _Path | None = None,
    schema: Any = None,
    schema_resolver: Callable[[str], Any] | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
    root_path: _Path | None = None,
    on_missing_secret: Callable[..., Any] | None = None,
    on_missing_env_var: Callable[..., Any] | None = None,
) -> Any: ...
def loads_all(
    data: _Data,
    /,
    *,
    option: int | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
) -> list[Any]: ...
def dumps(
    obj: Any,
    /,
    *,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
    null_style: str | None = None,
    tags: dict[type, Callable[[Any], Any]] | None = None,
    width: int | None = None,
) -> bytes: ...
def to_json(obj: Any, /, *, default: Callable[[Any], Any] | None = None, option: int | None = None) -> bytes: ...
def schema_ref(data: _Data, /) -> str | None: ...
def yaml_version(data: _Data, /) -> str | None: ...
def dump_includes(doc: QuarvelDocument, /, *, include_dir: _Path | None = None) -> None: ...
def dump_includes_map(doc: QuarvelDocument, /) -> dict[str, bytes]: ...

OPT_YAML_1_1: int
OPT_PYYAML_COMPAT: int
OPT_UPGRADE_1_1: int
OPT_YAML_1_1_WARN: int
OPT_ROUND_TRIP: int
OPT_ANNOTATED: int
OPT_ANNOTATE_NUMBERS: int
OPT_INCLUDES: int
OPT_INCLUDE_DIR_RECURSIVE: int
OPT_SECRETS: int
OPT_ENV_VAR: int
OPT_SECRET_NOT_FOUND_WARN: int
OPT_ENV_VAR_NOT_FOUND_WARN: int
OPT_PASSTHROUGH_TAG: int
OPT_DUPLICATE_KEYS_ERROR: int
OPT_DUPLICATE_KEYS_WARN: int
OPT_REJECT_COMPLEX_KEYS: int
OPT_INDENT_2: int
OPT_INDENT_4: int
OPT_INDENTLESS_SEQUENCES: int
OPT_FLOW_STYLE: int
OPT_SORT_KEYS: int
OPT_EXPLICIT_START: int
OPT_EXPLICIT_END: int
OPT_SINGLE_QUOTES: int
OPT_NULL_AS_KEYWORD: int
OPT_NULL_AS_TILDE: int
OPT_SERIALIZE_NUMPY: int
OPT_PASSTHROUGH_DATETIME: int
OPT_PASSTHROUGH_DATACLASS: int
OPT_OMIT_MICROSECONDS: int
OPT_NAIVE_UTC: int
OPT_UTC_Z: int

class QuarvelDocument: ...
class QuarvelDocumentView: ...
class QuarvelNode: ...

class QuarvelTag:
    def __init__(self, tag: str, value: Any) -> None: ...
    @property
    def tag(self) -> str: ...
    @property
    def value(self) -> Any: ...

class _SourceLocation:
    @property
    def __line__(self) -> int: ...
    @property
    def __column__(self) -> int: ...
    @property
    def __file__(self) -> str | None: ...
    @property
    def __end_line__(self) -> int: ...
    @property
    def __end_column__(self) -> int: ...
    @property
    def __offset__(self) -> int: ...
    @property
    def __end_offset__(self) -> int: ...
    @property
    def __source_tag__(self) -> str | None: ...
    @property
    def __source_target__(self) -> str | None: ...
    @property
    def is_secret(self) -> bool: ...
    @property
    def is_env_var(self) -> bool: ...
    @property
    def is_include(self) -> bool: ...
    def __setstate__(
        self, state: tuple[int, int, str | None, int, int, str | None, str | None, int, int], /
    ) -> None: ...

class QuarvelAnnotatedDict(_SourceLocation, dict[Any, Any]): ...
class QuarvelAnnotatedList(_SourceLocation, list[Any]): ...

__all__: list[str]
