"""A block scalar kept with "+" takes every empty line written below it as
content, and any block scalar takes the comment lines at its indentation:
re-emitting a document around an untouched one must not move the
source's empty lines under it."""

import pytest

import quarvel


@pytest.mark.parametrize(
    "text",
    [
        "kep: |+\n  #\n&a\n\n\nkey: 1\nz: 3\n",  # properties on their own line, then empty lines
        "kep: >+\n  text\n!t\n\nkey: 1\nz: 3\n",
        "kep: |2+\n   x\n&a\n\nkey: 1\nz: 3\n",
        "kep: |-\n  x\n&a\n\n\nkey: 1\nz: 3\n",  # strip and clip take no empty lines
        "kep: |\n  x\n&a\n\n\nkey: 1\nz: 3\n",
        # A comment that stood below "?" would be content right after it.
        "kep: |\n x\n?\n # c\n  key\nz: 3\n",
        "a:\n  kep: >+\n   x\n\n?\n   # c\n  key\nz: 3\n",
        # An empty block scalar key with no value, then comment lines: the
        # indented one would be the key's content if the first were lost.
        "? |\n#\n #\nkey: 1\nz: 3\n",
        "? >-\n# c\n  # d\nkey:\nz: 3\n",
    ],
)
def test_edits_below_a_block_scalar_keep_its_text(text):
    before = quarvel.loads(text)
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc["key"] = 2
    doc["new"] = 5
    after = quarvel.loads(quarvel.dumps(doc))
    assert after == {**before, "key": 2, "new": 5}


def test_comment_lines_below_an_empty_block_scalar_key_stay():
    doc = quarvel.loads("? |\n#\n #\np:\n", option=quarvel.OPT_ROUND_TRIP)
    doc["p"] = 1
    assert doc.to_yaml() == b"? |\n#\n #\np: 1\n"


@pytest.mark.parametrize("text", ["foo: |\n  x\n   ", "foo: >\n  x\n\n   ", "- |\n  a\n "])
def test_a_last_line_of_spaces_stays_with_its_scalar(text):
    # At the end of the text the spaces are the scalar's own last line.
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    before = quarvel.loads(text)
    if isinstance(before, dict):
        doc["b"] = None
        before["b"] = None
    else:
        doc.append(None)
        before.append(None)
    assert quarvel.loads(doc.to_yaml()) == before
