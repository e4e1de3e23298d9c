"""QuarvelNode cursors: metadata, comments, anchors and aliases."""

import pytest

import quarvel

from roundtrip_support import load, snapshot

TEXT = """\
# about a
a: 1   # one
b: 'two'
c: |
  block
d: >
  folded
e: "dq"
f: !custom x
g: !!str 5
s: [x, {y: z}]
m:
  k: v
n:
"""


@pytest.mark.parametrize(
    "key, style, tag, source_tag",
    [
        ("a", "plain", None, None), ("b", "single", None, None), ("c", "literal", None, None),
        ("d", "folded", None, None), ("e", "double", None, None), ("f", "plain", "!custom", "!custom"),
        ("g", "plain", "!!str", None), ("s", "flow", None, None), ("m", "block", None, None),
        ("n", "null", None, None),
    ],
)
def test_style_and_tags(key, style, tag, source_tag):
    node = load(TEXT).node[key]
    assert (node.style, node.tag, node.source_tag) == (style, tag, source_tag)
    assert node.source_target is None
    assert not (node.is_secret or node.is_env_var or node.is_include or node.is_alias)


@pytest.mark.parametrize("tag, flag", [("!secret", "is_secret"), ("!env_var", "is_env_var"),
                                       ("!include", "is_include"),
                                       ("!include_dir_merge_named", "is_include")])
def test_directive_tags_written_as_tags_are_source_tags(tag, flag):
    node = load(f"a: {tag} name\n").node["a"]
    assert node.source_tag == tag and getattr(node, flag)


def test_positions():
    text = "a: 1\nb:\n  c: héllo\n"
    doc = load(text)
    node = doc.node["b"]["c"]
    assert (node.line, node.column) == (3, 6)
    raw = text.encode()
    assert raw[node.offset:node.end_offset] == "héllo".encode()
    assert node.file is None


def test_value_reads_and_alias_values():
    doc = load("base: &b {x: [1]}\nother: *b\n")
    assert doc.node.value == {"base": {"x": [1]}, "other": {"x": [1]}}
    assert doc.node["other"].value == {"x": [1]}
    assert doc.node["other"].is_alias and doc.node["other"].style == "alias"


def test_comment_read_and_write():
    doc = load(TEXT)
    node = doc.node["a"]
    assert node.comment.strip() == "one"
    node.comment = "# new"
    assert node.comment == "# new"
    node.comment = None
    assert node.comment is None
    doc.node["b"].comment = "added"
    assert doc.node["b"].comment == "added"
    assert doc.to_dict() == load(TEXT).to_dict()


def test_comment_before_goes_through_the_key():
    doc = load("x: 0\n# about a\na: 1\n")
    node = doc.node["a"]
    assert node.comment_before.strip() == "about a"
    node.comment_before = "first\nsecond"
    assert node.comment_before == "first\nsecond"
    assert doc.node["a"].comment_before == "first\nsecond"
    node.comment_before = None
    assert node.comment_before is None
    seq = load("- 1\n# above two\n- 2\n").node[1]
    assert seq.comment_before.strip() == "above two"


@pytest.mark.parametrize("text, path", [
    ("k:\n  # about a\n  a: 1\n  b: 2\n", ("k", "a")),
    ("k:\n  # about a\n  - 1\n", ("k", 0)),
])
def test_the_lines_above_a_nested_first_entry_are_its_own(text, path):
    def node(doc):
        return doc.node[path[0]][path[1]]
    doc = load(text)
    assert node(doc).comment_before == "about a" and doc.node["k"].comment_before is None
    node(doc).comment_before = "new"
    doc.node["k"].comment_before = "above k"
    again = load(doc.to_yaml())
    assert node(again).comment_before == "new" and again.node["k"].comment_before == "above k"


@pytest.mark.parametrize(
    "prop, value, exc, match",
    [
        ("comment", 5, TypeError, "text"), ("comment_before", b"x", TypeError, "text"),
        ("anchor", 1, TypeError, "name"), ("comment", "a\nb", ValueError, "line break"),
        ("anchor", "", ValueError, "^anchor name cannot be empty$"),
        ("anchor", "has space", ValueError, "anchor name"),
        ("anchor", "base", ValueError, "^anchor name 'base' is already used by another node$"),
    ],
)
def test_setter_refusals_leave_the_document_unchanged(prop, value, exc, match):
    doc = load("base: &base {x: 1}\nother: 2  # c\n")
    before = snapshot(doc)
    with pytest.raises(exc, match=match):
        setattr(doc.node["other"], prop, value)
    assert snapshot(doc) == before


@pytest.mark.parametrize("prop", ["value", "comment", "comment_before", "anchor"])
def test_properties_cannot_be_deleted(prop):
    node = load("a: 1\n").node["a"]
    with pytest.raises(AttributeError, match="can't delete attribute"):
        delattr(node, prop)


def test_read_only_properties():
    node = load("a: 1\n").node["a"]
    for prop in ("line", "style", "tag", "target", "aliases", "is_alias", "file"):
        with pytest.raises(AttributeError):
            setattr(node, prop, 1)


def test_setting_value_keeps_comments_anchor_and_tag():
    doc = load("x: 0\n# head\na: &x !t [0]  # tail\n")
    node = doc.node["a"]
    node.value = [1, 2]
    assert node.value == [1, 2]
    assert node.anchor == "x" and node.tag == "!t" and node.comment == "tail"
    assert node.comment_before.strip() == "head"


def test_anchor_rules():
    doc = load("a: &one 1\nb: 2\n")
    doc.node["a"].anchor = "one"
    doc.node["b"].anchor = "two"
    assert doc.node["b"].anchor == "two"
    assert sorted(doc.anchors) == ["one", "two"]
    doc.node["a"].anchor = None
    assert doc.node["a"].anchor is None
    doc.node["b"].anchor = "one"
    assert repr(doc.anchors["one"]) == "QuarvelNode(scalar)"


def test_anchors_property_keeps_the_later_definition():
    doc = load("a: &x 1\nb: &x [2]\n")
    assert repr(doc.anchors["x"]) == "QuarvelNode(sequence)"


BASE = "base: &b\n  x: 1\nother: 2\nlast: &late 3\n"


def test_make_alias_of_an_earlier_anchor():
    doc = load(BASE)
    other = doc.node["other"]
    assert other.make_alias("b") is None
    assert other.is_alias and other.value == {"x": 1}
    assert doc.to_dict()["other"] == {"x": 1}
    assert repr(other.target) == "QuarvelNode(mapping)"
    assert [repr(a) for a in doc.node["base"].aliases] == ["QuarvelNode(alias)"]
    assert other["x"].value == 1


@pytest.mark.parametrize(
    "path, name, message",
    [
        (("other",), "nope", "^no anchor '&nope' is defined in this document$"),
        (("base", "x"), "b",
         "^anchor '&b' contains the alias that would reference it, which is a cycle$"),
        (("base",), "b",
         "^anchor '&b' contains the alias that would reference it, which is a cycle$"),
        (("other",), "late", "^anchor '&late' must be defined before the alias that references it$"),
    ],
)
def test_make_alias_refusals(path, name, message):
    doc = load(BASE)
    node = doc.node
    for step in path:
        node = node[step]
    before = snapshot(doc)
    with pytest.raises(ValueError, match=message):
        node.make_alias(name)
    assert snapshot(doc) == before


def test_make_alias_drops_the_nodes_own_anchor_and_checks_its_argument():
    doc = load("a: &x 1\nb: &y 2\n")
    doc.node["b"].make_alias("x")
    assert doc.node["b"].anchor is None and doc.anchors.keys() == {"x"}
    with pytest.raises(TypeError, match="name"):
        doc.node["a"].make_alias(3)


def test_alias_before_anchor_in_prefix_order():
    doc = load("outer:\n  inner: &i 1\n")
    with pytest.raises(ValueError, match="must be defined before"):
        doc.node["outer"].make_alias("i")


def test_indexing_through_an_alias():
    doc = load("base: &b {port: 80, list: [1]}\nother: *b\n")
    port = doc.node["other"]["port"]
    assert port.value == 80
    port.value = 81
    assert doc.to_dict()["base"]["port"] == 81
    assert doc.node["other"]["list"][0].value == 1
    with pytest.raises(KeyError, match="missing"):
        doc.node["other"]["missing"]
    with pytest.raises(IndexError, match="index out of range"):
        doc.node["base"]["list"][3]
    with pytest.raises(TypeError, match="mapping keys must be str or int"):
        doc.node["base"][-2]
    assert "port" in doc.node["base"] and 0 not in doc.node["base"]


def test_detach_expands_nested_aliases_without_anchors():
    doc = load("inner: &i [1]\nbase: &b {x: *i, y: 2}\nc1: *b\nc2: *b\n")
    copy = doc.node["c1"].detach()
    assert repr(copy) == "QuarvelNode(mapping)"
    assert not copy.is_alias and copy.anchor is None
    assert copy["x"].value == [1] and not copy["x"].is_alias
    assert doc.node["c2"].is_alias
    copy["y"].value = 3
    assert doc.to_dict()["base"]["y"] == 2
    assert doc.to_dict()["c1"] == {"x": [1], "y": 3}


@pytest.mark.parametrize("text, written", [
    ("p: &x\n- 1\nq:\n  k: *x\n", "q:\n  k:\n  - 1\n"),
    ("p: &x\n- a: 1\n  # c\n  b: 2\nq:\n  k: *x\n", "q:\n  k:\n  - a: 1\n    # c\n    b: 2\n"),
    # Plain text read in block context that a flow collection would split.
    ("p: &x\n  k{,}: v]\nq: {k: *x}\n", 'q: {k: {"k{,}": "v]"}}\n'),
])
def test_a_detached_block_collection_nests_where_it_is_written(text, written):
    doc = load(text)
    doc.node["q"]["k"].detach()
    out = doc.to_yaml().decode()
    assert out.endswith(written)
    assert quarvel.loads(out) == quarvel.loads(text)


def test_a_detached_copy_on_the_line_of_a_compact_item_is_indented_as_one():
    # The alias took the place of a compact item ("- - x"), so the copy starts
    # on that dash's line; its other items must follow it there, not stay at
    # the column they have under p.
    doc = load("p: &b\n- - x\n- - o:\n- y\nq:\n- - z\n")
    doc.node["q"][0].make_alias("b")
    doc.node["q"][0].detach()
    out = doc.to_yaml().decode()
    assert out.endswith("q:\n- - - x\n  - - o:\n  - y\n")
    assert quarvel.loads(out)["q"] == [quarvel.loads(out)["p"]]


@pytest.mark.parametrize("text, written", [
    # The copy stands where the alias stood: the empty document after it stays.
    ("a: &k\nb: *k\n---\n---\nc: 1\n", "a: &k\nb:\n---\n---\nc: 1\n"),
    # The alias's own comment stays on its line.
    ("a: &k [1]\nb: *k # note\n", "a: &k [1]\nb: [1] # note\n"),
])
def test_a_detached_alias_keeps_its_place(text, written):
    doc = load(text)
    node = doc[0].node if "---" in text else doc.node
    node["b"].detach()
    assert doc.to_yaml().decode() == written


@pytest.mark.parametrize(
    "text, key, exc, message",
    [
        ("a: 1\n", "a", TypeError, "^detach\\(\\) is only valid on an alias node$"),
        ("a: *nowhere\n", "a", KeyError, "alias \\*nowhere has no anchor to detach"),
    ],
)
def test_detach_refusals(text, key, exc, message):
    doc = load(text)
    before = snapshot(doc)
    with pytest.raises(exc, match=message):
        doc.node[key].detach()
    assert snapshot(doc) == before


def test_stale_cursor():
    doc = load("a: {b: 1}\n")
    node = doc.node["a"]["b"]
    doc["a"] = 1
    assert repr(node) == "QuarvelNode(<stale>)"
    for op in (lambda n: n.value, lambda n: n.line, lambda n: n.comment, lambda n: n["x"],
               lambda n: n.detach(), lambda n: n.aliases, lambda n: "x" in n):
        with pytest.raises(KeyError, match="stale node"):
            op(node)
    for prop, value in (("value", 1), ("comment", "c"), ("anchor", "z"), ("comment_before", "c")):
        with pytest.raises(KeyError, match="stale node"):
            setattr(node, prop, value)
    doc["a"] = {"b": 2}
    assert node.value == 2


def test_text_signatures():
    import quarvel

    assert quarvel.QuarvelNode.make_alias.__text_signature__ == "($self, name)"
    assert quarvel.QuarvelNode.detach.__text_signature__ == "($self)"


def test_view_node_and_document_node():
    doc = load("a: {b: 1}\n")
    assert repr(doc.node) == "QuarvelNode(mapping)"
    assert doc["a"].node["b"].value == 1


@pytest.mark.parametrize("text, key, written", [
    ("{k: &n, j: 1}\n", "k", b"{k: &n null, j: 1}\n"),
    ("[&n, 1]\n", 0, b"[&n null, 1]\n"),
    ("{k: &n , j: 1}\n", "k", b"{k: &n null, j: 1}\n"),
    # The tag a null does not keep is not copied from the source with the anchor.
    ("{k: !s &n, j: 1}\n", "k", b"{k: &n null, j: 1}\n"),
])
def test_a_null_set_on_an_empty_anchored_node_keeps_its_anchor_apart(text, key, written):
    doc = load(text)
    doc.node[key].value = None
    assert doc.to_yaml() == written
    again = load(written)
    assert again.node[key].anchor == "n" and again.to_dict() == doc.to_dict()
