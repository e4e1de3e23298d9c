// Where every schema of a schema document lives: its base URI, its JSON
// pointer, and the names "$id", "$anchor" and "$dynamicAnchor" give it.
//
// A schema document is a tree of schema objects nested under the keywords
// that take schemas ("properties", "items", "$defs", ...). An object with
// "$id" starts a new resource: its own URI, resolved against the enclosing
// base, becomes the base of everything below it. So in
//
//   {"$id": "https://x.org/root.json",
//    "$defs": {"item": {"$id": "item.json", "$anchor": "top",
//                       "properties": {"n": {"$ref": "#/$defs/n"}}}}}
//
// the object under "item" is the resource https://x.org/item.json, the
// anchor https://x.org/item.json#top, and the "$ref" inside it resolves
// against item.json, not root.json. One walk over each document records all
// of this before any rule is read, because a reference may point forwards,
// backwards or into another resource.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "value/value.hpp"

namespace quarvel {

// Draft 7 (also read for drafts 6 and 4) or 2020-12 (also 2019-09).
enum class Draft : std::uint8_t { Draft7, Draft2020 };

// The draft a document's "$schema" names; none names 2020-12.
Draft draft_of(const YamlValue& document, Draft otherwise);

// Where one schema object is.
struct SchemaPlace {
    std::uint32_t document = 0;
    std::uint32_t resource = 0;  // the resource its base URI names
    std::string pointer;         // "#/properties/a", "https://x.org/s.json#/$defs/b"
};

struct SchemaResource {
    std::string uri;  // without fragment
    const YamlValue* root = nullptr;
    std::uint32_t document = 0;
};

class SchemaIndex {
  public:
    // Indexes a document retrieved as `uri` (the root document has the
    // empty URI). Returns its number.
    std::uint32_t add_document(const YamlValue& root, std::string uri, Draft draft);

    Draft draft(std::uint32_t document) const { return documents_[document].draft; }
    const std::string& document_uri(std::uint32_t document) const {
        return documents_[document].uri;
    }

    // The resource named by an absolute URI without fragment, if any.
    std::optional<std::uint32_t> find_resource(std::string_view uri) const;
    const SchemaResource& resource(std::uint32_t id) const { return resources_[id]; }

    // The schema that "$anchor" (or "$dynamicAnchor", or a draft 7 "$id" of
    // "#name") names in a resource; null when none.
    const YamlValue* anchor(std::uint32_t resource, std::string_view name) const;
    // Only "$dynamicAnchor": the schema, or null.
    const YamlValue* dynamic_anchor(std::uint32_t resource, std::string_view name) const;
    // Every resource that has a "$dynamicAnchor" of that name.
    std::vector<std::uint32_t> dynamic_anchor_resources(std::string_view name) const;

    // The place of a schema object met by the walk; null for values it did
    // not reach (booleans, empty objects, values inside other keywords).
    const SchemaPlace* place(const YamlValue& schema) const;

  private:
    struct Document {
        std::string uri;
        Draft draft;
    };
    void walk(const YamlValue& schema, std::uint32_t resource, std::string& pointer,
              std::uint32_t document);
    void walk_keyword(std::string_view name, const YamlValue& value, std::uint32_t resource,
                      std::string& pointer, std::uint32_t document);
    std::uint32_t enter_resource(const YamlValue& schema, std::uint32_t resource,
                                 std::uint32_t document);
    void record_anchors(const YamlValue& schema, std::uint32_t resource, Draft draft);
    std::uint32_t add_resource(std::string uri, const YamlValue& root, std::uint32_t document);
    static std::string anchor_key(std::uint32_t resource, std::string_view name);

    std::vector<Document> documents_;
    std::vector<SchemaResource> resources_;
    std::unordered_map<std::string, std::uint32_t> resource_ids_;
    std::unordered_map<std::string, const YamlValue*> anchors_, dynamic_anchors_;
    std::unordered_map<const YamlValue*, SchemaPlace> places_;  // by the object's entries
};

// The value of the first entry keyed by the String `name`, or null.
const YamlValue* schema_keyword(const YamlValue& schema, std::string_view name);

// The keys of a schema object's entries whose values are schemas, by how they
// hold them; the walk and the reader agree through these.
enum class Holds : std::uint8_t { Nothing, Schema, List, Map, SchemaOrList, Dependencies };
Holds keyword_holds(std::string_view name);

}  // namespace quarvel
