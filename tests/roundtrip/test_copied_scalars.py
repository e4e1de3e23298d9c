"""Untouched plain scalars are copied as written when their parent is
re-emitted, except where the copy would read as something else in its new
place."""

import pytest

import quarvel


@pytest.mark.parametrize(
    "text",
    [
        "? a \r\n\n? \r-: \n",  # "-" stood before ':'; below "? " it would open a sequence
        "? a\n? \n-: \n",
        "? a\n-: 1\n?: 2\n",
        "? a\na:: 1\n",  # a plain scalar ending in ':'
    ],
)
def test_reemitted_keys_read_back_the_same(text):
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc["new"] = 1
    assert quarvel.loads(quarvel.dumps(doc)) == {**quarvel.loads(text), "new": 1}


@pytest.mark.parametrize(
    "text",
    [
        "%TAG !m! !m!\n---\na: !m! x\nb: !m!y z\n",  # a handle whose expansion reads as itself
        "%TAG !m! tag:example.com,2000:\n---\na: !m!x 1\n",
    ],
)
def test_reemitted_tags_keep_their_handles(text):
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc["new"] = 1
    out = quarvel.dumps(doc)
    assert quarvel.loads(out, tag_handler=lambda tag, value: (tag, value)) == {
        **quarvel.loads(text, tag_handler=lambda tag, value: (tag, value)), "new": 1}
