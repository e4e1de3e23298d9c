// A deterministic automaton for the common case of the regular-expression
// engine: a program without lookarounds, word boundaries or back references,
// searched over ASCII text. Schema patterns such as ^[a-z][a-z0-9-]*$ are
// searched over short ASCII strings by the hundred thousand; the simulation
// in ecma_regex.cpp steps a set of threads per character, this automaton
// takes one table lookup.
//
// Each state is the set of instructions the simulation would hold at a
// position (after following every step that reads nothing), so a search
// reaches exactly the verdict the simulation reaches:
// - a state knows whether Match is among the steps followed to it;
// - "$" holds only at the end of the text, so a state keeps the "$"
//   instructions it reached and knows whether Match lies past them;
// - "^" holds only at the start, which only the start state sees.
// The simulation does not look at capture and loop registers to decide
// whether there is a match, and neither does this automaton.
//
// The states are built when the pattern is compiled, up to a bound; a
// pattern that needs more keeps the simulation.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quarvel::ecma_regex_detail {

struct AsciiDfa {
    static constexpr std::uint16_t kNoState = 0xFFFF;

    // ASCII bytes that no instruction tells apart share a column.
    std::array<std::uint8_t, 128> column{};
    std::uint32_t columns = 0;
    // next[state * columns + column]: the state after reading the byte.
    std::vector<std::uint16_t> next;
    // Per state: Match is reached here; Match is reached if the text ends
    // here.
    std::vector<std::uint8_t> match_here;
    std::vector<std::uint8_t> match_at_end;
    std::uint16_t start = 0;
    // The empty text: the start state where "^" and "$" both hold.
    bool empty_text_matches = false;

    // The verdict for an ASCII text, or nothing when the text holds a byte
    // beyond ASCII (the caller searches it the general way).
    std::optional<bool> search(std::string_view text) const;

    // Lays the table out for search(), once the states are built.
    void finish();

  private:
    // The table search() reads: every byte has a column (those beyond
    // ASCII one of their own, which leads to a state that ends the search
    // undecided), and a state is the offset of its row, so a step is one
    // load. States that end the search (Match reached, or a byte beyond
    // ASCII read) are numbered last: one comparison per byte tells whether
    // to stop.
    std::array<std::uint8_t, 256> byte_column_{};
    std::vector<std::uint32_t> rows_;
    std::vector<std::uint8_t> matches_at_end_;  // by row offset
    std::uint32_t start_row_ = 0;
    std::uint32_t first_stop_row_ = 0;
    std::uint32_t beyond_ascii_row_ = 0;
};

}  // namespace quarvel::ecma_regex_detail
