// Checking a document's syntax tree against a JSON Schema (draft 2020-12,
// or draft 7 when its "$schema" says so), read once into rules (rules.hpp).
// Scalars are read by the resolver mode of the load.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resolver/resolver.hpp"
#include "schema/rules.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"
#include "value/value.hpp"

namespace quarvel {

struct SchemaViolation {
    std::string message;
    std::string path;         // "$", "$.server.port", "$.servers[2]"
    std::string schema_path;  // "#/properties/server/properties/port/type"
    std::uint32_t line = 0;   // 0-based, of the node concerned
    std::uint32_t column = 0;
};

// Every violation of `root` against `schema`, depth first with the keywords
// in a fixed order; empty when the document is valid. Fails when the stack
// runs out, when the schema's references loop without consuming input, or
// when a pattern search stops at its step bound. `has_aliases` false
// (nothing in the tree is an alias) skips the alias bookkeeping.
Result<std::vector<SchemaViolation>> validate_document(const YamlNode& root, bool has_aliases,
                                                       const CompiledSchema& schema,
                                                       ResolverMode mode);

// Whether a document satisfies `schema`, told from its value tree (decoded
// from `text` in `mode`) without composing the syntax tree; the verdict is the
// one validate_document gives on the syntax tree of the same text. None when
// the value tree cannot tell: the text has merge keys, or aliases in a tree
// large or deep enough for the alias limits to cut its validation copy, the
// checks met a custom tag or a key that is not a string, validation could
// not finish, or the stack ran out.
std::optional<bool> quick_verdict(std::string_view text, const YamlValue& document,
                                  const CompiledSchema& schema, ResolverMode mode);

// The error a violation is reported as: the schema family, with its path and position.
Error schema_violation_error(const SchemaViolation& v);

// A number as messages write it: the shortest decimal that reads back to the
// same double, positional, without a fraction when integral ("3", "2.5",
// "0.001"); "inf", "-inf" and "nan" for the values without digits.
std::string number_text(double d);

}  // namespace quarvel
