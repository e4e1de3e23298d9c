// Reading and writing on several threads at once: decoding, JSON and YAML
// output, composing with comments and re-emitting the stream must give every
// thread the same result the main thread got alone. The inputs include the
// configuration corpus, a document nested close to the depth limit (which
// runs on the thread's stack segments) and texts that fail, so the error
// paths run concurrently too. The ThreadSanitizer build runs this program to
// find data races in the core.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "decode/decoder.hpp"
#include "encode/emitter.hpp"
#include "roundtrip/emitter.hpp"
#include "support/limits.hpp"
#include "syntax/compose.hpp"

using namespace quarvel;

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

std::vector<std::string> inputs() {
    std::vector<std::string> names;
    if (DIR* d = opendir((kHere + "/corpus").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> texts;
    for (const std::string& n : names) texts.push_back(read(kHere + "/corpus/" + n));
    const std::size_t deep = kMaxDepth - 20;
    texts.push_back(std::string(deep, '[') + "1" + std::string(deep, ']') + "\n");
    texts.push_back(std::string(kMaxDepth + 5, '[') + "\n");  // past the limit
    texts.push_back("a: [1, 2\nb: &x {c: *y}\n");             // unclosed, unknown alias
    texts.push_back("k: v\nk: w\n? [a, b]\n: c\n# foot\n");
    return texts;
}

void mark_all(YamlNode& node) {
    node.comments.modified = true;
    for (YamlNode& c : node.children) mark_all(c);
}

// Everything the core makes of one text, as one string to compare.
std::string outcome(const std::string& text) {
    std::string out;
    DecodeOptions options;
    options.duplicate_keys_warn = true;
    if (auto decoded = decode(text, options)) {
        out += "warnings " + std::to_string(decoded->warnings.size()) + "\n";
        for (const YamlValue& doc : decoded->documents) {
            if (!emit_yaml(doc, {}, out)) out += "<yaml out of stack>";
            if (!write_json(doc, {}, out)) out += "<no json>";
        }
    } else {
        out += "decode error: " + decoded.error().message + "\n";
    }
    if (auto forest = compose_text(text, 0, true)) {
        for (YamlNode& root : forest->roots) mark_all(root);
        auto emitted = roundtrip::emit_stream(forest->roots, text, {});
        out += emitted ? *emitted : "emit error: " + emitted.error().message;
    } else {
        out += "compose error: " + forest.error().message + "\n";
    }
    return out;
}

}  // namespace

int main() {
    check::Case c("threads");
    const std::vector<std::string> texts = inputs();
    std::vector<std::string> alone;
    for (const std::string& t : texts) alone.push_back(outcome(t));

    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    // Results are compared on this thread: the checks' counters are not shared safely.
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&texts, &mine = got[static_cast<std::size_t>(t)], t] {
            for (int round = 0; round < kRounds; ++round)
                for (std::size_t i = 0; i < texts.size(); ++i)
                    // Each thread starts at another text, so different work overlaps.
                    mine.push_back(
                        outcome(texts[(i + static_cast<std::size_t>(t)) % texts.size()]));
        });
    for (auto& th : threads) th.join();

    for (int t = 0; t < kThreads; ++t)
        for (std::size_t k = 0; k < got[static_cast<std::size_t>(t)].size(); ++k)
            CHECK_EQ(got[static_cast<std::size_t>(t)][k],
                     alone[(k + static_cast<std::size_t>(t)) % texts.size()]);
    CHECK(texts.size() == alone.size());
    return check::finish("threads_test");
}
