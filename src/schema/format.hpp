// The formats that OPT_SCHEMA_FORMAT asserts, each checked by the grammar of
// its standard: date, time and date-time (RFC 3339), email (RFC 5321's
// mailbox, without comments), hostname (RFC 1123), ipv4 (dotted decimal
// without leading zeros), ipv6 (RFC 4291), uri (an absolute RFC 3986 URI),
// uuid (RFC 4122's hex form) and regex (an expression the pattern engine
// compiles).
#pragma once

#include <string_view>

#include "schema/rules.hpp"

namespace quarvel {

bool format_holds(Format format, std::string_view text);

}  // namespace quarvel
