// References while reading: "$ref" and "$dynamicRef" resolved to the rules
// they name.
//
// A reference is a URI reference resolved against the base URI of the
// schema it stands in (see schema_index.hpp). The part before "#" names a
// resource: one of the schema's own ("$id"), or another document, which only
// the caller's fetcher can provide. The fragment is either a JSON pointer,
// followed from the resource's root through any values ("#/$defs/a~1b/0",
// percent-decoded first), or an anchor name ("#node").
//
// "$dynamicRef" first resolves the same way. When the schema it reaches
// declares the same name as "$dynamicAnchor" (the bookend), the target is
// chosen at validation instead, from the resources the evaluation passed
// through to get there: the outermost one that declares the anchor. So a
// generic "list of #item" schema, referenced from a schema that declares its
// own "$dynamicAnchor": "item", checks the items against the referrer's. The
// reader records every resource that declares the name, with its rule; the
// validator keeps the stack of resources it is in and picks from it.
#include "schema/rule_reader.hpp"
#include "schema/uri.hpp"

namespace quarvel {
namespace {

Error schema_fault(std::string message) {
    Error e;
    e.family = ErrorFamily::Schema;
    e.message = std::move(message);
    return e;
}

// The item a pointer token names in a sequence: decimal, no leading zero.
std::optional<std::size_t> index_token(const std::string& token, std::size_t size) {
    if (token.empty() || token.size() > 18 || (token.size() > 1 && token[0] == '0')) return {};
    std::size_t i = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return {};
        i = i * 10 + static_cast<std::size_t>(c - '0');
    }
    if (i >= size) return {};
    return i;
}

const YamlValue* follow_pointer(const YamlValue& root, const std::vector<std::string>& tokens) {
    const YamlValue* at = &root;
    for (const std::string& token : tokens) {
        if (at->kind == ValueKind::Mapping) {
            const YamlValue* next = schema_keyword(*at, token);
            if (!next) return nullptr;
            at = next;
        } else if (at->kind == ValueKind::Sequence) {
            const auto i = index_token(token, at->children().size());
            if (!i) return nullptr;
            at = &at->children()[*i];
        } else {
            return nullptr;
        }
    }
    return at;
}

}  // namespace

std::optional<std::uint32_t> RuleReader::fetch(const std::string& uri, std::string_view reference,
                                               const std::string& where) {
    if (!fetcher_) {
        fail_with(schema_fault("the reference '" + std::string(reference) + "' at " + where +
                               " names another document, '" + uri +
                               "', and no schema_resolver was given to provide it"));
        return std::nullopt;
    }
    auto document = fetcher_->fetch(uri);
    if (!document) {
        fail_with(document.error());
        return std::nullopt;
    }
    const Draft draft = draft_of(**document, out_.index_.draft(0));
    out_.index_.add_document(**document, uri, draft);
    return out_.index_.find_resource(uri);
}

std::optional<RuleReader::Target> RuleReader::resolve(std::string_view reference,
                                                      SchemaContext context,
                                                      const std::string& where) {
    const SchemaIndex& index = out_.index_;
    const std::string absolute = resolve_uri(index.resource(context.resource).uri, reference);
    const SplitUri split = split_fragment(absolute);
    std::optional<std::uint32_t> resource = index.find_resource(split.document);
    if (!resource) resource = fetch(std::string(split.document), reference, where);
    if (!resource) return std::nullopt;
    const SchemaResource& found = index.resource(*resource);
    const std::string fragment = percent_decode(split.fragment);
    const YamlValue* value = nullptr;
    if (const auto tokens = pointer_tokens(fragment)) {
        value = follow_pointer(*found.root, *tokens);
    } else {
        value = index.anchor(*resource, fragment);
    }
    if (!value) {
        fail_with(schema_fault("the reference '" + std::string(reference) + "' at " + where +
                               " names nothing in the schema"));
        return std::nullopt;
    }
    Target t;
    t.value = value;
    t.context = {found.document, *resource};
    if (const SchemaPlace* place = index.place(*value)) {
        t.context = {place->document, place->resource};
        t.location = place->pointer;
    } else {
        // A value the index did not reach (a boolean, or inside a keyword that
        // holds no schema): its pointer from the resource's root.
        const SchemaPlace* root = index.place(*found.root);
        t.location = root ? root->pointer : index.document_uri(found.document) + "#";
        t.location += fragment;
    }
    return t;
}

bool RuleReader::read_references(const YamlValue& schema, SchemaRule& rule, SchemaContext context) {
    const YamlValue* ref = schema_keyword(schema, "$ref");
    if (ref && ref->kind == ValueKind::String) {
        const std::string where = rule.location + "/$ref";
        const auto target = resolve(ref->text(), context, where);
        if (!target) return false;
        if (!(rule.ref = read(*target->value, target->context, target->location))) return false;
    }
    if (out_.index_.draft(context.document) == Draft::Draft7) return true;
    const YamlValue* dynamic = schema_keyword(schema, "$dynamicRef");
    if (!dynamic || dynamic->kind != ValueKind::String) return true;
    const std::string where = rule.location + "/$dynamicRef";
    const auto target = resolve(dynamic->text(), context, where);
    if (!target) return false;
    DynamicRef& d = out_.dynamic_refs_.emplace_back();
    rule.dynamic_ref = &d;
    if (!(d.fallback = read(*target->value, target->context, target->location))) return false;
    const std::string_view fragment = split_fragment(dynamic->text()).fragment;
    const YamlValue* anchor = schema_keyword(*target->value, "$dynamicAnchor");
    const bool bookend = !fragment.empty() && !fragment.starts_with('/') && anchor &&
                         anchor->kind == ValueKind::String && anchor->text() == fragment;
    if (bookend) dynamic_.push_back({&d, std::string(fragment), where});
    return true;
}

bool RuleReader::complete_dynamic_refs() {
    // Reading a target may fetch a document with more anchors of a name
    // already done, so this goes round until nothing is added.
    for (bool added = true; added;) {
        added = false;
        for (std::size_t i = 0; i < dynamic_.size(); ++i) {
            const PendingDynamic pending = dynamic_[i];
            for (std::uint32_t r : out_.index_.dynamic_anchor_resources(pending.name)) {
                bool known = false;
                for (const DynamicTarget& t : pending.ref->targets) known |= t.resource == r;
                if (known) continue;
                const YamlValue* value = out_.index_.dynamic_anchor(r, pending.name);
                const SchemaPlace* place = out_.index_.place(*value);
                const SchemaContext context =
                    place ? SchemaContext{place->document, place->resource}
                          : SchemaContext{out_.index_.resource(r).document, r};
                const SchemaRule* rule =
                    read(*value, context, place ? place->pointer : pending.where);
                if (!rule) return false;
                pending.ref->targets.push_back({r, rule});
                out_.dynamic_ = true;
                added = true;
            }
        }
    }
    return true;
}

}  // namespace quarvel
