// The four !include_dir_* directives: a walk over a directory (and, when
// asked, its subdirectories), each taken file included, the results
// assembled into one sequence or mapping.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>

#include "directives/paths.hpp"
#include "directives/resolver_impl.hpp"
#include "resolver/resolver.hpp"
#include "syntax/included_root.hpp"

namespace quarvel::directives_detail {
namespace {

// A name is taken when the text after its last "." is "yaml" or "yml"; a
// name whose only "." is its first character has no extension.
bool has_yaml_extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view ext = name.substr(dot + 1);
    return ext == "yaml" || ext == "yml";
}

std::string_view stem(std::string_view path) {
    const std::string_view name = paths::file_name(path);
    return name.substr(0, name.rfind('.'));
}

// Whether a plain scalar with this text is a string in every resolver mode.
bool plain_string(std::string_view text) {
    for (ResolverMode mode : {ResolverMode::Core12, ResolverMode::Yaml11, ResolverMode::PyYaml})
        if (resolve(mode, text, true).kind != ResolvedKind::Str) return false;
    return true;
}

bool named(Directive d) {
    return d == Directive::DirNamed || d == Directive::DirMergeNamed;
}

}  // namespace

// Taken files in walk order: a directory's files by name, then each of its
// subdirectories walked completely, by name. Every target is confined; a
// directory reached twice (through links) is walked once.
Result<std::vector<std::string>> Resolver::directory_files(const std::string& dir,
                                                           std::uint32_t file, const YamlNode& at) {
    std::vector<std::string> taken;
    std::vector<std::string> pending{dir};
    std::unordered_set<std::string> seen{dir};
    while (!pending.empty()) {
        const std::string current = std::move(pending.back());
        pending.pop_back();
        DirListing listing = fs_.list(current);
        if (listing.failure)
            return fail(error_at(directive_kind::include_not_found,
                                 "cannot read directory: " + listing.failure->description +
                                     " (os error " + std::to_string(listing.failure->code) + ")",
                                 file, at));
        std::sort(listing.entries.begin(), listing.entries.end());
        std::vector<std::string> subdirs;
        for (const DirEntry& entry : listing.entries) {
            const std::string& name = entry.name;
            if (name.front() == '.') continue;
            std::string full = paths::join(current, name);
            const EntryKind kind = entry.kind ? *entry.kind : fs_.kind(full);
            const bool yaml =
                has_yaml_extension(name) && !(input_.options.secrets && name == "secrets.yaml");
            const bool wanted = kind == EntryKind::File        ? yaml
                                : kind == EntryKind::Directory ? input_.options.recursive_dirs
                                : kind == EntryKind::Missing   ? yaml && fs_.is_link(full)
                                                               : false;
            if (!wanted) continue;
            // `current` is canonical, so an entry that is no link is too.
            if (!entry.kind) {
                auto target = confine(full, file, at);
                if (!target) return fail(std::move(target.error()));
                full = std::move(target->path);
            }
            if (kind == EntryKind::File)
                taken.push_back(std::move(full));
            else if (seen.insert(full).second)
                subdirs.push_back(std::move(full));
        }
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    return taken;
}

namespace {

// Splices one file's root into a merged directory node: a sequence's items
// (a merge list takes any other root as one item), a mapping's entries (a
// merge named skips other roots). Records which children came from the file.
void merge_into(YamlNode& result, YamlNode root, bool list, std::uint32_t file_id,
                std::vector<MergedFile>& merged) {
    MergedFile share;
    share.file_id = file_id;
    share.first = static_cast<std::uint32_t>(result.children.size());
    share.kind = root.kind;
    share.style = root.style;
    const NodeKind wanted = list ? NodeKind::Sequence : NodeKind::Mapping;
    if (root.kind == wanted) {
        share.own = take_own_root(root);
        for (YamlNode& child : root.children) result.children.push_back(std::move(child));
    } else if (list) {
        share.whole_root = true;
        result.children.push_back(std::move(root));
    } else {
        return;
    }
    share.count = static_cast<std::uint32_t>(result.children.size()) - share.first;
    merged.push_back(std::move(share));
}

}  // namespace

Result<YamlNode> Resolver::include_dir(Directive d, YamlNode& n, std::uint32_t file,
                                       std::uint32_t depth) {
    auto target = target_of(n, file);
    if (!target) return fail(std::move(target.error()));
    std::vector<MergedFile> merged;
    YamlNode result;
    result.kind = named(d) ? NodeKind::Mapping : NodeKind::Sequence;
    if (target->exists && fs_.kind(target->path) == EntryKind::Directory) {
        auto files = directory_files(target->path, file, n);
        if (!files) return fail(std::move(files.error()));
        std::size_t read_ahead_to = 0;
        for (std::size_t i = 0; i < files->size(); ++i) {
            const std::string& path = (*files)[i];
            if (i == read_ahead_to) read_ahead_to = prefetch(*files, i);
            // A file already being included would only repeat the chain
            // until the depth limit, doubling the work at every level.
            if (auto st = not_a_cycle(path, file, n); !st) return fail(std::move(st.error()));
            std::uint32_t id = 0;
            auto root = included_root(path, Splice{d, n, file, depth}, &id);
            if (!root) return root;
            switch (d) {
                case Directive::DirList:
                case Directive::DirNamed: {
                    root->set_source(std::make_unique<IncludeSource>(
                        IncludeSource{*n.tag(), n.text, id, {}, {}}));
                    if (d == Directive::DirNamed) {
                        YamlNode key;
                        key.kind = NodeKind::Scalar;
                        key.span = n.span;
                        key.text = forest_.arena.store(stem(path));
                        // The key is the file's name as a string, whatever it looks like.
                        if (!plain_string(key.text)) key.scalar_style = ScalarStyle::SingleQuoted;
                        result.children.push_back(std::move(key));
                    }
                    result.children.push_back(std::move(*root));
                    break;
                }
                default:
                    merge_into(result, std::move(*root), d == Directive::DirMergeList, id, merged);
                    break;
            }
        }
    }
    if (result.children.empty()) result.style = CollectionStyle::Flow;
    mark(result, n, std::nullopt);
    result.source()->merged = std::move(merged);
    return result;
}

}  // namespace quarvel::directives_detail
