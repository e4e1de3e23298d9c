#include "parser/tag_expansion.hpp"

#include <string>

namespace quarvel {

bool TagHandles::define(std::string_view handle, std::string_view prefix) {
    return handles_.emplace(handle, prefix).second;
}

void TagHandles::clear() {
    handles_.clear();
    joined_.clear();
}

std::string_view TagHandles::join(std::string_view raw, std::string_view prefix,
                                  std::string_view suffix, Arena& arena) {
    if (auto it = joined_.find(raw); it != joined_.end()) return it->second;
    std::string buf;
    buf.reserve(prefix.size() + suffix.size());
    buf.append(prefix).append(suffix);
    std::string_view stored = arena.store(buf);
    joined_.emplace(raw, stored);
    return stored;
}

TagHandles::Expansion TagHandles::expand(std::string_view text, Arena& arena) {
    Expansion out;
    if (text.starts_with("!<")) {
        // Verbatim tags are kept as written, except that a verbatim standard
        // tag means that tag: !<tag:yaml.org,2002:int> 7 is the integer 7.
        std::string_view inner = text.substr(2, text.size() >= 3 ? text.size() - 3 : 0);
        out.tag = inner.starts_with(kCoreTagPrefix) && text.ends_with('>') ? inner : text;
        return out;
    }
    if (text.starts_with("!!")) {
        auto it = handles_.find(std::string_view("!!"));
        // Without a %TAG for "!!" the short form stays: the resolver reads
        // "!!int" like "tag:yaml.org,2002:int", and no text has to be built.
        out.tag = it == handles_.end() ? text : join(text, it->second, text.substr(2), arena);
        return out;
    }
    std::size_t second = text.size() > 1 ? text.find('!', 1) : std::string_view::npos;
    if (second != std::string_view::npos) {
        std::string_view handle = text.substr(0, second + 1);
        auto it = handles_.find(handle);
        if (it == handles_.end()) {
            out.outcome = Outcome::UndefinedHandle;
            out.handle = handle;
            return out;
        }
        out.tag = join(text, it->second, text.substr(second + 1), arena);
        return out;
    }
    auto it = handles_.find(std::string_view("!"));
    out.tag = it == handles_.end() ? text : join(text, it->second, text.substr(1), arena);
    return out;
}

}  // namespace quarvel
