// Times the two ways of reading a text: the value decoder and the syntax-tree
// composer (comments kept and attached), best of a few runs each, so their
// ratio can be compared on one machine in one run.
//   compose_time FILE [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "decode/decoder.hpp"
#include "syntax/compose.hpp"
#include "timing.hpp"

namespace {

using quarvel::tools::best_ms;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: compose_time FILE [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string text = buf.str();
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    bool ok = true;
    const double decode_ms = best_ms(runs, [&] { ok &= quarvel::decode(text, {}).has_value(); });
    const double tree_ms =
        best_ms(runs, [&] { ok &= quarvel::compose_text(text, 0, false).has_value(); });
    std::printf("%zu bytes: decode %.2f ms, tree %.2f ms, tree/decode %.2f%s\n", text.size(),
                decode_ms, tree_ms, tree_ms / decode_ms, ok ? "" : " (errors)");
    return ok ? 0 : 1;
}
