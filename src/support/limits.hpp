// Hard limits on hostile input, shared by every stage that enforces them.
#pragma once

#include <cstdint>

namespace quarvel {

// Levels of nesting the scanner, the composers and the encoder accept.
inline constexpr std::uint32_t kMaxDepth = 1000;

// Nodes that alias expansion may produce in one call of loads or loads_all.
inline constexpr std::uint64_t kMaxExpandedNodes = 10'000'000;

}  // namespace quarvel
