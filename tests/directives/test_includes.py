"""!include and the four !include_dir_* directives."""

import os
import pathlib

import pytest

import quarvel
from quarvel.exceptions import (QuarvelCircularIncludeError, QuarvelIncludeDepthError,
                                QuarvelIncludeError, QuarvelIncludeNotFoundError,
                                QuarvelParseError, QuarvelComplexKeyError)

ALL = quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR

INC = quarvel.OPT_INCLUDES
REC = quarvel.OPT_INCLUDES | quarvel.OPT_INCLUDE_DIR_RECURSIVE


def test_include_splices_first_document(config):
    config.write({"a.yaml": "x: 1\n---\ny: 2\n"})
    assert config.load("v: !include a.yaml\n") == {"v": {"x": 1}}


@pytest.mark.parametrize("text, expected", [
    ("", {}),
    ("# only a comment\n", {}),
    ("null\n", None),
    ("[1, two]\n", [1, "two"]),
    ("plain\n", "plain"),
])
def test_include_root_kinds(config, text, expected):
    config.write({"a.yaml": text})
    assert config.load("v: !include a.yaml\n")["v"] == expected


def test_include_relative_to_the_including_file(config):
    config.write({"sub/a.yaml": "!include b.yaml\n", "sub/b.yaml": "deep: true\n",
                  "b.yaml": "wrong: true\n"})
    assert config.load("v: !include sub/a.yaml\n") == {"v": {"deep": True}}


def test_root_document_that_is_a_directive(config):
    config.write({"a.yaml": "k: v\n"})
    assert config.load("!include a.yaml\n") == {"k": "v"}


def test_every_document_root_is_resolved_but_first_returned(config):
    # A directive in a later document still runs (its failure ends the call).
    config.write({"a.yaml": "k: v\n"})
    with pytest.raises(QuarvelIncludeNotFoundError):
        config.load("a: 1\n---\nb: !include missing.yaml\n")


@pytest.mark.parametrize("directive", ["!include", "!include_dir_list", "!include_dir_named",
                                       "!include_dir_merge_list", "!include_dir_merge_named"])
@pytest.mark.parametrize("arg", ["", "''", "'  '", "[a]", "{a: 1}"])
def test_directive_needs_an_argument(config, directive, arg):
    with pytest.raises(QuarvelIncludeError) as e:
        config.load(f"v: {directive} {arg}\n")
    assert type(e.value) is QuarvelIncludeError
    assert str(e.value).startswith(f"{directive} needs an argument in ")
    assert e.value.file == config.path()


def test_missing_file(config):
    with pytest.raises(QuarvelIncludeNotFoundError) as e:
        config.load("a: 1\nv: !include nope.yaml\n")
    assert str(e.value).startswith(
        "cannot read included file 'nope.yaml': No such file or directory (os error 2) in ")
    assert e.value.file == str(config.dir / "nope.yaml")
    assert e.value.include_stack == [(config.path(), 2)]
    assert str(e.value).endswith(f"\n  included from {config.path()}, line 2")


def test_include_of_a_directory_is_a_read_failure(config):
    config.write({"d": None})
    with pytest.raises(QuarvelIncludeNotFoundError, match=r"Is a directory \(os error 21\)"):
        config.load("v: !include d\n")


def test_syntax_error_in_included_file_names_it(config):
    config.write({"bad.yaml": "a: [1,\n"})
    with pytest.raises(QuarvelIncludeError) as e:
        config.load("v: !include bad.yaml\n")
    assert type(e.value) is QuarvelIncludeError
    assert e.value.file == str(config.dir / "bad.yaml")
    assert (e.value.line, e.value.column) == (None, None)


@pytest.mark.parametrize("option, exc", [
    (INC | quarvel.OPT_ANNOTATED, QuarvelParseError),
    (INC | quarvel.OPT_REJECT_COMPLEX_KEYS, QuarvelComplexKeyError),
])
def test_included_texts_are_checked_like_the_root(config, option, exc):
    # Complex keys and alias faults only the plain decoder sees.
    body = "? [a]\n: 1\n" if exc is QuarvelComplexKeyError else "a: *nowhere\n"
    config.write({"ok.yaml": "fine: 1\n", "bad.yaml": body})
    with pytest.raises(exc) as e:
        config.load("x: !include ok.yaml\nv: !include bad.yaml\n", option=option)
    assert e.value.file == str(config.dir / "bad.yaml")
    assert e.value.line == 1


def test_depth_fifty_loads_fifty_one_fails(config):
    files = {f"f{i}.yaml": f"!include f{i + 1}.yaml\n" for i in range(50)}
    files["f50.yaml"] = "end: true\n"
    config.write(files)
    assert config.load("!include f1.yaml\n") == {"end": True}
    files["f50.yaml"] = "!include f51.yaml\n"
    files["f51.yaml"] = "end: true\n"
    config.write(files)
    with pytest.raises(QuarvelIncludeDepthError) as e:
        config.load("!include f1.yaml\n")
    assert str(e.value).startswith("include chain exceeds the maximum depth of 50 in ")
    assert e.value.file == str(config.dir / "f50.yaml")
    assert len(e.value.include_stack) == 50
    assert str(e.value).count("\n  included from ") == 50


def test_self_include_is_circular_at_its_own_directive(config):
    config.write({"a.yaml": "x: 1\nme: !include a.yaml\n"})
    with pytest.raises(QuarvelCircularIncludeError) as e:
        config.load("v: !include a.yaml\n")
    path = str(config.dir / "a.yaml")
    assert str(e.value).startswith(f"circular include detected: '{path}' in {path}")
    assert (e.value.file, e.value.line, e.value.column) == (path, 2, 14)


def test_root_including_itself_expands_once(config):
    config.write({"configuration.yaml": "x: 1\nme: !include configuration.yaml\n"})
    with pytest.raises(QuarvelCircularIncludeError) as e:
        config.load()
    assert len(e.value.include_stack) == 1


def test_cycle_through_a_directory_walk(config):
    # Each file includes the directory holding it: stopped at the first repeat,
    # not after 2**50 expansions.
    config.write({"d/a.yaml": "!include_dir_list .\n", "d/b.yaml": "!include_dir_list .\n"})
    with pytest.raises(QuarvelCircularIncludeError):
        config.load("v: !include_dir_list d\n")


def test_error_message_and_include_stack_name_each_including_file(config):
    config.write({"a.yaml": "k: 1\nnext: !include sub/b.yaml\n",
                  "sub/b.yaml": "\n\nbad: !include missing.yaml\n"})
    root = config.path()
    with pytest.raises(QuarvelIncludeNotFoundError) as e:
        config.load("top: 0\nv: !include a.yaml\n")
    a, b = str(config.dir / "a.yaml"), str(config.dir / "sub" / "b.yaml")
    assert e.value.file == str(config.dir / "sub" / "missing.yaml")
    assert e.value.include_stack == [(root, 2), (a, 2), (b, 3)]
    assert str(e.value).endswith(f"\n  included from {root}, line 2\n  included from {a}, line 2"
                                 f"\n  included from {b}, line 3")


DIR_FILES = {"d/b.yaml": "b: 2\n", "d/a.yml": "a: 1\n", "d/.hidden.yaml": "h: 1\n",
             "d/notes.txt": "n: 1\n", "d/secrets.yaml": "s: 1\n", "d/.yaml": "dot: 1\n",
             "d/c.yaml.bak": "c: 1\n", "d/sub/z.yaml": "z: 1\n"}


@pytest.mark.parametrize("option, expected", [
    (ALL, [{"a": 1}, {"b": 2}]),
    (INC, [{"a": 1}, {"b": 2}, {"s": 1}]),
    (REC, [{"a": 1}, {"b": 2}, {"s": 1}, {"z": 1}]),
])
def test_dir_list_takes_yaml_files_in_name_order(config, option, expected):
    config.write(DIR_FILES)
    assert config.load("v: !include_dir_list d\n", option=option)["v"] == expected


def test_recursive_walk_is_depth_first(config):
    config.write({"d/z.yaml": "z\n", "d/a/x.yaml": "x\n", "d/a/b/y.yaml": "y\n",
                  "d/c/w.yaml": "w\n", "d/a/.skip/q.yaml": "q\n"})
    assert config.load("v: !include_dir_list d\n", option=REC)["v"] == ["z", "x", "y", "w"]
    assert config.load("v: !include_dir_list d\n", option=INC)["v"] == ["z"]


def test_names_sort_by_bytes(config):
    config.write({"d/B.yaml": "B\n", "d/a.yaml": "a\n", "d/_.yaml": "_\n", "d/é.yaml": "e\n"})
    assert config.load("v: !include_dir_list d\n")["v"] == ["B", "_", "a", "e"]


@pytest.mark.parametrize("directive, expected", [
    ("!include_dir_list", []),
    ("!include_dir_named", {}),
    ("!include_dir_merge_list", []),
    ("!include_dir_merge_named", {}),
])
@pytest.mark.parametrize("target", ["missing", "file.yaml"])
def test_dir_directive_on_missing_or_non_directory_is_empty(config, directive, expected, target):
    config.write({"file.yaml": "a: 1\n"})
    assert config.load(f"v: {directive} {target}\n")["v"] == expected


def test_dir_named_keys_are_file_stems_as_strings(config):
    config.write({"d/true.yaml": "1\n", "d/12.yaml": "2\n", "d/x.y.yaml": "3\n",
                  "d/plain.yml": "4\n"})
    got = config.load("v: !include_dir_named d\n")["v"]
    assert got == {"12": 2, "plain": 4, "true": 1, "x.y": 3}
    assert all(type(k) is str for k in got)


def test_dir_named_with_yaml_1_1(config):
    config.write({"d/yes.yaml": "1\n", "d/on.yaml": "2\n"})
    got = config.load("v: !include_dir_named d\n", option=ALL | quarvel.OPT_YAML_1_1)["v"]
    assert got == {"on": 2, "yes": 1}


def test_merge_list_flattens_one_level(config):
    config.write({"d/a.yaml": "[1, 2]\n", "d/b.yaml": "3\n", "d/c.yaml": "[[4], {k: v}]\n",
                  "d/e.yaml": ""})
    assert config.load("v: !include_dir_merge_list d\n")["v"] == [1, 2, 3, [4], {"k": "v"}, {}]


def test_merge_named_keeps_mappings_only_later_wins(config):
    config.write({"d/a.yaml": "x: 1\ny: 1\n", "d/b.yaml": "[ignored]\n", "d/c.yaml": "y: 2\n"})
    assert config.load("v: !include_dir_merge_named d\n")["v"] == {"x": 1, "y": 2}


def test_switched_off_directive_is_a_custom_tag(config):
    text = "v: !include x.yaml\n"
    assert config.load(text, option=quarvel.OPT_SECRETS)["v"] == "x.yaml"
    got = config.load(text, option=quarvel.OPT_SECRETS | quarvel.OPT_PASSTHROUGH_TAG)["v"]
    assert (type(got), got.tag, got.value) == (quarvel.QuarvelTag, "!include", "x.yaml")


def test_same_file_included_twice_gets_one_file_number(config, monkeypatch):
    config.write({"a.yaml": "k: [1]\n"})
    got = config.load("x: !include a.yaml\ny: !include a.yaml\n",
                      option=INC | quarvel.OPT_ANNOTATED)
    assert got == {"x": {"k": [1]}, "y": {"k": [1]}}
    assert got["x"] is not got["y"]
    assert got["x"]["k"].__file__ == got["y"]["k"].__file__ == str(config.dir / "a.yaml")


def test_anchor_on_a_directive_names_its_result(config):
    config.write({"a.yaml": "k: v\n"})
    assert config.load("x: &x !include a.yaml\ny: *x\n") == {"x": {"k": "v"}, "y": {"k": "v"}}


def test_duplicate_key_in_included_file_names_that_file(config):
    config.write({"a.yaml": "k: 1\nk: 2\n"})
    with pytest.raises(quarvel.exceptions.QuarvelDuplicateKeyError) as e:
        config.load("v: !include a.yaml\n", option=INC | quarvel.OPT_DUPLICATE_KEYS_ERROR)
    assert e.value.file == str(config.dir / "a.yaml")
    assert e.value.line == 2


def test_round_trip_keeps_include_boundaries_and_files(config):
    config.write({"a.yaml": "w: 0\n# kept\nx: 1\n", "more/b.yaml": "y: 2\n"})
    doc = config.load("a: !include a.yaml\nb: !include_dir_named more\n",
                      option=INC | quarvel.OPT_ROUND_TRIP)
    assert doc.to_dict() == {"a": {"w": 0, "x": 1}, "b": {"b": {"y": 2}}}
    a = doc.node["a"]
    assert (a.source_tag, a.source_target) == ("!include", "a.yaml")
    assert doc.node["a"]["x"].file == config.path("a.yaml")
    assert doc.node["b"]["b"]["y"].file == config.path("more/b.yaml")
    assert doc.node["a"]["x"].comment_before == "kept"


def test_large_directory_scales(config):
    import time
    files = {f"d/f{i:05d}.yaml": f"- {i}\n" for i in range(10000)}
    config.write(files)
    start = time.perf_counter()
    got = config.load("v: !include_dir_merge_list d\n")["v"]
    elapsed = time.perf_counter() - start
    assert got == list(range(10000))
    assert elapsed < 5.0


@pytest.mark.parametrize("option", [INC, INC | quarvel.OPT_ANNOTATED])
def test_anchor_names_are_per_file(config, option):
    config.write({"a.yaml": "x: &a inner\ny: *a\n", "r.yaml": "&a [1]\n"})
    got = config.load("top: &a outer\ninc: !include a.yaml\nroot: !include r.yaml\nafter: *a\n",
                      option=option)
    assert got == {"top": "outer", "inc": {"x": "inner", "y": "inner"}, "root": [1],
                   "after": "outer"}


@pytest.mark.parametrize("convert", [str, os.fsencode, pathlib.Path])
@pytest.mark.parametrize("with_root", [True, False])
def test_path_arguments_and_file_names(config, convert, with_root):
    config.write({"a.yaml": "k: v\n"})
    kw = {"root_path": convert(config.dir / "c.yaml")} if with_root else {}
    got = quarvel.loads("v: !include a.yaml\n", option=INC | quarvel.OPT_ANNOTATED,
                        include_dir=convert(config.dir), **kw)
    root = str(config.dir / "c.yaml") if with_root else os.path.join(str(config.dir), "<root>")
    assert got == {"v": {"k": "v"}}
    assert got.__file__ == got["v"].__file__ == root
    assert got["v"]["k"].__file__ == str(config.dir / "a.yaml")


def test_relative_include_dir(config, monkeypatch):
    config.write({"sub/a.yaml": "k: v\n"})
    monkeypatch.chdir(config.dir)
    got = quarvel.loads("v: !include a.yaml\n", option=INC | quarvel.OPT_ANNOTATED,
                        include_dir="sub")
    assert got.__file__ == os.path.join("sub", "<root>")
    assert got["v"]["k"].__file__ == str(config.dir / "sub" / "a.yaml")


@pytest.mark.parametrize("depth, loads", [(124, True), (900, False)])
def test_deep_nesting_across_a_chain_of_files(config, depth, loads):
    # Each file nests `depth` levels and includes the next at the bottom; the
    # levels add up across the files and the nesting limit holds for the sum.
    files = 8
    for i in range(files):
        inner = f"!include f{i + 1}.yaml" if i + 1 < files else "end"
        config.write({f"f{i}.yaml": "[" * depth + inner + "]" * depth + "\n"})
    if not loads:
        with pytest.raises(QuarvelIncludeError, match=r"^maximum nesting depth \(1000\)"):
            config.load("!include f0.yaml\n")
        return
    got = config.load("!include f0.yaml\n")
    for _ in range(depth * files):
        assert isinstance(got, list) and len(got) == 1
        got = got[0]
    assert got == "end"


@pytest.mark.parametrize("option", [INC, INC | quarvel.OPT_ANNOTATED | quarvel.OPT_PYYAML_COMPAT])
def test_merge_key_from_an_included_file(config, option):
    config.write({"common.yaml": "a: 1\nb: 2\n"})
    got = config.load("x:\n  <<: !include common.yaml\n  b: 3\n", option=option)
    assert got == {"x": {"a": 1, "b": 3}}


def test_failure_inside_a_directory_walk_names_the_chain(config):
    config.write({"pk/a.yaml": "ok: 1\n", "pk/b.yaml": "x:\n  y: !include nope.yaml\n"})
    with pytest.raises(QuarvelIncludeNotFoundError) as e:
        config.load("top: 1\npackages: !include_dir_named pk\n")
    assert e.value.file == str(config.dir / "pk" / "nope.yaml")
    assert e.value.include_stack == [(config.path(), 2), (str(config.dir / "pk" / "b.yaml"), 2)]


@pytest.mark.parametrize("option", [INC, INC | quarvel.OPT_ANNOTATED])
def test_schema_checks_the_resolved_tree(config, option):
    from quarvel.exceptions import QuarvelSchemaError
    config.write({"port.yaml": "8080\n", "bad.yaml": "\n\nnot a port\n"})
    schema = {"type": "object", "properties": {"port": {"type": "integer"}}}
    assert config.load("port: !include port.yaml\n", option=option, schema=schema) == {"port": 8080}
    with pytest.raises(QuarvelSchemaError) as e:
        config.load("port: !include bad.yaml\n", option=option, schema=schema)
    assert e.value.schema_path == "$.port"
    # A spliced node stands where its directive stands: at the argument.
    assert (e.value.line, e.value.column) == (1, 16)


@pytest.mark.parametrize("extra", [0, quarvel.OPT_ANNOTATED, quarvel.OPT_ROUND_TRIP])
def test_warnings_about_an_included_file_name_it(config, quarvel_warnings, extra):
    # A bare position would point into the root document.
    config.write({"inc.yaml": "a: 1\na: 2\nb: on\n"})
    config.load("k: off\nx: !include inc.yaml\n",
                option=INC | extra | quarvel.OPT_DUPLICATE_KEYS_WARN | quarvel.OPT_YAML_1_1
                | quarvel.OPT_YAML_1_1_WARN)
    inc = str(config.dir / "inc.yaml")
    assert quarvel_warnings() == [
        "YAML 1.1 syntax 'off' resolves as bool in 1.1 but str in 1.2 at line 1, column 4",
        f"duplicate mapping key 'a' at line 2, column 1; keeping the last value in {inc}",
        f"YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 3, column 4 in {inc}",
    ]


@pytest.mark.parametrize("extra", [0, quarvel.OPT_ROUND_TRIP])
def test_a_duplicate_key_error_in_an_included_file_names_it(config, extra):
    config.write({"inc.yaml": "a: 1\na: 2\n"})
    with pytest.raises(quarvel.QuarvelDuplicateKeyError) as e:
        config.load("x: !include inc.yaml\n", option=INC | extra | quarvel.OPT_DUPLICATE_KEYS_ERROR)
    assert (e.value.file, e.value.line) == (str(config.dir / "inc.yaml"), 2)
