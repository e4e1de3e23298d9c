// The values a round-trip document should read as after a series of edits,
// kept apart from the document's own trees. Each node of the model stands
// for one node of the trees: scalars hold what plain loading of the source
// reads them as, and an alias holds the identity of the node it stands for
// (not its name), so that an edit of an anchored node shows in each of its
// aliases, and an alias whose node was replaced away has nothing to stand for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "decode/decoder.hpp"
#include "parser/tag_expansion.hpp"
#include "roundtrip/document_state.hpp"
#include "roundtrip/node_path.hpp"
#include "support/stack.hpp"
#include "syntax/line_starts.hpp"

namespace quarvel::fuzz {

// Source lines of a node, first and last (0-based), when it came from the source.
struct LineRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint64_t end_offset = 0;  // just past the node's last character
    bool known = false;
};

struct ModelNode {
    enum class Kind : std::uint8_t { Leaf, Sequence, Mapping, Alias };
    Kind kind = Kind::Leaf;
    bool flow = false;                    // a flow collection of the source
    YamlValue leaf;                       // Leaf: the value, a Tagged one keeping its tag
    std::string wrap_tag;                 // Sequence, Mapping: a tag the value is wrapped in
    std::vector<ModelNode> children;      // items, or key, value, key, value, ...
    std::optional<std::string> anchor;    // decides nothing here; kept for make_alias
    std::optional<std::string> key_text;  // a scalar key's text: what paths name it by
    std::uint32_t id = 0;
    std::uint32_t target = 0;  // Alias: the id of the node it stands for
    LineRange lines;
};

// Where a document path leads in the model.
struct Located {
    ModelNode* node = nullptr;
    ModelNode* key = nullptr;       // the entry's key when the last step names one
    ModelNode* flow_top = nullptr;  // the outermost flow collection of the source on the way
    ModelNode* flow_key = nullptr;  // and the key of its entry
    bool shadowed = false;          // the document took an entry that loading drops
};

class Model {
  public:
    std::vector<ModelNode> roots;  // one per document of the stream, empty ones included
    // For each root of the document's trees, the model root it stands for.
    std::vector<std::size_t> doc_roots;
    Arena arena;  // texts and values made by edits

    // Lines up the document's roots, the roots of the stream composed with
    // its empty documents kept (`all`), and the decoded documents. False when
    // they do not line up one to one (merge keys reshape mappings).
    bool build(const NodeList& doc, const NodeList& all, DecodedStream&& decoded,
               std::string_view source) {
        decoded_ = std::move(decoded);
        if (all.size() != decoded_.documents.size()) return false;
        const LineStarts lines(source);
        std::size_t next_doc = 0;
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::unordered_map<std::string, std::uint32_t> names;
            ModelNode root;
            const bool kept = next_doc < doc.size() &&
                              doc[next_doc].span.offset == all[i].span.offset &&
                              doc[next_doc].kind == all[i].kind;
            const YamlNode& from = kept ? doc[next_doc] : all[i];
            if (!from_tree(from, decoded_.documents[i], root, names, source, lines)) return false;
            if (kept) {
                doc_roots.push_back(i);
                ++next_doc;
            }
            roots.push_back(std::move(root));
        }
        return next_doc == doc.size();
    }

    // Follows `path` through the document's trees and the model side by side.
    Located locate(NodeList& doc, const NodePath& path, ResolverMode mode) {
        Located at;
        if (doc.empty()) return at;
        std::size_t first_step = 0, root = 0;
        if (doc.size() > 1 && !path.empty()) {
            root = path[0].index;
            first_step = 1;
        }
        if (root >= doc.size()) return at;
        YamlNode* d = &doc[root];
        ModelNode* m = &roots[doc_roots[root]];
        for (std::size_t s = first_step; s < path.size(); ++s) {
            if (m->flow && !at.flow_top) {
                at.flow_top = m;
                at.flow_key = at.key;
            }
            const PathStep& step = path[s];
            at.key = nullptr;
            if (d->kind == NodeKind::Sequence && m->kind == ModelNode::Kind::Sequence &&
                step.is_index && step.index < d->children.size() &&
                d->children.size() == m->children.size()) {
                d = &d->children[step.index];
                m = &m->children[step.index];
                continue;
            }
            if (d->kind != NodeKind::Mapping || m->kind != ModelNode::Kind::Mapping ||
                step.is_index || d->children.size() != m->children.size())
                return {};
            const auto taken = find_entry(*d, step.key, mode);
            const auto kept = effective_entry(*m, step.key);
            if (!taken || !kept) return {};
            at.shadowed |= *taken != *kept;
            d = &d->value(*taken);
            at.key = &m->children[2 * *kept];
            m = &m->children[2 * *kept + 1];
        }
        if (m->flow && !at.flow_top) {
            at.flow_top = m;
            at.flow_key = at.key;
        }
        at.node = m;
        return at;
    }

    // The model node of a value made by an edit (ids fresh, no source lines).
    ModelNode node_for(const YamlValue& v) {
        ModelNode n;
        n.id = next_id_++;
        if (v.kind == ValueKind::Sequence || v.kind == ValueKind::Mapping) {
            n.kind = v.kind == ValueKind::Sequence ? ModelNode::Kind::Sequence
                                                   : ModelNode::Kind::Mapping;
            const bool mapping = v.kind == ValueKind::Mapping;
            for (std::size_t i = 0; i < v.children().size(); ++i) {
                n.children.push_back(node_for(v.children()[i]));
                if (mapping && i % 2 == 0 && v.children()[i].kind == ValueKind::String)
                    n.children.back().key_text = std::string(v.children()[i].text());
            }
        } else if (v.kind == ValueKind::Tagged && v.inner().is_collection()) {
            n = node_for(v.inner());
            n.wrap_tag = std::string(v.text());
        } else {
            n.leaf = v;
        }
        return n;
    }

    // `place` takes the content of `fresh`; the place keeps its identity
    // (aliases of it now see the new value), anchor, key text and lines.
    void replace(ModelNode& place, ModelNode&& fresh) {
        fresh.id = place.id;
        fresh.anchor = place.anchor;
        fresh.key_text = place.key_text;
        fresh.lines = place.lines;
        place = std::move(fresh);
    }

    void append_entry(ModelNode& mapping, std::string_view key, ModelNode&& value) {
        ModelNode k = node_for(YamlValue::string(arena.store(key)));
        k.key_text = std::string(key);
        mapping.children.push_back(std::move(k));
        mapping.children.push_back(std::move(value));
    }

    // The node an alias of `name` put in the place of `place` stands for:
    // the nearest before it in document order (keys before values).
    const ModelNode* definition_before(std::size_t doc_root, std::string_view name,
                                       const ModelNode* place) const {
        const ModelNode* found = nullptr;
        last_anchor_before(roots[doc_roots[doc_root]], name, place, found);
        return found;
    }

    void make_alias(ModelNode& place, std::uint32_t target) {
        ModelNode alias;
        alias.kind = ModelNode::Kind::Alias;
        alias.target = target;
        replace(place, std::move(alias));
        place.anchor.reset();
    }

    // The alias becomes a copy of what it stands for, aliases inside
    // expanded and no anchor kept. False when it stands for nothing.
    bool detach(ModelNode& place) {
        const auto index = index_ids();
        const auto it = index.find(place.target);
        if (it == index.end()) return false;
        ModelNode copy = expanding_copy(*it->second, index, 0);
        replace(place, std::move(copy));
        place.anchor.reset();
        return true;
    }

    // Some alias stands for the node `id`.
    bool aliased(std::uint32_t id) const {
        std::vector<const ModelNode*> stack;
        for (const ModelNode& r : roots) stack.push_back(&r);
        while (!stack.empty()) {
            const ModelNode* n = stack.back();
            stack.pop_back();
            if (n->kind == ModelNode::Kind::Alias && n->target == id) return true;
            for (const ModelNode& c : n->children) stack.push_back(&c);
        }
        return false;
    }

    // Some alias stands for a node that an edit replaced away.
    bool has_dangling_alias() const {
        const auto index = index_ids();
        std::vector<const ModelNode*> stack;
        for (const ModelNode& r : roots) stack.push_back(&r);
        while (!stack.empty()) {
            const ModelNode* n = stack.back();
            stack.pop_back();
            if (n->kind == ModelNode::Kind::Alias && !index.contains(n->target)) return true;
            for (const ModelNode& c : n->children) stack.push_back(&c);
        }
        return false;
    }

    // The values of every root, with aliases expanded; nullopt when the
    // expansion grows past what a check can afford.
    std::optional<std::vector<YamlValue>> values() {
        const auto index = index_ids();
        std::vector<YamlValue> out;
        std::size_t budget = kBudget;
        for (const ModelNode& r : roots) {
            auto v = expand(r, index, budget);
            if (!v) return std::nullopt;
            out.push_back(*v);
        }
        return out;
    }

    // `v` with duplicate keys read as a dictionary does: the first key's
    // place, the last value.
    YamlValue dictionary_form(const YamlValue& v) {
        if (v.kind == ValueKind::Tagged)
            return YamlValue::tagged(arena, v.text(), dictionary_form(v.inner()));
        if (v.kind == ValueKind::Sequence) {
            ValueList items;
            for (const YamlValue& c : v.children())
                items.push_back(ensure_stack([&] { return dictionary_form(c); }));
            return YamlValue::sequence(arena, items);
        }
        if (v.kind != ValueKind::Mapping) return v;
        ValueList entries;
        std::unordered_map<std::string, std::size_t> seen;
        for (std::size_t i = 0; i < v.map_size(); ++i) {
            const YamlValue key = ensure_stack([&] { return dictionary_form(v.key(i)); });
            const YamlValue value = ensure_stack([&] { return dictionary_form(v.value(i)); });
            std::string canonical;
            append_canonical_key(key, canonical);
            auto [at, fresh] = seen.emplace(std::move(canonical), entries.size());
            if (fresh) {
                entries.push_back(key);
                entries.push_back(value);
            } else {
                entries[at->second + 1] = value;
            }
        }
        return YamlValue::mapping(arena, entries);
    }

  private:
    static constexpr std::size_t kBudget = 200000;
    using Index = std::unordered_map<std::uint32_t, const ModelNode*>;

    static std::uint32_t last_line(const YamlNode& n) {
        if (n.end_line > n.span.line && n.end_column == 0) return n.end_line - 1;
        return std::max(n.end_line, n.span.line);
    }

    // The lines a node stands on, from its anchor or tag (which may stand on
    // a line of their own above a block collection) to its end.
    static LineRange lines_of(const YamlNode& n, std::string_view source, const LineStarts& lines) {
        LineRange r;
        if (n.kind == NodeKind::Null && !n.anchor() && !n.tag())
            return r;  // its span is the next token's
        if (n.span.file_id != 0 || n.span.offset > source.size()) return r;
        r.first = n.span.line;
        r.last = last_line(n);
        r.end_offset = n.end_offset;
        r.known = true;
        const std::string_view before = source.substr(0, n.span.offset);
        auto raise_to = [&](std::string_view written) {
            const std::size_t at = before.rfind(written);
            if (at != std::string_view::npos) r.first = std::min(r.first, lines.line_of(at));
        };
        if (n.anchor()) raise_to(*n.anchor());
        if (n.tag()) raise_to(*n.tag());
        return r;
    }

    bool from_tree(const YamlNode& s, YamlValue v, ModelNode& out,
                   std::unordered_map<std::string, std::uint32_t>& names, std::string_view source,
                   const LineStarts& lines) {
        out.id = next_id_++;
        out.lines = lines_of(s, source, lines);
        if (s.anchor()) {
            out.anchor = std::string(*s.anchor());
            names[*out.anchor] = out.id;
        }
        if (s.kind == NodeKind::Alias) {
            const auto it = names.find(std::string(s.text));
            if (it == names.end()) return false;
            out.kind = ModelNode::Kind::Alias;
            out.target = it->second;
            return true;
        }
        if (!s.is_collection()) {
            out.leaf = v;
            return true;
        }
        if (v.kind == ValueKind::Tagged) {
            out.wrap_tag = std::string(v.text());
            v = v.inner();
        }
        const bool mapping = s.kind == NodeKind::Mapping;
        if (v.kind != (mapping ? ValueKind::Mapping : ValueKind::Sequence) ||
            v.children().size() != s.children.size())
            return false;
        out.kind = mapping ? ModelNode::Kind::Mapping : ModelNode::Kind::Sequence;
        out.flow = s.style == CollectionStyle::Flow;
        out.children.resize(s.children.size());
        for (std::size_t i = 0; i < s.children.size(); ++i) {
            const YamlNode& c = s.children[i];
            if (mapping && i % 2 == 0 && c.kind == NodeKind::Scalar) {
                // A merge key reshapes the decoded mapping.
                if (c.text == "<<" && c.scalar_style == ScalarStyle::Plain) return false;
                out.children[i].key_text = std::string(c.text);
            }
            if (!ensure_stack([&] {
                    return from_tree(c, v.children()[i], out.children[i], names, source, lines);
                }))
                return false;
        }
        if (!mapping) place_empty_items(out, s, source, lines);
        if (out.flow) close_flow(out, mapping ? '}' : ']', source, lines);
        // A collection's recorded end is that of its last item, which leaves
        // out the closing bracket of a flow collection in it.
        for (const ModelNode& c : out.children) {
            if (!c.lines.known || !out.lines.known) continue;
            out.lines.last = std::max(out.lines.last, c.lines.last);
            out.lines.end_offset = std::max(out.lines.end_offset, c.lines.end_offset);
        }
        return true;
    }

    // An empty block item stands on the line of its "-" (its recorded
    // position is that of the token after it).
    static void place_empty_items(ModelNode& seq, const YamlNode& s, std::string_view source,
                                  const LineStarts& lines) {
        if (s.style != CollectionStyle::Block) return;
        for (std::size_t i = 0; i < s.children.size(); ++i) {
            const YamlNode& item = s.children[i];
            if (seq.children[i].lines.known || item.kind != NodeKind::Null) continue;
            if (item.span.file_id != 0 || item.span.offset > source.size()) continue;
            const std::size_t dash = source.substr(0, item.span.offset).rfind('-');
            if (dash == std::string_view::npos) continue;
            LineRange& r = seq.children[i].lines;
            r.first = r.last = lines.line_of(dash);
            r.end_offset = dash + 1;
            r.known = true;
        }
    }

    // A flow collection ends at its closing bracket, which its recorded end
    // (that of its last item) leaves out: the bracket may stand lines below.
    static void close_flow(ModelNode& n, char bracket, std::string_view source,
                           const LineStarts& lines) {
        if (!n.lines.known) return;
        std::uint64_t from = n.lines.end_offset + (n.children.empty() ? 1 : 0);
        for (const ModelNode& c : n.children)
            if (c.lines.known) from = std::max(from, c.lines.end_offset);
        for (std::uint64_t i = from; i < source.size(); ++i) {
            if (source[i] == '#') {  // a comment runs to the end of its line
                while (i < source.size() && source[i] != '\n') ++i;
                continue;
            }
            if (source[i] != bracket) continue;
            n.lines.end_offset = i + 1;
            n.lines.last = std::max(n.lines.last, lines.line_of(i));
            return;
        }
    }

    // The entry loading keeps in place of the one a key step names (the last
    // entry with that text): the last whose key equals that entry's key.
    std::optional<std::size_t> effective_entry(const ModelNode& m, std::string_view text) {
        const std::size_t n = m.children.size() / 2;
        std::size_t named = n;
        for (std::size_t i = n; i-- > 0 && named == n;)
            if (m.children[2 * i].key_text == text) named = i;
        if (named == n) return std::nullopt;
        const auto index = index_ids();
        const std::string wanted = canonical_key(m.children[2 * named], index);
        std::size_t kept = named;
        for (std::size_t i = named + 1; i < n; ++i)
            if (canonical_key(m.children[2 * i], index) == wanted) kept = i;
        return kept;
    }

    std::string canonical_key(const ModelNode& key, const Index& index) {
        std::size_t budget = kBudget;
        std::string out;
        if (auto v = expand(key, index, budget)) append_canonical_key(dictionary_form(*v), out);
        return out;
    }

    // False once the walk reaches `place`.
    static bool last_anchor_before(const ModelNode& n, std::string_view name,
                                   const ModelNode* place, const ModelNode*& found) {
        if (&n == place) return false;
        if (n.anchor && *n.anchor == name) found = &n;
        for (const ModelNode& c : n.children)
            if (!ensure_stack([&] { return last_anchor_before(c, name, place, found); }))
                return false;
        return true;
    }

    Index index_ids() const {
        Index index;
        for (const ModelNode& r : roots) index_ids(r, index);
        return index;
    }

    static void index_ids(const ModelNode& n, Index& index) {
        index.emplace(n.id, &n);
        for (const ModelNode& c : n.children) ensure_stack([&] { index_ids(c, index); });
    }

    ModelNode expanding_copy(const ModelNode& from, const Index& index, unsigned depth) {
        if (from.kind == ModelNode::Kind::Alias && depth < 100) {
            const auto it = index.find(from.target);
            if (it != index.end())
                return ensure_stack([&] { return expanding_copy(*it->second, index, depth + 1); });
        }
        ModelNode copy;
        copy.kind = from.kind;
        copy.leaf = from.leaf;
        copy.wrap_tag = from.wrap_tag;
        copy.key_text = from.key_text;
        copy.target = from.target;
        copy.id = next_id_++;
        for (const ModelNode& c : from.children)
            copy.children.push_back(ensure_stack([&] { return expanding_copy(c, index, depth); }));
        return copy;
    }

    std::optional<YamlValue> expand(const ModelNode& n, const Index& index, std::size_t& budget) {
        if (budget == 0) return std::nullopt;
        --budget;
        switch (n.kind) {
            case ModelNode::Kind::Leaf:
                return n.leaf;
            case ModelNode::Kind::Alias: {
                const auto it = index.find(n.target);
                // What an alias of a node that is gone stands for: no value
                // a document can hold.
                if (it == index.end()) return YamlValue::tagged(arena, "(dangling alias)", {});
                return ensure_stack([&] { return expand(*it->second, index, budget); });
            }
            case ModelNode::Kind::Sequence:
            case ModelNode::Kind::Mapping:
                break;
        }
        ValueList items;
        for (const ModelNode& c : n.children) {
            auto v = ensure_stack([&] { return expand(c, index, budget); });
            if (!v) return std::nullopt;
            items.push_back(*v);
        }
        YamlValue out = n.kind == ModelNode::Kind::Sequence ? YamlValue::sequence(arena, items)
                                                            : YamlValue::mapping(arena, items);
        if (!n.wrap_tag.empty()) out = YamlValue::tagged(arena, arena.store(n.wrap_tag), out);
        return out;
    }

    DecodedStream decoded_;  // the values leaves point into
    std::uint32_t next_id_ = 1;
};

}  // namespace quarvel::fuzz
