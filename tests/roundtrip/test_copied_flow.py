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


@pytest.mark.parametrize("text, expected", [
    ("- [::::]\n", '- ["a: b"]\n'),  # a pair with an empty value ends at its ':'
    ("[a :, b]\n", '["a: b", b]\n'),
    ("a: &x 1\nb:\n--- !t\n", None),  # an alias made in an empty value
])
def test_replaced_nodes_end_where_their_text_did(text, expected):
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    if expected is None:
        doc[0].node["b"].make_alias("x")
        doc[0] = 5
        assert doc.to_yaml() == b"5\n--- !t\n"
        return
    if text.startswith("-"):
        doc[0][0] = "a: b"
    else:
        doc[0] = "a: b"
    assert doc.to_yaml().decode() == expected


@pytest.mark.parametrize("text", ["[ey : v, e]\n", "[ey:]\n", "[&a k: &b v]\n"])
def test_a_pair_grown_by_an_edit_is_replaced_with_its_own_text(text):
    # The added entry was never in the text: the pair still ends with its
    # first value, and none of it is left behind.
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc[0]["a"] = None
    doc[0] = float("-inf")
    assert quarvel.loads(doc.to_yaml()) == [float("-inf"), *quarvel.loads(text)[1:]]


@pytest.mark.parametrize("text", ["t: :\n &e\n4: *e\n", "t: x\n!!str\n4: 1\n"])
def test_properties_above_a_key_do_not_join_a_new_plain_value(text):
    # "&e" on its own line belongs to the key below it; after a plain value
    # written anew it would continue that value, so the key takes it along.
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc["t"] = "a"
    assert quarvel.loads(doc.to_yaml()) == {**quarvel.loads(text), "t": "a"}


@pytest.mark.parametrize("text", ["[k: &n, b]\n", "[a,\nk :  &n5,b\n]\n", "[k : !t &n]\n"])
def test_a_pair_whose_empty_value_lost_its_properties_is_replaced_whole(text):
    # The value's anchor (or tag) is gone from the tree but still in the
    # text: replacing the pair must not leave it behind after the new item.
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    i = 1 if text.startswith("[a") else 0
    doc.node[i]["k"].anchor = None
    doc[i] = None
    expected = quarvel.loads(text)
    expected[i] = None
    assert quarvel.loads(doc.to_yaml()) == expected
