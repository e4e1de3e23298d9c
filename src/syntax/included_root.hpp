// The properties an included file's root has as its own. When the root takes
// the place of the directive that included it, the directive's position,
// comments and anchor replace these; writing the file back puts them back.
// The two functions below are the only places either happens.
#pragma once

#include "syntax/node.hpp"

namespace quarvel {

// Takes the root's own position, document marker, anchor and comments (the
// comments are moved out of the root).
IncludedRoot take_own_root(YamlNode& root);

// Gives `node` the position, marker, anchor and comments the root had in its
// own file (the comments copied, since the record may serve several writes).
void restore_own_root(YamlNode& node, const IncludedRoot& own);

}  // namespace quarvel
