// Self-check of the scalar resolvers and the JSON writer, runnable without
// the Python module: `resolve_check` runs the tables and exits non-zero on a
// mismatch; `resolve_check MODE TEXT...` prints how each text resolves;
// `resolve_check --bench` times resolution of a mixed set of scalars.
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/emitter.hpp"
#include "resolver/resolver.hpp"
#include "support/options.hpp"

using namespace quarvel;

namespace {

int failures = 0;

std::string describe(const Resolved& r, std::string_view text) {
    char buf[64];
    switch (r.kind) {
        case ResolvedKind::Null:
            return "null";
        case ResolvedKind::Merge:
            return "merge";
        case ResolvedKind::Bool:
            return r.boolean ? "bool:true" : "bool:false";
        case ResolvedKind::Int:
            return "int:" + std::to_string(r.integer);
        case ResolvedKind::BigInt:
            return "big:" + std::string(text);
        case ResolvedKind::Float:
            std::snprintf(buf, sizeof buf, "float:%.17g", r.real);
            return buf;
        case ResolvedKind::Str:
            return "str";
        case ResolvedKind::Invalid:
            return "invalid";
    }
    return "?";
}

struct Case {
    ResolverMode mode;
    const char* text;
    const char* expect;  // as produced by describe()
    const char* tag = "";
    bool plain = true;
};

constexpr auto M0 = ResolverMode::Core12;
constexpr auto M1 = ResolverMode::Yaml11;
constexpr auto M2 = ResolverMode::PyYaml;

const Case kCases[] = {
    // YAML 1.2 core
    {M0, "", "null"},
    {M0, "~", "null"},
    {M0, "~~", "str"},
    {M0, "Null", "null"},
    {M0, "nULL", "str"},
    {M0, "<<", "merge"},
    {M0, "<<", "str", "", false},
    {M0, "True", "bool:true"},
    {M0, "tRUE", "str"},
    {M0, "FALSE", "bool:false"},
    {M0, "yes", "str"},
    {M0, "on", "str"},
    {M0, "y", "str"},
    {M0, "NO", "str"},
    {M0, "true", "str", "", false},
    {M0, "0", "int:0"},
    {M0, "-0", "int:0"},
    {M0, "+0", "int:0"},
    {M0, "42", "int:42"},
    {M0, "+42", "int:42"},
    {M0, "-42", "int:-42"},
    {M0, "0o17", "int:15"},
    {M0, "0O17", "int:15"},
    {M0, "0o18", "str"},
    {M0, "0x1F", "int:31"},
    {M0, "0X1f", "int:31"},
    {M0, "-0x10", "int:-16"},
    {M0, "017", "str"},
    {M0, "00", "str"},
    {M0, "0x", "str"},
    {M0, "0o", "str"},
    {M0, "0x+1", "str"},
    {M0, "0b101", "str"},
    {M0, "+-5", "str"},
    {M0, "--5", "str"},
    {M0, "+", "str"},
    {M0, "-", "str"},
    {M0, "9223372036854775807", "int:9223372036854775807"},
    {M0, "-9223372036854775807", "int:-9223372036854775807"},
    {M0, "9223372036854775808", "big:9223372036854775808"},
    {M0, "-9223372036854775808", "big:-9223372036854775808"},
    {M0, "+99999999999999999999", "big:+99999999999999999999"},
    {M0, "0x8000000000000000", "str"},
    {M0, "0x7FFFFFFFFFFFFFFF", "int:9223372036854775807"},
    {M0, "1_000", "str"},
    {M0, "1:30", "str"},
    {M0, "1e5", "float:100000"},
    {M0, "1E+5", "float:100000"},
    {M0, ".5", "float:0.5"},
    {M0, "5.", "float:5"},
    {M0, "-.5e-1", "float:-0.050000000000000003"},
    {M0, "+1.5", "float:1.5"},
    {M0, "1.5e", "str"},
    {M0, "1.5e+", "str"},
    {M0, ".", "str"},
    {M0, "-.", "str"},
    {M0, "e5", "str"},
    {M0, "1.2.3", "str"},
    {M0, "0x1p3", "str"},
    {M0, "1_000.5", "str"},
    {M0, "1e400", "float:inf"},
    {M0, "-1e400", "float:-inf"},
    {M0, "1e-400", "float:0"},
    {M0, "0.1", "float:0.10000000000000001"},
    {M0, ".inf", "float:inf"},
    {M0, "+.INF", "float:inf"},
    {M0, "-.Inf", "float:-inf"},
    {M0, ".NaN", "float:nan"},
    {M0, "-.nan", "str"},
    {M0, "inf", "str"},
    {M0, "nan", "str"},
    {M0, ".iNf", "str"},
    {M0, "2001-12-14", "str"},
    {M0, "abc", "int:0", "tag:yaml.org,2002:int"},
    {M0, "0x10", "int:16", "!!int"},
    {M0, "99999999999999999999", "big:99999999999999999999", "!!int"},
    {M0, "42", "int:42", "!!int", false},
    {M0, "5", "float:5", "!!float"},
    {M0, "abc", "float:0", "!!float"},
    {M0, ".inf", "float:inf", "!!float"},
    {M0, "yes", "bool:false", "!!bool"},
    {M0, "TRUE", "bool:true", "!!bool"},
    {M0, "anything", "null", "!!null"},
    {M0, "123", "str", "!!str"},
    {M0, "<<", "str", "!!merge"},
    {M0, "123", "str", "!custom"},
    {M0, "123", "str", "tag:example.com,2000:int"},
    {M0, "AAAA", "str", "!!binary"},

    // YAML 1.1
    {M1, "y", "bool:true"},
    {M1, "Y", "bool:true"},
    {M1, "n", "bool:false"},
    {M1, "Yes", "bool:true"},
    {M1, "on", "bool:true"},
    {M1, "OFF", "bool:false"},
    {M1, "NO", "bool:false"},
    {M1, "yES", "str"},
    {M1, "nULL", "str"},
    {M1, "NULL", "null"},
    {M1, "~", "null"},
    {M1, "<<", "merge"},
    {M1, "010", "int:8"},
    {M1, "-010", "int:-8"},
    {M1, "09", "str"},
    {M1, "0", "int:0"},
    {M1, "0b101", "int:5"},
    {M1, "0b102", "str"},
    {M1, "0x_1F", "int:31"},
    {M1, "0x", "str"},
    {M1, "0x+1", "str"},
    {M1, "1_000", "int:1000"},
    {M1, "_", "str"},
    {M1, "+", "str"},
    {M1, "1:30", "int:90"},
    {M1, "-1:30", "int:-90"},
    {M1, "190:20:30", "int:685230"},
    {M1, "1:60", "str"},
    {M1, "1::30", "str"},
    {M1, "1:", "str"},
    {M1, "0o17", "str"},
    {M1, "1_000.5", "float:1000.5"},
    {M1, "1:30.5", "float:90.5"},
    {M1, "-1:30.5", "float:-90.5"},
    {M1, "1:30e0", "str"},
    {M1, "1:-30.5", "str"},
    {M1, "1e5", "str"},
    {M1, "1.5e+3", "float:1500"},
    {M1, "1.5e3", "str"},
    {M1, "-.5", "float:-0.5"},
    {M1, "00:00:00", "str"},
    {M1, "01:30", "str"},
    {M1, "_1", "str"},
    {M1, "0X1F", "str"},
    {M1, "0:30.5", "float:30.5"},
    {M1, "1:60.5", "str"},
    {M1, ".inf", "float:inf"},
    {M1, "-.INF", "float:-inf"},
    {M1, "9223372036854775807", "int:9223372036854775807"},
    {M1, "9223372036854775808", "big:9223372036854775808"},
    {M1, "123_456_789_012_345_678_901", "big:123_456_789_012_345_678_901"},
    {M1, "0xFFFFFFFFFFFFFFFFFF", "big:0xFFFFFFFFFFFFFFFFFF"},
    {M1, "99999999999:00:00:00", "int:21599999999784000"},
    {M1, "99999999999999:00:00:00", "big:99999999999999:00:00:00"},
    {M1, "yes", "str", "", false},
    {M1, "abc", "int:0", "!!int"},
    {M1, "1_0", "int:10", "!!int"},
    {M1, "on", "bool:true", "!!bool"},
    {M1, "maybe", "bool:false", "!!bool"},
    {M1, "5", "float:5", "!!float"},
    {M1, "1_000", "float:1000", "!!float"},
    {M1, "x", "float:0", "!!float"},
    {M1, "<<", "merge", "!!merge"},
    {M1, "1", "str", "!!str"},

    // PyYAML-compatible
    {M2, "y", "str"},
    {M2, "n", "str"},
    {M2, "N", "str"},
    {M2, "yes", "bool:true"},
    {M2, "off", "bool:false"},
    {M2, "010", "int:8"},
    {M2, "00:00:00", "str"},
    {M2, "-.5", "str"},
    {M2, "._5", "str"},
    {M2, "1e5", "str"},
    {M2, "-.5", "float:-0.5", "!!float"},
    {M2, "y", "bool:false", "!!bool"},
};

void check_cases() {
    for (const Case& c : kCases) {
        Resolved r = resolve(c.mode, c.text, c.plain, c.tag);
        std::string got = describe(r, c.text);
        if (got != c.expect) {
            std::printf("FAIL mode %d '%s' tag '%s' plain %d: got %s, want %s\n", int(c.mode),
                        c.text, c.tag, c.plain, got.c_str(), c.expect);
            ++failures;
        }
    }
}

void expect_eq(const std::string& got, const std::string& want, const char* what) {
    if (got != want) {
        std::printf("FAIL %s: got [%s], want [%s]\n", what, got.c_str(), want.c_str());
        ++failures;
    }
}

void check_modes() {
    auto mode_of = [](std::uint64_t o, std::optional<YamlVersion> v) {
        ModeChoice c = choose_mode(o, v);
        return std::to_string(int(c.mode)) + (c.warn_1_1 ? "w" : "");
    };
    YamlVersion v11{1, 1}, v12{1, 2}, v13{1, 3};
    expect_eq(mode_of(0, {}), "0", "no options");
    expect_eq(mode_of(opt::YAML_1_1, {}), "1", "1.1 option");
    expect_eq(mode_of(opt::UPGRADE_1_1, {}), "1", "upgrade option");
    expect_eq(mode_of(opt::YAML_1_1 | opt::YAML_1_1_WARN, {}), "1w", "1.1 warn");
    expect_eq(mode_of(opt::YAML_1_1_WARN, {}), "0", "warn alone");
    expect_eq(mode_of(opt::YAML_1_1 | opt::YAML_1_1_WARN, v12), "0", "1.2 directive wins");
    expect_eq(mode_of(opt::YAML_1_1, v13), "0", "other version");
    expect_eq(mode_of(0, v11), "1", "1.1 directive");
    expect_eq(mode_of(opt::PYYAML_COMPAT, v12), "2", "pyyaml over directive");
    expect_eq(mode_of(opt::PYYAML_COMPAT | opt::YAML_1_1_WARN, {}), "2w", "pyyaml warn");
    expect_eq(mode_of(opt::PYYAML_COMPAT | opt::YAML_1_1_WARN, v12), "2", "pyyaml warn off by 1.2");

    auto warn = [](ResolverMode m, const char* t, bool plain = true, const char* tag = "") {
        return difference_warning(m, t, plain, tag, 2, 4).value_or("-");
    };
    expect_eq(warn(M1, "yes"),
              "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 3, column 5",
              "warn yes");
    expect_eq(warn(M1, "010"),
              "YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 3, column 5",
              "warn 010");
    expect_eq(warn(M1, "0o17"), "-", "warn 0o17");
    expect_eq(warn(M1, "0x10"), "-", "same kind");
    expect_eq(warn(M1, "yes", false), "-", "quoted");
    expect_eq(warn(M0, "yes"), "-", "core mode");
    expect_eq(warn(M2, "y"), "-", "pyyaml y");

    auto up = [](ResolverMode m, const char* t) { return upgrade_spelling(m, t).value_or("-"); };
    expect_eq(up(M1, "yes"), "true", "upgrade yes");
    expect_eq(up(M1, "Off"), "false", "upgrade Off");
    expect_eq(up(M1, "True"), "-", "upgrade True");
    expect_eq(up(M1, "010"), "8", "upgrade 010");
    expect_eq(up(M1, "-1:30"), "-90", "upgrade base 60");
    expect_eq(up(M1, "0x1F"), "-", "upgrade hex");
    expect_eq(up(M1, "hello"), "-", "upgrade str");
    expect_eq(up(M1, "123_456_789_012_345_678_901"), "123456789012345678901", "upgrade big");
    expect_eq(up(M1, "-0xFFFFFFFFFFFFFFFFFF"), "-4722366482869645213695", "upgrade big hex");
    expect_eq(up(M1, "00:00:00"), "-", "upgrade time of day");
    for (const char* t : {"1_000.5", "1:30.5"}) {
        auto s = upgrade_spelling(M1, t);
        Resolved a = resolve(M1, t, true), b = s ? resolve(M0, *s, true) : Resolved{};
        if (!s || b.kind != ResolvedKind::Float || a.real != b.real) {
            std::printf("FAIL upgrade float %s -> %s\n", t, s.value_or("-").c_str());
            ++failures;
        }
    }
}

// Random doubles: the shortest digits must read back to the same bits, and
// the float syntax must agree with strtod on random digit strings.
void check_float_round_trip() {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x)) continue;
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
        double y = 0;
        if (!parse_decimal_float(std::string_view(buf, r.ptr - buf), y) ||
            std::memcmp(&x, &y, sizeof x) != 0) {
            std::printf("FAIL round trip %.17g\n", x);
            ++failures;
            return;
        }
    }
    const char alphabet[] = "0123456789.eE+-";
    for (int i = 0; i < 200000; ++i) {
        std::string s(1 + rng() % 12, ' ');
        for (char& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
        double ours = 0;
        bool ok = parse_decimal_float(s, ours);
        char* end = nullptr;
        double theirs = std::strtod(s.c_str(), &end);
        bool full =
            end == s.c_str() + s.size() && s.find_first_of("0123456789") != std::string::npos;
        // strtod takes "1e" partially and ".e1" not at all; only full, valid parses compare.
        if (ok && (!full || std::memcmp(&ours, &theirs, sizeof ours) != 0)) {
            std::printf("FAIL float syntax '%s': ours %.17g strtod %.17g\n", s.c_str(), ours,
                        theirs);
            ++failures;
            return;
        }
        if (!ok && full) {
            std::printf("FAIL float syntax rejected '%s'\n", s.c_str());
            ++failures;
            return;
        }
    }
}

std::string json(const YamlValue& v, unsigned indent = 0, bool sort = false) {
    std::string out;
    auto st = write_json(v, JsonSettings{indent, sort}, out);
    if (!st) return "ERROR " + st.error().message;
    return out;
}

std::string jf(double x) {
    std::string s;
    json_float(x, s);
    return s;
}

// Byte-at-a-time reference for the word-skipping string escaper.
std::string naive_json_string(std::string_view t) {
    std::string out = "\"";
    for (std::size_t i = 0; i < t.size(); ++i) {
        unsigned char c = t[i];
        if (c == 0xE2 && i + 2 < t.size() + 0 && (unsigned char)t[i + 1] == 0x80 &&
            ((unsigned char)t[i + 2] == 0xA8 || (unsigned char)t[i + 2] == 0xA9)) {
            out += (unsigned char)t[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\b') {
            out += "\\b";
        } else if (c == '\f') {
            out += "\\f";
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

void check_json_string_random() {
    std::mt19937 rng(7);
    const unsigned char pool[] = {'a',  'b',  ' ',  '"',  '\\', '\n', 0x01, 0x1f,
                                  0x7f, 0xE2, 0x80, 0xA8, 0xA9, 0xC3, 0xA9};
    for (int i = 0; i < 100000; ++i) {
        std::string s(rng() % 40, 'x');
        for (char& c : s) c = rng() % 3 ? 'x' : char(pool[rng() % sizeof pool]);
        std::string got;
        json_string(s, got);
        if (got != naive_json_string(s)) {
            std::printf("FAIL json_string random case %d\n", i);
            ++failures;
            return;
        }
    }
}

void check_json() {
    check_json_string_random();
    expect_eq(json(YamlValue::null()), "null", "null");
    expect_eq(json(YamlValue::string("a\"b\\c\n\t\x01\x1f\x7f é\u2028\u2029")),
              "\"a\\\"b\\\\c\\n\\t\\u0001\\u001f\x7f é\\u2028\\u2029\"", "escapes");
    expect_eq(json(YamlValue::string("\b\f\r")), "\"\\b\\f\\r\"", "short escapes");
    expect_eq(json(YamlValue::string("\xe2\x80\xa7\xe2")), "\"\xe2\x80\xa7\xe2\"", "near U+2028");
    expect_eq(jf(1.0), "1.0", "1.0");
    expect_eq(jf(-0.0), "-0.0", "-0.0");
    expect_eq(jf(100.0), "100.0", "100.0");
    expect_eq(jf(0.1), "0.1", "0.1");
    expect_eq(jf(1.5), "1.5", "1.5");
    expect_eq(jf(123.456), "123.456", "123.456");
    expect_eq(jf(1e-7), "0.0000001", "1e-7");
    expect_eq(jf(1e300), "1" + std::string(300, '0') + ".0", "1e300");
    expect_eq(jf(1.7976931348623157e308), "17976931348623157" + std::string(292, '0') + ".0",
              "max");
    expect_eq(jf(5e-324), "0." + std::string(323, '0') + "5", "min");
    expect_eq(jf(NAN), "null", "nan");
    expect_eq(jf(-INFINITY), "null", "-inf");

    quarvel::Arena arena;
    using quarvel::ValueList;
    YamlValue seq = YamlValue::sequence(arena, {YamlValue::from_int(1), YamlValue::from_int(2)});
    expect_eq(json(seq), "[1,2]", "compact seq");
    expect_eq(json(seq, 2), "[\n  1,\n  2\n]", "indent seq");
    YamlValue m = YamlValue::mapping(
        arena, {YamlValue::from_int(9), YamlValue::empty_sequence(), YamlValue::from_int(10),
                YamlValue::empty_mapping(), YamlValue::tagged(arena, "!t", YamlValue::string("a")),
                YamlValue::tagged(arena, "!x", seq), YamlValue::from_float(NAN),
                YamlValue::from_bool(true)});
    expect_eq(json(m), "{\"9\":[],\"10\":{},\"a\":[1,2],\"null\":true}", "compact map");
    expect_eq(json(m, 0, true), "{\"10\":{},\"9\":[],\"a\":[1,2],\"null\":true}", "sorted map");
    YamlValue outer = YamlValue::mapping(arena, {YamlValue::string("k"), m});
    expect_eq(json(outer, 4),
              "{\n    \"k\": {\n        \"9\": [],\n        \"10\": {},\n        \"a\": [\n"
              "            1,\n            2\n        ],\n        \"null\": true\n    }\n}",
              "indent 4");
    YamlValue bad = YamlValue::mapping(
        arena, {YamlValue::string("ok"), YamlValue::from_int(1),
                YamlValue::tagged(arena, "!t", YamlValue::empty_sequence()), YamlValue::null()});
    expect_eq(json(bad), "ERROR a collection cannot be a JSON object key", "collection key");
    expect_eq(json(bad, 0, true), "ERROR a collection cannot be a JSON object key",
              "collection key sorted");

    YamlValue deep = YamlValue::from_int(0);
    for (int i = 0; i < 200000; ++i) deep = YamlValue::sequence(arena, {deep});
    std::string out = json(deep);
    if (out.size() != 400001) {
        std::printf("FAIL deep nesting: %zu bytes\n", out.size());
        ++failures;
    }
}

void bench() {
    const char* texts[] = {"hello world", "name", "true",  "42",         "-17",
                           "3.14159",     "1e10", "null",  "2023-01-01", "some longer value here",
                           "0x1F",        "~",    "False", "12345678"};
    constexpr int kRounds = 2'000'000;
    for (ResolverMode m : {M0, M1}) {
        auto start = std::chrono::steady_clock::now();
        std::uint64_t sink = 0;
        for (int i = 0; i < kRounds; ++i) {
            for (const char* t : texts) sink += static_cast<unsigned>(resolve(m, t, true).kind);
        }
        double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("mode %d: %.1f ns per scalar (%llu)\n", int(m),
                    ns / (kRounds * std::size(texts)), static_cast<unsigned long long>(sink));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bench") == 0) {
        bench();
        return 0;
    }
    if (argc > 2) {
        auto mode = static_cast<ResolverMode>(std::atoi(argv[1]));
        for (int i = 2; i < argc; ++i)
            std::printf("%s -> %s\n", argv[i],
                        describe(resolve(mode, argv[i], true), argv[i]).c_str());
        return 0;
    }
    check_cases();
    check_modes();
    check_float_round_trip();
    check_json();
    std::printf("%s (%d failures)\n", failures ? "FAILED" : "ok", failures);
    return failures ? 1 : 0;
}
