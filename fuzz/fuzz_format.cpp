// Input bytes -> text decoding -> the formatter. Whatever it returns must
// compose to the same trees with the same comments and, when the input
// reads as values, read as the same values; it must format to itself, end
// with one line break, and hold no blanks at a line end that could go.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_options.hpp"
#include "roundtrip/format.hpp"
#include "roundtrip/verify.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"

namespace {

void check(bool ok, const char* what, std::string_view source, std::string_view output) {
    if (ok) return;
    std::fprintf(stderr, "format: %s\n--- source\n%.*s\n--- output\n%.*s\n---\n", what,
                 static_cast<int>(source.size()), source.data(), static_cast<int>(output.size()),
                 output.data());
    std::abort();
}

// The lines whose end blanks could be removed without changing what the
// text holds: blanks of block scalar content and escaped ones cannot.
bool removable_end_blanks(std::string_view out) {
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string_view::npos) end = out.size();
        std::size_t last = end;
        if (last > pos && out[last - 1] == '\r') --last;
        std::size_t kept = last;
        while (kept > pos && (out[kept - 1] == ' ' || out[kept - 1] == '\t')) --kept;
        if (kept < last) {
            std::string stripped(out.substr(0, kept));
            stripped += out.substr(last);
            if (quarvel::roundtrip::same_content(out, stripped)) return true;
        }
        pos = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    auto text = quarvel::utf8::decode_input(in.text);
    if (!text) return 0;
    namespace rt = quarvel::roundtrip;
    const auto out = rt::format_text(*text);
    if (!out) return 0;
    check(rt::same_content(*text, *out), "the output holds other trees or comments", *text, *out);
    if (quarvel::decode(*text, {}))
        check(rt::same_values(*text, *out), "the output reads as other values", *text, *out);
    const auto again = rt::format_text(*out);
    check(!again || *again == *out, "formatting the output changes it", *text, *out);
    check(out->empty() || out->ends_with('\n'), "no line break at the end", *text, *out);
    if (out->ends_with("\n\n"))
        check(!rt::same_content(*out, out->substr(0, out->size() - 1)),
              "more than one line break at the end", *text, *out);
    check(!removable_end_blanks(*out), "blanks at a line end", *text, *out);
    return 0;
}
