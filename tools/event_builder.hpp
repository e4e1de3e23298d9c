// The event writer: a builder of the one parser that writes what it
// recognises as a list of parse events, one per line, in the notation of the
// YAML test suite's test.event files. Comparing these lines with the suite
// checks what the values alone cannot show: tags after expansion, anchors,
// aliases, scalar and collection styles and document markers.
//
//   --- !!map          +STR
//   &a k: [x, *a]      +DOC ---
//   ...                +MAP <tag:yaml.org,2002:map>
//                      =VAL &a :k
//                      +SEQ []
//                      =VAL :x
//                      =ALI *a
//                      -SEQ
//                      -MAP
//                      -DOC ...
//                      -STR
//
// Events are written in source order as the parser calls the builder, so
// when parsing fails the events before the error are already written. Once
// the scanner has failed, nothing more is written: the parser then meets the
// end of the stream early, and the empty nodes and closing events it would
// make of that are not in the text. A node is the offset of its first event:
// a flow sequence item that turns out to be a pair ("[a: b]") gets its
// "+MAP {}" inserted in front of the key's events.
// The writer keeps the loader's policies: a second anchor on a node and an
// alias of an unknown anchor are errors, a later tag replaces an earlier one.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

#include "parser/parser.hpp"
#include "scanner/token_stream.hpp"
#include "support/core_tag.hpp"

namespace quarvel {

class EventBuilder {
  public:
    struct Node {
        std::size_t begin = 0;  // offset of the node's first event in the output
    };
    struct Props {
        std::string_view anchor;
        std::string tag;  // resolved, as written between '<' and '>'
        bool has_anchor = false;
        bool has_tag = false;
        bool any() const { return has_anchor || has_tag; }
    };
    struct Sequence {
        std::size_t begin = 0;
    };
    using Mapping = Sequence;

    EventBuilder(std::string& out, const TokenStream& tokens, Arena& arena, ParseErrors& errors)
        : out_(out), tokens_(tokens), arena_(arena), errors_(errors) {}

    bool anchor(Props& props, const Token& t) {
        props.anchor = t.text;
        props.has_anchor = true;
        return true;
    }
    bool tag(Props& props, const Token& t, TagHandles& handles);

    bool scalar(const Token& t, const Props& props, Node& out) {
        if (!open(out, "=VAL", props)) return true;
        out_ += ' ';
        out_ += style_indicator(t.style);
        escape(t.text);
        out_ += '\n';
        return true;
    }
    bool alias(const Token& t, Node& out) {
        if (!anchors_.contains(std::string(t.text)))
            return errors_.fail("unknown alias: *" + std::string(t.text), t.mark);
        out.begin = out_.size();
        if (!stopped()) out_.append("=ALI *").append(t.text).append("\n");
        return true;
    }
    void empty(const Props& props, const Mark&, Node& out) {
        if (open(out, "=VAL", props)) out_ += " :\n";
    }
    void node_done(const Props&, Node&) {}

    Sequence begin_sequence(const Props& props, const Token&, CollectionStyle style) {
        Node n;
        if (open(n, style == CollectionStyle::Flow ? "+SEQ []" : "+SEQ", props)) out_ += '\n';
        return Sequence{n.begin};
    }
    bool item(Sequence&, Node&&, const Mark&, const Mark*) { return true; }
    // "[a: b]": the pair is a one-entry flow mapping around the key and value.
    bool pair_item(Sequence&, Node&& key, const Mark&, Node&&) {
        if (stopped()) return true;
        out_.insert(key.begin, "+MAP {}\n");
        out_ += "-MAP\n";
        return true;
    }
    bool end_sequence(Sequence& seq, const Props&, Node& out) {
        write("-SEQ\n");
        out.begin = seq.begin;
        return true;
    }

    Mapping begin_mapping(const Props& props, const Token&, CollectionStyle style) {
        Node n;
        if (open(n, style == CollectionStyle::Flow ? "+MAP {}" : "+MAP", props)) out_ += '\n';
        return Mapping{n.begin};
    }
    bool key(const Node&, const Mark&) { return true; }
    bool pair(Mapping&, Node&&, const Mark&, Node&&, const Mark&) { return true; }
    bool end_mapping(Mapping& map, const Props&, Node& out) {
        write("-MAP\n");
        out.begin = map.begin;
        return true;
    }

    void begin_document(bool explicit_start) { write(explicit_start ? "+DOC ---\n" : "+DOC\n"); }
    void end_marker(bool explicit_end) { explicit_end_ = explicit_end; }
    bool end_document(Node&&, bool, bool) {
        write(explicit_end_ ? "-DOC ...\n" : "-DOC\n");
        anchors_.clear();  // anchors do not reach into the next document
        return true;
    }

  private:
    bool stopped() const { return tokens_.error().has_value(); }
    void write(std::string_view line) {
        if (!stopped()) out_ += line;
    }

    // Starts a node's event line: its name, then its anchor and tag; false
    // when nothing is written any more.
    bool open(Node& n, std::string_view event, const Props& props) {
        n.begin = out_.size();
        if (stopped()) return false;
        out_ += event;
        if (props.has_anchor) {
            out_.append(" &").append(props.anchor);
            anchors_.emplace(props.anchor);
        }
        if (props.has_tag) out_.append(" <").append(props.tag).append(">");
        return true;
    }

    static char style_indicator(ScalarStyle style) {
        switch (style) {
            case ScalarStyle::Plain:
                return ':';
            case ScalarStyle::SingleQuoted:
                return '\'';
            case ScalarStyle::DoubleQuoted:
                return '"';
            case ScalarStyle::Literal:
                return '|';
            case ScalarStyle::Folded:
                return '>';
        }
        return ':';
    }

    // The notation writes a scalar on one line: line breaks, tabs, backspaces,
    // carriage returns and backslashes become two-character escapes.
    void escape(std::string_view text) {
        for (char c : text) {
            switch (c) {
                case '\\':
                    out_ += "\\\\";
                    break;
                case '\n':
                    out_ += "\\n";
                    break;
                case '\t':
                    out_ += "\\t";
                    break;
                case '\b':
                    out_ += "\\b";
                    break;
                case '\r':
                    out_ += "\\r";
                    break;
                default:
                    out_ += c;
            }
        }
    }

    std::string& out_;
    const TokenStream& tokens_;
    Arena& arena_;
    ParseErrors& errors_;
    std::set<std::string, std::less<>> anchors_;
    bool explicit_end_ = false;
};

namespace event_tags {

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%21" in a tag shorthand stands for the character '!'.
inline std::string percent_decoded(std::string_view tag) {
    std::string out;
    out.reserve(tag.size());
    for (std::size_t i = 0; i < tag.size(); ++i) {
        const int hi = tag[i] == '%' && i + 2 < tag.size() ? hex_digit(tag[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_digit(tag[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += tag[i];
        }
    }
    return out;
}

}  // namespace event_tags

// The tag as the notation shows it: "!" alone is the non-specific tag "<!>",
// a verbatim tag loses its "!<" and ">", "!!x" without a %TAG for "!!" is the
// core tag "tag:yaml.org,2002:x", and a shorthand is expanded through the
// document's handles and percent-decoded.
inline bool EventBuilder::tag(Props& props, const Token& t, TagHandles& handles) {
    props.has_tag = true;
    if (t.text == "!") {
        props.tag = "!";
        return true;
    }
    if (t.text.starts_with("!<") && t.text.ends_with('>')) {
        props.tag = std::string(t.text.substr(2, t.text.size() - 3));
        return true;
    }
    const auto ex = handles.expand(t.text, arena_);
    if (ex.outcome == TagHandles::Outcome::UndefinedHandle)
        return errors_.fail("undefined tag handle: " + std::string(ex.handle), t.mark);
    std::string expanded(ex.tag);
    if (expanded.starts_with("!!")) expanded = std::string(kCoreTagPrefix) + expanded.substr(2);
    props.tag = event_tags::percent_decoded(expanded);
    return true;
}

}  // namespace quarvel
