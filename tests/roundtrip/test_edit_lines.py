"""One value edited in a commented block document: the output reads back
with the edited value, keeps every comment, and changes only that line."""

import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quarvel

RT = quarvel.OPT_ROUND_TRIP

words = st.text(alphabet="abcdefghijklmnopqrstuvwxyz", min_size=1, max_size=8)
values = st.one_of(st.integers(-1000, 1000), words, st.booleans(),
                   st.floats(-1e6, 1e6, allow_nan=False).map(lambda f: round(f, 3)))


@st.composite
def documents(draw):
    """Block mappings two levels deep, with head and inline comments."""
    lines, leaves = [], []
    for i in range(draw(st.integers(1, 6))):
        key = f"k{i}"
        if draw(st.booleans()):
            lines.append(f"# about {key}")
        if draw(st.booleans()):
            lines.append(f"{key}:")
            for j in range(draw(st.integers(1, 4))):
                value = draw(values)
                comment = f"  # note {i}.{j}" if draw(st.booleans()) else ""
                lines.append(f"  s{j}: {quarvel.dumps(value).decode().strip()}{comment}")
                leaves.append(((key, f"s{j}"), len(lines) - 1))
        else:
            value = draw(values)
            comment = f"  # note {i}" if draw(st.booleans()) else ""
            lines.append(f"{key}: {quarvel.dumps(value).decode().strip()}{comment}")
            leaves.append(((key,), len(lines) - 1))
    return "\n".join(lines) + "\n", leaves


@settings(max_examples=200, deadline=None)
@given(documents(), st.data())
def test_one_edit_changes_one_line(doc_and_leaves, data):
    text, leaves = doc_and_leaves
    path, line = data.draw(st.sampled_from(leaves))
    new = data.draw(values)
    doc = quarvel.loads(text, option=RT)
    target = doc
    for step in path[:-1]:
        target = target[step]
    target[path[-1]] = new
    out = doc.to_yaml().decode()
    expected = quarvel.loads(text)
    place = expected
    for step in path[:-1]:
        place = place[step]
    place[path[-1]] = new
    assert quarvel.loads(out) == expected
    before, after = text.splitlines(), out.splitlines()
    assert len(before) == len(after)
    changed = [i for i, (a, b) in enumerate(zip(before, after)) if a != b]
    assert changed in ([], [line])
    assert re.findall(r"#.*", out) == re.findall(r"#.*", text)


@pytest.mark.parametrize("text, expected", [
    ("key:    # c\n  # about\n  value\nz: 1\n", "key:    # c\n  # about\n  new\nz: 1\n"),
    ("k:\n  # about\n\n  'long\n  text' # after\n", "k:\n  # about\n\n  new # after\n"),
    ("? key\n# c\n: value\nz: 1\n", "? key\n# c\n: new\nz: 1\n"),
    ("? key   # c\nz: 1\n", "? key   # c\n: new\nz: 1\n"),
    ("k:\n  # c\n  [1, 2]\nz: 1\n", "k:\n  # c\n  new\nz: 1\n"),
    ("k: # c\n  value\nz: 1\n", "k: # c\n  new\nz: 1\n"),
    ("k:\n  'long'\nz: 1\n", "k:\n  new\nz: 1\n"),
])
def test_a_replaced_value_below_its_key_stays_there(text, expected):
    doc = quarvel.loads(text, option=RT)
    key = doc.keys()[0]
    doc[key] = "new"
    assert doc.to_yaml().decode() == expected


@pytest.mark.parametrize("text, key, new, expected", [
    ("state   : MI\nzip     : 1\n", "state", "NY", "state   : NY\nzip     : 1\n"),
    ("k :  v  # c\n", "k", 2, "k :  2  # c\n"),
    ("k  : v\n", "k", None, "k  :\n"),
])
def test_blanks_aligning_a_colon_stay_when_the_value_is_replaced(text, key, new, expected):
    doc = quarvel.loads(text, option=RT)
    doc[key] = new
    assert doc.to_yaml().decode() == expected


# A last entry with an empty value ends, as composed, at the token after it:
# the comment lines below it are the document's, and stay when the mapping is
# written anew around them.
@pytest.mark.parametrize(
    "text",
    ["a:\n# c\n", "a:\n# c", "default_config:\n\n# tts:\n#   - platform: x\n", "k: 1\n? x\n# c\n",
     "a: |\n  # content\nb:\n# c\n"],
)
@pytest.mark.parametrize("edit", ["add", "delete"])
def test_comments_below_an_empty_last_value_stay(text, edit):
    doc = quarvel.loads(text, option=RT)
    expected = quarvel.loads(text)
    if edit == "add":
        doc["new"] = 1
        expected["new"] = 1
    else:
        first = next(iter(expected))
        del doc[first]
        del expected[first]
    out = quarvel.dumps(doc)
    assert quarvel.loads(out) == expected
    comments = [line.strip() for line in text.splitlines() if line.strip().startswith("#")]
    written = [line.strip() for line in out.decode().splitlines() if line.strip().startswith("#")]
    assert [c for c in comments if c != "# content"] == [w for w in written if w != "# content"]
