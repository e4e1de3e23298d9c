#include "roundtrip/atomic_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace quarvel::roundtrip {
namespace {

std::atomic<WriteCall> g_write_call{nullptr};

// Symlinks followed this many times at most, as the system does.
constexpr int kMaxLinks = 40;

detail::unexpected<WriteFailure> failure(const std::string& path, int error_number) {
    return detail::unexpected<WriteFailure>(WriteFailure{
        path, error_number, "cannot write " + path + ": " + std::strerror(error_number)});
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

// Creates a new temporary file beside `target`; its name is returned in `tmp`.
int create_temporary(const std::string& target, std::string& tmp, int& fd) {
    const std::string dir = directory_of(target);
    const std::size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = dir + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
              std::to_string(counter.fetch_add(1));
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

void sync_directory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

void set_write_call(WriteCall call) noexcept {
    g_write_call.store(call, std::memory_order_relaxed);
}

detail::expected<void, WriteFailure> write_file_atomic(const std::string& path,
                                                       std::string_view bytes) {
    std::string target;
    if (int e = resolve_links(path, target)) return failure(path, e);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return failure(path, EISDIR);
    // Renaming would replace a file its owner made read-only; writing in
    // place would be refused, and so is this.
    if (exists && ::access(target.c_str(), W_OK) != 0) return failure(path, errno);
    if (!exists && errno != ENOENT) return failure(path, errno);

    std::string tmp;
    int fd = -1;
    if (int e = create_temporary(target, tmp, fd)) return failure(path, e);
    int e = fill(fd, bytes, exists ? &old : nullptr);
    if (::close(fd) != 0 && e == 0) e = errno;
    if (e == 0 && ::rename(tmp.c_str(), target.c_str()) != 0) e = errno;
    if (e != 0) {
        ::unlink(tmp.c_str());
        return failure(path, e);
    }
    sync_directory(directory_of(target));
    return {};
}

}  // namespace quarvel::roundtrip
