"""Limits that hold for a whole load, across the files directives splice in:
nesting depth, include depth on small thread stacks, and the bytes read."""

import os
import threading

import pytest

import quarvel
from quarvel.exceptions import (QuarvelIncludeDepthError, QuarvelIncludeError,
                                QuarvelParseError)

ALL = quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR
INC = quarvel.OPT_INCLUDES
DEPTH_ERROR = r"^maximum nesting depth \(1000\) exceeded at line \d+, column \d+"


def in_small_thread(fn, stack=512 * 1024):
    out = []

    def target():
        try:
            out.append(("ok", fn()))
        except BaseException as e:  # handed to the caller
            out.append(("raised", e))

    old = threading.stack_size(stack)
    try:
        t = threading.Thread(target=target)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    kind, value = out[0]
    if kind == "raised":
        raise value
    return value


def write_chain(config, files, depth, last="1"):
    """f0.yaml .. f{files-1}.yaml, each `depth` levels deep around the next."""
    for i in range(files):
        inner = f"!include f{i + 1}.yaml" if i + 1 < files else last
        config.write({f"f{i}.yaml": "[" * depth + inner + "]" * depth + "\n"})


@pytest.mark.parametrize("option", [INC, INC | quarvel.OPT_ANNOTATED,
                                    INC | quarvel.OPT_ROUND_TRIP])
def test_fifty_files_of_900_levels_fail_as_too_deep(config, option):
    write_chain(config, 50, 900)
    with pytest.raises(QuarvelIncludeError) as e:
        in_small_thread(lambda: config.load(root="f0.yaml", option=option))
    assert type(e.value) is QuarvelIncludeError
    # f0 takes 900 levels; f1's 101st opener is the first beyond the limit.
    assert str(e.value).startswith(
        "maximum nesting depth (1000) exceeded at line 1, column 101")
    assert e.value.file == config.path("f1.yaml")
    assert e.value.include_stack == [(config.path("f0.yaml"), 1)]


# Each directive spliced at depth `outer` + 1, its file's value nesting
# further; the inlined document says how deep the result is. Both must load
# alike, or fail alike with the nesting message.
SPLICES = {
    "include": ({"x.yaml": "{inner}"}, "!include x.yaml", "{inner}"),
    "dir_list": ({"d/x.yaml": "{inner}"}, "!include_dir_list d", "[{inner}]"),
    "dir_named": ({"d/x.yaml": "{inner}"}, "!include_dir_named d", "{{x: {inner}}}"),
    "merge_list": ({"d/x.yaml": "{inner}"}, "!include_dir_merge_list d", "{inner}"),
    "merge_list_item": ({"d/x.yaml": "{{k: {inner}}}"}, "!include_dir_merge_list d",
                        "[{{k: {inner}}}]"),
    "merge_named": ({"d/x.yaml": "{{k: {inner}}}"}, "!include_dir_merge_named d",
                    "{{k: {inner}}}"),
    "secret": ({"secrets.yaml": "s: {inner}"}, "!secret s", "{inner}"),
    "secret_alias": ({"secrets.yaml": "a: &a {inner}\ns: [*a]"}, "!secret s", "[{inner}]"),
}


@pytest.mark.parametrize("total", [999, 1000, 1001])
@pytest.mark.parametrize("splice", sorted(SPLICES))
def test_splices_nest_as_the_inlined_document(config, splice, total):
    files, directive, inlined = SPLICES[splice]
    inner_levels = 400
    inner = "[" * inner_levels + "1" + "]" * inner_levels
    # The scalar's depth in the inlined text is `total`.
    probe = inlined.format(inner=inner)
    outer = total - 1 - nesting_of_scalar(probe)
    config.write({name: text.format(inner=inner) + "\n" for name, text in files.items()})
    text = "[" * outer + directive + "]" * outer + "\n"
    expected_text = "[" * outer + probe + "]" * outer + "\n"
    try:
        expected = quarvel.loads(expected_text)
    except QuarvelParseError as e:
        assert total > 1000 and str(e).startswith("maximum nesting depth (1000) exceeded")
        with pytest.raises(QuarvelIncludeError, match=DEPTH_ERROR):
            config.load(text, option=ALL)
        return
    assert total <= 1000
    # Compared as JSON: Python's own comparison recurses too deep.
    assert quarvel.to_json(config.load(text, option=ALL)) == quarvel.to_json(expected)


def nesting_of_scalar(flow):
    """Levels above the scalar "1" in a flow text (a mapping's value counts one)."""
    head = flow[: flow.index("1")]
    return head.count("[") - head.count("]") + head.count("{") - head.count("}")


@pytest.mark.parametrize("files, raises", [(50, None), (51, QuarvelIncludeDepthError)])
def test_include_chain_resolves_on_a_small_stack(config, files, raises):
    # Block nesting in every file: the walk recurses through all of them.
    for i in range(files):
        inner = f"!include f{i + 1}.yaml" if i + 1 < files else "end"
        config.write({f"f{i}.yaml": "".join("  " * k + "-\n" for k in range(15))
                      + "  " * 15 + "- " + inner + "\n"})

    def load():
        return config.load("!include f0.yaml\n", option=INC)

    if raises:
        with pytest.raises(raises):
            in_small_thread(load)
        return
    got = in_small_thread(load)
    for _ in range(16 * files):
        got = got[0]
    assert got == "end"


# The bytes one load may include, and what the test process may map while
# showing that a file past them is refused without being read.
BUDGET = 1 << 30
LIMIT_ERROR = "includes exceed the limit of 200000 files or 1024 MiB in one load"
CHILD = r"""
import resource, sys
def cap_memory(extra):
    # Past the address space already mapped: a sanitizer build maps terabytes
    # of shadow memory before the first line runs.
    with open("/proc/self/status") as f:
        size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + extra, size + extra))
cap_memory(1536 << 20)
import quarvel
try:
    quarvel.loads(sys.argv[2], option=quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS,
                  include_dir=sys.argv[1])
    print("loaded")
except Exception as e:
    print(type(e).__name__, "|", e.file, "|", str(e).splitlines()[0])
"""


def sparse(path, size, head=b""):
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(size)


def load_capped(directory, text):
    import subprocess
    import sys
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", CHILD, str(directory), text], env=env,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


@pytest.mark.parametrize("name, text", [("big.yaml", "v: !include big.yaml"),
                                        ("secrets.yaml", "v: !secret pw")])
def test_file_past_the_budget_is_refused_unread(tmp_path, name, text):
    # Sparse: it takes no disk, and reading it would not fit the child's cap.
    sparse(tmp_path / name, BUDGET + 1, b"pw: 1\n")
    try:
        got = load_capped(tmp_path, text)
    finally:
        (tmp_path / name).unlink()
    path = tmp_path / name
    assert got == f"QuarvelIncludeError | {path} | {LIMIT_ERROR} in {path}"


def test_budget_counts_every_use_before_the_next_read(tmp_path):
    # 300 MiB used three times leaves less than the next file's 200 MiB.
    (tmp_path / "a.yaml").write_bytes(b"#" + b"x" * ((300 << 20) - 1))
    sparse(tmp_path / "b.yaml", 200 << 20)
    try:
        got = load_capped(tmp_path, "[!include a.yaml, !include a.yaml, !include a.yaml, "
                                    "!include b.yaml]")
    finally:
        (tmp_path / "a.yaml").unlink()
        (tmp_path / "b.yaml").unlink()
    path = tmp_path / "b.yaml"
    assert got == f"QuarvelIncludeError | {path} | {LIMIT_ERROR} in {path}"
