#include "schema/format.hpp"

#include <cstdint>

#include "support/ecma_regex.hpp"

namespace quarvel {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_hex(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// `count` digits at `at`, as a number; -1 when they are not all digits.
int digits(std::string_view s, std::size_t at, std::size_t count) {
    if (at + count > s.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!is_digit(s[i])) return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

bool leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool full_date(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    const int year = digits(s, 0, 4), month = digits(s, 5, 2), day = digits(s, 8, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int last = month == 2 && leap(year) ? 29 : kDays[month - 1];
    return day <= last;
}

// HH:MM:SS[.frac](Z|+HH:MM|-HH:MM); a leap second only where the time,
// taken to UTC, is 23:59:60.
bool full_time(std::string_view s) {
    if (s.size() < 9 || s[2] != ':' || s[5] != ':') return false;
    const int hour = digits(s, 0, 2), minute = digits(s, 3, 2), second = digits(s, 6, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    std::size_t i = 8;
    if (i < s.size() && s[i] == '.') {
        const std::size_t start = ++i;
        while (i < s.size() && is_digit(s[i])) ++i;
        if (i == start) return false;
    }
    int offset = 0;  // minutes east of UTC
    if (i + 1 == s.size() && (s[i] == 'Z' || s[i] == 'z')) {
        offset = 0;
    } else if (i + 6 == s.size() && (s[i] == '+' || s[i] == '-') && s[i + 3] == ':') {
        const int oh = digits(s, i + 1, 2), om = digits(s, i + 4, 2);
        if (oh < 0 || oh > 23 || om < 0 || om > 59) return false;
        offset = (s[i] == '+' ? 1 : -1) * (oh * 60 + om);
    } else {
        return false;
    }
    if (second == 60) {
        const int utc = ((hour * 60 + minute - offset) % 1440 + 1440) % 1440;
        return utc == 23 * 60 + 59;
    }
    return true;
}

bool date_time(std::string_view s) {
    if (s.size() < 11 || (s[10] != 'T' && s[10] != 't')) return false;
    return full_date(s.substr(0, 10)) && full_time(s.substr(11));
}

bool ipv4(std::string_view s) {
    int parts = 0;
    while (true) {
        std::size_t n = 0;
        int value = 0;
        while (n < s.size() && is_digit(s[n]) && n < 4) value = value * 10 + (s[n++] - '0');
        if (n == 0 || n > 3 || value > 255 || (n > 1 && s[0] == '0')) return false;
        s.remove_prefix(n);
        if (++parts == 4) return s.empty();
        if (s.empty() || s[0] != '.') return false;
        s.remove_prefix(1);
    }
}

bool ipv6(std::string_view s) {
    int groups = 0;
    bool compressed = false;
    if (s.starts_with("::")) {
        compressed = true;
        s.remove_prefix(2);
        if (s.empty()) return true;
    } else if (s.starts_with(":")) {
        return false;
    }
    while (!s.empty()) {
        std::size_t n = 0;
        while (n < s.size() && is_hex(s[n])) ++n;
        if (n < s.size() && s[n] == '.') {  // a trailing IPv4 address takes two groups
            if (!ipv4(s)) return false;
            groups += 2;
            break;
        }
        if (n == 0 || n > 4) return false;
        ++groups;
        s.remove_prefix(n);
        if (s.empty()) break;
        if (s[0] != ':') return false;
        s.remove_prefix(1);
        if (s.starts_with(":")) {
            if (compressed) return false;
            compressed = true;
            s.remove_prefix(1);
        } else if (s.empty()) {
            return false;  // a single trailing colon
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

bool hostname(std::string_view s) {
    if (s.empty() || s.size() > 253) return false;
    while (true) {
        const std::size_t dot = s.find('.');
        const std::string_view label = s.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!is_alpha(c) && !is_digit(c) && c != '-') return false;
        if (dot == std::string_view::npos) return true;
        s.remove_prefix(dot + 1);
    }
}

bool email(std::string_view s) {
    const std::size_t at = s.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == s.size()) return false;
    const std::string_view local = s.substr(0, at), domain = s.substr(at + 1);
    if (local.size() >= 2 && local.front() == '"' && local.back() == '"') {
        for (std::size_t i = 1; i + 1 < local.size(); ++i)
            if (static_cast<unsigned char>(local[i]) < 0x20) return false;
    } else {
        static constexpr std::string_view kSpecials = "!#$%&'*+-/=?^_`{|}~";
        if (local.front() == '.' || local.back() == '.' ||
            local.find("..") != std::string_view::npos)
            return false;
        for (char c : local)
            if (!is_alpha(c) && !is_digit(c) && c != '.' &&
                kSpecials.find(c) == std::string_view::npos && static_cast<unsigned char>(c) < 0x80)
                return false;
    }
    if (domain.front() == '[' && domain.back() == ']') {
        const std::string_view literal = domain.substr(1, domain.size() - 2);
        if (literal.starts_with("IPv6:")) return ipv6(literal.substr(5));
        return ipv4(literal);
    }
    return hostname(domain);
}

bool uri(std::string_view s) {
    const std::size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon == 0 || !is_alpha(s[0])) return false;
    for (std::size_t i = 1; i < colon; ++i)
        if (!is_alpha(s[i]) && !is_digit(s[i]) && s[i] != '+' && s[i] != '-' && s[i] != '.')
            return false;
    static constexpr std::string_view kAllowed = "-._~:/?#[]@!$&'()*+,;=";
    for (std::size_t i = colon + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size() || !is_hex(s[i + 1]) || !is_hex(s[i + 2])) return false;
            i += 2;
        } else if (!is_alpha(c) && !is_digit(c) && kAllowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool uuid(std::string_view s) {
    if (s.size() != 36) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : !is_hex(s[i])) return false;
    }
    return true;
}

}  // namespace

bool format_holds(Format format, std::string_view text) {
    switch (format) {
        case Format::None:
            return true;
        case Format::Date:
            return full_date(text);
        case Format::Time:
            return full_time(text);
        case Format::DateTime:
            return date_time(text);
        case Format::Email:
            return email(text);
        case Format::Hostname:
            return hostname(text);
        case Format::Ipv4:
            return ipv4(text);
        case Format::Ipv6:
            return ipv6(text);
        case Format::Uri:
            return uri(text);
        case Format::Uuid:
            return uuid(text);
        case Format::Regex:
            return EcmaRegex::compile(text).has_value();
    }
    return true;
}

}  // namespace quarvel
