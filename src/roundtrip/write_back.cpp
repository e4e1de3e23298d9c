#include "roundtrip/write_back.hpp"

#include <algorithm>

#include "directives/paths.hpp"
#include "support/stack.hpp"
#include "syntax/included_root.hpp"

namespace quarvel::roundtrip {
namespace {

bool is_boundary(const YamlNode& node) {
    return node.source() != nullptr;
}

// A boundary that stands for one included file with its own number.
std::optional<std::uint32_t> included_file(const YamlNode& node) {
    if (!node.source() || !node.source()->target_file_id) return {};
    return *node.source()->target_file_id;
}

// Changed within the node's file, looking past the node's own boundary.
bool content_changed(const YamlNode& node);

bool child_changed(const YamlNode& child, bool is_key) {
    const std::optional<bool> changed = ensure_stack([&] {
        return std::optional<bool>(is_key ? content_changed(child) : changed_within_file(child));
    });
    return !changed || *changed;  // out of stack: assume changed, never drop an edit
}

bool content_changed(const YamlNode& node) {
    if (node.comments.modified) return true;
    const bool mapping = node.kind == NodeKind::Mapping;
    for (std::size_t i = 0; i < node.children.size(); ++i)
        if (child_changed(node.children[i], mapping && i % 2 == 0)) return true;
    return false;
}

// A copy of the node and everything below it, aliases kept as aliases;
// nullopt when the stack ran out.
std::optional<YamlNode> copy_deep(const YamlNode& node) {
    YamlNode out = node.copy_shallow();
    out.children.reserve(node.children.size());
    for (const YamlNode& child : node.children) {
        auto copied = ensure_stack([&] { return copy_deep(child); });
        if (!copied) return std::nullopt;
        out.children.push_back(std::move(*copied));
    }
    return out;
}

// The root of one file of a merged directory, rebuilt from the children it
// gave the merged node (edits included) and its own root properties.
std::optional<YamlNode> merged_file_root(const YamlNode& merged, const MergedFile& share) {
    if (share.whole_root) return copy_deep(merged.children[share.first]);
    YamlNode root;
    root.kind = share.kind;
    root.style = share.style;
    restore_own_root(root, share.own);
    root.comments.modified = share.edited;
    root.children.reserve(share.count);
    for (std::uint32_t i = share.first; i < share.first + share.count; ++i) {
        auto child = copy_deep(merged.children[i]);
        if (!child) return std::nullopt;
        root.children.push_back(std::move(*child));
    }
    return root;
}

Error entries_of_no_file(const YamlNode& merged) {
    Error e;
    e.family = ErrorFamily::Directive;
    e.selector = directive_kind::include_other;
    e.message = "entries were added to the collection merged by " +
                std::string(merged.source()->tag) + " " + std::string(merged.source()->target) +
                "; write-back cannot tell which of its files they belong in";
    return e;
}

// Calls f(file root, file number) for every included file, in document
// order, descending below each boundary: at a boundary of one included file
// the boundary itself, for a merged directory the root of each of its files
// rebuilt from the merged children. False when f refused, the stack ran out
// (error unset) or a merged collection no longer matches its files.
template <class F>
bool for_each_include(const YamlNode& node, F& f, std::optional<Error>& error) {
    if (const auto id = included_file(node)) {
        if (!f(node, *id)) return false;
    }
    if (node.source() && !node.source()->merged.empty()) {
        const auto& shares = node.source()->merged;
        if (shares.back().first + shares.back().count != node.children.size()) {
            error = entries_of_no_file(node);
            return false;
        }
        for (const MergedFile& share : shares) {
            auto root = merged_file_root(node, share);
            if (!root || !f(*root, share.file_id)) return false;
        }
    }
    for (const YamlNode& child : node.children) {
        if (child.children.empty() && !child.source()) continue;
        if (!ensure_stack([&] { return for_each_include(child, f, error); })) return false;
    }
    return true;
}

std::optional<SourceText> text_of(std::span<const FileRecord> files, std::uint32_t id) {
    if (!files[id].text) return {};
    return SourceText{*files[id].text, id};
}

// Paths equal component by component: "a//b" and "a/./b" name "a/b".
std::string path_key(std::string_view path) {
    std::string key = path.starts_with('/') ? "/" : "";
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        if (!part.empty() && part != ".") {
            if (!key.empty() && key.back() != '/') key += '/';
            key += part;
        }
        pos = end + 1;
    }
    return key;
}

Error conflicting_edits(const std::string& path) {
    Error e;
    e.family = ErrorFamily::Directive;
    e.selector = directive_kind::include_other;
    e.message = "'" + path +
                "' is included more than once with conflicting edits; write-back cannot store two "
                "different versions of one file";
    e.file = path;
    return e;
}

// An included file's path is canonical and inside the include root; its
// part below the root is what the confined write walks.
FileBytes beneath_root(std::string path, std::string bytes, std::string_view root) {
    FileBytes out{std::move(path), std::move(bytes), std::string(root), {}};
    if (!root.empty()) {
        const std::size_t skip = root == "/" ? 1 : root.size() + 1;
        const bool inside =
            out.path.starts_with(root) &&
            (root == "/" || out.path.size() == root.size() || out.path[root.size()] == '/');
        // A path outside the root gets a way out, which the write refuses.
        out.rel = !inside                  ? std::string("..")
                  : out.path.size() > skip ? out.path.substr(skip)
                                           : ".";
    }
    return out;
}

}  // namespace

bool changed_within_file(const YamlNode& node) {
    return !is_boundary(node) && content_changed(node);
}

Result<std::vector<FileBytes>> plan_save(const SaveInput& input) {
    std::vector<FileBytes> out;
    std::optional<Error> error;
    auto visit = [&](const YamlNode& node, std::uint32_t id) {
        if (id >= input.files.size() || !content_changed(node)) return true;
        auto bytes = emit_included_file(node, text_of(input.files, id));
        if (!bytes) {
            error = std::move(bytes.error());
            return false;
        }
        out.push_back(beneath_root(input.files[id].path, std::move(*bytes), input.include_root));
        return true;
    };
    bool root_changed = false;
    for (const YamlNode& root : input.roots) {
        if (!for_each_include(root, visit, error))
            return fail(error ? *error : stack_exhausted_error());
        root_changed = root_changed || root.comments.modified || changed_within_file(root);
    }
    if (!input.path && !root_changed) return out;
    if (!input.path && !input.origin)
        return fail(
            Error::argument("save() needs a path: this document was not loaded from a file"));
    auto bytes = emit_stream(input.roots, input.root_text, input.options);
    if (!bytes) return fail(std::move(bytes.error()));
    if (input.path) {
        out.push_back({*input.path, std::move(*bytes), {}, {}});
    } else {
        // The origin's final component is never followed: a link put in
        // its place since it was loaded is refused, not written through.
        const std::string& origin = *input.origin;
        out.push_back({origin, std::move(*bytes), input.origin_dir.value_or(std::string()),
                       std::string(paths::file_name(origin))});
    }
    return out;
}

Result<std::vector<FileBytes>> collect_included_files(std::span<const YamlNode> roots,
                                                      std::span<const FileRecord> files,
                                                      std::string_view include_root) {
    if (files.empty())
        return fail(
            Error::argument("document was not loaded with OPT_INCLUDES; nothing to write back"));
    std::vector<FileBytes> out;
    std::vector<std::string> keys;
    std::optional<Error> error;
    auto visit = [&](const YamlNode& node, std::uint32_t id) {
        if (id >= files.size()) return true;
        FileBytes file = beneath_root(files[id].path, {}, include_root);
        if (files[id].text && !content_changed(node)) {
            file.bytes.assign(*files[id].text);
        } else {
            auto bytes = emit_included_file(node, text_of(files, id));
            if (!bytes) {
                error = std::move(bytes.error());
                return false;
            }
            file.bytes = std::move(*bytes);
        }
        std::string key = path_key(file.path);
        const auto seen = std::find(keys.begin(), keys.end(), key);
        if (seen == keys.end()) {
            keys.push_back(std::move(key));
            out.push_back(std::move(file));
        } else if (out[static_cast<std::size_t>(seen - keys.begin())].bytes != file.bytes) {
            error = conflicting_edits(file.path);
            return false;
        }
        return true;
    };
    for (const YamlNode& root : roots)
        if (!for_each_include(root, visit, error))
            return fail(error ? *error : stack_exhausted_error());
    return out;
}

detail::expected<void, WriteFailure> write_file(const FileBytes& file) {
    if (file.root.empty()) return write_file_atomic(file.path, file.bytes);
    return write_file_beneath(file.root, file.rel, file.path, file.bytes);
}

detail::expected<std::vector<std::string>, WriteFailure> write_files(
    std::span<const FileBytes> files) {
    std::vector<std::string> written;
    for (const FileBytes& f : files) {
        auto done = write_file(f);
        if (!done) return detail::unexpected<WriteFailure>(std::move(done.error()));
        written.push_back(f.path);
    }
    return written;
}

}  // namespace quarvel::roundtrip
