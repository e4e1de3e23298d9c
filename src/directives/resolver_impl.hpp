// The directive resolver's state for one call, shared by the files that
// implement its parts (walk and includes, directory walks, secrets and
// environment variables). Not for use outside src/directives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directives/resolve.hpp"
#include "support/seeded_hash.hpp"
#include "syntax/anchors.hpp"
#include "syntax/compose.hpp"

namespace quarvel::directives_detail {

enum class Directive : unsigned char {
    None,
    Include,
    DirList,
    DirNamed,
    DirMergeList,
    DirMergeNamed,
    Secret,
    EnvVar
};

Directive directive_of(std::string_view tag);

// The parsed secrets of one secrets.yaml (kept for the whole call).
struct SecretsFile {
    SyntaxForest forest;
    SeededMap<const YamlNode*> values;   // keys are file text: keyed against collisions
    std::optional<AnchorIndex> anchors;  // built on first use, for aliases
};

// A target after confinement: its canonical path when it exists, else its
// lexically normalised path.
struct Target {
    std::string path;
    bool exists = false;
};

class Resolver {
  public:
    Resolver(SyntaxForest& forest, const DirectiveInput& input, FileSystem& fs, Environment& env);
    Result<DirectiveOutcome> run();

  private:
    // An include being resolved: the file read, and where its directive is.
    struct Frame {
        std::string target;
        std::uint32_t from_file = 0;
        std::uint32_t line = 0;
    };

    // `depth` is the node's nesting level in the spliced tree (a root is at
    // 1): an included file's levels count on from its directive's, so the
    // nesting limit holds for the whole result, not per file.
    Status walk(YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Status walk_child(YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Result<YamlNode> apply(Directive d, YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Status within_depth(const YamlNode& n, std::uint32_t depth) const;

    // Errors carry the include stack at the point of failure.
    Error error_at(int kind, std::string message, std::uint32_t file, const YamlNode& at) const;
    Error error_in(int kind, std::string message, std::string path) const;
    Error too_deep(const YamlNode& at) const;
    Error over_budget(const std::string& path) const;
    const std::string& path_of(std::uint32_t file) const;

    // Include steps shared by every include directive.
    Result<Target> target_of(const YamlNode& n, std::uint32_t file);
    Result<Target> confine(const std::string& joined, std::uint32_t file, const YamlNode& at);
    std::string base_directory(std::uint32_t file);
    std::string absolute(std::string_view path);
    Status not_a_cycle(const std::string& path, std::uint32_t file, const YamlNode& at) const;
    Result<std::uint32_t> load(const std::string& path, const std::string& prefix, int kind);
    Result<SyntaxForest> compose_file(std::uint32_t id, std::string_view prefix);
    ComposeChecks compose_checks() const;
    std::uint64_t bytes_left() const;

    // Reads and composes files of a directory walk ahead, from paths[from]
    // on, on two threads (prefetch.cpp); returns the index past the last
    // file it took. load() and compose_file() then use what it made.
    std::size_t prefetch(const std::vector<std::string>& paths, std::size_t from);
    struct Prefetched;
    Prefetched read_ahead(const std::string& path, std::uint64_t max_bytes,
                          const ComposeChecks& checks);
    std::optional<SyntaxForest> take_prefetched_forest(const std::string& path, std::uint32_t id);
    // Where an included root goes: the directive that splices it and the
    // directive's depth.
    struct Splice {
        Directive directive;
        const YamlNode& node;
        std::uint32_t file = 0;
        std::uint32_t depth = 0;
    };
    Result<YamlNode> included_root(const std::string& path, const Splice& at, std::uint32_t* id);
    Result<YamlNode> read_and_resolve(const Splice& at, std::uint32_t* id);

    Result<YamlNode> include_file(YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Result<YamlNode> include_dir(Directive d, YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Result<std::vector<std::string>> directory_files(const std::string& dir, std::uint32_t file,
                                                     const YamlNode& at);

    Result<YamlNode> secret(YamlNode& n, std::uint32_t file, std::uint32_t depth);
    Result<const SecretsFile*> secrets_in(const std::string& dir);
    std::string secrets_start(std::uint32_t file);
    Result<YamlNode> env_var(YamlNode& n, std::uint32_t file);

    // The replacement takes the directive's place: its position, comments
    // and anchor, and a record of the directive.
    void mark(YamlNode& result, YamlNode& directive, std::optional<std::uint32_t> file_id);
    YamlNode null_at(const YamlNode& at) const;
    Status charge_expansion(const YamlNode& value, const AnchorIndex& anchors,
                            const YamlNode& directive);

    SyntaxForest& forest_;
    const DirectiveInput& input_;
    FileSystem& fs_;
    Environment& env_;
    std::string root_;  // the include root
    std::string cwd_;
    std::optional<std::string> root_start_;  // where the root text's secrets search starts
    DirectiveOutcome out_;
    std::vector<Frame> stack_;
    std::unordered_map<std::string, std::unique_ptr<SecretsFile>> secrets_;
    // A file read ahead: its text, its size as read (before decoding) and
    // its forest, composed as file 0; none when composing it failed.
    struct Prefetched {
        std::unique_ptr<const std::string> text;
        std::uint64_t read_bytes = 0;
        std::optional<SyntaxForest> forest;
    };
    std::unordered_map<std::string, Prefetched> prefetched_;
    std::uint64_t composed_files_ = 0;
    std::uint64_t composed_bytes_ = 0;
    ExpansionBudget expansion_;  // shared by every copy of a secret's value
};

}  // namespace quarvel::directives_detail
