// Re-emission over whole files: the configuration files in tests/core/corpus
// and every valid case of the YAML test suite (skipped when it is absent;
// QUARVEL_YAML_TEST_SUITE names another place). For each file that composes:
//   - unmodified, it comes back byte for byte;
//   - with every node marked modified, and with a seeded random half of the
//     nodes marked, the output composes and reads as the same values;
// and for the corpus files, one plain value edited changes only its line.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/verify.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "text_lines.hpp"

using namespace quarvel;
namespace rt = quarvel::roundtrip;

namespace {

const std::string kHere = [] {
    const std::string file = __FILE__;
    return file.substr(0, file.rfind('/'));
}();

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

bool exists(const std::string& path) {
    std::ifstream in(path);
    return in.good();
}

void mark_some(YamlNode& node, std::mt19937& rng) {
    if (rng() % 2) node.comments.modified = true;
    for (YamlNode& child : node.children) mark_some(child, rng);
}

YamlNode* first_plain_value(YamlNode& node) {
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        YamlNode& c = node.children[i];
        const bool value = node.kind == NodeKind::Mapping && i % 2 == 1;
        if (value && c.kind == NodeKind::Scalar && c.scalar_style == ScalarStyle::Plain &&
            c.end_line == c.span.line)
            return &c;
        if (YamlNode* found = first_plain_value(c)) return found;
    }
    return nullptr;
}

// Returns false when the text does not compose (such files are not counted).
bool check_file(const std::string& path, bool edit_one, std::mt19937& rng) {
    const std::string bytes = read(path);
    auto decoded = utf8::decode_input(bytes);
    if (!decoded) return false;
    const std::string text = *decoded;
    check::Case c{path};
    {
        auto f = compose_text(text, 0, true);
        if (!f) return false;
        auto copy = rt::emit_stream(f->roots, text, {});
        CHECK(copy && *copy == text);
        for (auto& r : f->roots) rt::mark_modified(r);
        auto all = rt::emit_stream(f->roots, text, {});
        CHECK(all && compose_text(*all, 0, true).has_value());
        CHECK(all && rt::same_values(text, *all));
    }
    {
        auto f = compose_text(text, 0, true);
        for (auto& r : f->roots) mark_some(r, rng);
        auto some = rt::emit_stream(f->roots, text, {});
        CHECK(some && rt::same_values(text, *some));
    }
    if (edit_one) {
        auto f = compose_text(text, 0, true);
        YamlNode* target = nullptr;
        for (auto& r : f->roots)
            if ((target = first_plain_value(r))) break;
        if (CHECK(target != nullptr)) {
            const std::string edited = std::string(target->text) + "x";
            target->text = edited;
            target->comments.modified = true;
            auto out = rt::emit_stream(f->roots, text, {});
            const std::string emitted = out ? *out : std::string();
            const auto before = check::split_lines(text);
            const auto after = check::split_lines(emitted);
            CHECK_EQ(after.size(), before.size());
            for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
                if (i != target->span.line) CHECK_EQ(std::string(after[i]), std::string(before[i]));
        }
    }
    return true;
}

}  // namespace

int main() {
    std::mt19937 rng(7);
    int corpus = 0;
    for (const std::string& name : names_in(kHere + "/corpus"))
        corpus += check_file(kHere + "/corpus/" + name, true, rng);
    CHECK_EQ(corpus, 6);

    const char* env = std::getenv("QUARVEL_YAML_TEST_SUITE");
    const std::string suite = env ? env : kHere + "/../../../shared/yaml-test-suite";
    int cases = 0, composed = 0;
    for (const std::string& id : names_in(suite)) {
        std::vector<std::string> dirs{suite + "/" + id};
        for (const std::string& sub : names_in(suite + "/" + id))
            if (exists(suite + "/" + id + "/" + sub + "/in.yaml"))
                dirs.push_back(suite + "/" + id + "/" + sub);
        for (const std::string& dir : dirs) {
            if (!exists(dir + "/in.yaml") || exists(dir + "/error")) continue;
            ++cases;
            composed += check_file(dir + "/in.yaml", false, rng);
        }
    }
    if (cases == 0)
        std::printf("the YAML test suite is not at %s: its cases were skipped\n", suite.c_str());
    else
        std::printf("test suite: %d valid cases, %d compose, all checked\n", cases, composed);
    return check::finish("roundtrip_corpus_test");
}
