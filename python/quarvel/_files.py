"""Reading and writing YAML files: ``load``, ``load_all`` and ``dump``."""

from __future__ import annotations

import os

import _quarvel

from .exceptions import QuarvelError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable
    from typing import Any, Literal, overload

    from _quarvel import QuarvelDocument

    _Path = str | os.PathLike[str]

__all__ = ["load", "load_all", "dump"]

# Options under which a document reads other files or the environment, and
# therefore needs an include directory.
_DIRECTIVES = _quarvel.OPT_INCLUDES | _quarvel.OPT_SECRETS | _quarvel.OPT_ENV_VAR

# A schema named by a URL is never fetched: configuration checks stay offline.
_URL = r"^[A-Za-z][A-Za-z0-9+.-]*://"

# The largest schema file read: a schema is configuration, not data.
_MAX_SCHEMA_BYTES = 16 << 20


def _read_bytes(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def _note_file(error: QuarvelError, path: str) -> None:
    """Names the file on an error that came from text read from it."""
    if getattr(error, "file", None) is None:
        try:
            error.file = path
        except AttributeError:
            pass


def schema_file_resolver(base_dir: _Path) -> Callable[[str], Any]:
    """Return a ``schema_resolver`` that reads schemas from files.

    A name given by a ``# yaml-language-server: $schema=...`` comment is taken
    relative to ``base_dir`` (a ``file://`` prefix is dropped); the file is read
    as YAML, so JSON schemas work too. Names that are other URLs are refused
    with ``ValueError``, since nothing is fetched over a network.

    The file is read as included files are: it must lie beneath ``base_dir``
    (no absolute name, no ``..`` or symbolic link leading out), be a regular
    file (no FIFO or device) of at most 16 MiB, and its name must hold no
    control character. A refusal raises ``QuarvelIncludeConfinementError``
    and a missing file ``QuarvelIncludeNotFoundError``; when ``loads`` calls
    the resolver, the error names the comment's line.
    """
    base = os.fspath(base_dir)

    def resolve(name: str) -> Any:
        import re  # here, not at the top, to keep `import quarvel` quick

        if name.startswith("file://"):
            name = name[len("file://") :]
        elif re.match(_URL, name):
            raise ValueError(f"schema {name!r} is a URL; only schema files are read")
        return _quarvel.loads(_quarvel._read_confined(base, name, _MAX_SCHEMA_BYTES))

    return resolve


if TYPE_CHECKING:
    # As for `loads`: `option=OPT_ROUND_TRIP` alone gives a QuarvelDocument,
    # any other option plain values (or a document, typed Any).
    @overload
    def load(
        path: _Path,
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
    ) -> QuarvelDocument: ...
    @overload
    def load(
        path: _Path,
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


def load(path: _Path, /, *, option: int | None = None, **kwargs: Any) -> Any:
    """Read the YAML file at ``path`` as ``loads`` reads text.

    The file is read as bytes, so its encoding is detected as ``loads`` does.
    ``root_path`` defaults to ``path``; when directives are enabled
    (``OPT_INCLUDES``, ``OPT_SECRETS`` or ``OPT_ENV_VAR``), ``include_dir``
    defaults to the file's directory. With ``schema="auto"`` and no
    ``schema_resolver``, schema files are read beneath ``include_dir`` when it
    is given, else beneath the file's directory (see ``schema_file_resolver``).
    A round-trip document remembers ``path`` as its origin, so ``save()``
    writes back there, confined to the directory it was loaded from. Errors
    about the text name the file in their ``file`` attribute. Other keyword
    arguments are those of ``loads``.
    """
    name = os.fspath(path)
    directory = os.path.dirname(name) or "."
    kwargs.setdefault("root_path", name)
    if option is not None and option & _DIRECTIVES:
        kwargs.setdefault("include_dir", directory)
    if isinstance(kwargs.get("schema"), str) and kwargs["schema"] == "auto":
        base = kwargs.get("include_dir")
        kwargs.setdefault("schema_resolver", schema_file_resolver(directory if base is None else base))
    data = _read_bytes(name)
    try:
        result = _quarvel.loads(data, option=option, **kwargs)
    except QuarvelError as error:
        _note_file(error, name)
        raise
    if isinstance(result, _quarvel.QuarvelDocument):
        result.set_origin(name)
    return result


def load_all(
    path: _Path,
    /,
    *,
    option: int | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
) -> list[Any]:
    """Read every document of the YAML file at ``path`` as ``loads_all`` does.

    Errors about the text name the file in their ``file`` attribute. Keyword
    arguments are those of ``loads_all``.
    """
    name = os.fspath(path)
    data = _read_bytes(name)
    try:
        return _quarvel.loads_all(data, option=option, tag_handler=tag_handler, tags=tags)
    except QuarvelError as error:
        _note_file(error, name)
        raise


def _current_umask() -> int:
    # Reading the mask through os.umask sets it for a moment, which another
    # thread creating files could see; Linux shows it without that.
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError, IndexError):
        pass
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_atomic(path: _Path, data: bytes) -> None:
    """Replace the file at ``path`` with ``data`` so that readers see either
    the old content or the new, never a mix.

    The bytes go to a temporary file in the same directory, which is flushed
    to disk and renamed over the target. A symbolic link is followed, so the
    file it points to is replaced and the link stays; an existing file keeps
    its permission bits, a new one gets the usual ``0666`` less the umask.
    """
    target = os.path.realpath(os.fspath(path))
    if os.path.isdir(target):
        raise IsADirectoryError(f"cannot write {os.fspath(path)}: it is a directory")
    try:
        mode = os.stat(target).st_mode & 0o7777
    except FileNotFoundError:
        mode = 0o666 & ~_current_umask()
    else:
        # Renaming would replace a file its owner made read-only, which
        # writing in place would not; refuse it the same way.
        if not os.access(target, os.W_OK):
            raise PermissionError(13, "Permission denied", os.fspath(path))
    directory, base = os.path.split(target)
    import tempfile  # here, not at the top: it is slow to import and only writing needs it

    fd, tmp = tempfile.mkstemp(prefix=f".{base}.tmp-", dir=directory or ".")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fchmod(f.fileno(), mode)
            os.fsync(f.fileno())
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    try:
        dir_fd = os.open(directory or ".", os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(dir_fd)
    except OSError:
        pass
    finally:
        os.close(dir_fd)


def write_back(path: _Path, data: bytes) -> None:
    """Replace the file at ``path`` with ``data`` as write-back does.

    Atomic like ``write_atomic``, but confined to the directory of ``path``:
    the file itself is never followed, so a symbolic link found there is
    refused with ``QuarvelIncludeConfinementError`` and nothing is written.
    For files a document was loaded from, which may have been swapped since.
    """
    name = os.fspath(path)
    directory, base = os.path.split(name)
    _quarvel._write_confined(directory or ".", base, data)


def _is_origin(obj: Any, path: _Path) -> bool:
    origin = getattr(obj, "origin", None) if isinstance(obj, _quarvel.QuarvelDocument) else None
    if origin is None:
        return False
    return os.path.abspath(origin) == os.path.abspath(os.fspath(path))


def dump(obj: Any, path: _Path, /, **kwargs: Any) -> None:
    """Write ``obj`` as YAML to the file at ``path``, atomically.

    The text is what ``dumps(obj, **kwargs)`` returns. It is written to a
    temporary file beside the target, flushed and renamed over it, so a
    failure (including one of ``dumps``) leaves the old file untouched.

    ``path`` is the caller's choice, so a symbolic link there is followed:
    the file it points to is replaced and the link stays. The exception is a
    round-trip document written to its own origin: that write goes back
    where the document was loaded from and follows no link (a link found in
    the origin's place raises ``QuarvelIncludeConfinementError``).
    """
    data = _quarvel.dumps(obj, **kwargs)
    if _is_origin(obj, path):
        write_back(path, data)
    else:
        write_atomic(path, data)
