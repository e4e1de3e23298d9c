// Hard limits on hostile input, shared by every stage that enforces them.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel {

// Levels of nesting the scanner, the composers and the encoder accept.
inline constexpr std::uint32_t kMaxDepth = 1000;

// What every stage says when input nests deeper than kMaxDepth.
inline std::string max_depth_message() {
    return "maximum nesting depth (" + std::to_string(kMaxDepth) + ") exceeded";
}

// Nodes that alias expansion may produce in one call of loads or loads_all.
inline constexpr std::uint64_t kMaxExpandedNodes = 10'000'000;

}  // namespace quarvel
