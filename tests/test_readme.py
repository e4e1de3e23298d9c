"""The README's Python examples, run as doctest sessions.

Every ```pycon block of README.md is a doctest session. The blocks of one
"## " section share a namespace and run in README order, in a fresh
temporary working directory, so an example may write a small file tree and
later blocks of its section may read it. In ```console blocks, each
"$ quarvel ..." line runs the command line in that directory and must print
what follows it. ```sh, ```yaml and ```python blocks are not run.
"""

import doctest
import logging
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[1] / "README.md"

FENCE = re.compile(r"^(`{3,}|~{3,})\s*([\w+-]*)")


def sections_of(text):
    """[(heading, [(first content line, block text), ...])] for the pycon
    blocks of `text`, grouped under their "## " heading; line numbers are
    1-based and name the line after the opening fence."""
    sections = []
    heading, blocks = "(before the first section)", []
    fence = language = None
    start, body = 0, []
    for number, line in enumerate(text.splitlines(), start=1):
        if fence is None:
            m = FENCE.match(line)
            if m:
                fence, language, start, body = m.group(1), m.group(2).lower(), number + 1, []
            elif line.startswith("## "):
                if blocks:
                    sections.append((heading, blocks))
                heading, blocks = line[3:].strip(), []
            continue
        if line.strip().startswith(fence[0] * len(fence)) and line.strip().strip(fence[0]) == "":
            if language == "pycon":
                blocks.append((start, "".join(s + "\n" for s in body)))
            elif language == "console":
                blocks.append((start, "".join(s + "\n" for s in body), "console"))
            fence = None
        else:
            body.append(line)
    if fence is not None:
        raise ValueError(f"README.md: the code block opened on line {start - 1} is never closed")
    if blocks:
        sections.append((heading, blocks))
    return sections


def run_blocks(blocks, name):
    """Runs the blocks in one namespace; returns the doctest report of every
    failing example (empty when all pass)."""
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(verbose=False)
    globs = {"__name__": "readme"}
    report = []
    for first_line, text, *console in blocks:
        if console:
            report += run_console(first_line, text)
            continue
        # doctest reports an example on line test.lineno + example.lineno + 1.
        test = parser.get_doctest(text, globs, name, str(README), first_line - 1)
        runner.run(test, out=report.append, clear_globs=False)
        globs.update(test.globs)  # a DocTest runs in a copy of the namespace
    return "".join(report)


def console_commands(first_line, text):
    """[(line, command, expected output)] of a ```console block: each "$ "
    line is a command, the lines up to the next one its output (standard
    error, then standard output), and "[exit status N]" a non-zero status."""
    commands = []
    for offset, line in enumerate(text.splitlines(keepends=True)):
        if line.startswith("$ "):
            commands.append([first_line + offset, line[2:].strip(), ""])
        elif commands:
            commands[-1][2] += line
    return commands


def run_console(first_line, text):
    """Runs the quarvel commands of a ```console block in the working
    directory; returns a report per command whose output differs."""
    report = []
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    for line, command, expected in console_commands(first_line, text):
        argv = shlex.split(command)
        assert argv[0] == "quarvel", f"README line {line}: only quarvel commands run"
        done = subprocess.run([sys.executable, "-m", "quarvel", *argv[1:]], capture_output=True,
                              text=True, env=env)
        got = done.stderr + done.stdout
        if done.returncode:
            got += f"[exit status {done.returncode}]\n"
        if got != expected:
            report.append(f"README.md, line {line}: $ {command}\nExpected:\n{expected}Got:\n{got}")
    return report


NO_README = f"no README.md at {README}"


def _section_cases():
    if not README.exists():
        return [pytest.param(None, None, id="no-README", marks=pytest.mark.skip(reason=NO_README))]
    return [pytest.param(heading, blocks, id=heading)
            for heading, blocks in sections_of(README.read_text(encoding="utf-8"))]


SECTION_CASES = _section_cases()


@pytest.fixture
def isolated(tmp_path, monkeypatch):
    """A fresh working directory, the environment and the "quarvel" logger
    restored afterwards."""
    monkeypatch.chdir(tmp_path)
    environ = dict(os.environ)
    logger = logging.getLogger("quarvel")
    handlers, level, propagate = list(logger.handlers), logger.level, logger.propagate
    yield tmp_path
    os.environ.clear()
    os.environ.update(environ)
    logger.handlers[:] = handlers
    logger.setLevel(level)
    logger.propagate = propagate


@pytest.mark.parametrize("heading, blocks", SECTION_CASES)
def test_readme_section(isolated, heading, blocks):
    report = run_blocks(blocks, f"README.md: {heading}")
    assert not report, f"README section {heading!r} has failing examples:\n{report}"


@pytest.mark.skipif(not README.exists(), reason=NO_README)
def test_readme_has_examples_in_every_pycon_block():
    # A pycon block without ">>> " would pass as an empty session.
    sections = sections_of(README.read_text(encoding="utf-8"))
    assert sections, "README.md has no ```pycon blocks"
    empty = [line for _, blocks in sections for line, text, *console in blocks
             if not console and not re.search(r"^>>> ", text, re.M)]
    assert not empty, f"```pycon blocks without examples start on README lines {empty}"


SAMPLE = """\
# title
```pycon
>>> 1 + 1
2
```
## First
```sh
echo '## not a heading'
```
```pycon
>>> x = 5
```
## Second
~~~pycon
>>> y = 1
>>> y + 1
3
~~~
```yaml
a: 1
```
"""


@pytest.mark.parametrize("text, expected", [
    (SAMPLE, [("(before the first section)", [(3, ">>> 1 + 1\n2\n")]),
              ("First", [(11, ">>> x = 5\n")]),
              ("Second", [(15, ">>> y = 1\n>>> y + 1\n3\n")])]),
    ("## Only prose\ntext\n```python\n>>> 1\n```\n", []),
    ("## A\n````pycon\n>>> print('```')\n```\n````\n",
     [("A", [(3, ">>> print('```')\n```\n")])]),
])
def test_sections_of_groups_blocks_under_their_heading(text, expected):
    assert sections_of(text) == expected


def test_unclosed_block_is_an_error():
    with pytest.raises(ValueError, match="opened on line 2 is never closed"):
        sections_of("## A\n```pycon\n>>> 1\n")


@pytest.mark.parametrize("blocks, reported_line", [
    ([(10, ">>> 1 + 1\n3\n")], 10),
    ([(4, ">>> a = 2\n"), (20, ">>> b = a\n>>> b\n2\n>>> a * 3\n5\n")], 23),
])
def test_failures_name_their_readme_line(blocks, reported_line):
    report = run_blocks(blocks, "README.md: sample")
    assert f", line {reported_line}, in README.md: sample" in report
    assert report.count("Failed example:") == 1


def test_blocks_of_a_section_share_one_namespace():
    assert run_blocks([(1, ">>> shared = [1]\n"), (5, ">>> shared + [2]\n[1, 2]\n")], "s") == ""


def test_console_blocks_split_into_commands_and_outputs():
    text = "$ quarvel check a.yaml\na.yaml:1:1: error: x\n[exit status 1]\n$ quarvel get a.yaml k\n1\n"
    assert console_commands(7, text) == [
        [7, "quarvel check a.yaml", "a.yaml:1:1: error: x\n[exit status 1]\n"],
        [10, "quarvel get a.yaml k", "1\n"]]
