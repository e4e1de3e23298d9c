#include "directives/confine.hpp"

#include <cerrno>
#include <cstdio>

#include "directives/beneath.hpp"
#include "directives/paths.hpp"

namespace quarvel {
namespace {

Error refusal(int kind, std::string message) {
    Error e;
    e.family = ErrorFamily::Directive;
    e.selector = kind;
    e.message = std::move(message);
    return e;
}

// Built by appending: GCC 12 warns falsely about "'" + std::string(...).
std::string quoted(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out.append(1, '\'').append(name).append(1, '\'');
    return out;
}

}  // namespace

std::string outside_message(std::string_view name) {
    return quoted(name) + " resolves outside the configured include directory";
}

std::optional<std::string> control_character_in(std::string_view name, std::string_view what) {
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", u);
            return std::string(what) + " name contains control character " + code;
        }
    }
    return std::nullopt;
}

Confined confine_path(FileSystem& fs, const std::string& root, const std::string& joined) {
    if (auto canonical = fs.canonical(joined)) {
        const Place place = paths::inside(*canonical, root) ? Place::Inside : Place::Outside;
        return Confined{place, std::move(*canonical), true};
    }
    std::string normal = paths::normalise(joined);
    if (!paths::inside(normal, root)) return Confined{Place::Outside, std::move(normal), false};
    const Place place = fs.is_link(joined) ? Place::DanglingLink : Place::Inside;
    return Confined{place, std::move(normal), false};
}

Result<std::string> read_confined(FileSystem& fs, const std::string& dir, std::string_view name,
                                  std::uint64_t max_bytes) {
    if (auto control = control_character_in(name, "file"))
        return fail(refusal(directive_kind::include_confinement, std::move(*control)));
    const std::string shown = quoted(name);
    if (name.empty() || name.starts_with('/'))
        return fail(refusal(directive_kind::include_confinement, outside_message(name)));
    const std::string absolute = paths::normalise(paths::join(fs.current_directory(), dir));
    const std::string root = fs.canonical(absolute).value_or(absolute);
    const Confined target = confine_path(fs, root, paths::join(root, name));
    if (target.place == Place::Outside)
        return fail(refusal(directive_kind::include_confinement, outside_message(name)));
    if (!target.exists)
        return fail(
            refusal(directive_kind::include_not_found, "cannot read " + shown + ": not found"));
    fs.confine_to(root);
    FileRead read = fs.read(target.path, max_bytes);
    if (read.not_regular)
        return fail(refusal(directive_kind::include_confinement,
                            "cannot read " + shown + ": not a regular file"));
    if (read.failure) {
        const OsFailure& f = *read.failure;
        std::string why =
            f.code == EFBIG ? "larger than " + std::to_string(max_bytes) + " bytes" : f.description;
        const int kind = f.code == EFBIG || beneath::refused(f.code)
                             ? directive_kind::include_confinement
                             : directive_kind::include_not_found;
        return fail(refusal(kind, "cannot read " + shown + ": " + why));
    }
    return std::move(read.bytes);
}

}  // namespace quarvel
