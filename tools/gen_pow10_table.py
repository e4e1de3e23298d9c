#!/usr/bin/env python3
"""Writes src/support/pow10_table.hpp: the 128-bit approximations of powers of
ten that src/support/shortest_double.cpp multiplies by, and checks, with exact
integer arithmetic, every fact about them that the C++ code relies on.

    python3 tools/gen_pow10_table.py            # rewrite the header
    python3 tools/gen_pow10_table.py --check    # fail if the header differs

For each power 10^e with e from -292 to 324 the table holds
g = ceil(10^e * 2^(127 - floor(log2 10^e))), the 128 bits of 10^e rounded up,
so that 2^127 <= g < 2^128; it is exact (10^e = g * 2^-b) for e from 0 to 55,
where 5^e fits in 128 bits, and too large by less than one unit otherwise.

What the C++ code takes for granted, each asserted below for every binary
exponent q of a double (-1074 to 971):

- its shifts-and-multiplies give floor(q log10 2), floor(q log10 2 +
  log10 3/4) and floor(e log2 10) exactly;
- for every integer X from 1 to 4 * (2^53 - 1) + 2 (four times a significand,
  plus two: the ends and the middle of a rounding interval in quarter units),
  the exact P = X * 2^q * 10^-k (k the power of ten chosen for q) is below
  2^64 and is either an integer or at least 2^-68 above the integer below it
  and further than the multiplication's error below the one above; that error
  is less than 2^-68. So the top 64 bits of the 192-bit product (X << h) * g
  are floor(P), and the 128 bits under them, read as a fraction, are below
  2^-68 exactly when P is an integer. (The nonzero fractional parts come as
  close to 0 as 2^-65.4, at q = 664, so testing only the middle 64 bits for
  zero would not do.) The same holds for the three X of a power of two
  (4c - 1, 4c and 4c + 2 for c = 2^52), with the k of its narrower interval.
"""

import math
import pathlib
import sys
from fractions import Fraction

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "src" / "support" / "pow10_table.hpp"

E_MIN, E_MAX = -292, 324  # powers of ten 10^-k for k from 292 down to -324
Q_MIN, Q_MAX = -1074, 971  # binary exponents of doubles: value = c * 2^q
X_MAX = 4 * (2**53 - 1) + 2

# The C++ code's constants, checked here.
LOG10_2_Q20 = 315653  # floor(q log10 2) = (q * 315653) >> 20
LOG10_3_4_Q20 = 131008  # floor(q log10 2 + log10 3/4) = (q * 315653 - 131008) >> 20
LOG2_10_Q19 = 1741647  # floor(e log2 10) = (e * 1741647) >> 19


def floor_log10(x):
    """floor(log10 x) for a positive Fraction, exactly."""
    k = len(str(x.numerator)) - len(str(x.denominator))
    while Fraction(10) ** k > x:
        k -= 1
    while Fraction(10) ** (k + 1) <= x:
        k += 1
    return k


def floor_log2(x):
    """floor(log2 x) for a positive Fraction, exactly."""
    b = x.numerator.bit_length() - x.denominator.bit_length()
    while Fraction(2) ** b > x:
        b -= 1
    while Fraction(2) ** (b + 1) <= x:
        b += 1
    return b


def ceil_div(a, b):
    return -(-a // b)


def pow10_entry(e):
    """(g, exact) for 10^e: g = ceil(10^e * 2^(127 - floor(log2 10^e)))."""
    p = Fraction(10) ** e
    scaled = p * Fraction(2) ** (127 - floor_log2(p))
    g = ceil_div(scaled.numerator, scaled.denominator)
    assert 2**127 <= g < 2**128
    return g, scaled == g


def smallest_residue(a, m, n):
    """min over 1 <= x <= n of (a x mod m), for coprime a, m and n < m (so
    never 0). Over x up to n the product a x wraps past multiples of m up to
    y = floor(a n / m) times; after its y-th wrap it first lands at
    a ceil(m y / a) - m y = (-m y) mod a. So the answer is a (no wrap, x = 1)
    or a - max over 1 <= y <= Y of (m y mod a): the same problem one step of
    Euclid's algorithm down."""
    y = a * n // m
    if y == 0:
        return a
    return min(a, a - largest_residue(m % a, a, y))


def largest_residue(a, m, n):
    """max over 1 <= x <= n of (a x mod m), same conditions. The largest value
    before the y-th wrap is m - 1 - ((m (y+1) - 1) mod a), which is
    m - (m z mod a) for z = y + 1 (never 0 here); after the last wrap the
    largest is at x = n."""
    y = a * n // m
    if y == 0:
        return a * n
    return max(a * n - m * y, m - smallest_residue(m % a, a, y))


def fraction_extremes(alpha, n):
    """(smallest nonzero, largest) fractional part of x * alpha over 1 <= x <= n,
    alpha a positive Fraction; a fractional part of 0 counts as neither."""
    num, den = alpha.numerator, alpha.denominator
    a = num % den
    if a == 0:
        return None, Fraction(0)
    if n >= den:  # x * a runs through every residue, 1 and den - 1 included
        return Fraction(1, den), Fraction(den - 1, den)
    return Fraction(smallest_residue(a, den, n), den), Fraction(largest_residue(a, den, n), den)


def check_residue_search():
    """The Euclid-style search against trying every x, on small numbers."""
    import random

    rng = random.Random(5)
    for _ in range(3000):
        m = rng.randrange(2, 400)
        a = rng.randrange(1, m)
        if math.gcd(a, m) != 1:
            continue
        n = rng.randrange(1, m)
        values = [a * x % m for x in range(1, n + 1)]
        assert smallest_residue(a, m, n) == min(values), (a, m, n)
        assert largest_residue(a, m, n) == max(values), (a, m, n)


def k_for(q, irregular):
    """The power of ten for binary exponent q, and its fast form."""
    if irregular:
        exact = floor_log10(Fraction(3, 4) * Fraction(2) ** q)
        fast = (q * LOG10_2_Q20 - LOG10_3_4_Q20) >> 20
    else:
        exact = floor_log10(Fraction(2) ** q)
        fast = (q * LOG10_2_Q20) >> 20
    assert exact == fast, (q, irregular, exact, fast)
    return exact


def check_products(q, k, table, xs=None):
    """The facts about P = X 2^q 10^-k listed at the top, for X in xs (or every
    X from 1 to X_MAX)."""
    e = -k
    g, exact = table[e]
    assert (e * LOG2_10_Q19) >> 19 == floor_log2(Fraction(10) ** e)
    h = q + ((e * LOG2_10_Q19) >> 19) + 1  # the shift of X in the C++ code
    assert 0 <= h and X_MAX << h < 2**64, (q, h)
    # 10^e = (g - err) 2^-b with b = 127 - floor(log2 10^e); the product
    # (X << h) g / 2^128 is then P + (X << h) err / 2^128.
    b = 127 - ((e * LOG2_10_Q19) >> 19)
    assert h == 128 - b + q
    err = Fraction(g) - Fraction(10) ** e * Fraction(2) ** b
    assert 0 <= err < 1 and (err == 0) == exact
    alpha = Fraction(2) ** q * Fraction(10) ** e
    worst_error = Fraction(X_MAX << h) * err / 2**128
    if xs is None:
        assert X_MAX * alpha < 2**64
        low, high = fraction_extremes(alpha, X_MAX)
    else:
        fracs = [x * alpha - (x * alpha).numerator // (x * alpha).denominator for x in xs]
        assert all(x * alpha < 2**64 for x in xs)
        nonzero = [f for f in fracs if f != 0]
        low, high = (min(nonzero), max(fracs)) if nonzero else (None, Fraction(0))
    assert worst_error < Fraction(1, 2**68)
    assert low is None or low >= Fraction(1, 2**68), (q, k, float(low))
    assert high + worst_error < 1, (q, k, float(1 - high))
    return low


def check_all(table):
    check_residue_search()
    closest = Fraction(1)
    for q in range(Q_MIN, Q_MAX + 1):
        low = check_products(q, k_for(q, False), table)
        if low is not None:
            closest = min(closest, low)
        # Significand 2^52 above the smallest normal exponent: the interval
        # reaches only a quarter unit down.
        if q > Q_MIN:
            c = 2**52
            check_products(q, k_for(q, True), table, [4 * c - 1, 4 * c, 4 * c + 2])
    return closest


def render(table):
    lines = [
        "// Generated by tools/gen_pow10_table.py: do not edit. To regenerate, run",
        "// python3 tools/gen_pow10_table.py (it also rechecks, with exact integer",
        "// arithmetic, the facts about these numbers that shortest_double.cpp relies on).",
        "//",
        "// kPow10Table[e - kPow10TableMin] is 10^e for e from -292 to 324 as a 128-bit",
        "// number g with 2^127 <= g < 2^128 and 10^e = g * 2^(floor(log2 10^e) - 127):",
        "// exact for e from 0 to 55, and rounded up (too large by less than 1) otherwise.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace quarvel::shortest_detail {",
        "",
        "struct Pow10Entry {",
        "    std::uint64_t high;",
        "    std::uint64_t low;",
        "};",
        "",
        f"inline constexpr int kPow10TableMin = {E_MIN};",
        f"inline constexpr int kPow10TableMax = {E_MAX};",
        "",
        "inline constexpr Pow10Entry kPow10Table[] = {",
    ]
    for e in range(E_MIN, E_MAX + 1):
        g, _ = table[e]
        lines.append(f"    {{0x{g >> 64:016x}, 0x{g & (2**64 - 1):016x}}},  // 1e{e}")
    lines += ["};", "", "}  // namespace quarvel::shortest_detail", ""]
    return "\n".join(lines)


def main():
    table = {e: pow10_entry(e) for e in range(E_MIN, E_MAX + 1)}
    closest = check_all(table)
    text = render(table)
    if "--check" in sys.argv[1:]:
        if HEADER.read_text() != text:
            print(f"{HEADER.relative_to(ROOT)} differs from what this script writes", file=sys.stderr)
            return 1
        print(f"{HEADER.relative_to(ROOT)} is up to date")
    else:
        HEADER.write_text(text)
        print(f"wrote {HEADER.relative_to(ROOT)}")
    print("checked every exponent: the smallest nonzero fractional part of a product is"
          f" 2^{math.log2(closest):.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
