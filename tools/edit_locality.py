"""How often one plain value edit changes only that value's lines.

Usage: PYTHONPATH=build-dev:python python3 tools/edit_locality.py FOLDER [--show N]

Every .yaml/.yml file below FOLDER that loads as one round-trip document
gets up to three edits, each on a fresh load: a scalar leaf (chosen by a
generator seeded from the file name) takes a new value of its own type. An
edit is local when the lines above the leaf's first line and below its last
line come back unchanged. Misses are listed with the file and the path.
"""

import pathlib
import random
import sys

import quarvel

RT = quarvel.OPT_ROUND_TRIP


def leaf_lines(data, node):
    """First and last 0-based line of the node's text."""
    first = node.line - 1
    before_end = data[: node.end_offset]
    last = before_end.count(b"\n") - (1 if before_end.endswith(b"\n") else 0)
    return first, max(first, last)


def new_value(v):
    if isinstance(v, bool):
        return not v
    if isinstance(v, (int, float)):
        return v + 1
    return v + "x"


def edit_is_local(data, path, value):
    doc = quarvel.loads(data, option=RT)
    node = doc.node
    for step in path:
        node = node[step]
    if node.is_alias:
        return None
    first, last = leaf_lines(data, node)
    target = doc
    for step in path[:-1]:
        target = target[step]
    target[path[-1]] = new_value(value)
    before, after = data.split(b"\n"), doc.to_yaml().split(b"\n")
    below = len(before) - last - 1
    return (before[:first] == after[:first] and
            (below == 0 or before[-below:] == after[-below:]) and
            len(after) - below - first >= 1)


def main():
    root = pathlib.Path(sys.argv[1])
    files = sorted(p for p in root.rglob("*") if p.suffix in (".yaml", ".yml"))
    loaded = edits = local = 0
    misses = []
    for path in files:
        data = path.read_bytes()
        try:
            doc = quarvel.loads(data, option=RT)
        except quarvel.QuarvelError:
            continue
        if repr(doc) != "QuarvelDocument(documents=1)":
            continue
        loaded += 1
        leaves = [(p, v) for p, v in doc.walk()
                  if p and isinstance(v, (str, int, float, bool))]
        rnd = random.Random(str(path.relative_to(root)))
        for leaf, value in rnd.sample(leaves, min(3, len(leaves))):
            try:
                ok = edit_is_local(data, leaf, value)
            except (KeyError, TypeError, ValueError):
                continue
            if ok is None:
                continue
            edits += 1
            local += ok
            if not ok:
                misses.append((str(path.relative_to(root)), leaf))
    share = 100 * local / max(edits, 1)
    print(f"files {loaded}/{len(files)}; edits {edits}; local {local} ({share:.2f}%)")
    for miss in misses:
        print("miss", *miss)


if __name__ == "__main__":
    main()
