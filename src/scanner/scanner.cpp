// Scanner core: character access, whitespace and comments, indentation,
// simple keys, flow levels and the indicator tokens. Scalars are scanned in
// scalars.cpp.
#include "scanner/scanner.hpp"

#include <algorithm>
#include <cstdio>

#include "support/unicode_space.hpp"
#include "support/utf8.hpp"

namespace quarvel::scan {

Scanner::Scanner(std::string_view text, bool keep_comments, std::uint32_t file)
    : text_(text), file_(file), keep_comments_(keep_comments) {
    if (text_.starts_with("\xEF\xBB\xBF")) {
        bom_ = true;
        pos_ = 3;
    }
    bad_ = next_unprintable(text_, pos_);
}

Status Scanner::step() {
    Status st = fetch_next();
    if (st && bad_.offset < pos_) return unprintable_error();
    return st;
}

// ---- character access -----------------------------------------------------

void Scanner::advance_char() {
    pos_ += utf8::sequence_length(static_cast<unsigned char>(text_[pos_]));
    ++col_;
}

void Scanner::advance_to(std::size_t to) {
    for (std::size_t i = pos_; i < to; ++i)
        col_ += starts_char(static_cast<unsigned char>(text_[i]));
    pos_ = to;
}

void Scanner::skip_to_line_end() {
    std::size_t i = pos_;
    const std::size_t n = text_.size();
    while (i < n && text_[i] != '\n' && text_[i] != '\r') ++i;
    // The column only matters when no break follows (a break resets it).
    if (i == n) {
        advance_to(i);
    } else {
        pos_ = i;
    }
}

void Scanner::consume_break() {
    if (text_[pos_] == '\r' && at(pos_ + 1) == '\n') ++pos_;
    ++pos_;
    ++line_;
    col_ = 0;
}

Status Scanner::error(std::string_view message, const Mark& m) const {
    // A control character before the fault is the first thing wrong with the
    // text, and often its cause.
    if (bad_.offset < text_.size() && bad_.offset <= m.offset && !bad_.allowed_quoted)
        return unprintable_error();
    error_mark_ = m;
    Error e = syntax_error(std::string(message), m);
    if (quote_open_ && quote_open_->line < m.line) {
        // A quote left open takes in the lines after it.
        const char quote = text_[quote_open_->offset];
        e.notes.push_back({std::string("the quoted scalar"),
                           std::string("starts here; is its closing ") + quote + " missing?",
                           quote_open_->line, quote_open_->column});
    } else if (!flow_open_offsets_.empty()) {
        note_open_bracket(e, m, pos_ >= text_.size());
    }
    return fail(std::move(e));
}

void Scanner::note_open_bracket(Error& e, const Mark& at, bool at_end) const {
    const std::size_t open = flow_open_offsets_.back();
    const Mark opened = mark_at(open);
    if (!at_end && opened.line >= at.line) return;
    const char bracket = text_[open];
    const char closer = bracket == '[' ? ']' : '}';
    std::string remark = at_end ? std::string("is never closed")
                                : std::string("is still open; is a '") + closer + "' missing?";
    e.notes.push_back(
        {std::string("the '") + bracket + "'", std::move(remark), opened.line, opened.column});
}

Mark Scanner::mark_at(std::size_t offset) const {
    Mark m{offset, file_, 0, 0};
    for (std::size_t i = bom_ ? 3 : 0; i < offset; ++i) {
        const char c = text_[i];
        if (c == '\n' || (c == '\r' && at(i + 1) != '\n')) {
            ++m.line;
            m.column = 0;
        } else if (c != '\r') {
            m.column += starts_char(static_cast<unsigned char>(c));
        }
    }
    return m;
}

Status Scanner::unprintable_error() const {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(bad_.code_point));
    error_mark_ = mark_at(bad_.offset);
    return fail(syntax_error(std::string("invalid character U+") + hex, error_mark_));
}

bool Scanner::at_document_marker() const {
    if (col_ != 0 || pos_ + 3 > text_.size()) return false;
    std::string_view three = text_.substr(pos_, 3);
    return (three == "---" || three == "...") && is_blank_or_break_or_end(at(pos_ + 3));
}

// A ':' at byte i is a value indicator when a blank, break or the end
// follows it, and in flow context also when a flow indicator does.
bool Scanner::colon_is_value(std::size_t i, bool flow) const {
    if (at(i) != ':') return false;
    int d = at(i + 1);
    return is_blank_or_break_or_end(d) || (flow && is_flow_indicator(d));
}

// ---- indentation ----------------------------------------------------------

void Scanner::push_indent(int column, bool is_sequence) {
    indents_.push_back(indent_);
    indent_is_sequence_.push_back(level_is_sequence_);
    indent_ = column;
    level_is_sequence_ = is_sequence;
}

void Scanner::pop_indent() {
    indent_ = indents_.back();
    indents_.pop_back();
    level_is_sequence_ = indent_is_sequence_.back();
    indent_is_sequence_.pop_back();
}

void Scanner::unroll_indent(int column) {
    while (indent_ > column) {
        push(TokenKind::BlockEnd, mark());
        pop_indent();
        level_closed_before_token_ = true;
    }
}

Status Scanner::roll_indent(int column, TokenKind kind, const Mark& m) {
    if (flow_level() > 0) return {};
    if (marker_on_line_) return error("a block collection cannot start on the same line as ---", m);
    if (indent_ < column) {
        push_indent(column, kind == TokenKind::BlockSequenceStart);
        push(kind, m);
    }
    return {};
}

void Scanner::save_simple_key() {
    if (simple_key_allowed_ && !key_.possible) key_ = SimpleKey{true, tokens_.size(), mark()};
}

// ---- whitespace and comments ----------------------------------------------

bool Scanner::comment_may_start() const {
    if (pos_ == 0 || (bom_ && pos_ == 3)) return true;
    char p = text_[pos_ - 1];
    return p == ' ' || p == '\t' || p == '\n' || p == '\r';
}

void Scanner::scan_comment() {
    Mark m = mark();
    advance_ascii();
    if (cur() == ' ') advance_ascii();
    std::size_t begin = pos_;
    skip_to_line_end();
    if (!keep_comments_) return;
    std::string_view body = text_.substr(begin, pos_ - begin);
    body = body.substr(0, length_without_trailing_space(body));
    comments_.push_back(Comment{body, m.offset, file_, m.line, m.column});
}

// A tab in the indentation of a block line is accepted only when nothing but
// blanks or a comment follows it, or a flow collection opens after it (flow
// content is not indentation).
Status Scanner::check_leading_tab() const {
    std::size_t i = pos_;
    while (is_blank(at(i))) ++i;
    int d = at(i);
    if (is_break(d) || d == '#' || d == '[' || d == '{' || d == kEnd) return {};
    return error("a tab cannot be used for indentation", mark());
}

// A tab that falls inside the current block indentation would be read as
// indentation. Before a new token a tab at column 0 is indentation too; on a
// continuation line of a scalar it only separates.
bool Scanner::tab_in_indentation(bool continuation) const {
    return flow_level() == 0 && ((col_ == 0 && !continuation) || static_cast<int>(col_) <= indent_);
}

// Skips the leading blanks of a scalar's continuation line.
// Past the spaces from the current position: one update for the whole run.
void Scanner::skip_spaces() {
    const char* s = text_.data();
    const std::size_t n = text_.size();
    std::size_t i = pos_;
    while (i < n && s[i] == ' ') ++i;
    advance_ascii(i - pos_);
}

Status Scanner::skip_line_indentation() {
    skip_spaces();
    for (int c = cur(); is_blank(c); c = cur()) {
        if (c == '\t' && tab_in_indentation(true)) {
            if (auto s = check_leading_tab(); !s) return s;
        }
        advance_ascii();
    }
    return {};
}

Status Scanner::skip_to_token(bool& crossed_break) {
    bool in_indentation = col_ == 0;
    for (;;) {
        int c = cur();
        if (c == ' ') {
            skip_spaces();
        } else if (c == '\t') {
            if (in_indentation && tab_in_indentation(false)) {
                if (auto s = check_leading_tab(); !s) return s;
            }
            advance_ascii();
        } else if (is_break(c)) {
            consume_break();
            crossed_break = true;
            in_indentation = true;
            drop_stale_simple_key();
            if (flow_level() == 0) simple_key_allowed_ = true;
            marker_on_line_ = false;
        } else if (c == '#') {
            if (!comment_may_start())
                return error("a comment must be preceded by whitespace", mark());
            scan_comment();
        } else {
            return {};
        }
    }
}

// ---- fetch loop -----------------------------------------------------------

Status Scanner::fetch_next() {
    bool crossed_break = false;
    if (auto s = skip_to_token(crossed_break); !s) return s;

    if (flow_level() > 0 && crossed_break && static_cast<int>(col_) <= flow_start_indent_) {
        return error("flow content must be indented more than its block context", mark());
    }

    level_closed_before_token_ = false;
    if (flow_level() == 0) {
        unroll_indent(static_cast<int>(col_));
        bool entry_follows = cur() == '-' && is_blank_or_break_or_end(next());
        if (level_is_sequence_ && indent_ == static_cast<int>(col_) && !entry_follows) {
            push(TokenKind::BlockEnd, mark());
            pop_indent();
            level_closed_before_token_ = true;
        }
    }

    if (at_end()) {
        if (flow_level() > 0) return error("unclosed flow collection at end of input", mark());
        key_.possible = false;
        unroll_indent(-1);
        push(TokenKind::StreamEnd, mark());
        ended_ = true;
        return {};
    }
    return flow_level() > 0 ? dispatch_flow() : dispatch_block();
}

Status Scanner::dispatch_block() {
    const int c = cur();
    const bool previous_was_entry = last_token_was_entry_;
    last_token_was_entry_ = false;
    adjacent_value_allowed_ = false;
    if (c != '!' && c != '&') after_value_indicator_ = false;

    switch (c) {
        case '%':
            if (col_ == 0) return fetch_directive();
            return fetch_plain();
        case ',':
            return error("a plain scalar cannot start with ','", mark());
        case '#':
            return error("a comment must be preceded by whitespace", mark());
        case '-':
            if (is_blank_or_break_or_end(next())) return fetch_block_entry(previous_was_entry);
            if (at_document_marker()) return fetch_document_start();
            return fetch_plain();
        case '.':
            if (at_document_marker()) return fetch_document_end();
            return fetch_plain();
        case ':':
            if (is_blank_or_break_or_end(next())) return fetch_block_value();
            return fetch_plain();
        case '?':
            if (is_blank_or_break_or_end(next())) return fetch_block_key();
            return fetch_plain();
        case '|':
            return fetch_block_scalar(true);
        case '>':
            return fetch_block_scalar(false);
        default:
            return dispatch_node_start(c);
    }
}

// Characters that start a node the same way in block and flow context.
Status Scanner::dispatch_node_start(int c) {
    switch (c) {
        case '\'':
            return fetch_quoted(false);
        case '"':
            return fetch_quoted(true);
        case '!':
            return fetch_tag();
        case '&':
            return fetch_anchor_or_alias(false);
        case '*':
            return fetch_anchor_or_alias(true);
        case '[':
            return fetch_flow_start(false);
        case '{':
            return fetch_flow_start(true);
        case ']':
            return fetch_flow_end(false);
        case '}':
            return fetch_flow_end(true);
        case '@':
        case '`':
            return error(std::string("'") + static_cast<char>(c) +
                             "' is a reserved indicator and cannot start a plain scalar",
                         mark());
        default:
            return fetch_plain();
    }
}

Status Scanner::dispatch_flow() {
    const int c = cur();
    if (at_document_marker())
        return error("a document marker is not allowed inside a flow collection", mark());

    // '-' and '?' open a node here whatever follows them: bare ones are an
    // entry or a key, others begin a plain scalar.
    const bool begins_node = c != '#' && c != ',' && c != ':' && c != ']' && c != '}';
    if (node_ended_in_flow_ && begins_node)
        return error("missing ',' between flow collection entries", mark());

    // Only the token right after a quoted scalar or a closed collection may
    // use a ':' without a blank after it as a value indicator.
    const bool adjacent = adjacent_value_allowed_;
    adjacent_value_allowed_ = false;
    switch (c) {
        case ':':
            return fetch_flow_value(adjacent);
        case '?': {
            int d = next();
            if (is_blank_or_break_or_end(d) || is_flow_indicator(d)) return fetch_flow_key();
            return fetch_plain();
        }
        case ',':
            return fetch_flow_entry();
        case '-': {
            int d = next();
            if (is_blank_or_break_or_end(d) || is_flow_indicator(d)) {
                return error("a plain scalar cannot be a bare '-' here", mark());
            }
            return fetch_plain();
        }
        case '#':
            return error("a comment must be preceded by whitespace", mark());
        default:
            return dispatch_node_start(c);
    }
}

// ---- document structure ---------------------------------------------------

Status Scanner::fetch_directive() {
    unroll_indent(-1);
    key_.possible = false;
    simple_key_allowed_ = false;
    Mark m = mark();
    advance_ascii();
    std::size_t begin = pos_;
    skip_to_line_end();
    push_text(TokenKind::Directive, m, pos_, text_.substr(begin, pos_ - begin));
    return {};
}

Status Scanner::fetch_document_start() {
    unroll_indent(-1);
    key_.possible = false;
    simple_key_allowed_ = false;
    Mark m = mark();
    advance_ascii(3);
    marker_on_line_ = true;
    push(TokenKind::DocumentStart, m);
    return {};
}

Status Scanner::fetch_document_end() {
    unroll_indent(-1);
    key_.possible = false;
    simple_key_allowed_ = false;
    Mark m = mark();
    advance_ascii(3);
    while (is_blank(cur())) advance_ascii();
    int c = cur();
    if (!(c == kEnd || is_break(c) || c == '#')) {
        return error("unexpected content after document-end marker (...)", mark());
    }
    push(TokenKind::DocumentEnd, m);
    return {};
}

// ---- block indicators -----------------------------------------------------

Status Scanner::fetch_block_entry(bool previous_was_entry) {
    Mark m = mark();
    if (static_cast<std::int64_t>(line_) == value_indicator_line_) {
        return error("a block sequence cannot start on the same line as its mapping key", m);
    }
    if (static_cast<std::int64_t>(line_) == property_line_) {
        return error("a block sequence entry cannot follow an anchor or tag on the same line", m);
    }
    const int column = static_cast<int>(col_);
    const bool opens_or_continues = indent_ >= column || !level_is_sequence_ ||
                                    previous_was_entry || !level_closed_before_token_;
    if (!opens_or_continues) return error("a sequence entry is indented past its sequence", m);
    if (auto s = roll_indent(column, TokenKind::BlockSequenceStart, m); !s) return s;
    advance_ascii();
    if (cur() == ' ') advance_ascii();
    last_token_was_entry_ = true;
    simple_key_allowed_ = true;
    key_.possible = false;
    push(TokenKind::BlockEntry, m);
    return {};
}

Status Scanner::fetch_block_key() {
    Mark m = mark();
    if (auto s = roll_indent(static_cast<int>(col_), TokenKind::BlockMappingStart, m); !s) return s;
    advance_ascii();
    if (cur() == ' ') advance_ascii();
    // The key may itself be a compact mapping ("? a: b").
    simple_key_allowed_ = true;
    key_.possible = false;
    push(TokenKind::Key, m);
    return {};
}

Status Scanner::fetch_block_value() {
    Mark m = mark();
    if (key_.possible && key_.mark.line == line_) {
        // The node saved as a possible key (a property, alias or flow
        // collection) is the key: insert the tokens in front of it.
        std::size_t at = key_.token_index;
        const int column = static_cast<int>(key_.mark.column);
        if (indent_ < column) {
            if (marker_on_line_)
                return error("a block collection cannot start on the same line as ---", key_.mark);
            push_indent(column, false);
            insert(at++, TokenKind::BlockMappingStart, key_.mark);
        }
        insert(at, TokenKind::Key, key_.mark);
        key_.possible = false;
        value_indicator_line_ = line_;
        simple_key_allowed_ = false;
    } else {
        // A value without an implicit key on this line (after '?', or an
        // empty key): its content may be a compact collection.
        if (auto s = roll_indent(static_cast<int>(col_), TokenKind::BlockMappingStart, m); !s)
            return s;
        key_.possible = false;
        simple_key_allowed_ = true;
    }
    advance_ascii();
    if (cur() == ' ') advance_ascii();
    after_value_indicator_ = true;
    push(TokenKind::Value, m);
    return {};
}

// ---- flow indicators ------------------------------------------------------

Status Scanner::fetch_flow_value(bool adjacent) {
    if (node_ended_in_flow_ && !explicit_key_in_flow_ && innermost_flow_is_sequence() &&
        last_flow_node_end_line_ < line_) {
        return error("the implicit key of a flow sequence pair must be on one line", mark());
    }
    if (!(colon_is_value(pos_, true) || (node_ended_in_flow_ && adjacent))) return fetch_plain();
    Mark m = mark();
    advance_ascii();
    // A value is no key: "{a: b\n c: d}" must not read "b c" as the next key.
    simple_key_allowed_ = false;
    node_ended_in_flow_ = false;
    entry_seen_in_flow_ = true;
    push(TokenKind::Value, m);
    return {};
}

Status Scanner::fetch_flow_key() {
    Mark m = mark();
    advance_ascii();
    explicit_key_in_flow_ = true;
    simple_key_allowed_ = true;
    entry_seen_in_flow_ = true;
    push(TokenKind::Key, m);
    return {};
}

Status Scanner::fetch_flow_entry() {
    if (!entry_seen_in_flow_) return error("empty flow entry (stray ',')", mark());
    Mark m = mark();
    advance_ascii();
    simple_key_allowed_ = true;
    node_ended_in_flow_ = false;
    entry_seen_in_flow_ = false;
    explicit_key_in_flow_ = false;
    push(TokenKind::FlowEntry, m);
    return {};
}

Status Scanner::fetch_flow_start(bool mapping) {
    Mark m = mark();
    if (flow_stack_.size() >= kMaxDepth) {
        return error(max_depth_message(), m);
    }
    if (flow_level() == 0) {
        save_simple_key();
        flow_start_line_ = line_;
        flow_start_indent_ = indent_;
    }
    std::uint8_t entry =
        (mapping ? kFlowMapping : 0) | (explicit_key_in_flow_ ? kOuterExplicitKey : 0);
    flow_stack_.push_back(entry);
    flow_open_offsets_.push_back(pos_);
    advance_ascii();
    simple_key_allowed_ = true;
    node_ended_in_flow_ = false;
    entry_seen_in_flow_ = false;
    explicit_key_in_flow_ = false;
    push(mapping ? TokenKind::FlowMappingStart : TokenKind::FlowSequenceStart, m);
    return {};
}

Status Scanner::fetch_flow_end(bool mapping) {
    Mark m = mark();
    const char closer = mapping ? '}' : ']';
    if (flow_stack_.empty()) {
        return error(std::string("unexpected '") + closer + "' with no open flow collection", m);
    }
    const bool open_is_mapping = flow_stack_.back() & kFlowMapping;
    if (open_is_mapping != mapping) {
        return error(std::string("mismatched flow collection: '") + closer + "' cannot close a '" +
                         (open_is_mapping ? '{' : '[') + "'",
                     m);
    }
    explicit_key_in_flow_ = flow_stack_.back() & kOuterExplicitKey;
    flow_stack_.pop_back();
    flow_open_offsets_.pop_back();
    advance_ascii();
    node_ended_in_flow_ = true;
    entry_seen_in_flow_ = true;
    adjacent_value_allowed_ = true;
    last_flow_node_end_line_ = line_;
    push(mapping ? TokenKind::FlowMappingEnd : TokenKind::FlowSequenceEnd, m);
    if (flow_level() > 0) return {};
    simple_key_allowed_ = false;
    return check_after_outermost_flow();
}

// After the outermost flow collection only a comment, a separator or a
// value indicator may follow on the same line.
Status Scanner::check_after_outermost_flow() {
    std::size_t i = pos_;
    while (is_blank(at(i))) ++i;
    int d = at(i);
    if (!(d == kEnd || is_break(d) || d == '#' || d == ',' || d == ':')) {
        return error("unexpected content after flow collection", mark_ahead(i));
    }
    if (d == ':' && line_ != flow_start_line_) {
        return error("a multiline flow collection cannot be an implicit mapping key",
                     mark_ahead(i));
    }
    return {};
}

// ---- node properties and aliases ------------------------------------------

Status Scanner::check_property_indent() const {
    if (flow_level() == 0 && after_value_indicator_ && indent_ >= static_cast<int>(col_)) {
        return error("a node property must be indented past its mapping key", mark());
    }
    return {};
}

static bool ends_name(int c) {
    return is_blank_or_break_or_end(c) || is_flow_indicator(c);
}

Status Scanner::fetch_anchor_or_alias(bool alias) {
    const bool flow = flow_level() > 0;
    if (!alias) {
        if (auto s = check_property_indent(); !s) return s;
    }
    if (!flow) save_simple_key();
    Mark m = mark();
    std::size_t i = pos_ + 1;
    while (!ends_name(at(i))) ++i;
    if (i == pos_ + 1) return error(alias ? "expected alias name" : "expected anchor name", m);
    std::string_view name = text_.substr(pos_ + 1, i - pos_ - 1);
    // A name is written on one line and names a node in plain text: no byte
    // order mark, and none of the characters some readers break lines at.
    // (Control characters are named where they stand, as anywhere else.)
    const auto bad = first_off_line(name);
    if (bad && (bad->line_break || bad->code_point == 0xFEFF)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(bad->code_point));
        return error(std::string("invalid character U+") + hex +
                         (alias ? " in an alias name" : " in an anchor name"),
                     m);
    }
    advance_to(i);
    push_text(alias ? TokenKind::Alias : TokenKind::Anchor, m, pos_, name);
    simple_key_allowed_ = false;
    if (flow) {
        entry_seen_in_flow_ = true;
        if (alias) {
            last_flow_node_end_line_ = line_;
            node_ended_in_flow_ = true;
        }
    } else if (!alias) {
        property_line_ = line_;
    } else {
        // An alias is a whole node: only a comment, or the ':' of an alias
        // key, may follow it on its line ("*a &b" would give the next line's
        // node a property).
        std::size_t j = pos_;
        while (is_blank(at(j))) ++j;
        const int d = at(j);
        if (!(d == kEnd || is_break(d) || (d == '#' && j > pos_) || d == ':'))
            return error("unexpected content after alias", mark_ahead(j));
    }
    return {};
}

Status Scanner::fetch_tag() {
    const bool flow = flow_level() > 0;
    if (auto s = check_property_indent(); !s) return s;
    if (!flow) save_simple_key();
    Mark m = mark();
    std::size_t i = pos_ + 1;
    if (at(i) == '<') {
        while (at(i) != '>' && !is_break(at(i)) && at(i) != kEnd) ++i;
        if (at(i) != '>') return error("unterminated verbatim tag", m);
        ++i;
    } else {
        for (int c = at(i); !(is_blank_or_break_or_end(c) || c == ',' || c == ']' || c == '}');
             c = at(++i)) {
        }
    }
    std::string_view tag = text_.substr(pos_, i - pos_);
    advance_to(i);
    push_text(TokenKind::Tag, m, pos_, tag);
    simple_key_allowed_ = false;
    if (flow) {
        entry_seen_in_flow_ = true;
    } else {
        property_line_ = line_;
    }
    return {};
}

}  // namespace quarvel::scan
