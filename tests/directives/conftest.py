"""Helpers for directive tests: file trees under tmp_path and a loader bound to them."""

import os
import pathlib

import pytest

import quarvel

ALL = quarvel.OPT_INCLUDES | quarvel.OPT_SECRETS | quarvel.OPT_ENV_VAR


def write_tree(root: pathlib.Path, files: dict) -> pathlib.Path:
    """Writes {relative path: text} under root; a value of None makes a directory."""
    for rel, text in files.items():
        path = root / rel
        if text is None:
            path.mkdir(parents=True, exist_ok=True)
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text if isinstance(text, bytes) else text.encode())
    return root


@pytest.fixture
def config(tmp_path):
    """A configuration directory: config.write({...}) then config.load(text, ...)."""

    class Config:
        dir = tmp_path / "config"

        def write(self, files):
            self.dir.mkdir(exist_ok=True)
            return write_tree(self.dir, files)

        def path(self, rel="configuration.yaml"):
            return str(self.dir / rel)

        def load(self, text=None, option=ALL, root="configuration.yaml", **kw):
            self.dir.mkdir(exist_ok=True)
            if text is None:
                text = (self.dir / root).read_text()
            kw.setdefault("include_dir", str(self.dir))
            if root is not None:
                kw.setdefault("root_path", str(self.dir / root))
            return quarvel.loads(text, option=option, **kw)

    Config.dir.mkdir()
    return Config()


@pytest.fixture
def outside(tmp_path):
    """A directory beside the configuration, holding files no load may read."""
    out = tmp_path / "outside"
    write_tree(out, {"secret.yaml": "leaked: OUTSIDE-CONTENT\n",
                     "secrets.yaml": "pw: OUTSIDE-SECRET\n",
                     "dir/x.yaml": "leaked: OUTSIDE-CONTENT\n"})
    return out


@pytest.fixture
def clean_env(monkeypatch):
    for name in list(os.environ):
        if name.startswith("QV_"):
            monkeypatch.delenv(name)
    return monkeypatch
