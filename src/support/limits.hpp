// Hard limits on hostile input, shared by every stage that enforces them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// Levels of nesting the scanner, the composers and the encoder accept.
inline constexpr std::uint32_t kMaxDepth = 1000;

// What every stage says when input nests deeper than kMaxDepth.
inline std::string max_depth_message() {
    return "maximum nesting depth (" + std::to_string(kMaxDepth) + ") exceeded";
}

// Nodes that alias expansion may produce in one call of loads or loads_all.
inline constexpr std::uint64_t kMaxExpandedNodes = 10'000'000;

// What every path that expands aliases reports past kMaxExpandedNodes.
inline constexpr std::string_view kAliasBombMessage =
    "document expands to too many nodes (possible alias bomb)";

}  // namespace quarvel
