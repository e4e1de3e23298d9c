// Opening files beneath a directory without following any symbolic link:
// the one walk that every confined read and every write-back goes through.
// A path that meets a link, or a ".." that would climb out, is refused by
// the kernel (openat2) or, where the kernel lacks it, by a walk that opens
// one component at a time from the directory's descriptor. Either way the
// check and the open are the same step, so a tree changed in between can
// not lead the open elsewhere.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace quarvel::beneath {

// Opens `rel` (relative; "" or "." is the directory itself) beneath the
// directory `dir_fd` with open(2) `flags` and, when creating, `mode`.
// Returns the descriptor, or -1 with errno: ELOOP when a component is a
// symbolic link, EXDEV when the path would leave the directory.
int open_at(int dir_fd, std::string_view rel, int flags, mode_t mode = 0);

// Opens the absolute, link-free `dir` from "/" with `flags`, refusing as
// open_at does when some component of it has since become a link.
int open_directory(const std::string& dir, int flags);

// Whether errno of a failed open_at means the path leads out of the
// directory or through a link (not a plain failure such as ENOENT).
bool refused(int error_number);

// The last component of `rel` and the part before it ("." when none).
struct Split {
    std::string parent;
    std::string name;
};
Split split_last(std::string_view rel);

}  // namespace quarvel::beneath
