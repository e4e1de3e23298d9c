"""The ``quarvel`` command: check, convert, query and edit YAML files.

Every command reads ``-`` as standard input. Errors in the data are reported
as ``file:line:column: error: message`` with the source line and a caret, and
end the command with status 1; mistakes in the command line end it with
status 2. No Python traceback is shown for either. ``check`` can also report
as JSON or as GitHub workflow annotations.
"""

from __future__ import annotations

import argparse
import logging
import os
import re
import sys
from collections.abc import Iterator, Sequence
from contextlib import contextmanager

import _quarvel

from . import _diagnostics as diag
from ._files import load, schema_file_resolver, write_back
from ._paths import PathError, lookup, parse_path, view_key
from .exceptions import QuarvelError, QuarvelSchemaError

# typing is only read by type checkers: importing it would slow the start.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

STDIN = "-"
STDIN_NAME = "<stdin>"


class UserError(Exception):
    """A failure to report in one line, without a traceback."""


# -- reading ------------------------------------------------------------------


def _directive_options(args: argparse.Namespace) -> int:
    option = 0
    if getattr(args, "includes", False):
        option |= _quarvel.OPT_INCLUDES
    if getattr(args, "secrets", False):
        option |= _quarvel.OPT_SECRETS
    if getattr(args, "env", False):
        option |= _quarvel.OPT_ENV_VAR
    return option


_DIRECTIVES = _quarvel.OPT_INCLUDES | _quarvel.OPT_SECRETS | _quarvel.OPT_ENV_VAR


def _reading_options(args: argparse.Namespace) -> int:
    option = _directive_options(args)
    if getattr(args, "yaml_1_1", False):
        option |= _quarvel.OPT_YAML_1_1
    return option


def _read_stdin(args: argparse.Namespace) -> bytes:
    """Standard input, read once however often a command loads it."""
    data = getattr(args, "stdin_data", None)
    if data is None:
        data = args.stdin_data = sys.stdin.buffer.read()
        if args.sources is not None:
            args.sources.add(STDIN_NAME, data)
    return data


def _input_bytes(name: str, args: argparse.Namespace) -> bytes:
    if name == STDIN:
        return _read_stdin(args)
    try:
        with open(name, "rb") as f:
            return f.read()
    except IsADirectoryError:
        raise UserError(f"cannot read {name}: it is a directory") from None
    except OSError as error:
        raise UserError(f"cannot read {name}: {error.strerror}") from None


def read_document(name: str, option: int, args: argparse.Namespace, **kwargs: Any) -> Any:
    """Loads one input (a path, or ``-`` for standard input)."""
    include_dir = getattr(args, "include_dir", None)
    if include_dir is not None:
        kwargs["include_dir"] = include_dir
    if name == STDIN:
        data = _read_stdin(args)
        if option & (_quarvel.OPT_INCLUDES | _quarvel.OPT_SECRETS | _quarvel.OPT_ENV_VAR):
            kwargs.setdefault("include_dir", ".")
        if kwargs.get("schema") == "auto":
            kwargs.setdefault("schema_resolver", schema_file_resolver("."))
        try:
            return _quarvel.loads(data, option=option, root_path=STDIN_NAME, **kwargs)
        except QuarvelError as error:
            if getattr(error, "file", None) is None:
                error.file = STDIN_NAME
            raise
        except ValueError as error:
            raise UserError(f"{STDIN_NAME}: {error}") from None
    try:
        return load(name, option=option, **kwargs)
    except IsADirectoryError:
        raise UserError(f"cannot read {name}: it is a directory") from None
    except OSError as error:
        if getattr(error, "filename", None) in (name, os.fspath(name)):
            raise UserError(f"cannot read {name}: {error.strerror}") from None
        raise
    except QuarvelError:
        raise
    except ValueError as error:
        # Text that is no valid UTF-8 (or UTF-16/32), a schema named by URL.
        raise UserError(f"{name}: {error}") from None


def read_all_documents(args: argparse.Namespace) -> list[Any]:
    """Every document of ``args.file`` (none for an empty file)."""
    name = args.file
    shown = STDIN_NAME if name == STDIN else name
    option = _reading_options(args)
    data = _input_bytes(name, args)
    try:
        documents = _quarvel.loads_all(data, option=option & ~_DIRECTIVES)
    except QuarvelError as error:
        if option & _DIRECTIVES:
            # Reported as the load with directives sees it.
            return [read_document(name, option, args)]
        if getattr(error, "file", None) is None:
            error.file = shown
        raise
    except ValueError as error:
        raise UserError(f"{shown}: {error}") from None
    if option & _DIRECTIVES:
        # loads_all resolves no directives and loads reads one document:
        # several are read through the round-trip reader, which resolves
        # them in every document.
        if len(documents) > 1:
            documents = read_document(name, option | _quarvel.OPT_ROUND_TRIP, args).to_dict()
        else:
            documents = [read_document(name, option, args)]
    return documents


def _documents(args: argparse.Namespace) -> tuple[list[Any], bool]:
    """The documents a data command writes, and whether they are written as
    a stream (``--all``). A file of several documents needs ``--all`` or
    ``--document N``: reading its first one alone would drop the others
    without a word."""
    documents = read_all_documents(args)
    if args.all:
        return documents, True
    count = len(documents)
    shown = STDIN_NAME if args.file == STDIN else args.file
    holds = f"{shown} holds {count} document{'' if count == 1 else 's'}"
    if args.document is not None:
        if args.document >= max(count, 1):
            raise UserError(f"{holds}; there is no document {args.document} (they count from 0)")
        return [documents[args.document] if documents else None], False
    if count > 1:
        raise UserError(f"{holds}; use --all or --document N")
    # An empty file reads as one null document, as loads reads it.
    return [documents[0] if documents else None], False


class _Warnings(logging.Handler):
    """Collects what quarvel logs, instead of printing it, for the thread
    that logs it: files checked in parallel each get their own warnings."""

    def __init__(self) -> None:
        import threading

        super().__init__()
        self._local = threading.local()

    def emit(self, record: logging.LogRecord) -> None:
        records = getattr(self._local, "records", None)
        if records is not None:
            records.append(record)

    @contextmanager
    def installed(self) -> Iterator[_Warnings]:
        logger = logging.getLogger("quarvel")
        propagate = logger.propagate
        logger.addHandler(self)
        logger.propagate = False
        try:
            yield self
        finally:
            logger.removeHandler(self)
            logger.propagate = propagate

    @contextmanager
    def collected(self) -> Iterator[list[logging.LogRecord]]:
        """The warnings this thread logs while the block runs."""
        records: list[logging.LogRecord] = []
        self._local.records = records
        try:
            yield records
        finally:
            self._local.records = None


def _write(data: bytes) -> None:
    sys.stdout.buffer.write(data)
    if data and not data.endswith(b"\n"):
        sys.stdout.buffer.write(b"\n")
    sys.stdout.buffer.flush()


def _report(error: QuarvelError, name: str | None, sources: diag.SourceLines) -> None:
    for d in diag.from_error(error, STDIN_NAME if name == STDIN else name):
        sys.stderr.write(diag.render(d, sources))


# -- check --------------------------------------------------------------------


def _load_schema(args: argparse.Namespace) -> Any:
    if args.schema is None or args.schema == "auto":
        return args.schema
    try:
        return load(args.schema)
    except OSError as error:
        raise UserError(f"cannot read schema {args.schema}: {error.strerror}") from None


class _Unlocated(diag.Diagnostic):
    """A failure to read a file at all: shown as ``quarvel check: error: ...``."""


def _inputs(paths: Sequence[str], excludes: Sequence[str]) -> list[str]:
    """The files to check: the paths given, with the ``*.yaml`` and ``*.yml``
    files below each folder among them, less the excluded ones; each once,
    sorted."""
    import fnmatch

    globs = [os.path.normpath(g) for g in excludes if g]

    def excluded(path: str) -> bool:
        path = os.path.normpath(path)
        name = os.path.basename(path)
        return any(fnmatch.fnmatch(path, g) or fnmatch.fnmatch(name, g) for g in globs)

    found: dict[str, str] = {}
    for path in paths:
        if path != STDIN and excluded(path):
            continue
        if path == STDIN or not os.path.isdir(path):
            # A missing file is reported when it is read.
            found.setdefault(os.path.normpath(path) if path != STDIN else path, path)
            continue
        for top, folders, files in os.walk(path):
            folders[:] = [f for f in folders if not excluded(os.path.join(top, f))]
            for f in files:
                inner = os.path.normpath(os.path.join(top, f))
                if f.lower().endswith((".yaml", ".yml")) and not excluded(inner):
                    found.setdefault(inner, inner)
    return [found[key] for key in sorted(found, key=lambda key: key.split(os.sep))]


# The directives and the option that resolves each. Unresolved, they read
# as plain tags, so a file full of them would pass without a word.
_DIRECTIVE_OPTIONS = (
    ("!include", "--includes", _quarvel.OPT_INCLUDES),
    ("!secret", "--secrets", _quarvel.OPT_SECRETS),
    ("!env_var", "--env", _quarvel.OPT_ENV_VAR),
)


def _resolving_option(tag: str) -> tuple[str, int] | None:
    for directive, flag, bit in _DIRECTIVE_OPTIONS:
        if tag == directive or (directive == "!include" and tag.startswith("!include_dir_")):
            return flag, bit
    return None


def _unresolved_directives(
    name: str, option: int, args: argparse.Namespace, warnings: _Warnings
) -> list[diag.Diagnostic]:
    """One warning per file and option left off, at the first directive that
    option would resolve, read from the positions of an annotated load."""
    import codecs

    unresolved = [directive for directive, _, bit in _DIRECTIVE_OPTIONS if not option & bit]
    if not unresolved:
        return []
    try:
        data = _input_bytes(name, args)
    except UserError:
        return []
    # Most files name no directive: only those that do are read again.
    # Included files may hold directives the root file does not.
    if option & _quarvel.OPT_INCLUDES:
        unresolved.append("!include")
    if data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)) or b"\0" in data[:4]:
        data = diag.decode_source(data).encode()  # UTF-16 or UTF-32
    if not any(directive.encode() in data for directive in unresolved):
        return []
    try:
        with warnings.collected():  # the first load reported them already
            data = read_document(name, option | _quarvel.OPT_ANNOTATED, args)
    except (QuarvelError, UserError, OSError):
        return []
    found: dict[tuple[str, str | None], list[Any]] = {}
    seen: set[int] = set()
    stack = [data]
    while stack:
        value = stack.pop()
        tag = getattr(value, "__source_tag__", None)
        resolving = _resolving_option(tag) if isinstance(tag, str) else None
        if resolving is not None and not option & resolving[1]:
            where = getattr(value, "__file__", None)
            first = found.setdefault((resolving[0], where), [value, [], 0])
            first[2] += 1
            if tag not in first[1]:
                first[1].append(tag)
        if isinstance(value, (dict, list)) and id(value) not in seen:
            seen.add(id(value))
            items = [x for pair in value.items() for x in pair] if isinstance(value, dict) else value
            stack.extend(reversed(items))
    out = []
    shown = STDIN_NAME if name == STDIN else name
    for (flag, where), (value, tags, uses) in found.items():
        them = "it" if uses == 1 else "them"
        message = f"{' and '.join(tags)} left unresolved; {flag} resolves {them}"
        if uses > 1:
            message += f" ({uses} uses)"
        out.append(
            diag.Diagnostic(
                "warning",
                message,
                where or shown,
                getattr(value, "__line__", None),
                getattr(value, "__column__", None),
                end_line=getattr(value, "__end_line__", None),
                end_column=getattr(value, "__end_column__", None),
            )
        )
    return out


def _check_file(
    name: str, option: int, schema: Any, args: argparse.Namespace, warnings: _Warnings
) -> list[diag.Diagnostic]:
    """Every error and warning of one file, in the order found."""
    shown = STDIN_NAME if name == STDIN else name
    kwargs = {"schema": schema} if schema is not None else {}
    error: Exception | None = None
    with warnings.collected() as records:
        try:
            read_document(name, option, args, **kwargs)
        except (QuarvelError, UserError, OSError) as e:
            error = e
    found = [diag.from_warning(r.getMessage(), shown, getattr(r, "quarvel_notes", ())) for r in records]
    if isinstance(error, UserError):
        found.append(_Unlocated("error", str(error), shown))
    elif isinstance(error, OSError):
        found.append(
            _Unlocated("error", f"cannot read {error.filename or shown}: {error.strerror or error}", shown)
        )
    elif isinstance(error, QuarvelSchemaError) and option & _quarvel.OPT_INCLUDES:
        found += _schema_in_files(error, name, option, args, warnings)
    elif isinstance(error, QuarvelError):
        found += diag.from_error(error, shown)
    if error is None or isinstance(error, QuarvelSchemaError):
        found += _unresolved_directives(name, option, args, warnings)
    return found


def _jobs(text: str) -> int:
    return _non_negative(text) or os.cpu_count() or 1


def _github_escape(text: str, property: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    return text.replace(":", "%3A").replace(",", "%2C") if property else text


def _as_github(d: diag.Diagnostic) -> str:
    props = [f"file={_github_escape(diag.shown_path(d.file), True)}"]
    for key, number in (
        ("line", d.line),
        ("col", d.column),
        ("endLine", d.end_line),
        ("endColumn", d.end_column),
    ):
        if number is not None:
            props.append(f"{key}={number}")
    message = d.message + "".join(
        f"\n{note} (line {line}, column {column})" if line is not None else f"\n{note}"
        for note, line, column in d.notes
    )
    message += "".join(f"\nincluded from {diag.shown_path(path)}:{line}" for path, line in reversed(d.chain))
    return f"::{d.severity} {','.join(props)}::{_github_escape(message)}\n"


def _as_json(d: diag.Diagnostic) -> dict[str, Any]:
    return {
        "file": diag.shown_path(d.file),
        "line": d.line,
        "column": d.column,
        "end_line": d.end_line,
        "end_column": d.end_column,
        "severity": d.severity,
        "message": d.message,
        "notes": [
            {"file": diag.shown_path(d.file), "line": line, "column": column, "message": note}
            for note, line, column in d.notes
        ]
        + [
            {"file": diag.shown_path(path), "line": line, "message": "included from here"}
            for path, line in reversed(d.chain)
        ],
    }


def cmd_check(args: argparse.Namespace) -> int:
    option = _reading_options(args)
    if args.yaml_1_1:
        option |= _quarvel.OPT_YAML_1_1_WARN
    option |= _quarvel.OPT_DUPLICATE_KEYS_ERROR if args.strict_keys else _quarvel.OPT_DUPLICATE_KEYS_WARN
    listed: list[dict[str, Any]] = []

    def emit(found: list[diag.Diagnostic]) -> None:
        for d in found:
            if args.format == "json":
                listed.append(_as_json(d))
            elif args.format == "github":
                sys.stdout.write(_as_github(d))
            elif isinstance(d, _Unlocated):
                sys.stderr.write(f"quarvel check: error: {d.message}\n")
            else:
                sys.stderr.write(diag.render(d, args.sources))

    def finish(status: int) -> int:
        if args.format == "json":
            import json

            sys.stdout.write(
                "[" + ",".join("\n" + json.dumps(o) for o in listed) + ("\n]\n" if listed else "]\n")
            )
        sys.stdout.flush()
        return status

    try:
        schema = _load_schema(args)
    except QuarvelError as error:
        emit(diag.from_error(error, args.schema))
        return finish(1)
    files = _inputs(args.files, args.exclude)
    failed = warned = 0
    with _Warnings().installed() as warnings:

        def check(name: str) -> list[diag.Diagnostic]:
            return _check_file(name, option, schema, args, warnings)

        pool = None
        if args.jobs > 1 and len(files) > 1:
            from concurrent.futures import ThreadPoolExecutor

            # quarvel parses without the interpreter lock, so threads check
            # files side by side; map keeps the order of the files.
            pool = ThreadPoolExecutor(max_workers=args.jobs)
            results = pool.map(check, files)
        else:
            results = map(check, files)
        try:
            for found in results:
                emit(found)
                failed += any(d.severity == "error" for d in found)
                warned += sum(d.severity == "warning" for d in found)
        finally:
            if pool is not None:
                pool.shutdown(wait=False, cancel_futures=True)
    if not args.quiet:
        sys.stderr.write(
            f"checked {len(files)} file{'' if len(files) == 1 else 's'}: "
            f"{failed} with errors, {warned} warning{'' if warned == 1 else 's'}\n"
        )
    return finish(1 if failed else 0)


_SCHEMA_STEP = re.compile(r"\.([^.\[]+)|\[(\d+)\]")


def _file_at(data: Any, path: str) -> str | None:
    """The file the node at a schema path ("$.sensor[1].name") came from,
    read off an annotated load: the deepest annotated value on the way."""
    found = getattr(data, "__file__", None)
    for key, index in _SCHEMA_STEP.findall(path[1:]):
        try:
            data = data[key] if key else data[int(index)]
        except (KeyError, IndexError, TypeError):
            break
        found = getattr(data, "__file__", found)
    return found


def _schema_in_files(
    error: QuarvelSchemaError, name: str, option: int, args: argparse.Namespace, warnings: _Warnings
) -> list[diag.Diagnostic]:
    """Schema violations of a tree spread over several files name the file
    each offending node was read from."""
    try:
        # The first load reported the warnings already.
        with warnings.collected():
            data = read_document(name, option | _quarvel.OPT_ANNOTATED | _quarvel.OPT_ANNOTATE_NUMBERS, args)
    except (QuarvelError, UserError, OSError):
        data = None
    found = diag.from_error(error, STDIN_NAME if name == STDIN else name)
    for d in found:
        path = d.message.rsplit(" at ", 1)[-1]
        if data is not None and path.startswith("$"):
            d.file = _file_at(data, path) or d.file
    return found


# -- data commands ------------------------------------------------------------


def _indent_option(args: argparse.Namespace) -> int | None:
    return _quarvel.OPT_INDENT_2 if args.indent else None


def _write_each(values: list[Any], as_json: bool) -> None:
    """Several documents: JSON Lines (one compact document per line), or a
    YAML stream of documents each opened by ``---``."""
    if as_json:
        _write(b"".join(_quarvel.to_json(v) + b"\n" for v in values))
    else:
        _write(b"".join(_quarvel.dumps(v, option=_quarvel.OPT_EXPLICIT_START) for v in values))


def cmd_to_json(args: argparse.Namespace) -> int:
    documents, stream = _documents(args)
    if stream:
        _write_each(documents, as_json=True)
    else:
        _write(_quarvel.to_json(documents[0], option=_indent_option(args)))
    return 0


def cmd_to_yaml(args: argparse.Namespace) -> int:
    documents, stream = _documents(args)
    if stream:
        _write_each(documents, as_json=False)
    else:
        _write(_quarvel.dumps(documents[0]))
    return 0


def cmd_get(args: argparse.Namespace) -> int:
    steps = parse_path(args.path)
    documents, stream = _documents(args)
    found = []
    for number, document in enumerate(documents):
        try:
            found.append(lookup(document, steps, args.path))
        except PathError as error:
            raise PathError(f"document {number}: {error}" if stream else str(error)) from None
    if stream:
        _write_each(found, as_json=args.json)
    elif args.json:
        _write(_quarvel.to_json(found[0], option=_indent_option(args)))
    else:
        _write(_quarvel.dumps(found[0]))
    return 0


# -- editing ------------------------------------------------------------------


def _round_trip(args: argparse.Namespace) -> Any:
    option = _quarvel.OPT_ROUND_TRIP | _directive_options(args)
    if getattr(args, "yaml_1_1", False):
        option |= _quarvel.OPT_YAML_1_1
    return read_document(args.file, option, args)


def _edited(doc: Any, args: argparse.Namespace, command: str) -> tuple[Any, str | int]:
    """The mapping or sequence that holds the value at ``args.path``, and its
    key there."""
    steps = parse_path(args.path)
    if not steps:
        raise UserError(f"{command} needs a path below the document's root")
    try:
        parent = lookup(doc, steps[:-1], args.path, views=True)
    except PathError:
        _check_stream_path(doc, args)
        raise
    if not isinstance(parent, (_quarvel.QuarvelDocument, _quarvel.QuarvelDocumentView)):
        raise UserError(f"{args.path}: the value above it is not a mapping or sequence")
    return parent, view_key(parent, steps[-1])


def _check_stream_path(doc: Any, args: argparse.Namespace) -> None:
    """After a failed edit: in a file of several documents, a path starts
    with the position of its document; say so rather than what failed."""
    first = parse_path(args.path)[0].key
    if isinstance(first, int) or first.isdigit():
        return
    try:
        count = len(_quarvel.loads_all(doc.to_yaml()))
    except (QuarvelError, ValueError):
        return
    if count > 1:
        shown = STDIN_NAME if args.file == STDIN else args.file
        raise UserError(
            f"{shown} holds {count} documents; start the path with the position of one, as [0].{args.path}"
        ) from None


def _save(doc: Any, args: argparse.Namespace) -> None:
    if args.file == STDIN:
        _write(doc.to_yaml())
    else:
        doc.save()


def _value(args: argparse.Namespace, doc: Any) -> Any:
    """VALUE read as the file reads its own values: by YAML 1.1 rules under a
    ``%YAML 1.1`` directive, or with ``--yaml-1-1`` and no directive."""
    if args.string:
        return args.value
    version = _quarvel.yaml_version(doc.to_yaml())
    yaml_1_1 = version == "1.1" or (version is None and args.yaml_1_1)
    try:
        return _quarvel.loads(args.value, option=_quarvel.OPT_YAML_1_1 if yaml_1_1 else None)
    except QuarvelError as error:
        raise UserError(f"the value is not YAML: {error} (use --string to set it as text)") from None


def cmd_set(args: argparse.Namespace) -> int:
    parse_path(args.path)  # a bad path is reported before the file is read
    doc = _round_trip(args)
    value = _value(args, doc)
    parent, key = _edited(doc, args, "set")
    try:
        parent[key] = value
    except KeyError:
        raise UserError(f"no value at {args.path}") from None
    except IndexError:
        raise UserError(f"{args.path}: index out of range") from None
    except (TypeError, ValueError) as error:
        # ValueError: the edit would leave an alias without its anchor.
        _check_stream_path(doc, args)
        raise UserError(f"{args.path}: {error}") from None
    _save(doc, args)
    return 0


def cmd_del(args: argparse.Namespace) -> int:
    parse_path(args.path)
    doc = _round_trip(args)
    parent, key = _edited(doc, args, "del")
    try:
        del parent[key]
    except (KeyError, IndexError):
        raise UserError(f"no value at {args.path}") from None
    except (TypeError, ValueError) as error:
        _check_stream_path(doc, args)
        raise UserError(f"{args.path}: {error}") from None
    _save(doc, args)
    return 0


def cmd_fmt(args: argparse.Namespace) -> int:
    if len(args.files) > 1 and not (args.in_place or args.check or args.diff):
        args.parser.error("several files need -i, --check or --diff")
    changed = False
    for name in args.files:
        args.file = name
        changed = _fmt_file(args) or changed
    return 1 if changed and (args.check or args.diff) else 0


def _fmt_file(args: argparse.Namespace) -> bool:
    """Formats ``args.file`` as the flags say; whether the file would change."""
    doc = _round_trip(args)
    out = doc.to_yaml(normalize=True)
    name = STDIN_NAME if args.file == STDIN else args.file
    # The bytes as read: a text in UTF-16 or UTF-32 is written as UTF-8, so
    # it changes even when its layout does not. Standard input is kept by the
    # reader; an unedited document's to_yaml() is its text otherwise.
    if args.file != STDIN:
        with open(args.file, "rb") as f:
            original = f.read()
    else:
        original = getattr(args, "stdin_data", None) or doc.to_yaml()
    if args.check or args.diff:
        if out == original:
            return False
        if args.check:
            print(name, flush=True)
            return True
        import difflib

        def lines(data: bytes) -> list[bytes]:
            found = data.splitlines(keepends=True)
            if found and not found[-1].endswith((b"\n", b"\r")):
                found[-1] += b"\n\\ No newline at end of file\n"
            return found

        label = os.fsencode(name)
        diff = difflib.diff_bytes(difflib.unified_diff, lines(original), lines(out), label, label)
        sys.stdout.buffer.write(b"".join(diff))
        sys.stdout.buffer.flush()
        return True
    if args.in_place and args.file != STDIN:
        if out != original:
            write_back(args.file, out)
        return out != original
    _write(out)
    return out != original


# -- the parser ---------------------------------------------------------------


def _add_directive_flags(p: argparse.ArgumentParser, *, secrets: bool = True) -> None:
    g = p.add_argument_group("configuration directives")
    g.add_argument("--includes", action="store_true", help="resolve !include and !include_dir_* directives")
    if secrets:
        g.add_argument("--secrets", action="store_true", help="resolve !secret from the nearest secrets.yaml")
        g.add_argument("--env", action="store_true", help="resolve !env_var from the environment")
    g.add_argument(
        "--include-dir",
        metavar="DIR",
        help="directory that directives may read below (default: the file's directory)",
    )


def _add_yaml_1_1_flag(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--yaml-1-1",
        action="store_true",
        help="read documents without a %%YAML directive as YAML 1.1 (yes/no booleans, octal 0777)",
    )


def _add_reading_flags(p: argparse.ArgumentParser) -> None:
    _add_directive_flags(p)
    _add_yaml_1_1_flag(p)


def _add_document_flags(p: argparse.ArgumentParser) -> None:
    g = p.add_mutually_exclusive_group()
    g.add_argument(
        "--all", action="store_true", help="every document of a multi-document file, one after the other"
    )
    g.add_argument(
        "--document", type=_non_negative, metavar="N", help="document N (from 0) of a multi-document file"
    )
    p.set_defaults(parser=p)


def _non_negative(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        number = -1
    if number < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number from 0 up, not {text!r}")
    return number


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarvel",
        description="Check, convert, query and edit YAML files. FILE may be - for standard input.",
    )
    parser.add_argument("--version", action="version", version=f"quarvel {_version()}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    p = sub.add_parser(
        "check",
        help="report every error and warning in YAML files",
        description="Load each FILE and report its errors and warnings as "
        "file:line:column: message, with the source line and a caret, then a "
        "summary line. A folder stands for the *.yaml and *.yml files below it. "
        "Exit status 1 when any file has an error.",
    )
    p.add_argument("files", nargs="+", metavar="FILE")
    p.add_argument(
        "--exclude",
        action="append",
        default=[],
        metavar="GLOB",
        help="skip files and folders whose name or path matches GLOB (repeatable)",
    )
    p.add_argument(
        "-j",
        "--jobs",
        type=_jobs,
        default=1,
        metavar="N",
        help="check N files at a time (0: one per processor; default 1)",
    )
    p.add_argument(
        "--format",
        choices=("text", "json", "github"),
        default="text",
        help="text (default): reports on standard error; json: a list of "
        "diagnostics on standard output; github: workflow annotations",
    )
    p.add_argument("-q", "--quiet", action="store_true", help="print no summary line")
    _add_reading_flags(p)
    p.add_argument(
        "--schema",
        metavar="SCHEMA",
        help="validate against this JSON Schema file (YAML or JSON), or 'auto' for the "
        "schema named by a '# yaml-language-server: $schema=...' comment",
    )
    p.add_argument("--strict-keys", action="store_true", help="duplicate keys are errors, not warnings")
    p.set_defaults(run=cmd_check)

    p = sub.add_parser(
        "to-json",
        help="write a YAML file as JSON",
        description="Load FILE and write it to standard output as JSON.",
    )
    p.add_argument("file", metavar="FILE")
    p.add_argument("--indent", action="store_true", help="indent by two spaces")
    _add_document_flags(p)
    _add_reading_flags(p)
    p.set_defaults(run=cmd_to_json)

    p = sub.add_parser(
        "to-yaml",
        help="write a YAML file again in normal form",
        description="Load FILE and write its data to standard output as YAML "
        "(comments and styles are not kept; see fmt).",
    )
    p.add_argument("file", metavar="FILE")
    _add_document_flags(p)
    _add_reading_flags(p)
    p.set_defaults(run=cmd_to_yaml)

    p = sub.add_parser(
        "get",
        help="print the value at a path",
        description="Print the value at PATH, such as server.ports[0] or "
        'servers["web.example"].port, as YAML (or JSON with --json).',
    )
    p.add_argument("file", metavar="FILE")
    p.add_argument("path", metavar="PATH")
    p.add_argument("--json", action="store_true", help="print JSON instead of YAML")
    p.add_argument("--indent", action="store_true", help="with --json: indent by two spaces")
    _add_document_flags(p)
    _add_reading_flags(p)
    p.set_defaults(run=cmd_get)

    p = sub.add_parser(
        "set",
        help="change the value at a path, keeping comments",
        description="Set the value at PATH to VALUE (read as YAML: 8080 is a "
        "number, '[a, b]' a list; by YAML 1.1 rules in a %%YAML 1.1 file or with "
        "--yaml-1-1) and write the file back in place, keeping its "
        "comments, styles and layout. With --includes, a value that lives in an "
        "included file is written to that file. For - the result goes to "
        "standard output.",
    )
    p.add_argument("file", metavar="FILE")
    p.add_argument("path", metavar="PATH")
    p.add_argument("value", metavar="VALUE")
    p.add_argument("--string", action="store_true", help="set VALUE as a string, whatever it looks like")
    _add_directive_flags(p, secrets=False)
    _add_yaml_1_1_flag(p)
    p.set_defaults(run=cmd_set)

    p = sub.add_parser(
        "del",
        help="remove the entry or item at a path, keeping comments",
        description="Remove the mapping entry or sequence item at PATH, with its "
        "own comments, and write the file back as set does.",
    )
    p.add_argument("file", metavar="FILE")
    p.add_argument("path", metavar="PATH")
    _add_directive_flags(p, secrets=False)
    p.set_defaults(run=cmd_del)

    p = sub.add_parser(
        "fmt",
        help="normalise the layout of a file, keeping comments and styles",
        description="Write FILE to standard output with its layout normalised: block mappings "
        "indented by two, sequences below keys indented as most of the file's are, one space "
        "after ':' and '-', comment lines at the indentation of what they stand with, no blanks "
        "at line ends, one final line break. Comments, anchors, tags, aliases and quoting stay. "
        "A file that cannot be normalised safely is written as it is. Several files need -i, "
        "--check or --diff.",
    )
    p.add_argument("files", nargs="+", metavar="FILE")
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("-i", "--in-place", action="store_true", help="write the result back to FILE")
    mode.add_argument(
        "--check",
        action="store_true",
        help="write nothing; print FILE and exit with status 1 when it would change",
    )
    mode.add_argument(
        "--diff",
        action="store_true",
        help="print the change as a unified diff; exit status 1 when there is one",
    )
    _add_directive_flags(p, secrets=False)
    p.set_defaults(run=cmd_fmt, parser=p)
    return parser


def _version() -> str:
    from . import __version__

    return __version__


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    if getattr(args, "all", False) and getattr(args, "indent", False):
        args.parser.error("--indent cannot go with --all, which writes one JSON document per line")
    args.sources = sources = diag.SourceLines()
    try:
        return args.run(args)
    except QuarvelError as error:
        name = getattr(args, "file", None) or (args.files[0] if getattr(args, "files", None) else None)
        _report(error, name or STDIN, sources)
        return 1
    except (UserError, PathError) as error:
        sys.stderr.write(f"quarvel {args.command}: error: {error}\n")
        return 1
    except OSError as error:
        if isinstance(error, BrokenPipeError):
            raise
        where = f" {error.filename}" if error.filename else ""
        sys.stderr.write(f"quarvel {args.command}: error:{where}: {error.strerror or error}\n")
        return 1


def run() -> None:
    """Entry point of the ``quarvel`` console script."""
    try:
        status = main()
    except KeyboardInterrupt:
        status = 130
    except BrokenPipeError:
        # The reader went away (``quarvel to-json big.yaml | head``): not an
        # error; keep Python from complaining while it flushes on exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        status = 1
    sys.exit(status)
