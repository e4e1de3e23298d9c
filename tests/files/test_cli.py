import json
import os
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

import quarvel
from quarvel._paths import PathError, Step, parse_path
from quarvel.cli import main


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


def test_check_a_sound_tree_prints_only_the_summary(run, tree):
    assert run("check", "conf/configuration.yaml", "--includes") == (
        0, "", "checked 1 file: 0 with errors, 0 warnings\n")
    assert run("check", "conf/configuration.yaml", "--includes", "-q") == (0, "", "")


def test_check_points_at_an_error_in_an_included_file(run, tree):
    (tree / "sensors.yaml").write_text("- platform: template\n  name: [one, }\n")
    status, out, err = run("check", "conf/configuration.yaml", "--includes", "-q")
    assert (status, out) == (1, "")
    assert err == textwrap.dedent("""\
        conf/sensors.yaml:2:15: error: mismatched flow collection: '}' cannot close a '['
            2 |   name: [one, }
              |               ^
        conf/configuration.yaml:8:9: note: included from here
            8 | sensor: !include sensors.yaml
              |         ^
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
    assert notes == ["conf/sensors.yaml:1:3: note: included from here",
                     "conf/configuration.yaml:8:9: note: included from here"]


@pytest.mark.parametrize("command", [["check"], ["to-json"], ["get", "a"], ["fmt"]])
def test_text_that_is_no_utf8_is_reported_without_a_traceback(run, tmp_path, command):
    f = tmp_path / "latin1.yaml"
    f.write_bytes(b"a: caf\xe9\n")
    argv = command[:1] + [str(f)] + command[1:] + (["-q"] if command == ["check"] else [])
    status, out, err = run(*argv)
    assert (status, out) == (1, "")
    assert err.endswith(f"error: {f}: invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 6\n")


def test_check_goes_on_after_a_failing_file(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "good.yaml").write_text("a: 1\n")
    (tmp_path / "bad.yaml").write_text("a: 'x\n")
    status, _, err = run("check", "bad.yaml", "good.yaml", "missing.yaml", "-q")
    assert status == 1
    assert err.startswith("bad.yaml:2:1: error: ")
    assert err.endswith("quarvel check: error: cannot read missing.yaml: No such file or directory\n")


@pytest.mark.parametrize("flags, status", [((), 0), (("--strict-keys",), 1)])
def test_duplicate_keys_warn_unless_strict(run, tmp_path, monkeypatch, flags, status):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "d.yaml").write_text("a: 1\nb: 2\na: 3\n")
    got, _, err = run("check", "d.yaml", "-q", *flags)
    assert got == status
    severity = "error: duplicate mapping key: a" if status else \
        "warning: duplicate mapping key 'a'; keeping the last value"
    note = "d.yaml:1:1: note: the key 'a' was first used here\n    1 | a: 1\n      | ^\n"
    assert err == f"d.yaml:3:1: {severity}\n    3 | a: 3\n      | ^\n" + note


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
    assert err.splitlines()[1:-1] == ['    1 | é: "a\tb" x', "      | " + "     \t   ^"]


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
    status, _, err = run("check", "c.yaml", "--schema", "schema.yaml", "-q")
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
                         "conf/schema.yaml", "-q")
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


def test_errors_of_data_commands_are_reported_like_check(run, tmp_path):
    f = tmp_path / "c.yaml"
    f.write_text("a: [1\n")
    for command in (["to-json"], ["to-yaml"], ["get"], ["fmt"], ["set"], ["del"]):
        argv = command + [str(f)] + {"get": ["a"], "set": ["a", "1"], "del": ["a"]}.get(command[0], [])
        status, out, err = run(*argv)
        assert (status, out) == (1, "")
        assert err.startswith(f"{f}:2:1: error: unclosed flow collection")


@pytest.mark.parametrize("command", ["check", "to-json", "to-yaml", "get", "set", "del", "fmt"])
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


# -- check over folders, in parallel, in other formats ------------------------

HEAD = re.compile(r"^(?:quarvel check: (error): (.*)|(\S+?):(\d+)(?::(\d+))?: (error|warning): (.*))$")
NOTE = re.compile(r"^(\S+?):(\d+)(?::(\d+))?: note: (.*)$")


def text_findings(err):
    """The diagnostics of check's text output, as check's JSON spells them."""
    found = []
    for line in err.splitlines():
        head, note = HEAD.match(line), NOTE.match(line)
        if head and head[1]:
            found.append({"line": None, "column": None, "severity": "error", "message": head[2],
                          "notes": []})
        elif head:
            found.append({"file": head[3], "line": int(head[4]), "severity": head[6],
                          "column": head[5] and int(head[5]), "message": head[7], "notes": []})
        elif note and note[4] == "included from here":  # its column is read off the line shown
            found[-1]["notes"].append({"file": note[1], "line": int(note[2]), "message": note[4]})
        elif note:
            found[-1]["notes"].append({"file": note[1], "line": int(note[2]),
                                       "column": int(note[3]), "message": note[4]})
    return found


def write_tree(root, files):
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


@pytest.mark.parametrize("args, checked", [
    (["conf"], ["conf/a.yaml", "conf/b.yml", "conf/skip/c.yaml", "conf/sub/d.YAML"]),
    (["conf", "--exclude", "skip"], ["conf/a.yaml", "conf/b.yml", "conf/sub/d.YAML"]),
    (["conf", "--exclude", "*.yml", "--exclude", "conf/sub/*"], ["conf/a.yaml", "conf/skip/c.yaml"]),
    # Each file once, in order, whether named or found; excludes apply to both.
    (["conf/sub/d.YAML", "./conf/", "conf/a.yaml", "--exclude", "b.yml"],
     ["conf/a.yaml", "conf/skip/c.yaml", "conf/sub/d.YAML"]),
    (["conf/b.yml", "--exclude", "conf/*"], []),
])
def test_check_walks_folders(run, tmp_path, monkeypatch, args, checked):
    monkeypatch.chdir(tmp_path)
    write_tree(tmp_path, {n: "k: [\n" for n in
                          ["conf/a.yaml", "conf/b.yml", "conf/skip/c.yaml", "conf/sub/d.YAML"]})
    write_tree(tmp_path, {"conf/notes.txt": "k: [\n"})
    status, out, err = run("check", *args, "--format", "json")
    assert [d["file"] for d in json.loads(out)] == checked
    assert err == f"checked {len(checked)} file{'s' * (len(checked) != 1)}: {len(checked)} with errors, 0 warnings\n"
    assert status == (1 if checked else 0)


def test_json_lists_what_text_reports(run, tree):
    write_tree(tree, {"sensors.yaml": "- name: [one, }\n", "dup.yaml": "a: 1\na: 2\nb: yes\n",
                      "tabs.yaml": "k:\n\t- 1\n", "pkgs/env.yaml": "x: !env_var HOME\n"})
    argv = ["check", "conf", "missing.yaml", "--includes", "--yaml-1-1", "-q"]
    status, _, err = run(*argv)
    status_json, out, err_json = run(*argv, "--format", "json")
    listed = json.loads(out)
    assert (status, status_json, err_json) == (1, 1, "")
    assert [{k: v for k, v in d.items() if k not in ("end_line", "end_column")} for d in listed] == [
        {"file": d.get("file", "missing.yaml"), **d} for d in text_findings(err)]
    assert {d["severity"] for d in listed} == {"error", "warning"}
    assert any(d["notes"] for d in listed) and any(d["end_line"] for d in listed)


@pytest.mark.parametrize("fmt", ["text", "json", "github"])
def test_parallel_check_prints_what_one_thread_prints(run, tmp_path, monkeypatch, fmt):
    monkeypatch.chdir(tmp_path)
    kinds = ["a: 1\n", "a: 1\na: 2\n", "a: [1\n", "a: !secret s\n", "on: yes\n", "\t- x\n"]
    write_tree(tmp_path, {f"d{i % 7}/f{i}.yaml": kinds[i % len(kinds)] * (1 + i % 40) for i in range(120)})
    one = run("check", ".", "--yaml-1-1", "--format", fmt)
    assert one[0] == 1 and one[1] + one[2]
    assert run("check", ".", "--yaml-1-1", "--format", fmt, "-j", "2") == one
    assert run("check", ".", "--yaml-1-1", "--format", fmt, "-j", "0") == one


def test_github_annotations_escape_what_github_reads_specially(run, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    write_tree(tmp_path, {"a,b:c.yaml": "50%: 1\n50%: 2\n", "e.yaml": "x: !include i.yaml\n",
                          "i.yaml": "a: [1\n"})
    status, out, err = run("check", "a,b:c.yaml", "e.yaml", "--format", "github", "--includes")
    assert (status, err) == (1, "checked 2 files: 1 with errors, 1 warning\n")
    assert out.splitlines() == [
        "::warning file=a%2Cb%3Ac.yaml,line=2,col=1::duplicate mapping key '50%25'; keeping the last value"
        "%0Athe key '50%25' was first used here (line 1, column 1)",
        "::error file=i.yaml,line=2,col=1::unclosed flow collection at end of input"
        "%0Aincluded from e.yaml:1"]


@pytest.mark.parametrize("files, flags, warnings", [
    ({"c.yaml": "a: !include x.yaml\nb: [!secret s, !secret t]\n"}, [], [
        "c.yaml:1:13: warning: !include left unresolved; --includes resolves it",
        "c.yaml:2:13: warning: !secret left unresolved; --secrets resolves them (2 uses)"]),
    ({"c.yaml": "a: !include_dir_named d\nb: !include x.yaml\n"}, [], [
        "c.yaml:1:23: warning: !include_dir_named and !include left unresolved; --includes resolves them (2 uses)"]),
    ({"c.yaml": "a: !env_var HOME\n# !secret s\nb: '!include x'\n"}, ["--env"], []),
    ({"c.yaml": "a: !include x.yaml\n", "x.yaml": "k: !secret s\n"}, ["--includes"],
     ["x.yaml:1:12: warning: !secret left unresolved; --secrets resolves it"]),
    ({"c.yaml": "a: !include x.yaml\n", "x.yaml": "k: !secret s\n", "secrets.yaml": "s: 1\n"},
     ["--includes", "--secrets"], []),
])
def test_check_warns_of_directives_it_leaves_unresolved(run, tmp_path, monkeypatch, files, flags, warnings):
    monkeypatch.chdir(tmp_path)
    write_tree(tmp_path, files)
    status, _, err = run("check", "c.yaml", "-q", *flags)
    assert status == 0
    assert [line for line in err.splitlines() if "|" not in line] == warnings


STREAM = "a: 1\n---\na: [2, 3]\n---\nb: x\n"


@pytest.mark.parametrize("argv, stdin, status, output", [
    (["to-json", "-", "--all"], STREAM, 0, '{"a":1}\n{"a":[2,3]}\n{"b":"x"}\n'),
    (["to-json", "-", "--document", "1", "--indent"], STREAM, 0, '{\n  "a": [\n    2,\n    3\n  ]\n}\n'),
    (["to-yaml", "-", "--all"], STREAM, 0, "---\na: 1\n---\na:\n  - 2\n  - 3\n---\nb: x\n"),
    (["get", "-", "a[1]", "--document", "1"], STREAM, 0, "3\n"),
    (["get", "-", "a", "--all", "--json"], STREAM[:-9], 0, '1\n[2,3]\n'),
    (["get", "-", "a", "--all"], STREAM, 1, "quarvel get: error: document 2: no value at a\n"),
    (["to-json", "-"], STREAM, 1, "quarvel to-json: error: <stdin> holds 3 documents; use --all or --document N\n"),
    (["get", "-", "a"], STREAM, 1, "quarvel get: error: <stdin> holds 3 documents; use --all or --document N\n"),
    (["to-json", "-", "--document", "3"], STREAM, 1,
     "quarvel to-json: error: <stdin> holds 3 documents; there is no document 3 (they count from 0)\n"),
    # One document, or none, reads as before, and --document 0 names it.
    (["to-json", "-"], "--- a\n", 0, '"a"\n'),
    (["to-json", "-", "--document", "0"], "", 0, "null\n"),
    (["to-json", "-", "--all"], "", 0, ""),
    (["to-json", "-", "--all", "--yaml-1-1"], "a: yes\n---\nb: no\n", 0, '{"a":true}\n{"b":false}\n'),
])
def test_multi_document_files(run, argv, stdin, status, output):
    got, out, err = run(*argv, stdin=stdin)
    assert (got, out + err) == (status, output)


def test_directives_resolve_in_every_document(run, tree):
    (tree / "m.yaml").write_text("s: !include sensors.yaml\n---\nl: !include pkgs/lights.yaml\n")
    status, out, _ = run("get", "conf/m.yaml", ".", "--all", "--json", "--includes")
    assert status == 0
    assert [json.loads(line) for line in out.splitlines()] == [
        {"s": [{"platform": "template", "name": "one"}, {"platform": "rest", "name": "two"}]},
        {"l": {"light": [{"platform": "hue"}]}}]


FLOWS = "# c\na: {x: 1}  # flow\nb: [1, 2]\nc:\n  d: 1\n"


@pytest.mark.parametrize("text, argv, expected", [
    # A value added to or replacing an item of a flow collection is written in flow style.
    (FLOWS, ["a.y", "{p: 1, q: [x]}"], "# c\na: {x: 1, y: {p: 1, q: [x]}}  # flow\nb: [1, 2]\nc:\n  d: 1\n"),
    (FLOWS, ["b[1]", "{p: [x]}"], "# c\na: {x: 1}  # flow\nb: [1, {p: [x]}]\nc:\n  d: 1\n"),
    (FLOWS, ["c.d", "{p: 1}"], "# c\na: {x: 1}  # flow\nb: [1, 2]\nc:\n  d:\n    p: 1\n"),
    (FLOWS, ["a", "{p: 1}"], "# c\na: {p: 1}  # flow\nb: [1, 2]\nc:\n  d: 1\n"),
    # VALUE is read as the file reads its values.
    ("a: x\n", ["a", "no"], 'a: "no"\n'),
    ("a: x\n", ["a", "no", "--yaml-1-1"], "a: false\n"),
    ("a: x\n", ["a", "0o17", "--yaml-1-1"], 'a: "0o17"\n'),
    ("%YAML 1.1\n---\na: x\n", ["a", "on"], "%YAML 1.1\n---\na: true\n"),
    ("%YAML 1.2\n---\na: x\n", ["a", "on", "--yaml-1-1"], '%YAML 1.2\n---\na: "on"\n'),
    ("a: x\n", ["a", "no", "--yaml-1-1", "--string"], 'a: "no"\n'),
])
def test_set_writes_in_the_style_and_version_of_the_file(run, text, argv, expected):
    assert run("set", "-", *argv, stdin=text) == (0, expected, "")


@pytest.mark.parametrize("text, path, expected", [
    ("a: 1  # one\n# bee\nb: 2\nc: 3\n", "b", "a: 1  # one\nc: 3\n"),
    ("a: {x: 1, y: 2}\n", "a.x", "a: {y: 2}\n"),
    ("l:\n  - 1\n  - 2  # two\n  - 3\n", "l[1]", "l:\n  - 1\n  - 3\n"),
    ("a: 1\n---\nb: 2\nc: 3\n", "[1].b", "a: 1\n---\nc: 3\n"),
    ("a: 1\n", "b", "quarvel del: error: no value at b\n"),
    ("l: [1]\n", "l[1]", "quarvel del: error: no value at l[1]\n"),
    ("a: 1\n", ".", "quarvel del: error: del needs a path below the document's root\n"),
    ("a: 1\n---\nb: 2\n", "b", "quarvel del: error: <stdin> holds 2 documents; "
     "start the path with the position of one, as [0].b\n"),
    ("a: &x {k: 1}\nb: *x\n", "a", "quarvel del: error: a: the edit would remove anchor '&x', "
     "which alias *x at line 2, column 4 refers to\n"),
])
def test_del(run, text, path, expected):
    status, out, err = run("del", "-", path, stdin=text)
    assert (status, out + err) == (0 if out else 1, expected)


def test_del_writes_back_like_set(run, tree):
    assert run("del", "conf/configuration.yaml", "sensor[0]", "--includes") == (0, "", "")
    assert (tree / "sensors.yaml").read_text() == "# sensors\n- platform: rest\n  name: two\n"
    assert run("del", "conf/configuration.yaml", "http.ports") == (0, "", "")
    assert "ports" not in (tree / "configuration.yaml").read_text()


def test_set_refuses_an_edit_that_orphans_an_alias(run):
    status, out, err = run("set", "-", "a", "5", stdin="a: {k: &x 1}\nb: *x\n")
    assert (status, out) == (1, "") and "would remove anchor '&x'" in err


def test_pre_commit_hooks_run_quarvel_commands(run):
    hooks = quarvel.load(os.path.join(os.path.dirname(__file__), "..", "..", ".pre-commit-hooks.yaml"))
    assert {h["id"]: h["entry"] for h in hooks} == {"quarvel-check": "quarvel check",
                                                    "quarvel-fmt": "quarvel fmt"}
    for hook in hooks:
        assert hook["language"] == "python" and hook["types"] == ["yaml"]
        with pytest.raises(SystemExit) as info:
            main([*hook["entry"].split()[1:], *hook.get("args", []), "--help"])
        assert info.value.code == 0


# The mistakes people make, each with the whole report `check` gives.
BROKEN = [
    ("ports: [80, 443\n", """\
f.yaml:2:1: error: unclosed flow collection at end of input
    2 | 
      | ^
f.yaml:1:8: note: the '[' is never closed
    1 | ports: [80, 443
      |        ^
"""),
    ("a: {b: 1\nc: 2}\n", """\
f.yaml:2:2: error: missing ',' between flow collection entries
    2 | c: 2}
      |  ^
f.yaml:1:4: note: the '{' is still open; is a '}' missing?
    1 | a: {b: 1
      |    ^
"""),
    ('a: "it\nb: 1\n', """\
f.yaml:2:1: error: a multi-line quoted scalar must be indented past its block context
    2 | b: 1
      | ^
f.yaml:1:4: note: the quoted scalar starts here; is its closing " missing?
    1 | a: "it
      |    ^
"""),
    ("a: 1\nhost example.org\nport: 80\n", """\
f.yaml:2:1: error: expected ':' after mapping key
    2 | host example.org
      | ^
"""),
    ("a:\n\tb: 1\n", """\
f.yaml:2:1: error: a tab cannot be used for indentation
    2 | \tb: 1
      | ^
"""),
    ("items:\n  - a\n - b\n", """\
f.yaml:3:2: error: unexpected block sequence in a block mapping
    3 |  - b
      |  ^
f.yaml:2:3: note: the item above starts here; should this '-' line up with it?
    2 |   - a
      |   ^
"""),
    ("a:\n  x: 1\n  y: 2\n  x: 3\n", """\
f.yaml:4:3: warning: duplicate mapping key 'x'; keeping the last value
    4 |   x: 3
      |   ^
f.yaml:2:3: note: the key 'x' was first used here
    2 |   x: 1
      |   ^
"""),
]


@pytest.mark.parametrize("text, report", BROKEN)
def test_reports_on_broken_files(run, tmp_path, monkeypatch, text, report):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "f.yaml").write_text(text)
    status, _, err = run("check", "-q", "f.yaml")
    assert (status, err) == (1 if "error:" in report else 0, report)
