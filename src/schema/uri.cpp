#include "schema/uri.hpp"

namespace quarvel {
namespace {

// The five parts of a URI reference; a part that is absent differs from one
// that is present but empty ("x?" has an empty query).
struct UriParts {
    std::optional<std::string_view> scheme, authority, query, fragment;
    std::string_view path;
};

bool is_scheme_char(char c, bool first) {
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first) return alpha;
    return alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

UriParts parse(std::string_view s) {
    UriParts p;
    if (const std::size_t hash = s.find('#'); hash != std::string_view::npos) {
        p.fragment = s.substr(hash + 1);
        s = s.substr(0, hash);
    }
    if (const std::size_t q = s.find('?'); q != std::string_view::npos) {
        p.query = s.substr(q + 1);
        s = s.substr(0, q);
    }
    const std::size_t colon = s.find(':');
    if (colon != std::string_view::npos && colon > 0 && s.find('/') > colon) {
        bool scheme = true;
        for (std::size_t i = 0; i < colon && scheme; ++i) scheme = is_scheme_char(s[i], i == 0);
        if (scheme) {
            p.scheme = s.substr(0, colon);
            s = s.substr(colon + 1);
        }
    }
    if (s.starts_with("//")) {
        const std::size_t end = s.find('/', 2);
        p.authority = s.substr(2, end == std::string_view::npos ? s.size() - 2 : end - 2);
        s = end == std::string_view::npos ? std::string_view{} : s.substr(end);
    }
    p.path = s;
    return p;
}

// RFC 3986 section 5.2.4: "." and ".." segments taken out of a path.
std::string remove_dot_segments(std::string_view in) {
    std::string out;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../") || in == "/..") {
            in = in.size() == 3 ? std::string_view("/") : in.substr(3);
            const std::size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t next = in.find('/', 1);
            const std::size_t n = next == std::string_view::npos ? in.size() : next;
            out.append(in.substr(0, n));
            in.remove_prefix(n);
        }
    }
    return out;
}

std::string merge_paths(const UriParts& base, std::string_view path) {
    std::string out;
    if (base.authority && base.path.empty()) {
        out.push_back('/');
    } else if (const std::size_t slash = base.path.rfind('/'); slash != std::string_view::npos) {
        out.append(base.path.substr(0, slash + 1));
    }
    out.append(path);
    return out;
}

std::string compose(const UriParts& p, const std::string& path) {
    std::string out;
    if (p.scheme) out.append(*p.scheme).push_back(':');
    if (p.authority) out.append("//").append(*p.authority);
    out += path;
    if (p.query) out.append("?").append(*p.query);
    if (p.fragment) out.append("#").append(*p.fragment);
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string resolve_uri(std::string_view base_text, std::string_view reference) {
    const UriParts r = parse(reference);
    const UriParts base = parse(base_text);
    UriParts t;
    std::string path;
    t.fragment = r.fragment;
    if (r.scheme) {
        t = r;
        path = remove_dot_segments(r.path);
    } else {
        t.scheme = base.scheme;
        if (r.authority) {
            t.authority = r.authority;
            path = remove_dot_segments(r.path);
            t.query = r.query;
        } else {
            t.authority = base.authority;
            if (r.path.empty()) {
                path = base.path;
                t.query = r.query ? r.query : base.query;
            } else {
                // A base without a scheme or authority keeps relative paths
                // relative: "../x" stays as written rather than losing "..".
                const bool relative_base = !base.scheme && !base.authority &&
                                           !base.path.starts_with('/') && !r.path.starts_with('/');
                const std::string merged =
                    r.path.starts_with('/') ? std::string(r.path) : merge_paths(base, r.path);
                path = relative_base ? merged : remove_dot_segments(merged);
                t.query = r.query;
            }
        }
    }
    return compose(t, path);
}

SplitUri split_fragment(std::string_view uri) {
    const std::size_t hash = uri.find('#');
    if (hash == std::string_view::npos) return {uri, {}};
    return {uri.substr(0, hash), uri.substr(hash + 1)};
}

std::string percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hex_value(text[i + 1]);
            const int lo = hex_value(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<std::vector<std::string>> pointer_tokens(std::string_view pointer) {
    std::vector<std::string> tokens;
    if (pointer.empty()) return tokens;
    if (pointer.front() != '/') return std::nullopt;
    pointer.remove_prefix(1);
    while (true) {
        const std::size_t slash = pointer.find('/');
        const std::string_view raw = pointer.substr(0, slash);
        std::string token;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '~' && i + 1 < raw.size() && (raw[i + 1] == '0' || raw[i + 1] == '1')) {
                token.push_back(raw[i + 1] == '0' ? '~' : '/');
                ++i;
            } else {
                token.push_back(raw[i]);
            }
        }
        tokens.push_back(std::move(token));
        if (slash == std::string_view::npos) break;
        pointer.remove_prefix(slash + 1);
    }
    return tokens;
}

void append_pointer_token(std::string& out, std::string_view token) {
    for (char c : token) {
        if (c == '~') {
            out += "~0";
        } else if (c == '/') {
            out += "~1";
        } else {
            out.push_back(c);
        }
    }
}

}  // namespace quarvel
