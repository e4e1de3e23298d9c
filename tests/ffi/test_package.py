import ast
import os
import subprocess
import sys
import types
import typing
from pathlib import Path

import pytest

import _quarvel
import quarvel
from quarvel import _files as _quarvel_files
from quarvel import exceptions

EXCEPTION_NAMES = [
    "QuarvelParseError", "QuarvelDecodeError", "QuarvelEncodeError", "QuarvelEnvVarError",
    "QuarvelSchemaError", "QuarvelIncludeError", "QuarvelComplexKeyError", "QuarvelDuplicateKeyError",
    "QuarvelIncludeDepthError", "QuarvelSecretNotFoundError", "QuarvelUnserializableError",
    "QuarvelCircularIncludeError", "QuarvelIncludeNotFoundError", "QuarvelIncludeConfinementError",
]


def test_package_re_exports_the_module():
    for name in _quarvel.__all__:
        assert getattr(quarvel, name) is getattr(_quarvel, name)
    assert set(_quarvel.__all__) <= set(quarvel.__all__)


@pytest.mark.parametrize("name", EXCEPTION_NAMES)
def test_exception_classes(name):
    cls = getattr(exceptions, name)
    assert issubclass(cls, exceptions.QuarvelError)
    err = cls("message")
    err.line = 3
    err.include_stack = [("a.yaml", 1)]
    assert str(err) == "message" and err.line == 3
    assert getattr(quarvel, name) is cls


@pytest.mark.parametrize("sub, base", [
    ("QuarvelDuplicateKeyError", "QuarvelParseError"),
    ("QuarvelComplexKeyError", "QuarvelParseError"),
    ("QuarvelUnserializableError", "QuarvelEncodeError"),
    ("QuarvelIncludeNotFoundError", "QuarvelIncludeError"),
    ("QuarvelCircularIncludeError", "QuarvelIncludeError"),
    ("QuarvelIncludeDepthError", "QuarvelIncludeError"),
    ("QuarvelIncludeConfinementError", "QuarvelIncludeError"),
])
def test_exception_hierarchy(sub, base):
    assert issubclass(getattr(exceptions, sub), getattr(exceptions, base))


def test_parse_errors_are_value_errors():
    assert issubclass(exceptions.QuarvelParseError, ValueError)


# ---- what type checkers read ------------------------------------------------------

PACKAGE = Path(quarvel.__file__).resolve().parent
REPOSITORY = Path(__file__).resolve().parents[2]


def test_package_all_is_a_literal_list_of_every_public_name():
    # Type checkers take the exports from a literal __all__ only.
    tree = ast.parse((PACKAGE / "__init__.py").read_text(encoding="utf-8"))
    (value,) = [n.value for n in tree.body if isinstance(n, ast.Assign)
                and any(getattr(t, "id", None) == "__all__" for t in n.targets)]
    listed = ast.literal_eval(value)
    assert listed == quarvel.__all__ and len(set(listed)) == len(listed)
    assert set(exceptions.__all__) | set(_quarvel.__all__) <= set(listed)
    assert all(hasattr(quarvel, name) for name in listed)


def _raised(call):
    try:
        call()
    except exceptions.QuarvelError as e:
        return e
    raise AssertionError("nothing raised")


def _raising_calls(folder):
    """One call per way the library raises, each with the attributes it sets."""
    (folder / "main.yaml").write_text("a: !include missing.yaml\n")
    (folder / "bad.yaml").write_text("a: [1,\n")

    def include(text, option=quarvel.OPT_INCLUDES):
        return lambda: quarvel.loads(text, option=option, include_dir=folder, root_path=folder / "r.yaml")

    return {
        "syntax": lambda: quarvel.loads("a: [1\n"),
        "duplicate key": lambda: quarvel.loads("a: 1\na: 2\n", option=quarvel.OPT_DUPLICATE_KEYS_ERROR),
        "file": lambda: quarvel.load(folder / "bad.yaml"),
        "decode": lambda: quarvel.loads("!k a: 1\n", tag_handler=lambda tag, value: [value]),
        "encode": lambda: quarvel.dumps(object()),
        "schema": lambda: quarvel.loads("a: 1\n", schema={"required": ["b"]}),
        "include": include("x: !include main.yaml\n"),
        "include syntax": include("x: !include bad.yaml\n"),
        "confinement": include("x: !include ../x.yaml\n"),
        "secret": include("x: !secret nope\n", quarvel.OPT_SECRETS),
        "env var": include("x: !env_var QUARVEL_TEST_SURELY_UNSET\n", quarvel.OPT_ENV_VAR),
        "schema file": lambda: quarvel.loads(
            "# yaml-language-server: $schema=../s.json\na: 1\n", schema="auto",
            schema_resolver=_quarvel_files.schema_file_resolver(folder)),
        "confined read": lambda: _quarvel._read_confined(str(folder), "../x", 10),
        "refused write": lambda: _quarvel._write_confined(str(folder), "../x", b""),
    }


def _conforms(value, hint):
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if origin in (typing.Union, types.UnionType):
        return any(_conforms(value, a) for a in args)
    if origin is list:
        return isinstance(value, list) and all(_conforms(v, args[0]) for v in value)
    if origin is tuple:
        return (isinstance(value, tuple) and len(value) == len(args)
                and all(_conforms(v, a) for v, a in zip(value, args, strict=True)))
    if hint is type(None):
        return value is None
    return isinstance(value, hint)


def test_raised_attributes_are_declared_with_their_types(tmp_path, monkeypatch):
    # Whatever attribute the library sets on an error, the error's class
    # declares, with a type the value has: what type checkers are told holds.
    # And every declared attribute is set somewhere.
    monkeypatch.delenv("QUARVEL_TEST_SURELY_UNSET", raising=False)
    seen = set()
    for case, call in _raising_calls(tmp_path).items():
        error = _raised(call)
        hints = typing.get_type_hints(type(error))
        for name, value in vars(error).items():
            if name.startswith("__"):
                continue  # __notes__ and the like are the interpreter's
            assert name in hints, f"{case}: {type(error).__name__}.{name} is set but not declared"
            assert _conforms(value, hints[name]), (case, name, value, hints[name])
            seen.add(name)
    assert seen == {"file", "line", "column", "include_stack", "schema_path", "errors"}


@pytest.mark.parametrize("name, declared", [
    ("QuarvelError", {"file", "line", "column"}),
    ("QuarvelSchemaError", {"file", "line", "column", "schema_path", "errors"}),
    ("QuarvelIncludeNotFoundError", {"file", "line", "column", "include_stack"}),
    ("QuarvelEnvVarError", {"file", "line", "column"}),
])
def test_exception_attributes_are_declared_where_they_apply(name, declared):
    assert set(typing.get_type_hints(getattr(exceptions, name))) == declared


def test_importing_quarvel_leaves_slow_modules_unimported():
    # Modules only some calls need are imported by those calls. Run without
    # site, which may import them itself, on the path this test has.
    slow = ["tempfile", "re", "typing", "logging", "inspect", "dataclasses", "enum"]
    code = (f"import sys\nslow = {slow!r}\nprint([m for m in slow if m in sys.modules])\n"
            "import quarvel\nprint([m for m in slow if m in sys.modules])\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    out = subprocess.run([sys.executable, "-S", "-c", code], env=env, capture_output=True, text=True,
                         check=True).stdout
    assert out.splitlines() == ["[]", "[]"]


def test_stub_package_is_installed_beside_the_extension():
    # Type checkers find the extension's types as the stub-only package
    # `_quarvel-stubs`; a build tree holds the extension alone.
    here = Path(_quarvel.__file__).resolve().parent
    if here != PACKAGE.parent:
        pytest.skip("quarvel and _quarvel are not installed together")
    installed = here / "_quarvel-stubs" / "__init__.pyi"
    assert installed.is_file()
    source = REPOSITORY / "python" / "_quarvel-stubs" / "__init__.pyi"
    if source.is_file():
        assert installed.read_bytes() == source.read_bytes()
    assert not (here / "_quarvel.pyi").exists()


def test_typed_user_script_runs(tmp_path):
    # tests/typing/user_script.py is what `mypy --strict` checks in CI; run,
    # it shows the types it states are the ones the calls return.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    subprocess.run([sys.executable, str(REPOSITORY / "tests" / "typing" / "user_script.py"), str(tmp_path)],
                   env=env, check=True, cwd=tmp_path)
