"""JSON text written by to_json: layout, key texts, float and string spellings."""

import ctypes
import json
import math
import random
import sys

import pytest

from _quarvel import OPT_INDENT_2, OPT_INDENT_4, OPT_SORT_KEYS, QuarvelTag, to_json
from quarvel.exceptions import QuarvelEncodeError


@pytest.mark.parametrize(
    "obj, expected",
    [
        (None, b"null"),
        (True, b"true"),
        (False, b"false"),
        ("x", b'"x"'),
        (-5, b"-5"),
        (2**70, b"1180591620717411303424"),
        (-(2**63), b"-9223372036854775808"),
        ([], b"[]"),
        ({}, b"{}"),
        ({"a": [1, 2]}, b'{"a":[1,2]}'),
        ([{"a": None}, [[]], {}], b'[{"a":null},[[]],{}]'),
    ],
)
def test_compact(obj, expected):
    assert to_json(obj) == expected


@pytest.mark.parametrize(
    "key, text",
    [(1, "1"), (-7, "-7"), (2**64, "18446744073709551616"), (True, "true"), (None, "null"),
     (1.5, "1.5"), (2.0, "2.0"), (math.nan, "null"), (math.inf, "null")],
)
def test_scalar_keys_become_strings(key, text):
    assert to_json({key: True}) == b'{"' + text.encode() + b'":true}'


def test_keys_with_equal_text_are_both_written():
    assert to_json({1: "a", "1": "b"}) == b'{"1":"a","1":"b"}'


@pytest.mark.parametrize("key", [(1, 2), QuarvelTag("!t", [1])])
@pytest.mark.parametrize("option", [0, OPT_SORT_KEYS, OPT_INDENT_2])
def test_collection_key_is_an_error(key, option):
    with pytest.raises(QuarvelEncodeError, match="^a collection cannot be a JSON object key$"):
        to_json({"ok": 1, key: 2}, option=option)


def test_collection_key_deep_inside_is_an_error():
    with pytest.raises(QuarvelEncodeError):
        to_json([1, {"a": [{(1,): 0}]}])


def test_tags_are_dropped():
    assert to_json({"k": QuarvelTag("!x", [QuarvelTag("!y", 1)])}) == b'{"k":[1]}'
    assert to_json({QuarvelTag("!k", "name"): 1}) == b'{"name":1}'


class TestIndent:
    def test_indent_2_list(self):
        assert to_json([1, 2], option=OPT_INDENT_2) == b"[\n  1,\n  2\n]"

    def test_indent_4_nesting_and_empty_containers(self):
        obj = {"a": {"b": [1, {}]}, "c": []}
        expected = (
            b'{\n    "a": {\n        "b": [\n            1,\n            {}\n        ]\n    },\n'
            b'    "c": []\n}'
        )
        assert to_json(obj, option=OPT_INDENT_4) == expected

    def test_indent_4_wins_over_indent_2(self):
        assert to_json([1], option=OPT_INDENT_2 | OPT_INDENT_4) == b"[\n    1\n]"

    def test_matches_the_standard_library(self):
        obj = {"name": "x", "list": [1, 2.5, None, {"deep": [True, "é"]}], "empty": {}, "e2": []}
        assert to_json(obj, option=OPT_INDENT_2) == json.dumps(obj, indent=2, ensure_ascii=False).encode()


class TestSortKeys:
    def test_sorted_by_key_text(self):
        assert to_json({9: 0, 10: 1, "a": 2}, option=OPT_SORT_KEYS) == b'{"10":1,"9":0,"a":2}'

    def test_bytewise_order_and_prefix_first(self):
        obj = {"é": 1, "z": 2, "ab": 3, "a": 4, "B": 5}
        assert to_json(obj, option=OPT_SORT_KEYS) == '{"B":5,"a":4,"ab":3,"z":2,"é":1}'.encode()

    def test_stable_for_equal_texts(self):
        assert to_json({"1": "s", 1: "i", 0: "z"}, option=OPT_SORT_KEYS) == b'{"0":"z","1":"s","1":"i"}'

    def test_nested_and_indented(self):
        out = to_json({"b": {"y": 1, "x": 2}, "a": 0}, option=OPT_SORT_KEYS | OPT_INDENT_2)
        assert out == b'{\n  "a": 0,\n  "b": {\n    "x": 2,\n    "y": 1\n  }\n}'


@pytest.mark.parametrize(
    "x, text",
    [
        (1.0, "1.0"),
        (-0.0, "-0.0"),
        (100.0, "100.0"),
        (0.1, "0.1"),
        (1.5, "1.5"),
        (-2.5e-3, "-0.0025"),
        (1e-7, "0.0000001"),
        (1e16, "10000000000000000.0"),
        (1e300, "1" + "0" * 300 + ".0"),
        (5e-324, "0." + "0" * 323 + "5"),
        (123456789.125, "123456789.125"),
        (math.nan, "null"),
        (math.inf, "null"),
        (-math.inf, "null"),
    ],
)
def test_float_spelling(x, text):
    assert to_json(x) == text.encode()


def test_floats_read_back_exactly():
    rng = random.Random(3)
    values = [rng.uniform(-1e6, 1e6) for _ in range(300)] + [rng.random() * 10.0 ** rng.randint(-300, 300)
                                                             for _ in range(300)]
    for x in values:
        assert float(to_json(x)) == x


@pytest.mark.parametrize(
    "text, escaped",
    [
        ('a"b', r'"a\"b"'),
        ("back\\slash", r'"back\\slash"'),
        ("\b\t\n\f\r", r'"\b\t\n\f\r"'),
        ("\x00\x01\x1f", r'"\u0000\u0001\u001f"'),
        ("\u2028 and \u2029", r'"\u2028 and \u2029"'),
        ("é\x7f€😀", '"é\x7f€😀"'),
        ("\u2027\u202a", '"\u2027\u202a"'),
        ("long plain run " * 10 + "\n", '"' + "long plain run " * 10 + r'\n"'),
    ],
)
def test_string_escapes(text, escaped):
    assert to_json(text) == escaped.encode()
    assert to_json({text: 0}) == b"{" + escaped.encode() + b":0}"


def stdlib_json(s):
    text = json.dumps(s, ensure_ascii=False).replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
    return text.encode()


def test_strings_match_the_standard_library():
    rng = random.Random(5)
    alphabet = 'ab "\\\n\t\x00\x1f\x7fé€\u2028\u2029😀'
    for _ in range(500):
        s = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 30)))
        assert json.loads(to_json(s)) == s
        assert to_json(s) == stdlib_json(s)


# Texts are copied and tested in blocks of 16 or 32 bytes, the last block of a
# text read again from its end: a special character is put at every position
# of texts around those block lengths (and around the 4096-byte chunks of
# long texts), in plain and in multibyte surroundings.
@pytest.mark.parametrize("length", [15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 95, 4095, 4096, 4097, 8200])
@pytest.mark.parametrize("filler", ["a", "é"])
@pytest.mark.parametrize("special", ['"', "\\", "\n", "\x1f", "\u2028", "\u2029", "\u2020"])
def test_special_at_each_position_matches_the_standard_library(length, filler, special):
    base = (filler * length).encode()[:length].decode("utf-8", "ignore")
    positions = range(len(base) + 1) if length < 100 else [0, 1, 15, 16, 4094, 4095, 4096, len(base)]
    for at in positions:
        s = base[:at] + special + base[at:]
        assert to_json(s) == stdlib_json(s), at
        assert to_json({s: s}) == b"{" + stdlib_json(s) + b":" + stdlib_json(s) + b"}", at
    assert to_json(base) == stdlib_json(base)


def test_deep_nesting():
    obj = []
    for _ in range(900):
        obj = [obj]
    assert to_json(obj) == b"[" * 901 + b"]" * 901


def written_text(s):
    # A lone surrogate has no UTF-8 spelling: each byte of its
    # surrogate-passing encoding is written as U+FFFD.
    return s.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def stdlib_document(obj, option):
    text = json.dumps(
        obj,
        ensure_ascii=False,
        indent=2 if option & OPT_INDENT_2 else None,
        separators=(",", ": ") if option & OPT_INDENT_2 else (",", ":"),
        sort_keys=bool(option & OPT_SORT_KEYS),
    )
    return text.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029").encode()


# A str keeps its text as Latin-1 bytes, UCS-2 or UCS-4 units, by its widest
# character; non-ASCII texts are written from those units, eight at a time.
# Random texts of each width, around the block and chunk lengths, mostly of
# plain characters with specials, wider characters and (in the last
# alphabet) lone surrogates strewn in, as values and as keys.
ALPHABETS = {
    "latin-1": ("aé", 'b "\\\n\t\x00\x1f\x7f\x80\xa0\xc3\xe2\xff'),
    "ucs-2": ("a東ß", 'é "\\\n\x00\x1f\u0100\u07ff\u0800\u2027\u2028\u2029\u202a\ud7ff\ue000\ufffd\uffff'),
    "ucs-4": ("a😀é", '東 "\\\n\x01\u2028\u2029\U00010000\U0010ffff\uffff'),
    "surrogates": ("aé東😀", '\ud800\udbff\udc00\udfff\u2028"'),
}


@pytest.mark.parametrize("alphabet", ALPHABETS)
@pytest.mark.parametrize("option", [0, OPT_SORT_KEYS | OPT_INDENT_2])
def test_texts_of_every_width_match_the_standard_library(alphabet, option):
    plain, special = ALPHABETS[alphabet]
    rng = random.Random(alphabet)
    lengths = [*range(0, 41), 63, 64, 65, 4095, 4096, 4097, 9000]
    for length in lengths * 4:
        share = rng.choice([0.0, 0.05, 0.3, 1.0])
        s = "".join(rng.choice(special) if rng.random() < share else rng.choice(plain) for _ in range(length))
        w = written_text(s)
        size = sys.getsizeof(s)
        assert to_json(s, option=option) == stdlib_document(w, option), s
        # The empty key sorts first whatever s is.
        assert to_json({s: [s], "": 1}, option=option) == stdlib_document({w: [w], "": 1}, option), s
        # No UTF-8 copy was made for the str to keep.
        assert sys.getsizeof(s) == size
        # A str that keeps one is written from it.
        if w == s and keep_utf8(s):
            assert to_json([s], option=option) == stdlib_document([s], option), s


def keep_utf8(s):
    """Makes s keep its UTF-8 copy, as other extensions do; False when none was made."""
    before = sys.getsizeof(s)
    size = ctypes.c_ssize_t()
    ctypes.pythonapi.PyUnicode_AsUTF8AndSize.restype = ctypes.c_void_p
    ctypes.pythonapi.PyUnicode_AsUTF8AndSize.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.c_ssize_t)]
    ctypes.pythonapi.PyUnicode_AsUTF8AndSize(s, ctypes.byref(size))
    return sys.getsizeof(s) > before
