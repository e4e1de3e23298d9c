"""One alias-expansion budget on every path that turns a tree into values:
each path either gives exactly what plain loading gives, or refuses with the
error plain loading refuses with. Every case runs in a child process with an
address-space cap and a timeout, so a path that expands without bound fails
its case instead of taking the machine down."""

import json
import re
import subprocess
import sys
import textwrap

import pytest

import quarvel

BOMB_MESSAGE = "document expands to too many nodes (possible alias bomb)"


def laughs_text(levels, extra, top):
    """Anchors a0..a(levels-1), each ten aliases of the one before; `extra`
    lists (level, count) aliases; `top` is an alias of the given level."""
    lines = ["a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]"]
    for i in range(1, levels):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]")
    refs = [f"*a{level}" for level, count in extra for _ in range(count)]
    lines.append("extra: [" + ", ".join(refs) + "]")
    lines.append(f"top: *a{top}")
    return "\n".join(lines) + "\n"


DOCUMENTS = {
    "billion_laughs": laughs_text(9, [], 8),
    # 9,990,103 nodes of expansion, as loading counts them: just under the budget.
    "just_under": laughs_text(6, [(5, 6), (4, 8), (3, 8)], 5),
}

CHILD = textwrap.dedent(
    r'''
    import hashlib, json, os, resource, sys
    def cap_memory(extra):
        # Past the address space already mapped: a sanitizer build maps terabytes
        # of shadow memory before the first line runs.
        with open("/proc/self/status") as f:
            size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + extra, size + extra))
    cap_memory(2_500 * 2**20)
    import quarvel

    path, text, include_dir = sys.argv[1], sys.stdin.read(), sys.argv[2]
    top_anchor = max(k for k in ("a8", "a5") if f"{k}: &{k}" in text)

    def rt(**kw):
        return quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP, **kw)

    def walked(pairs):
        return {"/".join(map(str, p)): v for p, v in pairs}

    def plain_walk(value):
        # The leaves of these documents: the items of each list, and "top".
        out = {}
        for key, items in value.items():
            if key == "top":
                out[key] = items
            else:
                out.update({f"{key}/{i}": item for i, item in enumerate(items)})
        return out

    PATHS = {
        "plain": lambda: quarvel.loads(text),
        "annotated": lambda: quarvel.loads(text, option=quarvel.OPT_ANNOTATED),
        "to_dict": lambda: rt().to_dict(),
        "item": lambda: rt()["top"],
        "walk": lambda: walked(rt().walk()),
        "unwrap": lambda: rt()[top_anchor].unwrap(),
        "to_json": lambda: quarvel.to_json(rt()),
        "dumps": lambda: quarvel.dumps(rt().to_dict()),
        "schema": lambda: rt(schema={"type": "object"}).to_dict(),
        "includes": lambda: quarvel.loads(
            "doc: !include doc.yaml\n", option=quarvel.OPT_INCLUDES, include_dir=include_dir
        )["doc"],
    }
    # What each path gives when it agrees with plain loading.
    EXPECTED = {
        "item": lambda v: v["top"],
        "walk": plain_walk,
        "unwrap": lambda v: v[top_anchor],
        "to_json": quarvel.to_json,
        "dumps": quarvel.dumps,
    }

    def digest(value):
        # Written texts are compared as they are, values as their JSON.
        if isinstance(value, str):
            value = value.encode()
        elif not isinstance(value, bytes):
            value = quarvel.to_json(value)
        return hashlib.sha256(value).hexdigest()

    def outcome(fn):
        try:
            return {"value": digest(fn())}
        except quarvel.QuarvelError as e:
            return {"error": [type(e).__name__, str(e).split(" at line")[0]]}

    if path == "reference":
        try:
            plain = quarvel.loads(text)
        except quarvel.QuarvelError as e:
            print(json.dumps({"error": [type(e).__name__, str(e).split(" at line")[0]]}))
        else:
            same = digest(plain)
            print(json.dumps({p: {"value": digest(EXPECTED[p](plain)) if p in EXPECTED else same}
                              for p in PATHS}))
    else:
        print(json.dumps(outcome(PATHS[path])))
    '''
)

PATHS = ["plain", "annotated", "to_dict", "item", "walk", "unwrap", "to_json", "dumps",
         "schema", "includes"]


def run_child(path, text, include_dir):
    done = subprocess.run(
        [sys.executable, "-c", CHILD, path, str(include_dir)],
        input=text, capture_output=True, text=True, timeout=120,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    return json.loads(done.stdout)


_references = {}


@pytest.fixture
def document(request, tmp_path):
    name = request.param
    text = DOCUMENTS[name]
    (tmp_path / "doc.yaml").write_text(text)
    if name not in _references:
        _references[name] = run_child("reference", text, tmp_path)
    return text, tmp_path, _references[name]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("document", list(DOCUMENTS), indirect=True)
def test_every_path_agrees_with_plain_loading(document, path):
    text, include_dir, reference = document
    got = run_child(path, text, include_dir)
    if "error" in reference:
        assert reference["error"] == ["QuarvelParseError", BOMB_MESSAGE]
        assert got == reference
    else:
        assert got == reference[path]


def test_dumping_a_round_trip_document_keeps_its_aliases():
    text = DOCUMENTS["billion_laughs"]
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    assert quarvel.dumps(doc) == doc.to_yaml() == text.encode()


@pytest.mark.parametrize("read", [
    lambda doc: doc.to_dict(),
    lambda doc: doc.walk(),
    lambda doc: quarvel.to_json(doc),
])
def test_the_budget_boundary_is_that_of_plain_loading(read):
    # One alias of 1,111 nodes more than "just_under" passes the budget.
    text = laughs_text(6, [(5, 6), (4, 8), (3, 9)], 5)
    with pytest.raises(quarvel.QuarvelParseError) as plain:
        quarvel.loads(text)
    doc = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    with pytest.raises(quarvel.QuarvelParseError) as converted:
        read(doc)
    assert str(converted.value).split(" at line")[0] == str(plain.value).split(" at line")[0]


def test_secrets_expand_under_the_budget(tmp_path):
    # Each use of a secret copies its expanded value, 1,111,111 nodes for
    # `top`: ten uses are refused before the tenth is copied; a secret within
    # the budget reads in full.
    secrets = laughs_text(6, [], 5) + "small: *a4\n"
    (tmp_path / "secrets.yaml").write_text(secrets)
    options = dict(option=quarvel.OPT_SECRETS, include_dir=tmp_path, root_path=tmp_path / "r.yaml")
    with pytest.raises(quarvel.QuarvelParseError, match=re.escape(BOMB_MESSAGE)):
        quarvel.loads("v: [" + ", ".join(["!secret top"] * 10) + "]\n", **options)
    assert len(quarvel.loads("v: [" + ", ".join(["!secret top"] * 5) + "]\n", **options)["v"]) == 5
    assert quarvel.loads("v: !secret small\n", **options)["v"] == quarvel.loads(secrets)["small"]


def test_a_secrets_file_that_is_a_bomb_is_refused(tmp_path):
    # The file is read as plain loading reads it, whichever secret is used.
    (tmp_path / "secrets.yaml").write_text(DOCUMENTS["billion_laughs"] + "small: lol\n")
    options = dict(option=quarvel.OPT_SECRETS, include_dir=tmp_path, root_path=tmp_path / "r.yaml")
    for option in (quarvel.OPT_SECRETS, quarvel.OPT_SECRETS | quarvel.OPT_ANNOTATED):
        with pytest.raises(quarvel.QuarvelParseError, match=re.escape(BOMB_MESSAGE)):
            quarvel.loads("v: !secret small\n", **{**options, "option": option})
