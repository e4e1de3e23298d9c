"""A realistic configuration tree loaded annotated, against the Home Assistant
loader (annotatedyaml, which needs Python 3.13) where it is installed.

The two agree on every value and, wherever that loader annotates a node, on its
file and line, except where quarvel's own rules decide otherwise:

- a secret carries the position of its !secret directive (that loader gives
  the position inside secrets.yaml);
- that loader reads only ".yaml" names, walks subdirectories in the order the
  file system lists them, always recurses, drops empty files from
  !include_dir_list and non-list files from !include_dir_merge_list, and
  follows any path, inside the configuration directory or not.

The tree avoids those cases; the tests below it pin quarvel's side of each.
"""

import os
import pathlib
import sys

import pytest

import quarvel

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "benchmarks"))
import config_tree  # noqa: E402

OPTION = (quarvel.OPT_ANNOTATED | quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR
          | quarvel.OPT_PYYAML_COMPAT | quarvel.OPT_INCLUDE_DIR_RECURSIVE)


@pytest.fixture
def tree(tmp_path, monkeypatch):
    monkeypatch.delenv("QV_BENCH_PORT", raising=False)
    monkeypatch.setenv("QV_BENCH_UNIT", "K")
    return config_tree.make_tree(tmp_path, packages=25, automations=6, scripts=3, sensors=3)


def load(path):
    return quarvel.loads(path.read_text(), option=OPTION, include_dir=str(path.parent),
                         root_path=str(path))


def locations(ours, theirs, where="$"):
    """Yields (where, ours, theirs) for every node the other loader annotates."""
    if hasattr(theirs, "__config_file__") and not getattr(ours, "is_secret", False):
        yield where, (ours.__file__, ours.__line__), (theirs.__config_file__, theirs.__line__)
    if isinstance(theirs, dict):
        for (k1, v1), (k2, v2) in zip(ours.items(), theirs.items(), strict=True):
            yield from locations(k1, k2, f"{where}.{k2}(key)")
            yield from locations(v1, v2, f"{where}.{k2}")
    elif isinstance(theirs, list):
        for i, (a, b) in enumerate(zip(ours, theirs, strict=True)):
            yield from locations(a, b, f"{where}[{i}]")


def test_tree_values_and_locations(tree):
    got = load(tree)
    pkg = got["homeassistant"]["packages"]
    assert len(pkg) == 25 and pkg.is_include
    assert pkg["pkg_0001"]["mqtt"]["password"] == "package-pw"
    assert pkg["pkg_0000"]["mqtt"]["password"] == "package-pw"  # from packages/more/
    assert got["http"]["api_password"] == "top-secret" and got["http"]["api_password"].is_secret
    assert got["http"]["server_port"] == "8123"
    assert got["homeassistant"]["latitude"] == 52.37
    unit = pkg["pkg_0003"]["template"][0]["sensor"][0]["unit_of_measurement"]
    assert unit == "K" and unit.is_env_var
    assert len(got["automation"]) == 12 and got["automation"].__source_tag__ == (
        "!include_dir_merge_list")
    first = got["automation"][0]
    assert (first.__file__, first.__line__) == (str(tree.parent / "automations/auto_0000.yaml"), 1)
    assert (pkg.__file__, pkg.__line__) == (str(tree), 5)
    assert got["script"]["script_2"]["sequence"][1] == {"delay": 5}


def test_tree_matches_the_home_assistant_loader(tree):
    loader = pytest.importorskip("annotatedyaml.loader")
    theirs = loader.load_yaml(str(tree), loader.Secrets(tree.parent))
    ours = load(tree)
    assert ours == theirs
    mismatched = [(w, a, b) for w, a, b in locations(ours, theirs) if a != b]
    assert mismatched == []


@pytest.mark.parametrize("files, text, expected", [
    # ".yml" is taken (that loader reads only "*.yaml").
    ({"d/a.yml": "a: 1\n"}, "v: !include_dir_named d\n", {"a": {"a": 1}}),
    # Empty files stay as empty mappings in a list (that loader drops them).
    ({"d/a.yaml": "", "d/b.yaml": "1\n"}, "v: !include_dir_list d\n", [{}, 1]),
    # Non-list files are appended to a merged list (that loader drops them).
    ({"d/a.yaml": "[1]\n", "d/b.yaml": "x: 2\n"}, "v: !include_dir_merge_list d\n",
     [1, {"x": 2}]),
    # Subdirectories in name order, each walked whole before the next.
    ({"d/b/1.yaml": "b\n", "d/a/2.yaml": "a\n", "d/a/z/3.yaml": "z\n", "d/c.yaml": "c\n"},
     "v: !include_dir_list d\n", ["c", "a", "z", "b"]),
])
def test_differences_from_the_home_assistant_loader(config, files, text, expected):
    config.write(files)
    got = config.load(text, option=OPTION)["v"]
    assert got == expected


def test_secret_reports_its_directive_position(config):
    config.write({"secrets.yaml": "\n\npw: x\n"})
    got = config.load("a: 1\npw: !secret pw\n", option=OPTION)
    assert (got["pw"].__file__, got["pw"].__line__) == (config.path(), 2)


def test_non_recursive_walk_ignores_subdirectories(config):
    config.write({"d/a.yaml": "1\n", "d/sub/b.yaml": "2\n"})
    option = OPTION & ~quarvel.OPT_INCLUDE_DIR_RECURSIVE
    assert config.load("v: !include_dir_list d\n", option=option)["v"] == [1]
