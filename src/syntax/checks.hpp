// Checks run over freshly composed syntax trees by the load pipeline:
// duplicate mapping keys, the YAML 1.1 difference warnings, and the rewrite
// of plain scalars that YAML 1.1 and YAML 1.2 read differently.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "resolver/resolver.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel {

struct TreeCheckOptions {
    ResolverMode mode = ResolverMode::Core12;  // how scalars (keys included) are read
    bool duplicate_keys_error = false;         // the first duplicate key fails
    bool duplicate_keys_warn = false;          // every duplicate key warns (unless error)
    bool upgrade_1_1 = false;                  // rewrite plain scalars to their 1.2 spelling
    bool warn_1_1 = false;                     // warn about 1.1 / 1.2 differences
    // A scalar under !!int, !!float or !!bool whose text is no such value
    // fails, before any value is read from the tree (the value composer
    // refuses it as it reads it).
    bool unreadable_tags = false;
    // Paths by file number: a warning about a node of an included file
    // (number above 0) ends with " in " and its path.
    std::span<const std::string> file_paths;

    bool any() const {
        return duplicate_keys_error || duplicate_keys_warn || upgrade_1_1 || warn_1_1 ||
               unreadable_tags;
    }
};

// The checks the option bits ask for, with the mode and 1.1 warnings chosen
// by choose_mode.
TreeCheckOptions tree_check_options(std::uint64_t options, ModeChoice choice);

// Runs the requested checks over every root in document order.
//
// Duplicate keys follow the one policy of every load path
// (resolver/duplicate_keys.hpp): keys are read as the value composer reads
// them, an alias as the node it names, and each key is compared with the
// earlier keys of its mapping once it and its value are walked, so errors
// and warnings come in the order plain loading gives them. In error mode the
// first duplicate fails with a duplicate-key syntax error at the key;
// `error_file`, when given, then receives the file number of that key. In
// warning mode every duplicate adds a warning and both entries stay. A check
// that fails adds no warnings.
//
// 1.1 warnings: every scalar whose 1.1 reading is of another type than its
// 1.2 reading adds a warning. Upgrade: every plain scalar whose 1.1 reading
// differs from its 1.2 reading is rewritten (its new text stored in the
// forest's arena) so that 1.2 reads the 1.1 value; one that 1.1 reads as a
// string but 1.2 would not keeps its text and is single-quoted. Rewritten
// scalars are marked modified. The rewrite runs after the other checks.
//
// Fails also when the stack runs out (the stack-exhausted error).
Status check_tree(SyntaxForest& forest, const TreeCheckOptions& options, Warnings& warnings,
                  std::uint32_t* error_file = nullptr);

// Appends the identity text of a mapping key read under `mode`: equal texts
// for the same key, different texts otherwise (an alias is known by its name
// only). False when the stack ran out.
bool append_key_identity(const YamlNode& key, ResolverMode mode, std::string& out);

// How a duplicate key is named in messages: a string key by its text, any
// other by the display form of its value (Int(16), Null, Sequence([...]),
// Tagged("!t", ...)). False when the stack ran out.
bool append_key_display(const YamlNode& key, ResolverMode mode, std::string& out);

// Whether a scalar mapping key reads as a string under `mode`: "a", "'1'"
// and "!t 1" do, "1", "true" and "~" do not.
bool key_reads_as_string(const YamlNode& key, ResolverMode mode);

}  // namespace quarvel
