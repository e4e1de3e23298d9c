"""Comments and anchor names set through node cursors take only what reads
back as the same text; anything else is refused before the document
changes."""

import pytest

import quarvel

from roundtrip_support import load, snapshot

TEXT = "x: 0\n# above\na: 1  # after\nb: 2\n"

# Characters around the edges of what YAML may hold on one line.
PROBES = [chr(c) for c in range(0x00, 0x100)] + [
    "\u2028", "\u2029", "\ufeff", "\ufffe", "\uffff", "\ufffd", "\u3000", "\u200b", "\ud7ff",
    "\ue000", "\U0001f600", "\U0010fffd",
]


@pytest.mark.parametrize("attribute", ["comment", "comment_before", "anchor"])
def test_set_text_reads_back_or_is_refused(attribute):
    for probe in PROBES:
        text = "a" + probe + "b"
        if attribute == "comment_before" and probe == "\n":
            continue  # splits the text into lines, tested below
        doc = load(TEXT)
        before = snapshot(doc), doc.to_yaml()
        try:
            setattr(doc.node["a"], attribute, text)
        except ValueError:
            assert (snapshot(doc), doc.to_yaml()) == before
            continue
        if attribute == "anchor":
            doc.node["b"].make_alias(text)
        again = load(doc.to_yaml())
        assert getattr(again.node["a"], attribute) == text, (attribute, hex(ord(probe)))
        b = 1 if attribute == "anchor" else 2
        assert quarvel.loads(doc.to_yaml()) == {"x": 0, "a": 1, "b": b}


@pytest.mark.parametrize(
    "attribute, text, message",
    [
        ("comment", "x\x00", "comment cannot hold U+0000"),
        ("comment", "a\nb", "comment cannot hold a line break (U+000A)"),
        ("comment", "a\rb", "comment cannot hold a line break (U+000D)"),
        ("comment", "a\x85b", "comment cannot hold a line break (U+0085)"),
        ("comment", "a\u2028b", "comment cannot hold a line break (U+2028)"),
        ("comment", "a\u2029b", "comment cannot hold a line break (U+2029)"),
        ("comment", "x\x7f", "comment cannot hold U+007F"),
        ("comment", "x\x9b", "comment cannot hold U+009B"),
        ("comment", "x\ufeff", "comment cannot hold U+FEFF"),
        ("comment", "x\uffff", "comment cannot hold U+FFFF"),
        ("comment_before", "x\ry: 2", "comment cannot hold a line break (U+000D)"),
        ("comment_before", "fine\nx\x1b[2J", "comment cannot hold U+001B"),
        ("comment_before", "x\u2028y: 2", "comment cannot hold a line break (U+2028)"),
        ("anchor", "", "anchor name cannot be empty"),
        ("anchor", "x\x7f", "anchor name cannot hold U+007F"),
        ("anchor", "x\ufeff", "anchor name cannot hold U+FEFF"),
        ("anchor", "a b", "anchor name cannot hold a space (U+0020)"),
        ("anchor", "a\tb", "anchor name cannot hold a tab (U+0009)"),
        ("anchor", "a\nb", "anchor name cannot hold a line break (U+000A)"),
        ("anchor", "a\x85b", "anchor name cannot hold a line break (U+0085)"),
        ("anchor", "a,b", "anchor name cannot hold ',' (U+002C)"),
        ("anchor", "a}", "anchor name cannot hold '}' (U+007D)"),
    ],
)
def test_refusals_name_the_character(attribute, text, message):
    doc = load(TEXT)
    before = snapshot(doc), doc.to_yaml()
    with pytest.raises(ValueError) as info:
        setattr(doc.node["a"], attribute, text)
    assert str(info.value) == message
    assert (snapshot(doc), doc.to_yaml()) == before


@pytest.mark.parametrize("text", ["one\ntwo", "one\r\ntwo", "\ttabbed\n\nafter a blank"])
def test_comment_before_splits_at_line_feeds(text):
    doc = load(TEXT)
    doc.node["a"].comment_before = text
    again = load(doc.to_yaml())
    assert again.node["a"].comment_before.split("\n") == text.replace("\r\n", "\n").split("\n")
    assert quarvel.loads(doc.to_yaml()) == {"x": 0, "a": 1, "b": 2}


@pytest.mark.parametrize("attribute", ["comment", "comment_before"])
def test_comments_inside_flow_collections_are_refused(attribute):
    # A flow collection is written on one line, where a comment would end it.
    text = "a: {b: 1}\nd: [1, [2]]\n"
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    for node in (doc.node["a"]["b"], doc.node["d"][1][0]):
        with pytest.raises(ValueError, match="^a comment cannot be set inside a flow collection$"):
            setattr(node, attribute, "note")
        setattr(node, attribute, None)
    assert doc.to_yaml().decode() == text
    setattr(doc.node["d"], attribute, "note")
    assert quarvel.loads(doc.to_yaml()) == quarvel.loads(text)


def test_a_block_collection_takes_a_line_end_comment_only_as_a_value():
    text = "k:\n  a: 1\ns:\n- a: 1\n- 3\n"
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    for node in (doc.node, doc.node["s"][0]):
        with pytest.raises(ValueError, match="^a block collection takes a comment"):
            node.comment = "lost"
    doc.node["k"].comment = "k"
    doc.node["s"][0].comment_before = "above"
    assert doc.to_yaml().decode() == "k: # k\n  a: 1\ns:\n# above\n- a: 1\n- 3\n"
