// Paths and edits of round-trip documents, without Python.
#include "roundtrip/edits.hpp"

#include <string>
#include <string_view>

#include "check.hpp"

namespace quarvel {
namespace {

constexpr ResolverMode kMode = ResolverMode::Core12;

std::unique_ptr<DocumentState> document(std::string_view text, DocumentSettings settings = {}) {
    auto r = compose_document(std::string(text), settings);
    if (!r) {
        CHECK_EQ(r.error().message, std::string("no error"));
        return std::make_unique<DocumentState>();
    }
    return std::move(*r);
}

NodePath path_of(std::initializer_list<PathStep> steps) {
    return NodePath(steps);
}

PathStep k(std::string_view key) {
    return PathStep::of_key(key);
}
PathStep i(std::uint64_t index) {
    return PathStep::of_index(index);
}

YamlNode scalar(DocumentState& d, std::string_view text) {
    YamlNode n;
    n.kind = NodeKind::Scalar;
    n.text = d.arena().store(text);
    return n;
}

void resolution() {
    auto d = document("'a': {b: [x, y]}\n1: one\n");
    auto& roots = d->roots();
    CHECK_EQ(resolve_path(roots, path_of({k("a"), k("b"), i(1)}), kMode)->text,
             std::string_view("y"));
    CHECK(resolve_path(roots, path_of({k("a"), k("b"), i(2)}), kMode) == nullptr);
    CHECK(resolve_path(roots, path_of({k("a"), i(0)}), kMode) == nullptr);  // index on a mapping
    CHECK(resolve_path(roots, path_of({i(1)}), kMode) == nullptr);
    CHECK_EQ(resolve_path(roots, path_of({k("1")}), kMode)->text, std::string_view("one"));
    CHECK(resolve_path(roots, {}, kMode) == &roots.front());

    auto multi = document("a: 1\n---\nb: 2\n");
    auto& mroots = multi->roots();
    CHECK(resolve_path(mroots, {}, kMode) == &mroots.front());
    CHECK_EQ(resolve_path(mroots, path_of({i(1), k("b")}), kMode)->text, std::string_view("2"));
    CHECK(resolve_path(mroots, path_of({k("a")}), kMode) == nullptr);
    CHECK(resolve_path(mroots, path_of({i(2)}), kMode) == nullptr);
    CHECK_EQ(root_of(mroots, path_of({i(1), k("b")})), std::size_t{1});

    DocumentState empty;
    CHECK(resolve_path(empty.roots(), {}, kMode) == nullptr);
}

void replacement_keeps_place() {
    auto d = document("x: 0\n# head\na: &n !t 1  # tail\n");
    YamlNode* node = resolve_path(d->roots(), path_of({k("a")}), kMode);
    replace_node(*d, *node, scalar(*d, "2"));
    CHECK_EQ(node->text, std::string_view("2"));
    CHECK(node->anchor() && *node->anchor() == "n");
    CHECK(node->tag() && *node->tag() == "!t");
    CHECK(node->comments.has_inline());
    CHECK(node->comments.modified);
}

void assignment() {
    auto d = document("m: {a: 1}\ns: [1]\nv: x\n");
    auto& roots = d->roots();
    YamlNode& m = *resolve_path(roots, path_of({k("m")}), kMode);
    CHECK(assign_item(*d, m, k("b"), scalar(*d, "2")).has_value());
    CHECK_EQ(m.size(), std::size_t{2});
    CHECK(m.comments.modified);
    CHECK(assign_item(*d, m, k("a: b"), scalar(*d, "3")).has_value());
    CHECK(m.key(2).scalar_style == ScalarStyle::DoubleQuoted);

    struct Refusal {
        NodePath at;
        PathStep step;
        EditFaultKind kind;
        std::string_view message;
    };
    const Refusal refusals[] = {
        {path_of({k("s")}), i(1), EditFaultKind::Index, "index out of range"},
        {path_of({k("s")}), k("x"), EditFaultKind::Index, "index out of range"},
        {path_of({k("m")}), i(0), EditFaultKind::Type, "mapping keys must be str"},
        {path_of({k("v")}), k("x"), EditFaultKind::Type, "node is not a mapping or sequence"},
    };
    for (const Refusal& r : refusals) {
        check::Case c(std::string(r.message));
        YamlNode& target = *resolve_path(roots, r.at, kMode);
        auto st = assign_item(*d, target, r.step, scalar(*d, "z"));
        CHECK(!st);
        if (!st) {
            CHECK(st.error().kind == r.kind);
            CHECK_EQ(st.error().message, std::string(r.message));
        }
    }
}

void new_text_styles() {
    DocumentSettings single;
    single.prefer_double_quotes = false;
    struct Case {
        std::string_view text;
        ScalarStyle dbl, sgl;
    };
    const Case cases[] = {
        {"plain", ScalarStyle::Plain, ScalarStyle::Plain},
        {"yes", ScalarStyle::DoubleQuoted, ScalarStyle::SingleQuoted},
        {"", ScalarStyle::DoubleQuoted, ScalarStyle::SingleQuoted},
        {"it's: x", ScalarStyle::DoubleQuoted, ScalarStyle::DoubleQuoted},
        {"a\nb", ScalarStyle::DoubleQuoted, ScalarStyle::DoubleQuoted},
    };
    for (const Case& c : cases) {
        check::Case name{std::string(c.text)};
        CHECK(style_for_new_text(c.text, DocumentSettings{}) == c.dbl);
        CHECK(style_for_new_text(c.text, single) == c.sgl);
    }
}

std::string message_of(const EditStatus& st) {
    return st ? std::string("ok") : st.error().message;
}

void anchors_and_aliases() {
    auto d = document("base: &b\n  x: 1\nother: 2\nlast: &late 3\n");
    CHECK_EQ(message_of(set_anchor(*d, path_of({k("other")}), "b")),
             std::string("anchor name 'b' is already used by another node"));
    CHECK_EQ(message_of(set_anchor(*d, path_of({k("base")}), "b")), std::string("ok"));
    CHECK_EQ(message_of(set_anchor(*d, path_of({k("other")}), "")),
             std::string("anchor name cannot be empty"));
    CHECK_EQ(message_of(make_alias(*d, path_of({k("other")}), "none")),
             std::string("no anchor '&none' is defined in this document"));
    CHECK_EQ(
        message_of(make_alias(*d, path_of({k("base"), k("x")}), "b")),
        std::string("anchor '&b' contains the alias that would reference it, which is a cycle"));
    CHECK_EQ(message_of(make_alias(*d, path_of({k("other")}), "late")),
             std::string("anchor '&late' must be defined before the alias that references it"));
    CHECK_EQ(message_of(make_alias(*d, path_of({k("gone")}), "b")), std::string("stale node"));
    CHECK_EQ(message_of(make_alias(*d, path_of({k("other")}), "b")), std::string("ok"));
    YamlNode* alias = resolve_path(d->roots(), path_of({k("other")}), kMode);
    CHECK(alias->kind == NodeKind::Alias && alias->text == "b");

    CHECK_EQ(message_of(detach_alias(*d, path_of({k("last")}))),
             std::string("detach() is only valid on an alias node"));
    CHECK_EQ(message_of(detach_alias(*d, path_of({k("other")}))), std::string("ok"));
    CHECK(alias->kind == NodeKind::Mapping && !alias->anchor() && alias->comments.modified);
    CHECK(resolve_path(d->roots(), path_of({k("base")}), kMode)->anchor().has_value());

    auto dangling = document("a: *nowhere\n");
    CHECK_EQ(message_of(detach_alias(*dangling, path_of({k("a")}))),
             std::string("alias *nowhere has no anchor to detach"));
}

void comments() {
    auto doc = document("x: 0\n# above\na: 1\n");
    const NodePath a = path_of({k("a")});
    YamlNode* target = comment_before_target(*doc, a);
    CHECK(target == &doc->roots().front().key(1));
    CHECK(set_head_comments(*doc, *target, "one\r\ntwo").has_value());
    CHECK_EQ(target->comments.text->head.size(), std::size_t{2});
    CHECK_EQ(target->comments.text->head[0], std::string_view("one"));
    YamlNode& value = *resolve_path(doc->roots(), a, kMode);
    CHECK(!set_inline_comment(*doc, value, "a\nb"));
    CHECK(!value.comments.modified);
    CHECK(set_inline_comment(*doc, value, "note").has_value());
    CHECK_EQ(*value.comments.text->inline_text, std::string_view("note"));
}

}  // namespace
}  // namespace quarvel

int main() {
    quarvel::resolution();
    quarvel::replacement_keeps_place();
    quarvel::assignment();
    quarvel::new_text_styles();
    quarvel::anchors_and_aliases();
    quarvel::comments();
    return quarvel::check::finish("edits_test");
}
