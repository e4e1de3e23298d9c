"""Aliases and the edits around them: an alias refers to the nearest
definition of its name before it, no edit leaves an alias without its
anchor, and an alias used as a key never changes behind the mapping."""

import pytest

import quarvel
from roundtrip_support import load, snapshot


def reads_back(doc):
    assert quarvel.loads(doc.to_yaml()) == doc.to_dict()


@pytest.mark.parametrize(
    "text, path, action, message",
    [
        ("a: &k v\nb: *k\n", ("a",), lambda n: setattr(n, "anchor", "n"),
         "^anchor '&k' cannot be renamed: alias \\*k at line 2, column 4 refers to it"),
        ("a: &k v\nb: *k\n", ("a",), lambda n: setattr(n, "anchor", None),
         "^anchor '&k' cannot be removed: alias \\*k at line 2, column 4 refers to it$"),
        ("a: &k v\nb: [*k]\n", ("a",), lambda n: setattr(n, "anchor", None), "cannot be removed"),
        ("a: {x: &k v}\nb: *k\n", ("a",), lambda n: setattr(n, "value", 1),
         "^the edit would remove anchor '&k', which alias \\*k at line 2, column 4 refers to$"),
        ("a: [&k v]\nb: *k\n", ("a",), lambda n: n.make_alias("zz"), "no anchor"),
        ("x: &z 0\na: [&k v]\nb: *k\n", ("a",), lambda n: n.make_alias("z"),
         "^the edit would remove anchor '&k'"),
        ("x: &z 0\na: &k v\nb: *k\n", ("a",), lambda n: n.make_alias("z"), "anchor '&k'"),
        ("a: &k v\n*k : 1\n", ("a",), lambda n: setattr(n, "value", "w"),
         "^the edit would change '&k', which alias \\*k at line 2, column 1 uses as a mapping key$"),
        ("a: &k {x: 1}\n*k : 1\n", ("a", "x"), lambda n: setattr(n, "value", 2), "mapping key"),
        ("a: &k v\nb: *k\n", ("b",), lambda n: setattr(n, "anchor", "m"),
         "^an alias cannot carry an anchor$"),
        ("a: 1\nb: *n\n", ("a",), lambda n: setattr(n, "anchor", "n"),
         "^anchor name 'n' would be taken by alias \\*n at line 2, column 4, which refers to no anchor$"),
        ("a: &k v\nb: *k\nc: &m 1\n", ("a",), lambda n: n.rename_anchor("m"),
         "^anchor name 'm' is already used by another node$"),
        ("a: v\n", ("a",), lambda n: n.rename_anchor("m"), "^the node has no anchor to rename$"),
    ],
)
def test_refused_anchor_edits_change_nothing(text, path, action, message):
    doc = load(text)
    node = doc.node
    for step in path:
        node = node[step]
    before = (snapshot(doc), doc.to_yaml())
    with pytest.raises(ValueError, match=message):
        action(node)
    assert (snapshot(doc), doc.to_yaml()) == before


def test_assignment_over_a_referenced_anchor_is_refused():
    doc = load("p: {q: &k [1]}\nr: *k\n")
    with pytest.raises(ValueError, match="anchor '&k'"):
        doc["p"] = 1
    doc["p"]["q"].append(2)  # aliases follow edits of the anchored node
    assert doc.to_dict() == {"p": {"q": [1, 2]}, "r": [1, 2]}
    doc["p"]["q"] = "new"  # a replaced value keeps its node's anchor
    assert doc.to_dict() == {"p": {"q": "new"}, "r": "new"}
    reads_back(doc)


def test_rename_anchor_renames_its_aliases():
    doc = load("a: &k v\nb: *k\nc: [*k]\nd: &k w\ne: *k\n")
    doc.node["a"].rename_anchor("n")
    assert doc.to_yaml() == b"a: &n v\nb: *n\nc: [*n]\nd: &k w\ne: *k\n"
    reads_back(doc)


def test_aliases_include_keys_and_follow_redefinitions():
    doc = load("a: &k v\n*k : 1\nb: *k\nc: &k w\nd: *k\n")
    first = doc.node["a"].aliases
    assert [(repr(n), n.value, n.line, n.column) for n in first] == [
        ("QuarvelNode(alias)", "v", 2, 1), ("QuarvelNode(alias)", "v", 3, 4)]
    assert [n.line for n in doc.node["c"].aliases] == [5]
    assert doc.node["d"].target.line == 4 and doc.node["b"].target.line == 1
    with pytest.raises(ValueError, match="a mapping key cannot be replaced"):
        first[0].value = "x"
    first[0].detach()
    assert quarvel.loads(doc.to_yaml()) == {"a": "v", "v": 1, "b": "v", "c": "w", "d": "w"}


@pytest.mark.parametrize(
    "text, key, value",
    [
        ("x: &a 1\ny: *a\nz: &a 2\nw: *a\n", "w", 2),
        ("x: &a 1\ny: *a\nz: &a 2\nw: *a\n", "y", 1),
        ("x: &a 1\nz: &a 2\nb: &b [*a]\nw: *b\n", "w", [2]),
        # An alias inside the definition it names is a cycle, read as None.
        ("a: &a [x, *a]\nb: *a\n", "b", ["x", ["x", None]]),
        ("a: &a [x, {k: *a}]\nb: *a\n", "b", ["x", {"k": ["x", {"k": None}]}]),
        ("a: &a [x, *a, *a]\n", ("a", 1), ["x", None, None]),
    ],
)
def test_detach_copies_the_definition_the_alias_reads(text, key, value):
    doc = load(text)
    path = key if isinstance(key, tuple) else (key,)
    at = doc.to_dict()
    node = doc.node
    for step in path:
        at, node = at[step], node[step]
    assert at == value
    node.detach()
    at = doc.to_dict()
    for step in path:
        at = at[step]
    assert at == value
    if "[x" not in text:  # a text with a cycle is no YAML that plain loading reads
        reads_back(doc)


def test_make_alias_refers_to_the_nearest_definition():
    doc = load("a: &k 1\nc: &k {x: 0}\n")
    with pytest.raises(ValueError, match="cycle"):
        doc.node["c"]["x"].make_alias("k")
    doc = load("c: &k {p: &k 1, x: 0}\n")
    doc.node["c"]["x"].make_alias("k")
    assert doc.to_dict() == {"c": {"p": 1, "x": 1}}
    reads_back(doc)


def test_anchor_checks_scale_with_one_walk():
    items = "".join(f"- &a{i} {i}\n- *a{i}\n" for i in range(20000))
    doc = load("s:\n" + "".join("  " + line for line in items.splitlines(True)))
    doc.node["s"][0].rename_anchor("first")
    assert doc.node["s"][1].value == 0
    del doc["s"][39999]
    del doc["s"][39998]
    assert len(doc["s"]) == 39998
