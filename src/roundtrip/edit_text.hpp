// What edits may write as comment text and as anchor names: only what reads
// back as the same text from the line it is written on.
#pragma once

#include <string_view>

#include "roundtrip/edits.hpp"

namespace quarvel {

// One comment line: printable characters, no line break of any kind, no byte
// order mark. Refused with "comment cannot hold U+XXXX".
EditStatus check_comment_line(std::string_view text);

// An anchor name: not empty, and only characters that continue a name when it
// is read back (printable, no white space, no line break, none of , [ ] { }).
EditStatus check_anchor_name(std::string_view name);

}  // namespace quarvel
