#include "directives/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "directives/beneath.hpp"
#include "directives/paths.hpp"
#include "support/utf8.hpp"

namespace quarvel {
namespace {

OsFailure os_failure(int code) {
    return OsFailure{code, std::error_code(code, std::generic_category()).message()};
}

// A path with a NUL byte would be cut short by every system call.
bool usable(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// The entry's kind from the listing alone, sparing a lookup per entry.
std::optional<EntryKind> known_kind(const dirent* e) {
    switch (e->d_type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Directory;
        case DT_LNK:
        case DT_UNKNOWN:
            return std::nullopt;
        default:
            return EntryKind::Other;
    }
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

class PosixFileSystem final : public FileSystem {
  public:
    ~PosixFileSystem() override {
        if (root_fd_ >= 0) ::close(root_fd_);
    }

    void confine_to(const std::string& root) override {
        if (root_fd_ >= 0) ::close(root_fd_);
        root_ = root;
        root_fd_ = usable(root) ? beneath::open_directory(root, O_PATH | O_CLOEXEC) : -1;
    }

    std::optional<std::string> canonical(const std::string& path) override {
        if (!usable(path)) return std::nullopt;
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
        if (!resolved) return std::nullopt;
        return std::string(resolved.get());
    }

    EntryKind kind(const std::string& path) override {
        struct stat st{};
        if (!usable(path) || ::stat(path.c_str(), &st) != 0) return EntryKind::Missing;
        if (S_ISREG(st.st_mode)) return EntryKind::File;
        if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
        return EntryKind::Other;
    }

    bool is_link(const std::string& path) override {
        struct stat st{};
        return usable(path) && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    // Opens without following a final link and without blocking (a FIFO
    // would otherwise wait for a writer), then reads only a regular file.
    FileRead read(const std::string& path, std::uint64_t max_bytes) override {
        FileRead out;
        if (!usable(path)) {
            out.failure = os_failure(ENOENT);
            return out;
        }
        Fd f{open_confined(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
        struct stat st{};
        if (f.fd < 0 || ::fstat(f.fd, &st) != 0) {
            out.failure = os_failure(errno);
            return out;
        }
        if (S_ISDIR(st.st_mode)) {
            out.failure = os_failure(EISDIR);
            return out;
        }
        if (!S_ISREG(st.st_mode)) {
            out.not_regular = true;
            return out;
        }
        if (static_cast<std::uint64_t>(st.st_size) > max_bytes) {
            out.failure = os_failure(EFBIG);
            return out;
        }
        // One byte more than the size: a short read then means the end,
        // without another call to find it.
        out.bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
        std::size_t got = 0;
        for (;;) {
            if (got == out.bytes.size()) {
                if (got > max_bytes) {  // grew while being read
                    out.bytes.clear();
                    out.failure = os_failure(EFBIG);
                    return out;
                }
                // Never more than one byte past the limit, to see it was passed.
                out.bytes.resize(max_bytes - got >= got ? got * 2 : max_bytes + 1);
            }
            const std::size_t want = out.bytes.size() - got;
            const ssize_t n = ::read(f.fd, out.bytes.data() + got, want);
            if (n < 0) {
                if (errno == EINTR) continue;
                out.failure = os_failure(errno);
                out.bytes.clear();
                return out;
            }
            got += static_cast<std::size_t>(n);
            if (n == 0 || static_cast<std::size_t>(n) < want) break;
        }
        out.bytes.resize(got);
        return out;
    }

    DirListing list(const std::string& path) override {
        DirListing out;
        if (!usable(path)) {
            out.failure = os_failure(ENOENT);
            return out;
        }
        Fd f{open_confined(path, O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NONBLOCK)};
        std::unique_ptr<DIR, DirCloser> dir(f.fd >= 0 ? ::fdopendir(f.fd) : nullptr);
        if (!dir) {
            out.failure = os_failure(errno);
            return out;
        }
        f.fd = -1;  // the listing owns it now
        errno = 0;
        while (const dirent* e = ::readdir(dir.get())) {
            const std::string_view name(e->d_name);
            if (name != "." && name != "..")
                out.entries.push_back(DirEntry{std::string(name), known_kind(e)});
        }
        if (errno != 0) out.failure = os_failure(errno);
        return out;
    }

  private:
    // The paths read are canonical: below the root, a path that meets a
    // symbolic link or leaves the root now was changed after the check, and
    // the walk beneath the root refuses it. Elsewhere a plain open that does
    // not follow a final link.
    int open_confined(const std::string& path, int flags) {
        if (root_fd_ >= 0 && paths::inside(path, root_)) {
            const std::size_t skip = root_ == "/" ? 1 : root_.size() + 1;
            return beneath::open_at(root_fd_, path.size() > skip ? path.substr(skip) : ".", flags);
        }
        return ::open(path.c_str(), flags | O_NOFOLLOW);
    }

  public:
    // A read touches only the root descriptor, which no read changes.
    bool reads_in_parallel() const override { return true; }

    std::string current_directory() override {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        return cwd ? std::string(cwd.get()) : std::string("/");
    }

  private:
    std::string root_;
    int root_fd_ = -1;
};

class ProcessEnvironment final : public Environment {
  public:
    std::optional<std::string> get(const std::string& name) override {
        if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
        const char* value = std::getenv(name.c_str());
        if (!value) return std::nullopt;
        std::string text(value);
        if (utf8::validate(text)) return std::nullopt;  // not text: treated as unset
        return text;
    }
};

}  // namespace

std::unique_ptr<FileSystem> posix_file_system() {
    return std::make_unique<PosixFileSystem>();
}

Environment& process_environment() {
    static ProcessEnvironment env;
    return env;
}

}  // namespace quarvel
