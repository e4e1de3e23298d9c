"""YAML output of round-trip documents and writing them back to their files."""

import os
import stat

import pytest

import quarvel
from quarvel.exceptions import QuarvelIncludeError

RT = quarvel.OPT_ROUND_TRIP
INC = RT | quarvel.OPT_INCLUDES


def load(text, option=RT, **kw):
    return quarvel.loads(text, option=option, **kw)


@pytest.mark.parametrize("text", [
    "# top\n\na: 1   # one\nb:\n- x\n-   y\nc: |\n  keep\n   this\n",
    "\ufeffa: 1\r\nb: [1, 2]\r\n",
    "%YAML 1.2\n---\na: &x {k: 'v'}\nb: *x\n...\n--- second\n",
    "",
])
def test_unedited_documents_come_back_byte_for_byte(text):
    doc = load(text)
    assert doc.to_yaml() == text.encode()
    assert quarvel.dumps(doc) == text.encode()


def test_an_edit_changes_only_its_line():
    text = "# head\na: 1  # one\n\nb:\n  c: 'x'   # two\n  d: [1, 2]\n"
    doc = load(text)
    doc["b"]["c"] = "y"
    out = doc.to_yaml().decode()
    before, after = text.splitlines(), out.splitlines()
    assert len(before) == len(after)
    assert [i for i, (x, y) in enumerate(zip(before, after)) if x != y] == [4]
    assert quarvel.loads(out) == {"a": 1, "b": {"c": "y", "d": [1, 2]}}


def test_a_view_writes_its_node_as_a_document():
    doc = load("a:\n  b: 1  # c\n  d: [x]\n")
    assert doc["a"].to_yaml() == b"b: 1  # c\nd: [x]\n"


def test_save_writes_the_root_to_the_path_given(tmp_path):
    text = "a: 1  # kept\n"
    doc = load(text)
    target = tmp_path / "out.yaml"
    assert doc.save(str(target)) == [str(target)]
    assert target.read_bytes() == text.encode()
    doc["a"] = 2
    assert doc.save(path=str(target)) == [str(target)]
    assert target.read_text() == "a: 2  # kept\n"


def test_save_needs_a_path_or_an_origin(tmp_path):
    doc = load("a: 1\n")
    assert doc.save() == []  # nothing changed, nothing to write
    doc["a"] = 2
    with pytest.raises(ValueError, match=r"save\(\) needs a path: this document was not loaded from a file"):
        doc.save()
    doc.set_origin(str(tmp_path / "origin.yaml"))
    assert doc.save() == [str(tmp_path / "origin.yaml")]
    with pytest.raises(TypeError):
        doc.save(42)


@pytest.fixture
def tree(tmp_path):
    (tmp_path / "inc.yaml").write_text("x: 1  # keep\ny: 2\n")
    (tmp_path / "twice.yaml").write_text("v: 1\n")
    root = tmp_path / "conf.yaml"
    root.write_text("top: !include inc.yaml\none: !include twice.yaml\ntwo: !include twice.yaml\n")

    def open_doc():
        return load(root.read_text(), INC, include_dir=str(tmp_path), root_path=str(root))

    return tmp_path, root, open_doc


def test_save_rewrites_only_the_included_file_that_changed(tree):
    folder, root, open_doc = tree
    doc = open_doc()
    root_before = root.read_bytes()
    doc["top"]["x"] = 10
    assert doc.save() == [str(folder / "inc.yaml")]
    assert (folder / "inc.yaml").read_text() == "x: 10  # keep\ny: 2\n"
    assert root.read_bytes() == root_before
    # Saving again writes the same files again.
    assert doc.save() == [str(folder / "inc.yaml")]


@pytest.mark.parametrize("text, edited", [
    ("# header\n\nx: 1  # keep\n# footer\n", "# header\n\nx: 10  # keep\n# footer\n"),
    ("\n\n# two blank lines above\nx: 1\n", "\n\n# two blank lines above\nx: 10\n"),
    ("---\n# below the marker\nx: 1\n...\n", "---\n# below the marker\nx: 10\n...\n"),
    ("--- # on the marker\nx: 1\n", "--- # on the marker\nx: 10\n"),
])
def test_an_edited_included_file_keeps_its_own_comments(tmp_path, text, edited):
    # The directive's own comment stays in the including file and the
    # included file's comments around its root stay in that file.
    (tmp_path / "inc.yaml").write_text(text)
    root = tmp_path / "conf.yaml"
    root.write_text("# conf\ntop: !include inc.yaml  # the include\n")
    doc = load(root.read_text(), INC, include_dir=str(tmp_path), root_path=str(root))
    assert doc.node["top"].comment == "the include"
    doc["top"]["x"] = 10
    assert doc.save() == [str(tmp_path / "inc.yaml")]
    assert (tmp_path / "inc.yaml").read_text() == edited
    assert doc.to_yaml() == b"# conf\ntop: !include inc.yaml  # the include\n"


def test_replacing_an_include_rewrites_the_including_file(tree):
    folder, root, open_doc = tree
    doc = open_doc()
    doc.set_origin(str(root))
    doc["top"] = {"z": 3}
    assert doc.save() == [str(root)]
    assert (folder / "inc.yaml").read_text() == "x: 1  # keep\ny: 2\n"
    assert quarvel.loads(root.read_text(), option=quarvel.OPT_INCLUDES,
                         include_dir=str(folder))["top"] == {"z": 3}


def test_dump_includes_map_and_conflicting_edits(tree):
    folder, root, open_doc = tree
    doc = open_doc()
    files = quarvel.dump_includes_map(doc)
    assert files == {str(folder / "inc.yaml"): b"x: 1  # keep\ny: 2\n",
                     str(folder / "twice.yaml"): b"v: 1\n"}
    doc["one"]["v"] = 5
    with pytest.raises(QuarvelIncludeError, match="is included more than once with conflicting edits"):
        quarvel.dump_includes_map(doc)
    doc["two"]["v"] = 5
    assert quarvel.dump_includes_map(doc)[str(folder / "twice.yaml")] == b"v: 5\n"
    assert quarvel.dump_includes(doc, include_dir=str(folder)) is None
    assert (folder / "twice.yaml").read_text() == "v: 5\n"


@pytest.mark.parametrize("call", [quarvel.dump_includes, quarvel.dump_includes_map])
def test_write_back_needs_a_document_loaded_with_includes(call):
    with pytest.raises(ValueError, match="document was not loaded with OPT_INCLUDES; nothing to write back"):
        call(load("a: 1\n"))
    with pytest.raises(TypeError):
        call({"a": 1})


@pytest.mark.skipif(os.geteuid() == 0, reason="root writes into read-only directories")
def test_a_failed_save_leaves_the_file_intact(tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir()
    target = folder / "conf.yaml"
    target.write_text("a: 1\n")
    doc = load("a: 1\n")
    doc.set_origin(str(target))
    doc["a"] = 2
    folder.chmod(stat.S_IRUSR | stat.S_IXUSR)
    try:
        with pytest.raises(OSError, match="cannot write "):
            doc.save()
    finally:
        folder.chmod(stat.S_IRWXU)
    assert target.read_text() == "a: 1\n"
    assert os.listdir(folder) == ["conf.yaml"]


def test_save_into_a_missing_directory_fails_without_creating_it(tmp_path):
    doc = load("a: 1\n")
    with pytest.raises(OSError, match="cannot write "):
        doc.save(str(tmp_path / "missing" / "x.yaml"))
    assert not (tmp_path / "missing").exists()


def test_upgrade_declares_yaml_1_2():
    doc = load("a: yes\n", RT | quarvel.OPT_UPGRADE_1_1)
    out = doc.to_yaml()
    assert out.startswith(b"%YAML 1.2\n---")
    assert quarvel.loads(out) == {"a": True}


def _deep_list(levels):
    root = cur = []
    for _ in range(levels):
        cur.append([])
        cur = cur[0]
    return root


@pytest.mark.parametrize("op", [
    lambda d: d.__setitem__("a", object()),
    lambda d: d.__setitem__("c", {"k": [1, object()]}),
    lambda d: d.__setitem__("a", _deep_list(1100)),
    lambda d: d.__setitem__(1.5, 1),
    lambda d: d.__delitem__("a"),
    lambda d: d["b"].__setitem__(5, 1),
    lambda d: setattr(d.node["a"], "anchor", "bad name"),
    lambda d: setattr(d.node["b"], "anchor", "x"),
    lambda d: setattr(d.node["a"], "comment", "x\ny"),
    lambda d: d.node["a"].make_alias("nope"),
], ids=["object", "nested object", "too deep", "float key", "delete", "index", "anchor text",
        "anchor taken", "comment break", "unknown alias"])
def test_a_failed_edit_leaves_the_output_unchanged(op):
    doc = load("# c\na: &x 1  # one\nb: [1, 2]\nc: {k: v}\nd: *x\n")
    before = doc.to_yaml()
    with pytest.raises((TypeError, ValueError, IndexError, NotImplementedError)):
        op(doc)
    assert doc.to_yaml() == before


def test_edits_never_overwrite_texts_stored_while_composing():
    # %TAG expansions are stored while composing and escaped scalars by the
    # scanner; texts of later edits must go to fresh storage.
    text = "%TAG !m! !my-\n---\n" + "".join(f'k{i}: !m!t "esc\\t{i}"\n' for i in range(50))
    doc = load(text)
    for i in range(50):
        doc[f"n{i}"] = f"new value {i}"
    values = doc.to_dict()
    assert [values[f"k{i}"] for i in range(50)] == [f"esc\t{i}" for i in range(50)]
    assert quarvel.loads(doc.to_yaml(), option=RT).to_dict() == values


@pytest.fixture
def merged(tmp_path):
    (tmp_path / "auto").mkdir()
    (tmp_path / "auto" / "a.yaml").write_text("# lights\n- id: a1  # first\n  on: 1\n- id: a2\n")
    (tmp_path / "auto" / "b.yaml").write_text("id: b1\n")  # no list: merged as one item
    (tmp_path / "pkgs").mkdir()
    (tmp_path / "pkgs" / "p.yaml").write_text("# package p\nx: 1\ny: 2  # why\n")
    (tmp_path / "pkgs" / "q.yaml").write_text("z: 3\n")
    root = tmp_path / "conf.yaml"
    root.write_text("# conf\nautomation: !include_dir_merge_list auto\n"
                    "packages: !include_dir_merge_named pkgs\n")
    doc = load(root.read_text(), INC, include_dir=str(tmp_path), root_path=str(root))
    doc.set_origin(str(root))
    return tmp_path, doc


@pytest.mark.parametrize("edit, path, expected", [
    (lambda d: d["automation"].__setitem__(1, {"id": "changed"}),
     "auto/a.yaml", "# lights\n- id: a1  # first\n  on: 1\n- id: changed\n"),
    (lambda d: d["automation"][0].__setitem__("on", 5),
     "auto/a.yaml", "# lights\n- id: a1  # first\n  on: 5\n- id: a2\n"),
    (lambda d: d["automation"][2].__setitem__("id", "b2"), "auto/b.yaml", "id: b2\n"),
    (lambda d: d["packages"].__setitem__("y", 20), "pkgs/p.yaml", "# package p\nx: 1\ny: 20  # why\n"),
    (lambda d: d["packages"].__setitem__("z", [1]), "pkgs/q.yaml", "z:\n- 1\n"),
    (lambda d: d["automation"].__delitem__(1), "auto/a.yaml", "# lights\n- id: a1  # first\n  on: 1\n"),
    (lambda d: d["automation"].insert(1, {"id": "n"}), "auto/a.yaml",
     "# lights\n- id: a1  # first\n  on: 1\n- id: n\n- id: a2\n"),
    (lambda d: d["packages"].pop("y"), "pkgs/p.yaml", "# package p\nx: 1\n"),
    (lambda d: d["packages"].insert(2, "w", 9), "pkgs/p.yaml", "# package p\nx: 1\ny: 2  # why\nw: 9\n"),
])
def test_an_edit_in_a_merged_directory_goes_back_to_its_file(merged, edit, path, expected):
    folder, doc = merged
    before = {p: p.read_text() for p in folder.rglob("*.yaml")}
    edit(doc)
    assert doc.save() == [str(folder / path)]
    for p, text in before.items():
        assert p.read_text() == (expected if p == folder / path else text)


def test_an_item_that_is_a_whole_merged_file_is_not_deleted(merged):
    _, doc = merged
    with pytest.raises(ValueError, match="^the collection is merged from several files and no "
                                         "file holds that place$"):
        del doc["automation"][2]
    assert len(doc["automation"]) == 3


def test_merged_files_are_collected_with_the_others(merged):
    folder, doc = merged
    files = quarvel.dump_includes_map(doc)
    assert files[str(folder / "pkgs" / "q.yaml")] == b"z: 3\n"
    assert files[str(folder / "auto" / "a.yaml")] == (folder / "auto" / "a.yaml").read_bytes()
    assert len(files) == 4


def test_an_entry_added_to_a_merged_mapping_is_refused_not_lost(merged):
    folder, doc = merged
    doc["packages"]["new"] = 1
    with pytest.raises(QuarvelIncludeError, match="entries were added to the collection merged by "
                       "!include_dir_merge_named pkgs"):
        doc.save()


def test_a_key_read_from_an_included_file_is_written_as_its_directive(tmp_path):
    # The key's content is a block sequence, which YAML does not allow as a
    # key; re-emitted, the key is its directive again.
    (tmp_path / "seq.yaml").write_text("- a\n- b\n")
    doc = load("!include seq.yaml : 1\nother: 2\n", INC, include_dir=str(tmp_path))
    assert doc.to_dict() == {("a", "b"): 1, "other": 2}
    doc.node.comment_before = "top"
    out = doc.to_yaml()
    assert out.startswith(b"# top\n!include seq.yaml :")
    assert quarvel.loads(out, option=quarvel.OPT_INCLUDES, include_dir=str(tmp_path)) == {
        ("a", "b"): 1, "other": 2}


@pytest.mark.parametrize("name, written", [
    ("a: b.yaml", b'"a: b.yaml"'),
    ("#x.yaml", b'"#x.yaml"'),
    ("plain.yaml", b"plain.yaml"),
])
def test_a_directive_argument_is_quoted_when_it_must_be(tmp_path, name, written):
    (tmp_path / name).write_text("x: 1\n")
    doc = load(f"k: !include '{name}'\nother: 2\n", INC, include_dir=str(tmp_path))
    doc.node["k"].comment = "c"
    out = doc.to_yaml()
    assert out == b"k: !include " + written + b" # c\nother: 2\n"
    assert quarvel.loads(out, option=quarvel.OPT_INCLUDES, include_dir=str(tmp_path)) == {
        "k": {"x": 1}, "other": 2}


# -- write-back stays where the document was loaded from -----------------------

def _swap_tree(tmp_path):
    """conf/main.yaml includes conf/sub/inc.yaml; outside.yaml lies beside conf."""
    conf = tmp_path / "conf"
    (conf / "sub").mkdir(parents=True)
    (conf / "main.yaml").write_text("a: 1\nb: !include sub/inc.yaml\n")
    (conf / "sub" / "inc.yaml").write_text("x: 1\n")
    outside = tmp_path / "outside.yaml"
    outside.write_text("precious: 1\n")
    return conf, outside


def _swap(conf, outside, what):
    """Puts a link where a file or folder of the loaded tree was."""
    if what == "root file":
        (conf / "main.yaml").unlink()
        (conf / "main.yaml").symlink_to(outside)
    elif what == "included file":
        (conf / "sub" / "inc.yaml").unlink()
        (conf / "sub" / "inc.yaml").symlink_to(outside)
    else:  # the included file's folder
        away = outside.parent / "away"
        (conf / "sub").rename(away)
        (away / "inc.yaml").write_text("x: 1\n")
        (conf / "sub").symlink_to(away)


SWAPS = ["root file", "included file", "included folder"]


def _edit(doc, what):
    if what == "root file":
        doc["a"] = 2
    else:
        doc["b"]["x"] = 2


def _outside_unchanged(tmp_path, outside):
    assert outside.read_text() == "precious: 1\n"
    away = tmp_path / "away" / "inc.yaml"
    assert not away.exists() or away.read_text() == "x: 1\n"
    # No temporary file was left anywhere either.
    assert not [p for p in tmp_path.rglob(".*tmp-*")]


@pytest.mark.parametrize("what", SWAPS)
@pytest.mark.parametrize("write", ["save", "dump_includes", "dump to origin"])
def test_a_link_swapped_in_after_loading_is_refused(tmp_path, what, write):
    conf, outside = _swap_tree(tmp_path)
    doc = quarvel.load(conf / "main.yaml", option=INC)
    _edit(doc, what)
    _swap(conf, outside, what)
    if write == "dump_includes" and what == "root file":
        pytest.skip("dump_includes writes included files only")
    if write == "dump to origin" and what != "root file":
        pytest.skip("dump writes the root file only")
    with pytest.raises(quarvel.QuarvelIncludeConfinementError) as e:
        if write == "save":
            doc.save()
        elif write == "dump_includes":
            quarvel.dump_includes(doc)
        else:
            quarvel.dump(doc, doc.origin)
    assert "resolves outside the configured include directory" in str(e.value)
    assert str(conf / ("main.yaml" if what == "root file" else "sub/inc.yaml")) in str(e.value)
    _outside_unchanged(tmp_path, outside)


def test_an_unswapped_tree_is_still_written(tmp_path):
    conf, _ = _swap_tree(tmp_path)
    doc = quarvel.load(conf / "main.yaml", option=INC)
    doc["a"] = 2
    doc["b"]["x"] = 3
    assert doc.save() == [str(conf / "sub" / "inc.yaml"), str(conf / "main.yaml")]
    assert quarvel.load(conf / "main.yaml", option=INC | quarvel.OPT_INCLUDES)["b"]["x"] == 3


def test_a_path_the_caller_names_still_follows_its_link(tmp_path):
    target = tmp_path / "target.yaml"
    target.write_text("old: 1\n")
    (tmp_path / "link.yaml").symlink_to(target)
    doc = load("a: 1\n")
    doc.save(str(tmp_path / "link.yaml"))
    quarvel.dump({"b": 2}, tmp_path / "link.yaml")
    assert target.read_text() == "b: 2\n" and (tmp_path / "link.yaml").is_symlink()
