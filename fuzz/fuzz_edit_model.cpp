// Edits of a round-trip document checked against a model of its values.
// The text is composed into the document's trees and decoded into plain
// values (the model); a script of edits runs on both, a refused edit
// changing neither. The re-emitted stream must then compose and decode, read
// as the model's values (duplicate keys read as a dictionary reads them),
// and, when built with QUARVEL_FUZZ_KEPT_LINES, keep every source line that
// no edit touched, in order.
//
// Input: a byte of switches, a byte with the number of edits, three bytes
// per edit (what, which node, which value or name), then the text.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoder.hpp"
#include "edit_model.hpp"
#include "kept_lines.hpp"
#include "roundtrip/alias_refs.hpp"
#include "roundtrip/edits.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/value_tag.hpp"
#include "support/float_format.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "tree_fingerprint.hpp"

#ifndef QUARVEL_FUZZ_KEPT_LINES
#define QUARVEL_FUZZ_KEPT_LINES 0
#endif

namespace {

using namespace quarvel;
using fuzz::Located;
using fuzz::Model;
using fuzz::ModelNode;
using namespace std::string_view_literals;

constexpr std::size_t kMaxEdits = 24;

[[noreturn]] void fail(const char* what, std::string_view source, std::string_view output) {
    std::fprintf(stderr, "edit model: %s\n--- source\n%.*s\n--- output\n%.*s\n---\n", what,
                 static_cast<int>(source.size()), source.data(), static_cast<int>(output.size()),
                 output.data());
    std::abort();
}

void trace_edit(std::uint8_t what, const NodePath& path, std::uint8_t arg, bool done) {
    static constexpr const char* kWhat[] = {"value",  "tagged value", "assign into",
                                            "anchor", "clear anchor", "make alias",
                                            "detach", "comment",      "comment before"};
    std::string shown;
    for (const PathStep& step : path) {
        shown += '/';
        shown += step.is_index       ? std::to_string(step.index)
                 : step.is_entry_key ? "key " + std::to_string(step.index)
                                     : step.key;
    }
    std::fprintf(stderr, "edit: %s at '%s' arg %u: %s\n", kWhat[what % 9], shown.c_str(), arg,
                 done ? "done" : "refused");
}

// Sources the composer reads but whose control characters need not come
// back the same when re-emitted (the plain round trip excludes them too).
bool printable(std::string_view text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
    return true;
}

// A character a YAML stream may not hold: control characters but tab and
// line breaks, and a byte order mark after the start.
bool unwritable(char32_t c, bool first) {
    if (c < 0x20) return c != '\t' && c != '\n' && c != '\r';
    if (c >= 0x7F && c <= 0x9F) return c != 0x85;
    if (c == 0xFEFF) return !first;
    return c == 0xFFFE || c == 0xFFFF;
}

// The line breaks YAML 1.1 knows beyond LF and CR: NEL, LS and PS.
bool wide_break(char32_t c) {
    return c == 0x85 || c == 0x2028 || c == 0x2029;
}

struct CharCounts {
    // Characters a stream may not hold, by kind: a node copied from
    // elsewhere in the source (detach) repeats that source's comments, so
    // the output may hold more of the source's own, but no other.
    std::set<char32_t> unwritable_kinds;
    std::size_t wide_breaks = 0;
    std::size_t lone_returns = 0;  // CR not followed by LF
};

CharCounts count_chars(std::string_view text) {
    CharCounts n;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = len == 1 ? b : b & (0x7F >> len);
        for (std::size_t k = 1; k < len && i + k < text.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (unwritable(c, i == 0)) n.unwritable_kinds.insert(c);
        n.wide_breaks += wide_break(c);
        n.lone_returns += c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        i += len;
    }
    return n;
}

// The values an edit assigns: scalars of every resolved kind, strings that
// cannot stay plain, and small collections.
YamlValue fresh_value(std::uint8_t pick, Arena& arena) {
    auto text = [&](std::string_view s) { return YamlValue::string(arena.store(s)); };
    switch (pick % 24) {
        case 0:
            return YamlValue::null();
        case 1:
            return YamlValue::from_bool(true);
        case 2:
            return YamlValue::from_bool(false);
        case 3:
            return YamlValue::from_int(0);
        case 4:
            return YamlValue::from_int(-7);
        case 5:
            return YamlValue::big_int(arena.store("123456789012345678901234"));
        case 6:
            return YamlValue::from_float(1.5);
        case 7:
            return YamlValue::from_float(std::numeric_limits<double>::quiet_NaN());
        case 8:
            return YamlValue::from_float(-std::numeric_limits<double>::infinity());
        case 9:
            return text("a");
        case 10:
            return text("");
        case 11:
            return text("1");
        case 12:
            return text("null");
        case 13:
            return text("yes");
        case 14:
            return text("a: b");
        case 15:
            return text("- x");
        case 16:
            return text("x\ny");
        case 17:
            return text(" lead");
        case 18:
            return text("#");
        case 19:
            return text("'\"");
        case 20:
            return YamlValue::empty_mapping();
        case 21:
            return YamlValue::empty_sequence();
        case 22: {
            ValueList inner{text("x")};
            ValueList entries{text("a"), YamlValue::from_int(1), text("b c"),
                              YamlValue::sequence(arena, inner)};
            return YamlValue::mapping(arena, entries);
        }
        default: {
            ValueList entry{text("k"), text("v")};
            ValueList items{YamlValue::null(), text("z"), YamlValue::mapping(arena, entry)};
            return YamlValue::sequence(arena, items);
        }
    }
}

// The tree node an assignment of `v` makes, as the binding builds it from
// the equal Python value.
YamlNode tree_node_for(const YamlValue& v, DocumentState& doc) {
    YamlNode n;
    auto plain = [&](std::string_view text) {
        n.kind = NodeKind::Scalar;
        n.text = doc.arena().store(text);
    };
    switch (v.kind) {
        case ValueKind::Null:
            n.kind = NodeKind::Null;
            n.synthetic = true;
            break;
        case ValueKind::Bool:
            plain(v.boolean ? "true" : "false");
            break;
        case ValueKind::Int:
            plain(std::to_string(v.integer));
            break;
        case ValueKind::BigInt:
            plain(v.text());
            break;
        case ValueKind::Float: {
            std::string text;
            format_float(v.real, text);
            plain(text);
            break;
        }
        case ValueKind::String:
            plain(v.text());
            n.scalar_style = style_for_new_text(v.text(), doc.settings);
            break;
        case ValueKind::Sequence:
        case ValueKind::Mapping:
            n.kind = v.kind == ValueKind::Sequence ? NodeKind::Sequence : NodeKind::Mapping;
            for (const YamlValue& c : v.children()) n.children.push_back(tree_node_for(c, doc));
            break;
        case ValueKind::Tagged:
            break;
    }
    return n;
}

bool scalar_kind(ValueKind k) {
    return k != ValueKind::Sequence && k != ValueKind::Mapping;
}

// A standard tag that reads `v` as itself.
std::string_view fitting_core_tag(const YamlValue& v) {
    switch (v.kind) {
        case ValueKind::Null:
            return "!!null";
        case ValueKind::Bool:
            return "!!bool";
        case ValueKind::Int:
        case ValueKind::BigInt:
            return "!!int";
        case ValueKind::Float:
            return "!!float";
        case ValueKind::String:
            return "!!str";
        case ValueKind::Sequence:
            return "!!seq";
        default:
            return "!!map";
    }
}

// What `v` reads as under the application tag `tag`: a scalar's text as a
// string, a collection as it is, either wrapped in the tag.
YamlValue under_custom_tag(const YamlValue& v, const YamlNode& written, std::string_view tag,
                           EditNullStyle nulls, Arena& arena) {
    if (!scalar_kind(v.kind)) return YamlValue::tagged(arena, arena.store(tag), v);
    // A null made by an edit is spelled out under a tag ("!t" alone is "").
    const std::string_view null_text =
        written.synthetic && nulls == EditNullStyle::Tilde ? "~" : "null";
    const std::string_view text = written.kind == NodeKind::Null ? null_text : written.text;
    return YamlValue::tagged(arena, arena.store(tag), YamlValue::string(arena.store(text)));
}

// What an assigned value should read back as, given the tag the edit
// writes it with (the document's own rule decides that tag): a standard tag
// reads it as it is, an application tag or "!" wraps it.
YamlValue expected_value(const YamlValue& v, const YamlNode& written,
                         std::optional<std::string_view> tag, EditNullStyle nulls, Arena& arena) {
    if (!tag || is_resolver_tag(*tag)) return v;
    return under_custom_tag(v, written, *tag, nulls, arena);
}

// The tag `fresh` is written with in the place of `old`.
std::optional<std::string_view> written_tag(const YamlNode* old, const YamlNode& fresh,
                                            ResolverMode mode) {
    YamlNode probe = fresh.copy_shallow();
    if (old) carry_tag(*old, probe, mode);
    if (!probe.tag()) return std::nullopt;
    return probe.effective_tag();
}

constexpr std::string_view kAnchorNames[] = {
    "a", "b", "k", "x", "n", "", "a b", "x\x00"sv, "x\x7f", "x\xef\xbb\xbf", "x,y", "\xc3\xa9"};
constexpr std::string_view kComments[] = {"note",  "",        "x\x00"sv,      "a\nb",
                                          "a\rb",  "x\ry: 2", "\xe2\x80\xa8", "x\x7f",
                                          " lead", "#x",      "l1\nl2"};
constexpr std::string_view kKeys[] = {"a", "b", "c", "new key", "1", "null", ""};

template <std::size_t N>
std::string_view pick_from(const std::string_view (&list)[N], std::uint8_t arg) {
    return list[arg % N];
}

// Anchor names of the trees, then the fixed ones.
std::string_view anchor_name(const DocumentState& s, std::uint8_t arg) {
    std::vector<std::string_view> names;
    std::vector<const YamlNode*> stack;
    for (const YamlNode& r : s.roots()) stack.push_back(&r);
    while (!stack.empty() && names.size() < 64) {
        const YamlNode* n = stack.back();
        stack.pop_back();
        if (n->anchor()) names.push_back(*n->anchor());
        for (const YamlNode& c : n->children) stack.push_back(&c);
    }
    if (arg & 1 || names.empty()) return pick_from(kAnchorNames, arg >> 1);
    return names[(arg >> 1) % names.size()];
}

std::vector<NodePath> addressable(DocumentState& s) {
    std::vector<NodePath> paths;
    auto& roots = s.roots();
    for (std::size_t i = 0; i < roots.size(); ++i) {
        NodePath p = root_path(roots, i);
        walk_addressable(roots[i], p, s.mode, [&](YamlNode&, const NodePath& at) {
            paths.push_back(at);
            return paths.size() < 4096;
        });
    }
    return paths;
}

struct Run {
    DocumentState& doc;
    Model& model;
    fuzz::TouchedLines& touched;
    std::vector<std::string_view> source_lines;

    void touch(const ModelNode* n) {
        if (n && n->lines.known) touched.add(n->lines.first, n->lines.last);
    }

    // The node's lines, its entry's key line, and the flow collection it
    // lies in (which the emitter writes anew on one line).
    void touch_entry(const Located& at) {
        touch(at.node);
        touch(at.key);
        touch(at.flow_top);
        touch(at.flow_key);
    }

    // Head comments: the comment and blank lines directly above the node.
    void touch_above(const ModelNode* n) {
        if (!n || !n->lines.known) return;
        std::uint32_t first = n->lines.first;
        while (first > 0 && first - 1 < source_lines.size() &&
               fuzz::comment_or_blank(source_lines[first - 1]))
            --first;
        touched.add(first, n->lines.first);
    }

    // The aliases of a node name it by its anchor: renaming or removing
    // the anchor leaves them naming nothing (or another node).
    void check_not_aliased(const ModelNode& n) {
        if (model.aliased(n.id))
            fail("an accepted anchor change orphaned its aliases", doc.source, {});
    }

    // An assignment: `fresh` (with `given` as its tag) in the place of
    // the model's `place`, the tree's `old` node.
    ModelNode expected_node(const YamlValue& v, const YamlNode& written, const YamlNode* old) {
        const auto tag = written_tag(old, written, doc.mode);
        return model.node_for(
            expected_value(v, written, tag, doc.settings.null_style, model.arena));
    }

    // Runs one edit; false when it was refused.
    bool edit(std::uint8_t what, const NodePath& path, std::uint8_t arg, bool& shadowed) {
        auto& roots = doc.roots();
        YamlNode* node = resolve_path(roots, path, doc.mode);
        const Located at = model.locate(roots, path, doc.mode);
        if (!node) fail("a path of the walk does not resolve", doc.source, {});
        shadowed = at.shadowed || !at.node;
        switch (what % 9) {
            case 0:
            case 1: {
                // node.value = v, or tagged: node.value = QuarvelTag(tag, v),
                // checked as the binding checks it.
                if (!check_replace(roots, doc.mode, path)) return false;
                const YamlValue v = fresh_value(arg >> 1, model.arena);
                YamlNode fresh = tree_node_for(v, doc);
                std::optional<std::string_view> given;
                if (what % 9 == 1)
                    given = (arg & 1) ? std::string_view((arg & 2) ? "!t" : "!local")
                                      : fitting_core_tag(v);
                if (given && !check_primary_handle(doc.source, *given)) return false;
                if (given) fresh.set_tag(doc.arena().store(*given));
                ModelNode expected = expected_node(v, fresh, node);
                replace_node(doc, *node, std::move(fresh));
                touch_entry(at);
                if (at.node) model.replace(*at.node, std::move(expected));
                return true;
            }
            case 2:
                return assign_into(*node, path, at, arg, shadowed);
            case 3: {
                const std::string_view name = anchor_name(doc, arg);
                if (!set_anchor(doc, path, name)) return false;
                // "&a *b" does not parse.
                if (node->kind == NodeKind::Alias)
                    fail("an alias accepted an anchor", doc.source, {});
                touch_entry(at);
                if (at.node) {
                    if (at.node->anchor != name) check_not_aliased(*at.node);
                    at.node->anchor = std::string(name);
                }
                return true;
            }
            case 4:
                if (!set_anchor(doc, path, std::nullopt)) return false;
                touch_entry(at);
                if (at.node) {
                    if (at.node->anchor) check_not_aliased(*at.node);
                    at.node->anchor.reset();
                }
                return true;
            case 5: {
                const std::string_view name = anchor_name(doc, arg);
                const std::size_t root = root_of(roots, path);
                const ModelNode* target = model.definition_before(root, name, at.node);
                if (!make_alias(doc, path, name)) return false;
                touch_entry(at);
                if (at.node) {
                    if (!target)
                        fail("make_alias accepted a name the model does not know", doc.source, {});
                    model.make_alias(*at.node, target->id);
                }
                return true;
            }
            case 6:
                if (!detach_alias(doc, path)) return false;
                touch_entry(at);
                if (at.node && !model.detach(*at.node))
                    fail("detach accepted an alias of a node that is gone", doc.source, {});
                return true;
            case 7: {
                const std::optional<std::string_view> text =
                    (arg & 1) ? std::nullopt : std::optional(pick_from(kComments, arg >> 1));
                if (!set_inline_comment(doc, *node, text)) return false;
                touch_entry(at);
                shadowed = false;
                return true;
            }
            default: {
                const std::optional<std::string_view> text =
                    (arg & 1) ? std::nullopt : std::optional(pick_from(kComments, arg >> 1));
                YamlNode* target = comment_before_target(doc, path);
                (void)set_head_comments(doc, target ? *target : *node, text);
                touch_above(!path.empty() && !path.back().is_index && at.key ? at.key : at.node);
                shadowed = false;
                return true;
            }
        }
    }

    // container[key] = v: replaces an entry's value or an item, or appends
    // an entry to a mapping.
    bool assign_into(YamlNode& container, const NodePath& path, const Located& at, std::uint8_t arg,
                     bool& shadowed) {
        const YamlValue v = fresh_value(arg >> 3, model.arena);
        const PathStep step = container.kind == NodeKind::Sequence
                                  ? PathStep::of_index((arg & 7) % (container.children.size() + 1))
                                  : PathStep::of_key(pick_from(kKeys, arg & 7));
        // Checked as the binding checks it.
        if (!check_assignment_refs(doc.roots(), doc.mode, path, step)) return false;
        const YamlNode* old = step_into(container, step, doc.mode);
        Located item;
        if (old) {
            NodePath child = path;
            child.push_back(step);
            item = model.locate(doc.roots(), child, doc.mode);
            shadowed = item.shadowed || !item.node;
        }
        YamlNode fresh = tree_node_for(v, doc);
        ModelNode expected = expected_node(v, fresh, old);
        if (!assign_item(doc, container, step, std::move(fresh))) return false;
        if (old) {
            touch_entry(item);
            if (item.node) model.replace(*item.node, std::move(expected));
        } else if (at.node) {
            // A new entry; a flow or empty mapping is written anew.
            if (at.node->flow || at.node->children.empty()) touch_entry(at);
            touch(at.flow_top);
            touch(at.flow_key);
            model.append_entry(*at.node, step.key, std::move(expected));
        }
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t switches = data[0];
    const std::size_t script_size =
        std::min<std::size_t>(std::min<std::size_t>(data[1], kMaxEdits) * 3, size - 2);
    const std::uint8_t* script = data + 2;
    const std::string_view raw(reinterpret_cast<const char*>(script + script_size),
                               size - 2 - script_size);
    auto text = utf8::decode_input(raw);
    if (!text || !printable(*text)) return 0;
    DocumentSettings settings;
    settings.prefer_double_quotes = !(switches & 1);
    settings.null_style = static_cast<EditNullStyle>(((switches >> 1) & 3) % 3);
    auto state = compose_document(std::move(*text), settings);
    if (!state) return 0;
    DocumentState& s = **state;
    // Decoded from the document's own copy: the values hold views into it.
    auto decoded = decode(s.source, {});
    if (!decoded) return 0;
    auto all = compose_text(s.source, 0, true);
    if (!all) return 0;
    Model model;
    if (!model.build(s.roots(), all->roots, std::move(*decoded), s.source)) return 0;

    fuzz::TouchedLines touched;
    Run run{s, model, touched, fuzz::split_lines(s.source)};
    // QUARVEL_FUZZ_TRACE=1 lists the edits, for replaying a finding; with
    // QUARVEL_FUZZ_EACH=1 as well, the text after each accepted edit.
    static const bool tracing = std::getenv("QUARVEL_FUZZ_TRACE") != nullptr;
    for (std::size_t i = 0; i + 3 <= script_size; i += 3) {
        const std::vector<NodePath> paths = addressable(s);
        if (paths.empty()) break;
        const NodePath path = paths[script[i + 1] % paths.size()];
        const std::string before = fuzz::fingerprint(s);
        bool shadowed = false;
        const bool done = run.edit(script[i], path, script[i + 2], shadowed);
        if (tracing) trace_edit(script[i], path, script[i + 2], done);
        if (tracing && done && std::getenv("QUARVEL_FUZZ_EACH")) {
            roundtrip::EmitOptions o;
            auto each = roundtrip::emit_stream(s.roots(), std::string_view(s.source), o);
            std::fprintf(stderr, "%s----\n", each ? each->c_str() : "(none)");
        }
        if (!done) {
            if (fuzz::fingerprint(s) != before)
                fail("a refused edit changed the trees", s.source, {});
            continue;
        }
        if (shadowed)
            fail("an edit went to a duplicate key's entry that loading drops", s.source, {});
        if (model.has_dangling_alias())
            fail("an accepted edit left an alias whose node is gone", s.source, {});
    }

    roundtrip::EmitOptions options;
    options.null_style = static_cast<NullStyle>(static_cast<std::uint8_t>(settings.null_style));
    options.prefer_double_quotes = settings.prefer_double_quotes;
    auto out = roundtrip::emit_stream(s.roots(), std::string_view(s.source), options);
    if (!out) return 0;  // out of stack: an error value, which is allowed
    // No value an edit assigns holds these; comments and anchors must not let them in.
    const CharCounts was = count_chars(s.source), now = count_chars(*out);
    if (!std::ranges::includes(was.unwritable_kinds, now.unwritable_kinds))
        fail("the output holds a character a YAML stream may not hold", s.source, *out);
    if (now.wide_breaks > was.wide_breaks || now.lone_returns > was.lone_returns)
        fail("an edit wrote a line break the source did not have", s.source, *out);
    if (!compose_text(*out, 0, true)) fail("the output does not compose", s.source, *out);
    auto reread = decode(*out, {});
    if (!reread) fail("the output does not decode", s.source, *out);
    auto expected = model.values();
    if (expected) {
        if (expected->size() != reread->documents.size()) {
            std::string shown = "the output holds another number of documents\n  model";
            for (const YamlValue& v : *expected) {
                shown += ' ';
                append_display_form(v, shown);
            }
            shown += "\n  output " + std::to_string(reread->documents.size());
            fail(shown.c_str(), s.source, *out);
        }
        for (std::size_t i = 0; i < expected->size(); ++i)
            if (!values_equal(model.dictionary_form((*expected)[i]),
                              model.dictionary_form(reread->documents[i]))) {
                std::string shown = "the output reads as other values than the model\n  model ";
                append_display_form((*expected)[i], shown);
                shown += "\n  output ";
                append_display_form(reread->documents[i], shown);
                fail(shown.c_str(), s.source, *out);
            }
    }
    if (QUARVEL_FUZZ_KEPT_LINES) {
        if (auto lost = fuzz::first_line_lost(s.source, *out, touched)) {
            const std::string what =
                "untouched source line " + std::to_string(*lost + 1) + " is not kept in order";
            fail(what.c_str(), s.source, *out);
        }
    }
    return 0;
}
