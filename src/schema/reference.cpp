#include "schema/reference.hpp"

#include "support/unicode_space.hpp"

namespace quarvel {

std::optional<std::string_view> find_schema_ref(std::string_view text) {
    constexpr std::string_view kServer = "yaml-language-server:";
    constexpr std::string_view kSchema = "$schema=";
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line.remove_prefix(leading_space_bytes(line));
        if (line.empty()) continue;
        if (line.front() != '#') return std::nullopt;
        line.remove_prefix(1);
        line.remove_prefix(leading_space_bytes(line));
        if (!line.starts_with(kServer)) continue;
        line.remove_prefix(kServer.size());
        line.remove_prefix(leading_space_bytes(line));
        if (!line.starts_with(kSchema)) continue;
        std::string_view ref = trim_unicode_space(line.substr(kSchema.size()));
        if (!ref.empty()) return ref;
    }
    return std::nullopt;
}

}  // namespace quarvel
