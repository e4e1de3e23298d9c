// A decoded tree written as YAML must decode again to an equal tree; written
// as JSON it must at least be YAML that decodes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_options.hpp"
#include "support/utf8.hpp"

namespace {

// The emitter writes a full tag in the verbatim form !<...>, which reads back
// in that written form: both spellings name the same tag.
std::string_view tag_name(std::string_view tag) {
    if (tag.starts_with("!<") && tag.ends_with('>')) return tag.substr(2, tag.size() - 3);
    return tag;
}

bool same_tree(const quarvel::YamlValue& a, const quarvel::YamlValue& b) {
    if (a.kind != b.kind || a.children().size() != b.children().size()) return false;
    if (a.kind == quarvel::ValueKind::Tagged) {
        if (tag_name(a.text()) != tag_name(b.text())) return false;
    } else if (!a.is_collection()) {
        return quarvel::values_equal(a, b);
    }
    for (std::size_t i = 0; i < a.children().size(); ++i)
        if (!same_tree(a.children()[i], b.children()[i])) return false;
    return true;
}

// A tag that neither reads back as written nor fits the verbatim form (it
// holds a '>') has no YAML spelling; such trees are not compared.
bool tags_writable(const quarvel::YamlValue& v) {
    if (v.kind == quarvel::ValueKind::Tagged &&
        quarvel::tag_spelling(v.text()) == quarvel::TagSpelling::None)
        return false;
    for (const auto& c : v.children())
        if (!tags_writable(c)) return false;
    return true;
}

// Nesting depth of a tree. The composer counts only nodes written in the text,
// so a tree at the depth limit with empty (null) nodes comes back with those
// nulls spelled out, one level too deep to read: such trees are not compared.
std::size_t depth_of(const quarvel::YamlValue& v) {
    std::size_t d = 0;
    for (const auto& c : v.children()) d = std::max(d, depth_of(c));
    return d + 1;
}

void check_yaml_round_trip(const quarvel::YamlValue& doc,
                           const quarvel::EmitterSettings& settings) {
    std::string out;
    if (!quarvel::emit_yaml(doc, settings, out)) return;  // out of stack: nothing to compare
    auto again = quarvel::decode(out, {});
    if (!again || again->documents.size() != 1 || !same_tree(doc, again->documents[0])) {
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

// JSON's string escapes are YAML's too: the input's text written as a JSON
// string, alone and as a key, reads back as that text. (YAML refuses some
// characters JSON writes raw, such as C1 controls: such texts are skipped.)
void check_json_string(std::string_view text) {
    quarvel::Arena arena;
    quarvel::ValueList entry{quarvel::YamlValue::string(text), quarvel::YamlValue::string(text)};
    const quarvel::YamlValue docs[2] = {quarvel::YamlValue::string(text),
                                        quarvel::YamlValue::mapping(arena, entry)};
    for (const auto& doc : docs) {
        std::string out;
        if (!quarvel::write_json(doc, {}, out)) {
            std::fprintf(stderr, "a string was not written as JSON\n");
            std::abort();
        }
        auto back = quarvel::decode(out, {});
        if (!back) continue;
        if (back->documents.size() != 1 || !same_tree(doc, back->documents[0])) {
            std::fprintf(stderr, "JSON string does not read back:\n%s\n", out.c_str());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    if (quarvel::utf8::validate(in.text)) return 0;
    check_json_string(in.text);
    auto decoded = quarvel::decode(in.text, {});
    if (!decoded) return 0;
    auto settings = quarvel::fuzz::emitter_settings(in.layout);
    for (const auto& doc : decoded->documents) {
        if (tags_writable(doc) && depth_of(doc) < quarvel::kMaxDepth - 10)
            check_yaml_round_trip(doc, settings);
        check_json(doc);
    }
    return 0;
}
