"""Shared by the round-trip tests: loading and a full picture of a document."""

import quarvel


def load(text, option=0):
    return quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP | option)


def at(root, path):
    """The value (or view) at `path` below `root`."""
    for step in path:
        root = root[step]
    return root


def snapshot(doc):
    """The values and, for every addressable node, its metadata: equal
    snapshots mean an operation left the document as it was. Iterative, so
    that deep documents do not reach Python's recursion limit."""
    nodes = []
    pending = [(doc.node, ())] if len(doc) else []
    while pending:
        node, path = pending.pop()
        nodes.append((path, repr(node), node.style, node.tag, node.anchor, node.comment,
                      node.comment_before))
        if node.is_alias:
            continue
        if node.style in ("block", "flow"):
            value = node.value
            if isinstance(value, dict):
                keys = [k for k in value if isinstance(k, str) and k in node]
                pending.extend((node[k], path + (k,)) for k in reversed(keys))
            else:
                pending.extend((node[i], path + (i,)) for i in reversed(range(len(value))))
    return repr_safe(doc.walk()), nodes


def repr_safe(walked):
    return [(path, value if not isinstance(value, (list, dict)) else type(value))
            for path, value in walked]
