"""Reading and writing round-trip documents through the document and its views."""

import pytest

import quarvel
from quarvel import QuarvelDocument, QuarvelDocumentView

from roundtrip_support import load

NESTED = "a: {b: 1}\nseq: [1, 2]\n"


def test_loads_returns_a_document_owning_every_root():
    doc = load("a: 1\n---\nb: 2\n")
    assert isinstance(doc, QuarvelDocument)
    assert repr(doc) == "QuarvelDocument(documents=2)"
    assert doc.to_dict() == [{"a": 1}, {"b": 2}]


def test_classes_cannot_be_instantiated():
    for cls in (QuarvelDocument, QuarvelDocumentView, quarvel.QuarvelNode):
        with pytest.raises(TypeError):
            cls()


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: 1\nb: 1.5\nc: true\nd: null\ne: ~\nf: text\n",
         {"a": 1, "b": 1.5, "c": True, "d": None, "e": None, "f": "text"}),
        # Quoted and block scalars are strings whatever they look like.
        ("a: '1'\nb: \"true\"\nc: |\n  null\n", {"a": "1", "b": "true", "c": "null\n"}),
        # Read by YAML 1.2 rules: yes, on and 0o17 as 1.2 reads them.
        ("a: yes\nb: on\nc: 0o17\nd: 012\n", {"a": "yes", "b": "on", "c": 15, "d": "012"}),
        ("a: !!str 1\nb: !!int '7'\nc: !!float 2\n", {"a": "1", "b": 7, "c": 2.0}),
        ("a: 123456789012345678901234567890\n", {"a": 123456789012345678901234567890}),
        ("? [1, 2]\n: pair\n? {k: v}\n: map\n", {(1, 2): "pair", (("k", "v"),): "map"}),
        ("a: 1\na: 2\n", {"a": 2}),
        ("- a\n- [b, {c: d}]\n", ["a", ["b", {"c": "d"}]]),
        ("plain scalar\n", "plain scalar"),
        ("a: .inf\nb: -.INF\n", {"a": float("inf"), "b": float("-inf")}),
    ],
)
def test_values_convert_by_yaml_1_2_rules(text, expected):
    assert load(text).to_dict() == expected


def test_two_aliases_of_one_anchor_give_one_object():
    data = load("x: &a [1]\ny: *a\nz: *a\n").to_dict()
    assert data["x"] is data["y"] is data["z"]


@pytest.mark.parametrize("text, expected", [("a: *nowhere\n", {"a": None}),
                                            ("- &a 1\n- *a\n", [1, 1]),
                                            ("a: &x\nb: *x\n", {"a": None, "b": None})])
def test_alias_values(text, expected):
    assert load(text).to_dict() == expected


def test_reading_a_key_gives_a_view_or_a_value():
    doc = load(NESTED)
    view = doc["a"]
    assert isinstance(view, QuarvelDocumentView)
    assert repr(view) == "QuarvelDocumentView(mapping)"
    assert view["b"] == 1
    assert doc["seq"][1] == 2
    assert repr(doc["seq"]) == "QuarvelDocumentView(sequence)"


def test_view_of_an_alias_entry_reads_the_anchored_value():
    doc = load("base: &b {x: 1}\nother: *b\n")
    assert doc["other"].unwrap() == {"x": 1}


@pytest.mark.parametrize(
    "path, exc, message",
    [
        (["seq", 5], IndexError, "index out of range"),
        (["seq", "x"], IndexError, "index out of range"),
        (["seq", -1], TypeError, "mapping keys must be str or int"),
        (["a", "zz"], KeyError, "zz"),
        (["a", 0], KeyError, "0"),
        ([1.5], TypeError, "mapping keys must be str or int"),
        ([None], TypeError, "mapping keys must be str or int"),
        (["missing"], KeyError, "missing"),
    ],
)
def test_read_errors(path, exc, message):
    doc = load(NESTED + "s: text\n")
    node = doc
    with pytest.raises(exc) as info:
        for step in path:
            node = node[step]
    assert info.value.args == (message,)


def test_key_matching_is_by_exact_text():
    doc = load("'quoted': 1\n1: one\n\"x y\": 2\n")
    assert doc["quoted"] == 1
    assert doc["1"] == "one"
    with pytest.raises(KeyError):
        doc[1]
    assert doc.keys() == ["quoted", 1, "x y"]
    assert "1" in doc and 1 not in doc and "x y" in doc


def test_integer_like_keys_use_their_index():
    class Two:
        def __index__(self):
            return 1

    doc = load("[a, b, c]\n")
    assert doc[Two()] == "b"
    assert doc[True] == "b"


@pytest.mark.parametrize(
    "text, length", [("a: 1\nb: 2\n", 2), ("[1, 2, 3]\n", 3), ("scalar\n", 1), ("", 0),
                     ("a: 1\n---\nb\n---\nc\n", 3)])
def test_len(text, length):
    assert len(load(text)) == length


def test_view_length_and_contains():
    doc = load("m: {a: 1, b: 2}\ns: [1]\n")
    assert len(doc["m"]) == 2 and len(doc["s"]) == 1
    assert "a" in doc["m"] and "z" not in doc["m"] and 0 not in doc["s"]


def test_multi_document_access():
    doc = load("a: 1\n---\nb: {c: 2}\n")
    assert len(doc) == 2
    with pytest.raises(KeyError) as info:
        doc["a"]
    assert info.value.args == ("multi-document access requires an integer index",)
    assert doc[0]["a"] == 1
    assert doc[1]["b"]["c"] == 2
    with pytest.raises(IndexError, match="index out of range"):
        doc[2]
    assert "a" not in doc
    with pytest.raises(TypeError, match="keys\\(\\) is only available on a single mapping document"):
        doc.keys()
    # The node cursor is the first document's.
    doc.node["a"].value = 5
    assert doc.node["a"].value == 5 and doc.to_dict() == [{"a": 5}, {"b": {"c": 2}}]


def test_multi_document_root_assignment_keeps_comments():
    doc = load("# top\na: 1\n---\nb: 2\n")
    doc[0] = {"z": None}
    assert doc.to_dict() == [{"z": None}, {"b": 2}]
    assert doc.node.comment_before.strip() == "top"
    assert repr(doc[0].node) == "QuarvelNode(mapping)"
    for index in (2, -1, 2**70, -(2**70)):
        with pytest.raises(IndexError, match="^index out of range$"):
            doc[index] = 1
    with pytest.raises(TypeError):
        doc["x"] = 1
    assert doc.to_dict() == [{"z": None}, {"b": 2}]


def replace_root(doc):
    doc.node.value = {"b": 2}


def add_entry(doc):
    doc["b"] = 2


def rename_then_replace(doc):
    doc.node.anchor = "n"
    replace_root(doc)


def empty_then_replace(doc):
    doc["k"] = None
    assert doc.to_yaml() == b"k:\n---"
    replace_root(doc)


def rename(doc):
    doc.node.anchor = "n"


def replace_second(doc):
    doc[1] = {"b": 2}


def comment_first_item(doc):
    doc.node[0].comment = "x"


@pytest.mark.parametrize("edit, text, expected", [
    (replace_root, ".\n%YAML 1.2\n---\n...\n", "b: 2\n---\n...\n"),
    (replace_root, "a: 1\n--- # c\n", "b: 2\n--- # c\n"),
    (replace_root, "- 1\n...\n---\n", "b: 2\n...\n---\n"),
    (add_entry, "a: 1\n---\n...\n", "a: 1\nb: 2\n---\n...\n"),
    # Lines broken by carriage returns alone keep them; a mix gets line feeds.
    (add_entry, "a: 1\r# c\r---\r", "a: 1\rb: 2\r# c\r---\r"),
    (add_entry, "a: 1\r---\n", "a: 1\nb: 2\n---\n"),
    # A document after "..." needs no "---".
    (replace_second, "a\n...\n# c\nb\n", "a\n...\n# c\nb: 2\n"),
    (replace_second, "a\n---\n...\n!t b\n", "a\n---\n...\nb: 2\n"),
    # Properties on lines of their own; an empty root stands at the next token.
    (replace_second, "a\n--- # c1\n--- # c2\n!t\n- 1\n", "a\n--- # c1\n--- # c2\nb: 2\n"),
    (replace_second, "&a\n---\n---\n!t\nb\n", "&a\n---\n---\nb: 2\n"),
    (replace_root, "&a\n---\n---\n!t\nb\n", "&a\nb: 2\n---\n---\n!t\nb\n"),
    (rename_then_replace, "&a\n---\n", "&n\nb: 2\n---\n"),
    (empty_then_replace, "k:\n a:\n---", "b: 2\n---"),
    # The replaced root's own properties stood after the empty document.
    (replace_second, "2\n---\n...\n!!str\nd\n", "2\n---\n...\nb: 2\n"),
    # Properties on a line of their own, changed; a blank line with a tab.
    (rename, "---\n...\n&a\n2\n", "---\n...\n&n 2\n"),
    # A byte order mark opens the text: the empty document after it stays.
    (rename, "\ufeff\n---\n--- !s a\n", "\ufeff\n---\n---\n!s &n a\n"),
    (replace_root, "---\n\t\n...\ne", "---\n\t\n...\nb: 2"),
    # A comment below an empty root's properties is not written twice.
    (replace_second, "a\n--- !t\n  # c\n--- !s\n", "a\n---\nb: 2\n  # c\n--- !s\n"),
    # After a block scalar written anew, the comment lines stay comments and
    # the empty document after them stays.
    (comment_first_item, "- >\n#\n\n---\n", "- >- # x\n#\n\n---\n"),
    # The same before a document that follows the empty one.
    (comment_first_item, "- >\n#\n---\n---\nb\n", "- >- # x\n#\n---\n---\nb\n"),
])
def test_an_edited_root_keeps_the_empty_documents_around_it(edit, text, expected):
    doc = load(text)
    assert doc.to_yaml() == text.encode()
    edit(doc)
    assert doc.to_yaml().decode() == expected
    assert len(quarvel.loads_all(expected)) == len(quarvel.loads_all(text))


def test_empty_document():
    doc = load("# only a comment\n")
    assert len(doc) == 0 and doc.to_dict() == [] and doc.walk() == []
    assert repr(doc) == "QuarvelDocument(documents=0)"
    with pytest.raises(IndexError):
        doc[0]
    assert quarvel.to_json(doc) == b"null"


def test_keys_of_non_mappings():
    with pytest.raises(TypeError, match="^node is not a mapping$"):
        load("[1]\n").keys()
    with pytest.raises(TypeError, match="^node is not a mapping$"):
        load("a: [1]\n")["a"].keys()


def test_get_returns_default_on_any_error():
    doc = load(NESTED)
    assert doc.get("a")["b"] == 1
    assert doc.get("missing") is None
    assert doc.get("missing", 7) == 7
    assert doc.get(1.5, "d") == "d"
    assert doc["a"].get("zz", 3) == 3
    assert QuarvelDocument.get.__text_signature__ == "($self, key, default)"


def test_walk_lists_leaves_with_their_paths():
    doc = load("a:\n  - 1\n  - b: null\nc: [ ]\n? [k]\n: skipped\n")
    assert doc.walk() == [(("a", 0), 1), (("a", 1, "b"), None)]
    assert doc["a"].walk() == [((0,), 1), ((1, "b"), None)]


def test_range_is_one_based():
    doc = load("a:\n  b: 1\n")
    assert doc.range() == (1, 1, 2, 7)
    assert doc["a"].range() == (2, 3, 2, 7)


def test_origin():
    doc = load("a: 1\n")
    assert doc.origin is None
    assert doc.set_origin("/tmp/x.yaml") is None
    assert doc.origin == "/tmp/x.yaml"
    with pytest.raises(TypeError, match="path"):
        doc.set_origin(3)


def test_deleting_items():
    doc = load("a: [1]\nb: 2\n")
    del doc["b"]
    del doc["a"][0]
    assert doc.to_dict() == {"a": []}
    assert quarvel.loads(doc.to_yaml()) == {"a": []}


@pytest.mark.parametrize(
    "value, expected",
    [
        (None, None), (True, True), (False, False), (0, 0), (-5, -5), (2**70, 2**70),
        (1.5, 1.5), (1e20, 1e20), (float("inf"), float("inf")), ("text", "text"),
        ("yes", "yes"), ("1", "1"), ("", ""), ("null", "null"), ("a: b", "a: b"),
        ("it's", "it's"), ("line\nbreak", "line\nbreak"), ([1, [2]], [1, [2]]),
        ({"k": {"n": None}}, {"k": {"n": None}}), ({1: "int key"}, {1: "int key"}),
    ],
)
def test_assigned_values_read_back(value, expected):
    doc = load("a: 0\n")
    doc["a"] = value
    doc["new"] = value
    assert doc.to_dict() == {"a": expected, "new": expected}


def test_assigning_an_object_with_float_conversion():
    class Half:
        def __float__(self):
            return 0.5

    doc = load("a: 0\n")
    doc["a"] = Half()
    assert doc["a"] == 0.5


@pytest.mark.parametrize(
    "text, option, style",
    [
        ("yes", 0, "double"), ("yes", quarvel.OPT_SINGLE_QUOTES, "single"),
        ("it's: x", quarvel.OPT_SINGLE_QUOTES, "double"), ("a\nb", quarvel.OPT_SINGLE_QUOTES, "double"),
        ("", quarvel.OPT_SINGLE_QUOTES, "single"), ("", 0, "double"), ("plain", 0, "plain"),
        ("12", 0, "double"), ("#x", quarvel.OPT_SINGLE_QUOTES, "single"),
    ],
)
def test_new_strings_are_quoted_when_plain_would_misread(text, option, style):
    doc = load("a: 0\n", option)
    doc["b"] = text
    assert doc.node["b"].style == style


def test_new_keys_that_need_quotes_read_back():
    doc = load("a: 0\n")
    doc["x: y"] = 1
    doc["true"] = 2
    assert doc.to_dict() == {"a": 0, "x: y": 1, "true": 2}


@pytest.mark.parametrize(
    "target, key, exc, message",
    [
        (["seq"], 9, IndexError, "index out of range"),
        (["seq"], "x", IndexError, "index out of range"),
        (["m"], 0, TypeError, "mapping keys must be str"),
        (["m"], -1, TypeError, "mapping keys must be str or int"),
        (["m"], 2.5, TypeError, "mapping keys must be str or int"),
    ],
)
def test_assignment_errors_leave_the_tree_unchanged(target, key, exc, message):
    doc = load("m: {a: 1}\nseq: [1]\ns: x\n")
    before = doc.to_dict()
    container = doc
    for step in target:
        container = container[step]
    with pytest.raises(exc) as info:
        container[key] = 1
    assert info.value.args == (message,)
    assert doc.to_dict() == before


def test_assigning_into_a_scalar_root():
    doc = load("just text\n")
    with pytest.raises(TypeError, match="^node is not a mapping or sequence$"):
        doc["a"] = 1
    assert doc.to_dict() == "just text"


@pytest.mark.parametrize("value", [object(), (1, 2), {1, 2}, b"bytes", [1, object()],
                                   {"k": [object()]}])
def test_unsupported_values_are_refused_whole(value):
    doc = load("a: 1\nb: [2]\n")
    with pytest.raises(TypeError, match=r"^cannot convert .* to a YAML node$"):
        doc["a"] = value
    with pytest.raises(TypeError, match=r"^cannot convert .* to a YAML node$"):
        doc["b"][0] = value
    assert doc.to_dict() == {"a": 1, "b": [2]}


def test_unsupported_value_message_uses_repr():
    class Thing:
        def __repr__(self):
            return "<thing>"

    with pytest.raises(TypeError) as info:
        load("a: 1\n")["a"] = Thing()
    assert str(info.value) == "cannot convert <thing> to a YAML node"


def test_stale_view_after_its_container_is_replaced():
    doc = load("a: {b: 1}\n")
    view = doc["a"]
    doc["a"] = 5
    assert repr(view) == "QuarvelDocumentView(scalar)"
    with pytest.raises(KeyError) as info:
        view["b"]
    assert info.value.args == ("stale view",)


def test_stale_view_when_path_vanishes_and_live_again_when_restored():
    doc = load("a: {b: {c: 1}}\n")
    inner = doc["a"]["b"]
    doc["a"] = {"x": 1}
    assert repr(inner) == "QuarvelDocumentView(<stale>)"
    for op in (len, lambda v: v.keys(), lambda v: v.unwrap(), lambda v: v.to_dict(),
               lambda v: "c" in v, lambda v: v.range(), lambda v: v.walk(), lambda v: v.node):
        with pytest.raises(KeyError, match="stale view"):
            op(inner)
    with pytest.raises(KeyError, match="stale view"):
        inner["c"] = 2
    assert inner.get("c", "dflt") == "dflt"
    doc["a"] = {"b": {"c": 3}}
    assert inner["c"] == 3


def test_views_see_edits_made_through_other_handles():
    doc = load("a: {b: 1}\n")
    v1, v2 = doc["a"], doc["a"]
    v1["b"] = 2
    v1["c"] = [1]
    assert v2.unwrap() == {"b": 2, "c": [1]}
    assert v2.keys() == ["b", "c"]


def test_views_and_cursors_keep_their_document_alive():
    view = load("a: {b: 1}\n")["a"]
    node = load("a: 1\n").node["a"]
    import gc

    gc.collect()
    assert view["b"] == 1 and node.value == 1


def test_to_json_and_dumps_of_views():
    doc = load("a: {b: [1, null]}\n")
    assert quarvel.to_json(doc) == b'{"a":{"b":[1,null]}}'
    assert quarvel.to_json(doc["a"]) == b'{"b":[1,null]}'
    assert quarvel.loads(quarvel.dumps(doc["a"])) == {"b": [1, None]}


@pytest.mark.parametrize(
    "option, message",
    [
        (quarvel.OPT_NULL_AS_KEYWORD | quarvel.OPT_NULL_AS_TILDE,
         "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"),
    ],
)
def test_round_trip_option_conflicts(option, message):
    with pytest.raises(ValueError, match=message):
        load("a: 1\n", option)


def test_parse_errors_raise_the_parse_error_class():
    with pytest.raises(quarvel.exceptions.QuarvelParseError):
        load("a: [1\n")


def test_duplicate_key_option_applies():
    with pytest.raises(quarvel.exceptions.QuarvelDuplicateKeyError):
        load("a: 1\na: 2\n", quarvel.OPT_DUPLICATE_KEYS_ERROR)


def test_upgrade_rewrites_1_1_spellings():
    doc = load("a: yes\nb: 010\n", quarvel.OPT_UPGRADE_1_1)
    assert doc.to_dict() == {"a": True, "b": 8}


# An application tag stays on a new scalar and is dropped with a mapping or
# None in its place (the tag rule itself is tested in test_replaced_tags).
@pytest.mark.parametrize(
    "assign, tags",
    [
        (lambda d: d.__setitem__("a", {"new": [1]}), (None, None, "!i")),
        (lambda d: d.__setitem__("a", "text"), ("!t", None, "!i")),
        (lambda d: d["outer"].__setitem__("b", "text"), ("!t", None, "!i")),
        (lambda d: d["outer"]["list"].__setitem__(1, None), ("!t", None, None)),
    ],
)
def test_item_assignment_keeps_comments_anchor_and_tag(assign, tags):
    doc = load(
        "x: 0\n# above a\na: &anc !t 1  # after a\nouter:\n  z: 0\n  # above b\n  b: &bb 2  # after b\n"
        "  list:\n    - 0\n    # above item\n    - &it !i 3  # after item\n"
    )
    assign(doc)
    cursors = [doc.node["a"], doc.node["outer"]["b"], doc.node["outer"]["list"][1]]
    facts = [(c.anchor, c.comment.strip(), c.comment_before.strip()) for c in cursors]
    assert facts == [("anc", "after a", "above a"), ("bb", "after b", "above b"),
                     ("it", "after item", "above item")]
    assert tuple(c.tag for c in cursors) == tags
