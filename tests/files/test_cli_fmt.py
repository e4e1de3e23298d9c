"""`quarvel fmt`: writing, --check, --diff and -i over one or several files."""


import pytest


MESSY = "# lights\nlights:\n    -   name:   porch   # front\n        level:    80  \n"
TIDY = "# lights\nlights:\n  - name: porch   # front\n    level: 80\n"


@pytest.fixture
def files(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "messy.yaml").write_text(MESSY)
    (tmp_path / "tidy.yaml").write_text(TIDY)
    return tmp_path


def test_fmt_writes_the_normalised_text_and_leaves_the_file(run, files):
    assert run("fmt", "messy.yaml") == (0, TIDY, "")
    assert run("fmt", "tidy.yaml") == (0, TIDY, "")
    assert (files / "messy.yaml").read_text() == MESSY


def test_check_names_the_files_that_would_change(run, files):
    assert run("fmt", "--check", "tidy.yaml") == (0, "", "")
    assert run("fmt", "--check", "messy.yaml", "tidy.yaml") == (1, "messy.yaml\n", "")
    assert (files / "messy.yaml").read_text() == MESSY


def test_diff_is_a_unified_diff_of_the_change(run, files):
    assert run("fmt", "--diff", "tidy.yaml") == (0, "", "")
    status, out, err = run("fmt", "--diff", "messy.yaml")
    assert (status, err) == (1, "")
    assert out == (
        "--- messy.yaml\n+++ messy.yaml\n@@ -1,4 +1,4 @@\n # lights\n lights:\n"
        "-    -   name:   porch   # front\n-        level:    80  \n"
        "+  - name: porch   # front\n+    level: 80\n"
    )


def test_diff_marks_a_missing_final_line_break(run, files):
    (files / "short.yaml").write_text("a:   1")
    assert run("fmt", "--diff", "short.yaml")[1].endswith("-a:   1\n\\ No newline at end of file\n+a: 1\n")


def test_in_place_rewrites_only_files_that_change(run, files):
    before = (files / "tidy.yaml").stat().st_mtime_ns
    assert run("fmt", "-i", "messy.yaml", "tidy.yaml") == (0, "", "")
    assert (files / "messy.yaml").read_text() == TIDY
    assert (files / "tidy.yaml").stat().st_mtime_ns == before
    assert run("fmt", "--check", "messy.yaml", "tidy.yaml") == (0, "", "")


def test_standard_input(run):
    assert run("fmt", "-", stdin=MESSY.encode()) == (0, TIDY, "")
    assert run("fmt", "--check", "-", stdin=MESSY.encode()) == (1, "<stdin>\n", "")
    assert run("fmt", "--check", "-", stdin=TIDY.encode()) == (0, "", "")


def test_wide_text_changes_to_utf8(run, files):
    # UTF-16 text comes out as UTF-8 (with a byte order mark), so --check
    # reports it even though its layout is already normal.
    (files / "wide.yaml").write_bytes("a: 1\n".encode("utf-16"))
    assert run("fmt", "--check", "wide.yaml") == (1, "wide.yaml\n", "")
    assert run("fmt", "-i", "wide.yaml")[0] == 0
    assert (files / "wide.yaml").read_bytes() == b"\xef\xbb\xbfa: 1\n"
    assert run("fmt", "--check", "wide.yaml") == (0, "", "")


def test_several_files_to_standard_output_is_a_usage_error(run, files):
    with pytest.raises(SystemExit) as info:
        run("fmt", "messy.yaml", "tidy.yaml")
    assert info.value.code == 2


def test_a_broken_file_is_reported_and_left(run, files):
    (files / "broken.yaml").write_text("a: [1\n")
    status, out, err = run("fmt", "-i", "broken.yaml")
    assert (status, out) == (1, "")
    assert err.startswith("broken.yaml:2:1: error:")
    assert (files / "broken.yaml").read_text() == "a: [1\n"
