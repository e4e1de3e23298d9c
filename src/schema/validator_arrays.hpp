// The keywords on sequences: the item counts, prefixItems and items,
// contains with minContains and maxContains, and uniqueItems.
#pragma once

#include <algorithm>

#include "schema/node_equality.hpp"
#include "schema/validator.hpp"

namespace quarvel {

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_array(Node at, const SchemaRule& rule,
                                              const PathLink* path) {
    const std::uint32_t items = view_.count(at);
    const auto count = static_cast<double>(items);
    if (rule.min_items && count < *rule.min_items && !done())
        report(at, path, rule, "minItems",
               [&] { return "array has fewer than minItems " + number_text(*rule.min_items); });
    if (rule.max_items && count > *rule.max_items && !done())
        report(at, path, rule, "maxItems",
               [&] { return "array has more than maxItems " + number_text(*rule.max_items); });
    const auto prefix =
        static_cast<std::uint32_t>(std::min<std::size_t>(rule.prefix_items.size(), items));
    for (std::uint32_t i = 0; i < prefix && !done(); ++i) {
        const PathLink step{path, {}, i, false};
        check_child(view_.child(at, i), *rule.prefix_items[i], &step);
        if (evaluated_) evaluated_->items[i] = true;
    }
    if (rule.items) {
        for (std::uint32_t i = prefix; i < items && !done(); ++i) {
            const PathLink step{path, {}, i, false};
            check_child(view_.child(at, i), *rule.items, &step);
            if (evaluated_) evaluated_->items[i] = true;
        }
    }
    if (rule.contains && !done()) check_contains(at, rule, path);
    if (rule.unique_items && !done()) check_unique(at, rule, path);
}

// "1 item matches contains", "3 items match contains".
inline std::string matching(std::uint32_t n) {
    return std::to_string(n) + (n == 1 ? " item matches contains" : " items match contains");
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_contains(Node at, const SchemaRule& rule,
                                                 const PathLink* path) {
    const std::uint32_t items = view_.count(at);
    const double least = rule.min_contains.value_or(1);
    // Without a maximum or a record to mark, counting can stop at the least.
    const bool count_all = rule.max_contains || evaluated_;
    std::uint32_t matched = 0;
    for (std::uint32_t i = 0; i < items && !fault_; ++i) {
        if (!count_all && matched >= least) break;
        const PathLink step{path, {}, i, false};
        if (!child_passes(view_.child(at, i), *rule.contains, &step)) continue;
        ++matched;
        if (evaluated_) evaluated_->items[i] = true;
    }
    if (fault_) return;
    if (matched < least) {
        const bool plain = !rule.min_contains;
        report(at, path, rule, plain ? "contains" : "minContains", [&] {
            if (plain) return std::string("array has no item that matches contains");
            return matching(matched) + ", fewer than minContains " + number_text(least);
        });
    }
    if (rule.max_contains && matched > *rule.max_contains)
        report(at, path, rule, "maxContains", [&] {
            return matching(matched) + ", more than maxContains " + number_text(*rule.max_contains);
        });
}

// Items are sorted by a hash that equal items share; only neighbours with
// the same hash are compared, so a long array costs n log n, not n^2.
template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_unique(Node at, const SchemaRule& rule,
                                               const PathLink* path) {
    const std::uint32_t items = view_.count(at);
    if (items < 2) return;
    const NodeEquality<View> eq(view_);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> hashed;
    hashed.reserve(items);
    for (std::uint32_t i = 0; i < items; ++i) hashed.emplace_back(eq.hash(view_.child(at, i)), i);
    std::sort(hashed.begin(), hashed.end());
    // The first repeated item in document order, with the item it repeats:
    // within each group of one hash (in index order), the first item equal
    // to an earlier one.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> pair;
    for (std::size_t start = 0, end = 0; start < hashed.size(); start = end) {
        while (end < hashed.size() && hashed[end].first == hashed[start].first) ++end;
        bool found = false;
        for (std::size_t b = start + 1; b < end && !found; ++b) {
            const std::uint32_t j = hashed[b].second;
            if (pair && j >= pair->second) break;
            for (std::size_t a = start; a < b && !found; ++a) {
                const std::uint32_t i = hashed[a].second;
                if ((found = eq.equal(view_.child(at, i), view_.child(at, j)))) pair = {i, j};
            }
        }
    }
    if (pair)
        report(at, path, rule, "uniqueItems", [&] {
            return "array items " + std::to_string(pair->first) + " and " +
                   std::to_string(pair->second) + " are equal (uniqueItems)";
        });
}

}  // namespace quarvel
