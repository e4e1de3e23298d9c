// Prints the token stream of a YAML file (or the scanner's error), one token
// per line: kind, line:column (1-based), byte range, style and text.
//   scan_tokens FILE [--comments] [--quiet]
// --quiet prints only the error, if any, and sets the exit status.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/token_stream.hpp"

namespace {

const char* kind_name(quarvel::TokenKind k) {
    using K = quarvel::TokenKind;
    switch (k) {
        case K::StreamStart:
            return "StreamStart";
        case K::StreamEnd:
            return "StreamEnd";
        case K::DocumentStart:
            return "DocumentStart";
        case K::DocumentEnd:
            return "DocumentEnd";
        case K::Directive:
            return "Directive";
        case K::BlockMappingStart:
            return "BlockMappingStart";
        case K::BlockSequenceStart:
            return "BlockSequenceStart";
        case K::BlockEnd:
            return "BlockEnd";
        case K::BlockEntry:
            return "BlockEntry";
        case K::FlowMappingStart:
            return "FlowMappingStart";
        case K::FlowMappingEnd:
            return "FlowMappingEnd";
        case K::FlowSequenceStart:
            return "FlowSequenceStart";
        case K::FlowSequenceEnd:
            return "FlowSequenceEnd";
        case K::FlowEntry:
            return "FlowEntry";
        case K::Key:
            return "Key";
        case K::Value:
            return "Value";
        case K::Anchor:
            return "Anchor";
        case K::Alias:
            return "Alias";
        case K::Tag:
            return "Tag";
        case K::Scalar:
            return "Scalar";
    }
    return "?";
}

const char* style_name(quarvel::ScalarStyle s) {
    using S = quarvel::ScalarStyle;
    switch (s) {
        case S::Plain:
            return "plain";
        case S::SingleQuoted:
            return "single";
        case S::DoubleQuoted:
            return "double";
        case S::Literal:
            return "literal";
        case S::Folded:
            return "folded";
    }
    return "?";
}

std::string escape(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            out += b;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: scan_tokens FILE [--comments] [--quiet]\n";
        return 2;
    }
    bool comments = false, quiet = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--comments") comments = true;
        if (a == "--quiet") quiet = true;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 2;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    quarvel::TokenStream stream(text, 0, comments);
    std::ostringstream out;
    for (std::size_t i = 0;; ++i) {
        const quarvel::Token& t = stream.at(i);
        if (stream.error()) break;
        out << kind_name(t.kind) << " " << t.mark.line + 1 << ":" << t.mark.column + 1 << " ["
            << t.mark.offset << "," << t.end_offset << ")";
        if (t.kind == quarvel::TokenKind::Scalar) out << " " << style_name(t.style);
        if (!t.text.empty() || t.kind == quarvel::TokenKind::Scalar)
            out << " '" << escape(t.text) << "'";
        out << "\n";
        if (t.kind == quarvel::TokenKind::StreamEnd) break;
        stream.release_before(i + 1);
    }
    if (const auto& e = stream.error()) {
        std::cout << "ERROR: " << e->message << " at line " << e->line + 1 << ", column "
                  << e->column + 1 << "\n";
        return 1;
    }
    if (quiet) return 0;
    std::cout << out.str();
    std::vector<quarvel::Comment> found;
    stream.take_comments(found);
    for (const auto& c : found) {
        std::cout << "Comment " << c.line + 1 << ":" << c.column + 1 << " @" << c.offset << " '"
                  << escape(c.text) << "'\n";
    }
    if (stream.leading_bom()) std::cout << "(leading byte order mark)\n";
    return 0;
}
