// Scalar scanning: plain, single-quoted, double-quoted and block scalars,
// with folding, escapes, chomping and the implicit-key decision of plain and
// quoted scalars.
#include <algorithm>
#include <cstdio>

#include "scanner/plain_run.hpp"
#include "scanner/scanner.hpp"
#include "support/utf8.hpp"

namespace quarvel::scan {

// Pushes Key, the scalar and Value for a scalar followed by a value
// indicator at the current position.
Status Scanner::push_scalar_key(const Mark& start, std::uint64_t end, std::string_view text,
                                ScalarStyle style, std::uint32_t end_column) {
    const bool flow = flow_level() > 0;
    if (!flow) {
        if (auto s =
                roll_indent(static_cast<int>(start.column), TokenKind::BlockMappingStart, start);
            !s) {
            return s;
        }
    }
    push(TokenKind::Key, start);
    push_text(TokenKind::Scalar, start, end, text, style, end_column);
    Mark vm = mark();
    advance_ascii();
    if (cur() == ' ') advance_ascii();
    push(TokenKind::Value, vm);
    if (flow) {
        simple_key_allowed_ = false;
        node_ended_in_flow_ = false;
        entry_seen_in_flow_ = true;
    } else {
        after_value_indicator_ = true;
        value_indicator_line_ = line_;
        simple_key_allowed_ = false;
        key_.possible = false;
    }
    return {};
}

// ---- plain scalars --------------------------------------------------------

// Scans the content of a plain scalar on the current line. On return
// [seg_begin, seg_end) is the content without trailing blanks and the
// position is past any trailing blanks. Returns true when an indicator ended
// the scalar, false at a line break or the end of the text. Only blanks
// lie between seg_end and the position.
bool Scanner::scan_plain_line(bool flow, std::size_t& seg_begin, std::size_t& seg_end) {
    const char* s = text_.data();
    const std::size_t n = text_.size();
    seg_begin = seg_end = pos_;
    for (;;) {
        const PlainRun run = plain_run(flow, s, pos_, n);
        if (run.end > pos_) {
            const std::size_t bytes = run.end - pos_;
            col_ += run.ascii ? static_cast<std::uint32_t>(bytes) : count_chars(s + pos_, bytes);
            pos_ = run.end;
            seg_end = run.end;
        }
        const int c = cur();
        if (c == kEnd || is_break(c)) return false;
        if (c == ':') {
            if (colon_is_value(pos_, flow)) return true;
            advance_ascii();
            seg_end = pos_;
            continue;
        }
        if (!is_blank(c)) return true;  // a flow indicator
        while (is_blank(cur())) advance_ascii();
        const int d = cur();
        if (d == kEnd || is_break(d)) return false;
        if (d == '#') return true;
    }
}

// Whether the line the scanner has just moved to (past its leading blanks)
// ends the plain scalar instead of continuing it.
bool Scanner::plain_continuation_ends(bool flow) const {
    const int c = cur();
    if (c == kEnd || c == '#') return true;
    if (!flow && static_cast<int>(col_) <= indent_) return true;
    if (at_document_marker()) return true;
    if ((c == ':' || c == '?') && is_blank_or_break_or_end(next())) return true;
    return flow && (c == '[' || c == '{');
}

Status Scanner::fetch_plain() {
    const bool flow = flow_level() > 0;
    const bool key_allowed = simple_key_allowed_ && !(flow && explicit_key_in_flow_);
    const Mark start = mark();

    std::size_t b = 0, e = 0;
    bool stopped = scan_plain_line(flow, b, e);
    // The blanks after the scalar take one column each.
    std::uint32_t end_column = col_ - static_cast<std::uint32_t>(pos_ - e);
    std::string_view text = text_.substr(b, e - b);
    std::uint64_t end = e;
    bool buffered = false;
    bool crossed_break = false;
    while (!stopped && !at_end()) {
        consume_break();
        crossed_break = true;
        std::uint32_t empty_lines = 0;
        for (;;) {
            if (auto s = skip_line_indentation(); !s) return s;
            if (!is_break(cur())) break;
            ++empty_lines;
            consume_break();
        }
        if (plain_continuation_ends(flow)) break;
        std::size_t lb = 0, le = 0;
        stopped = scan_plain_line(flow, lb, le);
        if (le == lb) break;
        end_column = 0;  // ends on a later line
        if (!buffered) {
            buf_.assign(text);
            buffered = true;
        }
        if (empty_lines == 0) {
            buf_ += ' ';
        } else {
            buf_.append(empty_lines, '\n');
        }
        buf_.append(text_.substr(lb, le - lb));
        end = le;
    }
    if (crossed_break) {
        drop_stale_simple_key();
        marker_on_line_ = false;
    }
    if (buffered) text = arena_.store(buf_);

    const bool colon = colon_is_value(pos_, flow);
    const bool later_line = line_ != start.line;
    if (key_allowed && colon) {
        bool is_key = true;
        if (!flow && later_line) {
            // A ':' left of the scalar's start belongs to an outer level.
            if (col_ >= start.column)
                return error("an implicit mapping key cannot span multiple lines", start);
            is_key = false;
        } else if (flow && later_line && innermost_flow_is_sequence()) {
            return error("the implicit key of a flow sequence pair must be on one line", mark());
        }
        if (is_key) return push_scalar_key(start, end, text, ScalarStyle::Plain, end_column);
    }
    if (flow && !explicit_key_in_flow_ && later_line && colon) {
        return error("missing ',' between flow collection entries", mark());
    }
    push_text(TokenKind::Scalar, start, end, text, ScalarStyle::Plain, end_column);
    if (flow) {
        last_flow_node_end_line_ = start.line;
        node_ended_in_flow_ = true;
        entry_seen_in_flow_ = true;
    }
    simple_key_allowed_ = !flow && crossed_break;
    return {};
}

// ---- quoted scalars -------------------------------------------------------

// Handles a line break inside a quoted scalar: a plain break folds (trailing
// blanks before it are dropped, except ones written as escapes), an escaped
// break joins the lines. Each continuation line is checked for document
// markers and, in block context, for sufficient indentation.
Status Scanner::fold_quoted_break(bool escaped, std::size_t& keep_len) {
    if (!escaped) {
        std::size_t k = buf_.size();
        while (k > keep_len && is_blank(buf_[k - 1])) --k;
        buf_.resize(k);
    }
    consume_break();
    std::uint32_t empty_lines = 0;
    for (;;) {
        if (at_document_marker())
            return error("a document marker cannot appear inside a quoted scalar", mark());
        if (auto s = skip_line_indentation(); !s) return s;
        if (!is_break(cur())) break;
        ++empty_lines;
        consume_break();
    }
    if (flow_level() == 0 && !at_end() && static_cast<int>(col_) <= indent_) {
        return error("a multi-line quoted scalar must be indented past its block context", mark());
    }
    if (empty_lines > 0) {
        buf_.append(empty_lines, '\n');
    } else if (!escaped) {
        buf_ += ' ';
    }
    if (escaped) keep_len = buf_.size();
    return {};
}

// JSON writes a character beyond U+FFFF as two escapes, a high surrogate and
// a low one ("\ud83d\udca9"); the pair is one character. A high surrogate
// not directly followed by a low one stays as it is, and is refused.
std::uint32_t Scanner::join_low_surrogate(std::uint32_t high) {
    const std::string_view next = text_.substr(pos_, 6);
    if (next.size() < 6 || next[0] != '\\' || next[1] != 'u') return high;
    std::uint32_t low = 0;
    for (char d : next.substr(2)) {
        if (!is_hex_digit(static_cast<unsigned char>(d))) return high;
        low = low * 16 + static_cast<std::uint32_t>(hex_value(static_cast<unsigned char>(d)));
    }
    if (low < 0xDC00 || low > 0xDFFF) return high;
    advance_ascii(6);
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

Status Scanner::scan_escape(std::size_t& keep_len) {
    const Mark backslash = mark();
    advance_ascii();
    const int c = cur();
    if (c == kEnd) return error("unterminated escape sequence", mark());
    if (is_break(c)) return fold_quoted_break(true, keep_len);

    std::uint32_t cp = 0;
    int digits = 0;
    switch (c) {
        case '0':
            cp = 0;
            break;
        case 'a':
            cp = 0x07;
            break;
        case 'b':
            cp = 0x08;
            break;
        case 't':
            cp = 0x09;
            break;
        case 'n':
            cp = 0x0A;
            break;
        case 'v':
            cp = 0x0B;
            break;
        case 'f':
            cp = 0x0C;
            break;
        case 'r':
            cp = 0x0D;
            break;
        case 'e':
            cp = 0x1B;
            break;
        case ' ':
            cp = ' ';
            break;
        case '"':
            cp = '"';
            break;
        case '/':
            cp = '/';
            break;
        case '\\':
            cp = '\\';
            break;
        case 'N':
            cp = 0x85;
            break;
        case '_':
            cp = 0xA0;
            break;
        case 'L':
            cp = 0x2028;
            break;
        case 'P':
            cp = 0x2029;
            break;
        case 'x':
            digits = 2;
            break;
        case 'u':
            digits = 4;
            break;
        case 'U':
            digits = 8;
            break;
        default: {
            std::string_view ch =
                text_.substr(pos_, utf8::sequence_length(static_cast<unsigned char>(c)));
            return error("unknown escape character: '\\" + std::string(ch) + "'", mark());
        }
    }
    advance_ascii();
    for (int k = 0; k < digits; ++k) {
        const int d = cur();
        if (d == kEnd) return error("incomplete unicode escape", mark());
        if (!is_hex_digit(d)) {
            std::string_view ch =
                text_.substr(pos_, utf8::sequence_length(static_cast<unsigned char>(d)));
            return error("invalid hex digit in unicode escape: '" + std::string(ch) + "'", mark());
        }
        cp = cp * 16 + static_cast<std::uint32_t>(hex_value(d));
        advance_ascii();
    }
    if (digits == 4 && cp >= 0xD800 && cp <= 0xDBFF) cp = join_low_surrogate(cp);
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(cp));
        return error(std::string("invalid unicode code point: U+") + hex, backslash);
    }
    utf8::append(buf_, static_cast<char32_t>(cp));
    keep_len = buf_.size();
    return {};
}

Status Scanner::fetch_quoted(bool double_quoted) {
    const bool flow = flow_level() > 0;
    const bool key_allowed = simple_key_allowed_ && !(flow && explicit_key_in_flow_);
    const Mark start = mark();
    quote_open_ = start;
    const auto& stop = double_quoted ? kDoubleQuotedStop : kSingleQuotedStop;
    const char* s = text_.data();
    const std::size_t n = text_.size();

    advance_ascii();
    const std::size_t content_begin = pos_;
    std::size_t run_begin = pos_;  // start of the source run not yet copied into buf_
    bool buffered = false;         // false while the text is still a view of the source
    std::size_t keep_len = 0;      // blanks up to here came from escapes and survive folding
    auto flush = [&] {
        if (!buffered) {
            buf_.clear();
            buffered = true;
        }
        buf_.append(s + run_begin, pos_ - run_begin);
    };

    for (;;) {
        std::size_t i = pos_;
        std::uint32_t col = col_;
        while (i < n && !stop[static_cast<unsigned char>(s[i])]) {
            col += starts_char(static_cast<unsigned char>(s[i]));
            ++i;
        }
        pos_ = i;
        col_ = col;
        const int c = cur();
        if (c == kEnd) {
            return error(double_quoted ? "unterminated double-quoted scalar"
                                       : "unterminated single-quoted scalar",
                         mark());
        }
        if (!double_quoted && c == '\'') {
            if (next() != '\'') break;
            advance_ascii();  // keep one quote of the pair
            flush();
            advance_ascii();
        } else if (double_quoted && c == '"') {
            break;
        } else if (c == '\\') {
            flush();
            if (auto st = scan_escape(keep_len); !st) return st;
        } else {
            flush();
            if (auto st = fold_quoted_break(false, keep_len); !st) return st;
        }
        run_begin = pos_;
    }

    std::string_view text;
    if (buffered) {
        flush();
        text = arena_.store(buf_);
    } else {
        text = text_.substr(content_begin, pos_ - content_begin);
    }
    accept_quoted_unprintable(content_begin, pos_);
    advance_ascii();  // the closing quote
    quote_open_.reset();
    return finish_quoted(start, text,
                         double_quoted ? ScalarStyle::DoubleQuoted : ScalarStyle::SingleQuoted,
                         key_allowed);
}

Status Scanner::finish_quoted(const Mark& start, std::string_view text, ScalarStyle style,
                              bool key_allowed) {
    const bool flow = flow_level() > 0;
    const std::uint32_t end_column = line_ == start.line ? col_ : 0;  // past the closing quote
    std::size_t i = pos_;
    while (is_blank(at(i))) ++i;
    if (key_allowed && colon_is_value(i, flow)) {
        const bool multiline = line_ != start.line;
        if (!flow && multiline)
            return error("an implicit mapping key cannot span multiple lines", start);
        if (flow && multiline && innermost_flow_is_sequence()) {
            return error("the implicit key of a flow sequence pair must be on one line",
                         mark_ahead(i));
        }
        const std::uint64_t end = pos_;
        advance_ascii(i - pos_);
        return push_scalar_key(start, end, text, style, end_column);
    }
    if (!flow) {
        const int d = at(i);
        if (!(d == kEnd || is_break(d) || d == '#' || d == ',' || d == ':')) {
            return error("unexpected content after quoted scalar", mark_ahead(i));
        }
    }
    push_text(TokenKind::Scalar, start, pos_, text, style, end_column);
    if (flow) {
        last_flow_node_end_line_ = line_;
        node_ended_in_flow_ = true;
        entry_seen_in_flow_ = true;
        adjacent_value_allowed_ = true;
    }
    simple_key_allowed_ = false;
    return {};
}

// ---- block scalars --------------------------------------------------------

// Reads the chomping and indentation indicators and an optional comment up
// to (not including) the line break. The comment is part of the scalar's
// source text (it lies before the scalar's end), so it is not recorded as a
// comment of its own: a consumer that keeps the source of block scalars
// keeps it, and no consumer sees it twice.
Status Scanner::scan_block_header(int& chomp, int& digit) {
    // At most one of each indicator, right after '|' or '>'.
    bool blank_seen = false;
    for (;;) {
        const int c = cur();
        if ((c == '-' || c == '+') && chomp == 0 && !blank_seen) {
            chomp = c == '-' ? -1 : 1;
            advance_ascii();
        } else if (c >= '1' && c <= '9' && digit == 0 && !blank_seen) {
            digit = c - '0';
            advance_ascii();
        } else if (is_blank(c)) {
            blank_seen = true;
            advance_ascii();
        } else if (c == '#') {
            if (!is_blank(text_[pos_ - 1]))
                return error("a comment must be preceded by whitespace", mark());
            skip_to_line_end();
            return {};
        } else if (c == kEnd || is_break(c)) {
            return {};
        } else {
            return error("unexpected content after block scalar indicator", mark());
        }
    }
}

// Finds the content indentation from the first non-empty line, looking ahead
// without moving. Leading lines of spaces only may not be wider than it.
Status Scanner::detect_block_indent(int& content_indent) {
    std::size_t i = pos_;
    std::uint32_t line = line_;
    int widest = 0;
    std::size_t widest_start = 0;
    std::uint32_t widest_line = 0;
    int first_content = -1;
    for (;;) {
        const std::size_t line_start = i;
        while (at(i) == ' ') ++i;
        const int spaces = static_cast<int>(i - line_start);
        const int d = at(i);
        if (!(is_break(d) || d == kEnd)) {
            first_content = spaces;
            break;
        }
        if (spaces > widest) {
            widest = spaces;
            widest_start = line_start;
            widest_line = line;
        }
        if (d == kEnd) break;
        i += (d == '\r' && at(i + 1) == '\n') ? 2 : 1;
        ++line;
    }
    if (first_content > indent_) {
        if (widest > first_content) {
            return error("a leading empty line in a block scalar is indented more than the content",
                         Mark{widest_start + static_cast<std::size_t>(first_content), file_,
                              widest_line, static_cast<std::uint32_t>(first_content)});
        }
        content_indent = first_content;
    } else {
        // No content belongs to the scalar: its lines of spaces are all empty.
        content_indent = std::max({indent_ + 1, widest, 0});
    }
    return {};
}

Status Scanner::fetch_block_scalar(bool literal) {
    const Mark start = mark();
    advance_ascii();
    int chomp = 0;  // -1 strip, 0 clip, +1 keep
    int digit = 0;
    if (auto s = scan_block_header(chomp, digit); !s) return s;
    if (is_break(cur())) consume_break();

    int content_indent = 0;
    if (digit > 0) {
        content_indent = indent_ == -1 ? digit : indent_ + digit;
    } else if (auto s = detect_block_indent(content_indent); !s) {
        return s;
    }

    std::string& out = buf_;
    out.clear();
    const char* s = text_.data();
    const std::size_t n = text_.size();
    std::uint32_t pending_breaks = 0;  // empty lines since the last content line
    bool have_content = false;
    bool last_line_had_break = false;
    bool previous_more_indented = false;
    for (;;) {
        while (static_cast<int>(col_) < content_indent && cur() == ' ') advance_ascii();
        const int c = cur();
        if (c == kEnd) {
            // A last line of spaces without a break is still an empty line.
            if (col_ > 0 && line_ != start.line) ++pending_breaks;
            break;
        }
        if (is_break(c)) {
            ++pending_breaks;
            consume_break();
            continue;
        }
        if (static_cast<int>(col_) < content_indent || at_document_marker()) break;

        const bool more_indented = is_blank(c);
        if (!have_content) {
            out.append(pending_breaks, '\n');
        } else if (literal || more_indented || previous_more_indented) {
            out.append(pending_breaks + 1, '\n');
        } else if (pending_breaks == 0) {
            out += ' ';
        } else {
            out.append(pending_breaks, '\n');
        }
        pending_breaks = 0;

        const std::size_t line_begin = pos_;
        std::size_t i = pos_;
        while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
        out.append(s + line_begin, i - line_begin);
        have_content = true;
        previous_more_indented = more_indented;
        if (i == n) {
            advance_to(i);
            last_line_had_break = false;
            break;
        }
        pos_ = i;
        consume_break();
        last_line_had_break = true;
    }

    // Clip keeps the last content line's break, so it adds none when the
    // input ends on that line: "a: |\n  x" is "x", as keep reads it too.
    if (chomp == 0 && have_content && last_line_had_break) {
        out += '\n';
    } else if (chomp == 1) {
        if (have_content && last_line_had_break) out += '\n';
        out.append(pending_breaks, '\n');
    }

    push_text(TokenKind::Scalar, start, pos_, arena_.store(out),
              literal ? ScalarStyle::Literal : ScalarStyle::Folded);
    simple_key_allowed_ = true;
    key_.possible = false;
    if (line_ != start.line) marker_on_line_ = false;
    return {};
}

}  // namespace quarvel::scan
