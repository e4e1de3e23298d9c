"""Builds the C++ test programs of tests/core (one per .cpp file) and the
replay programs of the fuzz targets with CMake,
once per session, into a directory kept between sessions so later runs only
rebuild what changed: core-test-build/ beside the built extension when that
lies in a CMake build tree, else build/core-test-build in the checkout
(QUARVEL_CORE_TESTS_BUILD overrides the place). Under the sanitizer run
(QUARVEL_SANITIZED set) the programs are built with the sanitizers too."""

import os
import pathlib
import shutil
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
SANITIZED = bool(os.environ.get("QUARVEL_SANITIZED"))


def _build_dir():
    if os.environ.get("QUARVEL_CORE_TESTS_BUILD"):
        return pathlib.Path(os.environ["QUARVEL_CORE_TESTS_BUILD"])
    name = "core-test-build-sanitized" if SANITIZED else "core-test-build"
    try:
        import _quarvel

        tree = pathlib.Path(_quarvel.__file__).resolve().parent
        if (tree / "CMakeCache.txt").exists():
            return tree / name
    except ImportError:
        pass
    return ROOT / "build" / name


def _compiler():
    if os.environ.get("CXX"):
        return shutil.which(os.environ["CXX"].split()[0])
    return next((shutil.which(c) for c in ("c++", "g++", "clang++") if shutil.which(c)), None)


def clean_env():
    """The sanitizer run preloads its runtime into every process; the compiler
    and the test programs (linked with the sanitizer themselves) do without."""
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    env["ASAN_OPTIONS"] = "abort_on_error=1:detect_leaks=1"
    return env


@pytest.fixture(scope="session")
def core_env():
    """The environment the test programs run in."""
    return clean_env()


def _run(cmd):
    done = subprocess.run(cmd, capture_output=True, text=True, env=clean_env())
    if done.returncode != 0:
        pytest.fail(f"{' '.join(map(str, cmd))} failed:\n{done.stdout}\n{done.stderr}", pytrace=False)


@pytest.fixture(scope="session")
def core_programs():
    """The directory holding the built programs."""
    return build_core_programs()


def build_core_programs():
    """Builds the programs (skipping the test without cmake or a compiler) and
    returns the directory holding them."""
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed; the C++ core tests need it")
    if _compiler() is None:
        pytest.skip("no C++ compiler found (set CXX); the C++ core tests need one")
    build = _build_dir()
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Debug"]
    configure += ["-DQUARVEL_PYTHON=OFF", "-DQUARVEL_TOOLS=OFF", "-DQUARVEL_CORE_TESTS=ON"]
    configure += [f"-DQUARVEL_SANITIZE={'ON' if SANITIZED else 'OFF'}"]
    if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    _run(configure)
    _run(["cmake", "--build", build, "-j2"])
    return build / "core-tests"


@pytest.fixture(scope="session")
def fuzz_replays(core_programs):
    """The directory holding replay_<target> for each fuzz/fuzz_<target>.cpp."""
    return core_programs.parent / "fuzz-replay"
