"""Stack segments tested from C++: tests/core/stack_test.cpp is built against
the core library with cmake, and each of its cases runs in a process of its
own, so a crash fails that case and nothing else.

Set QUARVEL_CORE_TEST_BUILD to a directory to keep the build between runs."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SANITIZED = bool(os.environ.get("QUARVEL_SANITIZED"))

CASES = [
    "deep_recursion_moves_to_segments",
    "runtime_error_returns_to_the_caller",
    "bad_alloc_returns_to_the_caller",
    "unmappable_segment_skips_the_step",
    "value_helpers_report_exhaustion",
    "deep_trees_free_without_recursion",
    "deep_copy_across_segments",
]


def clean_env():
    # The sanitizer run preloads its runtime into every process; the compiler
    # and the test program (linked with the sanitizer itself) do without.
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    return env


@pytest.fixture(scope="module")
def stack_test(tmp_path_factory):
    if not shutil.which("cmake"):
        pytest.skip("cmake is not installed: the C++ stack tests cannot be built")
    compiler = os.environ.get("CXX", "c++")
    if not shutil.which(compiler) and not shutil.which("g++"):
        pytest.skip("no C++ compiler found: the C++ stack tests cannot be built")
    build = os.environ.get("QUARVEL_CORE_TEST_BUILD") or str(tmp_path_factory.mktemp("core-tests"))
    configure = ["cmake", "-S", str(ROOT), "-B", build, "-DQUARVEL_PYTHON=OFF", "-DQUARVEL_CORE_TESTS=ON",
                 "-DCMAKE_BUILD_TYPE=Debug", f"-DQUARVEL_SANITIZE={'ON' if SANITIZED else 'OFF'}"]
    if shutil.which("ninja") and not (Path(build) / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    for command in (configure, ["cmake", "--build", build, "--target", "stack_test", "-j2"]):
        done = subprocess.run(command, env=clean_env(), capture_output=True, text=True)
        assert done.returncode == 0, f"{' '.join(command)} failed:\n{done.stdout}\n{done.stderr}"
    return Path(build) / "stack_test"


def run(program, *args):
    env = clean_env()
    env["ASAN_OPTIONS"] = "abort_on_error=1:detect_leaks=1"
    return subprocess.run([str(program), *args], env=env, capture_output=True, text=True, timeout=300)


def test_every_case_is_run(stack_test):
    assert run(stack_test, "--list").stdout.split() == CASES


@pytest.mark.parametrize("case", CASES)
def test_case(stack_test, case):
    done = run(stack_test, case)
    assert done.returncode == 0, f"{case} exited with {done.returncode}:\n{done.stdout}{done.stderr}"
