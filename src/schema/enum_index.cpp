#include "schema/enum_index.hpp"

#include "schema/data_equality.hpp"

namespace quarvel {
namespace {

bool is_scalar(const YamlValue& s) {
    return !s.is_collection() && s.kind != ValueKind::Tagged;
}

}  // namespace

bool scalars_equal(const DataValue& d, const YamlValue& s) {
    return data_equal(d, data_of(s));
}

EnumIndex::EnumIndex(const YamlValue& values) {
    for (const YamlValue& item : values.children()) {
        if (is_scalar(item)) {
            scalars_.emplace(data_hash(data_of(item)), &item);
        } else {
            others_.push_back(&item);
        }
    }
}

bool EnumIndex::has_scalar(const DataValue& v) const {
    if (v.kind == ValueKind::Sequence || v.kind == ValueKind::Mapping) return false;
    const std::uint64_t h = data_hash(v);
    auto [first, last] = scalars_.equal_range(h);
    for (auto it = first; it != last; ++it)
        if (scalars_equal(v, *it->second)) return true;
    return false;
}

}  // namespace quarvel
