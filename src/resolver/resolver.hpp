// What a scalar means: a pure function of its text, style and tag.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/big_int.hpp"
#include "support/yaml_version.hpp"

namespace quarvel {

enum class ResolverMode : std::uint8_t { Core12 = 0, Yaml11 = 1, PyYaml = 2 };

// Invalid: a scalar under !!int, !!float or !!bool whose text is no such
// value ("!!int hello"); every reader refuses it rather than make up a value.
enum class ResolvedKind : std::uint8_t { Null, Bool, Int, BigInt, Float, Str, Merge, Invalid };

struct Resolved {
    ResolvedKind kind = ResolvedKind::Str;
    bool boolean = false;
    std::int64_t integer = 0;
    double real = 0.0;
    // BigInt and Str carry the scalar text itself (the caller keeps it).
};

// `tag` is the expanded tag ("tag:yaml.org,2002:int") or its short form
// ("!!int"); empty when the scalar has no tag.
Resolved resolve(ResolverMode mode, std::string_view text, bool plain, std::string_view tag = {});

// "null", "bool", "int" (int and big int), "float", "str", "merge", "invalid".
const char* kind_name(ResolvedKind kind);

// The message for a scalar that resolved as Invalid: "cannot read 'hello' as !!int".
std::string invalid_scalar_message(std::string_view text, std::string_view tag);

// The YAML 1.2 integer syntax; false when the text is not such an integer or
// does not fit a signed 64-bit integer.
bool parse_int_12(std::string_view text, std::int64_t& out);

// big_int_digits and the other readings of a big integer's text live in
// support/big_int.hpp, below every layer that needs them.

// The infinity and NaN spellings shared by every mode (".inf", "-.Inf", ".nan", ...).
std::optional<double> match_inf_nan(std::string_view text);

// A decimal float with correct rounding; false when the text is not one.
bool parse_decimal_float(std::string_view text, double& out);

struct ModeChoice {
    ResolverMode mode = ResolverMode::Core12;
    bool warn_1_1 = false;
};

// From the option bits and the %YAML version found in the prologue.
ModeChoice choose_mode(std::uint64_t options, std::optional<YamlVersion> version);

// With 1.1 warnings on: the warning text when a scalar reads differently
// under the 1.1 mode and under YAML 1.2 (line and column 0-based).
std::optional<std::string> difference_warning(ResolverMode mode, std::string_view text, bool plain,
                                              std::string_view tag, std::uint32_t line,
                                              std::uint32_t column);

// Two readings of one text give the same value (a float's sign included,
// NaN equal to NaN).
bool same_reading(const Resolved& a, const Resolved& b);

// The upgrade rule: the YAML 1.2 spelling of a plain scalar whose reading in
// `mode` differs from its 1.2 reading, or none when it reads the same or is a
// string in `mode`. Both readings take the scalar's tag, if it has one, so a
// scalar tagged as a string is never rewritten.
std::optional<std::string> upgrade_spelling(ResolverMode mode, std::string_view text,
                                            std::string_view tag = {});

}  // namespace quarvel
