// Checks for the core test programs. A failed check prints its place, the
// case being run and the values compared; the program's exit status is 1
// when any check failed.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quarvel::check {

inline int& failures() {
    static int n = 0;
    return n;
}

inline std::string& current_case() {
    static std::string name;
    return name;
}

// Names the case run by the checks in its lifetime.
class Case {
  public:
    explicit Case(std::string name) : saved_(std::exchange(current_case(), std::move(name))) {}
    ~Case() { current_case() = std::move(saved_); }
    Case(const Case&) = delete;
    Case& operator=(const Case&) = delete;

  private:
    std::string saved_;
};

// Text with control bytes and quotes escaped, in double quotes.
inline std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

template <class T>
std::string show(const T& v) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return quoted(v);
    } else {
        std::ostringstream o;
        o << std::boolalpha << v;
        return o.str();
    }
}

inline void report(const char* file, int line, const std::string& what) {
    ++failures();
    std::printf("%s:%d: %s", file, line, what.c_str());
    if (!current_case().empty()) std::printf("  [case %s]", quoted(current_case()).c_str());
    std::printf("\n");
}

template <class A, class B>
bool equal(const A& actual, const B& expected, const char* expr, const char* file, int line) {
    if (actual == expected) return true;
    report(file, line,
           std::string(expr) + ": got " + show(actual) + ", expected " + show(expected));
    return false;
}

inline int finish(const char* program) {
    if (failures() == 0) {
        std::printf("%s: all checks passed\n", program);
        return 0;
    }
    std::printf("%s: %d check(s) failed\n", program, failures());
    return 1;
}

}  // namespace quarvel::check

#define CHECK(cond) \
    ((cond) ? true : (::quarvel::check::report(__FILE__, __LINE__, "failed: " #cond), false))
#define CHECK_EQ(actual, expected) \
    ::quarvel::check::equal((actual), (expected), #actual, __FILE__, __LINE__)
