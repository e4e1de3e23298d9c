// Searching text with a compiled regular expression.
//
// A pattern goes through three stages: ecma_regex_syntax.cpp parses it into
// a tree (every class already a set of code points), ecma_regex_program.cpp
// writes the tree out as a program of a few instruction kinds, and this file
// runs the program over the text, by code point. Only "is there a match
// anywhere?" is asked, so no matcher here records where a match is.
//
// Two matchers run programs.
//
// The simulation (Pike's method) answers for every pattern without back
// references. It walks the text once, left to right, keeping the set of
// instructions that some way of matching could be at, each at most once. At
// each code point every Char or Class instruction in the set either reads
// it, and its successor joins the next position's set, or drops out; Split
// and Jump are followed at once when an instruction joins a set, and
// assertions (^, $, \b) are checked there, against the text around the
// position. Since a search may start anywhere, the first instruction joins
// the set at every position. The work per code point is at most the
// program's size, so a search costs O(text x program) time and O(program)
// memory, whatever the text: no pattern can be made to backtrack
// exponentially. For a(b|c)*d, compiled as
//
//   0 Char a   1 Split 2, 6   2 Split 3, 4   3 Char b  (then 5)
//   4 Char c   5 Jump 1       6 Char d       7 Match
//
// a search of "xabcd" has the set {0} before 'x' and before the first 'a';
// reading 'a' moves 0 on to 1, which follows its branches to {1, 2, 3, 4, 6}
// (5 only by a Jump later); the reading instructions among them are 3, 4
// and 6. 'b' keeps only 3, whose successor 5 jumps to 1 and again gives
// {3, 4, 6} (plus 0, the search starting afresh); 'c' the same through 4;
// 'd' moves 6 on to 7, Match, and the answer is yes. An instruction already
// in a set is not added twice, which is what bounds the work and what stops
// loops whose body matches nothing.
//
// Lookaround stays linear too. Before the main walk, each lookaround body
// is run once over the whole text from the far end, starting afresh at
// every position: a lookahead's body, compiled right to left, from the end
// of the text to its start, a lookbehind's, compiled left to right, from the
// start. Wherever the body's end is reached, the body matches from (or up
// to) that position, and a bit per position records it. The main walk then
// treats the lookaround as one more assertion: the bit at the position,
// flipped for (?! and (?<!. Nested lookarounds are scanned first, inner
// before outer, so a body's scan reads the bits of those inside it. For
// (?=\d)\w on "a1", the body \d scanned from the right reaches its end
// only at position 1, before the '1'; the walk then reads \w only there.
//
// Back references are not regular: what one reads depends on how the text
// was matched before it, which a set of instructions does not record.
// Patterns with them run on a backtracking matcher that tries one way at a
// time, with an explicit stack of the choices still open and of the
// registers to restore when it goes back, so neither the pattern nor the
// text can make it recurse (it recurses once per nested lookaround, which
// the parser's nesting bound caps, on a fresh stack segment when the stack
// runs low). Its time can grow exponentially with the text, so each search
// may take at most kStepLimit steps and fails with an error past that
// instead of answering late.
//
// The text is UTF-8; a byte that does not begin a well-formed sequence reads
// as U+FFFD, so malformed text is searched, never trusted.
#include "support/ecma_regex.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/ecma_regex_program.hpp"
#include "support/ecma_regex_syntax.hpp"
#include "support/ecma_regex_text.hpp"
#include "support/stack.hpp"

namespace quarvel {

namespace {

using namespace ecma_regex_detail;

constexpr std::uint64_t kStepLimit = 1'000'000;
// The most memory the lookaround tables of one search may take: 32 MiB.
constexpr std::uint64_t kMaxLookBits = std::uint64_t{256} << 20;

// What an assertion needs to know about a position.
struct Around {
    bool start;
    bool end;
    bool word_before;
    bool word_after;
};

bool assertion_holds(Op op, const Around& at) {
    switch (op) {
        case Op::LineStart:
            return at.start;
        case Op::LineEnd:
            return at.end;
        case Op::WordBoundary:
            return at.word_before != at.word_after;
        case Op::NotWordBoundary:
            return at.word_before == at.word_after;
        default:
            return true;
    }
}

// A set of instruction numbers below a fixed bound with constant-time insert,
// membership and clear, listing its members in insertion order.
// A set of instruction numbers with constant-time insert, lookup and
// clear, over storage that is never cleared (a stale entry fails the
// cross-check), so a search neither allocates nor zeroes it.
class SparseSet {
  public:
    SparseSet(std::vector<std::uint32_t>& dense, std::vector<std::uint32_t>& sparse,
              std::size_t capacity) {
        if (dense.size() < capacity) dense.resize(capacity);
        if (sparse.size() < capacity) sparse.resize(capacity);
        dense_ = dense.data();
        sparse_ = sparse.data();
    }
    bool contains(std::uint32_t v) const {
        std::uint32_t i = sparse_[v];
        return i < size_ && dense_[i] == v;
    }
    void insert(std::uint32_t v) {
        sparse_[v] = size_;
        dense_[size_++] = v;
    }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    std::uint32_t size() const { return size_; }
    std::uint32_t operator[](std::uint32_t i) const { return dense_[i]; }
    void swap(SparseSet& other) noexcept {
        std::swap(dense_, other.dense_);
        std::swap(sparse_, other.sparse_);
        std::swap(size_, other.size_);
    }

  private:
    std::uint32_t* dense_;
    std::uint32_t* sparse_;
    std::uint32_t size_ = 0;
};

// Storage a thread's searches share, one search at a time: schema
// validation searches many short strings, where allocating the sets anew
// would cost more than the search.
struct SearchScratch {
    std::vector<std::uint32_t> dense[2], sparse[2], pending;
};
thread_local SearchScratch t_scratch;

// What is around a position of the text.
Around around(std::string_view text, std::size_t pos) {
    char32_t before = 0, after = 0;
    const bool has_before = pos > 0 && (decode_before(text, pos, before), true);
    const bool has_after = pos < text.size() && (decode_at(text, pos, after), true);
    return {pos == 0, pos == text.size(), has_before && is_word_char(before),
            has_after && is_word_char(after)};
}

class Simulation {
  public:
    Simulation(const EcmaRegex::Program& p, std::string_view text)
        : p_(p),
          text_(text),
          current_(t_scratch.dense[0], t_scratch.sparse[0], p.code.size()),
          next_(t_scratch.dense[1], t_scratch.sparse[1], p.code.size()),
          pending_(t_scratch.pending) {}

    Result<bool> search() {
        const std::uint64_t positions = text_.size() + 1;
        if (p_.looks.size() * positions > kMaxLookBits)
            return fail(Error::argument("regular expression search would need too much memory: " +
                                        std::to_string(p_.looks.size()) +
                                        " lookarounds over a text of " +
                                        std::to_string(text_.size()) + " bytes"));
        // Innermost first: a body's scan reads the tables of the lookarounds
        // nested in it, which have larger indices.
        tables_.resize(p_.looks.size());
        for (std::size_t k = p_.looks.size(); k-- > 0;) {
            tables_[k].assign((positions + 63) / 64, 0);
            scan(p_.looks[k].body, p_.looks[k].backward, false, &tables_[k]);
        }
        return scan(0, false, p_.anchored, nullptr);
    }

  private:
    const EcmaRegex::Program& p_;
    std::string_view text_;
    SparseSet current_;
    SparseSet next_;
    std::vector<std::uint32_t>& pending_;
    // Per lookaround, a bit per position: whether its body matches there
    // (starting there for a lookahead, ending there for a lookbehind).
    std::vector<std::vector<std::uint64_t>> tables_;

    static bool bit(const std::vector<std::uint64_t>& bits, std::size_t i) {
        return (bits[i >> 6] >> (i & 63)) & 1;
    }

    // Runs the program from `start` over the text, starting afresh at every
    // position (or only at the first when anchored), left to right or right
    // to left. Without `found` it stops at the first position where the end
    // (Match or LookEnd) is reached and says whether there was one; with it,
    // it goes through the whole text and sets the bit of every such position.
    bool scan(std::uint32_t start, bool backward, bool anchored,
              std::vector<std::uint64_t>* found) {
        const std::size_t n = text_.size();
        const std::size_t first = backward ? n : 0;
        std::size_t pos = first;
        current_.clear();
        for (;;) {
            if ((pos == first || !anchored) && add(current_, start, pos, found)) return true;
            if (pos == (backward ? 0 : n) || (current_.empty() && anchored)) return false;
            char32_t c = 0;
            const std::size_t len =
                backward ? decode_before(text_, pos, c) : decode_at(text_, pos, c);
            const std::size_t then = backward ? pos - len : pos + len;
            next_.clear();
            for (std::uint32_t i = 0; i < current_.size(); ++i) {
                const std::uint32_t pc = current_[i];
                const Inst& in = p_.code[pc];
                const bool reads = (in.op == Op::Char && in.a == c) ||
                                   (in.op == Op::Class && p_.classes[in.a].contains(c));
                if (reads && add(next_, pc + 1, then, found)) return true;
            }
            current_.swap(next_);
            pos = then;
        }
    }

    // Adds pc and every instruction it reaches without reading at position
    // pos; true when that reaches the end and the scan stops there.
    bool add(SparseSet& set, std::uint32_t pc, std::size_t pos, std::vector<std::uint64_t>* found) {
        pending_.clear();
        pending_.push_back(pc);
        while (!pending_.empty()) {
            const std::uint32_t i = pending_.back();
            pending_.pop_back();
            if (set.contains(i)) continue;
            set.insert(i);
            // What is around the position is looked at only for an assertion.
            auto assertion = [&](const Inst& in) {
                const bool holds = in.op == Op::Look
                                       ? bit(tables_[in.a], pos) != p_.looks[in.a].negated
                                       : assertion_holds(in.op, around(text_, pos));
                return holds ? Assertion::Holds : Assertion::Fails;
            };
            if (step_without_reading(p_.code[i], i, assertion, pending_) != Step::Matches) continue;
            if (!found) return true;
            (*found)[pos >> 6] |= std::uint64_t{1} << (pos & 63);
        }
        return false;
    }
};

constexpr std::size_t kUnset = SIZE_MAX;

class Backtracker {
  public:
    Backtracker(const EcmaRegex::Program& p, std::string_view text)
        : p_(p), text_(text), registers_(p.registers, kUnset) {}

    Result<bool> search() {
        for (std::size_t start = 0;;) {
            if (run(0, start, 0)) return true;
            if (out_of_stack_) return fail(stack_exhausted_error());
            if (out_of_steps_)
                return fail(
                    Error::argument("regular expression search exceeded its step limit (" +
                                    std::to_string(kStepLimit) +
                                    " steps): the pattern backtracks too much on this text"));
            if (p_.anchored || start >= text_.size()) return false;
            char32_t c = 0;
            start += decode_at(text_, start, c);
        }
    }

  private:
    enum class Kind : std::uint8_t { Branch, Restore, RestoreSnapshot };
    // Branch: go on at pc_or_register and position `value`. Restore: put
    // `value` back in register pc_or_register. RestoreSnapshot: put the
    // snapshot at offset `value` back in the registers from pc_or_register.
    struct Entry {
        Kind kind;
        std::uint32_t pc_or_register;
        std::size_t value;
    };

    const EcmaRegex::Program& p_;
    std::string_view text_;
    std::vector<std::size_t> registers_;
    std::vector<Entry> stack_;
    std::vector<std::size_t> snapshots_;  // saved register ranges, in stack order
    std::uint64_t steps_ = 0;
    bool out_of_steps_ = false;  // or out of stack: the search stops either way
    bool out_of_stack_ = false;

    bool word_before(std::size_t pos) const {
        char32_t c = 0;
        return pos > 0 && (decode_before(text_, pos, c), is_word_char(c));
    }
    bool word_after(std::size_t pos) const {
        char32_t c = 0;
        return pos < text_.size() && (decode_at(text_, pos, c), is_word_char(c));
    }

    // Reads one code point matching `in` at pos (before pos when backward),
    // moving pos past it; false when there is none or it does not match.
    bool read(const Inst& in, std::size_t& pos) const {
        char32_t c = 0;
        std::size_t len;
        if (in.backward) {
            if (pos == 0) return false;
            len = decode_before(text_, pos, c);
        } else {
            if (pos >= text_.size()) return false;
            len = decode_at(text_, pos, c);
        }
        const bool ok = in.op == Op::Char ? c == in.a : p_.classes[in.a].contains(c);
        if (!ok) return false;
        pos = in.backward ? pos - len : pos + len;
        return true;
    }

    bool back_reference(const Inst& in, std::size_t& pos) const {
        const std::size_t from = registers_[2 * in.a], to = registers_[2 * in.a + 1];
        if (from == kUnset || to == kUnset || to < from)
            return true;  // an unset group matches empty
        const std::string_view captured = text_.substr(from, to - from);
        const std::size_t len = captured.size();
        if (in.backward) {
            if (pos < len || text_.substr(pos - len, len) != captured) return false;
            pos -= len;
        } else {
            if (text_.size() - pos < len || text_.substr(pos, len) != captured) return false;
            pos += len;
        }
        return true;
    }

    void set_register(std::uint32_t r, std::size_t v) {
        stack_.push_back({Kind::Restore, r, registers_[r]});
        registers_[r] = v;
    }

    // Whether the lookaround's body matches at pos; registers it sets stay set
    // (with an entry to undo them) only when the lookaround succeeds and is
    // not negated.
    bool lookaround(const LookInfo& look, std::size_t pos, int depth) {
        const std::size_t snapshot = snapshots_.size();
        const std::uint32_t lo = look.registers_begin, hi = look.registers_end;
        snapshots_.insert(snapshots_.end(), registers_.begin() + lo, registers_.begin() + hi);
        const bool matched = ensure_stack([&] { return run(look.body, pos, depth + 1); });
        if (stack_exhausted()) out_of_stack_ = out_of_steps_ = true;
        if (out_of_steps_) return false;
        const bool holds = matched != look.negated;
        if (matched && holds && hi > lo) {
            stack_.push_back({Kind::RestoreSnapshot, lo, snapshot});
        } else {
            if (matched)
                std::copy(snapshots_.begin() + snapshot, snapshots_.end(), registers_.begin() + lo);
            snapshots_.resize(snapshot);
        }
        return holds;
    }

    // Runs from pc at pos until Match (at depth 0) or LookEnd (inside a
    // lookaround body) is reached, trying every choice; false when no way
    // matches or the step limit is reached (out_of_steps_ tells which). The
    // stack and registers are as they were when it returns false, and when it
    // returns true inside a lookaround the body's choices are dropped (a
    // lookaround is not backtracked into).
    bool run(std::uint32_t pc, std::size_t pos, int depth) {
        const std::size_t base = stack_.size();
        const std::size_t snapshot_base = snapshots_.size();
        for (;;) {
            bool ok = true;
            if (++steps_ > kStepLimit) {
                out_of_steps_ = true;
                return false;
            }
            {
                const Inst& in = p_.code[pc];
                switch (in.op) {
                    case Op::Char:
                    case Op::Class:
                        ok = read(in, pos);
                        ++pc;
                        break;
                    case Op::Split:
                        stack_.push_back({Kind::Branch, in.b, pos});
                        pc = in.a;
                        break;
                    case Op::Jump:
                        pc = in.a;
                        break;
                    case Op::Match:
                        return true;
                    case Op::LookEnd:
                        stack_.resize(base);
                        snapshots_.resize(snapshot_base);
                        return true;
                    case Op::LineStart:
                    case Op::LineEnd:
                    case Op::WordBoundary:
                    case Op::NotWordBoundary:
                        ok = assertion_holds(in.op, {pos == 0, pos == text_.size(),
                                                     word_before(pos), word_after(pos)});
                        ++pc;
                        break;
                    case Op::Save:
                    case Op::LoopMark:
                        set_register(in.a, pos);
                        ++pc;
                        break;
                    case Op::ResetGroups:
                        for (std::uint32_t r = in.a; r < in.b; ++r)
                            if (registers_[r] != kUnset) set_register(r, kUnset);
                        ++pc;
                        break;
                    case Op::LoopCheck:
                        ok = registers_[in.a] != pos;
                        ++pc;
                        break;
                    case Op::BackReference:
                        ok = back_reference(in, pos);
                        ++pc;
                        break;
                    case Op::Look:
                        ok = lookaround(p_.looks[in.a], pos, depth);
                        if (out_of_steps_) return false;
                        ++pc;
                        break;
                }
            }
            if (ok) continue;
            // Go back to the latest open choice, undoing register writes on the way.
            for (;;) {
                if (stack_.size() == base) return false;
                const Entry e = stack_.back();
                stack_.pop_back();
                if (e.kind == Kind::Restore) {
                    registers_[e.pc_or_register] = e.value;
                } else if (e.kind == Kind::RestoreSnapshot) {
                    std::copy(snapshots_.begin() + e.value, snapshots_.end(),
                              registers_.begin() + e.pc_or_register);
                    snapshots_.resize(e.value);
                } else {
                    pc = e.pc_or_register;
                    pos = e.value;
                    break;
                }
            }
        }
    }
};

}  // namespace

Result<EcmaRegex> EcmaRegex::compile(std::string_view pattern) {
    auto ast = parse_pattern(pattern);
    if (!ast) return fail(std::move(ast.error()));
    auto program = compile_program(*ast);
    if (!program) return fail(std::move(program.error()));
    program->dfa = build_ascii_dfa(*program);
    return EcmaRegex(std::make_shared<const Program>(std::move(*program)));
}

std::optional<bool> EcmaRegex::search_ascii(std::string_view text) const {
    if (!program_ || !program_->dfa) return std::nullopt;
    return program_->dfa->search(text);
}

Result<bool> EcmaRegex::search(std::string_view text) const {
    if (!program_) return fail(Error::internal("search with an empty regular expression"));
    if (const std::optional<bool> found = search_ascii(text)) return *found;
    if (program_->backtracking) return Backtracker(*program_, text).search();
    return Simulation(*program_, text).search();
}

}  // namespace quarvel
