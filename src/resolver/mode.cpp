// Mode dispatch, the choice of mode from options and %YAML, and the warning
// for scalars that read differently under YAML 1.1 and YAML 1.2.
#include <string>

#include "resolver/resolver.hpp"
#include "resolver/syntax.hpp"
#include "support/options.hpp"

namespace quarvel {

Resolved resolve(ResolverMode mode, std::string_view text, bool plain, std::string_view tag) {
    if (mode == ResolverMode::Core12) return resolver_detail::resolve_core(text, plain, tag);
    return resolver_detail::resolve_11(mode, text, plain, tag);
}

ModeChoice choose_mode(std::uint64_t options, std::optional<YamlVersion> version) {
    bool wants_1_1;
    if (version) {
        // The document's own directive wins over the reading options.
        wants_1_1 = version->major == 1 && version->minor == 1;
    } else {
        wants_1_1 = (options & (opt::YAML_1_1 | opt::PYYAML_COMPAT | opt::UPGRADE_1_1)) != 0;
    }
    ModeChoice choice;
    if (options & opt::PYYAML_COMPAT) {
        choice.mode = ResolverMode::PyYaml;
    } else {
        choice.mode = wants_1_1 ? ResolverMode::Yaml11 : ResolverMode::Core12;
    }
    choice.warn_1_1 = wants_1_1 && (options & opt::YAML_1_1_WARN) != 0;
    return choice;
}

std::optional<std::string> difference_warning(ResolverMode mode, std::string_view text, bool plain,
                                              std::string_view tag, std::uint32_t line,
                                              std::uint32_t column) {
    if (mode == ResolverMode::Core12) return std::nullopt;
    std::string_view old_name = kind_name(resolve(mode, text, plain, tag).kind);
    std::string_view new_name = kind_name(resolve(ResolverMode::Core12, text, plain, tag).kind);
    if (old_name == new_name || old_name == "str") return std::nullopt;
    std::string message = "YAML 1.1 syntax '";
    message.append(text);
    message.append("' resolves as ");
    message.append(old_name);
    message.append(" in 1.1 but ");
    message.append(new_name);
    message.append(" in 1.2 at line ");
    message.append(std::to_string(std::uint64_t{line} + 1));
    message.append(", column ");
    message.append(std::to_string(std::uint64_t{column} + 1));
    return message;
}

}  // namespace quarvel
