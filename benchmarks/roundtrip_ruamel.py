"""Side by side with ruamel.yaml's round-trip mode on real files.

    python benchmarks/roundtrip_ruamel.py RT_EMIT FILE...

RT_EMIT is the tools/rt_emit driver. For every file both libraries load:
  - identical: re-emitted without edits, the bytes are the file's;
  - one edit: the first plain one-line mapping value (in document order; the
    driver picks it and reports its line) gets "x" appended, and the file
    counts when no other line changed.
"""

import io
import subprocess
import sys
import warnings

from ruamel.yaml import YAML
from ruamel.yaml.comments import CommentedMap, CommentedSeq


def ruamel_rt():
    y = YAML()
    y.preserve_quotes = True
    return y


def edit_at_line(node, line):
    """Appends "x" to the mapping value whose key starts on `line` (0-based)."""
    if isinstance(node, CommentedMap):
        for key in node:
            value = node[key]
            if not isinstance(value, (CommentedMap, CommentedSeq)) and value is not None:
                if node.lc.value(key)[0] == line:
                    node[key] = f"{value}x"
                    return True
            if edit_at_line(value, line):
                return True
    elif isinstance(node, CommentedSeq):
        return any(edit_at_line(item, line) for item in node)
    return False


def dump(docs):
    out = io.StringIO()
    ruamel_rt().dump_all(docs, out)
    return out.getvalue()


def main():
    rt_emit, files = sys.argv[1], sys.argv[2:]
    done = subprocess.run([rt_emit, "edit", *files], capture_output=True, text=True, check=True)
    lines = {}
    for row in done.stdout.splitlines():
        parts = row.split("\t")
        if len(parts) == 3:
            lines[parts[0]] = (int(parts[1]), parts[2] == "1")
    loaded = identical = edited = ruamel_one = quarvel_one = 0
    warnings.simplefilter("ignore")
    for path in files:
        with open(path, encoding="utf-8-sig", newline="") as f:
            text = f.read()
        try:
            docs = list(ruamel_rt().load_all(text))
            identical += dump(docs) == text
            loaded += 1
        except Exception:
            continue
        if path not in lines:
            continue
        line, ok = lines[path]
        docs = list(ruamel_rt().load_all(text))
        if not any(edit_at_line(d, line - 1) for d in docs):
            continue
        edited += 1
        quarvel_one += ok
        before, after = text.split("\n"), dump(docs).split("\n")
        ruamel_one += len(before) == len(after) and all(
            a == b for i, (a, b) in enumerate(zip(before, after)) if i != line - 1)
    print(f"ruamel.yaml: {loaded} files load, {identical} byte-identical without edits")
    print(f"one edit in {edited} files: only that line changed: "
          f"quarvel {quarvel_one} ({100 * quarvel_one / max(edited, 1):.1f}%), "
          f"ruamel.yaml {ruamel_one} ({100 * ruamel_one / max(edited, 1):.1f}%)")


if __name__ == "__main__":
    main()
