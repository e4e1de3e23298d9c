"""Builds the C++ test programs of tests/core (one per .cpp file) with CMake
and runs each; a program passes when it exits with status 0.

The programs are built once per session into a directory kept between
sessions, so later runs only rebuild what changed: core-test-build/ beside the
built extension when that lies in a CMake build tree, else
build/core-test-build in the checkout. QUARVEL_CORE_TESTS_BUILD overrides the
place.
"""

import os
import pathlib
import shutil
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
PROGRAMS = sorted(p.stem for p in HERE.glob("*.cpp"))


def _build_dir():
    if os.environ.get("QUARVEL_CORE_TESTS_BUILD"):
        return pathlib.Path(os.environ["QUARVEL_CORE_TESTS_BUILD"])
    try:
        import _quarvel

        tree = pathlib.Path(_quarvel.__file__).resolve().parent
        if (tree / "CMakeCache.txt").exists():
            return tree / "core-test-build"
    except ImportError:
        pass
    return ROOT / "build" / "core-test-build"


def _compiler():
    if os.environ.get("CXX"):
        return shutil.which(os.environ["CXX"].split()[0])
    return next((shutil.which(c) for c in ("c++", "g++", "clang++") if shutil.which(c)), None)


def _run(cmd):
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        pytest.fail(f"{' '.join(map(str, cmd))} failed:\n{done.stdout}\n{done.stderr}", pytrace=False)


@pytest.fixture(scope="session")
def core_programs():
    """The directory holding the built programs."""
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed; the C++ core tests need it")
    if _compiler() is None:
        pytest.skip("no C++ compiler found (set CXX); the C++ core tests need one")
    build = _build_dir()
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Debug"]
    configure += ["-DQUARVEL_PYTHON=OFF", "-DQUARVEL_TOOLS=OFF", "-DQUARVEL_CORE_TESTS=ON"]
    if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    _run(configure)
    _run(["cmake", "--build", build, "-j2"])
    return build / "core-tests"


@pytest.mark.parametrize("program", PROGRAMS)
def test_core_program(core_programs, program):
    done = subprocess.run([core_programs / program], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, f"{program} failed:\n{done.stdout}{done.stderr}"
