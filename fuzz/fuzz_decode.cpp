// Input bytes -> text decoding -> scanner, composer and resolvers, with
// the policy switches taken from the first byte.
#include <cstdint>

#include "fuzz_options.hpp"
#include "support/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    auto text = quarvel::utf8::decode_input(in.text);
    if (!text) return 0;
    auto decoded = quarvel::decode(*text, quarvel::fuzz::decode_options(in.flags));
    (void)decoded;
    return 0;
}
