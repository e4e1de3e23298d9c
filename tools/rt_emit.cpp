// Development driver for the round-trip emitter.
//   rt_emit emit all|none|one|root FILE
//                                prints the stream re-emitted with every node
//                                marked modified, with none (a plain copy), or
//                                with the one value edited as `edit` does,
//                                or (root) with only the roots marked
//   rt_emit check FILE...        for each file that composes: the unmodified
//                                copy is byte-identical, and the full
//                                re-emission composes again and reads as the
//                                same values; prints the files that fail and
//                                a summary line
//   rt_emit edit FILE...         edits the first plain single-line value of a
//                                mapping (appends "x") and counts the files in
//                                which only that line changed; each file's
//                                result is printed as "path<TAB>line<TAB>ok"
//                                (line 1-based, ok 1 or 0) for comparisons
//   rt_emit bench FILE [RUNS]     best time of compose + unmodified emission,
//                                and of compose + one edit + emission
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "roundtrip/emitter.hpp"
#include "roundtrip/verify.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "timing.hpp"

namespace rt = quarvel::roundtrip;

namespace {

bool read_file(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

std::vector<std::string_view> split_lines(std::string_view s) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t end = s.find('\n', pos);
        if (end == std::string_view::npos) end = s.size();
        lines.push_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// The first mapping value (document order) that is a plain scalar on one line.
quarvel::YamlNode* first_plain_value(quarvel::YamlNode& node) {
    if (node.kind == quarvel::NodeKind::Mapping) {
        for (std::size_t i = 0; i < node.size(); ++i) {
            quarvel::YamlNode& v = node.value(i);
            if (v.kind == quarvel::NodeKind::Scalar &&
                v.scalar_style == quarvel::ScalarStyle::Plain && !v.text.empty() &&
                v.end_line == v.span.line && !v.source())
                return &v;
            if (auto* found = first_plain_value(v)) return found;
        }
    } else {
        for (auto& c : node.children)
            if (auto* found = first_plain_value(c)) return found;
    }
    return nullptr;
}

int emit(const char* mode, const char* path) {
    std::string bytes;
    if (!read_file(path, bytes)) return 2;
    auto text = quarvel::utf8::decode_input(bytes);
    if (!text) return 2;
    auto forest = quarvel::compose_text(*text, 0, true);
    if (!forest) {
        std::fprintf(stderr, "%s\n", forest.error().message.c_str());
        return 1;
    }
    std::string edited;
    if (std::strcmp(mode, "all") == 0) {
        for (auto& r : forest->roots) rt::mark_modified(r);
    } else if (std::strncmp(mode, "root", 4) == 0) {
        for (auto& r : forest->roots) r.comments.modified = true;
    } else if (std::strcmp(mode, "one") == 0) {
        for (auto& r : forest->roots) {
            if (quarvel::YamlNode* target = first_plain_value(r)) {
                edited = std::string(target->text) + "x";
                target->text = edited;
                target->comments.modified = true;
                break;
            }
        }
    }
    auto out = rt::emit_stream(forest->roots, *text, {});
    if (!out) return 1;
    std::fwrite(out->data(), 1, out->size(), stdout);
    return 0;
}

// A file's decoded text and its trees; false when it does not read or compose.
struct Loaded {
    std::string text;
    quarvel::SyntaxForest forest;
};
bool load(const char* path, Loaded& out) {
    std::string bytes;
    if (!read_file(path, bytes)) return false;
    auto text = quarvel::utf8::decode_input(bytes);
    if (!text) return false;
    out.text = std::move(*text);
    auto forest = quarvel::compose_text(out.text, 0, true);
    if (!forest) return false;
    out.forest = std::move(*forest);
    return true;
}

int check(int argc, char** argv) {
    int composed = 0, identical = 0, same = 0, failed_compose = 0;
    for (int i = 0; i < argc; ++i) {
        Loaded file;
        if (!load(argv[i], file)) continue;
        const std::string* text = &file.text;
        auto* forest = &file.forest;
        ++composed;
        auto copy = rt::emit_stream(forest->roots, *text, {});
        if (copy && *copy == *text)
            ++identical;
        else
            std::printf("NOT IDENTICAL %s\n", argv[i]);
        for (auto& r : forest->roots) rt::mark_modified(r);
        auto out = rt::emit_stream(forest->roots, *text, {});
        if (!out || !quarvel::compose_text(*out, 0, true)) {
            ++failed_compose;
            std::printf("NO COMPOSE %s\n", argv[i]);
        } else if (rt::same_values(*text, *out)) {
            ++same;
        } else {
            std::printf("DIFFERENT %s\n", argv[i]);
        }
    }
    std::printf("composed %d identical %d same-values %d recompose-failed %d\n", composed,
                identical, same, failed_compose);
    return composed == identical && composed == same ? 0 : 1;
}

int edit(int argc, char** argv) {
    int edited = 0, one_line = 0;
    for (int i = 0; i < argc; ++i) {
        Loaded file;
        if (!load(argv[i], file)) continue;
        const std::string* text = &file.text;
        auto* forest = &file.forest;
        quarvel::YamlNode* target = nullptr;
        for (auto& r : forest->roots)
            if ((target = first_plain_value(r))) break;
        if (!target) continue;
        const std::string edited_text = std::string(target->text) + "x";
        target->text = edited_text;
        target->comments.modified = true;
        auto out = rt::emit_stream(forest->roots, *text, {});
        if (!out) continue;
        ++edited;
        const auto a = split_lines(*text);
        const auto b = split_lines(*out);
        bool ok = a.size() == b.size();
        for (std::size_t k = 0; ok && k < a.size(); ++k)
            if (a[k] != b[k] && k != target->span.line) ok = false;
        one_line += ok;
        std::printf("%s\t%u\t%d\n", argv[i], target->span.line + 1, ok ? 1 : 0);
    }
    std::printf("edited %d only-that-line %d\n", edited, one_line);
    return 0;
}

using quarvel::tools::best_ms;

int bench(const char* path, int runs) {
    std::string bytes;
    if (!read_file(path, bytes)) return 2;
    std::size_t sink = 0;
    const double copy = best_ms(runs, [&] {
        auto forest = quarvel::compose_text(bytes, 0, false);
        auto out = rt::emit_stream(forest->roots, bytes, {});
        sink += out->size();
    });
    const double edit = best_ms(runs, [&] {
        auto forest = quarvel::compose_text(bytes, 0, false);
        for (auto& r : forest->roots) {
            if (quarvel::YamlNode* target = first_plain_value(r)) {
                target->text = "edited";
                target->comments.modified = true;
                break;
            }
        }
        auto out = rt::emit_stream(forest->roots, bytes, {});
        sink += out->size();
    });
    std::printf("%zu bytes: load + unmodified emit %.2f ms, load + one edit + emit %.2f ms (%zu)\n",
                bytes.size(), copy, edit, sink);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "emit") == 0) return emit(argv[2], argv[3]);
    if (argc >= 2 && std::strcmp(argv[1], "check") == 0) return check(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "edit") == 0) return edit(argc - 2, argv + 2);
    if (argc >= 3 && std::strcmp(argv[1], "bench") == 0)
        return bench(argv[2], argc >= 4 ? std::atoi(argv[3]) : 10);
    std::fprintf(stderr, "usage: rt_emit emit all|none FILE | check FILE... | edit FILE...\n");
    return 2;
}
