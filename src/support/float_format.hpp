// Float spelling shared by the YAML emitters and the upgrade rule.
#pragma once

#include <string>

namespace quarvel {

// The shortest digits that read back to the same double, always with a "."
// (or as .nan, .inf, -.inf) so that YAML readers keep the value a float.
void format_float(double x, std::string& out);

}  // namespace quarvel
