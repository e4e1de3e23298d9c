"""Shared by the round-trip tests: loading and a full picture of a document."""

import quarvel


def load(text, option=0):
    return quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP | option)


def snapshot(doc):
    """The values and, for every addressable node, its metadata: equal
    snapshots mean an operation left the document as it was."""
    nodes = []

    def visit(node, path):
        nodes.append((path, repr(node), node.style, node.tag, node.anchor, node.comment,
                      node.comment_before))
        value = node.value
        if isinstance(value, dict) and not node.is_alias:
            for key in node_keys(node):
                visit(node[key], path + (key,))
        elif isinstance(value, list) and not node.is_alias:
            for i in range(len(value)):
                visit(node[i], path + (i,))

    def node_keys(node):
        keys = []
        for k in node.value:
            if isinstance(k, str) and k in node:
                keys.append(k)
        return keys

    if len(doc) and not isinstance(doc.to_dict(), list) or len(doc) == 1:
        visit(doc.node, ())
    return doc.to_dict(), nodes
