"""The table of powers of ten in src/support/pow10_table.hpp is what
tools/gen_pow10_table.py writes, and the facts about it that the shortest
float digits rely on (checked by the script with exact arithmetic, for every
exponent of a double) hold."""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_pow10_table_is_generated_and_checked():
    done = subprocess.run([sys.executable, ROOT / "tools" / "gen_pow10_table.py", "--check"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
