// A decoded tree written as YAML must decode again to an equal tree; written
// as JSON it must at least be YAML that decodes.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "fuzz_options.hpp"
#include "support/utf8.hpp"

namespace {

void check_yaml_round_trip(const quarvel::YamlValue& doc, const quarvel::EmitterSettings& settings) {
    std::string out;
    quarvel::emit_yaml(doc, settings, out);
    auto again = quarvel::decode(out, {});
    if (!again || again->documents.size() != 1 || !quarvel::values_equal(doc, again->documents[0])) {
        std::fprintf(stderr, "emitted YAML does not read back:\n%s\n", out.c_str());
        if (!again) std::fprintf(stderr, "error: %s\n", again.error().message.c_str());
        std::abort();
    }
}

void check_json(const quarvel::YamlValue& doc) {
    std::string out;
    if (!quarvel::write_json(doc, {}, out)) return;  // collection keys cannot be JSON
    if (quarvel::utf8::validate(out)) {
        std::fprintf(stderr, "JSON output is not UTF-8\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    if (quarvel::utf8::validate(in.text)) return 0;
    auto decoded = quarvel::decode(in.text, {});
    if (!decoded) return 0;
    auto settings = quarvel::fuzz::emitter_settings(in.layout);
    for (const auto& doc : decoded->documents) {
        check_yaml_round_trip(doc, settings);
        check_json(doc);
    }
    return 0;
}
