#include "schema/schema_index.hpp"

#include "schema/uri.hpp"
#include "support/stack.hpp"

namespace quarvel {

const YamlValue* schema_keyword(const YamlValue& schema, std::string_view name) {
    if (schema.kind != ValueKind::Mapping) return nullptr;
    for (std::size_t i = 0; i < schema.map_size(); ++i) {
        const YamlValue& k = schema.key(i);
        if (k.kind == ValueKind::String && k.text() == name) return &schema.value(i);
    }
    return nullptr;
}

Holds keyword_holds(std::string_view name) {
    static const std::unordered_map<std::string_view, Holds> kinds = {
        {"additionalProperties", Holds::Schema},
        {"additionalItems", Holds::Schema},
        {"contains", Holds::Schema},
        {"not", Holds::Schema},
        {"if", Holds::Schema},
        {"then", Holds::Schema},
        {"else", Holds::Schema},
        {"propertyNames", Holds::Schema},
        {"unevaluatedProperties", Holds::Schema},
        {"unevaluatedItems", Holds::Schema},
        {"contentSchema", Holds::Schema},
        {"items", Holds::SchemaOrList},
        {"allOf", Holds::List},
        {"anyOf", Holds::List},
        {"oneOf", Holds::List},
        {"prefixItems", Holds::List},
        {"properties", Holds::Map},
        {"patternProperties", Holds::Map},
        {"$defs", Holds::Map},
        {"definitions", Holds::Map},
        {"dependentSchemas", Holds::Map},
        {"dependencies", Holds::Dependencies},
    };
    const auto it = kinds.find(name);
    return it == kinds.end() ? Holds::Nothing : it->second;
}

Draft draft_of(const YamlValue& document, Draft otherwise) {
    const YamlValue* uri = schema_keyword(document, "$schema");
    if (!uri || uri->kind != ValueKind::String) return otherwise;
    const std::string_view text = uri->text();
    for (std::string_view old : {"draft-07", "draft-06", "draft-04"})
        if (text.find(old) != std::string_view::npos) return Draft::Draft7;
    return Draft::Draft2020;
}

std::string SchemaIndex::anchor_key(std::uint32_t resource, std::string_view name) {
    std::string key = std::to_string(resource);
    key += '#';
    key += name;
    return key;
}

std::uint32_t SchemaIndex::add_resource(std::string uri, const YamlValue& root,
                                        std::uint32_t document) {
    if (auto it = resource_ids_.find(uri); it != resource_ids_.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(resources_.size());
    resource_ids_.emplace(uri, id);
    resources_.push_back({std::move(uri), &root, document});
    return id;
}

std::uint32_t SchemaIndex::add_document(const YamlValue& root, std::string uri, Draft draft) {
    const auto document = static_cast<std::uint32_t>(documents_.size());
    documents_.push_back({uri, draft});
    const std::uint32_t resource = add_resource(uri, root, document);
    std::string pointer = uri + "#";
    walk(root, resource, pointer, document);
    return document;
}

std::optional<std::uint32_t> SchemaIndex::find_resource(std::string_view uri) const {
    const auto it = resource_ids_.find(std::string(uri));
    if (it == resource_ids_.end()) return std::nullopt;
    return it->second;
}

const YamlValue* SchemaIndex::anchor(std::uint32_t resource, std::string_view name) const {
    const auto it = anchors_.find(anchor_key(resource, name));
    return it == anchors_.end() ? nullptr : it->second;
}

const YamlValue* SchemaIndex::dynamic_anchor(std::uint32_t resource, std::string_view name) const {
    const auto it = dynamic_anchors_.find(anchor_key(resource, name));
    return it == dynamic_anchors_.end() ? nullptr : it->second;
}

std::vector<std::uint32_t> SchemaIndex::dynamic_anchor_resources(std::string_view name) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t r = 0; r < resources_.size(); ++r)
        if (dynamic_anchor(r, name)) out.push_back(r);
    return out;
}

const SchemaPlace* SchemaIndex::place(const YamlValue& schema) const {
    if (schema.kind != ValueKind::Mapping || schema.size == 0) return nullptr;
    const auto it = places_.find(schema.children().data());
    return it == places_.end() ? nullptr : &it->second;
}

// A "$id" that names a new resource switches the base for the object and
// everything below it. Draft 7 ignores the keywords beside a "$ref", "$id"
// among them, and reads an "$id" of "#name" as an anchor.
std::uint32_t SchemaIndex::enter_resource(const YamlValue& schema, std::uint32_t resource,
                                          std::uint32_t document) {
    const YamlValue* id = schema_keyword(schema, "$id");
    if (!id || id->kind != ValueKind::String) return resource;
    if (documents_[document].draft == Draft::Draft7 && schema_keyword(schema, "$ref"))
        return resource;
    if (id->text().starts_with('#')) return resource;
    const std::string resolved = resolve_uri(resources_[resource].uri, id->text());
    return add_resource(std::string(split_fragment(resolved).document), schema, document);
}

void SchemaIndex::record_anchors(const YamlValue& schema, std::uint32_t resource, Draft draft) {
    auto add = [&](std::unordered_map<std::string, const YamlValue*>& table,
                   std::string_view name) { table.emplace(anchor_key(resource, name), &schema); };
    if (draft == Draft::Draft7) {
        const YamlValue* id = schema_keyword(schema, "$id");
        if (id && id->kind == ValueKind::String && !schema_keyword(schema, "$ref")) {
            const SplitUri split = split_fragment(id->text());
            if (!split.fragment.empty() && split.fragment.front() != '/')
                add(anchors_, split.fragment);
        }
        return;
    }
    const YamlValue* name = schema_keyword(schema, "$anchor");
    if (name && name->kind == ValueKind::String) add(anchors_, name->text());
    const YamlValue* dynamic = schema_keyword(schema, "$dynamicAnchor");
    if (dynamic && dynamic->kind == ValueKind::String) {
        add(anchors_, dynamic->text());
        add(dynamic_anchors_, dynamic->text());
    }
}

void SchemaIndex::walk(const YamlValue& schema, std::uint32_t resource, std::string& pointer,
                       std::uint32_t document) {
    if (schema.kind != ValueKind::Mapping || schema.size == 0) return;
    if (places_.contains(schema.children().data())) return;  // a part shared by two places
    resource = enter_resource(schema, resource, document);
    places_.emplace(schema.children().data(), SchemaPlace{document, resource, pointer});
    record_anchors(schema, resource, documents_[document].draft);
    ensure_stack([&] {
        for (std::size_t i = 0; i < schema.map_size(); ++i) {
            const YamlValue& key = schema.key(i);
            if (key.kind == ValueKind::String)
                walk_keyword(key.text(), schema.value(i), resource, pointer, document);
        }
    });
}

void SchemaIndex::walk_keyword(std::string_view name, const YamlValue& value,
                               std::uint32_t resource, std::string& pointer,
                               std::uint32_t document) {
    const Holds holds = keyword_holds(name);
    if (holds == Holds::Nothing) return;
    const std::size_t mark = pointer.size();
    pointer += '/';
    append_pointer_token(pointer, name);
    const std::size_t inner = pointer.size();
    auto visit = [&](const YamlValue& sub, std::string_view token) {
        pointer += '/';
        append_pointer_token(pointer, token);
        walk(sub, resource, pointer, document);
        pointer.resize(inner);
    };
    if (value.kind == ValueKind::Sequence &&
        (holds == Holds::List || holds == Holds::SchemaOrList)) {
        for (std::size_t i = 0; i < value.children().size(); ++i)
            visit(value.children()[i], std::to_string(i));
    } else if (value.kind == ValueKind::Mapping &&
               (holds == Holds::Map || holds == Holds::Dependencies)) {
        for (std::size_t i = 0; i < value.map_size(); ++i)
            if (value.key(i).kind == ValueKind::String) visit(value.value(i), value.key(i).text());
    } else if (holds == Holds::Schema || holds == Holds::SchemaOrList) {
        walk(value, resource, pointer, document);
    }
    pointer.resize(mark);
}

}  // namespace quarvel
