"""YAML written by dumps: layout, scalar styles, folding, float spelling, and
that every output reads back through loads to the value that was dumped."""

import itertools
import math
import random

import pytest

from _quarvel import (
    OPT_EXPLICIT_END,
    OPT_EXPLICIT_START,
    OPT_FLOW_STYLE,
    OPT_INDENT_4,
    OPT_INDENTLESS_SEQUENCES,
    OPT_NULL_AS_KEYWORD,
    OPT_SINGLE_QUOTES,
    OPT_SORT_KEYS,
    QuarvelTag,
    dumps,
    loads,
)


def text(obj, **kw):
    return dumps(obj, **kw).decode()


@pytest.mark.parametrize(
    "obj, kw, expected",
    [
        (None, {}, "null\n"),
        (None, {"null_style": "~"}, "~\n"),
        ({"a": None}, {}, "a:\n"),
        ({"a": None}, {"option": OPT_NULL_AS_KEYWORD}, "a: null\n"),
        ({"a": None}, {"null_style": "tilde"}, "a: ~\n"),
        ([None, 1], {}, "-\n- 1\n"),
        ({"a": [None], "b": {"c": None}}, {"option": OPT_FLOW_STYLE}, "{a: [null], b: {c: null}}\n"),
        ({"a": [None]}, {"option": OPT_FLOW_STYLE, "null_style": "~"}, "{a: [~]}\n"),
        ({None: 1}, {}, "null: 1\n"),
        ({}, {}, "{}\n"),
        ([], {}, "[]\n"),
        ({"a": {}, "b": []}, {}, "a: {}\nb: []\n"),
        ([[], {}], {}, "- []\n- {}\n"),
        ({"a": 1, "b": "x"}, {"option": OPT_EXPLICIT_START | OPT_EXPLICIT_END}, "---\na: 1\nb: x\n...\n"),
        ("x", {"option": OPT_EXPLICIT_END}, "x\n...\n"),
    ],
)
def test_framing_and_nulls(obj, kw, expected):
    assert text(obj, **kw) == expected


@pytest.mark.parametrize(
    "obj, option, expected",
    [
        ([[1, 2], 3], 0, "-\n  - 1\n  - 2\n- 3\n"),
        ([{"a": 1, "b": 2}], 0, "- a: 1\n  b: 2\n"),
        ([{"a": {"b": 1}}], 0, "- a:\n    b: 1\n"),
        ([{"a": [1]}], 0, "- a:\n    - 1\n"),
        ([{"a": [1]}], OPT_INDENTLESS_SEQUENCES, "- a:\n  - 1\n"),
        ({"a": ["x"]}, 0, "a:\n  - x\n"),
        ({"a": ["x"]}, OPT_INDENTLESS_SEQUENCES, "a:\n- x\n"),
        ({"a": {"b": ["x"]}}, OPT_INDENT_4, "a:\n    b:\n        - x\n"),
        ([[1]], OPT_INDENT_4, "-\n  - 1\n"),
        ({(1, 2): "x"}, 0, "[1, 2]: x\n"),
        ({"a": [1, 2], "b": None}, OPT_FLOW_STYLE, "{a: [1, 2], b: null}\n"),
        ({1: "x", "b": 1, "a": 2}, OPT_SORT_KEYS, "1: x\na: 2\nb: 1\n"),
        ({"b": 1, "ab": 2, "a": 3, "é": 4, "B": 5}, OPT_SORT_KEYS, "B: 5\na: 3\nab: 2\nb: 1\né: 4\n"),
        ({None: 1, "a": 2, 3: 4}, OPT_SORT_KEYS, "null: 1\n3: 4\na: 2\n"),
    ],
)
def test_block_layout(obj, option, expected):
    assert text(obj, option=option) == expected


@pytest.mark.parametrize(
    "obj, option, expected",
    [
        (QuarvelTag("!t", "x"), 0, "!t x\n"),
        (QuarvelTag("!t", None), 0, "!t\n"),
        ({"a": QuarvelTag("!t", None)}, 0, "a: !t\n"),
        ({"a": QuarvelTag("!t", [1])}, 0, "a: !t\n  - 1\n"),
        ({"a": QuarvelTag("!t", [1])}, OPT_INDENTLESS_SEQUENCES, "a: !t\n- 1\n"),
        ([QuarvelTag("!t", [1])], OPT_INDENTLESS_SEQUENCES, "- !t\n  - 1\n"),
        ([QuarvelTag("!t", [1])], OPT_INDENTLESS_SEQUENCES | OPT_INDENT_4, "- !t\n    - 1\n"),
        ([QuarvelTag("!t", {"k": 1})], 0, "- !t\n  k: 1\n"),
        ({QuarvelTag("!k", "a"): 1}, 0, "!k a: 1\n"),
        ([QuarvelTag("!t", "x")], OPT_FLOW_STYLE, "[!t x]\n"),
        (QuarvelTag("!t", {"a": 1}), OPT_FLOW_STYLE, "!t {a: 1}\n"),
        (QuarvelTag("p", "x"), 0, "!<p> x\n"),  # a tag without "!" only reads back verbatim
    ],
)
def test_tagged_values(obj, option, expected):
    assert text(obj, option=option) == expected


QUOTED = ["yes", "No", "on", "~", "null", "1.0", "0x1F", ".inf", "- a", "a: b", "a #b", "b:", " x",
          "x ", "", "-", "?", ":", "<<", "...", "--- x", "... x", "#x", "%x", "@x", "`x", "&a", "*a",
          "!a", "|", ">", "[a", "{a", "]", "}", ",", "'a", '"a', "1_000", "0b11", "0o17", "+1", ".5",
          "1e3", "12", "\tx", "a\tb", "a\rb", "\x7f", "\ufeffx", "-.inf", "+.Inf"]
PLAIN = ["y", "n", "12:30", "a#b", "it's", "a:b", "a b", "é", "日本", "a,b", "a[0]", "x-y", "1.2.3",
         "http://x.y/z?a=b", "a - b", "a ? b", ".", "..x", "a'"]


@pytest.mark.parametrize("s", QUOTED)
def test_strings_that_are_quoted(s):
    out = text({"k": s})
    assert out[3] in "\"'", out
    assert loads(out) == {"k": s}


@pytest.mark.parametrize("s", PLAIN)
def test_strings_that_stay_plain(s):
    assert text({"k": s}) == f"k: {s}\n"
    assert loads(text({"k": s})) == {"k": s}


# Texts are scanned sixteen bytes at a time (a short one in one read, a long
# one's last block read again from its end): a character that decides the
# style is put at every position of texts around those lengths, as a value,
# as a key and inside a flow collection.
@pytest.mark.parametrize("special", ["#", ":", ",", "[", "}", "'", "\n", "\x7f", "\x85", "é", "\u2028"])
@pytest.mark.parametrize("length", [1, 7, 8, 15, 16, 17, 31, 33])
def test_special_at_each_position_reads_back(special, length):
    base = "abcdefghij" * 4
    for at in range(length + 1):
        s = base[:at] + special + base[at:length]
        for option in (0, OPT_FLOW_STYLE):
            assert loads(dumps({s: [s]}, option=option)) == {s: [s]}, (s, option)


@pytest.mark.parametrize("s", ["a,b", "a[0]", "x}", "{"])
def test_flow_indicators_quoted_inside_flow(s):
    out = text([s], option=OPT_FLOW_STYLE)
    assert out == f'["{s}"]\n'
    assert loads(out) == [s]


@pytest.mark.parametrize(
    "s, expected",
    [
        ("yes", "'yes'"),
        ("it's", "it's"),
        ("'x", "\"'x\""),
        ("a: b\nc", '"a: b\\nc"'),
        ("\x1b:", '"\\x1b:"'),
        ("", "''"),
    ],
)
def test_single_quote_preference(s, expected):
    assert text([s], option=OPT_SINGLE_QUOTES | OPT_FLOW_STYLE) == f"[{expected}]\n"


# Characters a reader may take for a line break or refuse raw (C1 controls,
# NEL, LS, PS, a byte order mark, U+FFFE) are written as escapes.
def test_double_quote_escapes():
    s = "\x00\t\n\r\"\\\x1b\x7f\x01é\u2028\u2029\x85\x9f\ufeff\uffff "
    expected = '"\\0\\t\\n\\r\\"\\\\\\x1b\\x7f\\x01é\\L\\P\\N\\x9f\\uFEFF\\uFFFF "\n'
    assert text(s) == expected
    assert loads(text(s)) == s


@pytest.mark.parametrize(
    "s, expected",
    [
        ("l1\nl2\n", "a: |\n  l1\n  l2\n"),
        ("l1\nl2", "a: |-\n  l1\n  l2\n"),
        ("l1\nl2\n\n", "a: |+\n  l1\n  l2\n\n"),
        ("\n", "a: |+\n\n"),
        ("\n\n", "a: |+\n\n\n"),
        ("\nx", "a: |-\n\n  x\n"),
        ("x\n\n y\n", "a: |\n  x\n\n   y\n"),
        (" l1\nl2\n", 'a: " l1\\nl2\\n"\n'),
        ("\tl1\nl2\n", 'a: "\\tl1\\nl2\\n"\n'),
        ("l1\r\nl2\n", 'a: "l1\\r\\nl2\\n"\n'),
    ],
)
def test_literal_blocks(s, expected):
    assert text({"a": s}) == expected
    assert loads(expected) == {"a": s}


def test_literal_positions():
    s = "x\ny\n"
    assert text(s) == "|\n  x\n  y\n"
    assert text([s]) == "- |\n  x\n  y\n"
    assert text([{"k": s}]) == "- k: |\n    x\n    y\n"
    assert text({"k": s}, option=OPT_FLOW_STYLE) == '{k: "x\\ny\\n"}\n'
    assert text({s: 1}) == '"x\\ny\\n": 1\n'


@pytest.mark.parametrize(
    "x, expected",
    [
        (1.0, "1.0"), (1e16, "1.0e+16"), (1e15, "1000000000000000.0"), (0.0001, "0.0001"),
        (0.00001, "1.0e-05"), (-0.0, "-0.0"), (1e-100, "1.0e-100"), (1.5, "1.5"),
        (1.7976931348623157e308, "1.7976931348623157e+308"), (5e-324, "5.0e-324"),
        (123456.789, "123456.789"), (0.1 + 0.2, "0.30000000000000004"), (-2.5e20, "-2.5e+20"),
        (math.inf, ".inf"), (-math.inf, "-.inf"), (math.nan, ".nan"),
    ],
)
def test_float_spelling(x, expected):
    assert text(x) == expected + "\n"


@pytest.mark.parametrize("i", [0, -1, 2**63 - 1, -(2**63), 2**64, -(2**70)])
def test_integers_read_back(i):
    assert text(i) == f"{i}\n"
    assert loads(text(i)) == i


def test_width_folds_plain_text():
    s = "aaaa bbbb cccc dddd eeee"
    assert text(s, width=20) == "aaaa bbbb cccc dddd\n  eeee\n"
    assert loads(text(s, width=20)) == s


def test_width_wraps_flow_collections():
    obj = list(range(20))
    out = text(obj, option=OPT_FLOW_STYLE, width=20)
    assert max(len(line) for line in out.splitlines()) <= 22
    assert out.count("\n") > 1
    assert loads(out) == obj


def test_keys_are_never_folded():
    key = "word " * 10
    obj = {key.strip(): "v", ("a " * 10, "b"): 1}
    for option in (0, OPT_FLOW_STYLE):
        out = text(obj, option=option, width=10)
        assert key.strip() in out
        assert loads(out) == obj


def test_plain_fold_never_starts_a_line_with_an_indicator():
    s = "a ? b - c [d] {e} & *f !g | > % @ ` ' \" ~"
    out = text({"k": s}, width=1)
    assert out.startswith("k: a ?\n  b -\n  c [d]")
    for line in out.splitlines()[1:]:
        assert line.lstrip()[0] not in "?-[]{}&*!|>%@`'\",#:", out
    assert loads(out) == {"k": s}
    # Inside flow collections the text is quoted, where any line start is fine.
    assert loads(text({"k": s}, width=1, option=OPT_FLOW_STYLE)) == {"k": s}


def test_compact_mapping_continuation_is_indented_past_its_keys():
    obj = [{"k": "aa bb cc dd", "q": "x y\tz w", "f": [1, 2, 3, 4]}]
    out = text(obj, width=6)
    assert loads(out) == obj
    out = text(obj, width=6, option=OPT_SINGLE_QUOTES)
    assert loads(out) == obj


def test_escaped_tab_is_not_left_at_a_fold():
    s = "a\t b\t c\t d"
    out = text(s, width=3)
    assert loads(out) == s


# Values whose spelling depends on where they stand; each must survive every
# layout.
TRICKY = [
    "", " ", "  lead", "trail  ", "a  b", "a\nb", "a\n", "\n", "\n\n", "x\n\n", "\nx", " \nx", "x\n ",
    "#", "a #b", "a# b", ": ", "a: ", "?", "- ", "-", "---", "...", "--- x", "... x", "x\n---\ny\n",
    "x\n...\n", "x\n--- y", "é\u2028\u2029\x85", "\ufeff", "a\ufeffb", "yes", "No", "null", "~", "1",
    "1.5", "0x10", "1_0", "12:30", "+", ".", "1e5", "-1", "[", "]", "{}", "a,b", "'", '"', "\\",
    "\\t", "tab\there", "cr\rhere", "\x00\x01\x7f", "long " * 12, "k: v\n- item\n? q\n",
    "  \n  \n", "a\n\n\n b  \n\tc\n",
]


def _tricky_tree():
    return {
        "values": TRICKY,
        "keyed": {s: s for s in TRICKY},
        "nested": [[s, {s: [s]}] for s in TRICKY[:20]],
        "numbers": [0, -7, 2**64, 1.0, -0.0, 1e300, math.inf, -math.inf, True, False, None],
        "empty": [[], {}, [[]], [{}], {"x": []}],
        ("tuple", "key"): {(1, 2): None, None: [None]},
    }


def _freeze(v):
    # loads gives tuple keys back as tuples when the key is a sequence.
    if isinstance(v, dict):
        return {k: _freeze(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [_freeze(x) for x in v]
    return v


OPTIONS = [0, OPT_FLOW_STYLE, OPT_INDENT_4, OPT_INDENTLESS_SEQUENCES, OPT_SINGLE_QUOTES,
           OPT_SORT_KEYS | OPT_EXPLICIT_START | OPT_EXPLICIT_END,
           OPT_INDENT_4 | OPT_INDENTLESS_SEQUENCES | OPT_SINGLE_QUOTES]


@pytest.mark.parametrize("option, width, null_style", list(itertools.product(
    OPTIONS, [None, 1, 8, 20, 80], [None, "null", "~"])))
def test_round_trip_of_tricky_values(option, width, null_style):
    tree = _tricky_tree()
    out = dumps(tree, option=option, width=width, null_style=null_style)
    back = loads(out)
    assert _freeze(back) == _freeze(tree), out.decode()


@pytest.mark.parametrize("s", TRICKY)
@pytest.mark.parametrize("width", [None, 1, 5])
def test_round_trip_at_root_and_as_key(s, width):
    for obj in (s, [s], {s: s}, [{s: s, "b": s}]):
        assert loads(dumps(obj, width=width)) == obj


ALPHABET = list("ab :#-?[]{},'\"!&*|>%@`~\\\t\n\r.0e+_") + ["é", "\ufeff", "\x1b", "---", "...", "- "]


def _random_value(rng, depth):
    r = rng.random()
    if depth > 3 or r < 0.5:
        return "".join(rng.choice(ALPHABET) for _ in range(rng.choice([0, 1, 2, 4, 9, 25])))
    if r < 0.6:
        return rng.choice([None, True, 0, -3, 1.25, 1e20, 2**65])
    if r < 0.8:
        return [_random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    return {_random_value(rng, 9): _random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))}


@pytest.mark.parametrize("seed", range(6))
def test_round_trip_of_random_trees(seed):
    rng = random.Random(seed)
    for _ in range(150):
        obj = _random_value(rng, 0)
        option = rng.choice(OPTIONS)
        width = rng.choice([None, 1, 6, 30])
        out = dumps(obj, option=option, width=width)
        assert loads(out) == obj, (option, width, out.decode())


@pytest.mark.parametrize("tag", ["tag:example.com,2000:app/foo", "p"])
def test_full_tags_are_written_verbatim_and_read_back(tag):
    from _quarvel import OPT_PASSTHROUGH_TAG, dumps, loads

    out = dumps(QuarvelTag(tag, "bar"))
    assert out == b"!<" + tag.encode() + b"> bar\n"
    back = loads(out, option=OPT_PASSTHROUGH_TAG)
    assert isinstance(back, QuarvelTag) and back.tag == "!<" + tag + ">" and back.value == "bar"


def test_a_verbatim_standard_tag_is_consumed_on_reading():
    from _quarvel import dumps, loads

    assert loads(dumps(QuarvelTag("tag:yaml.org,2002:str", 5))) == "5"


@pytest.mark.parametrize("null_style", [None, "~", "null"])
def test_tagged_key_after_an_empty_value_reads_back(null_style):
    from _quarvel import OPT_PASSTHROUGH_TAG, dumps, loads

    value = {"a": {"x": None}, QuarvelTag("!f", "b"): 1}
    out = dumps(value, null_style=null_style)
    back = loads(out, option=OPT_PASSTHROUGH_TAG)
    (first, inner), (tagged, one) = back.items()
    assert first == "a" and inner == {"x": None} and one == 1
    assert tagged.tag == "!f" and tagged.value == "b"


@pytest.mark.parametrize("tag, written", [("!a b", b"!<!a b> 1\n"), ("!a,b", b"!<!a,b> 1\n")])
def test_tags_with_separators_are_written_verbatim(tag, written):
    from _quarvel import dumps

    assert dumps(QuarvelTag(tag, 1)) == written


@pytest.mark.parametrize("tag", ["", "!a\nb", "x>y", "!a\tb"])
def test_tags_yaml_cannot_spell_are_refused_by_dumps_only(tag):
    from _quarvel import dumps, to_json
    from quarvel.exceptions import QuarvelEncodeError

    with pytest.raises(QuarvelEncodeError) as e:
        dumps({"k": QuarvelTag(tag, 1)})
    assert str(e.value) == f"cannot write the tag {tag} in YAML"
    assert to_json({"k": QuarvelTag(tag, 1)}) == b'{"k":1}'


@pytest.mark.parametrize("value", [
    QuarvelTag("!a", QuarvelTag("!b", "x")),
    QuarvelTag("!", QuarvelTag("!b", [1])),
])
def test_a_tag_on_a_tagged_value_is_refused(value):
    # YAML gives a node one tag; "!a !b x" does not load.
    from _quarvel import OPT_ROUND_TRIP, to_json
    from quarvel.exceptions import QuarvelEncodeError

    message = f"cannot write the tag {value.tag} on a value that has the tag !b"
    with pytest.raises(QuarvelEncodeError, match=f"^{message}$"):
        dumps({"k": value})
    assert to_json(value) in (b'"x"', b"[1]")
    doc = loads("k: 1\n", option=OPT_ROUND_TRIP)
    with pytest.raises(ValueError, match=f"^{message}$"):
        doc["k"] = value
    assert doc.to_yaml() == b"k: 1\n"
