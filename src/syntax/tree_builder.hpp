// The tree composer: the parser's builder that makes YamlNode trees. It keeps
// what was written: tags unexpanded, a later anchor or tag replacing an
// earlier one on the same node, aliases as aliases, empty explicit documents
// as null roots when asked to keep them. Every node gets its exact extent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/parser.hpp"
#include "support/core_tag.hpp"
#include "syntax/compose.hpp"
#include "syntax/line_starts.hpp"
#include "syntax/node.hpp"

namespace quarvel {

class TreeBuilder {
  public:
    using Node = YamlNode;

    struct Props {
        std::string_view anchor;
        std::string_view tag;
        std::string_view expanded_tag;  // empty when the handles change nothing
        bool has_anchor = false;
        bool has_tag = false;
        bool any() const { return has_anchor || has_tag; }
    };
    // Children gather on one scratch stack; a collection moves its run into an
    // exactly sized vector when it ends.
    struct Sequence {
        std::size_t base;
        Mark start;
        CollectionStyle style;
    };
    using Mapping = Sequence;

    // `text` is the whole text being composed; `keep_empty` keeps empty
    // explicit documents as null roots.
    TreeBuilder(std::string_view text, const LineStarts& lines, bool keep_empty,
                SyntaxForest& forest, ParseErrors& errors, const ComposeChecks& checks)
        : text_(text),
          lines_(lines),
          keep_empty_(keep_empty),
          forest_(forest),
          roots_(forest.roots),
          arena_(forest.arena),
          errors_(errors),
          checks_(checks) {}

    bool anchor(Props& props, const Token& t) {
        props.anchor = t.text;
        props.has_anchor = true;
        return true;
    }
    // Kept as written; a tag that a %TAG handle rewrites also keeps its
    // expansion for conversion. A handle no directive defines is not an
    // error here: the tag stays as written.
    bool tag(Props& props, const Token& t, TagHandles& handles) {
        props.tag = t.text;
        props.has_tag = true;
        forest_.has_tags = true;
        props.expanded_tag = {};
        const auto ex = handles.expand(t.text, arena_);
        if (checks_.strict && ex.outcome == TagHandles::Outcome::UndefinedHandle)
            return errors_.fail("undefined tag handle: " + std::string(ex.handle), t.mark);
        if (ex.outcome == TagHandles::Outcome::Ok && (ex.tag != t.text || through_handle(t.text)) &&
            !core_short_form(t.text, ex.tag))
            props.expanded_tag = ex.tag;
        return true;
    }

    bool scalar(const Token& t, const Props& props, YamlNode& out);
    bool alias(const Token& t, YamlNode& out) {
        forest_.has_aliases = true;
        start(out, NodeKind::Alias, t.mark, Props{});
        out.text = t.text;
        return true;
    }
    void empty(const Props& props, const Mark& mark, YamlNode& out) {
        start(out, NodeKind::Null, mark, props);
    }
    void node_done(const Props&, YamlNode&) {}

    Sequence begin_sequence(const Props&, const Token& t, CollectionStyle style) {
        return Sequence{scratch_.size(), t.mark, style};
    }
    bool item(Sequence&, YamlNode&& item, const Mark&, const Mark* dash) {
        if (dash != nullptr && item.span.line == dash->line) same_line_item(item, *dash);
        scratch_.push_back(std::move(item));
        return true;
    }
    bool pair_item(Sequence&, YamlNode&& key, const Mark&, YamlNode&& value);
    bool end_sequence(Sequence& seq, const Props& props, YamlNode& out) {
        collect(seq, NodeKind::Sequence, props, out);
        return true;
    }

    Mapping begin_mapping(const Props&, const Token& t, CollectionStyle style) {
        return Mapping{scratch_.size(), t.mark, style};
    }
    // Collection keys, when refused: a tag the resolver does not read makes
    // the key an application value, as in plain loading.
    bool key(const YamlNode& k, const Mark& mark) {
        if (!checks_.reject_complex_keys || !k.is_collection()) return true;
        const std::string_view tag = k.effective_tag();
        if (!tag.empty() && !is_standard_tag(tag)) return true;
        const char* what = k.kind == NodeKind::Sequence ? "a sequence" : "a mapping";
        return errors_.fail(std::string("complex mapping key (") + what + " used as a key)", mark,
                            syntax_kind::complex_key);
    }
    bool pair(Mapping&, YamlNode&& key, const Mark&, YamlNode&& value, const Mark&) {
        scratch_.push_back(std::move(key));
        scratch_.push_back(std::move(value));
        return true;
    }
    bool end_mapping(Mapping& map, const Props& props, YamlNode& out) {
        collect(map, NodeKind::Mapping, props, out);
        return true;
    }

    bool end_document(YamlNode&& root, bool has_root, bool explicit_start);

  private:
    // "!m!x": a tag written through a named handle, which only a %TAG
    // directive defines. Its expansion is kept even when it reads the same as
    // the written text ("%TAG !m! !m!"): the text means that only under the
    // directive.
    static bool through_handle(std::string_view written) {
        if (!written.starts_with('!') || written.starts_with("!<")) return false;
        const std::size_t second = written.find('!', 1);
        return second != std::string_view::npos && second > 1;
    }

    // "!!int" read as "tag:yaml.org,2002:int": the written form says it all.
    static bool core_short_form(std::string_view written, std::string_view expanded) {
        return written.starts_with("!!") && expanded.starts_with(kCoreTagPrefix) &&
               expanded.substr(kCoreTagPrefix.size()) == written.substr(2);
    }

    // A node of `kind` starting at `mark` with the properties, ending where
    // it starts.
    static void start(YamlNode& out, NodeKind kind, const Mark& mark, const Props& props) {
        out.kind = kind;
        out.span = Span{mark.file, mark.line, mark.column, mark.offset};
        out.end_offset = mark.offset;
        out.end_line = mark.line;
        out.end_column = mark.column;
        if (props.has_anchor) out.set_anchor(props.anchor);
        if (props.has_tag) {
            out.set_tag(props.tag);
            out.set_expanded_tag(props.expanded_tag);
        }
    }
    void same_line_item(YamlNode& item, const Mark& dash);
    void collect(const Sequence& seq, NodeKind kind, const Props& props, YamlNode& out);
    // `counted_column`: the end column when the scanner counted it (a
    // scalar on one line), else 0.
    void set_end(YamlNode& node, std::uint64_t end, std::uint32_t counted_column);

    std::string_view text_;
    const LineStarts& lines_;
    bool keep_empty_;
    SyntaxForest& forest_;
    NodeList& roots_;
    Arena& arena_;
    ParseErrors& errors_;
    const ComposeChecks& checks_;
    NodeList scratch_;
};

}  // namespace quarvel
