// The YAML scanner: one forward pass over the text that produces tokens on
// demand, a few at a time, while a composer consumes them. Private to the
// scanner; other code reads tokens through TokenStream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/char_class.hpp"
#include "scanner/printable.hpp"
#include "scanner/token.hpp"
#include "support/limits.hpp"

namespace quarvel::scan {

class Scanner {
  public:
    Scanner(std::string_view text, bool keep_comments, std::uint32_t file);

    // start() once, then step() until ended() or an error. Tokens before
    // final_count() can no longer change (no pending simple key can insert a
    // token before them); discard() drops them once they have been consumed.
    void start() {
        // The composer gives consumed tokens back every thousand or so; only
        // a line-long window beyond that is ever held.
        tokens_.reserve(2048);
        push(TokenKind::StreamStart, mark());
    }
    Status step();
    bool ended() const { return ended_; }
    std::size_t final_count() const { return key_.possible ? key_.token_index : tokens_.size(); }
    const std::vector<Token>& tokens() const { return tokens_; }
    // Drops the first n tokens, all of them final.
    void discard(std::size_t n) {
        tokens_.erase(tokens_.begin(), tokens_.begin() + static_cast<std::ptrdiff_t>(n));
        if (key_.possible) key_.token_index -= n;
    }
    Arena& arena() { return arena_; }

    // Comments recorded so far (only when keeping them), in source order.
    std::vector<Comment>& comments() { return comments_; }
    bool leading_bom() const { return bom_; }
    // Where the error that ended the scan was detected.
    const Mark& error_mark() const { return error_mark_; }

  private:
    // ---- character access -------------------------------------------------
    int at(std::size_t i) const {
        return i < text_.size() ? static_cast<unsigned char>(text_[i]) : kEnd;
    }
    int cur() const { return at(pos_); }
    int next() const { return at(pos_ + 1); }
    bool at_end() const { return pos_ >= text_.size(); }
    Mark mark() const { return Mark{pos_, file_, line_, col_}; }
    // Mark of a later position on the current line reached over ASCII bytes.
    Mark mark_ahead(std::size_t i) const {
        return Mark{i, file_, line_, col_ + static_cast<std::uint32_t>(i - pos_)};
    }
    void advance_ascii(std::size_t n = 1) {
        pos_ += n;
        col_ += static_cast<std::uint32_t>(n);
    }
    void advance_char();
    void skip_spaces();
    // Moves to byte offset `to` on the current line, counting characters.
    void advance_to(std::size_t to);
    // Moves to the next line break (or the end) of the current line.
    void skip_to_line_end();
    void consume_break();
    bool at_document_marker() const;
    bool colon_is_value(std::size_t i, bool flow) const;
    // Keeps the whole mark for error_mark() (the error value holds only line
    // and column). Cold and out of line, and the message becomes a string
    // only inside, so the scanning paths that do not fail stay short.
    [[gnu::cold, gnu::noinline]] Status error(std::string_view message, const Mark& m) const;
    // The mark of an earlier byte offset, counted from the start of the text.
    [[gnu::cold]] Mark mark_at(std::size_t offset) const;
    [[gnu::cold, gnu::noinline]] Status unprintable_error() const;
    // Moves past the unprintable characters a quoted scalar that spans
    // [begin, end) may hold.
    void accept_quoted_unprintable(std::size_t begin, std::size_t end) {
        while (bad_.offset >= begin && bad_.offset < end && bad_.allowed_quoted)
            bad_ = next_unprintable(text_, bad_.offset + 1);
    }

    // ---- token queue ------------------------------------------------------
    void push(TokenKind kind, const Mark& m) {
        tokens_.push_back(Token{kind, ScalarStyle::Plain, 0, m, m.offset, {}});
    }
    void push_text(TokenKind kind, const Mark& m, std::uint64_t end, std::string_view text,
                   ScalarStyle style = ScalarStyle::Plain, std::uint32_t end_column = 0) {
        tokens_.push_back(Token{kind, style, end_column, m, end, text});
    }
    void insert(std::size_t at, TokenKind kind, const Mark& m) {
        tokens_.insert(tokens_.begin() + static_cast<std::ptrdiff_t>(at),
                       Token{kind, ScalarStyle::Plain, 0, m, m.offset, {}});
    }

    // ---- indentation ------------------------------------------------------
    void push_indent(int column, bool is_sequence);
    void pop_indent();
    void unroll_indent(int column);
    Status roll_indent(int column, TokenKind kind, const Mark& m);
    void save_simple_key();
    void drop_stale_simple_key() {
        if (key_.possible && key_.mark.line < line_) key_.possible = false;
    }

    // ---- fetch loop -------------------------------------------------------
    Status fetch_next();
    Status skip_to_token(bool& crossed_break);
    Status check_leading_tab() const;
    bool tab_in_indentation(bool continuation) const;
    Status skip_line_indentation();
    bool comment_may_start() const;
    void scan_comment();
    Status dispatch_block();
    Status dispatch_flow();
    Status dispatch_node_start(int c);

    // ---- indicators -------------------------------------------------------
    Status fetch_directive();
    Status fetch_document_start();
    Status fetch_document_end();
    Status fetch_block_entry(bool previous_was_entry);
    Status fetch_block_key();
    Status fetch_block_value();
    Status fetch_flow_value(bool adjacent);
    Status fetch_flow_key();
    Status fetch_flow_entry();
    Status fetch_flow_start(bool mapping);
    Status fetch_flow_end(bool mapping);
    Status check_after_outermost_flow();
    Status check_property_indent() const;
    Status fetch_anchor_or_alias(bool alias);
    Status fetch_tag();

    // ---- scalars ----------------------------------------------------------
    Status fetch_plain();
    bool scan_plain_line(bool flow, std::size_t& seg_begin, std::size_t& seg_end);
    bool plain_continuation_ends(bool flow) const;
    Status fetch_quoted(bool double_quoted);
    Status scan_escape(std::size_t& keep_len);
    std::uint32_t join_low_surrogate(std::uint32_t high);
    Status fold_quoted_break(bool escaped, std::size_t& keep_len);
    Status finish_quoted(const Mark& start, std::string_view text, ScalarStyle style,
                         bool key_allowed);
    Status fetch_block_scalar(bool literal);
    Status scan_block_header(int& chomp, int& digit);
    Status detect_block_indent(int& content_indent);
    Status push_scalar_key(const Mark& start, std::uint64_t end, std::string_view text,
                           ScalarStyle style, std::uint32_t end_column);
    bool innermost_flow_is_sequence() const {
        return !flow_stack_.empty() && !(flow_stack_.back() & kFlowMapping);
    }
    int flow_level() const { return static_cast<int>(flow_stack_.size()); }

    // ---- state ------------------------------------------------------------
    std::string_view text_;
    std::size_t pos_ = 0;
    std::uint32_t line_ = 0;
    std::uint32_t col_ = 0;
    std::uint32_t file_ = 0;
    bool keep_comments_ = false;
    bool bom_ = false;

    std::vector<Token> tokens_;
    std::vector<Comment> comments_;
    Arena arena_;
    std::string buf_;  // reused for every scalar whose text is not a view
    // The next character that is not printable, found ahead of the scan. Each
    // step that moves past it fails unless a quoted scalar accepted it.
    Unprintable bad_;

    int indent_ = -1;
    bool level_is_sequence_ = false;
    std::vector<std::int32_t> indents_;
    std::vector<std::uint8_t> indent_is_sequence_;

    // One byte per open flow collection: its kind, and whether the enclosing
    // collection had an explicit key pending when it opened.
    static constexpr std::uint8_t kFlowMapping = 1;
    static constexpr std::uint8_t kOuterExplicitKey = 2;
    std::vector<std::uint8_t> flow_stack_;
    // Where the quoted scalar being read opened (errors on its later lines
    // point at it).
    std::optional<Mark> quote_open_;
    // Where each open flow collection's bracket stands (errors point at it).
    std::vector<std::size_t> flow_open_offsets_;
    // The note an error inside a flow collection carries: its opening bracket,
    // when that stands on an earlier line or the input ended inside it.
    [[gnu::cold]] void note_open_bracket(Error& e, const Mark& at, bool at_end) const;

    struct SimpleKey {
        bool possible = false;
        std::size_t token_index = 0;
        Mark mark;
    } key_;
    bool simple_key_allowed_ = true;

    std::uint32_t flow_start_line_ = 0;
    int flow_start_indent_ = -1;
    std::uint32_t last_flow_node_end_line_ = 0;
    bool node_ended_in_flow_ = false;
    bool entry_seen_in_flow_ = false;
    bool explicit_key_in_flow_ = false;
    bool adjacent_value_allowed_ = false;

    bool marker_on_line_ = false;
    bool after_value_indicator_ = false;
    std::int64_t value_indicator_line_ = -1;
    std::int64_t property_line_ = -1;
    bool last_token_was_entry_ = false;
    bool level_closed_before_token_ = false;
    bool ended_ = false;
    mutable Mark error_mark_;
};

}  // namespace quarvel::scan
