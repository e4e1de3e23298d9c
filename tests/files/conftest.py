import io
import sys

import pytest

from quarvel.cli import main


@pytest.fixture
def run(monkeypatch, capsys):
    """Runs the command line in this process: (status, stdout, stderr)."""

    def call(*argv, stdin=None):
        if stdin is not None:
            data = stdin.encode() if isinstance(stdin, str) else stdin
            monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(data)))
        status = main(list(argv))
        out, err = capsys.readouterr()
        return status, out, err

    return call
