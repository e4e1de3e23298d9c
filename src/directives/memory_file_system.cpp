#include "directives/memory_file_system.hpp"

#include <cerrno>
#include <system_error>
#include <utility>

#include "directives/paths.hpp"

namespace quarvel {
namespace {

constexpr int kMaxLinks = 40;

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i <= path.size()) {
        const std::size_t slash = path.find('/', i);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > i) out.emplace_back(path.substr(i, end - i));
        i = end + 1;
    }
    return out;
}

OsFailure failure(int code) {
    return OsFailure{code, std::error_code(code, std::generic_category()).message()};
}

}  // namespace

MemoryFileSystem::MemoryFileSystem() {
    entries_["/"] = Entry{Type::Directory, {}};
}

void MemoryFileSystem::add(const std::string& path, Entry e) {
    const std::string p = paths::normalise(path);
    for (auto dir = paths::parent(p); dir && *dir != "/"; dir = paths::parent(*dir))
        entries_.try_emplace(*dir, Entry{Type::Directory, {}});
    entries_[p] = std::move(e);
}

void MemoryFileSystem::add_file(const std::string& path, std::string contents) {
    add(path, Entry{Type::File, std::move(contents)});
}
void MemoryFileSystem::add_directory(const std::string& path) {
    add(path, Entry{Type::Directory, {}});
}
void MemoryFileSystem::add_link(const std::string& path, std::string target) {
    add(path, Entry{Type::Link, std::move(target)});
}
void MemoryFileSystem::add_special(const std::string& path) {
    add(path, Entry{Type::Special, {}});
}

const MemoryFileSystem::Entry* MemoryFileSystem::entry(const std::string& p) const {
    auto it = entries_.find(p);
    return it == entries_.end() ? nullptr : &it->second;
}

// Component by component, following links the way the kernel does.
std::optional<std::string> MemoryFileSystem::canonical(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    std::vector<std::string> pending = components(paths::join("/", path));
    std::vector<std::string> done;
    int links = 0;
    std::size_t i = 0;
    while (i < pending.size()) {
        const std::string part = pending[i++];
        if (part == ".") continue;
        if (part == "..") {
            if (!done.empty()) done.pop_back();
            continue;
        }
        std::string here;
        for (const auto& d : done) here += "/" + d;
        here += "/" + part;
        const Entry* e = entry(here);
        if (!e) return std::nullopt;
        if (e->type == Type::Link) {
            if (++links > kMaxLinks) return std::nullopt;
            std::vector<std::string> next = components(e->data);
            if (!e->data.empty() && e->data.front() == '/') done.clear();
            next.insert(next.end(), pending.begin() + static_cast<std::ptrdiff_t>(i),
                        pending.end());
            pending = std::move(next);
            i = 0;
            continue;
        }
        if (e->type != Type::Directory && i < pending.size()) return std::nullopt;
        done.push_back(part);
    }
    std::string out;
    for (const auto& d : done) out += "/" + d;
    return out.empty() ? std::string("/") : out;
}

EntryKind MemoryFileSystem::kind(const std::string& path) {
    auto c = canonical(path);
    const Entry* e = c ? entry(*c) : nullptr;
    if (!e) return EntryKind::Missing;
    switch (e->type) {
        case Type::File:
            return EntryKind::File;
        case Type::Directory:
            return EntryKind::Directory;
        default:
            return EntryKind::Other;
    }
}

bool MemoryFileSystem::is_link(const std::string& path) {
    const std::string abs = paths::join("/", path);
    auto dir = paths::parent(abs);
    auto c = dir ? canonical(*dir) : std::nullopt;
    if (!c) return false;
    const Entry* e = entry(paths::join(*c, paths::file_name(abs)));
    return e && e->type == Type::Link;
}

void MemoryFileSystem::touch(const std::string& path) {
    std::lock_guard<std::mutex> hold(touched_lock_);
    touched_.push_back(path);
}

FileRead MemoryFileSystem::read(const std::string& path, std::uint64_t max_bytes) {
    touch(path);
    FileRead out;
    auto c = canonical(path);
    const Entry* e = c ? entry(*c) : nullptr;
    if (!e)
        out.failure = failure(ENOENT);
    else if (e->type == Type::Directory)
        out.failure = failure(EISDIR);
    else if (e->type != Type::File)
        out.not_regular = true;
    else if (e->data.size() > max_bytes)
        out.failure = failure(EFBIG);
    else
        out.bytes = e->data;
    return out;
}

DirListing MemoryFileSystem::list(const std::string& path) {
    touch(path);
    DirListing out;
    auto c = canonical(path);
    const Entry* e = c ? entry(*c) : nullptr;
    if (!e || e->type != Type::Directory) {
        out.failure = failure(e ? ENOTDIR : ENOENT);
        return out;
    }
    const std::string prefix = *c == "/" ? "/" : *c + "/";
    for (auto it = entries_.lower_bound(prefix); it != entries_.end(); ++it) {
        if (!it->first.starts_with(prefix)) break;
        const std::string_view rest = std::string_view(it->first).substr(prefix.size());
        if (rest.empty() || rest.find('/') != std::string_view::npos) continue;
        std::optional<EntryKind> kind;
        if (it->second.type == Type::File) kind = EntryKind::File;
        if (it->second.type == Type::Directory) kind = EntryKind::Directory;
        if (it->second.type == Type::Special) kind = EntryKind::Other;
        out.entries.push_back(DirEntry{std::string(rest), kind});
    }
    return out;
}

}  // namespace quarvel
