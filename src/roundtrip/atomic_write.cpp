#include "roundtrip/atomic_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "directives/beneath.hpp"

namespace quarvel::roundtrip {
namespace {

std::atomic<WriteCall> g_write_call{nullptr};

// Symlinks followed this many times at most, as the system does.
constexpr int kMaxLinks = 40;

detail::unexpected<WriteFailure> failure(const std::string& path, int error_number) {
    return detail::unexpected<WriteFailure>(WriteFailure{
        path, error_number, "cannot write " + path + ": " + std::strerror(error_number)});
}

detail::unexpected<WriteFailure> refusal(const std::string& path, int error_number) {
    auto out = failure(path, error_number);
    out.error().refused = true;
    return out;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once its symlinks are followed (the path itself
// when it is no link or does not exist); errno when the chain is broken.
int resolve_links(const std::string& path, std::string& target) {
    target = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode)) return 0;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) return errno;
        link.resize(static_cast<std::size_t>(n));
        target = link.starts_with('/') ? link : directory_of(target) + "/" + link;
    }
    return ELOOP;
}

int write_all(int fd, std::string_view bytes) {
    const WriteCall call = g_write_call.load(std::memory_order_relaxed);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = call ? call(fd, bytes.data() + done, bytes.size() - done)
                               : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        // Nothing written and no error: the device takes no more.
        if (n == 0) return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

struct OwnedFd {
    int fd = -1;
    ~OwnedFd() {
        if (fd >= 0) ::close(fd);
    }
};

// Creates a new temporary file for `name` in the directory `dir_fd`; its
// name is returned in `tmp`.
int create_temporary(int dir_fd, const std::string& name, std::string& tmp, int& fd) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
              std::to_string(counter.fetch_add(1));
        fd = ::openat(dir_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      0666);
        if (fd >= 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Fills the temporary file, gives it the target's permission bits and
// flushes it to disk.
int fill(int fd, std::string_view bytes, const struct stat* old) {
    if (int e = write_all(fd, bytes)) return e;
    if (old) {
        if (::fchmod(fd, old->st_mode & 07777) != 0) return errno;
        // Only a privileged process can give the file back its owner; the
        // content matters more than the owner, so a refusal is no failure.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
            (void)!::fchown(fd, old->st_uid, old->st_gid);
    }
    if (::fsync(fd) != 0) return errno;
    return 0;
}

// Replaces `name` in the open directory `dir_fd`: a temporary file beside
// it, flushed, renamed over it within the directory, then the directory
// flushed. The name itself is never followed: a symbolic link there is
// refused (ELOOP), never written through.
int replace_in(int dir_fd, const std::string& name, std::string_view bytes) {
    struct stat old;
    const bool exists = ::fstatat(dir_fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (exists && S_ISLNK(old.st_mode)) return ELOOP;
    if (exists && S_ISDIR(old.st_mode)) return EISDIR;
    // Renaming would replace a file its owner made read-only; writing in
    // place would be refused, and so is this.
    if (exists && ::faccessat(dir_fd, name.c_str(), W_OK, 0) != 0) return errno;

    std::string tmp;
    int fd = -1;
    if (int e = create_temporary(dir_fd, name, tmp, fd)) return e;
    int e = fill(fd, bytes, exists ? &old : nullptr);
    if (::close(fd) != 0 && e == 0) e = errno;
    if (e == 0 && ::renameat(dir_fd, tmp.c_str(), dir_fd, name.c_str()) != 0) e = errno;
    if (e != 0) {
        ::unlinkat(dir_fd, tmp.c_str(), 0);
        return e;
    }
    (void)::fsync(dir_fd);
    return 0;
}

}  // namespace

void set_write_call(WriteCall call) noexcept {
    g_write_call.store(call, std::memory_order_relaxed);
}

detail::expected<void, WriteFailure> write_file_atomic(const std::string& path,
                                                       std::string_view bytes) {
    std::string target;
    if (int e = resolve_links(path, target)) return failure(path, e);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    OwnedFd dir{::open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return failure(path, errno);
    if (int e = replace_in(dir.fd, name, bytes)) return failure(path, e);
    return {};
}

detail::expected<void, WriteFailure> write_file_beneath(const std::string& root,
                                                        std::string_view rel,
                                                        const std::string& shown,
                                                        std::string_view bytes) {
    const beneath::Split where = beneath::split_last(rel);
    if (where.name.empty() || where.name == "." || where.name == "..") return refusal(shown, EXDEV);
    OwnedFd top{beneath::open_directory(root, O_PATH | O_CLOEXEC)};
    if (top.fd < 0) return beneath::refused(errno) ? refusal(shown, errno) : failure(shown, errno);
    OwnedFd dir{beneath::open_at(top.fd, where.parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return beneath::refused(errno) ? refusal(shown, errno) : failure(shown, errno);
    const int e = replace_in(dir.fd, where.name, bytes);
    if (e == ELOOP) return refusal(shown, e);
    if (e != 0) return failure(shown, e);
    return {};
}

}  // namespace quarvel::roundtrip
