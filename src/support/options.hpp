// The option bit set shared by the binding layer and the core.
#pragma once

#include <cstdint>

namespace quarvel::opt {

inline constexpr std::uint64_t YAML_1_1 = 0x1;
inline constexpr std::uint64_t PYYAML_COMPAT = 0x2;
inline constexpr std::uint64_t UPGRADE_1_1 = 0x4;
inline constexpr std::uint64_t YAML_1_1_WARN = 0x8;
inline constexpr std::uint64_t ROUND_TRIP = 0x10;
inline constexpr std::uint64_t ANNOTATED = 0x20;
inline constexpr std::uint64_t ANNOTATE_NUMBERS = 0x40;
inline constexpr std::uint64_t INCLUDES = 0x80;
inline constexpr std::uint64_t INCLUDE_DIR_RECURSIVE = 0x100;
inline constexpr std::uint64_t SECRETS = 0x200;
inline constexpr std::uint64_t ENV_VAR = 0x400;
inline constexpr std::uint64_t SECRET_NOT_FOUND_WARN = 0x800;
inline constexpr std::uint64_t ENV_VAR_NOT_FOUND_WARN = 0x1000;
inline constexpr std::uint64_t PASSTHROUGH_TAG = 0x2000;
inline constexpr std::uint64_t DUPLICATE_KEYS_ERROR = 0x4000;
inline constexpr std::uint64_t DUPLICATE_KEYS_WARN = 0x8000;
inline constexpr std::uint64_t REJECT_COMPLEX_KEYS = 0x10000;
inline constexpr std::uint64_t INDENT_2 = 0x20000;
inline constexpr std::uint64_t INDENT_4 = 0x40000;
inline constexpr std::uint64_t INDENTLESS_SEQUENCES = 0x80000;
inline constexpr std::uint64_t FLOW_STYLE = 0x100000;
inline constexpr std::uint64_t SORT_KEYS = 0x200000;
inline constexpr std::uint64_t EXPLICIT_START = 0x400000;
inline constexpr std::uint64_t EXPLICIT_END = 0x800000;
inline constexpr std::uint64_t SINGLE_QUOTES = 0x1000000;
inline constexpr std::uint64_t NULL_AS_KEYWORD = 0x2000000;
inline constexpr std::uint64_t NULL_AS_TILDE = 0x4000000;
inline constexpr std::uint64_t SERIALIZE_NUMPY = 0x8000000;
inline constexpr std::uint64_t PASSTHROUGH_DATETIME = 0x10000000;
inline constexpr std::uint64_t PASSTHROUGH_DATACLASS = 0x20000000;
inline constexpr std::uint64_t OMIT_MICROSECONDS = 0x40000000;
inline constexpr std::uint64_t NAIVE_UTC = 0x80000000;
inline constexpr std::uint64_t UTC_Z = 0x100000000;
inline constexpr std::uint64_t SCHEMA_FORMAT = 0x200000000;

}  // namespace quarvel::opt
