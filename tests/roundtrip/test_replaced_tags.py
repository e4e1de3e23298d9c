"""Tags on replaced values: a replaced value keeps its tag only where the tag
still reads the new value as it is, and a QuarvelTag value sets one
explicitly. Every edit's output must read back as the edited value."""

import math

import pytest

import quarvel
from quarvel import QuarvelTag

from roundtrip_support import load, snapshot

# Sources whose tag the resolver reads (standard tags in every spelling,
# "!") or ignores (!!binary); application tags read scalars as their text
# and are checked in the table below.
READ_TAGS = [
    "a: !!str x\n",
    "a: !!int 1\n",
    "a: !!float 1.5\n",
    "a: !!bool true\n",
    "a: !!null ~\n",
    "a: !!map {k: 1}\n",
    "a: !!seq [1]\n",
    "a: !!binary aGk=\n",
    "a: !<tag:yaml.org,2002:str> x\n",
    "%TAG !e! tag:yaml.org,2002:\n---\na: !e!int 1\n",
    "a: ! x\n",
]

VALUES = [None, 0, -7, 2**70, 1.5, -0.0, math.inf, "hello", "12", "null", "true", "", True,
          False, [1, "x"], {"k": None}]

ASSIGNMENTS = {
    "document": lambda doc, value: doc.__setitem__("a", value),
    "view": lambda doc, value: doc["outer"].__setitem__("a", value),
    "node": lambda doc, value: setattr(doc.node["a"], "value", value),
}


@pytest.mark.parametrize("mode", [0, quarvel.OPT_YAML_1_1])
@pytest.mark.parametrize("how", list(ASSIGNMENTS))
@pytest.mark.parametrize("text", READ_TAGS)
def test_replaced_values_read_back(text, how, mode):
    if how == "view":
        prologue, _, body = text.rpartition("a: ")
        text = prologue + "outer:\n  a: " + body
    for value in VALUES:
        doc = load(text, mode)
        ASSIGNMENTS[how](doc, value)
        out = quarvel.loads(doc.to_yaml(), option=mode)
        got = out["outer"]["a"] if how == "view" else out["a"]
        assert got == value and type(got) is type(value), (text, value, doc.to_yaml())


@pytest.mark.parametrize(
    "text, value, tag",
    [
        ("a: !!str x\n", "hello", "!!str"),
        ("a: !!str x\n", "12", "!!str"),
        ("a: !!str x\n", None, None),
        ("a: !!str x\n", 5, None),
        ("a: !!int 1\n", 5, "!!int"),
        ("a: !!int 1\n", "hello", None),
        ("a: !!float 1.5\n", 2.5, "!!float"),
        ("a: !!float 1.5\n", 2, None),
        ("a: !!map {k: 1}\n", "text", None),
        ("a: !!map {k: 1}\n", {"j": 2}, "!!map"),
        ("a: !!seq [1]\n", {"j": 2}, None),
        ("a: !!binary aGk=\n", "aGk=", None),
        ("a: !<tag:yaml.org,2002:str> x\n", "y", "!<tag:yaml.org,2002:str>"),
        ("a: ! x\n", "y", "!"),
        ("a: ! x\n", 5, None),
        ("a: ! [1]\n", [2], "!"),
        # An application tag stays on a value of its kind: its reader gets
        # the new text, as it got the old one.
        ("a: !foo x\n", 5, "!foo"),
        ("a: !foo x\n", "y", "!foo"),
        ("a: !foo\n", "y", "!foo"),
        ("a: !foo x\n", None, None),
        ("a: !foo x\n", [1], None),
        ("a: !foo [1]\n", [2], "!foo"),
        ("a: !foo [1]\n", {"k": 1}, None),
        ("a: !foo {k: 1}\n", {"j": 1}, "!foo"),
    ],
)
def test_which_tag_a_replaced_value_keeps(text, value, tag):
    doc = load(text)
    doc["a"] = value
    assert doc.node["a"].tag == tag
    assert load(doc.to_yaml()).node["a"].tag == tag
    reads = str(value) if tag == "!foo" and isinstance(value, int) else value
    assert quarvel.loads(doc.to_yaml())["a"] == reads


@pytest.mark.parametrize(
    "value, written, reads",
    [
        (QuarvelTag("!!str", 5), "a: !!str 5\n", "5"),
        (QuarvelTag("!foo", 5), "a: !foo 5\n", "5"),
        (QuarvelTag("!!int", 7), "a: !!int 7\n", 7),
        (QuarvelTag("tag:yaml.org,2002:int", 7), "a: !<tag:yaml.org,2002:int> 7\n", 7),
        (QuarvelTag("!<tag:yaml.org,2002:str>", "x"), "a: !<tag:yaml.org,2002:str> x\n", "x"),
        (QuarvelTag("!!null", None), "a: !!null null\n", None),
        (QuarvelTag("!!set", {"x": None}), "a: !!set\n  x:\n", {"x": None}),
        (QuarvelTag("!foo", [1]), "a: !foo\n- 1\n", [1]),
        ([QuarvelTag("!!str", 1)], "a:\n- !!str 1\n", ["1"]),
    ],
)
def test_a_tag_given_with_the_value_is_written(value, written, reads):
    doc = load("a: !old x\n")
    doc["a"] = value
    assert doc.to_yaml() == written.encode()
    assert quarvel.loads(doc.to_yaml())["a"] == reads


@pytest.mark.parametrize(
    "value, message",
    [
        (QuarvelTag("!!int", "hello"), "cannot read 'hello' as !!int"),
        (QuarvelTag("!!bool", 1), "cannot read '1' as !!bool"),
        (QuarvelTag("!!map", "x"), "cannot read 'x' as !!map"),
        (QuarvelTag("!!map", [1]), "the tag !!map cannot be written on a sequence"),
        (QuarvelTag("!!str", {"a": 1}), "the tag !!str cannot be written on a mapping"),
        (QuarvelTag("!!str", None), "the tag !!str cannot be written on null"),
        (QuarvelTag("!<a>b>", 1), "cannot write the tag !<a>b> in YAML"),
        ({"k": [QuarvelTag("!!int", "x")]}, "cannot read 'x' as !!int"),
    ],
)
def test_a_tag_that_cannot_read_its_value_is_refused(value, message):
    doc = load("a: !!str x  # kept\nb: [1]\n")
    before = snapshot(doc), doc.to_yaml()
    for assign in (lambda: doc.__setitem__("a", value), lambda: doc["b"].__setitem__(0, value),
                   lambda: setattr(doc.node["a"], "value", value)):
        with pytest.raises(ValueError) as info:
            assign()
        assert str(info.value) == message
    assert (snapshot(doc), doc.to_yaml()) == before


@pytest.mark.parametrize("bom", ["", "\ufeff"])
def test_tags_under_redefined_handles_keep_their_meaning(bom):
    text = bom + "%TAG ! tag:example.com,2000:\n%TAG !! tag:other,1:\n--- !shape\na: 1\n"
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    # "!local" would read as tag:example.com,2000:local here (a byte order
    # mark before the %TAG line changes nothing).
    with pytest.raises(ValueError, match="^cannot write the tag !local: a %TAG line"):
        doc["b"] = quarvel.QuarvelTag("!local", "x")
    doc["c"] = quarvel.QuarvelTag("!!str", "5")
    out = doc.to_yaml()
    assert b"c: !<tag:yaml.org,2002:str>" in out
    assert quarvel.loads(out, option=quarvel.OPT_PASSTHROUGH_TAG).value == {"a": 1, "c": "5"}


@pytest.mark.parametrize("text", ["%TAG ! \n--- x\n", "\ufeff%TAG !\r\n--- x\r\n"])
def test_a_tag_line_without_prefix_redefines_nothing(text):
    # The reader ignores it, so "!t" keeps its meaning and is written as is.
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc.node.value = quarvel.QuarvelTag("!t", "0")
    out = doc.to_yaml()
    assert b"!t " in out and b"!<" not in out
    assert quarvel.loads(out, option=quarvel.OPT_PASSTHROUGH_TAG).tag == "!t"


def test_a_tag_line_of_an_earlier_empty_document_is_not_this_ones():
    # The %TAG line belongs to the empty document before "...": "!sl" below
    # is the local tag, and is written as it was.
    text = "%TAG ! tag:x,1:\n---\n...\n--- !sl\nv\n"
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc.node.anchor = "a"
    out = doc.to_yaml()
    assert out == b"%TAG ! tag:x,1:\n---\n...\n---\n!sl &a v\n"
    assert quarvel.loads_all(out, option=quarvel.OPT_PASSTHROUGH_TAG)[1].tag == "!sl"


def test_a_lone_exclamation_mark_stays_non_specific_under_a_redefined_handle():
    # "!" asks for a string whatever %TAG says; "!<!>" would be a local tag.
    text = "%TAG ! !\n---\n[! 12, 1]\n"
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    doc.append(2)
    assert quarvel.dumps(doc) == b"%TAG ! !\n---\n[! 12, 1, 2]\n"
