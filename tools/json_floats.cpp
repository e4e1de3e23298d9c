// Writes 200,000 doubles as one JSON array, the way quarvel.to_json writes a
// list of floats, so the float spelling can be measured on its own (under
// callgrind, where the count of instructions repeats from run to run).
//   json_floats random|short [RUNS]
// "random" draws doubles in [0, 1) with 53 random bits, as Python's
// random.random() does (their shortest spellings have 16 or 17 digits);
// "short" rounds them to three decimals after multiplying by 1000, as
// round(random.random() * 1000, 3) does. Prints the best time of RUNS writes
// and a checksum of the text.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/json_sink.hpp"
#include "timing.hpp"

namespace {

std::vector<double> make_doubles(bool short_decimals) {
    std::mt19937_64 rng(7);
    std::vector<double> values(200000);
    for (double& x : values) {
        x = static_cast<double>(rng() >> 11) * 0x1p-53;
        if (short_decimals) x = std::round(x * 1000.0 * 1000.0) / 1000.0;
    }
    return values;
}

std::string write_array(const std::vector<double>& values) {
    std::string text;
    {
        quarvel::TextSink out(text);
        out.put('[');
        for (double x : values) {
            quarvel::put_json_float(x, out);
            out.put(',');
        }
        out.truncate(out.position() - 1);
        out.put(']');
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "random") != 0 && std::strcmp(argv[1], "short") != 0)) {
        std::fprintf(stderr, "usage: json_floats random|short [RUNS]\n");
        return 2;
    }
    const auto values = make_doubles(std::strcmp(argv[1], "short") == 0);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    std::string text;
    const double ms = quarvel::tools::best_ms(runs, [&] { text = write_array(values); });
    unsigned long sum = 0;
    for (unsigned char c : text) sum = sum * 31 + c;
    std::printf("%zu bytes, checksum %016lx, best %.2f ms\n", text.size(), sum, ms);
    return 0;
}
