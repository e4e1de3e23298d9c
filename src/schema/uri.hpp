// URI references as schemas use them to name each other: "$id" and "$ref"
// values resolved against a base URI, and the fragment that follows "#"
// (a JSON pointer or an anchor name).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// `reference` resolved against `base` by the rules of RFC 3986 (section 5.2):
// "item.json" against "https://x.org/a/b.json" gives "https://x.org/a/item.json",
// "#foo" keeps the base and sets the fragment. A base without a scheme (a
// schema without "$id" has the empty base) resolves the same way, so relative
// names stay relative to each other.
std::string resolve_uri(std::string_view base, std::string_view reference);

// The URI without its fragment, and the fragment (empty when there is none;
// "x#" and "x" name the same document).
struct SplitUri {
    std::string_view document;
    std::string_view fragment;
};
SplitUri split_fragment(std::string_view uri);

// %XX sequences decoded; a malformed one is kept as written.
std::string percent_decode(std::string_view text);

// The reference tokens of a JSON pointer ("/a~1b/0" gives "a/b", "0"), or
// none when the text is not a pointer (it must be empty or begin with "/").
std::optional<std::vector<std::string>> pointer_tokens(std::string_view pointer);

// A token written into a JSON pointer: "~" as "~0", "/" as "~1".
void append_pointer_token(std::string& out, std::string_view token);

}  // namespace quarvel
