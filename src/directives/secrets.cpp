// !secret: values from the secrets.yaml next to the current file or in a
// directory above it, up to the include root. !env_var: values from the
// process environment, always strings.
#include <string>
#include <utility>
#include <vector>

#include "directives/confine.hpp"
#include "directives/paths.hpp"
#include "directives/resolver_impl.hpp"
#include "support/stack.hpp"

namespace quarvel::directives_detail {
namespace {

constexpr std::string_view kSecretsPrefix = "invalid secrets.yaml: ";

// Whether a !secret tag appears at any depth; none when the stack ran out.
std::optional<bool> holds_secret(const YamlNode& n) {
    if (n.tag() == "!secret") return true;
    for (const YamlNode& child : n.children) {
        if (child.children.empty() && !child.tag()) continue;
        bool ran = false;
        std::optional<bool> found = ensure_stack([&] {
            ran = true;
            return holds_secret(child);
        });
        if (!ran || !found) return std::nullopt;
        if (*found) return true;
    }
    return false;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    constexpr std::string_view space = " \t\r\n\f\v";
    while ((i = text.find_first_not_of(space, i)) != std::string_view::npos) {
        const std::size_t end = text.find_first_of(space, i);
        out.push_back(text.substr(i, end == std::string_view::npos ? text.size() - i : end - i));
        if (end == std::string_view::npos) break;
        i = end;
    }
    return out;
}

std::string_view scalar_text(const YamlNode& n) {
    return n.kind == NodeKind::Scalar ? n.text : std::string_view{};
}

}  // namespace

// The secrets of dir/secrets.yaml, read once per call; null when there is
// no such file inside the include root.
Result<const SecretsFile*> Resolver::secrets_in(const std::string& dir) {
    const std::string candidate = paths::join(dir, "secrets.yaml");
    if (auto it = secrets_.find(candidate); it != secrets_.end()) return it->second.get();
    auto& slot = secrets_[candidate];
    const auto canonical = fs_.canonical(candidate);
    if (!canonical || !paths::inside(*canonical, root_) || fs_.kind(*canonical) != EntryKind::File)
        return nullptr;
    auto id = load(*canonical, std::string(kSecretsPrefix), directive_kind::include_other);
    if (!id) return fail(std::move(id.error()));
    auto forest = compose_file(*id, kSecretsPrefix);
    if (!forest) return fail(std::move(forest.error()));
    auto file = std::make_unique<SecretsFile>();
    file->forest = std::move(*forest);
    // An empty file holds no secrets, like an empty included file.
    if (!file->forest.roots.empty()) {
        const YamlNode& root = file->forest.roots.front();
        if (root.kind != NodeKind::Mapping)
            return fail(error_in(directive_kind::include_other,
                                 "secrets.yaml does not contain a dictionary", *canonical));
        file->values.reserve(root.size());
        for (std::size_t i = 0; i < root.size(); ++i) {
            const YamlNode& key = root.key(i);
            const YamlNode& value = root.value(i);
            const auto nested = holds_secret(value);
            if (!nested) return fail(stack_exhausted_error());
            if (*nested)
                return fail(error_in(directive_kind::include_other,
                                     "secrets not supported in a secrets.yaml file", *canonical));
            if (key.kind != NodeKind::Scalar && key.kind != NodeKind::Null) continue;
            if (key.text == "logger") {
                if (!ascii_iequals(scalar_text(value), "debug"))
                    out_.warnings.push_back(
                        "secrets.yaml: 'logger: debug' expected, but 'logger: " +
                        std::string(scalar_text(value)) + "' found");
                continue;
            }
            file->values.insert_or_assign(key.text, &value);
        }
    }
    slot = std::move(file);
    return slot.get();
}

// The canonical directory of the file; the include root for a root text
// that exists only in memory. Included files are recorded canonical.
std::string Resolver::secrets_start(std::uint32_t file) {
    if (file != 0) return paths::parent(path_of(file)).value_or(root_);
    if (!root_start_) {
        const auto canonical = fs_.canonical(path_of(0));
        root_start_ = canonical ? paths::parent(*canonical).value_or(root_) : root_;
    }
    return *root_start_;
}

// Every use of a secret copies its value with the aliases in it expanded;
// the copies of one load share the alias-expansion budget of loading, counted
// before anything is copied, so a secret that expands like an alias bomb is
// refused as one.
Status Resolver::charge_expansion(const YamlNode& value, const AnchorIndex& anchors,
                                  const YamlNode& directive) {
    ExpandedSizes sizes([&](const YamlNode& alias) { return anchors.find(alias.text); });
    const std::optional<std::uint64_t> nodes = sizes.of(value);
    if (!nodes) return fail(stack_exhausted_error());
    if (!expansion_.expand(*nodes)) return fail(ExpansionBudget::exceeded(directive));
    return {};
}

Result<YamlNode> Resolver::secret(YamlNode& n, std::uint32_t file, std::uint32_t depth) {
    const std::string_view name = scalar_text(n);
    if (auto control = control_character_in(name, "secret"))
        return fail(error_at(directive_kind::secret_not_found, std::move(*control), file, n));
    std::string dir = secrets_start(file);
    // Up to the include root, and never past "/" (whose parent is itself).
    while (paths::inside(dir, root_)) {
        auto secrets = secrets_in(dir);
        if (!secrets) return fail(std::move(secrets.error()));
        if (*secrets) {
            SecretsFile& sf = *secrets_[paths::join(dir, "secrets.yaml")];
            if (auto it = sf.values.find(name); it != sf.values.end()) {
                if (!sf.anchors) sf.anchors.emplace(sf.forest.roots);
                if (auto st = charge_expansion(*it->second, *sf.anchors, n); !st)
                    return fail(std::move(st.error()));
                YamlNode value = expanding_copy(*it->second, *sf.anchors, CopyAnchors::Drop);
                if (stack_exhausted()) return fail(stack_exhausted_error());
                if (auto st = within_depth(value, depth); !st) return fail(std::move(st.error()));
                mark(value, n, std::nullopt);
                return value;
            }
        }
        auto up = paths::parent(dir);
        if (!up || *up == dir) break;
        dir = std::move(*up);
    }
    if (input_.options.soft_secrets) {
        out_.missing_secrets.push_back(MissingValue{std::string(name), path_of(file), n.span.line});
        return null_at(n);
    }
    return fail(error_at(directive_kind::secret_not_found,
                         "secret '" + std::string(name) + "' is not defined in any secrets.yaml",
                         file, n));
}

Result<YamlNode> Resolver::env_var(YamlNode& n, std::uint32_t file) {
    const std::vector<std::string_view> parts = words(scalar_text(n));
    std::optional<std::string> value;
    if (parts.empty()) {
        value.emplace();
    } else {
        value = env_.get(std::string(parts.front()));
        if (!value && parts.size() > 1) {
            value.emplace(parts[1]);
            for (std::size_t i = 2; i < parts.size(); ++i) *value += ' ' + std::string(parts[i]);
        }
    }
    if (!value) {
        const std::string name(parts.front());
        if (input_.options.soft_env_vars) {
            out_.missing_env_vars.push_back(MissingValue{name, path_of(file), n.span.line});
            return null_at(n);
        }
        return fail(error_at(directive_kind::env_var,
                             "environment variable " + name + " is not defined", file, n));
    }
    YamlNode result;
    result.kind = NodeKind::Scalar;
    result.scalar_style = ScalarStyle::SingleQuoted;
    result.text = forest_.arena.store(*value);
    mark(result, n, std::nullopt);
    return result;
}

}  // namespace quarvel::directives_detail
