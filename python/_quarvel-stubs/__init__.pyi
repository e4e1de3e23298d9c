from collections.abc import Callable, Iterable
from os import PathLike
from typing import Any, Final, Literal, Self, SupportsIndex, TypeAlias, final, overload

from typing_extensions import disjoint_base

_Data: TypeAlias = str | bytes | bytearray | memoryview
_Path: TypeAlias = str | PathLike[str]

# `option` is an int of OR-ed flags, so what a call returns can follow it only
# where the flag is passed alone: `option=OPT_ROUND_TRIP` (typed as its value,
# 16) gives a QuarvelDocument. Any other option, OPT_ROUND_TRIP combined with
# other flags included, gives Any: plain values or a document.
@overload
def loads(
    data: _Data,
    /,
    *,
    option: Literal[16],
    include_dir: _Path | None = None,
    schema: Any = None,
    schema_resolver: Callable[[str], Any] | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
    root_path: _Path | None = None,
    on_missing_secret: Callable[..., Any] | None = None,
    on_missing_env_var: Callable[..., Any] | None = None,
) -> QuarvelDocument:
    """Read the first YAML document of `data` as an editable `QuarvelDocument`.

    This is `loads` with `option=OPT_ROUND_TRIP` alone; see the general form
    for the other arguments and the exceptions.
    """

@overload
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
) -> Any:
    """Read the first YAML document of `data` into Python objects.

    `data` is str or bytes-like, UTF-8 unless a byte-order mark says UTF-16 or
    UTF-32.
    Mappings become dict, sequences list, scalars str, int, float, bool or
    None by the YAML 1.2 core schema. An empty stream gives None.

    Args:
        option: `OPT_*` flags combined with `|`. `OPT_ROUND_TRIP` returns a
            `QuarvelDocument` instead of plain values; `OPT_ANNOTATED` returns
            containers and strings that carry their source position;
            `OPT_INCLUDES`, `OPT_SECRETS` and `OPT_ENV_VAR` resolve the
            configuration directives.
        include_dir: The directory that directives are confined to; nothing
            outside it is read. Defaults to the current directory.
        schema: A JSON Schema (draft 7 or 2020-12) as a dict, checked
            after directives are resolved, or "auto" to use the schema named
            by a leading `# yaml-language-server: $schema=...` comment.
        schema_resolver: With schema="auto", called with the reference and
            returns the schema; a None result skips the check. With either
            form of `schema`, also called with the URI of each other
            document the schema's references name, returning that schema.
        tag_handler: Called as `tag_handler(tag, value)` for tags that `tags`
            does not name; its result replaces the value.
        tags: Maps tag texts such as "!point" to callables that receive the
            value and return its replacement. A tagged scalar is passed as
            its string, a collection converted as usual.
        root_path: The file name of `data`, used in positions, errors and
            `__file__`; its directives resolve relative to its folder.
            Without it, `data` counts as `<root>` inside `include_dir`.
        on_missing_secret: Called as `(name, file, line)` for an undefined
            `!secret`, which then reads as None instead of raising.
        on_missing_env_var: Called as `(name, file, line)` for an unset
            `!env_var` without default, which then reads as None.

    Returns:
        The first document, or a `QuarvelDocument` with `OPT_ROUND_TRIP`.

    Raises:
        QuarvelParseError: The text is not valid YAML or exceeds a limit
            (also QuarvelDuplicateKeyError, QuarvelComplexKeyError).
        QuarvelDecodeError: The document has no Python form.
        QuarvelSchemaError: The document does not satisfy `schema`, or the
            schema cannot be used (a pattern that does not compile, a
            reference that names nothing).
        QuarvelIncludeError: A directive failed (and its subclasses).
        QuarvelSecretNotFoundError: A `!secret` is undefined.
        QuarvelEnvVarError: An `!env_var` is unset and has no default.
        TypeError: `data` or an argument has the wrong type.
        ValueError: `data` is not valid UTF-8/16/32, or schema="auto" is
            given without `schema_resolver`.

    Exceptions raised by the callables pass through unchanged.
    """

def loads_all(
    data: _Data,
    /,
    *,
    option: int | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
) -> list[Any]:
    """Read every YAML document of `data` into a list of Python objects.

    Values are converted as by `loads`; an empty stream gives []. `option`,
    `tag_handler` and `tags` work as for `loads`.

    Raises:
        QuarvelParseError: Any document is invalid; nothing is returned.
        QuarvelDecodeError: A document has no Python form.
        ValueError: `option` asks for directives (`OPT_INCLUDES`,
            `OPT_SECRETS`, `OPT_ENV_VAR`) or `OPT_ROUND_TRIP`, which only
            `loads` supports; or `data` cannot be decoded.
        TypeError: `data` or an argument has the wrong type.
    """

def dumps(
    obj: Any,
    /,
    *,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
    null_style: str | None = None,
    tags: dict[type[Any], Callable[[Any], Any]] | None = None,
    width: int | None = None,
) -> bytes:
    """Write `obj` as a YAML document and return it as UTF-8 bytes.

    Writes dict, list, tuple, set, frozenset, str, int, float, bool, None,
    UTF-8 bytes, dataclasses, enums, UUID, Decimal, path-like objects,
    datetime/date/time and `QuarvelTag`. Strings that would read back as
    something else are quoted. A `QuarvelDocument` is written exactly as
    its `to_yaml()` writes it, whatever the options.

    Args:
        default: Called with each object of an unsupported type; its result
            is written instead.
        option: The writer's `OPT_*` flags (indentation, flow style, sorted
            keys, document markers, quoting, null spelling, datetimes,
            numpy); other flags are ignored.
        null_style: "empty" (the default), "null" or "~"; overrides the
            `OPT_NULL_AS_*` flags.
        tags: Maps types to callables returning a `QuarvelTag` or a
            `(tag, value)` pair, written as a tagged node.
        width: The column at which long strings are folded; None or 0 never
            folds.

    Raises:
        QuarvelUnserializableError: An object has no YAML form and `default`
            gave none.
        QuarvelEncodeError: The data nests too deeply (or refers to itself),
            bytes are not UTF-8, or a `tags` callable returned something else.
        ValueError: `null_style` is not one of the three spellings.
        TypeError: An argument has the wrong type.
        OverflowError: `option` or `width` is negative.
    """

def to_json(obj: Any, /, *, default: Callable[[Any], Any] | None = None, option: int | None = None) -> bytes:
    """Write `obj` as compact JSON and return it as UTF-8 bytes.

    Accepts the types `dumps` writes, plus `QuarvelDocument`, its views and
    annotated values; a `QuarvelTag` is written as its value. int, float,
    bool and None keys become strings; NaN and infinities become null.

    Args:
        default: Called with each object of an unsupported type; its result
            is written instead.
        option: `OPT_INDENT_2`/`OPT_INDENT_4` pretty-print, `OPT_SORT_KEYS`
            sorts keys; the datetime, dataclass and numpy flags apply as for
            `dumps`.

    Raises:
        QuarvelUnserializableError: An object has no JSON form.
        QuarvelEncodeError: A key is a collection, or the data nests too
            deeply.
    """

def schema_ref(data: _Data, /) -> str | None:
    """Return the schema named by a leading `# yaml-language-server: $schema=...` comment.

    Only comments before the first content count; the rest of the text is
    not parsed. Returns None when there is no such comment.

    Raises:
        TypeError: `data` is not str or a bytes-like object.
        ValueError: `data` cannot be decoded.
    """

def yaml_version(data: _Data, /) -> str | None:
    """Return the version of the first document's `%YAML` directive, as written.

    For example "1.1" or "1.2"; None when the first document has no valid
    directive. The rest of the text is not parsed.

    Raises:
        TypeError: `data` is not str or a bytes-like object.
        ValueError: `data` cannot be decoded.
    """

def dump_includes(doc: QuarvelDocument, /, *, include_dir: _Path | None = None) -> None:
    """Write the current text of every file included by `doc` to that file.

    `doc` must have been loaded with `OPT_ROUND_TRIP | OPT_INCLUDES`. The
    including file itself is not written (use `QuarvelDocument.save`).
    `include_dir` is accepted for symmetry with `loads` and does not change
    where files go.

    Raises:
        TypeError: `doc` is not a QuarvelDocument.
        ValueError: `doc` was not loaded with `OPT_INCLUDES`.
        QuarvelIncludeError: A file included twice has different edits, or
            entries were added to a collection merged from a directory.
        OSError: A file cannot be written.
    """

def dump_includes_map(doc: QuarvelDocument, /) -> dict[str, bytes]:
    """Return the current text of every file included by `doc`, without writing.

    The result maps each included file's path to its YAML bytes. `doc` must
    have been loaded with `OPT_ROUND_TRIP | OPT_INCLUDES`.

    Raises:
        TypeError: `doc` is not a QuarvelDocument.
        ValueError: `doc` was not loaded with `OPT_INCLUDES`.
        QuarvelIncludeError: A file included twice has different edits, or
            entries were added to a collection merged from a directory.
    """

def _read_confined(root: _Path | bytes, name: _Path | bytes, max_bytes: int, /) -> bytes:
    """Read the regular file `name` beneath the directory `root` as includes are read.

    Private: the schema file reader of `quarvel.schema_file_resolver`.

    Raises:
        QuarvelIncludeConfinementError: `name` is absolute, leads out of
            `root` (through ".." or a symbolic link), holds a control
            character, is no regular file, or is larger than `max_bytes`.
        QuarvelIncludeNotFoundError: The file does not exist or cannot be read.
    """

def _write_confined(root: _Path | bytes, name: _Path | bytes, data: bytes, /) -> None:
    """Replace the file `name` beneath the directory `root` with `data`, atomically.

    Private: write-back of a file to where it was loaded from. No component
    of `name`, the last included, may be a symbolic link.

    Raises:
        QuarvelIncludeConfinementError: The write would follow a link or
            leave `root`; nothing was written.
        OSError: The file could not be written.
    """

def _annotated_scalar_class(name: str, mixin: type, doc: str, /) -> type:
    """The extension's type for the annotated scalar class `name`.

    Private: the package's QuarvelAnnotatedStr and QuarvelAnnotatedFloat,
    created once per process with `mixin` as their second base.
    """

# Option flags, one bit each, combined with `|` and passed as `option=`. Each
# is declared with its value, so `OPT_ROUND_TRIP` alone selects the overload
# of `loads` that returns a document.

# Reading rules (loads, loads_all).
OPT_YAML_1_1: Final = 1
OPT_PYYAML_COMPAT: Final = 2
OPT_UPGRADE_1_1: Final = 4
OPT_YAML_1_1_WARN: Final = 8
# What reading returns: an editable document (loads only), or values that
# carry their positions.
OPT_ROUND_TRIP: Final = 16
OPT_ANNOTATED: Final = 32
OPT_ANNOTATE_NUMBERS: Final = 64
# Configuration directives (loads only).
OPT_INCLUDES: Final = 128
OPT_INCLUDE_DIR_RECURSIVE: Final = 256
OPT_SECRETS: Final = 512
OPT_ENV_VAR: Final = 1024
OPT_SECRET_NOT_FOUND_WARN: Final = 2048
OPT_ENV_VAR_NOT_FOUND_WARN: Final = 4096
# Tags and keys.
OPT_PASSTHROUGH_TAG: Final = 8192
OPT_DUPLICATE_KEYS_ERROR: Final = 16384
OPT_DUPLICATE_KEYS_WARN: Final = 32768
OPT_REJECT_COMPLEX_KEYS: Final = 65536
# Writing (dumps; to_json where they make sense).
OPT_INDENT_2: Final = 131072
OPT_INDENT_4: Final = 262144
OPT_INDENTLESS_SEQUENCES: Final = 524288
OPT_FLOW_STYLE: Final = 1048576
OPT_SORT_KEYS: Final = 2097152
OPT_EXPLICIT_START: Final = 4194304
OPT_EXPLICIT_END: Final = 8388608
OPT_SINGLE_QUOTES: Final = 16777216
OPT_NULL_AS_KEYWORD: Final = 33554432
OPT_NULL_AS_TILDE: Final = 67108864
OPT_SERIALIZE_NUMPY: Final = 134217728
OPT_PASSTHROUGH_DATETIME: Final = 268435456
OPT_PASSTHROUGH_DATACLASS: Final = 536870912
OPT_OMIT_MICROSECONDS: Final = 1073741824
OPT_NAIVE_UTC: Final = 2147483648
OPT_UTC_Z: Final = 4294967296
OPT_SCHEMA_FORMAT: Final = 8589934592

_Key: TypeAlias = str | int
_Range: TypeAlias = tuple[int, int, int, int]

class _Entries:
    """What documents and views share (typing only; not a runtime base).

    Keys are str for mappings, matched against the key as written (the key
    `0` is found with "0"), and non-negative int positions for sequences.
    """
    def __getitem__(self, key: _Key, /) -> Any:
        """Return the entry at `key`.

        A mapping or sequence comes back as a `QuarvelDocumentView`, a scalar
        as its plain value.

        Raises:
            KeyError: A mapping has no such key.
            IndexError: A sequence position is out of range.
            TypeError: `key` is neither str nor a non-negative int.
        """
    def __setitem__(self, key: _Key, value: Any, /) -> None:
        """Replace the entry at `key` with `value`, or append a new mapping key.

        A replaced value keeps its comments, anchor and tag, and only its own
        lines change in the output. Sequences do not grow.

        Raises:
            IndexError: A sequence position is out of range.
            TypeError: `key` is neither str nor a non-negative int.
        """
    def __delitem__(self, key: _Key, /) -> None:
        """Delete a mapping entry (every entry with that key) or a sequence item.

        A negative position counts from the end. The entry's own comments go
        with it. A `QuarvelDocument` acts on its single document.

        Raises:
            KeyError: The mapping has no such key.
            IndexError: The position is out of range.
            TypeError: A sequence position is not an int, the node is no
                container, or the document holds several documents.
            ValueError: An alias elsewhere refers to an anchor inside the
                entry, or an alias used as a key refers to the container.
        """
    def pop(self, key: Any = ..., default: Any = ..., /) -> Any:
        """Remove a mapping entry and return its value, as `dict.pop`.

        On a sequence, `pop(index=-1)` removes and returns the item, as
        `list.pop`. Refused as `del` refuses.
        """
    def append(self, value: Any, /) -> None:
        """Append an item to a sequence.

        Raises:
            TypeError: The node is not a sequence, or the value cannot be
                converted.
        """
    def extend(self, items: Iterable[Any], /) -> None:
        """Append every item of `items` to a sequence; none if any fails."""
    def insert(self, index: SupportsIndex, /, *entry: Any) -> None:
        """Insert into a sequence or a mapping.

        `insert(index, value)` on a sequence places the item as
        `list.insert` does. `insert(position, key, value)` on a mapping puts
        a new entry at that entry position (clamped, negative from the end).

        Raises:
            ValueError: The mapping already has the key.
            TypeError: The node is not of the kind the arguments are for, or
                the key is not a str.
        """
    def __contains__(self, key: object, /) -> bool:
        """Whether a mapping has a key written as the string `key`.

        False for sequences, scalars and keys that are not str.
        """
    def __len__(self) -> int:
        """The number of entries of the mapping or sequence (1 for a scalar)."""
    def get(self, key: _Key, default: Any = None, /) -> Any:
        """Return `self[key]`, or `default` when the lookup fails for any reason."""
    def keys(self) -> list[Any]:
        """Return the keys of a mapping, in order, as Python values.

        Raises:
            TypeError: The node is not a mapping (for a `QuarvelDocument`:
                it does not hold exactly one document).
        """
    def to_dict(self) -> Any:
        """Return the content as plain Python values (aliases resolved).

        For a `QuarvelDocument` of several documents (or none), a list with
        one entry per document.
        """
    def walk(self) -> list[tuple[tuple[str | int, ...], Any]]:
        """Return `(path, value)` for every leaf below, in document order.

        Leaves are scalars and aliases (with the value they refer to); `path`
        is the tuple of keys and positions leading there. A
        `QuarvelDocument` walks its first document.
        """
    def to_yaml(self) -> bytes:
        """Return the YAML text as bytes; for a view, its node alone.

        Untouched lines are copied as they were.
        """
    @property
    def node(self) -> QuarvelNode:
        """The `QuarvelNode` cursor on this content, for comments and positions."""

@final
class QuarvelDocument(_Entries):
    """A YAML text loaded with `OPT_ROUND_TRIP`, editable in place.

    Writing it back keeps comments, blank lines, quoting, anchors and layout;
    an edit changes only the lines of the value it replaces. Item access
    reaches into the single document; when the text holds several
    documents (or none), `doc[i]` reads or replaces document `i` and
    `len(doc)` is their number. Instances come only from `loads`/`load`.
    """
    def range(self) -> _Range | None:
        """Return `(start_line, start_column, end_line, end_column)`, 1-based.

        The span of the first document's content, its end just past the last
        character; None when there is no content.
        """
    def set_origin(self, path: str, /) -> None:
        """Record the file the document belongs to, so `save()` needs no path.

        The folder of `path` is resolved now (its links followed once);
        `save()` writes the origin only in that folder, and never through a
        symbolic link in the place of the file itself.

        Raises:
            TypeError: `path` is not a str.
        """
    def to_yaml(self, *, normalize: bool = False) -> bytes:
        """Return the YAML text as bytes; untouched lines are copied as they were.

        With `normalize`, the layout is written anew: block mappings indented
        by two, sequences below keys indented as most of the document's are,
        one space after `:` and `-`, standalone comments at the indentation
        of what they stand with, no blanks at line ends outside scalars and
        one final line break. Comments, anchors, tags, aliases and the style
        of every scalar and collection stay. A text that cannot be
        normalised safely comes back as `to_yaml()` writes it.
        """
    def save(self, path: str | None = None) -> list[str]:
        """Write the document back and return the paths written.

        With `path`, the root text is written there (the origin stays as it
        was). Without it, it goes to the origin, and a document without
        edits since it was loaded writes nothing. A document loaded with
        `OPT_INCLUDES` also rewrites each included file whose content
        changed; without `path`, the root file only when its own lines did.

        Included files are written beneath the include directory and the
        origin in the folder it was recorded in, following no symbolic link
        on the way or in the file's own place; `path`, the caller's choice,
        is written as named (a link there is followed).

        Raises:
            ValueError: There are edits but no `path` and no origin.
            QuarvelIncludeConfinementError: A file to write back, or a folder
                on its way, is now a symbolic link; nothing was written.
            QuarvelIncludeError: A file included twice has different edits, or
                entries were added to a collection merged from a directory.
            TypeError: `path` is not a str.
            OSError: A file cannot be written.
        """
    @property
    def anchors(self) -> dict[str, QuarvelNode]:
        """Every anchor of the first document, mapped to a cursor on the node it marks."""
    @property
    def origin(self) -> str | None:
        """The path recorded by `set_origin` (or by `load`), or None."""

@final
class QuarvelDocumentView(_Entries):
    """A live view of one mapping or sequence of a `QuarvelDocument`.

    Reads and edits go to the document; the view addresses its node by path,
    so it raises KeyError once an edit removes that path.
    """
    def unwrap(self) -> Any:
        """Return the mapping or sequence as plain Python values (as `to_dict`)."""
    def range(self) -> _Range:
        """Return `(start_line, start_column, end_line, end_column)`, 1-based.

        The end is just past the node's last character.
        """

class _Provenance:
    """The directive flags nodes and annotated values share (typing only)."""
    @property
    def is_secret(self) -> bool:
        """Whether the value was produced by a `!secret` directive."""
    @property
    def is_env_var(self) -> bool:
        """Whether the value was produced by an `!env_var` directive."""
    @property
    def is_include(self) -> bool:
        """Whether the value was produced by an `!include` or `!include_dir_*` directive."""

@final
class QuarvelNode(_Provenance):
    """A cursor on one node of a `QuarvelDocument`: its metadata and comments.

    Obtained from `doc.node`, `view.node` or `node[key]`. It addresses the
    node by path, so it raises KeyError once an edit removes that path.
    Setting `value`, `comment`, `comment_before` or `anchor` edits the
    document.
    """
    def __getitem__(self, key: _Key, /) -> QuarvelNode:
        """Return the cursor on the child at a mapping key (str) or position (int).

        Raises:
            KeyError: A mapping has no such key.
            IndexError: A sequence position is out of range.
            TypeError: `key` is neither str nor a non-negative int.
        """
    def __contains__(self, key: object, /) -> bool:
        """Whether the node is a mapping with a key written as the string `key`."""
    @property
    def value(self) -> Any:
        """The node's value as plain Python values (aliases resolved).

        Setting it replaces the node and keeps its comments, anchor and tag.
        """
    @value.setter
    def value(self, value: Any, /) -> None: ...
    @property
    def comment(self) -> str | None:
        """The comment at the end of the node's line, without `#`, or None.

        Set a single line of text, or None to remove it; a line break raises
        ValueError.
        """
    @comment.setter
    def comment(self, text: str | None, /) -> None: ...
    @property
    def comment_before(self) -> str | None:
        """The comment lines above the node's entry, joined by newlines, or None.

        Set text (each line becomes a `# ` line) or None to remove them.
        """
    @comment_before.setter
    def comment_before(self, text: str | None, /) -> None: ...
    @property
    def anchor(self) -> str | None:
        """The node's anchor name (without `&`), or None.

        Set a name to add or rename the anchor, None to remove it. A name
        with spaces, line breaks or `,[]{}` raises ValueError, and so does
        renaming or removing an anchor that aliases refer to (see
        `rename_anchor`) or a name that an alias without anchor already has.
        """
    @anchor.setter
    def anchor(self, name: str | None, /) -> None: ...
    @property
    def line(self) -> int:
        """The 1-based line where the node starts."""
    @property
    def column(self) -> int:
        """The 1-based column where the node starts."""
    @property
    def offset(self) -> int:
        """The 0-based byte offset of the node's first character."""
    @property
    def end_offset(self) -> int:
        """The 0-based byte offset just past the node."""
    @property
    def file(self) -> str | None:
        """The file the node was read from, when directives are on; else None.

        That is `root_path` (`<root>` inside `include_dir` without it) or the
        included file.
        """
    @property
    def style(self) -> str:
        """How the node is written.

        One of "plain", "single", "double", "literal", "folded" (scalars),
        "block", "flow" (collections), "alias" or "null" (an empty value).
        """
    @property
    def tag(self) -> str | None:
        """The explicit tag as written, such as "!!str" or "!point", or None."""
    @property
    def source_tag(self) -> str | None:
        """The directive that produced the node, such as "!include", or None."""
    @property
    def source_target(self) -> str | None:
        """The directive's argument (file, directory, secret or variable name), or None."""
    @property
    def is_alias(self) -> bool:
        """Whether the node is an alias (`*name`)."""
    @property
    def target(self) -> QuarvelNode | None:
        """For an alias, the cursor on the anchored node it refers to; otherwise None."""
    @property
    def aliases(self) -> list[QuarvelNode]:
        """Cursors on the aliases that refer to this node, in order, keys included.

        An alias refers to the nearest definition of its name before it.
        The cursor of an alias used as a key can be read and detached, not
        replaced.
        """
    def make_alias(self, name: str, /) -> None:
        """Replace the node with an alias `*name` of an earlier anchor.

        Raises:
            ValueError: No anchor `name` is defined before the node.
            TypeError: `name` is not a str.
        """
    def rename_anchor(self, name: str, /) -> None:
        """Rename the node's anchor and every alias that refers to it.

        Raises:
            ValueError: The node has no anchor, or `name` is not a name the
                `anchor` setter accepts.
        """
    def detach(self) -> QuarvelNode:
        """Replace an alias with a copy of the node it refers to.

        Returns the cursor on the copy.

        Raises:
            TypeError: The node is not an alias.
        """

@disjoint_base
class QuarvelTag:
    """A value with a tag that quarvel does not resolve, such as `!point [1, 2]`.

    `loads` returns these with `OPT_PASSTHROUGH_TAG`; `dumps` writes them as
    a tagged node and `to_json` as the bare value. Read-only; compared by
    identity.
    """
    def __new__(cls, tag: str, value: Any) -> Self:
        """Pair `tag` (such as "!point") with `value`.

        Raises:
            TypeError: `tag` is not a str.
        """
    @property
    def tag(self) -> str:
        """The tag as written, such as "!point"."""
    @property
    def value(self) -> Any:
        """The tagged value: a scalar as its string, a collection converted as usual."""

class _SourceLocation(_Provenance):
    """The source record of annotated containers (typing only).

    Lines and columns are 1-based, offsets are 0-based bytes, and each end is
    just past the value. The attributes are read-only.
    """
    @property
    def __line__(self) -> int:
        """The 1-based line where the value starts."""
    @property
    def __column__(self) -> int:
        """The 1-based column where the value starts."""
    @property
    def __file__(self) -> str | None:
        """The file the value was read from.

        That is `root_path`, an included file, or `<root>` inside
        `include_dir` when `root_path` is not given; None when constructed
        directly.
        """
    @property
    def __end_line__(self) -> int:
        """The 1-based line where the value ends."""
    @property
    def __end_column__(self) -> int:
        """The 1-based column just past the value."""
    @property
    def __offset__(self) -> int:
        """The 0-based byte offset of the value's first character."""
    @property
    def __end_offset__(self) -> int:
        """The 0-based byte offset just past the value."""
    @property
    def __source_tag__(self) -> str | None:
        """The directive that produced the value, such as "!include", or None."""
    @property
    def __source_target__(self) -> str | None:
        """The directive's argument (file, directory, secret or variable name), or None."""
    def __setstate__(
        self, state: tuple[int, int, str | None, int, int, str | None, str | None, int, int], /
    ) -> None:
        """Restore the record for pickle and copy.

        `state` is `(line, column, file, end_line, end_column, source_tag,
        source_target, offset, end_offset)`.

        Raises:
            TypeError: `state` is not a tuple of nine such items.
        """

@disjoint_base
class QuarvelAnnotatedDict(_SourceLocation, dict[Any, Any]):
    """A dict read with `OPT_ANNOTATED`, carrying where its mapping was written.

    Compares, copies, pickles and serializes like a dict. Constructed
    directly (as `dict` is), its record is zero and None.
    """

@disjoint_base
class QuarvelAnnotatedList(_SourceLocation, list[Any]):
    """A list read with `OPT_ANNOTATED`, carrying where its sequence was written.

    Compares, copies, pickles and serializes like a list. Constructed
    directly (as `list` is), its record is zero and None.
    """

# The names `from _quarvel import *` gives, as the module lists them.
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
]
