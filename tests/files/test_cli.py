import io
import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import quarvel
from quarvel._paths import PathError, Step, parse_path
from quarvel.cli import main


@pytest.fixture
def run(monkeypatch, capsys):
    """Runs the command line in this process: (status, stdout, stderr)."""

    def call(*argv, stdin=None):
        if stdin is not None:
            monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(stdin.encode())))
        status = main(list(argv))
        out, err = capsys.readouterr()
        return status, out, err

    return call


@pytest.fixture
def tree(tmp_path, monkeypatch):
    """A small configuration with an include chain, in the working directory."""
    monkeypatch.chdir(tmp_path)
    conf = tmp_path / "conf"
    (conf / "pkgs").mkdir(parents=True)
    (conf / "configuration.yaml").write_text(textwrap.dedent("""\
        # Home
        homeassistant:
          name: Home  # shown in the UI
          packages: !include_dir_named pkgs
        http:
          server_port: 8123
          ports: [80, 443]
        sensor: !include sensors.yaml
        """))
    (conf / "sensors.yaml").write_text(textwrap.dedent("""\
        # sensors
        - platform: template   # first
          name: one
        - platform: rest
          name: two
        """))
    (conf / "pkgs" / "lights.yaml").write_text("light:\n  - platform: hue\n")
    return conf


def test_check_a_sound_tree_prints_nothing(run, tree):
    assert run("check", "conf/configuration.yaml", "--includes") == (0, "", "")


def test_check_points_at_an_error_in_an_included_file(run, tree):
    (tree / "sensors.yaml").write_text("- platform: template\n  name: [one, }\n")
    status, out, err = run("check", "conf/configuration.yaml", "--includes")
    assert (status, out) == (1, "")
    assert err == textwrap.dedent("""\
        conf/sensors.yaml:2:15: error: mismatched flow collection: '}' cannot close a '['
            2 |   name: [one, }
              |               ^
        conf/configuration.yaml:8: note: included from here
            8 | sensor: !include sensors.yaml
        """)


def test_check_lists_the_include_chain_innermost_first(run, tree):
    (tree / "sensors.yaml").write_text("- !include deeper.yaml\n")
    (tree / "deeper.yaml").write_text("a: b: c\n")
    status, _, err = run("check", "conf/configuration.yaml", "--includes")
    assert status == 1
    lines = err.splitlines()
    assert lines[0].startswith("conf/deeper.yaml:1:5: error: ")
    assert lines[1:3] == ["    1 | a: b: c", "      |     ^"]
    notes = [line for line in lines if "note:" in line]
    assert notes == ["conf/sensors.yaml:1: note: included from here",
                     "conf/configuration.yaml:8: note: included from here"]


@pytest.mark.parametrize("command", [["check"], ["to-json"], ["get", "a"], ["fmt"]])
def test_text_that_is_no_utf8_is_reported_without_a_traceback(run, tmp_path, command):
    f = tmp_path / "latin1.yaml"
    f.write_bytes(b"a: caf\xe9\n")
    argv = command[:1] + [str(f)] + command[1:]
    status, out, err = run(*argv)
    assert (status, out) == (1, "")
    assert err.endswith(f"error: {f}: invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 6\n")


def test_check_goes_on_after_a_failing_file(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "good.yaml").write_text("a: 1\n")
    (tmp_path / "bad.yaml").write_text("a: 'x\n")
    status, _, err = run("check", "bad.yaml", "good.yaml", "missing.yaml")
    assert status == 1
    assert err.startswith("bad.yaml:2:1: error: ")
    assert err.endswith("quarvel check: error: cannot read missing.yaml: No such file or directory\n")


@pytest.mark.parametrize("flags, status", [((), 0), (("--strict-keys",), 1)])
def test_duplicate_keys_warn_unless_strict(run, tmp_path, monkeypatch, flags, status):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "d.yaml").write_text("a: 1\nb: 2\na: 3\n")
    got, _, err = run("check", "d.yaml", *flags)
    assert got == status
    severity = "error: duplicate mapping key: a" if status else \
        "warning: duplicate mapping key 'a'; keeping the last value"
    assert err == f"d.yaml:3:1: {severity}\n    3 | a: 3\n      | ^\n"


def test_warnings_name_the_included_file_they_are_about(run, tree):
    (tree / "sensors.yaml").write_text("- on: yes\n")
    status, _, err = run("check", "conf/configuration.yaml", "--includes", "--yaml-1-1")
    assert status == 0
    assert err.splitlines()[:3] == [
        "conf/sensors.yaml:1:3: warning: YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2",
        "    1 | - on: yes", "      |   ^"]


def test_check_standard_input_shows_its_lines(run):
    status, _, err = run("check", "-", stdin="k:\n\t- 1\n")
    assert status == 1
    assert err.startswith("<stdin>:2:1: error: ")
    assert "    2 | \t- 1\n" in err


def test_the_caret_keeps_tabs_and_counts_characters(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "t.yaml").write_text('é: "a\tb" x\n')
    status, _, err = run("check", "t.yaml")
    assert status == 1
    assert err.splitlines()[1:] == ['    1 | é: "a\tb" x', "      | " + "     \t   ^"]


@pytest.mark.parametrize("at", [5, 2500, 4990])
def test_a_long_line_is_shown_around_the_column(run, tmp_path, monkeypatch, at):
    monkeypatch.chdir(tmp_path)
    line = "[" + "1," * (at // 2 - 1) + "}" + ", 2" * ((5000 - at) // 3)
    (tmp_path / "long.yaml").write_text(line + "\n")
    column = line.index("}") + 1
    status, _, err = run("check", "long.yaml")
    assert status == 1
    head, shown, caret = err.splitlines()[:3]
    assert head.startswith(f"long.yaml:1:{column}: error: ")
    assert len(shown) < 180
    # The caret still stands under the offending character.
    assert shown[caret.index("^")] == "}"


def test_check_reports_every_schema_violation(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "schema.yaml").write_text(
        "type: object\nproperties:\n  port: {type: integer, maximum: 65535}\n  host: {type: string}\n")
    (tmp_path / "c.yaml").write_text("port: 70000\nhost: 5\n")
    status, _, err = run("check", "c.yaml", "--schema", "schema.yaml")
    assert status == 1
    assert [line for line in err.splitlines() if "error" in line] == [
        "c.yaml:1:7: error: schema: value 70000 is greater than maximum 65535 at $.port",
        "c.yaml:2:7: error: schema: expected type string, found integer at $.host",
    ]


def test_schema_violations_name_the_included_file_they_are_in(run, tree):
    (tree / "schema.yaml").write_text(
        "properties:\n  http: {properties: {server_port: {type: string}}}\n"
        "  sensor: {items: {properties: {name: {type: integer}}}}\n")
    status, _, err = run("check", "conf/configuration.yaml", "--includes", "--schema",
                         "conf/schema.yaml")
    assert status == 1
    assert [line for line in err.splitlines() if "error" in line] == [
        "conf/configuration.yaml:6:16: error: schema: expected type string, found integer at $.http.server_port",
        "conf/sensors.yaml:3:9: error: schema: expected type integer, found string at $.sensor[0].name",
        "conf/sensors.yaml:5:9: error: schema: expected type integer, found string at $.sensor[1].name",
    ]


def test_check_with_the_schema_named_in_the_file(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "s.json").write_text(json.dumps({"required": ["name"]}))
    (tmp_path / "c.yaml").write_text("# yaml-language-server: $schema=s.json\nother: 1\n")
    status, _, err = run("check", "c.yaml", "--schema", "auto")
    assert status == 1 and "required" in err


@pytest.mark.parametrize("flag, expected", [
    ("--env", "c.yaml:1:13: error: environment variable QUARVEL_TEST_UNSET is not defined"),
    ("--secrets", "c.yaml:2:12: error: secret 'nope' is not defined in any secrets.yaml"),
])
def test_check_resolves_the_directives_asked_for(run, tmp_path, monkeypatch, flag, expected):
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv("QUARVEL_TEST_UNSET", raising=False)
    text = "a: !env_var QUARVEL_TEST_UNSET\n" if flag == "--env" else "a: 1\nb: !secret nope\n"
    (tmp_path / "c.yaml").write_text(text)
    assert run("check", "c.yaml")[0] == 0
    status, _, err = run("check", "c.yaml", flag)
    assert status == 1
    assert err.splitlines()[0] == expected


def test_to_json_and_to_yaml(run, tree):
    status, out, _ = run("to-json", "conf/configuration.yaml", "--includes")
    assert status == 0
    data = json.loads(out)
    assert data["sensor"][1] == {"platform": "rest", "name": "two"}
    assert data["homeassistant"]["packages"] == {"lights": {"light": [{"platform": "hue"}]}}
    assert run("to-json", "-", "--indent", stdin="a: [1]\n") == (0, '{\n  "a": [\n    1\n  ]\n}\n', "")
    assert run("to-yaml", "-", stdin="{b: yes, a: [1, 2]}  # c\n") == (0, 'b: "yes"\na:\n  - 1\n  - 2\n', "")
    assert run("to-yaml", "-", "--yaml-1-1", stdin="b: yes\n") == (0, "b: true\n", "")


@pytest.mark.parametrize("path, flags, expected", [
    ("http.server_port", (), "8123\n"),
    ("http.ports[1]", (), "443\n"),
    ("http.ports.0", (), "80\n"),
    ("http", ("--json",), '{"server_port":8123,"ports":[80,443]}\n'),
    ("sensor[0].name", ("--includes",), "one\n"),
    ('["http"]["ports"]', ("--json",), "[80,443]\n"),
    (".", ("--json",), None),
])
def test_get(run, tree, path, flags, expected):
    status, out, err = run("get", "conf/configuration.yaml", path, *flags)
    assert (status, err) == (0, "")
    if expected is not None:
        assert out == expected


def test_get_keys_that_read_as_other_scalars(run):
    assert run("get", "-", "80", stdin="80: http\ntrue: yes\n")[1] == "http\n"
    assert run("get", "-", "[80]", stdin="80: http\n")[1] == "http\n"
    assert run("get", "-", '["a.b"]', stdin="a.b: dotted\n")[1] == "dotted\n"


@pytest.mark.parametrize("path, message", [
    ("http.nope", "no value at http.nope"),
    ("http.ports[2]", "no value at http.ports[2]"),
    ("http.server_port.x", "no value at http.server_port.x"),
    ("http..x", "empty step"),
    ("http[x]", "brackets hold a position or a quoted key"),
])
def test_get_failures(run, tree, path, message):
    status, out, err = run("get", "conf/configuration.yaml", path)
    assert (status, out) == (1, "")
    assert err.startswith("quarvel get: error: ") and message in err


def test_set_keeps_every_comment_of_the_file(run, tree):
    path = tree / "configuration.yaml"
    before = path.read_text()
    assert run("set", str(path), "http.server_port", "8443") == (0, "", "")
    assert path.read_text() == before.replace("server_port: 8123", "server_port: 8443")
    assert run("set", str(path), "homeassistant.name", "Cottage") == (0, "", "")
    assert "  name: Cottage  # shown in the UI\n" in path.read_text()
    assert run("get", str(path), "homeassistant.name")[1] == "Cottage\n"


def test_set_writes_a_value_back_to_the_included_file_it_lives_in(run, tree):
    root_before = (tree / "configuration.yaml").read_text()
    status, _, _ = run("set", "conf/configuration.yaml", "sensor[1].name", "three", "--includes")
    assert status == 0
    assert (tree / "configuration.yaml").read_text() == root_before
    assert (tree / "sensors.yaml").read_text() == textwrap.dedent("""\
        # sensors
        - platform: template   # first
          name: one
        - platform: rest
          name: three
        """)


@pytest.mark.parametrize("args, expected", [
    (("a.b", "[1, 2]"), {"a": {"b": [1, 2]}, "n": 1}),
    (("a.c", "true"), {"a": {"b": 1, "c": True}, "n": 1}),
    (("a.b", "007", "--string"), {"a": {"b": "007"}, "n": 1}),
    (("n", "null"), {"a": {"b": 1}, "n": None}),
])
def test_set_reads_the_value_as_yaml(run, args, expected):
    status, out, _ = run("set", "-", *args, stdin="a:\n  b: 1  # c\nn: 1\n")
    assert status == 0
    assert quarvel.loads(out) == expected
    assert "# c" in out


@pytest.mark.parametrize("path, message", [
    ("a.b.c", "not a mapping or sequence"),
    ("list[5]", "index out of range"),
    ("x.y", "no value at x"),
])
def test_set_failures_leave_the_file_alone(run, tmp_path, path, message):
    f = tmp_path / "c.yaml"
    f.write_text("a:\n  b: 1\nlist: [1]\n")
    status, _, err = run("set", str(f), path, "2")
    assert status == 1 and message in err
    assert f.read_text() == "a:\n  b: 1\nlist: [1]\n"


def test_fmt(run, tmp_path):
    f = tmp_path / "c.yaml"
    text = "# c\na:   1   # one\nb: [ x,  y ]\n"
    f.write_text(text)
    assert run("fmt", str(f)) == (0, text, "")
    assert run("fmt", str(f), "--check")[0] == 0
    assert run("fmt", str(f), "-i")[0] == 0
    assert f.read_text() == text


def test_fmt_check_fails_where_the_output_differs(run, tmp_path):
    # UTF-16 text comes out as UTF-8 (with a byte order mark).
    f = tmp_path / "wide.yaml"
    f.write_bytes("a: 1\n".encode("utf-16"))
    assert run("fmt", str(f), "--check") == (1, "", "")
    assert run("fmt", str(f), "-i")[0] == 0
    assert f.read_bytes() == b"\xef\xbb\xbfa: 1\n"
    assert run("fmt", str(f), "--check")[0] == 0


def test_errors_of_data_commands_are_reported_like_check(run, tmp_path):
    f = tmp_path / "c.yaml"
    f.write_text("a: [1\n")
    for command in (["to-json"], ["to-yaml"], ["get"], ["fmt"], ["set"]):
        argv = command + [str(f)] + {"get": ["a"], "set": ["a", "1"]}.get(command[0], [])
        status, out, err = run(*argv)
        assert (status, out) == (1, "")
        assert err.startswith(f"{f}:2:1: error: unclosed flow collection")


@pytest.mark.parametrize("command", ["check", "to-json", "to-yaml", "get", "set", "fmt"])
def test_every_command_has_help(run, command):
    with pytest.raises(SystemExit) as info:
        main([command, "--help"])
    assert info.value.code == 0


def test_usage_errors_exit_with_2(run, capsys):
    for argv in ([], ["check"], ["frobnicate"], ["get", "f.yaml"]):
        with pytest.raises(SystemExit) as info:
            main(argv)
        assert info.value.code == 2
    capsys.readouterr()


@pytest.mark.parametrize("text, steps", [
    ("a", [Step("a")]),
    ("a.b[0].c", [Step("a"), Step("b"), Step(0), Step("c")]),
    ("[2][3]", [Step(2), Step(3)]),
    ("x['a.b'].y", [Step("x"), Step("a.b"), Step("y")]),
    ('x["q\\"uote"]', [Step("x"), Step('q"uote')]),
    ("", []),
    (".", []),
])
def test_path_syntax(text, steps):
    assert parse_path(text) == steps


@pytest.mark.parametrize("text", ["a.", ".a", "a..b", "a[", "a[x]", "a['x", "a[1", "a[-1]"])
def test_bad_paths(text):
    with pytest.raises(PathError):
        parse_path(text)


def test_python_dash_m_and_the_console_script(tmp_path):
    f = tmp_path / "bad.yaml"
    f.write_text("a: {b\n")
    commands = [[sys.executable, "-m", "quarvel"]]
    script = shutil.which("quarvel")
    if script and os.path.dirname(script) == os.path.dirname(sys.executable):
        commands.append([script])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for command in commands:
        done = subprocess.run(command + ["check", str(f)], capture_output=True, text=True, env=env)
        assert done.returncode == 1
        assert done.stderr.startswith(f"{f}:2:1: error: ")
        assert "Traceback" not in done.stderr
        done = subprocess.run(command + ["to-json", "-"], input="a: 1\n", capture_output=True,
                              text=True, env=env)
        assert (done.returncode, done.stdout) == (0, '{"a":1}\n')


@pytest.mark.parametrize("argv", [["set", "{f}", "a", "2"], ["set", "{f}", "a", "2", "--includes"]])
def test_writing_back_through_a_link_is_refused(run, tmp_path, argv):
    outside = tmp_path / "outside.yaml"
    outside.write_text("a:   1\n")
    conf = tmp_path / "conf"
    conf.mkdir()
    (conf / "c.yaml").symlink_to(outside)
    status, _, err = run(*[a.format(f=conf / "c.yaml") for a in argv])
    assert status == 1
    assert "resolves outside the configured include directory" in err
    assert outside.read_text() == "a:   1\n" and (conf / "c.yaml").is_symlink()
