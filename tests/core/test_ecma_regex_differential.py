"""The regular-expression engine against Python's re, on random patterns of
the part the two languages share, searched in random short texts.

Patterns are built as trees and written out twice, once per language, where
the two spell a construct differently: '$' (end of text only) is '\\Z' in
Python, and the character classes are compared under re.ASCII, where \\d, \\w,
\\s and \\b mean what they mean in the engine for the ASCII characters and
'é' of the texts. Back references only follow, at the top level, the group
they name, so the group has always matched by then: a reference to a group
that has not matched matches the empty string in the engine and fails in
Python. Python's \\B never matches the empty text; the engine's does, so that
pair is left out."""

import random
import re

ATOMS = ["a", "b", "0", "_", "é", " ", "-", ".", "\\d", "\\w", "\\s", "\\W", "\\D", "\\S",
         "[ab]", "[^a]", "[a-c0]", "[\\d_]", "[^\\s-]"]
QUANTIFIERS = ["*", "+", "?", "{2}", "{1,3}", "{0,2}", "{2,}"]
ASSERTIONS = {"^": "^", "$": "\\Z", "\\b": "\\b", "\\B": "\\B"}
ALPHABET = "ab01_ \n-é"


def both(text):
    return text, text


def wrap(left, parts, right="", sep=""):
    return (left + sep.join(p[0] for p in parts) + right,
            left + sep.join(p[1] for p in parts) + right)


def term(rng, depth, fixed_width=False):
    """(engine pattern, Python pattern); fixed_width for lookbehind bodies,
    which Python requires to have one length."""
    if depth <= 0 or rng.random() < 0.35:
        return both(rng.choice(ATOMS))
    k = rng.random()
    if k < 0.3:
        return wrap("", [term(rng, depth - 1, fixed_width) for _ in range(rng.randint(2, 3))])
    if fixed_width:
        if k < 0.6:
            a = rng.choice(list(ASSERTIONS))
            return a, ASSERTIONS[a]
        return wrap("(?" + rng.choice(["<=", "<!"]), [term(rng, depth - 1, True)], ")")
    if k < 0.45:
        parts = [term(rng, depth - 1) for _ in range(rng.randint(2, 3))]
        return wrap("(?:", parts, ")", "|")
    if k < 0.7:
        q = rng.choice(QUANTIFIERS) + ("?" if rng.random() < 0.3 else "")
        return wrap("(?:", [term(rng, depth - 1)], ")" + q)
    if k < 0.8:
        a = rng.choice(list(ASSERTIONS))
        return a, ASSERTIONS[a]
    if k < 0.9:
        return wrap("(?" + rng.choice(["=", "!"]), [term(rng, depth - 1)], ")")
    return wrap("(?" + rng.choice(["<=", "<!"]), [term(rng, depth - 1, True)], ")")


def pattern(rng):
    parts, groups = [], 0
    for _ in range(rng.randint(1, 4)):
        if groups and rng.random() < 0.2:
            parts.append(both("(?:\\%d)" % rng.randint(1, groups)))
            continue
        part = term(rng, 3)
        if rng.random() < 0.3:
            groups += 1
            part = wrap("(", [part], ")")
        parts.append(part)
    return wrap("", parts)


def cases(seed, count):
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        ours, theirs = pattern(rng)
        compiled = re.compile(theirs, re.ASCII)
        for _ in range(8):
            text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 8)))
            if not text and "\\B" in ours:
                continue
            out.append((ours, text, bool(compiled.search(text))))
    return out


def test_agrees_with_python_re(core_programs, core_env):
    import subprocess

    table = cases(seed=20240611, count=20000)
    lines = "".join(f"{p.encode().hex()} {t.encode().hex()}\n" for p, t, _ in table)
    done = subprocess.run([core_programs / "ecma_regex_test", "--lines"], input=lines,
                          capture_output=True, text=True, timeout=300, env=core_env)
    assert done.returncode == 0, done.stderr
    answers = done.stdout.splitlines()
    assert len(answers) == len(table)
    wrong = [(p, t, expected, got) for (p, t, expected), got in zip(table, answers)
             if got != ("1" if expected else "0")]
    assert not wrong, "\n".join(f"{p!r} in {t!r}: re says {e}, engine {g}" for p, t, e, g in wrong[:20])
