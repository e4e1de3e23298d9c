import os
import stat

import pytest

import quarvel
from quarvel import OPT_INCLUDES, OPT_ROUND_TRIP, OPT_SECRETS


@pytest.fixture
def conf(tmp_path):
    folder = tmp_path / "conf"
    (folder / "pkgs").mkdir(parents=True)
    (folder / "configuration.yaml").write_text(
        "# main\nname: home\nweb: !include web.yaml\npassword: !secret pw\n")
    (folder / "web.yaml").write_text("# web\nport: 80  # http\nhost: box\n")
    (folder / "secrets.yaml").write_text("pw: hunter2\n")
    return folder


def test_load_passes_the_file_as_root_and_its_folder_as_include_dir(conf):
    path = conf / "configuration.yaml"
    assert quarvel.load(path, option=OPT_INCLUDES | OPT_SECRETS) == {
        "name": "home", "web": {"port": 80, "host": "box"}, "password": "hunter2"}
    annotated = quarvel.load(str(path), option=quarvel.OPT_ANNOTATED | OPT_INCLUDES | OPT_SECRETS)
    assert annotated.__file__ == str(path)
    assert annotated["web"]["host"].__file__ == str(conf / "web.yaml")


def test_load_reads_bytes_so_the_text_encoding_is_detected(tmp_path):
    path = tmp_path / "utf16.yaml"
    path.write_bytes("name: café\n".encode("utf-16"))
    assert quarvel.load(path) == {"name": "café"}


@pytest.mark.parametrize("call", [quarvel.load, quarvel.load_all])
def test_errors_in_the_text_name_the_file(tmp_path, call):
    path = tmp_path / "bad.yaml"
    path.write_text("a: 1\nb: [1, 2\n")
    with pytest.raises(quarvel.QuarvelParseError) as info:
        call(path)
    assert (info.value.file, info.value.line) == (str(path), 3)


def test_an_error_in_an_included_file_names_that_file(conf):
    (conf / "web.yaml").write_text("port: {80\n")
    with pytest.raises(quarvel.QuarvelIncludeError) as info:
        quarvel.load(conf / "configuration.yaml", option=OPT_INCLUDES)
    assert info.value.file == str(conf / "web.yaml")
    assert info.value.include_stack == [(str(conf / "configuration.yaml"), 3)]


def test_a_missing_file_raises_the_system_error(tmp_path):
    with pytest.raises(FileNotFoundError):
        quarvel.load(tmp_path / "none.yaml")


def test_load_all_reads_every_document(tmp_path):
    path = tmp_path / "many.yaml"
    path.write_text("a: 1\n---\nb: 2\n")
    assert quarvel.load_all(path) == [{"a": 1}, {"b": 2}]


def test_a_round_trip_document_saves_back_to_its_file(conf):
    path = conf / "configuration.yaml"
    doc = quarvel.load(path, option=OPT_ROUND_TRIP | OPT_INCLUDES)
    assert doc.origin == str(path)
    doc["name"] = "cottage"
    doc["web"]["port"] = 8080
    assert sorted(doc.save()) == sorted([str(path), str(conf / "web.yaml")])
    assert path.read_text() == "# main\nname: cottage\nweb: !include web.yaml\npassword: !secret pw\n"
    assert (conf / "web.yaml").read_text() == "# web\nport: 8080  # http\nhost: box\n"


def test_schema_auto_reads_the_named_schema_beside_the_file(tmp_path):
    (tmp_path / "schema.json").write_text('{"type": "object", "required": ["port"]}')
    path = tmp_path / "conf.yaml"
    path.write_text("# yaml-language-server: $schema=schema.json\nhost: x\n")
    with pytest.raises(quarvel.QuarvelSchemaError, match="port"):
        quarvel.load(path, schema="auto")
    path.write_text("# yaml-language-server: $schema=https://example.com/s.json\nhost: x\n")
    with pytest.raises(ValueError, match="is a URL"):
        quarvel.load(path, schema="auto")


def test_dump_writes_dumps_output(tmp_path):
    path = tmp_path / "out.yaml"
    quarvel.dump({"b": 1, "a": [1, 2]}, path, option=quarvel.OPT_SORT_KEYS)
    assert path.read_bytes() == quarvel.dumps({"b": 1, "a": [1, 2]}, option=quarvel.OPT_SORT_KEYS)


def test_dump_keeps_the_old_file_when_dumping_fails(tmp_path):
    path = tmp_path / "out.yaml"
    path.write_text("old: 1\n")
    with pytest.raises(quarvel.QuarvelUnserializableError):
        quarvel.dump({"a": object()}, path)
    assert path.read_text() == "old: 1\n"
    assert os.listdir(tmp_path) == ["out.yaml"]  # no temporary file left


def test_dump_keeps_permissions_and_follows_links(tmp_path):
    real = tmp_path / "real.yaml"
    real.write_text("a: 1\n")
    real.chmod(0o640)
    link = tmp_path / "link.yaml"
    link.symlink_to(real)
    quarvel.dump({"a": 2}, link)
    assert link.is_symlink()
    assert real.read_text() == "a: 2\n"
    assert stat.S_IMODE(real.stat().st_mode) == 0o640


def test_dump_gives_a_new_file_the_usual_permissions(tmp_path):
    mask = os.umask(0o022)
    try:
        quarvel.dump([1], tmp_path / "new.yaml")
    finally:
        os.umask(mask)
    assert stat.S_IMODE((tmp_path / "new.yaml").stat().st_mode) == 0o644


def test_dump_refuses_a_directory(tmp_path):
    with pytest.raises(IsADirectoryError):
        quarvel.dump({}, tmp_path)
