// The SIMD scan of plain-scalar runs against the portable byte loop: the
// same end and the same ASCII verdict for every start, in block and flow
// context, with stops and multi-byte characters at every distance from the
// sixteen-byte boundaries and from the end of the text.
#include "scanner/plain_run.hpp"

#include <random>
#include <string>

#include "check.hpp"
#include "support/utf8.hpp"

using namespace quarvel::scan;
namespace check = quarvel::check;

int main() {
    const char* pieces[] = {"a", "b",  "7",  "-",  ".", "/", "\xC3\xA9", "\xF0\x9F\x98\x80",
                            " ", "\t", "\n", "\r", ":", ",", "[",        "]",
                            "{", "}",  "#",  "'"};
    std::mt19937 rng(11);
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        const int length = static_cast<int>(rng() % 70);
        // Mostly ordinary bytes, so runs cross the sixteen-byte steps.
        for (int k = 0; k < length; ++k) text += pieces[rng() % 8 == 0 ? rng() % 20 : rng() % 8];
        for (std::size_t start = 0; start <= text.size(); ++start) {
            for (bool flow : {false, true}) {
                const PlainRun fast = plain_run(flow, text.data(), start, text.size());
                const PlainRun slow = plain_run_portable(flow, text.data(), start, text.size());
                check::Case c("text '" + text + "' from " + std::to_string(start));
                CHECK_EQ(fast.end, slow.end);
                CHECK_EQ(fast.ascii, slow.ascii);
            }
        }
        std::uint32_t chars = 0;
        for (unsigned char b : text) chars += (b & 0xC0) != 0x80;
        CHECK_EQ(count_chars(text.data(), text.size()), chars);
        // Every range: its characters when it holds no break, read in words
        // that may reach past its end.
        for (std::size_t begin = 0; begin <= text.size(); begin += 3) {
            for (std::size_t end = begin; end <= text.size(); ++end) {
                bool has_break = false;
                std::size_t chars_in_range = 0;
                for (std::size_t i = begin; i < end; ++i) {
                    const auto b = static_cast<unsigned char>(text[i]);
                    has_break |= b == '\n' || b == '\r';
                    chars_in_range += (b & 0xC0) != 0x80;
                }
                check::Case c("range " + std::to_string(begin) + ".." + std::to_string(end) +
                              " of '" + text + "'");
                const auto counted = quarvel::utf8::count_chars_on_one_line(text, begin, end);
                CHECK_EQ(counted.has_value(), !has_break);
                if (counted && !has_break) CHECK_EQ(*counted, chars_in_range);
            }
        }
    }
    return check::finish("plain_run_test");
}
