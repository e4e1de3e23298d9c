// The YAML emitter: one value tree into one YAML document, block style by
// default, flow style on request, with per-string choice of plain, quoted or
// literal scalars and optional folding at a line width.
//
// Everything written must read back to the same tree. Three places where a
// naive layout would not:
// - implicit keys must stay on one line, so keys (and everything inside a
//   key written as a flow collection) are never folded or wrapped;
// - a folded plain line must not begin with an indicator, or the scalar ends
//   there, so plain text is never broken before such a segment;
// - continuation lines must be indented past the block collection that owns
//   the scalar, which for the first entry of a mapping written after "- " is
//   deeper than the line's own indentation.
#include <algorithm>
#include <cstring>
#include <vector>

#include "encode/emitter.hpp"
#include "encode/scalar_style.hpp"
#include "encode/text_sink.hpp"
#include "support/int_format.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

namespace ss = scalar_style;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

class Emitter {
  public:
    Emitter(const EmitterSettings& s, std::string& out)
        : out_(out), s_(s), step_(s.indent == 0 ? 1 : s.indent), width_(s.width) {}

    void emit_document(const YamlValue& root);
    bool out_of_stack() const { return out_of_stack_; }

  private:
    TextSink out_;
    const EmitterSettings& s_;
    std::size_t step_;
    std::uint64_t width_;
    unsigned key_depth_ = 0;    // > 0 while writing a mapping key
    std::size_t min_cont_ = 0;  // least indentation of a continuation line
    std::size_t empty_value_at_ =
        std::string::npos - 1;   // where the last "key:" with an empty value ended
    std::string scratch_;        // escaped text waiting to be folded
    bool out_of_stack_ = false;  // a nested collection found no stack: nothing more is written
    StackRoom stack_;            // checks the stack by frame address at each nested node

    // Runs f (which writes a nested node) where there is stack for it.
    template <class F>
    void deeper(F&& f) {
        if (!stack_.run([&] {
                f();
                return true;
            }))
            out_of_stack_ = true;
    }

    bool folding() const { return width_ != 0 && key_depth_ == 0; }
    bool block_collection(const YamlValue& v) const {
        return !s_.flow && v.is_collection() && !v.children().empty();
    }
    bool empty_null(const YamlValue& v) const {
        return v.kind == ValueKind::Null && s_.null_style == NullStyle::Empty;
    }

    void spaces(std::size_t n);
    void newline() { out_.put('\n'); }
    std::size_t column() const;
    std::size_t line_indent() const;
    std::size_t continuation_indent(std::size_t base) const {
        return std::max(base + step_, min_cont_);
    }

    void write_block_mapping(const YamlValue& m, std::size_t n);
    void write_block_sequence(const YamlValue& seq, std::size_t n);
    void write_sequence_item(const YamlValue& item, std::size_t n);
    void write_entry(const YamlValue& key, const YamlValue& value, std::size_t n);
    void write_after_key(const YamlValue& v, std::size_t n);
    void write_inline(const YamlValue& v, bool in_flow);
    void write_key(const YamlValue& key, bool in_flow);
    void write_flow_sequence(const YamlValue& seq);
    void write_flow_mapping(const YamlValue& m);
    void flow_separator(std::size_t k);
    void write_string(std::string_view text, const ss::TextTraits& traits, bool in_flow);
    // A string that ends a block line: a literal block (content at
    // literal_indent) when it fits, else inline; n is the owner's indentation.
    void write_block_string(std::string_view text, std::size_t n, std::size_t literal_indent);
    void write_quoted(std::string_view text, char quote, bool escaped);
    void write_literal(std::string_view text, std::size_t n);
    enum class FoldKind { Plain, SingleQuoted, Escaped };
    void write_folded(std::string_view text, std::size_t n, FoldKind kind);
    void write_int(std::int64_t i);
    void write_tag(std::string_view tag);
    void before_block_key(const YamlValue& key);

    // Calls f(key, value) for each entry, in key order.
    template <class F>
    void for_each_entry(const YamlValue& m, F&& f);
};

void Emitter::spaces(std::size_t n) {
    out_.spaces(n);
}

std::size_t Emitter::column() const {
    const std::string_view text = out_.written();
    const std::size_t nl = text.rfind('\n');
    return nl == std::string_view::npos ? text.size() : text.size() - nl - 1;
}

std::size_t Emitter::line_indent() const {
    const std::string_view text = out_.written();
    const std::size_t nl = text.rfind('\n');
    const std::size_t start = nl == std::string_view::npos ? 0 : nl + 1;
    std::size_t i = start;
    while (i < text.size() && text[i] == ' ') ++i;
    return i - start;
}

// Bytewise order of string keys; other keys sort as the empty text.
std::string_view sort_text(const YamlValue& key) {
    return key.kind == ValueKind::String ? key.text() : std::string_view();
}

template <class F>
void Emitter::for_each_entry(const YamlValue& m, F&& f) {
    const std::size_t count = m.map_size();
    if (!s_.sort_keys || count < 2) {
        for (std::size_t i = 0; i < count && !out_of_stack_; ++i) f(m.key(i), m.value(i));
        return;
    }
    std::vector<std::uint32_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return sort_text(m.key(a)) < sort_text(m.key(b));
    });
    for (std::uint32_t i : order) {
        if (out_of_stack_) return;
        f(m.key(i), m.value(i));
    }
}

void Emitter::emit_document(const YamlValue& root) {
    if (s_.explicit_start) out_.put("---\n");
    if (block_collection(root) && root.kind == ValueKind::Mapping) {
        write_block_mapping(root, 0);
    } else if (block_collection(root)) {
        write_block_sequence(root, 0);
    } else if (root.kind == ValueKind::String && ss::fits_literal(root.text())) {
        write_literal(root.text(), step_);
    } else if (root.kind == ValueKind::Tagged) {
        write_tag(root.text());
        write_after_key(root.inner(), 0);
    } else {
        write_inline(root, false);
        newline();
    }
    if (s_.explicit_end) out_.put("...\n");
}

void Emitter::write_block_mapping(const YamlValue& m, std::size_t n) {
    for_each_entry(m, [&](const YamlValue& key, const YamlValue& value) {
        before_block_key(key);
        spaces(n);
        write_entry(key, value, n);
    });
}

// A tag at the start of a line right after "key:" with nothing after it
// would read as a property of that empty value, not of the next key: the
// empty value is spelled out as null then.
void Emitter::before_block_key(const YamlValue& key) {
    if (key.kind == ValueKind::Tagged && empty_value_at_ + 1 == out_.position())
        out_.insert(empty_value_at_, s_.null_style == NullStyle::Tilde ? " ~" : " null");
}

// The key (always inline), ":" and the rest of the entry; n is the
// indentation of the mapping the entry belongs to.
void Emitter::write_entry(const YamlValue& key, const YamlValue& value, std::size_t n) {
    write_key(key, false);
    out_.put(':');
    write_after_key(value, n);
}

void Emitter::write_key(const YamlValue& key, bool in_flow) {
    ++key_depth_;
    write_inline(key, in_flow);
    --key_depth_;
}

void Emitter::write_after_key(const YamlValue& v, std::size_t n) {
    if (v.kind == ValueKind::Tagged) {
        out_.put(' ');
        write_tag(v.text());
        deeper([&] { write_after_key(v.inner(), n); });
    } else if (empty_null(v)) {
        empty_value_at_ = out_.position();
        newline();
    } else if (v.kind == ValueKind::String) {
        write_block_string(v.text(), n, n + step_);
    } else if (block_collection(v) && v.kind == ValueKind::Sequence) {
        newline();
        deeper([&] { write_block_sequence(v, s_.indentless ? n : n + step_); });
    } else if (block_collection(v)) {
        newline();
        deeper([&] { write_block_mapping(v, n + step_); });
    } else {
        out_.put(' ');
        min_cont_ = n + 1;
        write_inline(v, false);
        newline();
    }
}

void Emitter::write_block_string(std::string_view text, std::size_t n, std::size_t literal_indent) {
    const ss::TextTraits traits = ss::scan_text(text);
    out_.put(' ');
    if (ss::fits_literal(text, traits)) {
        write_literal(text, literal_indent);
        return;
    }
    min_cont_ = n + 1;
    write_string(text, traits, false);
    newline();
}

void Emitter::write_block_sequence(const YamlValue& seq, std::size_t n) {
    for (const YamlValue& item : seq.children()) {
        if (out_of_stack_) return;
        spaces(n);
        out_.put('-');
        write_sequence_item(item, n);
    }
}

void Emitter::write_sequence_item(const YamlValue& item, std::size_t n) {
    if (empty_null(item)) {
        newline();
    } else if (item.kind == ValueKind::String) {
        write_block_string(item.text(), n, n + 2);
    } else if (block_collection(item) && item.kind == ValueKind::Sequence) {
        newline();
        deeper([&] { write_block_sequence(item, n + 2); });
    } else if (block_collection(item)) {
        // Compact form: the first entry shares the line with the dash.
        out_.put(' ');
        bool first = true;
        deeper([&] {
            for_each_entry(item, [&](const YamlValue& key, const YamlValue& value) {
                if (!first) {
                    before_block_key(key);
                    spaces(n + 2);
                }
                first = false;
                write_entry(key, value, n + 2);
            });
        });
    } else if (item.kind == ValueKind::Tagged) {
        out_.put(' ');
        write_tag(item.text());
        const YamlValue& inner = item.inner();
        if (block_collection(inner) && inner.kind == ValueKind::Sequence) {
            // An indentless sequence here would read as further items of the outer one.
            newline();
            deeper([&] { write_block_sequence(inner, n + step_); });
        } else {
            write_after_key(inner, n);
        }
    } else {
        out_.put(' ');
        min_cont_ = n + 1;
        write_inline(item, false);
        newline();
    }
}

void Emitter::write_tag(std::string_view tag) {
    if (tag_spelling(tag) == TagSpelling::Verbatim) {
        out_.put("!<");
        out_.put(tag);
        out_.put('>');
    } else {
        out_.put(tag);  // as written, or (TagSpelling::None) the best there is
    }
}

void Emitter::write_int(std::int64_t i) {
    out_.commit(write_decimal(i, out_.room(kMaxDecimalRoom)));
}

void Emitter::write_inline(const YamlValue& v, bool in_flow) {
    switch (v.kind) {
        case ValueKind::Null:
            out_.put(s_.null_style == NullStyle::Tilde ? "~" : "null");
            break;
        case ValueKind::Bool:
            out_.put(v.boolean ? "true" : "false");
            break;
        case ValueKind::Int:
            write_int(v.integer);
            break;
        case ValueKind::BigInt:
            out_.put(v.text());
            break;
        case ValueKind::Float:
            out_.append_to_string([&](std::string& text) { format_float(v.real, text); });
            break;
        case ValueKind::String:
            write_string(v.text(), ss::scan_text(v.text()), in_flow);
            break;
        case ValueKind::Sequence:
            deeper([&] { write_flow_sequence(v); });
            break;
        case ValueKind::Mapping:
            deeper([&] { write_flow_mapping(v); });
            break;
        case ValueKind::Tagged:
            write_tag(v.text());
            out_.put(' ');
            deeper([&] { write_inline(v.inner(), in_flow); });
            break;
    }
}

void Emitter::write_flow_sequence(const YamlValue& seq) {
    if (seq.children().empty()) {
        out_.put("[]");
        return;
    }
    out_.put('[');
    const std::size_t k = folding() ? line_indent() : 0;
    bool first = true;
    for (const YamlValue& item : seq.children()) {
        if (out_of_stack_) return;
        if (!first) flow_separator(k);
        first = false;
        write_inline(item, true);
    }
    out_.put(']');
}

void Emitter::write_flow_mapping(const YamlValue& m) {
    if (m.children().empty()) {
        out_.put("{}");
        return;
    }
    out_.put('{');
    const std::size_t k = folding() ? line_indent() : 0;
    bool first = true;
    for_each_entry(m, [&](const YamlValue& key, const YamlValue& value) {
        if (!first) flow_separator(k);
        first = false;
        write_key(key, true);
        out_.put(": ");
        write_inline(value, true);
    });
    out_.put('}');
}

void Emitter::flow_separator(std::size_t k) {
    out_.put(',');
    if (!folding() || column() < width_) {
        out_.put(' ');
        return;
    }
    newline();
    spaces(continuation_indent(k));
}

void Emitter::write_string(std::string_view text, const ss::TextTraits& traits, bool in_flow) {
    if (text.empty()) {
        out_.put(s_.prefer_double_quotes ? "\"\"" : "''");
        return;
    }
    const bool quote = ss::needs_quotes(text, traits) || (in_flow && traits.flow_indicator);
    if (!quote) {
        if (folding())
            write_folded(text, continuation_indent(line_indent()), FoldKind::Plain);
        else
            out_.put(text);
        return;
    }
    // No apostrophes means no doubling is needed between apostrophes.
    if (!s_.prefer_double_quotes && ss::fits_single_quotes(traits)) {
        write_quoted(text, '\'', false);
    } else {
        write_quoted(text, '"', true);
    }
}

void Emitter::write_quoted(std::string_view text, char quote, bool escaped) {
    out_.put(quote);
    if (!folding()) {
        if (escaped)
            out_.append_to_string([&](std::string& s) { ss::append_double_escaped(text, s); });
        else
            out_.put(text);
    } else {
        const std::size_t n = continuation_indent(line_indent());
        if (escaped) {
            scratch_.clear();
            ss::append_double_escaped(text, scratch_);
            write_folded(scratch_, n, FoldKind::Escaped);
        } else {
            write_folded(text, n, FoldKind::SingleQuoted);
        }
    }
    out_.put(quote);
}

void Emitter::write_literal(std::string_view text, std::size_t n) {
    std::size_t content_len = text.size();
    while (content_len > 0 && text[content_len - 1] == '\n') --content_len;
    const std::size_t trailing = text.size() - content_len;
    const std::string_view content = text.substr(0, content_len);
    out_.put('|');
    if (trailing == 0)
        out_.put('-');
    else if (trailing >= 2 || content.empty())
        out_.put('+');
    newline();
    std::size_t pos = 0;
    while (true) {
        const std::size_t nl = content.find('\n', pos);
        const std::string_view line =
            content.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (!line.empty()) {
            spaces(n);
            out_.put(line);
        }
        newline();
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    if (trailing >= 2) out_.fill(trailing - 1, '\n');
}

// True when position i of escaped double-quoted text ends a "\\t" escape: a
// reader drops blanks at the end of a folded line, escaped ones included.
bool ends_tab_escape(std::string_view text, std::size_t i) {
    if (text[i] != 't') return false;
    std::size_t backslashes = 0;
    while (backslashes < i && text[i - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}

// Index of the next break point at or after `from`: a single space between
// two non-blank bytes. Returns text.size() when there is none.
std::size_t next_break(std::string_view text, std::size_t from, bool escaped) {
    const std::size_t n = text.size();
    for (std::size_t i = from; i + 1 < n; ++i) {
        const void* hit = std::memchr(text.data() + i, ' ', n - 1 - i);
        if (!hit) return n;
        i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (i == 0 || is_blank(text[i - 1]) || is_blank(text[i + 1])) continue;
        if (escaped && ends_tab_escape(text, i - 1)) continue;
        return i;
    }
    return n;
}

void Emitter::write_folded(std::string_view text, std::size_t n, FoldKind kind) {
    const bool plain = kind == FoldKind::Plain;
    const bool escaped = kind == FoldKind::Escaped;
    std::size_t col = column();
    std::size_t end = next_break(text, 0, escaped);
    out_.put(text.substr(0, end));
    col += end;
    while (end < text.size()) {
        const std::size_t start = end + 1;
        end = next_break(text, start, escaped);
        const std::size_t len = end - start;
        // A plain line starting with an indicator would end the scalar.
        const bool may_break = !plain || !(ss::byte_class(text[start]) & ss::kStartIndicator);
        if (may_break && col + 1 + len > width_) {
            newline();
            spaces(n);
            col = n;
        } else {
            out_.put(' ');
            ++col;
        }
        out_.put(text.substr(start, len));
        col += len;
    }
}

}  // namespace

Status emit_yaml(const YamlValue& root, const EmitterSettings& settings, std::string& out) {
    Emitter emitter(settings, out);
    emitter.emit_document(root);
    if (emitter.out_of_stack()) return fail(stack_exhausted_error());
    return {};
}

namespace {

bool is_control(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// Control bytes, and the characters a reader refuses or breaks lines at.
bool has_control(std::string_view s) {
    for (char c : s)
        if (is_control(c)) return true;
    return scalar_style::has_awkward_unicode(s);
}

bool has_control_or_space(std::string_view s) {
    return has_control(s) || s.find(' ') != std::string_view::npos;
}

}  // namespace

// A tag with a '!' reads back as written when it holds no character that ends
// a tag (white space, ',', ']', '}') and no second '!' that would make its
// start a named handle; a verbatim tag as written reads back when it is well
// formed. Any other tag without '>' or white space fits the verbatim form
// (full tags such as tag:example.com,2000:x, what %TAG handles expand to).
TagSpelling tag_spelling(std::string_view tag) {
    if (tag.starts_with("!<")) {
        std::string_view inner = tag.substr(2);
        if (inner.ends_with('>'))
            inner.remove_suffix(1);
        else
            return TagSpelling::None;
        if (inner.find('>') == std::string_view::npos && !has_control(inner))
            return TagSpelling::AsWritten;
        return TagSpelling::None;
    }
    if (tag.starts_with('!') && !has_control_or_space(tag) &&
        tag.find_first_of(",]}") == std::string_view::npos &&
        tag.find('!', tag.starts_with("!!") ? 2 : 1) == std::string_view::npos)
        return TagSpelling::AsWritten;
    if (!tag.empty() && tag.find('>') == std::string_view::npos && !has_control(tag) &&
        tag.front() != ' ' && tag.back() != ' ')
        return TagSpelling::Verbatim;
    return TagSpelling::None;
}

}  // namespace quarvel
