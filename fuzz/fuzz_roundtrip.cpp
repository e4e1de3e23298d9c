// Input bytes -> text decoding -> the tree composer, then random nodes marked
// modified (chosen by a generator seeded from the option bytes) and the
// stream re-emitted. The output must compose again and, when the input reads
// as values, read as the same values; an unmodified stream must come back as
// its text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz_options.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/verify.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"

namespace {

void check(bool ok, const char* what, std::string_view source = "", std::string_view output = "") {
    if (ok) return;
    std::fprintf(stderr, "roundtrip: %s\n--- source\n%.*s\n--- output\n%.*s\n---\n", what,
                 static_cast<int>(source.size()), source.data(), static_cast<int>(output.size()),
                 output.data());
    std::abort();
}

// xorshift: cheap, and the same marks for the same input.
struct Marks {
    std::uint32_t state;
    bool next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (state & 3) == 0;
    }
};

// YAML streams hold printable characters only; the composer lets some
// control characters through in comments and quoted text, where re-emitting
// them need not read back the same.
bool printable(std::string_view text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
    return true;
}

void mark(quarvel::YamlNode& node, Marks& marks) {
    if (marks.next()) node.comments.modified = true;
    for (auto& child : node.children) mark(child, marks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    auto text = quarvel::utf8::decode_input(in.text);
    if (!text) return 0;
    auto forest = quarvel::compose_text(*text, 0, true);
    if (!forest) return 0;
    namespace rt = quarvel::roundtrip;
    auto copy = rt::emit_stream(forest->roots, *text, {});
    check(copy && *copy == *text, "an unmodified stream is not its text");

    Marks marks{0x9E3779B9u ^ (static_cast<std::uint32_t>(in.layout) << 8) ^ in.flags};
    for (auto& root : forest->roots) mark(root, marks);
    if ((in.layout & 1) && !forest->roots.empty()) forest->roots[0].comments.modified = true;
    rt::EmitOptions options;
    options.prefer_double_quotes = (in.layout & 2) == 0;
    options.declare_1_2 = (in.layout & 4) != 0;
    auto out = rt::emit_stream(forest->roots, *text, options);
    check(out.has_value(), "the stream was not written");
    check(quarvel::compose_text(*out, 0, true).has_value(), "the output does not compose", *text,
          *out);
    // The %YAML 1.2 line may change how a YAML 1.1 text reads; only the
    // output's syntax is checked then.
    if (!options.declare_1_2 && printable(*text) && quarvel::decode(*text, {}))
        check(rt::same_values(*text, *out), "the output reads as other values", *text, *out);
    return 0;
}
