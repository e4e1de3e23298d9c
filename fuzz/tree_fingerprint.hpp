// Everything an edit may change in a document's trees, written out as one
// string, so that a refused edit can be shown to have changed nothing.
#pragma once

#include <string>
#include <string_view>

#include "roundtrip/document_state.hpp"
#include "support/stack.hpp"

namespace quarvel::fuzz {

inline void fingerprint(const YamlNode& n, std::string& out) {
    out += static_cast<char>('0' + static_cast<int>(n.kind));
    out += n.text;
    out += '|';
    // Appended piece by piece: GCC 12 misjudges string concatenation at -O3.
    auto field = [&](char mark, std::string_view text) {
        out += mark;
        out += text;
    };
    if (n.anchor()) field('&', *n.anchor());
    if (n.tag()) field('!', *n.tag());
    if (n.comments.text) {
        if (n.comments.text->inline_text) field('#', *n.comments.text->inline_text);
        for (auto h : n.comments.text->head) field('^', h);
    }
    out += n.comments.modified ? 'M' : '-';
    out += '(';
    for (const YamlNode& c : n.children) ensure_stack([&] { fingerprint(c, out); });
    out += ')';
}

inline std::string fingerprint(const DocumentState& s) {
    std::string out;
    for (const YamlNode& r : s.roots()) fingerprint(r, out);
    return out;
}

}  // namespace quarvel::fuzz
