#include "directives/beneath.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace quarvel::beneath {
namespace {

struct OwnedFd {
    int fd = -1;
    ~OwnedFd() {
        if (fd >= 0) ::close(fd);
    }
    void reset(int next) {
        if (fd >= 0) ::close(fd);
        fd = next;
    }
};

// The components that name something: "" and "." dropped.
std::vector<std::string> components(std::string_view rel) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= rel.size()) {
        std::size_t end = rel.find('/', pos);
        if (end == std::string_view::npos) end = rel.size();
        const std::string_view part = rel.substr(pos, end - pos);
        if (!part.empty() && part != ".") out.emplace_back(part);
        pos = end + 1;
    }
    return out;
}

// Without openat2: each directory on the way is opened as a path handle
// that does not follow a link, and checked through that handle, so what
// was checked is what the next step opens from.
int walk(int dir_fd, std::string_view rel, int flags, mode_t mode) {
    if (rel.starts_with('/')) {
        errno = EXDEV;
        return -1;
    }
    const std::vector<std::string> parts = components(rel);
    for (const std::string& part : parts) {
        if (part == "..") {
            errno = EXDEV;
            return -1;
        }
    }
    if (parts.empty()) return ::openat(dir_fd, ".", flags, mode);
    OwnedFd held;
    int at = dir_fd;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const int next = ::openat(at, parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return -1;
        held.reset(next);
        struct stat st{};
        if (::fstat(next, &st) != 0) return -1;
        if (!S_ISDIR(st.st_mode)) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return -1;
        }
        at = next;
    }
    return ::openat(at, parts.back().c_str(), flags | O_NOFOLLOW, mode);
}

}  // namespace

int open_at(int dir_fd, std::string_view rel, int flags, mode_t mode) {
#if defined(__linux__) && defined(SYS_openat2)
    const std::string path = rel.empty() ? std::string(".") : std::string(rel);
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, dir_fd, path.c_str(), &how, sizeof how);
    // ENOSYS: an older kernel; EPERM: a sandbox that filters the call.
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
#endif
    return walk(dir_fd, rel, flags, mode);
}

int open_directory(const std::string& dir, int flags) {
    if (!dir.starts_with('/')) {
        errno = EXDEV;
        return -1;
    }
    OwnedFd top{::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (top.fd < 0) return -1;
    return open_at(top.fd, std::string_view(dir).substr(1), flags | O_DIRECTORY);
}

bool refused(int error_number) {
    return error_number == ELOOP || error_number == EXDEV;
}

Split split_last(std::string_view rel) {
    while (rel.size() > 1 && rel.ends_with('/')) rel.remove_suffix(1);
    const std::size_t slash = rel.rfind('/');
    if (slash == std::string_view::npos) return {".", std::string(rel)};
    return {std::string(rel.substr(0, slash == 0 ? 1 : slash)), std::string(rel.substr(slash + 1))};
}

}  // namespace quarvel::beneath
