"""Syntax errors found while tokenizing: each one has its exact message and
the 1-based position of the offending character, and inputs close to each
error that must still load."""

import pytest

from _quarvel import loads, loads_all
from quarvel.exceptions import QuarvelParseError


def parse_error(text):
    with pytest.raises(QuarvelParseError) as info:
        loads_all(text)
    return info.value


def check(text, message, line, column):
    err = parse_error(text)
    assert str(err) == f"{message} at line {line}, column {column}"
    assert (err.line, err.column) == (line, column)


TABS = [
    ("a: 1\n\tb: 2\n", 2, 1),
    ("a:\n  b: 1\n  \tc: 2\n", 3, 3),
    ("\ta: 1\n", 1, 1),
    ("- a\n\t- b\n", 2, 1),
]


@pytest.mark.parametrize("text, line, column", TABS)
def test_tab_as_indentation(text, line, column):
    check(text, "a tab cannot be used for indentation", line, column)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: 1\n\t\nb: 2\n", {"a": 1, "b": 2}),  # a line holding only a tab
        ("a:\n\t[1, 2]\n", {"a": [1, 2]}),  # tab before a flow opener
        ("a:\n  \t\n  b: 1\n", {"a": {"b": 1}}),
        ("a: [1,\n\t2]\n", {"a": [1, 2]}),  # tabs separate inside flow content
        ("a:\t1\n", {"a": 1}),
        ("foo:\n \tbar\n", {"foo": "bar"}),  # tab after the indentation
        ("first\n\tsecond\n", "first second"),  # tab on a scalar continuation
        ('a: "x"\n\t# note\n', {"a": "x"}),  # tab before a comment line
        ("- 1\n\t# note\n- 2\n", [1, 2]),
    ],
)
def test_tabs_that_are_not_indentation(text, expected):
    assert loads(text) == expected


COMMENTS = [
    ('a: "x"#c\n', 1, 7),
    ("a: [x]#c\n", 1, 7),
    ("a: |#c\n  x\n", 1, 5),
    ("#ok\n{a: 1}#c\n", 2, 7),
]


@pytest.mark.parametrize("text, line, column", COMMENTS)
def test_comment_not_preceded_by_whitespace(text, line, column):
    check(text, "a comment must be preceded by whitespace", line, column)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: 1#x\n", {"a": "1#x"}),
        ("a: b#c d\n", {"a": "b#c d"}),
        ("# at the start\na: 1\n", {"a": 1}),
        ("\ufeff# after a byte order mark\na: 1\n", {"a": 1}),
        ("a: 1 # trailing\n", {"a": 1}),
        ("a: |  # header comment\n  x\n", {"a": "x\n"}),
        ("[a, # inside\n b]\n", ["a", "b"]),
    ],
)
def test_hash_inside_and_outside_comments(text, expected):
    assert loads(text) == expected


BLOCK_STRUCTURE = [
    ("a: - b\n", "a block sequence cannot start on the same line as its mapping key", 1, 4),
    ("&a - b\n", "a block sequence entry cannot follow an anchor or tag on the same line", 1, 4),
    ("- !!str - b\n", "a block sequence entry cannot follow an anchor or tag on the same line", 1, 9),
    ("--- - a\n", "a block collection cannot start on the same line as ---", 1, 5),
    ("--- a: 1\n", "a block collection cannot start on the same line as ---", 1, 6),
    ("--- [a]: 1\n", "a block collection cannot start on the same line as ---", 1, 8),
    ("- - a\n - b\n", "a sequence entry is indented past its sequence", 2, 2),
    ("key:\n&a value\n", "a node property must be indented past its mapping key", 2, 1),
    (", a\n", "a plain scalar cannot start with ','", 1, 1),
    ("a: @x\n", "'@' is a reserved indicator and cannot start a plain scalar", 1, 4),
    ("a: `x`\n", "'`' is a reserved indicator and cannot start a plain scalar", 1, 4),
    ("... x\n", "unexpected content after document-end marker (...)", 1, 5),
    ("a:\n  b\n  c: d\n", "an implicit mapping key cannot span multiple lines", 2, 3),
    ("'a\n b': c\n", "an implicit mapping key cannot span multiple lines", 1, 1),
    ('"a\n b": c\n', "an implicit mapping key cannot span multiple lines", 1, 1),
    ("a: 'x' y\n", "unexpected content after quoted scalar", 1, 8),
    ('"x" y: 1\n', "unexpected content after quoted scalar", 1, 5),
    # Properties after an alias would go to the next line's node.
    ("x: &x 1\na: *x &y\nb: 1\n", "unexpected content after alias", 2, 7),
    ("- &x 1\n- *x !t\n", "unexpected content after alias", 2, 6),
]


@pytest.mark.parametrize("text, message, line, column", BLOCK_STRUCTURE)
def test_block_structure_errors(text, message, line, column):
    check(text, message, line, column)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("--- a\n", "a"),
        ("--- |\n  x\n", "x\n"),
        ("- - a\n  - b\n- c\n", [["a", "b"], "c"]),
        ("key:\n- a\n- b\nnext: 1\n", {"key": ["a", "b"], "next": 1}),
        ("? a\n: - b\n  - c\n", {"a": ["b", "c"]}),
        ("- ? a\n  : b: c\n", [{"a": {"b": "c"}}]),  # compact mapping after ':'
        ("a: &x\n  b: 1\nc: *x\n", {"a": {"b": 1}, "c": {"b": 1}}),
        ("&k key: v\nother: *k\n", {"key": "v", "other": "key"}),
    ],
)
def test_block_structures_that_load(text, expected):
    assert loads(text) == expected


FLOW = [
    ("[a,,b]\n", "empty flow entry (stray ',')", 1, 4),
    ("[,]\n", "empty flow entry (stray ',')", 1, 2),
    ("{a: 1,,}\n", "empty flow entry (stray ',')", 1, 7),
    ("[a\n", "unclosed flow collection at end of input", 2, 1),
    ("{a: [b}\n", "mismatched flow collection: '}' cannot close a '['", 1, 7),
    ("[a}\n", "mismatched flow collection: '}' cannot close a '['", 1, 3),
    ("{a]\n", "mismatched flow collection: ']' cannot close a '{'", 1, 3),
    ("]\n", "unexpected ']' with no open flow collection", 1, 1),
    ("a: }\n", "unexpected '}' with no open flow collection", 1, 4),
    ("[a,\nb]: c\n", "a multiline flow collection cannot be an implicit mapping key", 2, 3),
    ("[a] b\n", "unexpected content after flow collection", 1, 5),
    ('["a" b]\n', "missing ',' between flow collection entries", 1, 6),
    ("[[a] b]\n", "missing ',' between flow collection entries", 1, 6),
    ("{a: b\n c: d}\n", "missing ',' between flow collection entries", 2, 3),
    ("[a\nb: c]\n", "the implicit key of a flow sequence pair must be on one line", 2, 2),
    ("[-]\n", "a plain scalar cannot be a bare '-' here", 1, 2),
    ("[a, - b]\n", "a plain scalar cannot be a bare '-' here", 1, 5),
    ("[#x]\n", "a comment must be preceded by whitespace", 1, 2),
    ("[\n---\n]\n", "a document marker is not allowed inside a flow collection", 2, 1),
    ("a:\n  b: [1,\n  2]\n", "flow content must be indented more than its block context", 3, 3),
    ("[@x]\n", "'@' is a reserved indicator and cannot start a plain scalar", 1, 2),
]


@pytest.mark.parametrize("text, message, line, column", FLOW)
def test_flow_errors(text, message, line, column):
    check(text, message, line, column)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("[a, b, ]\n", ["a", "b"]),
        ("{a: 1, }\n", {"a": 1}),
        ('{"a":b}\n', {"a": "b"}),
        ("[a: b]\n", [{"a": "b"}]),
        ("[-a, ?b, :c]\n", ["-a", "?b", ":c"]),
        ("{a: [1,\n  2]}\n", {"a": [1, 2]}),
        ("a: [1,\n 2]\n", {"a": [1, 2]}),
        ("[a\n b]\n", ["a b"]),
    ],
)
def test_flow_collections_that_load(text, expected):
    assert loads(text) == expected


def test_flow_nesting_limit():
    assert loads("[" * 999 + "]" * 999) is not None
    check("[" * 1001 + "]" * 1001, "maximum nesting depth (1000) exceeded", 1, 1001)
    check("{a: " * 1001 + "}" * 1001, "maximum nesting depth (1000) exceeded", 1, 4001)


PROPERTIES = [
    ("a: & x\n", "expected anchor name", 1, 4),
    ("a: *\n", "expected alias name", 1, 4),
    ("[&, a]\n", "expected anchor name", 1, 2),
    ("a: !<tag:x\n", "unterminated verbatim tag", 1, 4),
]


@pytest.mark.parametrize("text, message, line, column", PROPERTIES)
def test_property_errors(text, message, line, column):
    check(text, message, line, column)


def test_columns_count_characters_not_bytes():
    check("é: [a}\n", "mismatched flow collection: '}' cannot close a '['", 1, 6)
    check("\U0001F600x: [a}\n", "mismatched flow collection: '}' cannot close a '['", 1, 7)
    check("\ufeff[a}\n", "mismatched flow collection: '}' cannot close a '['", 1, 3)


def test_crlf_counts_as_one_line_break():
    check("a: 1\r\nb: 2\r\n\tc: 3\r\n", "a tab cannot be used for indentation", 3, 1)
    check("a: 1\rb: ]\r", "unexpected ']' with no open flow collection", 2, 4)


def test_error_in_later_document_fails_the_call():
    check("a: 1\n---\n[b\n", "unclosed flow collection at end of input", 4, 1)


# An error inside a flow collection or a quoted scalar opened on an earlier
# line (or left open at the end) also points at where it was opened; the
# message and position stay those of the fault itself.
@pytest.mark.parametrize(
    "text, message, notes",
    [
        ("a: 1\nports: [80, 443\n", "unclosed flow collection at end of input at line 3, column 1",
         ["the '[' at line 2, column 8 is never closed"]),
        ("a: 1\nports: [80, 443\nnext: 1\n",
         "the implicit key of a flow sequence pair must be on one line at line 3, column 5",
         ["the '[' at line 2, column 8 is still open; is a ']' missing?"]),
        ("a: {b: [1\n ]\n c: 2\n", "missing ',' between flow collection entries at line 3, column 2",
         ["the '{' at line 1, column 4 is still open; is a '}' missing?"]),
        ('a: "x\nb: 1\n',
         "a multi-line quoted scalar must be indented past its block context at line 2, column 1",
         ['the quoted scalar at line 1, column 4 starts here; is its closing " missing?']),
        ("a: 'x\n", "unterminated single-quoted scalar at line 2, column 1",
         ["the quoted scalar at line 1, column 4 starts here; is its closing ' missing?"]),
        # Faults on the opening line need no note.
        ("a: [1, 2}\n", "mismatched flow collection: '}' cannot close a '[' at line 1, column 9", None),
    ],
)
def test_errors_note_where_an_open_collection_or_quote_began(text, message, notes):
    err = parse_error(text)
    assert str(err) == message
    assert getattr(err, "__notes__", None) == notes


# A block scalar header holds at most one chomping and one indentation
# indicator, right after '|' or '>'.
@pytest.mark.parametrize("text, column", [
    ("a: |+-\n  x\n", 6), ("a: >-+\n  x\n", 6), ("a: |22\n  x\n", 6), ("a: | +\n  x\n", 6),
    ("a: |2 -\n   x\n", 7),
])
def test_block_scalar_header_indicators(text, column):
    check(text, "unexpected content after block scalar indicator", 1, column)
