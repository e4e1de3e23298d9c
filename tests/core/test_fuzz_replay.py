"""Replays the kept fuzz regression inputs (fuzz/regressions/<target>/) through
each fuzz target's entry point, built with the default compiler rather than
libFuzzer, so the inputs run in every suite run, the sanitizer one included.
A target passes when its program runs every kept input and exits with 0."""

import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TARGETS = sorted(p.stem for p in (ROOT / "fuzz").glob("fuzz_*.cpp"))


def kept_inputs(target):
    folder = ROOT / "fuzz" / "regressions" / target
    return [p for p in folder.rglob("*") if p.is_file()] if folder.is_dir() else []


def test_every_regression_folder_has_a_target():
    folders = {p.name for p in (ROOT / "fuzz" / "regressions").iterdir() if p.is_dir()}
    assert folders <= set(TARGETS)


@pytest.mark.parametrize("target", TARGETS)
def test_kept_inputs_replay(fuzz_replays, core_env, target):
    done = subprocess.run([fuzz_replays / f"replay_{target}"], capture_output=True, text=True,
                          timeout=300, env=core_env)
    # On a crash the last "replay:" line names the input that caused it.
    tail = "\n".join(done.stderr.splitlines()[-40:])
    if done.returncode != 0:
        message = f"replay_{target} exited with {done.returncode}:\n{done.stdout}{tail}"
        pytest.fail(message, pytrace=False)
    assert f"replay: {len(kept_inputs(target))} inputs run" in done.stderr
