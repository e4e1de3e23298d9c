// The YAML 1.2 spelling of a plain scalar read under a YAML 1.1 mode, used to
// upgrade documents in place so they read the same under the 1.2 rules.
#include <cmath>
#include <string>

#include "resolver/resolver.hpp"
#include "support/float_format.hpp"

namespace quarvel {
namespace {

bool same_float(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

}  // namespace

bool same_reading(const Resolved& a, const Resolved& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ResolvedKind::Bool:
            return a.boolean == b.boolean;
        case ResolvedKind::Int:
            return a.integer == b.integer;
        case ResolvedKind::Float:
            return same_float(a.real, b.real);
        default:
            // Null and merge carry nothing; big int and str carry the same text.
            return true;
    }
}

std::optional<std::string> upgrade_spelling(ResolverMode mode, std::string_view text,
                                            std::string_view tag) {
    Resolved old_reading = resolve(mode, text, true, tag);
    if (old_reading.kind == ResolvedKind::Str || old_reading.kind == ResolvedKind::Invalid)
        return std::nullopt;
    if (same_reading(old_reading, resolve(ResolverMode::Core12, text, true, tag)))
        return std::nullopt;
    std::string out;
    switch (old_reading.kind) {
        case ResolvedKind::Null:
            out = "null";
            break;
        case ResolvedKind::Merge:
            out = "<<";
            break;
        case ResolvedKind::Bool:
            out = old_reading.boolean ? "true" : "false";
            break;
        case ResolvedKind::Int:
            out = std::to_string(old_reading.integer);
            break;
        case ResolvedKind::BigInt:
            // 1.2 reads plain decimal digits as the same big integer.
            out = big_int_digits(text);
            if (out.empty()) return std::nullopt;
            break;
        case ResolvedKind::Float:
            format_float(old_reading.real, out);
            break;
        case ResolvedKind::Str:
        case ResolvedKind::Invalid:
            break;
    }
    return out;
}

}  // namespace quarvel
