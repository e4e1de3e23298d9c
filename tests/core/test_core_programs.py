"""Runs each C++ test program of tests/core; a program passes when it exits
with status 0. The stack program runs case by case in test_stack_core.py."""

import pathlib
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
PROGRAMS = sorted(p.stem for p in HERE.glob("*.cpp") if p.stem != "stack_test")


@pytest.mark.parametrize("program", PROGRAMS)
def test_core_program(core_programs, core_env, program):
    done = subprocess.run([core_programs / program], capture_output=True, text=True, timeout=300,
                          env=core_env)
    assert done.returncode == 0, f"{program} failed:\n{done.stdout}{done.stderr}"
