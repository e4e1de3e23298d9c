// An in-memory file system and environment for testing and fuzzing the
// directive resolver: files, directories and symbolic links under "/",
// with a record of every path whose contents were read or listed.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "directives/file_system.hpp"

namespace quarvel {

class MemoryFileSystem final : public FileSystem {
  public:
    MemoryFileSystem();
    // Parents are created as directories; paths are absolute.
    void add_file(const std::string& path, std::string contents);
    void add_directory(const std::string& path);
    void add_link(const std::string& path, std::string target);
    void add_special(const std::string& path);  // a FIFO or device

    std::optional<std::string> canonical(const std::string& path) override;
    EntryKind kind(const std::string& path) override;
    bool is_link(const std::string& path) override;
    FileRead read(const std::string& path, std::uint64_t max_bytes) override;
    DirListing list(const std::string& path) override;
    std::string current_directory() override { return "/"; }
    bool reads_in_parallel() const override { return parallel_reads_; }
    // Lets a directory walk read ahead on two threads, as on the real file
    // system; touched() then lists the files it read in the order they came.
    void allow_parallel_reads(bool allow) { parallel_reads_ = allow; }

    // Paths handed to read() and list(), in order.
    const std::vector<std::string>& touched() const { return touched_; }

  private:
    enum class Type { File, Directory, Link, Special };
    struct Entry {
        Type type = Type::Directory;
        std::string data;  // file contents or link target
    };
    void add(const std::string& path, Entry entry);
    const Entry* entry(const std::string& canonical_path) const;

    void touch(const std::string& path);

    std::map<std::string, Entry> entries_;
    std::vector<std::string> touched_;
    std::mutex touched_lock_;
    bool parallel_reads_ = false;
};

class MemoryEnvironment final : public Environment {
  public:
    std::map<std::string, std::string> variables;
    std::optional<std::string> get(const std::string& name) override {
        auto it = variables.find(name);
        if (it == variables.end()) return std::nullopt;
        return it->second;
    }
};

}  // namespace quarvel
