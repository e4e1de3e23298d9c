// A keyed string hash for every table keyed by document text: anchors, tag
// handles, duplicate and merge key sets, and the key-string cache of the
// conversion. The key is chosen once per process, so input crafted to collide
// in one process does not collide in another and a mapping with many distinct
// keys stays linear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quarvel {

// SipHash-1-3 of the bytes under the process key.
std::uint64_t seeded_hash(std::string_view bytes) noexcept;

// A much cheaper keyed hash, for tables that cap how far they probe and fall
// back to working without the table past the cap: crafted collisions then
// cost a bounded amount per lookup, however good or bad this hash is.
std::uint64_t quick_seeded_hash(std::string_view bytes) noexcept;

struct SeededHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return seeded_hash(s); }
    std::size_t operator()(const std::string& s) const noexcept { return seeded_hash(s); }
};

template <class V>
using SeededMap = std::unordered_map<std::string_view, V, SeededHash, std::equal_to<>>;

using SeededStringSet = std::unordered_set<std::string, SeededHash, std::equal_to<>>;

}  // namespace quarvel
