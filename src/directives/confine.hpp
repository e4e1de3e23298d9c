// The confinement rules every file a document names is read by: the name
// holds no control character, and the file it leads to lies inside the
// confining directory once "." and ".." and every symbolic link are resolved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directives/file_system.hpp"
#include "support/error.hpp"

namespace quarvel {

// "<what> name contains control character U+0000" for the first C0 control
// character or DEL in `name`; none when it has none. A NUL would cut the
// name short at the system call, and the rest are never part of a file name
// anyone meant.
std::optional<std::string> control_character_in(std::string_view name, std::string_view what);

// "'<name>' resolves outside the configured include directory".
std::string outside_message(std::string_view name);

enum class Place : unsigned char { Inside, Outside, DanglingLink };

// Where the absolute path `joined` leads with respect to the canonical
// `root`: an existing path by its canonical form, a missing one by its
// lexically normalised form (a link to nothing is reported as such).
struct Confined {
    Place place = Place::Outside;
    std::string path;  // canonical when it exists, else normalised
    bool exists = false;
};
Confined confine_path(FileSystem& fs, const std::string& root, const std::string& joined);

// The bytes of the regular file `name` (relative) beneath the directory
// `dir`, read as included files are: confined, no link out, no FIFO or
// device, at most `max_bytes`. A refusal is the confinement error, a
// missing file the not-found error; neither names a file.
Result<std::string> read_confined(FileSystem& fs, const std::string& dir, std::string_view name,
                                  std::uint64_t max_bytes);

}  // namespace quarvel
