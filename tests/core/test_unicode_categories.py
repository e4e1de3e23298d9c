"""The General_Category table in src/support/ecma_regex_unicode.hpp is what
tools/gen_unicode_categories.py writes from this Python's Unicode data."""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_unicode_category_table_is_generated():
    done = subprocess.run([sys.executable, ROOT / "tools" / "gen_unicode_categories.py", "--check"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
