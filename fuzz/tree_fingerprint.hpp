// Everything an edit may change in a document's trees, written out as one
// string, so that a refused edit can be shown to have changed nothing.
#pragma once

#include <string>
#include <string_view>

#include "roundtrip/document_state.hpp"
#include "support/stack.hpp"

namespace quarvel::fuzz {

// With `places`, also where each node is (file, position, end) and the
// directive that produced it: what a directive walk decides.
inline void fingerprint(const YamlNode& n, std::string& out, bool places = false) {
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
    if (places) {
        for (std::uint64_t v :
             {std::uint64_t{n.span.file_id}, std::uint64_t{n.span.line},
              std::uint64_t{n.span.column}, std::uint64_t{n.span.offset}, std::uint64_t{n.end_line},
              std::uint64_t{n.end_column}, std::uint64_t{n.end_offset}})
            field('@', std::to_string(v));
        if (const IncludeSource* s = n.source()) {
            field('<', s->tag);
            field('>', s->target);
            if (s->target_file_id) field('=', std::to_string(*s->target_file_id));
            for (const MergedFile& m : s->merged)
                field('+', std::to_string(m.file_id) + "/" + std::to_string(m.first) + "/" +
                               std::to_string(m.count));
        }
    }
    out += '(';
    for (const YamlNode& c : n.children) ensure_stack([&] { fingerprint(c, out, places); });
    out += ')';
}

inline std::string fingerprint(const DocumentState& s) {
    std::string out;
    for (const YamlNode& r : s.roots()) fingerprint(r, out);
    return out;
}

}  // namespace quarvel::fuzz
