#include "syntax/checks.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/core_tag.hpp"
#include "support/float_format.hpp"
#include "support/options.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel {

TreeCheckOptions tree_check_options(std::uint64_t options, ModeChoice choice) {
    TreeCheckOptions out;
    out.mode = choice.mode;
    out.duplicate_keys_error = (options & opt::DUPLICATE_KEYS_ERROR) != 0;
    out.duplicate_keys_warn =
        !out.duplicate_keys_error && (options & opt::DUPLICATE_KEYS_WARN) != 0;
    // Under the 1.2 rules every scalar already reads the 1.2 way.
    out.upgrade_1_1 = (options & opt::UPGRADE_1_1) != 0 && choice.mode != ResolverMode::Core12;
    out.warn_1_1 = choice.warn_1_1;
    out.unreadable_tags = true;
    return out;
}

namespace {

// How a node with scalar meaning is read: a scalar by its text, style and
// tag; an empty node with a tag as an empty plain scalar under that tag; an
// empty node without one is null.
Resolved read_leaf(const YamlNode& n, ResolverMode mode) {
    if (n.kind == NodeKind::Scalar)
        return resolve(mode, n.text, n.scalar_style == ScalarStyle::Plain, n.tag.value_or(""));
    if (n.tag) return resolve(mode, {}, true, *n.tag);
    Resolved r;
    r.kind = ResolvedKind::Null;
    return r;
}

void append_int(std::string& out, std::int64_t v) {
    char buf[24];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, p);
}

// Texts that end where a delimiter of the enclosing collection text begins
// get those delimiters escaped.
void append_escaped(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == ',' || c == '=' || c == ']' || c == '}') out.push_back('\\');
        out.push_back(c);
    }
}

void append_payload(std::string& out, std::string_view text, bool nested) {
    if (nested)
        append_escaped(out, text);
    else
        out.append(text);
}

void append_leaf_identity(const YamlNode& n, ResolverMode mode, bool nested, std::string& out) {
    Resolved r = read_leaf(n, mode);
    switch (r.kind) {
        case ResolvedKind::Null:
            out += "null";
            return;
        case ResolvedKind::Bool:
            out += r.boolean ? "b:true" : "b:false";
            return;
        case ResolvedKind::Int:
            out += "i:";
            append_int(out, r.integer);
            return;
        case ResolvedKind::BigInt: {
            // Decimal digits whatever base it was written in, so equal
            // numbers give equal texts.
            out += "i:";
            std::string digits = big_int_digits(n.text);
            out += digits.empty() ? n.text : std::string_view(digits);
            return;
        }
        case ResolvedKind::Float:
            out += "f:";
            // 0.0 and -0.0 are the same key; every NaN spells the same.
            format_float(r.real == 0.0 ? 0.0 : r.real, out);
            return;
        case ResolvedKind::Merge:
            out += "s:<<";
            return;
        case ResolvedKind::Str:
        case ResolvedKind::Invalid:  // refused when the value is read
            out += "s:";
            append_payload(out, n.text, nested);
            return;
    }
}

bool append_identity(const YamlNode& n, ResolverMode mode, bool nested, std::string& out) {
    switch (n.kind) {
        case NodeKind::Scalar:
        case NodeKind::Null:
            append_leaf_identity(n, mode, nested, out);
            return true;
        case NodeKind::Alias:
            out += "alias:";
            append_payload(out, n.text, nested);
            return true;
        case NodeKind::Sequence:
        case NodeKind::Mapping: {
            const bool mapping = n.kind == NodeKind::Mapping;
            out += mapping ? "map:{" : "seq:[";
            for (std::size_t i = 0; i < n.children.size(); ++i) {
                if (i != 0) out.push_back(mapping && i % 2 == 1 ? '=' : ',');
                const YamlNode& c = n.children[i];
                if (c.children.empty()) {
                    append_identity(c, mode, true, out);
                } else if (!ensure_stack([&] { return append_identity(c, mode, true, out); })) {
                    return false;
                }
            }
            out.push_back(mapping ? '}' : ']');
            return true;
        }
    }
    return true;
}

// A tag the resolver does not read (anything but the core tags): values
// under it show wrapped in Tagged(...).
bool foreign_tag(const YamlNode& n) {
    return n.tag && !is_standard_tag(*n.tag);
}

void append_leaf_display(const YamlNode& n, ResolverMode mode, std::string& out) {
    Resolved r = read_leaf(n, mode);
    switch (r.kind) {
        case ResolvedKind::Null:
            out += "Null";
            return;
        case ResolvedKind::Bool:
            out += r.boolean ? "Bool(true)" : "Bool(false)";
            return;
        case ResolvedKind::Int:
            out += "Int(";
            append_int(out, r.integer);
            out += ")";
            return;
        case ResolvedKind::BigInt:
            out += "BigInt(";
            out += utf8::quoted_literal(n.text);
            out += ")";
            return;
        case ResolvedKind::Float:
            out += "Float(";
            append_display_float(out, r.real);
            out += ")";
            return;
        case ResolvedKind::Merge:
            out += "String(\"<<\")";
            return;
        case ResolvedKind::Str:
        case ResolvedKind::Invalid:  // refused when the value is read
            out += "String(";
            out += utf8::quoted_literal(n.text);
            out += ")";
            return;
    }
}

bool append_display(const YamlNode& n, ResolverMode mode, std::string& out) {
    const bool tagged = foreign_tag(n);
    if (tagged) {
        out += "Tagged(";
        out += utf8::quoted_literal(*n.tag);
        out += ", ";
    }
    switch (n.kind) {
        case NodeKind::Scalar:
        case NodeKind::Null:
            append_leaf_display(n, mode, out);
            break;
        case NodeKind::Alias:
            out += "*";
            out += n.text;
            break;
        case NodeKind::Sequence:
            out += "Sequence([";
            for (std::size_t i = 0; i < n.children.size(); ++i) {
                if (i != 0) out += ", ";
                if (!ensure_stack([&] { return append_display(n.children[i], mode, out); }))
                    return false;
            }
            out += "])";
            break;
        case NodeKind::Mapping:
            out += "Mapping([";
            for (std::size_t i = 0; i < n.size(); ++i) {
                if (i != 0) out += ", ";
                out += "(";
                if (!ensure_stack([&] { return append_display(n.key(i), mode, out); }))
                    return false;
                out += ", ";
                if (!ensure_stack([&] { return append_display(n.value(i), mode, out); }))
                    return false;
                out += ")";
            }
            out += "])";
            break;
    }
    if (tagged) out += ")";
    return true;
}

bool is_merge_key(const YamlNode& key, ResolverMode mode) {
    if (key.kind != NodeKind::Scalar) return false;
    return read_leaf(key, mode).kind == ResolvedKind::Merge;
}

std::string position_text(const YamlNode& n) {
    return "line " + std::to_string(std::uint64_t{n.span.line} + 1) + ", column " +
           std::to_string(std::uint64_t{n.span.column} + 1);
}

// Mappings with at most this many keys compare each key with the earlier
// ones directly; larger ones look keys up in a hash table.
constexpr std::size_t kLinearKeys = 8;

class TreeChecker {
  public:
    TreeChecker(const TreeCheckOptions& options, Arena& arena, Warnings& warnings)
        : options_(options),
          duplicates_(options.duplicate_keys_error || options.duplicate_keys_warn),
          arena_(arena),
          warnings_(warnings) {}

    // False when the walk stopped: error_ says why.
    bool walk(YamlNode& n) {
        switch (n.kind) {
            case NodeKind::Scalar:
                if (!readable(n)) return false;
                scalar(n);
                return true;
            case NodeKind::Sequence:
                for (YamlNode& c : n.children)
                    if (!descend(c)) return false;
                return true;
            case NodeKind::Mapping:
                if (duplicates_) return mapping(n);
                for (YamlNode& c : n.children)
                    if (!descend(c)) return false;
                return true;
            case NodeKind::Null:
                return readable(n);
            case NodeKind::Alias:
                return true;
        }
        return true;
    }

    std::optional<Error> error_;
    std::uint32_t error_file_ = 0;

  private:
    // Identity texts of the keys of the mappings being walked, outer mappings
    // first: one buffer for all, cut back when a mapping is done.
    struct KeyText {
        std::size_t offset;
        std::size_t length;
    };

    bool descend(YamlNode& c) {
        if (c.children.empty()) return walk(c);
        bool ran = false;
        bool ok = ensure_stack([&] {
            ran = true;
            return walk(c);
        });
        if (!ran) stack_ran_out();
        return ok;
    }

    // Positions alone would point into the wrong file for a node that came
    // from an included one.
    void warn(std::string text, const YamlNode& about) {
        const std::uint32_t file = about.span.file_id;
        if (file != 0 && file < options_.file_paths.size()) {
            text += " in ";
            text += options_.file_paths[file];
        }
        warnings_.push_back(std::move(text));
    }

    void stack_ran_out() {
        if (!error_) error_ = stack_exhausted_error();
    }

    // The same refusal the value composer makes when it reads the scalar.
    bool readable(const YamlNode& n) {
        if (!options_.unreadable_tags || !n.tag) return true;
        const std::string_view tag = n.effective_tag();
        const bool plain = n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
        if (resolve(options_.mode, n.text, plain, tag).kind != ResolvedKind::Invalid) return true;
        error_ = Error::syntax(invalid_scalar_message(n.text, tag), n.span.line, n.span.column);
        error_file_ = n.span.file_id;
        return false;
    }

    void scalar(YamlNode& n) {
        if (options_.warn_1_1) {
            auto w = difference_warning(options_.mode, n.text, n.scalar_style == ScalarStyle::Plain,
                                        n.tag.value_or(""), n.span.line, n.span.column);
            if (w) warn(std::move(*w), n);
        }
        if (options_.upgrade_1_1 && n.scalar_style == ScalarStyle::Plain) upgrade(n);
    }

    void upgrade(YamlNode& n) {
        std::string_view tag = n.tag.value_or("");
        if (auto spelling = upgrade_spelling(options_.mode, n.text, tag)) {
            n.text = arena_.store(*spelling);
            n.comments.modified = true;
            return;
        }
        // A string under 1.1 that the 1.2 rules would read as something else
        // ("0o17" is an integer there) keeps its value only when quoted.
        if (tag.empty() && resolve(options_.mode, n.text, true).kind == ResolvedKind::Str &&
            resolve(ResolverMode::Core12, n.text, true).kind != ResolvedKind::Str) {
            n.scalar_style = ScalarStyle::SingleQuoted;
            n.comments.modified = true;
        }
    }

    std::string_view key_text(const KeyText& k) const {
        return {pool_.data() + k.offset, k.length};
    }

    bool mapping(YamlNode& n) {
        const std::size_t pool_base = pool_.size();
        const std::size_t keys_base = keys_.size();
        const std::size_t count = n.size();
        // Open addressing over the keys recorded for this mapping: a slot
        // holds 1 + the key's place in keys_, 0 when empty.
        std::vector<std::uint32_t> table;
        std::size_t mask = 0;
        if (count > kLinearKeys) {
            table.assign(std::bit_ceil(count * 2), 0);
            mask = table.size() - 1;
        }
        bool ok = true;
        for (std::size_t i = 0; i < count && ok; ++i) {
            YamlNode& key = n.key(i);
            bool duplicate = false;
            const std::size_t start = pool_.size();
            if (!append_identity(key, options_.mode, false, pool_)) {
                stack_ran_out();
                ok = false;
                break;
            }
            std::string_view text(pool_.data() + start, pool_.size() - start);
            if (text == "s:<<" && is_merge_key(key, options_.mode)) {
                pool_.resize(start);  // merge keys may repeat
            } else {
                duplicate = table.empty() ? find_linear(keys_base, text)
                                          : find_hashed(table, mask, keys_base, text);
                if (duplicate) {
                    pool_.resize(start);
                } else {
                    keys_.push_back({start, pool_.size() - start});
                    if (!table.empty()) insert_hashed(table, mask, keys_base, text);
                }
            }
            if (duplicate && options_.duplicate_keys_error) {
                std::string shown;
                if (!shown_key(key, shown)) {
                    ok = false;
                    break;
                }
                error_ = Error::syntax("duplicate mapping key: " + shown, key.span.line,
                                       key.span.column, syntax_kind::duplicate_key);
                error_file_ = key.span.file_id;
                ok = false;
                break;
            }
            ok = descend(key) && descend(n.value(i));
            // The warning follows the key's and the value's own findings, as
            // it does when loading without the tree.
            if (ok && duplicate) {
                std::string shown;
                if (!shown_key(key, shown)) {
                    ok = false;
                    break;
                }
                warn("duplicate mapping key '" + shown + "' at " + position_text(key) +
                         "; keeping the last value",
                     key);
            }
        }
        pool_.resize(pool_base);
        keys_.resize(keys_base);
        return ok;
    }

    bool shown_key(const YamlNode& key, std::string& shown) {
        if (append_key_display(key, options_.mode, shown)) return true;
        stack_ran_out();
        return false;
    }

    bool find_linear(std::size_t from, std::string_view text) const {
        for (std::size_t k = from; k < keys_.size(); ++k)
            if (key_text(keys_[k]) == text) return true;
        return false;
    }

    bool find_hashed(const std::vector<std::uint32_t>& table, std::size_t mask, std::size_t base,
                     std::string_view text) const {
        for (std::size_t slot = seeded_hash(text) & mask;; slot = (slot + 1) & mask) {
            std::uint32_t at = table[slot];
            if (at == 0) return false;
            if (key_text(keys_[base + at - 1]) == text) return true;
        }
    }

    void insert_hashed(std::vector<std::uint32_t>& table, std::size_t mask, std::size_t base,
                       std::string_view text) {
        std::size_t slot = seeded_hash(text) & mask;
        while (table[slot] != 0) slot = (slot + 1) & mask;
        table[slot] = static_cast<std::uint32_t>(keys_.size() - base);
    }

    const TreeCheckOptions& options_;
    const bool duplicates_;
    Arena& arena_;
    Warnings& warnings_;
    std::string pool_;
    std::vector<KeyText> keys_;
};

}  // namespace

bool append_key_identity(const YamlNode& key, ResolverMode mode, std::string& out) {
    return append_identity(key, mode, false, out);
}

bool append_key_display(const YamlNode& key, ResolverMode mode, std::string& out) {
    if (key.kind == NodeKind::Scalar) {
        out += key.text;
        return true;
    }
    return append_display(key, mode, out);
}

Status check_tree(SyntaxForest& forest, const TreeCheckOptions& options, Warnings& warnings,
                  std::uint32_t* error_file) {
    if (!options.any()) return {};
    TreeChecker checker(options, forest.arena, warnings);
    for (YamlNode& root : forest.roots) {
        bool ran = false;
        bool ok = ensure_stack([&] {
            ran = true;
            return checker.walk(root);
        });
        if (ok) continue;
        if (!ran || !checker.error_) return fail(stack_exhausted_error());
        if (error_file != nullptr) *error_file = checker.error_file_;
        return fail(std::move(*checker.error_));
    }
    return {};
}

}  // namespace quarvel
