// Text to YamlValue documents: the parser reads tokens while the scanner runs
// and drives the value composer, which resolves, merges and keeps each document.
#pragma once

#include <string_view>
#include <vector>

#include "resolver/resolver.hpp"
#include "support/arena.hpp"
#include "support/error.hpp"
#include "support/limits.hpp"
#include "value/value.hpp"

namespace quarvel {

struct DecodeOptions {
    ResolverMode mode = ResolverMode::Core12;
    bool duplicate_keys_error = false;
    bool duplicate_keys_warn = false;  // only when duplicate_keys_error is off
    bool reject_complex_keys = false;
    bool warn_1_1 = false;  // only in a YAML 1.1 mode
};

struct DecodedStream {
    std::vector<YamlValue> documents;
    Warnings warnings;
    Arena arena;  // texts of the trees that are not views into the input
};

// The text must be valid UTF-8 and outlive the result.
Result<DecodedStream> decode(std::string_view text, const DecodeOptions& options);

}  // namespace quarvel
