#include "roundtrip/edit_text.hpp"

#include <cstdio>
#include <string>

#include "scanner/printable.hpp"

namespace quarvel {
namespace {

// "U+000A", with what the character is when its code alone says little.
std::string shown_character(char32_t c, bool line_break) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    if (line_break) return std::string("a line break (") + code + ")";
    if (c == ' ') return std::string("a space (") + code + ")";
    if (c == '\t') return std::string("a tab (") + code + ")";
    if (c > 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "' (" + code + ")";
    return code;
}

EditStatus refuse(std::string_view what, char32_t c, bool line_break) {
    return edit_fault(EditFaultKind::Value,
                      std::string(what) + " cannot hold " + shown_character(c, line_break));
}

// Characters that end an anchor name when it is read back.
bool ends_anchor_name(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case ',':
        case '[':
        case ']':
        case '{':
        case '}':
            return true;
        default:
            return false;
    }
}

}  // namespace

EditStatus check_comment_line(std::string_view text) {
    if (auto bad = scan::first_off_line(text))
        return refuse("comment", bad->code_point, bad->line_break);
    return {};
}

EditStatus check_anchor_name(std::string_view name) {
    if (name.empty()) return edit_fault(EditFaultKind::Value, "anchor name cannot be empty");
    if (auto bad = scan::first_off_line(name))
        return refuse("anchor name", bad->code_point, bad->line_break);
    for (char c : name)
        if (ends_anchor_name(c)) return refuse("anchor name", static_cast<unsigned char>(c), false);
    return {};
}

}  // namespace quarvel
