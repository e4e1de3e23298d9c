"""Item access through an alias gives a view of the node the alias refers
to: writes through it change that node, so every alias of it sees them."""

import pytest

import quarvel
from quarvel import QuarvelDocumentView

from roundtrip_support import load


@pytest.mark.parametrize(
    "text, path, edit, expected",
    [
        ("a: &x {b: 1}\nc: *x\n", ["c"], ("b", 5), {"a": {"b": 5}, "c": {"b": 5}}),
        ("a: &x {b: 1}\nc: *x\n", ["c"], ("n", [1]), {"a": {"b": 1, "n": [1]},
                                                     "c": {"b": 1, "n": [1]}}),
        ("a: &x [1, 2]\nc: [*x]\n", ["c", 0], (1, "z"), {"a": [1, "z"], "c": [[1, "z"]]}),
        # A reused name: the alias refers to the nearest definition before it.
        ("x: &a {v: 1}\ny: *a\nz: &a {v: 2}\nw: *a\n", ["w"], ("v", 9),
         {"x": {"v": 1}, "y": {"v": 1}, "z": {"v": 9}, "w": {"v": 9}}),
        ("x: &a {v: 1}\ny: *a\nz: &a {v: 2}\nw: *a\n", ["y"], ("v", 9),
         {"x": {"v": 9}, "y": {"v": 9}, "z": {"v": 2}, "w": {"v": 2}}),
        ("base: &b\n  k: 1\nlist:\n  - *b\n  - *b\n", ["list", 1], ("k", 2),
         {"base": {"k": 2}, "list": [{"k": 2}, {"k": 2}]}),
    ],
)
def test_writes_through_an_alias_reach_its_anchor(text, path, edit, expected):
    doc = load(text)
    view = doc
    for step in path:
        view = view[step]
    assert isinstance(view, QuarvelDocumentView)
    view[edit[0]] = edit[1]
    assert doc.to_dict() == expected
    assert quarvel.loads(doc.to_yaml()) == expected


def test_a_recursive_alias_views_its_ancestor():
    doc = load("a: &x\n  b: *x\n  n: 1\n")
    inner = doc["a"]["b"]
    assert repr(inner) == "QuarvelDocumentView(mapping)" and inner["n"] == 1
    inner["n"] = 2
    assert doc["a"]["n"] == 2 and doc["a"]["b"]["b"]["n"] == 2
    assert quarvel.loads(doc.to_yaml(), option=quarvel.OPT_ROUND_TRIP)["a"]["n"] == 2


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: &x 1\nc: *x\n", 1),  # a scalar's alias reads as its value
        ("? &x {k: 1}\n: v\nc: *x\n", {"k": 1}),  # its anchor lies in a key: no path reaches it
    ],
)
def test_aliases_no_view_can_reach_read_as_values(text, expected):
    assert load(text)["c"] == expected


def test_node_cursors_go_through_the_same_node():
    doc = load("x: &a {v: 1}\ny: *a\nz: &a {v: 2}\nw: *a\n")
    assert doc.node["w"].target.line == 3
    doc.node["w"]["v"].value = 7
    assert doc["z"]["v"] == 7 and doc["x"]["v"] == 1
