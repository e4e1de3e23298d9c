// What the directive resolver needs from the outside world, behind two small
// interfaces: the file system (canonical paths, file kinds, directory
// listings, whole-file reads) and the process environment. The resolver is
// tested and fuzzed over in-memory stand-ins; posix_file_system() and
// process_environment() are the real ones.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

enum class EntryKind : unsigned char { Missing, File, Directory, Other };

// A failed system call: its error number and the system's description.
struct OsFailure {
    int code = 0;
    std::string description;
};

struct FileRead {
    std::string bytes;
    std::optional<OsFailure> failure;
    bool not_regular = false;  // a FIFO, device or socket: refused unopened or unread
};

struct DirEntry {
    std::string name;
    // What the entry is when the listing says so and it is not a symbolic
    // link; none when it must be looked up through its path.
    std::optional<EntryKind> kind;

    bool operator<(const DirEntry& other) const { return name < other.name; }
};

struct DirListing {
    std::vector<DirEntry> entries;  // without "." and ".."
    std::optional<OsFailure> failure;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // The absolute path with every symbolic link, "." and ".." resolved;
    // none when some component does not exist or a link loops.
    virtual std::optional<std::string> canonical(const std::string& path) = 0;
    // What the path names, following symbolic links.
    virtual EntryKind kind(const std::string& path) = 0;
    // Whether the path itself is a symbolic link (not followed).
    virtual bool is_link(const std::string& path) = 0;
    // A regular file larger than `max_bytes` fails with EFBIG unread.
    virtual FileRead read(const std::string& path, std::uint64_t max_bytes) = 0;
    virtual DirListing list(const std::string& path) = 0;
    // The directory relative paths are taken from.
    virtual std::string current_directory() = 0;
    // Told the include root once it is known: reads and listings of paths
    // inside it may then refuse to leave it, even when the tree changes
    // between the resolver's check and the read.
    virtual void confine_to(const std::string& root) { (void)root; }
    // Whether read() may be called from two threads at once (with nothing
    // else called meanwhile), so a directory walk can read ahead.
    virtual bool reads_in_parallel() const { return false; }
};

class Environment {
  public:
    virtual ~Environment() = default;
    // The variable's value; none when it is unset or not valid UTF-8.
    virtual std::optional<std::string> get(const std::string& name) = 0;
};

// A new view of the real file system, for one resolution.
std::unique_ptr<FileSystem> posix_file_system();
Environment& process_environment();

}  // namespace quarvel
