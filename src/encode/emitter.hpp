// Value trees to YAML and JSON text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/error.hpp"
#include "support/float_format.hpp"
#include "value/value.hpp"

namespace quarvel {

enum class NullStyle : std::uint8_t { Keyword, Empty, Tilde };

struct EmitterSettings {
    unsigned indent = 2;
    std::uint64_t width = 0;  // 0: no folding
    NullStyle null_style = NullStyle::Empty;
    bool sort_keys = false;
    bool flow = false;
    bool explicit_start = false;
    bool explicit_end = false;
    bool prefer_double_quotes = true;
    bool indentless = false;
};

// Appends one YAML document (ending with a line feed) to out. The only failure
// is running out of stack (support/stack.hpp); out holds a partial document then.
Status emit_yaml(const YamlValue& root, const EmitterSettings& settings, std::string& out);

// How a tag text is written: as it is, in the verbatim form !<...>, or not at
// all (None: control characters, or a '>' in a tag that is no valid
// shorthand; dumps refuses such tags, the emitter writes them as they are).
enum class TagSpelling : std::uint8_t { AsWritten, Verbatim, None };
TagSpelling tag_spelling(std::string_view tag);

// Plain-scalar safety, shared with the round-trip emitter.
bool needs_quotes(std::string_view text);

struct JsonSettings {
    unsigned indent = 0;  // 0: compact
    bool sort_keys = false;
};

// Appends JSON text; the failures are a collection used as an object key and
// running out of stack. Nothing is appended on failure.
Status write_json(const YamlValue& root, const JsonSettings& settings, std::string& out);
void json_float(double x, std::string& out);
void json_string(std::string_view text, std::string& out);

}  // namespace quarvel
