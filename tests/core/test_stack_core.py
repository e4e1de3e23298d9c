"""Stack segments tested from C++: tests/core/stack_test.cpp is built against
the core library with cmake, and each of its cases runs in a process of its
own, so a crash fails that case and nothing else."""

import subprocess

import pytest

CASES = [
    "deep_recursion_moves_to_segments",
    "runtime_error_returns_to_the_caller",
    "bad_alloc_returns_to_the_caller",
    "unmappable_segment_skips_the_step",
    "value_helpers_report_exhaustion",
    "deep_trees_free_without_recursion",
    "deep_compare_across_segments",
]


@pytest.fixture(scope="module")
def stack_test(core_programs, core_env):
    program = core_programs / "stack_test"
    return lambda *args: subprocess.run([str(program), *args], env=core_env, capture_output=True,
                                        text=True, timeout=300)


def test_every_case_is_run(stack_test):
    assert stack_test("--list").stdout.split() == CASES


@pytest.mark.parametrize("case", CASES)
def test_case(stack_test, case):
    done = stack_test(case)
    assert done.returncode == 0, f"{case} exited with {done.returncode}:\n{done.stdout}{done.stderr}"
