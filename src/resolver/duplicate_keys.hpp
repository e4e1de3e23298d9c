// The duplicate-key policy of every load path: when two keys of one mapping
// are the same key, and how a repeated key is named in errors and warnings.
// It reads keys through a view, so the value composer (resolved values) and
// the tree checks (syntax trees) apply the one rule.
//
// Identity: a key is its tag and its content, as YAML defines node equality.
// Content is the value the resolver reads ("16", "0x10" and "0o20" are one
// integer; "yes" and "true" are one boolean under YAML 1.1; 1.0 and 1.00 are
// one float, 0.0 and -0.0 one key, every NaN one key; 1 and 1.0 differ). An
// application tag ("!foo") is part of the identity, so "!foo a" and "a" are
// different keys on every path, even though converting both to Python gives
// the string "a" (the dict then keeps the last value, as for any two keys
// that convert to equal objects). The non-specific tag "!" only says "not
// resolved", so it adds nothing to the identity of its (string) content. An
// alias is the node it names. Merge keys ("<<") are never duplicates.
//
// Messages: a string key is shown as its text, any other key in the display
// form of values (Int(16), Null, Bool(true), Tagged("!foo", String("a")),
// Sequence([...])), whichever spelling it had in the source.
//
// A view provides, for its Node type:
//   KeyRead read(Node) const;          the node as the composer reads it,
//                                      aliases followed
//   std::size_t count(Node) const;     children of a sequence or mapping
//                                      (keys and values alternate)
//   Node child(Node, std::size_t) const;
//   bool is_merge(Node) const;         a merge key
//   bool visit(Node) const;            false stops a walk through a key (a
//                                      budget on the nodes aliases reach)
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "support/big_int.hpp"
#include "support/error.hpp"
#include "support/float_format.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel {

enum class KeyKind : std::uint8_t { Null, Bool, Int, BigInt, Float, String, Sequence, Mapping };

// One key node as the composer reads it: the kind of its content, its
// application tag (empty when none), and the scalar payload.
struct KeyRead {
    KeyKind kind = KeyKind::Null;
    std::string_view tag;
    bool boolean = false;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view text;  // String text; BigInt as written
};

// Mappings with at most this many keys compare each key with the earlier
// ones directly; larger ones, and those with collection keys, hash identity
// texts.
inline constexpr std::size_t kLinearDuplicateKeys = 8;

inline std::string duplicate_key_error_text(std::string_view shown) {
    std::string out = "duplicate mapping key: ";
    out += shown;
    return out;
}

inline std::string duplicate_key_warning_text(std::string_view shown, std::uint64_t line,
                                              std::uint64_t column) {
    std::string out = "duplicate mapping key '";
    out += shown;
    out += "' at line " + std::to_string(line + 1) + ", column " + std::to_string(column + 1) +
           "; keeping the last value";
    return out;
}

namespace duplicate_keys_detail {

// Decimal digits whatever base a big integer was written in; its text as
// written when it is too long to convert.
inline std::string big_int_identity(std::string_view text) {
    std::string digits = big_int_digits(text);
    return digits.empty() ? std::string(text) : digits;
}

inline bool same_big_int(std::string_view a, std::string_view b) {
    return big_int_identity(a) == big_int_identity(b);
}

inline bool same_scalar(const KeyRead& a, const KeyRead& b) {
    if (a.kind != b.kind || a.tag != b.tag) return false;
    switch (a.kind) {
        case KeyKind::Null:
            return true;
        case KeyKind::Bool:
            return a.boolean == b.boolean;
        case KeyKind::Int:
            return a.integer == b.integer;
        case KeyKind::Float:  // 0.0 and -0.0 are one key, and so are all NaNs
            return a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
        case KeyKind::BigInt:
            return a.text == b.text || same_big_int(a.text, b.text);
        default:
            return a.text == b.text;
    }
}

inline void append_sized(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out.push_back(':');
    out += text;
}

// Kind letter, tag, then a length-prefixed payload, so no two different keys
// share a text.
template <class View>
bool append_identity(const View& view, typename View::Node n, std::string& out) {
    if (!view.visit(n)) return false;
    const KeyRead r = view.read(n);
    out.push_back(static_cast<char>('A' + static_cast<int>(r.kind)));
    append_sized(out, r.tag);
    switch (r.kind) {
        case KeyKind::Null:
            break;
        case KeyKind::Bool:
            out.push_back(r.boolean ? '1' : '0');
            break;
        case KeyKind::Int:
            out += std::to_string(r.integer);
            out.push_back(';');
            break;
        case KeyKind::Float: {
            double d = r.real == 0.0 ? 0.0 : r.real;
            std::uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            if (std::isnan(d)) bits = 0x7FF8000000000000ULL;
            out += std::to_string(bits);
            out.push_back(';');
            break;
        }
        case KeyKind::BigInt:
            append_sized(out, big_int_identity(r.text));
            break;
        case KeyKind::Sequence:
        case KeyKind::Mapping: {
            const std::size_t count = view.count(n);
            out += std::to_string(count);
            out.push_back('[');
            for (std::size_t i = 0; i < count; ++i)
                if (!ensure_stack([&] { return append_identity(view, view.child(n, i), out); }))
                    return false;
            out.push_back(']');
            break;
        }
        default:
            append_sized(out, r.text);
            break;
    }
    return true;
}

template <class View>
bool append_display(const View& view, typename View::Node n, std::string& out) {
    if (!view.visit(n)) return false;
    const KeyRead r = view.read(n);
    if (!r.tag.empty()) {
        out += "Tagged(";
        out += utf8::quoted_literal(r.tag);
        out += ", ";
    }
    switch (r.kind) {
        case KeyKind::Null:
            out += "Null";
            break;
        case KeyKind::Bool:
            out += r.boolean ? "Bool(true)" : "Bool(false)";
            break;
        case KeyKind::Int:
            out += "Int(" + std::to_string(r.integer) + ")";
            break;
        case KeyKind::BigInt:
            out += "BigInt(" + utf8::quoted_literal(r.text) + ")";
            break;
        case KeyKind::Float:
            out += "Float(";
            append_display_float(out, r.real);
            out += ")";
            break;
        case KeyKind::Sequence:
            out += "Sequence([";
            for (std::size_t i = 0; i < view.count(n); ++i) {
                if (i != 0) out += ", ";
                if (!ensure_stack([&] { return append_display(view, view.child(n, i), out); }))
                    return false;
            }
            out += "])";
            break;
        case KeyKind::Mapping:
            out += "Mapping([";
            for (std::size_t i = 0; i + 1 < view.count(n); i += 2) {
                out += i != 0 ? ", (" : "(";
                if (!ensure_stack([&] { return append_display(view, view.child(n, i), out); }))
                    return false;
                out += ", ";
                if (!ensure_stack([&] { return append_display(view, view.child(n, i + 1), out); }))
                    return false;
                out += ")";
            }
            out += "])";
            break;
        default:
            out += "String(" + utf8::quoted_literal(r.text) + ")";
            break;
    }
    if (!r.tag.empty()) out += ")";
    return true;
}

}  // namespace duplicate_keys_detail

// The identity text of a key: equal texts for the same key, different texts
// otherwise. False when the stack ran out or the view stopped the walk.
template <class View>
bool append_key_identity_text(const View& view, typename View::Node key, std::string& out) {
    return duplicate_keys_detail::append_identity(view, key, out);
}

// The note under a duplicate-key error that points at the first key.
inline ErrorNote first_key_note(std::string_view shown, std::uint32_t line, std::uint32_t column) {
    return {"the key '" + std::string(shown) + "'", "was first used here", line, column};
}

// How a duplicate key is named in messages. False when the stack ran out or
// the view stopped the walk.
template <class View>
bool append_shown_key(const View& view, typename View::Node key, std::string& out) {
    const KeyRead r = view.read(key);
    if (r.kind == KeyKind::String && r.tag.empty()) {
        out += r.text;
        return true;
    }
    return duplicate_keys_detail::append_display(view, key, out);
}

// Duplicate-key bookkeeping of one mapping. A key is compared with the
// earlier keys where the caller keeps them (`earlier(j)` gives key j, for j
// below the new key's index): directly while they are scalars and at most
// kLinearDuplicateKeys, else through a set of identity texts, built on first
// need. Nothing is allocated for small mappings of scalar keys.
template <class View>
class KeySet {
  public:
    using Node = typename View::Node;
    enum class Seen { New, Duplicate, Stopped };
    struct Added {
        Seen seen;
        std::size_t first = 0;  // for a duplicate: the index of the first such key
    };

    template <class Earlier>
    Added add(const View& view, Node key, std::size_t index, Earlier&& earlier) {
        if (view.is_merge(key)) return {Seen::New};  // merge keys may repeat
        if (!set_) {
            if (index < kLinearDuplicateKeys) {
                if (auto seen = compare_linear(view, key, index, earlier)) return *seen;
            }
            set_ = std::make_unique<Hashed>();
            for (std::size_t j = 0; j < index; ++j) {
                const Node k = earlier(j);
                if (view.is_merge(k)) continue;
                if (!identity(view, k)) return {Seen::Stopped};
                set_->first.try_emplace(set_->scratch, j);
            }
        }
        if (!identity(view, key)) return {Seen::Stopped};
        const auto [at, added] = set_->first.try_emplace(set_->scratch, index);
        return added ? Added{Seen::New} : Added{Seen::Duplicate, at->second};
    }

  private:
    struct Hashed {
        // identity text -> index of the first key with it
        std::unordered_map<std::string, std::size_t, SeededHash, std::equal_to<>> first;
        std::string scratch;
    };

    static bool is_scalar(const KeyRead& r) {
        return r.kind != KeyKind::Sequence && r.kind != KeyKind::Mapping;
    }

    // The answer, or nothing when a collection key needs the identity texts.
    template <class Earlier>
    static std::optional<Added> compare_linear(const View& view, Node key, std::size_t index,
                                               Earlier& earlier) {
        const KeyRead r = view.read(key);
        if (!is_scalar(r)) return std::nullopt;
        for (std::size_t j = 0; j < index; ++j) {
            const Node k = earlier(j);
            if (view.is_merge(k)) continue;
            const KeyRead e = view.read(k);
            if (!is_scalar(e)) return std::nullopt;
            if (duplicate_keys_detail::same_scalar(e, r)) return Added{Seen::Duplicate, j};
        }
        return Added{Seen::New};
    }

    bool identity(const View& view, Node n) {
        set_->scratch.clear();
        return duplicate_keys_detail::append_identity(view, n, set_->scratch);
    }

    std::unique_ptr<Hashed> set_;
};

}  // namespace quarvel
