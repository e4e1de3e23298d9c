// Reads a schema's rules from its root, following references as they are
// met (rules.cpp reads the keywords, rule_refs.cpp resolves the references).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "schema/rules.hpp"

namespace quarvel {

// Which document and resource a schema lies in: its draft, and the base URI
// its references resolve against.
struct SchemaContext {
    std::uint32_t document = 0;
    std::uint32_t resource = 0;
};

class RuleReader {
  public:
    RuleReader(CompiledSchema& out, SchemaFetcher* fetcher) : out_(out), fetcher_(fetcher) {}

    // The rule of `schema`; null on failure, with `error` set (or the
    // thread's stack flag).
    const SchemaRule* read(const YamlValue& schema, SchemaContext context, std::string location);
    // Gives every "$dynamicRef" the targets of documents fetched after it was read.
    bool complete_dynamic_refs();

    std::optional<Error> error;

  private:
    // A reference resolved to the value it names.
    struct Target {
        const YamlValue* value = nullptr;
        SchemaContext context;
        std::string location;
    };

    bool read_keywords(const YamlValue& schema, SchemaRule& rule, SchemaContext context);
    bool read_values(const YamlValue& schema, SchemaRule& rule, Draft draft);
    bool read_objects(const YamlValue& schema, SchemaRule& rule, SchemaContext context);
    bool read_dependencies(const YamlValue& schema, SchemaRule& rule, SchemaContext context);
    bool read_arrays(const YamlValue& schema, SchemaRule& rule, SchemaContext context);
    bool read_combinators(const YamlValue& schema, SchemaRule& rule, SchemaContext context);
    bool read_references(const YamlValue& schema, SchemaRule& rule, SchemaContext context);

    // The rule of a subschema under `keyword` (and `token`, for lists and maps).
    const SchemaRule* sub(const YamlValue& value, const SchemaRule& parent, SchemaContext context,
                          std::string_view keyword, std::string_view token = {},
                          bool has_token = false);
    bool sub_list(const YamlValue& list, const SchemaRule& parent, SchemaContext context,
                  std::string_view keyword, std::vector<const SchemaRule*>& out);
    const EcmaRegex* compile(std::string_view pattern, const std::string& where);

    std::optional<Target> resolve(std::string_view reference, SchemaContext context,
                                  const std::string& where);
    std::optional<std::uint32_t> fetch(const std::string& uri, std::string_view reference,
                                       const std::string& where);
    bool fail_with(Error e);

    struct PendingDynamic {
        DynamicRef* ref;
        std::string name;
        std::string where;
    };

    CompiledSchema& out_;
    SchemaFetcher* fetcher_;
    std::unordered_map<std::string_view, const EcmaRegex*> compiled_;
    std::vector<PendingDynamic> dynamic_;
};

}  // namespace quarvel
