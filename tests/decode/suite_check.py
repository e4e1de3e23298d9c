"""Runs the decode_dump driver over the YAML test suite (no Python module
needed) and prints the cases that do not behave as the suite expects.

    python3 tests/decode/suite_check.py BUILD_DIR [SUITE_DIR]
"""

import json
import pathlib
import subprocess
import sys


def json_stream(text):
    decoder = json.JSONDecoder()
    docs, i = [], 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i >= len(text):
            return docs
        doc, i = decoder.raw_decode(text, i)
        docs.append(doc)


def cases(suite):
    for path in sorted(suite.iterdir()):
        if (path / "in.yaml").is_file():
            yield path
        elif path.is_dir():
            yield from sorted(p for p in path.iterdir() if (p / "in.yaml").is_file())


def main():
    build = pathlib.Path(sys.argv[1])
    here = pathlib.Path(__file__).resolve()
    suite = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else here.parents[3] / "shared" / "yaml-test-suite"
    tool = build / "decode_dump"
    passed, failed = 0, []
    for case in cases(suite):
        name = str(case.relative_to(suite))
        invalid = (case / "error").exists()
        try:
            run = subprocess.run([str(tool), "--plain", str(case / "in.yaml")],
                                 capture_output=True, timeout=20)
        except subprocess.TimeoutExpired:
            failed.append((name, "timeout"))
            continue
        out = run.stdout.decode("utf-8", "replace")
        if run.returncode not in (0, 1):
            failed.append((name, f"crash rc={run.returncode} {run.stderr[-200:]!r}"))
            continue
        if invalid:
            if run.returncode == 1:
                passed += 1
            else:
                failed.append((name, "invalid input accepted"))
            continue
        if run.returncode == 1:
            failed.append((name, "valid input rejected: " + out.strip()))
            continue
        expected_file = case / "in.json"
        if not expected_file.exists():
            passed += 1
            continue
        expected = json_stream(expected_file.read_text(encoding="utf-8"))
        got = [json.loads(line) for line in out.splitlines() if line.strip()]
        if got == expected:
            passed += 1
        else:
            failed.append((name, f"data differs: got {got!r:.200} expected {expected!r:.200}"))
    total = passed + len(failed)
    for name, why in failed:
        print(f"{name}: {why}")
    print(f"passed {passed} of {total}")


if __name__ == "__main__":
    main()
