#include "directives/paths.hpp"

#include <vector>

namespace quarvel::paths {

std::string normalise(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t slash = path.find('/', i);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        const std::string_view part = path.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string out;
    for (std::string_view part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? std::string("/") : out;
}

bool inside(std::string_view path, std::string_view root) {
    if (root == "/") return !path.empty() && path.front() == '/';
    if (!path.starts_with(root)) return false;
    return path.size() == root.size() || path[root.size()] == '/';
}

std::optional<std::string> parent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    if (slash == 0) return std::string("/");
    return std::string(path.substr(0, slash));
}

std::string join(std::string_view base, std::string_view relative) {
    if (!relative.empty() && relative.front() == '/') return std::string(relative);
    std::string out(base);
    if (out.empty() || out.back() != '/') out += '/';
    out += relative;
    return out;
}

std::string_view file_name(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace quarvel::paths
