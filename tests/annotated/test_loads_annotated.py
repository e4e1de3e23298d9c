"""Annotated loading: positions of every node kind, values as plain loading
gives them, aliases shared, tags applied, checks and limits."""

import os
import threading

import pytest

import quarvel
from quarvel import OPT_ANNOTATE_NUMBERS, OPT_ANNOTATED, OPT_DUPLICATE_KEYS_ERROR, loads, loads_all
from quarvel.exceptions import QuarvelDuplicateKeyError, QuarvelParseError


def where(obj):
    return (obj.__line__, obj.__column__, obj.__end_line__, obj.__end_column__,
            obj.__offset__, obj.__end_offset__)


def test_values_equal_plain_loading():
    text = "a: 1\nb: [x, 'y', 2.5, null, true]\nc: {d: e}\n"
    assert loads(text, option=OPT_ANNOTATED) == loads(text)
    assert loads_all(text + "---\n- z\n", option=OPT_ANNOTATED) == loads_all(text + "---\n- z\n")


def test_positions_of_every_kind():
    text = "a: 1\nb: [x, 'y']\nc:\n  - |\n    lit\n"
    d = loads(text, option=OPT_ANNOTATED)
    assert isinstance(d, quarvel.QuarvelAnnotatedDict)
    assert where(d)[:2] == (1, 1)
    keys = list(d)
    assert isinstance(keys[0], quarvel.QuarvelAnnotatedStr)
    assert where(keys[1]) == (2, 1, 2, 2, 5, 6)
    assert where(d["b"])[:2] == (2, 4)
    assert where(d["b"][1]) == (2, 8, 2, 11, 12, 15)
    assert isinstance(d["c"], quarvel.QuarvelAnnotatedList)
    assert where(d["c"][0])[:2] == (4, 5)
    assert text.encode()[d["c"][0].__offset__:d["c"][0].__end_offset__] == b"|\n    lit\n"


@pytest.mark.parametrize("text, path, expect", [
    ("\u00e9: \u00fc\n", ["\u00e9"], (1, 4, 1, 5, 4, 6)),
    ("a:\r\n  b: 'x\r\n    y'\r\n", ["a", "b"], (2, 6, 3, 7, 9, 19)),
    ("\ufeffk: v\n", ["k"], (1, 4, 1, 5, 6, 7)),
])
def test_exact_positions_through_multibyte_crlf_and_bom(text, path, expect):
    node = loads(text.encode(), option=OPT_ANNOTATED)
    for step in path:
        node = node[step]
    assert where(node) == expect


def test_numbers_annotated_only_on_request():
    plain = loads("a: 1\nb: 2.5\n", option=OPT_ANNOTATED)
    assert type(plain["a"]) is int and type(plain["b"]) is float
    d = loads("a: 1\nb: 2.5\nc: 123456789012345678901234567890\n",
              option=OPT_ANNOTATED | OPT_ANNOTATE_NUMBERS)
    assert isinstance(d["a"], quarvel.QuarvelAnnotatedInt) and d["a"] == 1
    assert isinstance(d["b"], quarvel.QuarvelAnnotatedFloat) and d["b"] == 2.5
    assert d["c"] == 123456789012345678901234567890
    assert d["a"].__line__ == 1 and d["b"].__line__ == 2


def test_aliases_give_the_same_object():
    d = loads("x: &a [1, 2]\ny: *a\nz: *a\n", option=OPT_ANNOTATED)
    assert d["y"] is d["x"] and d["z"] is d["x"]


def test_file_name_of_the_root_text(tmp_path):
    assert loads("a: b", option=OPT_ANNOTATED)["a"].__file__ == os.path.join(".", "<root>")
    d = loads("a: b", option=OPT_ANNOTATED, include_dir=tmp_path)
    assert d.__file__ == os.path.join(str(tmp_path), "<root>")
    assert loads("a: b", option=OPT_ANNOTATED, root_path="/etc/conf.yaml").__file__ == "/etc/conf.yaml"


def test_custom_tags_apply_and_show_as_source_tag():
    d = loads("a: !upper word\nb: !!str 5\n", option=OPT_ANNOTATED,
              tags={"!upper": lambda v: v.upper()})
    assert d["a"] == "WORD"
    assert d["b"] == "5" and d["b"].__source_tag__ is None
    raw = loads("a: !keep word\n", option=OPT_ANNOTATED)
    assert raw["a"] == "word" and raw["a"].__source_tag__ == "!keep"


def test_collection_keys_become_tuples():
    d = loads("[a, b]: 1\n{c: d}: 2\n", option=OPT_ANNOTATED)
    assert d == {("a", "b"): 1, (("c", "d"),): 2}


def test_duplicate_keys_and_syntax_errors_keep_their_positions():
    with pytest.raises(QuarvelDuplicateKeyError) as e:
        loads("a: 1\nb: 2\na: 3\n", option=OPT_ANNOTATED | OPT_DUPLICATE_KEYS_ERROR)
    assert (e.value.line, e.value.column) == (3, 1)
    with pytest.raises(QuarvelParseError):
        loads("a: [1, 2\n", option=OPT_ANNOTATED)
    assert loads("# nothing\n", option=OPT_ANNOTATED) is None


def test_deep_nesting_on_a_small_thread():
    result = []

    def work():
        try:
            result.append(loads("[" * 1000 + "]" * 1000, option=OPT_ANNOTATED))
            loads("[" * 1001 + "]" * 1001, option=OPT_ANNOTATED)
        except QuarvelParseError as err:
            result.append(str(err))

    old = threading.stack_size(256 * 1024)
    try:
        t = threading.Thread(target=work)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    assert isinstance(result[0], list)
    assert "maximum nesting depth (1000) exceeded" in result[1]


LOL = "a: &a [" + ",".join(["x"] * 10) + "]\n" + "".join(
    f"{c}: &{c} [" + ",".join([f"*{p}"] * 10) + "]\n" for p, c in zip("abcdefgh", "bcdefghi"))


@pytest.mark.parametrize("text", [
    "&a &b x", "!a\n!b x", "!e!x y", "a: *b", "&a x: !t *a", "a: &a [*a]", "[" * 1001 + "]" * 1001,
    "a: [1, 2\n", "[a]: 1", "? {a: b}\n: c", "!t [a]: 1", "a: &a [1,2]\nb: {*a : 1}",
    "%TAG !e! tag:e.com:\n---\n!e!x a: !f!y b", LOL, "a: 1\nb: *a\nc: [1\n",
])
@pytest.mark.parametrize("extra", [0, quarvel.OPT_REJECT_COMPLEX_KEYS])
def test_faults_are_those_of_plain_loading(text, extra):
    def outcome(option):
        try:
            loads(text, option=option)
            return "ok"
        except Exception as e:  # noqa: BLE001 - the comparison is the point
            return type(e), str(e), getattr(e, "line", None), getattr(e, "column", None)

    assert outcome(OPT_ANNOTATED | extra) == outcome(extra)


@pytest.mark.parametrize("text, expect", [
    ("# one\n" * 5000 + "a: 1\n" + "# tail\n" * 5000, {"a": 1}),
    ("[a, # c\n b, # d\n {c: d} # e\n ]\n", ["a", "b", {"c": "d"}]),
    ("# only a comment\n", None),
    ("a: # c\n  # d\n  b: 1 # e\n# f\n", {"a": {"b": 1}}),
    ("- # c\n- x # d\n#\n", [None, "x"]),
])
def test_hostile_comment_layouts(text, expect):
    assert loads(text, option=OPT_ANNOTATED) == expect
