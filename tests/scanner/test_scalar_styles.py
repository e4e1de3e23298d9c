"""Scalar text in every style: plain folding, quoted folding and escapes,
block scalars with chomping and indentation indicators, and the errors each
style reports."""

import pytest

from _quarvel import loads
from quarvel.exceptions import QuarvelParseError


def check_error(text, message, line, column):
    with pytest.raises(QuarvelParseError) as info:
        loads(text)
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert (info.value.line, info.value.column) == (line, column)


@pytest.mark.parametrize(
    "text, value",
    [
        ("a: b\n  c\n", "b c"),
        ("a: b\n  c\n\n  d\n", "b c\nd"),
        ("a: b\n\n\n  c\n", "b\n\nc"),
        ("a: b   \n   c  \n", "b c"),
        ("a: one  two\n", "one  two"),
        ("a: b\n  - c\n", "b - c"),
        ("a: x:y\n", "x:y"),
        ("a: http://x.y/z#w\n", "http://x.y/z#w"),
        ("a: b # c\nd: 1\n", "b"),
        ("a: b]c{d}\n", "b]c{d}"),
        ("a: b, c\n", "b, c"),
        ("a: é ü\n", "é ü"),
    ],
)
def test_plain_scalars_in_block_context(text, value):
    assert loads(text)["a"] == value


@pytest.mark.parametrize(
    "text, value",
    [
        ("[a b, c]", ["a b", "c"]),
        ("[a\n  b]", ["a b"]),
        ("[a:b, c]", ["a:b", "c"]),
        ("{a: b\n\n  , c: d}", {"a": "b", "c": "d"}),
        ("[a#b]", ["a#b"]),
        ("[x]", ["x"]),
    ],
)
def test_plain_scalars_in_flow_context(text, value):
    assert loads(text) == value


def test_plain_scalar_stops_at_document_markers():
    assert loads("a\n---\n") == "a"
    assert loads("a\n...\n") == "a"
    assert loads("a\n--x\n") == "a --x"


@pytest.mark.parametrize(
    "text, value",
    [
        ("a: 'it''s'\n", "it's"),
        ("a: 'back\\slash'\n", "back\\slash"),
        ("a: 'one\n  two'\n", "one two"),
        ("a: 'one  \n\n  two'\n", "one\ntwo"),
        ("a: ''\n", ""),
        ("a: '# not a comment'\n", "# not a comment"),
    ],
)
def test_single_quoted(text, value):
    assert loads(text)["a"] == value


@pytest.mark.parametrize(
    "escape, char",
    [
        ("0", "\0"), ("a", "\a"), ("b", "\b"), ("t", "\t"), ("n", "\n"), ("v", "\v"),
        ("f", "\f"), ("r", "\r"), ("e", "\x1b"), (" ", " "), ('"', '"'), ("/", "/"),
        ("\\", "\\"), ("N", "\x85"), ("_", "\xa0"), ("L", "\u2028"), ("P", "\u2029"),
        ("x41", "A"), ("xe9", "é"), ("u263A", "☺"), ("U0001F600", "\U0001F600"),
        ("U0010FFFF", "\U0010FFFF"),
    ],
)
def test_double_quoted_escapes(escape, char):
    assert loads(f'"<\\{escape}>"') == f"<{char}>"


@pytest.mark.parametrize(
    "text, value",
    [
        ('"one\n  two"', "one two"),
        ('"one  \n\n  two"', "one\ntwo"),
        ('"one \\\n  two"', "one two"),
        ('"one\\\n\n  two"', "one\ntwo"),
        ('"tab\\t\n  next"', "tab\t next"),  # an escaped blank survives folding
        ('"sp\\ \n  next"', "sp  next"),
        ('"a\nb"', "a b"),
        ('"plain"', "plain"),
    ],
)
def test_double_quoted_folding(text, value):
    assert loads(text) == value


@pytest.mark.parametrize(
    "text, message, line, column",
    [
        ('"\\uD800"', "invalid unicode code point: U+D800", 1, 2),
        ('"\\U00110000"', "invalid unicode code point: U+110000", 1, 2),
        ('"a\\\tb"', "unknown escape character: '\\\t'", 1, 4),
        ('"a\\qb"', "unknown escape character: '\\q'", 1, 4),
        ('"\\x4g"', "invalid hex digit in unicode escape: 'g'", 1, 5),
        ('"\\u12', "incomplete unicode escape", 1, 6),
        ('"abc\\', "unterminated escape sequence", 1, 6),
        ('"abc\n', "unterminated double-quoted scalar", 2, 1),
        ("'abc", "unterminated single-quoted scalar", 1, 5),
        ('a: "x\n---\ny"\n', "a document marker cannot appear inside a quoted scalar", 2, 1),
        ("a: 'x\n... y'\n", "a document marker cannot appear inside a quoted scalar", 2, 1),
        ('a:\n  b: "x\n  y"\n', "a multi-line quoted scalar must be indented past its block context", 3, 3),
        ("'a\n b': c\n", "an implicit mapping key cannot span multiple lines", 1, 1),
    ],
)
def test_quoted_scalar_errors(text, message, line, column):
    check_error(text, message, line, column)


def test_multiline_quoted_scalar_in_flow_has_no_indentation_bound():
    assert loads('a: ["x\ny"]\n') == {"a": ["x y"]}


@pytest.mark.parametrize(
    "text, value",
    [
        ("a: |\n  x\n", "x\n"),
        ("a: |\n  x\n  y\n", "x\ny\n"),
        ("a: |-\n  x\n\n", "x"),
        ("a: |+\n  x\n\n\n", "x\n\n\n"),
        ("a: |\n  x\n\n\n", "x\n"),
        # Input that ends on a content line has no break to clip or keep.
        ("a: |\n  x", "x"),
        ("a: |\n  x\n  y", "x\ny"),
        ("a: |+\n  x", "x"),
        ("a: |\n  x\n\n", "x\n"),
        ("a: |\n\n  x\n", "\nx\n"),
        ("a: |\n   x\n  y\n", None),
        ("a: |2\n   x\n  y\n", " x\ny\n"),
        ("a: |1-\n  x\n", " x"),
        ("a: |-2\n   x\n", " x"),
        ("a: |\n  x\n   y\n", "x\n y\n"),
        ("a: |\n  \tx\n", "\tx\n"),
        ("a: |\n  x  \n", "x  \n"),
        ("a: |\nb: 1\n", ""),
        ("a: |+\nb: 1\n", ""),
        ("a: |\n  # not a comment\n", "# not a comment\n"),
        ("a: |\r\n  x\r\n  y\r\n", "x\ny\n"),
    ],
)
def test_literal_block_scalars(text, value):
    if value is None:
        with pytest.raises(QuarvelParseError):
            loads(text)
    else:
        assert loads(text)["a"] == value


@pytest.mark.parametrize(
    "text, value",
    [
        ("a: >\n  x\n  y\n", "x y\n"),
        ("a: >\n  x\n\n  y\n", "x\ny\n"),
        ("a: >\n  x\n    y\n  z\n", "x\n  y\nz\n"),
        ("a: >\n  x\n\n    y\n\n  z\n", "x\n\n  y\n\nz\n"),
        ("a: >-\n  x\n  y\n\n", "x y"),
        ("a: >+\n  x\n  y\n\n", "x y\n\n"),
        ("a: >\n\n  x\n", "\nx\n"),
        ("a: >\n  x\n  \ty\n", "x\n\ty\n"),
        ("a: >\n  x\n  y", "x y"),
        ("a: >\n  x\n\n  y", "x\ny"),
    ],
)
def test_folded_block_scalars(text, value):
    assert loads(text)["a"] == value


def test_keep_chomping_at_end_of_document():
    assert loads("--- |+\n  x\n\n\n...\n") == "x\n\n\n"
    assert loads("|+\n  x\n\n") == "x\n\n"


def test_block_scalar_ends_at_document_marker():
    assert loads("--- |\nx\n--- \n") == "x\n"


def test_top_level_block_scalar_with_indentation_indicator():
    assert loads("--- |1\n  x\n") == " x\n"


@pytest.mark.parametrize(
    "text, message, line, column",
    [
        ("a: |0\n  x\n", "unexpected content after block scalar indicator", 1, 5),
        ("a: |x\n  x\n", "unexpected content after block scalar indicator", 1, 5),
        ("a: |12\n  x\n", "unexpected content after block scalar indicator", 1, 6),
        ("a: |#c\n  x\n", "a comment must be preceded by whitespace", 1, 5),
        ("a: |-#c\n  x\n", "a comment must be preceded by whitespace", 1, 6),
        ("a: |\n    \n  x\n", "a leading empty line in a block scalar is indented more than the content", 2, 3),
    ],
)
def test_block_scalar_errors(text, message, line, column):
    check_error(text, message, line, column)


def test_whitespace_only_block_scalar_is_empty():
    assert loads("a: |\n    \n") == {"a": ""}
    assert loads("a: |+\n    \n") == {"a": "\n"}


def test_long_scalars_round_trip_through_the_buffer():
    words = " ".join(f"w{i}" for i in range(5000))
    folded = "a: " + "\n  ".join(words.split(" ")) + "\n"
    assert loads(folded)["a"] == words
    literal = "a: |\n" + "".join(f"  line {i}\n" for i in range(5000))
    assert loads(literal)["a"] == "".join(f"line {i}\n" for i in range(5000))
