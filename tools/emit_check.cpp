// Development driver for the YAML emitter: reads one JSON value per line from
// stdin, builds a value tree and prints the emitted YAML followed by a line
// holding only "\x1e" (record separator), so scripts can split the outputs.
//
// JSON conventions for what JSON cannot say:
//   {"$tag": "!t", "value": V}      a Tagged value
//   {"$map": [[K, V], ...]}         a mapping with arbitrary keys
//   {"$big": "123..."}              a BigInt
//   {"$float": "inf" | "-inf" | "nan"}
// Numbers with ".", "e" or "E" are floats, others integers.
//
// Arguments: indent=N width=N null=keyword|empty|tilde and the flags sort,
// flow, start, end, single, indentless. bench=N emits each tree N times and
// prints the time per emission instead of the text.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <string>

#include "encode/emitter.hpp"

using quarvel::YamlValue;

namespace {

std::deque<std::string> g_texts;  // owns every string the trees point into
quarvel::Arena arena;             // and the children of every tree

struct JsonReader {
    std::string_view s;
    std::size_t i = 0;

    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    }
    static void put_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    unsigned hex4() {
        unsigned v = std::stoul(std::string(s.substr(i, 4)), nullptr, 16);
        i += 4;
        return v;
    }
    std::string_view string() {
        std::string out;
        ++i;  // opening quote
        while (s[i] != '"') {
            char c = s[i++];
            if (c != '\\') {
                out += c;
                continue;
            }
            c = s[i++];
            switch (c) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && s.substr(i, 2) == "\\u") {
                        i += 2;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
                    }
                    put_utf8(out, cp);
                    break;
                }
                default:
                    out += c;
            }
        }
        ++i;
        g_texts.push_back(std::move(out));
        return g_texts.back();
    }
    YamlValue number() {
        std::size_t start = i;
        while (i < s.size() &&
               std::string_view("+-0123456789.eE").find(s[i]) != std::string_view::npos)
            ++i;
        std::string t(s.substr(start, i - start));
        if (t.find_first_of(".eE") != std::string::npos)
            return YamlValue::from_float(std::strtod(t.c_str(), nullptr));
        return YamlValue::from_int(std::strtoll(t.c_str(), nullptr, 10));
    }
    YamlValue object() {
        ++i;
        quarvel::ValueList entries;
        ws();
        while (s[i] != '}') {
            ws();
            std::string_view key = string();
            ws();
            ++i;  // ':'
            YamlValue v = value();
            entries.push_back(YamlValue::string(key));
            entries.push_back(v);
            ws();
            if (s[i] == ',') ++i;
            ws();
        }
        ++i;
        return special(YamlValue::mapping(arena, entries));
    }
    YamlValue special(YamlValue m) {
        if (m.map_size() == 0 || m.key(0).kind != quarvel::ValueKind::String) return m;
        std::string_view k = m.key(0).text();
        if (k == "$tag") return YamlValue::tagged(arena, m.value(0).text(), m.value(1));
        if (k == "$big") return YamlValue::big_int(m.value(0).text());
        if (k == "$float") {
            std::string_view f = m.value(0).text();
            double d = f == "nan" ? NAN : f == "inf" ? INFINITY : -INFINITY;
            return YamlValue::from_float(d);
        }
        if (k == "$map") {
            quarvel::ValueList entries;
            for (const YamlValue& pair : m.value(0).children()) {
                entries.push_back(pair.children()[0]);
                entries.push_back(pair.children()[1]);
            }
            return YamlValue::mapping(arena, entries);
        }
        return m;
    }
    YamlValue array() {
        ++i;
        quarvel::ValueList items;
        ws();
        while (s[i] != ']') {
            items.push_back(value());
            ws();
            if (s[i] == ',') ++i;
            ws();
        }
        ++i;
        return YamlValue::sequence(arena, items);
    }
    YamlValue value() {
        ws();
        char c = s[i];
        if (c == '{') return object();
        if (c == '[') return array();
        if (c == '"') return YamlValue::string(string());
        if (s.substr(i, 4) == "null") {
            i += 4;
            return YamlValue::null();
        }
        if (s.substr(i, 4) == "true") {
            i += 4;
            return YamlValue::from_bool(true);
        }
        if (s.substr(i, 5) == "false") {
            i += 5;
            return YamlValue::from_bool(false);
        }
        return number();
    }
};

int g_bench = 0;

quarvel::EmitterSettings parse_settings(int argc, char** argv) {
    quarvel::EmitterSettings st;
    for (int a = 1; a < argc; ++a) {
        std::string arg = argv[a];
        if (arg.starts_with("bench="))
            g_bench = std::stoi(arg.substr(6));
        else if (arg.starts_with("indent="))
            st.indent = std::stoul(arg.substr(7));
        else if (arg.starts_with("width="))
            st.width = std::stoull(arg.substr(6));
        else if (arg == "null=keyword")
            st.null_style = quarvel::NullStyle::Keyword;
        else if (arg == "null=tilde")
            st.null_style = quarvel::NullStyle::Tilde;
        else if (arg == "null=empty")
            st.null_style = quarvel::NullStyle::Empty;
        else if (arg == "sort")
            st.sort_keys = true;
        else if (arg == "flow")
            st.flow = true;
        else if (arg == "start")
            st.explicit_start = true;
        else if (arg == "end")
            st.explicit_end = true;
        else if (arg == "single")
            st.prefer_double_quotes = false;
        else if (arg == "indentless")
            st.indentless = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            std::exit(2);
        }
    }
    return st;
}

}  // namespace

int main(int argc, char** argv) {
    const quarvel::EmitterSettings st = parse_settings(argc, argv);
    std::string line;
    std::string out;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        JsonReader r{line};
        YamlValue v = r.value();
        if (g_bench > 0) {
            auto t0 = std::chrono::steady_clock::now();
            for (int k = 0; k < g_bench; ++k) {
                out.clear();
                out.reserve(1024);
                if (!quarvel::emit_yaml(v, st, out)) return 1;
            }
            std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
            std::printf("%zu bytes, %.3f ms per emission\n", out.size(),
                        dt.count() * 1000 / g_bench);
            continue;
        }
        out.clear();
        if (!quarvel::emit_yaml(v, st, out)) {
            std::fputs("out of stack\n", stderr);
            return 1;
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fputs("\x1e\n", stdout);
        g_texts.clear();
    }
    return 0;
}
