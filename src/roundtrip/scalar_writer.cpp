#include "roundtrip/scalar_writer.hpp"

#include "encode/scalar_style.hpp"

namespace quarvel::roundtrip {
namespace {

namespace ss = scalar_style;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_flow_indicator(char c) {
    return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}

// Characters that end a plain scalar or change what follows when they open
// one; '-', '?' and ':' are allowed first when a safe character follows.
bool opens_indicator(char c) {
    switch (c) {
        case ',':
        case '[':
        case ']':
        case '{':
        case '}':
        case '#':
        case '&':
        case '*':
        case '!':
        case '|':
        case '>':
        case '\'':
        case '"':
        case '%':
        case '@':
        case '`':
            return true;
        default:
            return false;
    }
}

bool is_document_marker(std::string_view text) {
    return text.size() >= 3 && (text.starts_with("---") || text.starts_with("...")) &&
           (text.size() == 3 || is_blank(text[3]));
}

bool first_fits_plain(std::string_view text, bool flow) {
    const char first = text.front();
    if (opens_indicator(first)) return false;
    if (first != '-' && first != '?' && first != ':') return true;
    if (text.size() == 1) return false;
    const char next = text[1];
    return !is_blank(next) && !(flow && is_flow_indicator(next));
}

// Index of the first non-empty line's first character, or npos.
std::size_t first_content(std::string_view body) {
    return body.find_first_not_of('\n');
}

}  // namespace

bool fits_plain(std::string_view text, ScalarPlace place) {
    if (text.empty() || is_blank(text.front()) || is_blank(text.back())) return false;
    const bool flow = place == ScalarPlace::Flow;
    if (!first_fits_plain(text, flow) || is_document_marker(text)) return false;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) return false;
        if (u >= 0xC2 && ss::awkward_at(text, i) != 0) return false;
        if (flow && is_flow_indicator(c)) return false;
        if (c == ':' &&
            (i + 1 == n || is_blank(text[i + 1]) || (flow && is_flow_indicator(text[i + 1]))))
            return false;
        if (c == '#' && i > 0 && is_blank(text[i - 1])) return false;
    }
    return true;
}

bool fits_single(std::string_view text) {
    // Line breaks fold inside single quotes and a key must stay on one line;
    // controls and awkward characters need escapes. Double quotes carry those.
    const ss::TextTraits traits = ss::scan_text(text);
    if (traits.odd_control) return false;
    if (traits.line_feed) return false;
    return true;
}

bool fits_block(std::string_view text) {
    const ss::TextTraits traits = ss::scan_text(text);
    return !traits.odd_control;
}

void write_double_quoted(std::string_view text, std::string& out) {
    out += '"';
    ss::append_double_escaped(text, out);
    out += '"';
}

void write_single_quoted(std::string_view text, std::string& out) {
    out += '\'';
    std::size_t run = 0;
    for (std::size_t i = text.find('\''); i != std::string_view::npos; i = text.find('\'', i + 1)) {
        out.append(text.substr(run, i + 1 - run));
        out += '\'';
        run = i + 1;
    }
    out.append(text.substr(run));
    out += '\'';
}

void write_block_scalar(std::string_view text, std::size_t indent, bool folded,
                        std::string_view comment, std::string& out) {
    std::size_t body_len = text.size();
    while (body_len > 0 && text[body_len - 1] == '\n') --body_len;
    const std::size_t trailing = text.size() - body_len;
    const std::string_view body = text.substr(0, body_len);

    out += folded ? '>' : '|';
    // Without an indicator the reader takes the indentation from the first
    // non-empty line, so a line beginning with a space would lose its spaces.
    const std::size_t first = first_content(body);
    if (first != std::string_view::npos && is_blank(body[first])) out += '2';
    if (body.empty()) {
        out += trailing == 0 ? "-" : "+";
    } else if (trailing == 0) {
        out += '-';
    } else if (trailing >= 2) {
        out += '+';
    }
    out += comment;
    out += '\n';

    // Folding turns one line break between two lines that do not begin with
    // a blank into a space, so each such break is written as an empty line.
    bool previous_folds = false;  // the last non-empty line does not begin with a blank
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view line = body.substr(start, end - start);
        if (!line.empty()) {
            const bool folds = !is_blank(line.front());
            if (folded && folds && previous_folds) out += '\n';
            previous_folds = folds;
            out.append(indent, ' ');
            out += line;
        }
        out += '\n';
        start = end + 1;
    }
    const std::size_t extra = body.empty() ? trailing : trailing - (trailing > 0 ? 1 : 0);
    out.append(extra, '\n');
}

}  // namespace quarvel::roundtrip
