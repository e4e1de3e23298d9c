"""Untouched flow collections are copied as written when their parent is
re-emitted; the copy must take exactly the collection's own text."""

import pytest

import quarvel


@pytest.mark.parametrize(
    "text",
    [
        "{r: [[: [x]]], s: 1}\n",  # a flow pair whose key is empty ends before its value
        "{r: [[: [ !t ]]]\n, s: 1}\n",
        "{r: [[a: {b: [c]}]], s: 1}\n",
        "s: 1\nr: [[: [x]], [y]]\n",
        "s: 1\nr: {a: [[: {}]]}  # note\n",
    ],
)
def test_parent_edit_keeps_flow_values(text):
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc["s"] = 2
    out = quarvel.dumps(doc)
    assert quarvel.loads(out) == {**quarvel.loads(text), "s": 2}
