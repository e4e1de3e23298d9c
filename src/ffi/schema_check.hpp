// The schema step of loads: the schema object encoded, the document's tree
// checked against it, and every violation raised as one QuarvelSchemaError.
#pragma once

#include <string>

#include "pyutil/python.hpp"
#include "resolver/resolver.hpp"
#include "syntax/node.hpp"
#include "value/value.hpp"

namespace quarvel::py {

// False with an exception set when the document does not satisfy `schema`
// (QuarvelSchemaError for the first violation, with every violation in its
// `errors` attribute), when the schema cannot be encoded (the encoder's
// exception), or when memory runs out.
bool check_schema(PyObject* schema, const YamlNode& root, bool has_aliases, ResolverMode mode);

// The plain path's check of the first document of `text`, whose value tree
// is `document`: the same outcome as check_schema on the text's syntax tree,
// which is composed only when the value tree cannot vouch for the document.
bool check_schema_of_text(PyObject* schema, std::string_view text, const YamlValue& document,
                          ResolverMode mode);

}  // namespace quarvel::py
