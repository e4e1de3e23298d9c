"""The ``quarvel`` command: check, convert, query and edit YAML files.

Every command reads ``-`` as standard input. Errors in the data are reported
as ``file:line:column: error: message`` with the source line and a caret, and
end the command with status 1; mistakes in the command line end it with
status 2. No Python traceback is shown for either.
"""

from __future__ import annotations

import argparse
import logging
import os
import re
import sys
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from typing import Any

import _quarvel

from . import _diagnostics as diag
from ._files import load, schema_file_resolver, write_back
from ._paths import PathError, lookup, parse_path, view_key
from .exceptions import QuarvelError, QuarvelSchemaError

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


def _reading_options(args: argparse.Namespace) -> int:
    option = _directive_options(args)
    if getattr(args, "yaml_1_1", False):
        option |= _quarvel.OPT_YAML_1_1
    return option


def _read_stdin(sources: diag.SourceLines | None) -> bytes:
    data = sys.stdin.buffer.read()
    if sources is not None:
        sources.add(STDIN_NAME, data)
    return data


def read_document(name: str, option: int, args: argparse.Namespace, **kwargs: Any) -> Any:
    """Loads one input (a path, or ``-`` for standard input)."""
    sources = args.sources
    include_dir = getattr(args, "include_dir", None)
    if include_dir is not None:
        kwargs["include_dir"] = include_dir
    if name == STDIN:
        data = _read_stdin(sources)
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


@contextmanager
def captured_warnings() -> Iterator[list[str]]:
    """Collects what quarvel logs while the block runs, instead of printing it."""
    texts: list[str] = []

    class Collect(logging.Handler):
        def emit(self, record: logging.LogRecord) -> None:
            texts.append(record.getMessage())

    logger = logging.getLogger("quarvel")
    handler = Collect()
    propagate = logger.propagate
    logger.addHandler(handler)
    logger.propagate = False
    try:
        yield texts
    finally:
        logger.removeHandler(handler)
        logger.propagate = propagate


def _write(data: bytes) -> None:
    sys.stdout.buffer.write(data)
    if data and not data.endswith(b"\n"):
        sys.stdout.buffer.write(b"\n")
    sys.stdout.buffer.flush()


def _report(error: QuarvelError, name: str | None, sources: diag.SourceLines) -> None:
    for d in diag.from_error(error, STDIN_NAME if name == STDIN else name):
        sys.stderr.write(diag.render(d, sources))


# -- commands -----------------------------------------------------------------


def _load_schema(args: argparse.Namespace) -> Any:
    if args.schema is None or args.schema == "auto":
        return args.schema
    try:
        return load(args.schema)
    except OSError as error:
        raise UserError(f"cannot read schema {args.schema}: {error.strerror}") from None


def cmd_check(args: argparse.Namespace) -> int:
    option = _reading_options(args)
    if args.yaml_1_1:
        option |= _quarvel.OPT_YAML_1_1_WARN
    option |= _quarvel.OPT_DUPLICATE_KEYS_ERROR if args.strict_keys else _quarvel.OPT_DUPLICATE_KEYS_WARN
    sources = args.sources
    try:
        schema = _load_schema(args)
    except QuarvelError as error:
        _report(error, args.schema, sources)
        return 1
    failed = False
    for name in args.files:
        shown = STDIN_NAME if name == STDIN else name
        kwargs = {"schema": schema} if schema is not None else {}
        with captured_warnings() as warnings:
            try:
                read_document(name, option, args, **kwargs)
                error = None
            except (QuarvelError, UserError) as e:
                error = e
        for text in warnings:
            sys.stderr.write(diag.render(diag.from_warning(text, shown), sources))
        if isinstance(error, UserError):
            sys.stderr.write(f"quarvel check: error: {error}\n")
            failed = True
        elif error is not None:
            if isinstance(error, QuarvelSchemaError) and option & _quarvel.OPT_INCLUDES:
                _report_schema_in_files(error, name, option, args)
            else:
                _report(error, name, sources)
            failed = True
    return 1 if failed else 0


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


def _report_schema_in_files(error: QuarvelSchemaError, name: str, option: int,
                            args: argparse.Namespace) -> None:
    """Schema violations of a tree spread over several files name the file
    each offending node was read from."""
    try:
        # The first load reported the warnings already.
        with captured_warnings():
            data = read_document(name, option | _quarvel.OPT_ANNOTATED | _quarvel.OPT_ANNOTATE_NUMBERS, args)
    except (QuarvelError, UserError, OSError):
        data = None
    for d in diag.from_error(error, STDIN_NAME if name == STDIN else name):
        path = d.message.rsplit(" at ", 1)[-1]
        if data is not None and path.startswith("$"):
            d.file = _file_at(data, path) or d.file
        sys.stderr.write(diag.render(d, args.sources))


def _load_for_output(args: argparse.Namespace) -> Any:
    return read_document(args.file, _reading_options(args), args)


def cmd_to_json(args: argparse.Namespace) -> int:
    value = _load_for_output(args)
    _write(_quarvel.to_json(value, option=_quarvel.OPT_INDENT_2 if args.indent else None))
    return 0


def cmd_to_yaml(args: argparse.Namespace) -> int:
    value = _load_for_output(args)
    _write(_quarvel.dumps(value))
    return 0


def cmd_get(args: argparse.Namespace) -> int:
    steps = parse_path(args.path)
    value = _load_for_output(args)
    found = lookup(value, steps, args.path)
    if args.json:
        _write(_quarvel.to_json(found, option=_quarvel.OPT_INDENT_2 if args.indent else None))
    else:
        _write(_quarvel.dumps(found))
    return 0


def _round_trip(args: argparse.Namespace) -> Any:
    return read_document(args.file, _quarvel.OPT_ROUND_TRIP | _directive_options(args), args)


def cmd_set(args: argparse.Namespace) -> int:
    steps = parse_path(args.path)
    if not steps:
        raise UserError("set needs a path below the document's root")
    if args.string:
        value = args.value
    else:
        try:
            value = _quarvel.loads(args.value)
        except QuarvelError as error:
            raise UserError(f"the value is not YAML: {error} (use --string to set it as text)") from None
    doc = _round_trip(args)
    parent = lookup(doc, steps[:-1], args.path, views=True)
    if not isinstance(parent, (_quarvel.QuarvelDocument, _quarvel.QuarvelDocumentView)):
        raise UserError(f"{args.path}: the value above it is not a mapping or sequence")
    try:
        parent[view_key(parent, steps[-1])] = value
    except KeyError:
        raise UserError(f"no value at {args.path}") from None
    except IndexError:
        raise UserError(f"{args.path}: index out of range") from None
    except TypeError as error:
        raise UserError(f"{args.path}: {error}") from None
    if args.file == STDIN:
        _write(doc.to_yaml())
    else:
        doc.save()
    return 0


def cmd_fmt(args: argparse.Namespace) -> int:
    doc = _round_trip(args)
    out = doc.to_yaml()
    if args.check:
        original = open(args.file, "rb").read() if args.file != STDIN else None
        return 0 if original is None or original == out else 1
    if args.in_place and args.file != STDIN:
        with open(args.file, "rb") as f:
            if f.read() != out:
                write_back(args.file, out)
        return 0
    _write(out)
    return 0


# -- the parser ---------------------------------------------------------------


def _add_directive_flags(p: argparse.ArgumentParser, *, secrets: bool = True) -> None:
    g = p.add_argument_group("configuration directives")
    g.add_argument("--includes", action="store_true", help="resolve !include and !include_dir_* directives")
    if secrets:
        g.add_argument("--secrets", action="store_true", help="resolve !secret from the nearest secrets.yaml")
        g.add_argument("--env", action="store_true", help="resolve !env_var from the environment")
    g.add_argument("--include-dir", metavar="DIR",
                   help="directory that directives may read below (default: the file's directory)")


def _add_reading_flags(p: argparse.ArgumentParser) -> None:
    _add_directive_flags(p)
    p.add_argument("--yaml-1-1", action="store_true",
                   help="read documents without a %%YAML directive as YAML 1.1 (yes/no booleans, octal 0777)")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarvel",
        description="Check, convert, query and edit YAML files. FILE may be - for standard input.",
    )
    parser.add_argument("--version", action="version", version=f"quarvel {_version()}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    p = sub.add_parser("check", help="report every error and warning in YAML files",
                       description="Load each FILE and report its errors and warnings as "
                       "file:line:column: message, with the source line and a caret. "
                       "Exit status 1 when any file has an error.")
    p.add_argument("files", nargs="+", metavar="FILE")
    _add_reading_flags(p)
    p.add_argument("--schema", metavar="SCHEMA",
                   help="validate against this JSON Schema file (YAML or JSON), or 'auto' for the "
                   "schema named by a '# yaml-language-server: $schema=...' comment")
    p.add_argument("--strict-keys", action="store_true", help="duplicate keys are errors, not warnings")
    p.set_defaults(run=cmd_check)

    p = sub.add_parser("to-json", help="write a YAML file as JSON",
                       description="Load FILE and write it to standard output as JSON.")
    p.add_argument("file", metavar="FILE")
    p.add_argument("--indent", action="store_true", help="indent by two spaces")
    _add_reading_flags(p)
    p.set_defaults(run=cmd_to_json)

    p = sub.add_parser("to-yaml", help="write a YAML file again in normal form",
                       description="Load FILE and write its data to standard output as YAML "
                       "(comments and styles are not kept; see fmt).")
    p.add_argument("file", metavar="FILE")
    _add_reading_flags(p)
    p.set_defaults(run=cmd_to_yaml)

    p = sub.add_parser("get", help="print the value at a path",
                       description="Print the value at PATH, such as server.ports[0] or "
                       "servers[\"web.example\"].port, as YAML (or JSON with --json).")
    p.add_argument("file", metavar="FILE")
    p.add_argument("path", metavar="PATH")
    p.add_argument("--json", action="store_true", help="print JSON instead of YAML")
    p.add_argument("--indent", action="store_true", help="with --json: indent by two spaces")
    _add_reading_flags(p)
    p.set_defaults(run=cmd_get)

    p = sub.add_parser("set", help="change the value at a path, keeping comments",
                       description="Set the value at PATH to VALUE (read as YAML: 8080 is a "
                       "number, '[a, b]' a list) and write the file back in place, keeping its "
                       "comments, styles and layout. With --includes, a value that lives in an "
                       "included file is written to that file. For - the result goes to "
                       "standard output.")
    p.add_argument("file", metavar="FILE")
    p.add_argument("path", metavar="PATH")
    p.add_argument("value", metavar="VALUE")
    p.add_argument("--string", action="store_true", help="set VALUE as a string, whatever it looks like")
    _add_directive_flags(p, secrets=False)
    p.set_defaults(run=cmd_set)

    p = sub.add_parser("fmt", help="re-emit a file through the round-trip editor",
                       description="Load FILE for editing and write it out again to standard "
                       "output; an unedited document comes back byte for byte.")
    p.add_argument("file", metavar="FILE")
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("-i", "--in-place", action="store_true", help="write the result back to FILE")
    mode.add_argument("--check", action="store_true",
                      help="write nothing; exit status 1 when the result differs from FILE")
    _add_directive_flags(p, secrets=False)
    p.set_defaults(run=cmd_fmt)
    return parser


def _version() -> str:
    from . import __version__

    return __version__


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
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
