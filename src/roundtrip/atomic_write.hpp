// Writing a file so that it never ends up half-written: the bytes go to a
// temporary file in the same directory, are flushed to disk, and the
// temporary file is renamed over the target. A failure at any step leaves
// the target as it was and removes the temporary file.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "support/expected.hpp"

namespace quarvel::roundtrip {

struct WriteFailure {
    std::string path;      // the path as given
    int error_number = 0;  // errno of the failed step
    std::string message;   // "cannot write " + path + ": " + the system's text
    // The target, or a directory on the way to it, is a symbolic link or
    // leads out of the confining directory: nothing was written.
    bool refused = false;
};

// Writes `bytes` to `path`. An existing target keeps its permission bits
// (and its owner when the process may set it); a new one gets 0666 less the
// umask. A symlink is written through: the file it points to is replaced and
// the link stays. A target the process may not write is refused as writing
// in place would refuse it. No directory is created.
detail::expected<void, WriteFailure> write_file_atomic(const std::string& path,
                                                       std::string_view bytes);

// Writes `bytes` to `rel` beneath the directory `root` (absolute and free of
// links, as a canonical path is), as write_file_atomic does but confined:
// the walk from "/" to the target's directory and the target itself follow
// no symbolic link and never leave `root`, so a tree changed since it was
// read cannot redirect the write. A refusal sets `refused`; `shown` is the
// path failures name.
detail::expected<void, WriteFailure> write_file_beneath(const std::string& root,
                                                        std::string_view rel,
                                                        const std::string& shown,
                                                        std::string_view bytes);

// The write(2) the writer calls, replaceable by tests to simulate short
// writes and full disks; nullptr restores the system call.
using WriteCall = ssize_t (*)(int fd, const void* data, std::size_t size);
void set_write_call(WriteCall call) noexcept;

}  // namespace quarvel::roundtrip
