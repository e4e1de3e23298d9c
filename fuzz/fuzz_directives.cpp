// The directive resolver over a random in-memory tree of files, directories
// and links: the first segment of the input (segments are separated by NUL
// bytes) is the root text, then pairs of path and contents (contents that
// start with "->" make a link, an empty one a directory). A file outside the
// include root always exists. Whatever the tree, resolution must not crash
// and must never read or list anything outside the root. It runs twice, once
// including files as it goes and once reading directory walks ahead on two
// threads, and both must end alike: the same trees, file table and missing
// names, or the same error. Then every included file is written back (all
// of them re-emitted when the flags say so), and what write-back produces
// must read as YAML again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "directives/memory_file_system.hpp"
#include "directives/paths.hpp"
#include "directives/resolve.hpp"
#include "roundtrip/write_back.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "tree_fingerprint.hpp"

namespace {

std::vector<std::string_view> segments(std::string_view data) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i <= data.size()) {
        const std::size_t nul = data.find('\0', i);
        const std::size_t end = nul == std::string_view::npos ? data.size() : nul;
        out.push_back(data.substr(i, end - i));
        i = end + 1;
    }
    return out;
}

void build(quarvel::MemoryFileSystem& fs, const std::vector<std::string_view>& parts) {
    fs.add_file("/outside/secrets.yaml", "pw: leaked\n");
    fs.add_file("/outside/x.yaml", "leaked: true\n");
    fs.add_directory("/c");
    for (std::size_t i = 1; i + 1 < parts.size(); i += 2) {
        // Entries live strictly below the include root: replacing "/c" itself
        // (say by a link to "/") would move the root, not escape it.
        const std::string path = quarvel::paths::normalise("/c/" + std::string(parts[i]));
        if (!path.starts_with("/c/")) continue;
        const std::string_view body = parts[i + 1];
        if (body.starts_with("->"))
            fs.add_link(path, std::string(body.substr(2)));
        else if (body.empty())
            fs.add_directory(path);
        else
            fs.add_file(path, std::string(body));
    }
}

// Marks every node changed, so that write-back re-emits every file.
void mark_all_modified(quarvel::NodeList& roots) {
    std::vector<quarvel::YamlNode*> pending;
    for (quarvel::YamlNode& r : roots) pending.push_back(&r);
    while (!pending.empty()) {
        quarvel::YamlNode* n = pending.back();
        pending.pop_back();
        n->comments.modified = true;
        for (quarvel::YamlNode& c : n->children) pending.push_back(&c);
    }
}

void check_write_back(quarvel::NodeList& roots, const quarvel::FileTable& table,
                      std::string_view root_text, bool re_emit) {
    if (re_emit) mark_all_modified(roots);
    std::vector<quarvel::roundtrip::FileRecord> records;
    for (const quarvel::SourceFile& f : table.files)
        records.push_back({f.path, f.text ? std::optional<std::string_view>(*f.text)
                                          : std::optional<std::string_view>(root_text)});
    auto files = quarvel::roundtrip::collect_included_files(roots, records);
    if (!files) return;
    for (const auto& file : *files) {
        if (!quarvel::compose_text(file.bytes, 0, false)) {
            std::fprintf(stderr, "write-back of %s does not read back:\n%s\n", file.path.c_str(),
                         file.bytes.c_str());
            std::abort();
        }
    }
}

// Everything a resolution decides, as one string.
std::string outcome_text(const quarvel::Result<quarvel::DirectiveOutcome>& outcome,
                         const quarvel::SyntaxForest& forest) {
    std::string out;
    if (!outcome) {
        const quarvel::Error& e = outcome.error();
        out +=
            "error " + std::to_string(e.selector) + " " + e.message + " in " + e.file.value_or("");
        if (e.has_position) out += " at " + std::to_string(e.line) + ":" + std::to_string(e.column);
        for (const auto& frame : e.include_stack)
            out += " from " + frame.path + ":" + std::to_string(frame.line);
        return out;
    }
    for (const quarvel::YamlNode& r : forest.roots) quarvel::fuzz::fingerprint(r, out, true);
    for (const quarvel::SourceFile& f : outcome->files.files)
        out += "\nfile " + f.path + (f.recheck ? " recheck\n" : "\n") + (f.text ? *f.text : "");
    for (const auto* missing : {&outcome->missing_secrets, &outcome->missing_env_vars})
        for (const quarvel::MissingValue& m : *missing)
            out += "\nmissing " + m.name + " " + m.file + ":" + std::to_string(m.line);
    for (const auto& w : outcome->warnings) out += "\nwarning " + w.text;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const auto parts = segments({reinterpret_cast<const char*>(data) + 1, size - 1});
    auto text = quarvel::utf8::decode_input(parts.front());
    if (!text) return 0;
    auto forest = quarvel::compose_text(*text, 0, false);
    if (!forest) return 0;
    auto ahead_forest = quarvel::compose_text(*text, 0, false);
    quarvel::MemoryFileSystem fs;
    build(fs, parts);
    quarvel::MemoryFileSystem ahead_fs;
    build(ahead_fs, parts);
    ahead_fs.allow_parallel_reads(true);
    quarvel::MemoryEnvironment env;
    env.variables["HOME"] = "/home";
    quarvel::DirectiveInput input;
    input.include_dir = "/c";
    input.root_file = (flags & 1) ? "/c/configuration.yaml" : "/c/<root>";
    input.options.includes = true;
    input.options.secrets = flags & 2;
    input.options.env_vars = flags & 4;
    input.options.recursive_dirs = flags & 8;
    input.options.soft_secrets = flags & 16;
    input.options.soft_env_vars = flags & 32;
    auto outcome = quarvel::resolve_directives(*forest, input, fs, env);
    input.options.read_ahead_from = 2;
    auto ahead = quarvel::resolve_directives(*ahead_forest, input, ahead_fs, env);
    for (const auto* read : {&fs, &ahead_fs})
        for (const std::string& p : read->touched())
            if (p != "/c" && !p.starts_with("/c/")) std::abort();
    const std::string expected = outcome_text(outcome, *forest);
    if (outcome_text(ahead, *ahead_forest) != expected) {
        std::fprintf(stderr, "reading ahead changed the outcome:\n%s\n----\n%s\n", expected.c_str(),
                     outcome_text(ahead, *ahead_forest).c_str());
        std::abort();
    }
    if (outcome) check_write_back(forest->roots, outcome->files, *text, flags & 64);
    return 0;
}
