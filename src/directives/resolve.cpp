// The walk over the tree, the include steps every include directive shares,
// and !include itself.
#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "directives/confine.hpp"
#include "directives/paths.hpp"
#include "directives/resolver_impl.hpp"
#include "support/limits.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "syntax/included_root.hpp"

namespace quarvel {
namespace directives_detail {
namespace {

std::string os_detail(const OsFailure& f) {
    return f.description + " (os error " + std::to_string(f.code) + ")";
}

bool blank(std::string_view s) {
    return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Errors in an included file name the file and carry no position of their
// own (the position belongs to the root text); the place goes in the text.
std::string at_place(std::string message, std::uint32_t line, std::uint32_t column) {
    return message + " at line " + std::to_string(std::uint64_t{line} + 1) + ", column " +
           std::to_string(std::uint64_t{column} + 1);
}

// The level an included file's root takes: the directive's own for
// !include and for a merge whose entries (or items) it contributes, one
// below it for an item or value of the directory's collection.
std::uint32_t root_depth(Directive d, NodeKind root, std::uint32_t depth) {
    switch (d) {
        case Directive::Include:
        case Directive::DirMergeNamed:
            return depth;
        case Directive::DirMergeList:
            return root == NodeKind::Sequence ? depth : depth + 1;
        default:
            return depth + 1;
    }
}

}  // namespace

Directive directive_of(std::string_view tag) {
    if (tag == "!include") return Directive::Include;
    if (tag == "!include_dir_list") return Directive::DirList;
    if (tag == "!include_dir_named") return Directive::DirNamed;
    if (tag == "!include_dir_merge_list") return Directive::DirMergeList;
    if (tag == "!include_dir_merge_named") return Directive::DirMergeNamed;
    if (tag == "!secret") return Directive::Secret;
    if (tag == "!env_var") return Directive::EnvVar;
    return Directive::None;
}

Resolver::Resolver(SyntaxForest& forest, const DirectiveInput& input, FileSystem& fs,
                   Environment& env)
    : forest_(forest), input_(input), fs_(fs), env_(env), cwd_(fs.current_directory()) {
    const std::string dir = absolute(input.include_dir.empty() ? "." : input.include_dir);
    root_ = fs_.canonical(dir).value_or(paths::normalise(dir));
    fs_.confine_to(root_);
    out_.files.root = root_;
    out_.files.files.push_back(SourceFile{input.root_file, nullptr});
}

Result<DirectiveOutcome> Resolver::run() {
    for (YamlNode& root : forest_.roots)
        if (auto st = walk_child(root, 0, 1); !st) return fail(std::move(st.error()));
    // Copied secrets may point into their file's arena.
    for (auto& [path, file] : secrets_)
        if (file) forest_.arena.adopt(std::move(file->forest.arena));
    return std::move(out_);
}

Status Resolver::walk(YamlNode& n, std::uint32_t file, std::uint32_t depth) {
    if (n.tag()) {
        const Directive d = directive_of(*n.tag());
        const DirectiveOptions& o = input_.options;
        const bool on = d == Directive::Secret   ? o.secrets
                        : d == Directive::EnvVar ? o.env_vars
                        : d != Directive::None   ? o.includes
                                                 : false;
        if (on) {
            auto result = apply(d, n, file, depth);
            if (!result) return fail(std::move(result.error()));
            n = std::move(*result);
            return {};
        }
    }
    for (YamlNode& child : n.children)
        if (auto st = walk_child(child, file, depth + 1); !st) return st;
    return {};
}

Status Resolver::walk_child(YamlNode& n, std::uint32_t file, std::uint32_t depth) {
    if (depth > kMaxDepth) return fail(too_deep(n));
    if (n.children.empty() && !n.tag()) return {};
    bool ran = false;
    Status st = ensure_stack([&] {
        ran = true;
        return walk(n, file, depth);
    });
    if (!ran) return fail(stack_exhausted_error());
    return st;
}

// Whether a spliced tree that is not walked (a secret's copied value) stays
// within the nesting limit when its top node stands at `depth`.
Status Resolver::within_depth(const YamlNode& n, std::uint32_t depth) const {
    if (depth > kMaxDepth) return fail(too_deep(n));
    for (const YamlNode& child : n.children) {
        if (child.children.empty() && depth < kMaxDepth) continue;
        bool ran = false;
        Status st = ensure_stack([&] {
            ran = true;
            return within_depth(child, depth + 1);
        });
        if (!ran) return fail(stack_exhausted_error());
        if (!st) return st;
    }
    return {};
}

Result<YamlNode> Resolver::apply(Directive d, YamlNode& n, std::uint32_t file,
                                 std::uint32_t depth) {
    switch (d) {
        case Directive::Include:
            return include_file(n, file, depth);
        case Directive::Secret:
            return secret(n, file, depth);
        case Directive::EnvVar:
            return env_var(n, file);
        default:
            return include_dir(d, n, file, depth);
    }
}

const std::string& Resolver::path_of(std::uint32_t file) const {
    return out_.files.files[file].path;
}

Error Resolver::error_in(int kind, std::string message, std::string path) const {
    Error e;
    e.family = ErrorFamily::Directive;
    e.selector = kind;
    e.message = std::move(message);
    e.file = std::move(path);
    e.include_stack.reserve(stack_.size());
    for (const Frame& f : stack_)
        e.include_stack.push_back(IncludeFrame{path_of(f.from_file), f.line});
    return e;
}

// Files included (each use counts) and their bytes are bounded per call.
Error Resolver::over_budget(const std::string& path) const {
    return error_in(directive_kind::include_other,
                    "includes exceed the limit of " + std::to_string(kMaxIncludedFiles) +
                        " files or " + std::to_string(kMaxIncludedBytes >> 20) + " MiB in one load",
                    path);
}

// The nesting error a too deep file gets, naming the file the node is in.
Error Resolver::too_deep(const YamlNode& at) const {
    return error_in(directive_kind::include_other,
                    at_place(max_depth_message(), at.span.line, at.span.column),
                    path_of(at.span.file_id));
}

Error Resolver::error_at(int kind, std::string message, std::uint32_t file,
                         const YamlNode& at) const {
    Error e = error_in(kind, std::move(message), path_of(file));
    e.has_position = true;
    e.line = at.span.line;
    e.column = at.span.column;
    return e;
}

std::string Resolver::absolute(std::string_view path) {
    return paths::normalise(paths::join(cwd_, path));
}

// The directory of the file's path as recorded; the include root when the
// path has no directory part.
std::string Resolver::base_directory(std::uint32_t file) {
    auto dir = paths::parent(path_of(file));
    return dir ? absolute(*dir) : root_;
}

Result<Target> Resolver::confine(const std::string& joined, std::uint32_t file,
                                 const YamlNode& at) {
    Confined target = confine_path(fs_, root_, joined);
    if (target.place == Place::Outside)
        return fail(
            error_at(directive_kind::include_confinement, outside_message(joined), file, at));
    if (target.place == Place::DanglingLink)
        return fail(error_at(directive_kind::include_not_found,
                             "cannot read included file '" + joined + "': not found", file, at));
    return Target{std::move(target.path), target.exists};
}

Status Resolver::not_a_cycle(const std::string& path, std::uint32_t file,
                             const YamlNode& at) const {
    for (const Frame& f : stack_)
        if (f.target == path)
            return fail(error_at(directive_kind::circular_include,
                                 "circular include detected: '" + path + "'", file, at));
    return {};
}

// Argument, depth, confinement and cycle: the steps every include shares.
Result<Target> Resolver::target_of(const YamlNode& n, std::uint32_t file) {
    if (n.kind != NodeKind::Scalar || blank(n.text))
        return fail(error_at(directive_kind::include_other,
                             std::string(*n.tag()) + " needs an argument", file, n));
    if (stack_.size() >= kMaxIncludeDepth)
        return fail(error_at(
            directive_kind::include_depth,
            "include chain exceeds the maximum depth of " + std::to_string(kMaxIncludeDepth), file,
            n));
    auto target = confine(paths::join(base_directory(file), n.text), file, n);
    if (!target) return target;
    // A way out is reported as such first; a name inside that holds a
    // control character (a NUL would cut it short) is refused as well.
    if (auto control = control_character_in(n.text, "include"))
        return fail(error_at(directive_kind::include_confinement, std::move(*control), file, n));
    if (auto st = not_a_cycle(target->path, file, n); !st) return fail(std::move(st.error()));
    return target;
}

// Reads a file once per call: a second use gets the first number back.
Result<std::uint32_t> Resolver::load(const std::string& path, const std::string& prefix, int kind) {
    FileTable& table = out_.files;
    if (auto it = table.by_path.find(path); it != table.by_path.end()) return it->second;
    std::unique_ptr<const std::string> text;
    if (auto ahead = prefetched_.find(path); ahead != prefetched_.end() && ahead->second.text) {
        // Read ahead: refused now as the read would have refused it here.
        if (ahead->second.read_bytes > bytes_left()) return fail(over_budget(path));
        text = std::move(ahead->second.text);
    } else {
        // A file that would take the call past its byte budget is refused unread.
        FileRead read = fs_.read(path, bytes_left());
        if (read.not_regular)
            return fail(
                error_in(directive_kind::include_other, prefix + "not a regular file", path));
        if (read.failure && read.failure->code == EFBIG) return fail(over_budget(path));
        if (read.failure) return fail(error_in(kind, prefix + os_detail(*read.failure), path));
        auto decoded = utf8::decode_input(std::move(read.bytes));
        if (!decoded) return fail(error_in(kind, prefix + decoded.error().message, path));
        text = std::make_unique<const std::string>(std::move(*decoded));
    }
    const auto id = static_cast<std::uint32_t>(table.files.size());
    table.files.push_back(SourceFile{path, std::move(text)});
    table.by_path.emplace(path, id);
    return id;
}

std::uint64_t Resolver::bytes_left() const {
    return kMaxIncludedBytes - std::min(composed_bytes_, kMaxIncludedBytes);
}

ComposeChecks Resolver::compose_checks() const {
    ComposeChecks checks;
    checks.strict = input_.options.strict;
    checks.reject_complex_keys = input_.options.reject_complex_keys;
    checks.keep_comments = input_.options.keep_comments;
    return checks;
}

Result<SyntaxForest> Resolver::compose_file(std::uint32_t id, std::string_view prefix) {
    const SourceFile& f = out_.files.files[id];
    composed_bytes_ += f.text->size();
    if (++composed_files_ > kMaxIncludedFiles || composed_bytes_ > kMaxIncludedBytes)
        return fail(over_budget(f.path));
    const ComposeChecks checks = compose_checks();
    std::optional<SyntaxForest> ahead = take_prefetched_forest(f.path, id);
    Result<SyntaxForest> forest = ahead ? Result<SyntaxForest>(std::move(*ahead))
                                        : compose_text(*f.text, id, /*keep_empty=*/false, checks);
    if (checks.strict && (!forest || forest->has_aliases)) {
        // The text's own check reports what strictness found, with its position.
        out_.files.files[id].recheck = true;
        if (!forest) {
            ComposeChecks lenient;
            lenient.keep_comments = checks.keep_comments;
            forest = compose_text(*f.text, id, /*keep_empty=*/false, lenient);
        }
    }
    if (!forest) {
        const Error& e = forest.error();
        std::string message = std::string(prefix) + e.message;
        if (e.has_position) message = at_place(std::move(message), e.line, e.column);
        return fail(error_in(directive_kind::include_other, std::move(message), f.path));
    }
    return forest;
}

// Reads, composes and resolves one included file; its first document's root,
// or an empty mapping when it has none.
Result<YamlNode> Resolver::included_root(const std::string& path, const Splice& at,
                                         std::uint32_t* id_out) {
    // On the stack from the read on: a file that cannot be read or composed
    // is named as the error's file, with this directive in its chain.
    stack_.push_back(Frame{path, at.file, at.node.span.line});
    auto root = read_and_resolve(at, id_out);
    stack_.pop_back();
    return root;
}

Result<YamlNode> Resolver::read_and_resolve(const Splice& at, std::uint32_t* id_out) {
    const std::string& path = stack_.back().target;
    auto id = load(path, "cannot read included file '" + std::string(at.node.text) + "': ",
                   directive_kind::include_not_found);
    if (!id) return fail(std::move(id.error()));
    *id_out = *id;
    auto forest = compose_file(*id, "");
    if (!forest) return fail(std::move(forest.error()));
    forest_.has_aliases = forest_.has_aliases || forest->has_aliases;
    forest_.has_tags = forest_.has_tags || forest->has_tags;
    forest_.arena.adopt(std::move(forest->arena));
    if (forest->roots.empty()) {
        YamlNode empty;
        empty.kind = NodeKind::Mapping;
        empty.style = CollectionStyle::Flow;
        empty.span.file_id = *id;
        return empty;
    }
    YamlNode root = std::move(forest->roots.front());
    const std::uint32_t depth = root_depth(at.directive, root.kind, at.depth);
    if (auto st = walk_child(root, *id, depth); !st) return fail(std::move(st.error()));
    return root;
}

Result<YamlNode> Resolver::include_file(YamlNode& n, std::uint32_t file, std::uint32_t depth) {
    auto target = target_of(n, file);
    if (!target) return fail(std::move(target.error()));
    std::uint32_t id = 0;
    auto root = included_root(target->path, Splice{Directive::Include, n, file, depth}, &id);
    if (!root) return root;
    mark(*root, n, id);
    return root;
}

void Resolver::mark(YamlNode& result, YamlNode& directive, std::optional<std::uint32_t> file_id) {
    std::optional<IncludedRoot> own;
    if (file_id) own = take_own_root(result);
    result.span = directive.span;
    result.end_offset = directive.end_offset;
    result.end_line = directive.end_line;
    result.end_column = directive.end_column;
    result.explicit_start = directive.explicit_start;
    result.comments = std::move(directive.comments);
    // The anchor is the directive's: one the included root had belongs to
    // the other file, where nothing after the root could refer to it.
    result.set_anchor(directive.anchor());
    result.set_source(std::make_unique<IncludeSource>(
        IncludeSource{*directive.tag(), directive.text, file_id, std::move(own), {}}));
}

YamlNode Resolver::null_at(const YamlNode& at) const {
    YamlNode out;
    out.kind = NodeKind::Null;
    out.span = at.span;
    out.end_offset = at.end_offset;
    out.end_line = at.end_line;
    out.end_column = at.end_column;
    out.set_anchor(at.anchor());
    return out;
}

}  // namespace directives_detail

Result<DirectiveOutcome> resolve_directives(SyntaxForest& forest, const DirectiveInput& input,
                                            FileSystem& fs, Environment& env) {
    directives_detail::Resolver resolver(forest, input, fs, env);
    return resolver.run();
}

}  // namespace quarvel
