// The schema step of loads: the schema object encoded and read into rules,
// the document's tree checked against it, and every violation raised as one
// QuarvelSchemaError.
#pragma once

#include <string>

#include "pyutil/python.hpp"
#include "resolver/resolver.hpp"
#include "syntax/node.hpp"
#include "value/value.hpp"

namespace quarvel::py {

// What the check needs besides the document.
struct SchemaCall {
    PyObject* schema = nullptr;    // the schema object (borrowed)
    PyObject* resolver = nullptr;  // schema_resolver for other documents, or null (borrowed)
    bool assert_formats = false;   // OPT_SCHEMA_FORMAT
};

// False with an exception set when the document does not satisfy the schema
// (QuarvelSchemaError for the first violation, with every violation in its
// `errors` attribute), when the schema cannot be used (a pattern that does
// not compile, a reference that names nothing or another document the
// resolver does not provide: QuarvelSchemaError with no position; the
// encoder's or the resolver's exception), or when memory runs out.
bool check_schema(const SchemaCall& call, const YamlNode& root, bool has_aliases,
                  ResolverMode mode);

// The plain path's check of the first document of `text`, whose value tree
// is `document`: the same outcome as check_schema on the text's syntax tree,
// which is composed only when the value tree cannot vouch for the document.
bool check_schema_of_text(const SchemaCall& call, std::string_view text, const YamlValue& document,
                          ResolverMode mode);

}  // namespace quarvel::py
