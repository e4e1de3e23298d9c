"""Composition of documents: directives, tags, anchors and aliases, limits,
merge keys and the duplicate- and complex-key policies."""

import pytest

import _quarvel
from _quarvel import (
    OPT_DUPLICATE_KEYS_ERROR,
    OPT_DUPLICATE_KEYS_WARN,
    OPT_REJECT_COMPLEX_KEYS,
    OPT_YAML_1_1,
    OPT_YAML_1_1_WARN,
    loads,
    loads_all,
)
from quarvel.exceptions import (
    QuarvelComplexKeyError,
    QuarvelDuplicateKeyError,
    QuarvelParseError,
)


def tag_pair(tag, value):
    return (tag, value)


def fails_with(text, message, cls=QuarvelParseError, option=0, all_docs=False):
    load = loads_all if all_docs else loads
    with pytest.raises(cls) as info:
        load(text, option=option)
    assert type(info.value) is cls
    assert str(info.value) == message
    return info.value


# ---- stream, documents and directives --------------------------------------

@pytest.mark.parametrize(
    "text, docs",
    [
        ("", []),
        ("# only a comment\n", []),
        ("---\n", [None]),
        ("---\n...\n---\n", [None, None]),
        ("a\n---\nb\n", ["a", "b"]),
        ("a\n...\n%YAML 1.2\n---\nb\n", ["a", "b"]),
        ("%YAML 1.2 # the version\n---\nx\n", ["x"]),
        ("%YAML 1.3\n---\nx\n", ["x"]),
        ("%FOO bar baz\n---\nx\n", ["x"]),
        ("%TAG !x\n---\nx\n", ["x"]),  # no prefix: ignored
        ("...\n%YAML 1.2\n---\nx\n", ["x"]),
    ],
)
def test_documents(text, docs):
    assert loads_all(text) == docs


def test_loads_takes_the_first_document():
    assert loads("1\n---\n2\n") == 1
    assert loads("") is None


@pytest.mark.parametrize(
    "text, message",
    [
        ("%YAML 1.2\nfoo\n", "directive must be followed by a document start (---) at line 2, column 1"),
        ("a: 1\n%YAML 1.2\n---\nb\n",
         "a directive must be at the start of the stream or follow a document-end marker (...)"
         " at line 2, column 1"),
        ("%YAML 1.2\n%YAML 1.2\n---\na\n", "duplicate %YAML directive at line 2, column 1"),
        ("%YAML\n---\na\n", "invalid %YAML directive at line 1, column 1"),
        ("%YAML #1.2\n---\na\n", "invalid %YAML directive at line 1, column 1"),
        ("%YAML 1.x\n---\na\n", "invalid %YAML directive at line 1, column 1"),
        ("%YAML 1.2 extra\n---\na\n", "invalid %YAML directive at line 1, column 1"),
        ("%TAG !e! tag:e,2000:\n%TAG !e! tag:f,2000:\n---\na\n",
         "duplicate %TAG directive for handle '!e!' at line 2, column 1"),
        ("[a]\nb\n", "trailing content after document at line 2, column 1"),
    ],
)
def test_directive_and_document_errors(text, message):
    fails_with(text, message, all_docs=True)


# ---- tags ---------------------------------------------------------------------------

@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: !!str\n", {"a": ""}),
        ("!!int 12\n", 12),
        ("!!str 12\n", "12"),
        ("!!binary aGk=\n", "aGk="),
        ("!!seq [1]\n", [1]),
        ("%TAG ! tag:yaml.org,2002:\n--- !int 12\n", 12),
        ("!foo bar\n", ("!foo", "bar")),
        ("!foo 12\n", ("!foo", "12")),  # scalars under a kept tag are strings
        ("! 12\n", ("!", "12")),
        ("!foo [1, 2]\n", ("!foo", [1, 2])),
        ("!foo\n", ("!foo", "")),
        ("!<tag:example.com,2000:x> 12\n", ("!<tag:example.com,2000:x>", "12")),
        ("%TAG !e! tag:example.com,2000:\n--- !e!x 1\n", ("tag:example.com,2000:x", "1")),
        ("%TAG !! tag:example.com,2000:\n--- !!int 12\n", ("tag:example.com,2000:int", "12")),
        ("%TAG ! !local-\n--- !x 1\n", ("!local-x", "1")),
    ],
)
def test_tags(text, expected):
    assert loads(text, tag_handler=tag_pair) == expected


def test_tag_handles_are_per_document():
    text = "%TAG !e! tag:e,2000:\n--- !e!a 1\n...\n--- !e!b 2\n"
    fails_with(text, "undefined tag handle: !e! at line 4, column 5", all_docs=True)


def test_undefined_handle():
    fails_with("a: !e!x 1\n", "undefined tag handle: !e! at line 1, column 4")


# ---- anchors and aliases ----------------------------------------------------------------

@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: &x 1\nb: *x\n", {"a": 1, "b": 1}),
        ("- &x 1\n- *x\n- &x 2\n- *x\n", [1, 1, 2, 2]),
        ("a: &x\nb: *x\n", {"a": None, "b": None}),
        ("a: &x !!str\nb: *x\n", {"a": "", "b": ""}),
        ("a: &x {k: [1, 2]}\nb: *x\n", {"a": {"k": [1, 2]}, "b": {"k": [1, 2]}}),
        ("[&x a, *x]\n", ["a", "a"]),
    ],
)
def test_aliases(text, expected):
    assert loads(text) == expected


def test_alias_is_a_copy():
    doc = loads("a: &x [1, [2]]\nb: *x\n")
    assert doc["a"] == doc["b"] and doc["a"] is not doc["b"] and doc["a"][1] is not doc["b"][1]


@pytest.mark.parametrize(
    "text, message",
    [
        ("a: *x\n", "unknown alias: *x at line 1, column 4"),
        ("&x [*x]\n", "unknown alias: *x at line 1, column 5"),
        ("--- &x 1\n--- *x\n", "unknown alias: *x at line 2, column 5"),
        ("&a &b x\n", "a node cannot have two anchors at line 1, column 4"),
        ("k: !a !b x\n", "a node cannot have two tags at line 1, column 7"),
        ("a: &x 1\nb: &y *x\n", "an alias node cannot have an anchor or tag at line 2, column 7"),
        ("a: &x 1\nb: !!str *x\n", "an alias node cannot have an anchor or tag at line 2, column 10"),
    ],
)
def test_alias_errors(text, message):
    fails_with(text, message, all_docs=True)


def billion_laughs():
    lines = ['a: &a ["lol", "lol", "lol", "lol", "lol", "lol", "lol", "lol", "lol", "lol"]']
    for prev, name in zip("abcdefgh", "bcdefghi"):
        lines.append(f"{name}: &{name} [" + ", ".join([f"*{prev}"] * 10) + "]")
    return "\n".join(lines) + "\n"


def test_alias_bomb():
    # Copies so far: 110 + 1110 + 11110 + 111110 + 1111110 for b..f; each alias
    # of f adds 1111111, so the eighth one on line g crosses 10,000,000.
    column = len("g: &g [") + 7 * len("*f, ") + 1
    fails_with(billion_laughs(),
               f"document expands to too many nodes (possible alias bomb) at line 7, column {column}")


def test_alias_budget_is_shared_by_all_documents():
    # Each document copies 4000 aliases of a 1000-node anchor: two documents
    # stay within the budget of the call, the third one crosses it.
    doc = "--- [&a [" + ", ".join(["0"] * 999) + "], " + ", ".join(["*a"] * 4000) + "]\n"
    assert len(loads_all(doc * 2)) == 2
    with pytest.raises(QuarvelParseError) as info:
        loads_all(doc * 3)
    assert str(info.value).startswith(
        "document expands to too many nodes (possible alias bomb) at line 3,")


# ---- nesting depth -----------------------------------------------------------------------

@pytest.mark.parametrize(
    "text",
    ["[" * 1000 + "]" * 1000, "{a: " * 999 + "{}" + "}" * 999, "- " * 999 + "x\n"],
    ids=["flow-sequences", "flow-mappings", "block-sequences"],
)
def test_depth_1000_composes(text):
    assert loads(text) is not None


def test_flow_depth_limit():
    inner = "[" * 999 + "[x]" + "]" * 999
    with pytest.raises(QuarvelParseError) as info:
        loads(inner)
    assert str(info.value) == "maximum nesting depth (1000) exceeded at line 1, column 1001"


def test_flow_depth_1000_empty():
    value = loads("[" * 1000 + "]" * 1000)
    for _ in range(999):
        assert len(value) == 1
        value = value[0]
    assert value == []


def test_block_depth_limit():
    fails_with("- " * 1000 + "x\n", "maximum nesting depth (1000) exceeded at line 1, column 2001")


# ---- collections -------------------------------------------------------------------------

@pytest.mark.parametrize(
    "text, expected",
    [
        ("a:\n- 1\n- 2\nb: 3\n", {"a": [1, 2], "b": 3}),
        ("- \n- a\n-\n", [None, "a", None]),
        ("[a: 1, b]\n", [{"a": 1}, "b"]),
        ("[? a]\n", [{"a": None}]),
        ("[? a : b, c]\n", [{"a": "b"}, "c"]),
        ("[a, b, ]\n", ["a", "b"]),
        ("{a, b: 2}\n", {"a": None, "b": 2}),
        ("{? a, b: }\n", {"a": None, "b": None}),
        ("? a\n? b\n: 2\n", {"a": None, "b": 2}),
        ("a:\nb: 2\n", {"a": None, "b": 2}),
        ("[a, b]: 1\n", {("a", "b"): 1}),
        ("{a: 1}: 2\n", {(("a", 1),): 2}),
        ("'<<': 1\n", {"<<": 1}),
    ],
)
def test_collections(text, expected):
    assert loads(text) == expected


@pytest.mark.parametrize(
    "text, message",
    [
        ("a: 1\nb\n", "expected ':' after mapping key at line 2, column 1"),
        # Properties or an alias open a key that still needs its ':'.
        ("a: 1\n&x b\n", "expected ':' after mapping key at line 2, column 1"),
        ("a: &x 1\n!t\n*x\n", "expected ':' after mapping key at line 2, column 1"),
        # A line not indented past "?" is no part of the key.
        ("?\nxt\n", "expected ':' after mapping key at line 2, column 1"),
        ("? - a\n: 1\n", "a block collection cannot be a mapping key at line 1, column 3"),
        ("? a: 1\n: 2\n", "a block collection cannot be a mapping key at line 1, column 3"),
    ],
)
def test_block_mapping_errors(text, message):
    fails_with(text, message)


# ---- merge keys -----------------------------------------------------------------------------

@pytest.mark.parametrize(
    "text, items",
    [
        ("a: 1\n<<: {a: 2, c: 3}\nb: 4\n", [("a", 1), ("b", 4), ("c", 3)]),
        ("<<: 5\na: 1\n", [("a", 1), ("<<", 5)]),
        ("<<:\na: 1\n", [("a", 1)]),
        ("<<: {a: 1}\n<<: {a: 2, b: 2}\n", [("a", 1), ("b", 2)]),
        ("<<: [{a: 1}, {a: 2, b: 2}]\nc: 3\n", [("c", 3), ("a", 1), ("b", 2)]),
        ("<<: [{a: 1}, 5, x, ~]\nb: 2\n", [("b", 2), ("a", 1), ("<<", [5, "x"])]),
        ("<<: [{a: 1}, 5]\n<<: {z: 0}\n", [("a", 1), ("z", 0), ("<<", [5])]),
        ("a: <<\n", [("a", "<<")]),
        ("[<<]: 1\n", [(("<<",), 1)]),
    ],
)
def test_merge_order(text, items):
    assert list(loads(text).items()) == items


@pytest.mark.parametrize("option, items", [(0, [("x", {"a": 1})]), (OPT_YAML_1_1, [("a", 1)])])
def test_merge_tag(option, items):
    # Only the YAML 1.1 rules read the merge tag as a merge key.
    assert list(loads("!!merge x: {a: 1}\n", option=option).items()) == items


def test_merge_sources_are_merged_first():
    text = "base: &b {x: 1}\nmid: &m {<<: *b, y: 2}\ntop: {<<: *m, z: 3}\n"
    doc = loads(text)
    assert list(doc["mid"].items()) == [("y", 2), ("x", 1)]
    assert list(doc["top"].items()) == [("z", 3), ("y", 2), ("x", 1)]


def test_merge_placeholders_elsewhere_are_strings():
    assert loads("- <<\n- [<<]\n") == ["<<", ["<<"]]
    assert loads("<<\n") == "<<"


def test_merges_inside_aliased_nodes_apply_at_every_use():
    # An alias shares its anchor's subtree; merging it at one place must
    # leave the same result at every other place.
    text = (
        "base: &b {x: 1, y: 2}\n"
        "shared: &s\n"
        "  inner: {<<: *b, y: 3}\n"
        "  list: [<<, {<<: *b}]\n"
        "  <<: {z: 0}\n"
        "one: *s\n"
        "two: {<<: *s, z: 9}\n"
        "three: [*s, *s]\n"
    )
    shared = {"inner": {"x": 1, "y": 3}, "list": ["<<", {"x": 1, "y": 2}], "z": 0}
    doc = loads(text)
    assert doc["shared"] == shared and doc["one"] == shared
    assert doc["two"] == {**shared, "z": 9}
    assert doc["three"] == [shared, shared]
    assert doc["base"] == {"x": 1, "y": 2}


def test_merge_keys_are_not_duplicates():
    text = "<<: {a: 1}\n<<: {b: 1}\n"
    assert loads(text, option=OPT_DUPLICATE_KEYS_ERROR) == {"a": 1, "b": 1}


# ---- duplicate keys ---------------------------------------------------------------------------

@pytest.mark.parametrize(
    "text, message",
    [
        ("a: 1\na: 2\n", "duplicate mapping key: a at line 2, column 1"),
        ("1: a\n1: b\n", "duplicate mapping key: Int(1) at line 2, column 1"),
        ("~: a\nnull: b\n", "duplicate mapping key: Null at line 2, column 1"),
        ("true: a\nTrue: b\n", "duplicate mapping key: Bool(true) at line 2, column 1"),
        ("1.0: a\n1.00: b\n", "duplicate mapping key: Float(1.0) at line 2, column 1"),
        ("{a: 1, b: 2, a: 3}\n", "duplicate mapping key: a at line 1, column 14"),
        ("[1, a]: x\n[1, a]: y\n",
         'duplicate mapping key: Sequence([Int(1), String("a")]) at line 2, column 1'),
        ("x:\n  a: 1\n  'a': 2\n", "duplicate mapping key: a at line 3, column 3"),
    ],
)
def test_duplicate_key_error(text, message):
    fails_with(text, message, cls=QuarvelDuplicateKeyError, option=OPT_DUPLICATE_KEYS_ERROR)
    # the error switch wins over the warning switch
    fails_with(text, message, cls=QuarvelDuplicateKeyError,
               option=OPT_DUPLICATE_KEYS_ERROR | OPT_DUPLICATE_KEYS_WARN)


@pytest.mark.parametrize(
    "text",
    ["1: a\n'1': b\n", "a: 1\nb: 2\n", "- a: 1\n- a: 2\n", "a: {x: 1}\nb: {x: 1}\n", "1: a\n1.0: b\n"],
)
def test_distinct_keys(text):
    loads(text, option=OPT_DUPLICATE_KEYS_ERROR)


def _many_keys(n, repeat_of, at):
    """n distinct keys k0..k(n-1), with key number `repeat_of` written again after key `at`."""
    lines = [f"k{i}: {i}" for i in range(n)]
    lines.insert(at + 1, f"k{repeat_of}: again")
    return "\n".join(lines) + "\n", at + 2


@pytest.mark.parametrize("n, repeat_of, at", [(5, 0, 4), (15, 3, 14), (16, 0, 15), (17, 16, 16),
                                              (40, 0, 39), (40, 39, 39), (40, 20, 30)])
def test_duplicate_found_in_small_and_large_mappings(n, repeat_of, at):
    text, line = _many_keys(n, repeat_of, at)
    fails_with(text, f"duplicate mapping key: k{repeat_of} at line {line}, column 1",
               cls=QuarvelDuplicateKeyError, option=OPT_DUPLICATE_KEYS_ERROR)


@pytest.mark.parametrize(
    "text, shown",
    [
        ("0.0: a\n-0.0: b\n", "Float(-0.0)"),  # one key, as in a Python dict
        (".nan: a\n.NaN: b\n", "Float(NaN)"),
        ("a: 1\n[x]: 2\nb: 3\na: 4\n", None),  # a collection key among scalars
        ("[x]: 1\na: 2\n[x]: 3\n", None),
        ("<<: {q: 1}\na: 1\n<<: {r: 1}\na: 2\n", None),  # merge keys in between
    ],
)
def test_duplicate_scalar_kinds(text, shown):
    with pytest.raises(QuarvelDuplicateKeyError) as e:
        loads(text, option=OPT_DUPLICATE_KEYS_ERROR)
    if shown:
        assert str(e.value).startswith(f"duplicate mapping key: {shown} at line 2")


def test_duplicate_key_warning(quarvel_warnings):
    doc = loads("a: 1\nb: 2\na: 3\n", option=OPT_DUPLICATE_KEYS_WARN)
    assert doc == {"a": 3, "b": 2}
    assert quarvel_warnings() == [
        "duplicate mapping key 'a' at line 3, column 1; keeping the last value"
    ]


def test_duplicate_warnings_in_order(quarvel_warnings):
    text = "a: 1\nb: {x: 1, x: 2}\na: 2\n2: x\n2: y\n"
    loads(text, option=OPT_DUPLICATE_KEYS_WARN)
    assert quarvel_warnings() == [
        "duplicate mapping key 'x' at line 2, column 11; keeping the last value",
        "duplicate mapping key 'a' at line 3, column 1; keeping the last value",
        "duplicate mapping key 'Int(2)' at line 5, column 1; keeping the last value",
    ]


def test_no_duplicate_policy_keeps_the_last_value(quarvel_warnings):
    assert loads("a: 1\na: 2\n") == {"a": 2}
    assert quarvel_warnings() == []


def test_many_distinct_keys_with_policy():
    text = "".join(f"k{i}: {i}\n" for i in range(100_000))
    doc = loads(text, option=OPT_DUPLICATE_KEYS_ERROR)
    assert len(doc) == 100_000


# ---- complex keys ----------------------------------------------------------------------------

@pytest.mark.parametrize(
    "text, message",
    [
        ("[a]: 1\n", "complex mapping key (a sequence used as a key) at line 1, column 1"),
        ("{a: 1}: 2\n", "complex mapping key (a mapping used as a key) at line 1, column 1"),
        ("? [a]\n: 1\n", "complex mapping key (a sequence used as a key) at line 1, column 3"),
        ("[[a]: 1]\n", "complex mapping key (a sequence used as a key) at line 1, column 2"),
        ("{[a]: 1}\n", "complex mapping key (a sequence used as a key) at line 1, column 2"),
    ],
)
def test_complex_keys_rejected(text, message):
    fails_with(text, message, cls=QuarvelComplexKeyError, option=OPT_REJECT_COMPLEX_KEYS)


def test_tagged_collection_key_is_not_complex():
    doc = loads("!k [a]: 1\n", option=OPT_REJECT_COMPLEX_KEYS, tag_handler=lambda t, v: tuple(v))
    assert doc == {("a",): 1}


# ---- YAML 1.1 difference warnings --------------------------------------------------------------

def test_difference_warning_position(quarvel_warnings):
    assert loads("a:\n  v: yes\n", option=OPT_YAML_1_1 | OPT_YAML_1_1_WARN) == {"a": {"v": True}}
    assert quarvel_warnings() == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 2, column 6"
    ]


def test_no_difference_warning_without_switch(quarvel_warnings):
    loads("v: yes\n", option=OPT_YAML_1_1)
    assert quarvel_warnings() == []


# A block mapping value that starts on a later line must be indented past the
# mapping's keys; at their column it would begin the next entry, and lacks
# its ':'. Every load path shares this.
@pytest.mark.parametrize("text, line, column", [
    ("a:\nb\n", 2, 1),
    ("a:\n'q'\n", 2, 1),
    ('a:\n"q"\n', 2, 1),
    ("a:\n[1]\n", 2, 1),
    ("a:\n{b: 1}\n", 2, 1),
    ("a: &x 1\nb:\n*x\n", 3, 1),
    ("a: &x\nb\n", 2, 1),
    ("- a:\n  b\n", 2, 3),
    ("x:\n  a:\n  b\n", 3, 3),
    ("? a\n:\nb\n", 3, 1),
])
@pytest.mark.parametrize("option", [0, _quarvel.OPT_ANNOTATED, _quarvel.OPT_ROUND_TRIP])
def test_a_value_not_indented_past_its_key_is_an_error(text, line, column, option):
    with pytest.raises(QuarvelParseError, match="expected ':' after mapping key") as e:
        _quarvel.loads(text, option=option)
    assert (e.value.line, e.value.column) == (line, column)


@pytest.mark.parametrize("text, expected", [
    ("a:\n  b\n", {"a": "b"}),
    ("a:\n- b\n", {"a": ["b"]}),
    ("a:\nb: 1\n", {"a": None, "b": 1}),
    ("a:\n|\n x\n", {"a": "x\n"}),
    ("- a:\n    b\n", [{"a": "b"}]),
    ("a: b\n  c\n", {"a": "b c"}),
    ("a: [1,\n  2]\n", {"a": [1, 2]}),
])
def test_values_below_their_key_that_are_indented_or_exempt(text, expected):
    assert _quarvel.loads(text) == expected


@pytest.mark.parametrize("text, expected", [
    # An anchor inside the node of the same name comes later in the text.
    ("a: &x\n- - k: &x\n- y\nb: *x\n", None),
    ("a: &x [&x 1, *x]\nb: *x\n", 1),
    # An alias inside the node it names would be a cycle: the definition
    # before that node stands.
    ("a: &x 1\nb: &x [*x]\nc: *x\n", [1]),
])
def test_aliases_name_the_same_node_on_every_load_path(text, expected):
    values = [_quarvel.loads(text), _quarvel.loads(text, option=_quarvel.OPT_ANNOTATED),
              _quarvel.loads(text, option=_quarvel.OPT_ROUND_TRIP).to_dict()]
    last = list(values[0])[-1]
    assert values[0][last] == expected
    assert values[1] == values[0] and values[2] == values[0]
