"""Which characters a stream may hold, on every load path, and JSON's
escaped surrogate pairs. Outside quoted scalars only printable characters
are allowed; quoted scalars also take DEL, the C1 controls and U+FFFE/U+FFFF
(JSON strings may hold them raw); the other C0 controls are refused
everywhere, and the emitters write all of them as escapes."""

import json
import random

import pytest

import _quarvel
from _quarvel import OPT_ANNOTATED, OPT_ROUND_TRIP, dumps, loads
from quarvel.exceptions import QuarvelParseError

PATHS = {
    "plain": lambda t: loads(t),
    "annotated": lambda t: loads(t, option=OPT_ANNOTATED),
    "round-trip": lambda t: loads(t, option=OPT_ROUND_TRIP).to_dict(),
}

C0 = [c for c in map(chr, range(0x20)) if c not in "\t\n\r"]
QUOTED_ONLY = ["\x7f", "\x80", "\x9f", "\ufffe", "\uffff"]
# (template, where the character stands: (line, column) of {c} in the text)
PLACES = [
    ("a: x{c}y\n", 1, 5),  # plain scalar
    ("{c}a: 1\n", 1, 1),  # start of a key
    ("a: 1 # c{c}\n", 1, 9),  # comment
    ("k:\n  - |\n    x{c}\n", 3, 6),  # block scalar
    ("a: &x{c} 1\n", 1, 6),  # anchor
    ("a: !t{c} 1\n", 1, 6),  # tag
    ("[a, b{c}]\n", 1, 6),  # flow scalar
]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("template, line, column", PLACES)
@pytest.mark.parametrize("char", C0 + QUOTED_ONLY, ids=lambda c: f"U+{ord(c):04X}")
def test_unprintable_refused_outside_quotes(path, template, line, column, char):
    with pytest.raises(QuarvelParseError) as info:
        PATHS[path](template.format(c=char))
    assert str(info.value) == f"invalid character U+{ord(char):04X} at line {line}, column {column}"


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("quote", ['"', "'"])
def test_quoted_scalars_take_json_characters_but_no_c0(path, quote):
    for char in QUOTED_ONLY + ["\x85", "\ufeff", "\u2028", "\t"]:
        assert PATHS[path](f"a: {quote}x{char}{quote}\n") == {"a": f"x{char}"}
    for char in C0:
        with pytest.raises(QuarvelParseError, match=f"invalid character U\\+{ord(char):04X}"):
            PATHS[path](f"a: {quote}x{char}{quote}\n")


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("char", ["\ufeff", "\x85", "\u2028", "\u2029"], ids=lambda c: f"U+{ord(c):04X}")
def test_names_hold_no_byte_order_mark_or_line_break(path, char):
    # Printable, but a name stands on one line in plain text.
    for text, what, column in [(f"a: &x{char}y 1\n", "an anchor", 4), (f"a: &x 1\nb: *x{char}\n", "an alias", 4)]:
        with pytest.raises(QuarvelParseError) as info:
            PATHS[path](text)
        line = text.count("\n", 0, text.index(char)) + 1
        assert str(info.value) == f"invalid character U+{ord(char):04X} in {what} name at line {line}, column {column}"


def test_character_before_a_syntax_error_is_named_first():
    with pytest.raises(QuarvelParseError, match="invalid character U\\+0000 at line 1, column 5"):
        loads("a: [\x00\n")


@pytest.mark.parametrize(
    "text, expected",
    [
        (r'"\ud83d\udca9"', "\U0001f4a9"),
        (r'"\uD83D\uDCA9x"', "\U0001f4a9x"),
        (r'"\ud800\udc00"', "\U00010000"),
        (r'"\udbff\udfff"', "\U0010ffff"),
    ],
)
def test_surrogate_pair_escapes_are_one_character(text, expected):
    assert loads(text) == expected


@pytest.mark.parametrize(
    "text, code",
    [
        (r'"\ud83d"', "D83D"),  # lone high
        (r'"\udca9"', "DCA9"),  # lone low
        (r'"\ud83d\u0041"', "D83D"),  # high, then no low
        (r'"\ud83d \udca9"', "D83D"),  # not adjacent
        (r'"\ud83d\U0000dca9"', "D83D"),  # only \u pairs up, as in JSON
    ],
)
def test_lone_surrogate_escapes_are_refused(text, code):
    with pytest.raises(QuarvelParseError, match=f"invalid unicode code point: U\\+{code}"):
        loads(text)


def random_json_value(rng, depth=0):
    def text():
        pool = "aé\x00\x1f\x7f\x85\u2028\ufffe\U0001f4a9\U0010ffff \"\\/\n\t"
        return "".join(rng.choice(pool) for _ in range(rng.randrange(6)))

    kind = rng.randrange(7 if depth < 3 else 5)
    if kind == 0:
        return text()
    if kind == 1:
        return rng.randrange(-(10**6), 10**6)
    if kind == 2:
        return rng.choice([True, False, None])
    if kind == 3:
        return rng.random() * 1e6
    if kind == 4:
        return text()
    if kind == 5:
        return [random_json_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {text(): random_json_value(rng, depth + 1) for _ in range(rng.randrange(4))}


@pytest.mark.parametrize("ensure_ascii", [True, False])
def test_random_json_reads_as_json_loads_reads_it(ensure_ascii):
    rng = random.Random(20261209)
    for _ in range(400):
        doc = json.dumps(random_json_value(rng), ensure_ascii=ensure_ascii)
        assert loads(doc) == json.loads(doc), doc


def test_dumps_escapes_what_readers_refuse():
    yaml = pytest.importorskip("yaml")
    value = {"k\x85": ["\x7f\x80\ufeff\ufffe\u2028x", "\x01", "é°"]}
    out = dumps(value)
    assert loads(out) == value
    assert loads(out, option=_quarvel.OPT_YAML_1_1) == value
    assert yaml.safe_load(out) == value  # a YAML 1.1 reader that refuses them raw
