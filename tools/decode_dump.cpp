// Prints the decoded documents of a YAML file, one JSON-like line per
// document, or the error. Tagged nodes show as {"!tag": ..., "value": ...}
// unless --plain is given, in which case tags are dropped (for comparing with
// expected JSON data). Warnings go to stderr.
//
//   decode_dump [--yaml11|--pyyaml] [--warn11] [--dup-error|--dup-warn]
//               [--reject-complex] [--plain] [--bench N] FILE
//
// --bench N decodes the file N times and prints the time per decode instead.

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "decode/decoder.hpp"
#include "encode/emitter.hpp"
#include "support/stack.hpp"

using namespace quarvel;

namespace {

bool g_plain = false;

void put_string(std::string& out, std::string_view s) {
    json_string(s, out);
}

void put_value(std::string& out, const YamlValue& v);

// JSON objects need string keys: a non-string key is written as the JSON
// text of its value.
void put_key(std::string& out, const YamlValue& k) {
    const YamlValue* key = &k;
    while (g_plain && key->kind == ValueKind::Tagged) key = &key->inner();
    if (key->kind == ValueKind::String) {
        put_string(out, key->text());
        return;
    }
    std::string text;
    put_value(text, *key);
    put_string(out, text);
}

void put_value(std::string& out, const YamlValue& v) {
    switch (v.kind) {
        case ValueKind::Null:
            out += "null";
            return;
        case ValueKind::Bool:
            out += v.boolean ? "true" : "false";
            return;
        case ValueKind::Int:
            out += std::to_string(v.integer);
            return;
        case ValueKind::BigInt:
            out += v.text();
            return;
        case ValueKind::Float: {
            if (std::isnan(v.real)) {
                out += "NaN";
            } else if (std::isinf(v.real)) {
                out += v.real < 0 ? "-Infinity" : "Infinity";
            } else {
                char buf[64];
                auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.real);
                std::string_view s(buf, p - buf);
                out += s;
                if (s.find_first_of(".eE") == std::string_view::npos) out += ".0";
            }
            return;
        }
        case ValueKind::String:
            put_string(out, v.text());
            return;
        case ValueKind::Sequence:
            out.push_back('[');
            for (std::size_t i = 0; i < v.children().size(); ++i) {
                if (i) out += ", ";
                ensure_stack([&] { put_value(out, v.children()[i]); });
            }
            out.push_back(']');
            return;
        case ValueKind::Mapping:
            out.push_back('{');
            for (std::size_t i = 0; i < v.map_size(); ++i) {
                if (i) out += ", ";
                ensure_stack([&] { put_key(out, v.key(i)); });
                out += ": ";
                ensure_stack([&] { put_value(out, v.value(i)); });
            }
            out.push_back('}');
            return;
        case ValueKind::Tagged:
            if (g_plain) {
                ensure_stack([&] { put_value(out, v.inner()); });
                return;
            }
            out += "{\"!tag\": ";
            put_string(out, v.text());
            out += ", \"value\": ";
            ensure_stack([&] { put_value(out, v.inner()); });
            out.push_back('}');
            return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    DecodeOptions options;
    const char* path = nullptr;
    int bench = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--yaml11")
            options.mode = ResolverMode::Yaml11;
        else if (a == "--pyyaml")
            options.mode = ResolverMode::PyYaml;
        else if (a == "--warn11")
            options.warn_1_1 = true;
        else if (a == "--dup-error")
            options.duplicate_keys_error = true;
        else if (a == "--dup-warn")
            options.duplicate_keys_warn = true;
        else if (a == "--reject-complex")
            options.reject_complex_keys = true;
        else if (a == "--plain")
            g_plain = true;
        else if (a == "--bench" && i + 1 < argc)
            bench = std::atoi(argv[++i]);
        else
            path = argv[i];
    }
    if (path == nullptr) {
        std::fprintf(stderr, "usage: decode_dump [options] FILE\n");
        return 2;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 2;
    }
    std::stringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    std::string_view view = text;  // the scanner skips a byte order mark

    if (bench > 0) {
        auto start = std::chrono::steady_clock::now();
        std::size_t docs = 0;
        for (int i = 0; i < bench; ++i) {
            auto r = decode(view, options);
            if (r) docs += r->documents.size();
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.3f ms per decode, %.1f MB/s (%zu documents)\n", 1e3 * s / bench,
                    view.size() * bench / s / 1e6, docs / bench);
        return 0;
    }
    auto result = decode(view, options);
    if (!result) {
        const Error& e = result.error();
        std::printf("error: %s", e.message.c_str());
        if (e.has_position) std::printf(" at line %u, column %u", e.line + 1, e.column + 1);
        std::printf("\n");
        return 1;
    }
    for (const auto& w : result->warnings) std::fprintf(stderr, "warning: %s\n", w.text.c_str());
    for (const auto& doc : result->documents) {
        std::string out;
        put_value(out, doc);
        std::printf("%s\n", out.c_str());
    }
    return 0;
}
