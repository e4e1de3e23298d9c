// Equality of a document's scalar with a schema value (enum, const), and an
// index that finds a scalar among the items of a long enum list without
// comparing it with each of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "schema/data_views.hpp"
#include "value/value.hpp"

namespace quarvel {

// An Int equals a Float of the same value (the integer taken as a double);
// otherwise values of one kind compare by content (big integers by their
// decimal digits, whatever base the data wrote them in).
bool scalars_equal(const DataValue& d, const YamlValue& s);

class EnumIndex {
  public:
    // Below this many items a scan is as quick.
    static constexpr std::size_t kWorthwhile = 16;

    explicit EnumIndex(const YamlValue& values);

    // Whether a scalar item equals `v` (the same answer as scalars_equal
    // against each item).
    bool has_scalar(const DataValue& v) const;

    // The items that are collections or tagged, which no scalar equals.
    const std::vector<const YamlValue*>& others() const { return others_; }

  private:
    std::unordered_multimap<std::uint64_t, const YamlValue*> scalars_;
    std::vector<const YamlValue*> others_;
};

}  // namespace quarvel
