"""Every way out of the include directory is refused before anything outside is read."""

import os
import threading

import pytest

import quarvel
from quarvel.exceptions import (QuarvelIncludeConfinementError, QuarvelIncludeError,
                                QuarvelIncludeNotFoundError)

INC = quarvel.OPT_INCLUDES
ALL = quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR
REC = INC | quarvel.OPT_INCLUDE_DIR_RECURSIVE


def refused(config, text, option=REC, **kw):
    with pytest.raises(QuarvelIncludeConfinementError) as e:
        config.load(text, option=option, **kw)
    assert "OUTSIDE" not in str(e.value)
    assert "resolves outside the configured include directory" in str(e.value)
    return e.value


@pytest.mark.parametrize("arg", [
    "../outside/secret.yaml",
    "../../../../../../../../../../etc/passwd",
    "sub/../../outside/secret.yaml",
    "./../outside/secret.yaml",
    "../outside/does-not-exist.yaml",
    "../config-sibling.yaml",
])
def test_dot_dot_chains(config, outside, arg):
    config.write({"sub/x.yaml": "x: 1\n"})
    refused(config, f"v: !include {arg}\n")


@pytest.mark.parametrize("directive", ["!include", "!include_dir_list", "!include_dir_named",
                                       "!include_dir_merge_list", "!include_dir_merge_named"])
def test_absolute_paths(config, outside, directive):
    refused(config, f"v: {directive} {outside / 'dir'}\n")
    refused(config, f"v: {directive} /\n")


def test_prefix_is_compared_by_component(config, tmp_path):
    # ".../config-extra" starts with ".../config" as text but is not inside it.
    (tmp_path / "config-extra").mkdir()
    (tmp_path / "config-extra" / "x.yaml").write_text("leaked: OUTSIDE\n")
    refused(config, "v: !include ../config-extra/x.yaml\n")


@pytest.mark.parametrize("make_link, text", [
    (lambda c, o: os.symlink(o / "secret.yaml", c / "link.yaml"), "v: !include link.yaml\n"),
    (lambda c, o: os.symlink(o / "dir", c / "linkdir"), "v: !include linkdir/x.yaml\n"),
    (lambda c, o: os.symlink(o / "dir", c / "linkdir"), "v: !include_dir_list linkdir\n"),
    (lambda c, o: os.symlink(o / "secret.yaml", c / "d" / "a.yaml"),
     "v: !include_dir_merge_named d\n"),
    (lambda c, o: os.symlink(o / "dir", c / "d" / "sub"), "v: !include_dir_list d\n"),
])
def test_symbolic_links_pointing_out(config, outside, make_link, text):
    config.write({"d/ok.yaml": "ok: 1\n"})
    make_link(config.dir, outside)
    refused(config, text)


def test_link_to_outside_file_not_taken_by_walk_is_ignored(config, outside):
    # Not a .yaml name: the walk never looks at its target.
    config.write({"d/ok.yaml": "ok: 1\n"})
    os.symlink(outside / "secret.yaml", config.dir / "d" / "notes.txt")
    assert config.load("v: !include_dir_list d\n", option=REC)["v"] == [{"ok": 1}]


def test_links_inside_the_root_are_followed(config):
    config.write({"real/a.yaml": "a: 1\n", "d/x.yaml": "x: 1\n"})
    os.symlink(config.dir / "real" / "a.yaml", config.dir / "d" / "b.yaml")
    os.symlink(config.dir / "real", config.dir / "alias")
    got = config.load("v: !include_dir_list d\nw: !include alias/a.yaml\n", option=REC)
    assert got == {"v": [{"a": 1}, {"x": 1}], "w": {"a": 1}}


def test_directory_link_loop_is_walked_once(config):
    config.write({"d/a.yaml": "a: 1\n"})
    os.symlink(config.dir / "d", config.dir / "d" / "again")
    assert config.load("v: !include_dir_list d\n", option=REC)["v"] == [{"a": 1}]


@pytest.mark.parametrize("text", ["v: !include loop.yaml\n", "v: !include_dir_list loopdir\n"])
def test_symbolic_link_loop_is_not_found(config, text):
    os.symlink(config.dir / "loop.yaml", config.dir / "loop.yaml")
    os.symlink(config.dir / "loopdir", config.dir / "loopdir")
    with pytest.raises(QuarvelIncludeNotFoundError, match="': not found in "):
        config.load(text)


def test_dangling_link_is_not_found(config):
    os.symlink(config.dir / "nowhere.yaml", config.dir / "dangling.yaml")
    with pytest.raises(QuarvelIncludeNotFoundError, match="': not found in "):
        config.load("v: !include dangling.yaml\n")


def test_dangling_link_pointing_out_is_refused(config, tmp_path):
    os.symlink(tmp_path / "outside" / "gone.yaml", config.dir / "dangling.yaml")
    # The link itself is inside; its target would be outside but does not exist.
    with pytest.raises(QuarvelIncludeNotFoundError):
        config.load("v: !include dangling.yaml\n")


def test_include_dir_that_is_a_link(config, tmp_path, outside):
    # The root is the link's target; paths through the link stay inside it.
    config.write({"a.yaml": "a: 1\n"})
    link = tmp_path / "config-link"
    os.symlink(config.dir, link)
    got = quarvel.loads("v: !include a.yaml\n", option=INC, include_dir=str(link))
    assert got == {"v": {"a": 1}}
    refused(config, "v: !include ../outside/secret.yaml\n", include_dir=str(link),
            root_path=None)


def test_path_through_a_linked_parent(config, outside):
    os.symlink(outside, config.dir / "up")
    refused(config, "v: !include up/secret.yaml\n")
    refused(config, "v: !include up/../outside/secret.yaml\n")


@pytest.mark.parametrize("name", [" lead.yaml", "ü.yaml"])
def test_unusual_names_inside_are_read(config, name):
    (config.dir / name).write_text("ok: 1\n")
    text = 'v: !include "' + name.replace("\n", "\\n").replace("\t", "\\t") + '"\n'
    assert config.load(text)["v"] == {"ok": 1}


def test_newline_name_cannot_escape(config, outside):
    refused(config, 'v: !include "x\\n/../../outside/secret.yaml"\n')


def test_nul_byte_is_not_a_shorter_path(config):
    config.write({"a.yaml": "a: 1\n"})
    with pytest.raises(QuarvelIncludeConfinementError, match="control character U[+]0000"):
        config.load('v: !include "a.yaml\\0../../x"\n')


@pytest.mark.parametrize("name, code", [
    ("in.yaml\\0../outside/o.yaml", "0000"),
    ("new\\nline.yaml", "000A"),
    ("tab\\tname.yaml", "0009"),
    ("bell\\a.yaml", "0007"),
    ("del\\x7f.yaml", "007F"),
])
@pytest.mark.parametrize("directive", ["!include", "!include_dir_list", "!include_dir_merge_named"])
@pytest.mark.parametrize("option", [INC, INC | quarvel.OPT_ROUND_TRIP, INC | quarvel.OPT_ANNOTATED])
def test_names_with_control_characters_are_refused(config, outside, name, code, directive, option):
    # The file the name would reach if the control character were dropped
    # or cut at exists, so only the refusal keeps it from being read.
    config.write({"in.yaml": "a: 1\n", "outside/o.yaml": "OUTSIDE: 1\n", "newline.yaml": "a: 1\n",
                  "tabname.yaml": "a: 1\n", "bell.yaml": "a: 1\n", "del.yaml": "a: 1\n"})
    with pytest.raises(QuarvelIncludeConfinementError) as e:
        config.load(f'v: {directive} "{name}"\n', option=option)
    assert f"include name contains control character U+{code}" in str(e.value)
    assert e.value.line == 1


@pytest.mark.parametrize("code", ["\\0", "\\n", "\\x1f"])
def test_secret_names_with_control_characters_are_refused(config, code):
    config.write({"secrets.yaml": "pw: s\n"})
    with pytest.raises(quarvel.exceptions.QuarvelSecretNotFoundError,
                       match="secret name contains control character"):
        config.load(f'v: !secret "pw{code}"\n', option=ALL)


def test_fifo_is_refused_without_blocking(config):
    os.mkfifo(config.dir / "pipe.yaml")
    result = {}

    def run():
        try:
            config.load("v: !include pipe.yaml\n")
        except QuarvelIncludeError as e:
            result["error"] = e

    t = threading.Thread(target=run, daemon=True)
    t.start()
    t.join(10)
    assert not t.is_alive(), "reading a FIFO blocked"
    assert type(result["error"]) is QuarvelIncludeError
    assert "not a regular file" in str(result["error"])


def test_fifo_in_a_walk_is_skipped(config):
    config.write({"d/a.yaml": "a: 1\n"})
    os.mkfifo(config.dir / "d" / "b.yaml")
    assert config.load("v: !include_dir_list d\n")["v"] == [{"a": 1}]


def test_device_is_refused(tmp_path):
    with pytest.raises(QuarvelIncludeError, match="not a regular file"):
        quarvel.loads("v: !include /dev/zero\n", option=INC, include_dir="/")


def test_secrets_file_linked_outside_is_absent(config, outside):
    os.symlink(outside / "secrets.yaml", config.dir / "secrets.yaml")
    with pytest.raises(quarvel.exceptions.QuarvelSecretNotFoundError) as e:
        config.load("pw: !secret pw\n", option=ALL)
    assert "OUTSIDE" not in str(e.value)


def test_secrets_above_the_root_are_not_read(tmp_path, config):
    (tmp_path / "secrets.yaml").write_text("pw: OUTSIDE-SECRET\n")
    with pytest.raises(quarvel.exceptions.QuarvelSecretNotFoundError):
        config.load("pw: !secret pw\n", option=ALL)


def test_missing_include_dir_is_normalised_lexically(tmp_path):
    missing = tmp_path / "nope" / ".." / "gone"
    with pytest.raises(QuarvelIncludeConfinementError):
        quarvel.loads("v: !include ../x.yaml\n", option=INC, include_dir=str(missing))
    with pytest.raises(QuarvelIncludeNotFoundError):
        quarvel.loads("v: !include x.yaml\n", option=INC, include_dir=str(missing))
