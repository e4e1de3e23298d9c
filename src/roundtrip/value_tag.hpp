// Which tag a value written by an edit carries. A tag describes its value,
// so a replaced value keeps the old tag only where that tag still reads the
// new value as it is; a tag given with the value itself is checked instead.
#pragma once

#include "resolver/resolver.hpp"
#include "roundtrip/edits.hpp"
#include "syntax/node.hpp"

namespace quarvel {

// Gives `fresh`, about to take the place of `old`, the tag it is written
// with. A tag `fresh` already has was given explicitly and stays. Else the
// old tag is kept when it fits: a standard tag when the new node read with
// it gives what it reads untagged (!!str on a string, !!int on an integer,
// !!map on a mapping, !!seq on a sequence; the standard tags the resolver
// does not read, such as !!binary, are never carried, since nothing checks
// that the new value fits them); the non-specific tag "!" on a string or a
// collection of the old kind; an application tag on a value of the old kind
// (scalar, mapping or sequence; None is no scalar here, since its text would
// reach the tag's reader as the word null). The tag of a directive's result
// came from another file and is never carried.
void carry_tag(const YamlNode& old, YamlNode& fresh, ResolverMode mode);

// Refuses a node whose explicit tag would not read it back: a standard
// scalar tag on text it cannot read ("cannot read 'x' as !!int"), or a
// standard tag of another kind of node ("the tag !!map cannot be written on
// a sequence").
EditStatus check_explicit_tag(const YamlNode& node, ResolverMode mode);

// A tag made by an edit with the primary handle ("!x", a local tag) means
// what it says only where no %TAG line of the text redefines "!"; in a text
// with one it is refused, since "!<!x>" would read as another tag.
EditStatus check_primary_handle(std::string_view source, std::string_view tag);

}  // namespace quarvel
