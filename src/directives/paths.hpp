// Lexical path operations on POSIX paths, for confinement: nothing here
// touches the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarvel::paths {

// "." components dropped, ".." removing the component before it (never
// above "/"), repeated and trailing slashes dropped. `path` is absolute.
std::string normalise(std::string_view path);

// Whether `path` equals `root` or lies below it, comparing whole components
// ("/a/bc" is not inside "/a/b"). Both are normalised absolute paths.
bool inside(std::string_view path, std::string_view root);

// The path without its last component; none when it has no "/" at all.
// The parent of "/" is "/".
std::optional<std::string> parent(std::string_view path);

// `relative` under `base`; an absolute `relative` replaces the base.
std::string join(std::string_view base, std::string_view relative);

// The last component.
std::string_view file_name(std::string_view path);

}  // namespace quarvel::paths
