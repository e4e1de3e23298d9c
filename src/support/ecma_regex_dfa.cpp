#include "support/ecma_regex_dfa.hpp"

#include <algorithm>
#include <map>
#include <tuple>

#include "support/ecma_regex_program.hpp"

namespace quarvel::ecma_regex_detail {
namespace {

// More states than this, a longer program, or more steps to build, and the
// pattern keeps the simulation: the table stays small (at most 330 KiB per
// pattern) and building it stays quick.
constexpr std::size_t kMaxStates = 512;
constexpr std::size_t kMaxProgramForDfa = 4096;
constexpr std::size_t kMaxBuildSteps = 4'000'000;

bool reads(const EcmaRegex::Program& p, const Inst& in, unsigned char byte) {
    if (in.op == Op::Char) return in.a == byte;
    return in.op == Op::Class && p.classes[in.a].contains(byte);
}

// Whether every instruction is one an automaton decides alike at every
// position of an ASCII text, given only whether it is the start or the end.
bool decidable(const EcmaRegex::Program& p) {
    if (p.backtracking || !p.looks.empty() || p.code.size() > kMaxProgramForDfa) return false;
    for (const Inst& in : p.code) {
        switch (in.op) {
            case Op::WordBoundary:
            case Op::NotWordBoundary:
            case Op::BackReference:
            case Op::Look:
            case Op::LookEnd:
                return false;
            case Op::Char:
            case Op::Class:
                if (in.backward) return false;
                break;
            default:
                break;
        }
    }
    return true;
}

// A state: the instructions waiting to read a byte or for the end of the
// text ("$"), in order, and whether Match was reached on the way.
struct StateSet {
    std::vector<std::uint32_t> waiting;
    bool matched = false;

    bool operator<(const StateSet& o) const {
        return std::tie(matched, waiting) < std::tie(o.matched, o.waiting);
    }
};

class Builder {
  public:
    explicit Builder(const EcmaRegex::Program& p) : p_(p), seen_(p.code.size(), 0) {}

    std::optional<AsciiDfa> run() {
        columns();
        StateSet first;
        follow(first, {0}, /*at_start=*/true);
        dfa_.empty_text_matches = first.matched || reaches_match_at_end(first, true);
        const auto start = state_of(std::move(first));
        if (!start) return std::nullopt;
        dfa_.start = *start;
        // Breadth first: each new state gets its row when its turn comes.
        for (std::size_t s = 0; s < sets_.size(); ++s) {
            for (std::uint32_t col = 0; col < dfa_.columns; ++col) {
                StateSet after = step(sets_[s], representative_[col]);
                const auto to = state_of(std::move(after));
                if (!to) return std::nullopt;
                dfa_.next[s * dfa_.columns + col] = *to;
            }
        }
        dfa_.finish();
        return std::move(dfa_);
    }

  private:
    const EcmaRegex::Program& p_;
    AsciiDfa dfa_;
    std::vector<unsigned char> representative_;  // a byte of each column
    std::vector<StateSet> sets_;
    std::map<StateSet, std::uint16_t> index_;
    std::vector<std::uint32_t> seen_;  // generation marks, one per instruction
    std::uint32_t generation_ = 0;
    std::size_t steps_ = 0;  // instructions visited while building

    // Bytes go to one column when every reading instruction treats them
    // alike.
    void columns() {
        std::vector<std::uint32_t> readers;
        for (std::uint32_t i = 0; i < p_.code.size(); ++i)
            if (p_.code[i].op == Op::Char || p_.code[i].op == Op::Class) readers.push_back(i);
        std::map<std::vector<bool>, std::uint8_t> by_signature;
        for (unsigned byte = 0; byte < 128; ++byte) {
            std::vector<bool> signature(readers.size());
            for (std::size_t k = 0; k < readers.size(); ++k)
                signature[k] = reads(p_, p_.code[readers[k]], static_cast<unsigned char>(byte));
            auto [it, added] = by_signature.emplace(std::move(signature),
                                                    static_cast<std::uint8_t>(by_signature.size()));
            if (added) representative_.push_back(static_cast<unsigned char>(byte));
            dfa_.column[byte] = it->second;
        }
        dfa_.columns = static_cast<std::uint32_t>(by_signature.size());
    }

    // Follows every step that reads nothing from `from`, as the simulation
    // does at a position that is the start of the text or not (and never
    // its end: "$" instructions wait in the set).
    void follow(StateSet& out, std::vector<std::uint32_t> from, bool at_start) {
        ++generation_;
        std::vector<std::uint32_t> pending(from.rbegin(), from.rend());
        while (!pending.empty()) {
            const std::uint32_t i = pending.back();
            pending.pop_back();
            ++steps_;
            if (seen_[i] == generation_) continue;
            seen_[i] = generation_;
            // Only "^" and "$" get here (decidable() refused the others).
            auto assertion = [&](const Inst& in) {
                if (in.op == Op::LineEnd) return Assertion::Waits;
                return at_start ? Assertion::Holds : Assertion::Fails;
            };
            switch (step_without_reading(p_.code[i], i, assertion, pending)) {
                case Step::Matches:
                    out.matched = true;
                    break;
                case Step::Waits:
                    out.waiting.push_back(i);
                    break;
                case Step::Moved:
                    break;
            }
        }
        std::sort(out.waiting.begin(), out.waiting.end());
    }

    // Whether, with the text ending here, the waiting "$" instructions lead
    // to Match.
    bool reaches_match_at_end(const StateSet& s, bool at_start) {
        std::vector<std::uint32_t> after_end;
        for (std::uint32_t i : s.waiting)
            if (p_.code[i].op == Op::LineEnd) after_end.push_back(i + 1);
        if (after_end.empty()) return false;
        // Past "$" at the end, another "$" holds too, and nothing can be read.
        for (;;) {
            StateSet next;
            follow(next, after_end, at_start);
            if (next.matched) return true;
            std::vector<std::uint32_t> more;
            for (std::uint32_t i : next.waiting)
                if (p_.code[i].op == Op::LineEnd &&
                    std::find(after_end.begin(), after_end.end(), i + 1) == after_end.end())
                    more.push_back(i + 1);
            if (more.empty()) return false;
            after_end.insert(after_end.end(), more.begin(), more.end());
        }
    }

    // The state after reading `byte` in `from`: the instructions that read
    // it move on, and an unanchored search starts afresh there too.
    StateSet step(const StateSet& from, unsigned char byte) {
        std::vector<std::uint32_t> moved;
        for (std::uint32_t i : from.waiting)
            if (reads(p_, p_.code[i], byte)) moved.push_back(i + 1);
        if (!p_.anchored) moved.push_back(0);
        StateSet out;
        follow(out, std::move(moved), /*at_start=*/false);
        return out;
    }

    std::optional<std::uint16_t> state_of(StateSet&& s) {
        if (auto it = index_.find(s); it != index_.end()) return it->second;
        if (sets_.size() >= kMaxStates || steps_ > kMaxBuildSteps) return std::nullopt;
        const auto id = static_cast<std::uint16_t>(sets_.size());
        dfa_.match_here.push_back(s.matched ? 1 : 0);
        dfa_.match_at_end.push_back(s.matched || reaches_match_at_end(s, false) ? 1 : 0);
        dfa_.next.resize((sets_.size() + 1) * dfa_.columns, AsciiDfa::kNoState);
        index_.emplace(s, id);
        sets_.push_back(std::move(s));
        return id;
    }
};

}  // namespace

std::optional<bool> AsciiDfa::search(std::string_view text) const {
    if (text.empty()) return empty_text_matches;
    std::uint32_t row = start_row_;
    if (row >= first_stop_row_) return true;  // only a Match state stops at the start
    for (unsigned char c : text) {
        row = rows_[row + byte_column_[c]];
        if (row >= first_stop_row_) [[unlikely]] {
            if (row == beyond_ascii_row_) return std::nullopt;
            return true;
        }
    }
    return matches_at_end_[row] != 0;
}

void AsciiDfa::finish() {
    const std::size_t states = match_here.size();
    const std::uint32_t width = columns + 1;
    // The new number of each state: those that go on first, then Match.
    std::vector<std::uint32_t> number(states);
    std::uint32_t counted = 0;
    for (int stops = 0; stops < 2; ++stops)
        for (std::size_t s = 0; s < states; ++s)
            if ((match_here[s] != 0) == (stops == 1)) number[s] = counted++;
    const std::uint32_t beyond = counted;  // one more state, after them all
    rows_.assign(static_cast<std::size_t>(beyond + 1) * width, beyond * width);
    matches_at_end_.assign(rows_.size(), 0);
    for (std::size_t s = 0; s < states; ++s) {
        const std::uint32_t row = number[s] * width;
        for (std::uint32_t col = 0; col < columns; ++col)
            rows_[row + col] = number[next[s * columns + col]] * width;
        matches_at_end_[row] = match_at_end[s];
    }
    for (unsigned byte = 0; byte < 256; ++byte)
        byte_column_[byte] = byte < 128 ? column[byte] : static_cast<std::uint8_t>(columns);
    start_row_ = number[start] * width;
    std::uint32_t first_stop = beyond;
    for (std::size_t s = 0; s < states; ++s)
        if (match_here[s]) first_stop = std::min(first_stop, number[s]);
    first_stop_row_ = first_stop * width;
    beyond_ascii_row_ = beyond * width;
    // The building tables are done with.
    next = {};
    match_here = {};
    match_at_end = {};
}

std::optional<AsciiDfa> build_ascii_dfa(const EcmaRegex::Program& program) {
    if (!decidable(program)) return std::nullopt;
    return Builder(program).run();
}

}  // namespace quarvel::ecma_regex_detail
