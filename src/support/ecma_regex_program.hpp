// The second stage of the regular-expression engine: the syntax tree turned
// into a program for a small machine that the matchers in ecma_regex.cpp
// run. Counted repetition is written out copy by copy, so the program size
// is bounded (kMaxProgram) and a pattern that would exceed it is refused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/ecma_regex.hpp"
#include "support/ecma_regex_dfa.hpp"
#include "support/ecma_regex_syntax.hpp"
#include "support/error.hpp"

namespace quarvel::ecma_regex_detail {

inline constexpr std::size_t kMaxProgram = 100'000;

enum class Op : std::uint8_t {
    Char,          // the code point a
    Class,         // a code point of classes[a]
    Split,         // go on at a, and (as a second choice) at b
    Jump,          // go on at a
    Match,         // the whole pattern matched
    LineStart,     // at the start of the text
    LineEnd,       // at the end of the text
    WordBoundary,  // between a word character and something else
    NotWordBoundary,
    Save,           // register a := position (a capture boundary)
    ResetGroups,    // registers a .. b-1 := unset (a quantified group starts an iteration)
    LoopMark,       // register a := position (an iteration of a loop starts)
    LoopCheck,      // fail when register a is the position (the iteration matched nothing)
    BackReference,  // the text group a captured, again
    Look,           // the lookaround looks[a] holds here
    LookEnd,        // the end of a lookaround's body
};

struct Inst {
    Op op;
    bool backward = false;  // Char, Class, BackReference: read the text right to left
    std::uint32_t a = 0;
    std::uint32_t b = 0;
};

// A class as a bitmap for ASCII, where most text lies, and ranges for the rest.
struct Class {
    std::array<std::uint64_t, 2> ascii{};
    std::vector<CodeSet::Range> ranges;

    bool contains(char32_t c) const {
        if (c < 128) return (ascii[c >> 6] >> (c & 63)) & 1;
        std::size_t lo = 0, hi = ranges.size();
        while (lo < hi) {
            std::size_t mid = (lo + hi) / 2;
            if (ranges[mid].last < c) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo < ranges.size() && ranges[lo].first <= c;
    }
};

// A lookaround's body is compiled once, after the pattern's Match, whatever
// number of Look instructions name it (a counted repetition copies those).
struct LookInfo {
    std::uint32_t body = 0;  // first instruction of the body, which ends in LookEnd
    bool negated = false;
    bool backward = false;  // the body reads right to left
    // The capture registers the body may set, restored when the match
    // backtracks past the lookaround.
    std::uint32_t registers_begin = 0;
    std::uint32_t registers_end = 0;
};

}  // namespace quarvel::ecma_regex_detail

namespace quarvel::ecma_regex_detail {

// How a set-based matcher (the simulation, the automaton) treats an
// instruction at a position without reading: it moves on (its successors
// pushed on `pending`, the second choice of a Split first), it waits for the
// next code point, or it ends a match. `assertion` says whether an
// assertion or lookaround holds at the position, fails, or is left waiting
// (the automaton keeps "$" for the end of the text). Capture and loop
// registers decide nothing for these matchers: they are stepped over.
enum class Assertion : std::uint8_t { Holds, Fails, Waits };
enum class Step : std::uint8_t { Moved, Waits, Matches };

template <class AssertionAt>
Step step_without_reading(const Inst& in, std::uint32_t i, AssertionAt&& assertion,
                          std::vector<std::uint32_t>& pending) {
    switch (in.op) {
        case Op::Match:
        case Op::LookEnd:
            return Step::Matches;
        case Op::Jump:
            pending.push_back(in.a);
            return Step::Moved;
        case Op::Split:
            pending.push_back(in.b);
            pending.push_back(in.a);
            return Step::Moved;
        case Op::Char:
        case Op::Class:
        case Op::BackReference:
            return Step::Waits;
        case Op::LineStart:
        case Op::LineEnd:
        case Op::WordBoundary:
        case Op::NotWordBoundary:
        case Op::Look:
            switch (assertion(in)) {
                case Assertion::Holds:
                    pending.push_back(i + 1);
                    return Step::Moved;
                case Assertion::Fails:
                    return Step::Moved;
                case Assertion::Waits:
                    return Step::Waits;
            }
            return Step::Moved;
        case Op::Save:
        case Op::ResetGroups:
        case Op::LoopMark:
        case Op::LoopCheck:
            break;
    }
    pending.push_back(i + 1);
    return Step::Moved;
}

}  // namespace quarvel::ecma_regex_detail

namespace quarvel {

struct EcmaRegex::Program {
    std::vector<ecma_regex_detail::Inst> code;
    std::vector<ecma_regex_detail::Class> classes;
    std::vector<ecma_regex_detail::LookInfo> looks;
    std::uint32_t registers = 0;  // capture registers (two per group, from 2) and loop marks
    bool anchored = false;        // every match starts at the start of the text
    // Back references: the backtracking matcher runs the program, and reads
    // lookaround bodies in their own direction (lookahead left to right,
    // lookbehind right to left). Without them the simulation runs it, and
    // lookaround bodies are compiled the other way round: each is scanned
    // over the whole text once, from the far end, to tell at which positions
    // it holds (see ecma_regex.cpp).
    bool backtracking = false;
    // The automaton that answers searches of ASCII text, when the program
    // has one (see ecma_regex_dfa.hpp).
    std::optional<ecma_regex_detail::AsciiDfa> dfa;
};

namespace ecma_regex_detail {
Result<EcmaRegex::Program> compile_program(const Ast& ast);
// The automaton of `program`, or nothing when it has instructions an
// automaton cannot decide or would need too many states.
std::optional<AsciiDfa> build_ascii_dfa(const EcmaRegex::Program& program);
}  // namespace ecma_regex_detail

}  // namespace quarvel
