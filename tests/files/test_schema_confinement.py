"""schema="auto" reads the schema a document names as includes are read: beneath
the document's folder, a regular file of bounded size, never a device or FIFO."""

import os
import subprocess
import sys
import textwrap

import pytest

import quarvel
from quarvel.exceptions import QuarvelIncludeConfinementError, QuarvelIncludeNotFoundError


@pytest.fixture
def tree(tmp_path):
    """conf/ holds the document and a good schema; secret.json lies beside conf/."""
    conf = tmp_path / "conf"
    conf.mkdir()
    (conf / "s.json").write_text('{"required": ["name"]}')
    (tmp_path / "secret.json").write_text('{"required": ["OUTSIDE"]}')
    (conf / "escape").symlink_to(tmp_path)
    (conf / "linked.json").symlink_to(tmp_path / "secret.json")
    big = conf / "big.json"
    with open(big, "wb") as f:
        f.truncate((16 << 20) + 1)
    return conf


def document(conf, ref):
    path = conf / "c.yaml"
    path.write_text(f"# header\n# yaml-language-server: $schema={ref}\nname: x\n")
    return path


@pytest.mark.parametrize("ref, message", [
    ("../secret.json", "'../secret.json' resolves outside"),
    ("escape/secret.json", "'escape/secret.json' resolves outside"),
    ("linked.json", "'linked.json' resolves outside"),
    ("/etc/passwd", "'/etc/passwd' resolves outside"),
    ("file:///etc/passwd", "'/etc/passwd' resolves outside"),
    ("/proc/self/environ", "'/proc/self/environ' resolves outside"),
    ("big.json", "'big.json': larger than 16777216 bytes"),
    ("s.json%01", "control character U+0001"),
])
@pytest.mark.parametrize("include_dir", [False, True])
def test_refused_schema_files(tree, ref, message, include_dir):
    path = document(tree, ref.replace("%01", "\x01"))
    kw = {"include_dir": str(tree), "option": quarvel.OPT_INCLUDES} if include_dir else {}
    with pytest.raises(QuarvelIncludeConfinementError) as e:
        quarvel.load(path, schema="auto", **kw)
    assert message in str(e.value)
    assert "OUTSIDE" not in str(e.value)
    assert "(named by the schema comment at line 2)" in str(e.value)
    assert (e.value.file, e.value.line, e.value.column) == (str(path), 2, 1)


def test_a_schema_inside_is_read_and_a_missing_one_is_not_found(tree):
    assert quarvel.load(document(tree, "./s.json"), schema="auto") == {"name": "x"}
    path = tree / "d.yaml"
    path.write_text("# yaml-language-server: $schema=s.json\nx: 1\n")
    with pytest.raises(quarvel.QuarvelSchemaError, match="missing required property 'name'"):
        quarvel.load(path, schema="auto")
    with pytest.raises(QuarvelIncludeNotFoundError, match="cannot read 'nope.json': not found"):
        quarvel.load(document(tree, "nope.json"), schema="auto")


def test_check_reports_the_refusal_at_the_comment(tree, monkeypatch, capsys):
    from quarvel.cli import main
    monkeypatch.chdir(tree)
    document(tree, "../secret.json")
    assert main(["check", "c.yaml", "--schema", "auto"]) == 1
    err = capsys.readouterr().err
    assert "c.yaml:2:1: error:" in err and "resolves outside" in err and "OUTSIDE" not in err


# Devices and FIFOs run in a child with a memory cap and a timeout: a reader
# that opened /dev/zero would run out of memory, one that opened a FIFO hang.
CHILD = textwrap.dedent("""
    import resource, sys
    def cap_memory(extra):
        # Past the address space already mapped: a sanitizer build maps terabytes
        # of shadow memory before the first line runs.
        with open("/proc/self/status") as f:
            size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + extra, size + extra))
    cap_memory(1 << 30)
    import quarvel
    try:
        quarvel.load(sys.argv[1], schema="auto")
    except quarvel.QuarvelIncludeConfinementError as e:
        print(type(e).__name__, e)
""")


@pytest.mark.parametrize("ref", ["/dev/zero", "pipe.json", "zero.json"])
@pytest.mark.parametrize("how", ["load", "cli"])
def test_devices_and_fifos_are_refused_unread(tree, ref, how):
    os.mkfifo(tree / "pipe.json")
    (tree / "zero.json").symlink_to("/dev/zero")
    path = document(tree, ref)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    argv = ([sys.executable, "-c", CHILD, str(path)] if how == "load" else
            [sys.executable, "-m", "quarvel", "check", str(path), "--schema", "auto"])
    done = subprocess.run(argv, capture_output=True, text=True, timeout=60, env=env)
    out = done.stdout + done.stderr
    assert ("not a regular file" in out) if ref == "pipe.json" else ("resolves outside" in out), out
