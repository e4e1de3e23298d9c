// Deleting and inserting mapping entries and sequence items. Each edit runs
// all its checks before the first change and changes nothing when refused.
// A removed entry takes its own comments with it (they live on its nodes);
// the container is marked modified so that the document is written again.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "roundtrip/document_state.hpp"
#include "roundtrip/edits.hpp"
#include "roundtrip/node_path.hpp"

namespace quarvel {

// The sequence item or mapping entries `step` names in the container: an
// index below the length, or every entry whose scalar key has the text, with
// those of the same key written otherwise (a duplicated key goes with all
// its entries, so that the key is gone).
// Refused as Python refuses: IndexError, KeyError (the key), TypeError.
EditStatus check_removal(const YamlNode& container, const PathStep& step, ResolverMode mode);

// del container[step], where the container is at `path`. Refused when an
// alias elsewhere refers to an anchor inside what goes.
EditStatus remove_item(DocumentState& doc, const NodePath& path, const PathStep& step);

// Inserts `items` into the sequence at `path` before position `at`
// (clamped to the length, as list.insert does).
EditStatus insert_items(DocumentState& doc, const NodePath& path, std::size_t at, NodeList items);

// Inserts the entry key: value into the mapping at `path` at entry position
// `at` (clamped). Refused with ValueError when an entry has that key.
EditStatus insert_entry(DocumentState& doc, const NodePath& path, std::size_t at,
                        std::string_view key, YamlNode value);

// The position list.insert(at, x) uses for a possibly negative `at`.
std::size_t insert_position(std::int64_t at, std::size_t size);

}  // namespace quarvel
