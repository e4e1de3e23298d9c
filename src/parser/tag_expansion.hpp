// %TAG handles of one document and the expansion of tag tokens.
#pragma once

#include <string_view>

#include "support/arena.hpp"
#include "support/core_tag.hpp"
#include "support/seeded_hash.hpp"

namespace quarvel {

// Tags the resolver consumes: the core namespace, and "!!" forms that were not
// expanded through a %TAG directive. Everything else wraps its node as Tagged.
inline bool is_resolver_tag(std::string_view tag) {
    return tag.starts_with(kCoreTagPrefix) || tag.starts_with("!!");
}

class TagHandles {
  public:
    // False when the handle is already defined for this document.
    bool define(std::string_view handle, std::string_view prefix);
    void clear();

    enum class Outcome { Ok, UndefinedHandle };
    struct Expansion {
        Outcome outcome = Outcome::Ok;
        std::string_view tag;     // the expanded tag
        std::string_view handle;  // the undefined handle
    };

    // Expands the text of a tag token. Views into `text` are returned where
    // nothing changes; joined prefixes are stored in `arena`.
    Expansion expand(std::string_view text, Arena& arena);

  private:
    std::string_view join(std::string_view raw, std::string_view prefix, std::string_view suffix,
                          Arena& arena);

    SeededMap<std::string_view> handles_;
    SeededMap<std::string_view> joined_;  // raw tag text -> expansion, for repeated tags
};

}  // namespace quarvel
