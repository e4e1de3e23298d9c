"""!secret and !env_var, strict and soft."""

import logging

import pytest

import quarvel
from quarvel.exceptions import QuarvelEnvVarError, QuarvelIncludeError, QuarvelSecretNotFoundError

ALL = quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR


@pytest.mark.parametrize("value, expected", [
    ("hunter2", "hunter2"), ("42", 42), ("4.5", 4.5), ("true", True), ("'42'", "42"),
    ("[a, 1]", ["a", 1]), ("{k: v}", {"k": "v"}), ("~", None),
])
def test_secret_keeps_its_yaml_type(config, value, expected):
    config.write({"secrets.yaml": f"pw: {value}\n"})
    assert config.load("v: !secret pw\n")["v"] == expected


def test_secret_with_alias_inside_secrets_file(config):
    config.write({"secrets.yaml": "base: &b {host: h}\ncopy: *b\n"})
    assert config.load("v: !secret copy\n")["v"] == {"host": "h"}


def test_nearest_secrets_file_wins_then_walks_up(config):
    config.write({"secrets.yaml": "pw: top\nonly_top: t\n",
                  "sub/secrets.yaml": "pw: sub\n",
                  "sub/a.yaml": "pw: !secret pw\nother: !secret only_top\n"})
    got = config.load("root: !secret pw\nsub: !include sub/a.yaml\n")
    assert got == {"root": "top", "sub": {"pw": "sub", "other": "t"}}


def test_each_secrets_file_read_once(config, monkeypatch):
    config.write({"secrets.yaml": "a: 1\nb: 2\n", "x.yaml": "a: !secret a\nb: !secret b\n"})
    got = config.load("x: !include x.yaml\ny: !include x.yaml\nz: !secret b\n",
                      option=ALL | quarvel.OPT_ANNOTATED)
    assert got["x"] == got["y"] == {"a": 1, "b": 2}
    assert got["z"] == 2


@pytest.mark.parametrize("text, message", [
    ("- a\n", "secrets.yaml does not contain a dictionary"),
    ("plain\n", "secrets.yaml does not contain a dictionary"),
    ("a: !secret b\n", "secrets not supported in a secrets.yaml file"),
    ("a: [x, {y: !secret b}]\n", "secrets not supported in a secrets.yaml file"),
    ("a: [1,\n", "invalid secrets.yaml: "),
])
def test_invalid_secrets_file(config, text, message):
    config.write({"secrets.yaml": text})
    with pytest.raises(QuarvelIncludeError) as e:
        config.load("v: !secret a\n")
    assert type(e.value) is QuarvelIncludeError
    assert str(e.value).startswith(message)
    assert e.value.file == str(config.dir / "secrets.yaml")


def test_empty_secrets_file_holds_nothing(config):
    config.write({"secrets.yaml": "", "sub/secrets.yaml": "# none\n", "sub/a.yaml": "!secret x\n"})
    with pytest.raises(QuarvelSecretNotFoundError):
        config.load("v: !include sub/a.yaml\n")


@pytest.mark.parametrize("logger, warned", [("debug", False), ("DeBuG", False), ("info", True)])
def test_logger_entry(config, quarvel_warnings, logger, warned):
    config.write({"secrets.yaml": f"logger: {logger}\npw: x\n"})
    assert config.load("v: !secret pw\n") == {"v": "x"}
    expected = [f"secrets.yaml: 'logger: debug' expected, but 'logger: {logger}' found"]
    assert quarvel_warnings() == (expected if warned else [])
    with pytest.raises(QuarvelSecretNotFoundError):
        config.load("v: !secret logger\n")


def test_missing_secret_strict(config):
    config.write({"sub/a.yaml": "x: 1\ny: !secret nope\n"})
    with pytest.raises(QuarvelSecretNotFoundError) as e:
        config.load("v: !include sub/a.yaml\n")
    path = str(config.dir / "sub" / "a.yaml")
    assert str(e.value) == (f"secret 'nope' is not defined in any secrets.yaml in {path}"
                            f"\n  included from {config.path()}, line 1")
    assert (e.value.file, e.value.line) == (path, 2)
    assert not hasattr(e.value, "include_stack")


@pytest.mark.parametrize("callback, warn", [(True, False), (False, True), (True, True)])
def test_missing_secret_soft(config, quarvel_warnings, callback, warn):
    calls = []
    kw = {"on_missing_secret": lambda *a: calls.append(a) or "ignored"} if callback else {}
    option = ALL | (quarvel.OPT_SECRET_NOT_FOUND_WARN if warn else 0)
    got = config.load("a: 1\nv: !secret nope\n", option=option | quarvel.OPT_ANNOTATED, **kw)
    assert got == {"a": 1, "v": None}
    assert calls == ([("nope", config.path(), 2)] if callback else [])
    text = f"secret 'nope' is not defined in any secrets.yaml at {config.path()}:2"
    assert quarvel_warnings() == ([text] if warn else [])


def test_callback_exception_ends_the_call(config):
    def boom(*_):
        raise KeyError("boom")

    with pytest.raises(KeyError):
        config.load("v: !secret nope\n", on_missing_secret=boom)


def test_reports_in_order_secrets_then_env_vars(config, quarvel_warnings, clean_env):
    events = []
    config.load("a: !env_var QV_A\nb: !secret s1\nc: !secret s2\nd: !env_var QV_B\n",
                option=ALL | quarvel.OPT_SECRET_NOT_FOUND_WARN | quarvel.OPT_ENV_VAR_NOT_FOUND_WARN,
                on_missing_secret=lambda n, f, l: events.append(("secret", n, l)),
                on_missing_env_var=lambda n, f, l: events.append(("env", n, l)))
    assert events == [("secret", "s1", 2), ("secret", "s2", 3), ("env", "QV_A", 1),
                      ("env", "QV_B", 4)]
    assert [w.split("'")[1] for w in quarvel_warnings()] == ["s1", "s2", "QV_A", "QV_B"]


def test_walk_up_stops_at_the_file_system_root(tmp_path):
    # With "/" as the include directory the parent of the top directory is
    # itself; the search must end there.
    with pytest.raises(QuarvelSecretNotFoundError):
        quarvel.loads("v: !secret quarvel_no_such_secret\n", option=quarvel.OPT_SECRETS,
                      include_dir="/", root_path=str(tmp_path / "c.yaml"))
    got = quarvel.loads("v: !secret quarvel_no_such_secret\n", option=quarvel.OPT_SECRETS,
                        include_dir="/", on_missing_secret=lambda *a: None)
    assert got == {"v": None}


@pytest.mark.parametrize("argument, env, expected", [
    ("QV_HOME", {"QV_HOME": "/home/x"}, "/home/x"),
    ("QV_PORT 8080", {}, "8080"),
    ("QV_PORT 8080", {"QV_PORT": "9"}, "9"),
    ("QV_G hello   big\tworld", {}, "hello big world"),
    ("  QV_SPACED   ", {"QV_SPACED": "s"}, "s"),
    ("QV_EMPTY", {"QV_EMPTY": ""}, ""),
    ("QV_TRUE", {"QV_TRUE": "true"}, "true"),
    ("''", {}, ""),
    ("[a]", {}, ""),
])
def test_env_var_is_always_a_string(config, clean_env, argument, env, expected):
    for k, v in env.items():
        clean_env.setenv(k, v)
    got = config.load(f"v: !env_var {argument}\n", option=ALL | quarvel.OPT_ANNOTATED)["v"]
    assert got == expected and isinstance(got, str)
    assert got.is_env_var


def test_env_var_missing_strict(config, clean_env):
    with pytest.raises(QuarvelEnvVarError) as e:
        config.load("v: !env_var QV_MISSING\n")
    assert str(e.value) == f"environment variable QV_MISSING is not defined in {config.path()}"
    assert not hasattr(e.value, "include_stack")


def test_env_var_missing_soft(config, clean_env, quarvel_warnings):
    got = config.load("v: !env_var QV_MISSING\n", option=ALL | quarvel.OPT_ENV_VAR_NOT_FOUND_WARN)
    assert got == {"v": None}
    assert quarvel_warnings() == [
        f"environment variable 'QV_MISSING' is not defined at {config.path()}:1"]


def test_switches_are_independent(config, clean_env):
    clean_env.setenv("QV_X", "x")
    config.write({"secrets.yaml": "s: 1\n"})
    text = "a: !env_var QV_X\nb: !secret s\n"
    assert config.load(text, option=quarvel.OPT_ENV_VAR) == {"a": "x", "b": "s"}
    assert config.load(text, option=quarvel.OPT_SECRETS) == {"a": "QV_X", "b": 1}


def test_logging_disabled_still_loads(config):
    logging.disable(logging.CRITICAL)
    try:
        got = config.load("v: !secret nope\n", option=ALL | quarvel.OPT_SECRET_NOT_FOUND_WARN)
    finally:
        logging.disable(logging.NOTSET)
    assert got == {"v": None}
