#include "value/value_identity.hpp"

#include <bit>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/stack.hpp"

namespace quarvel {
namespace {

// Pairs of children arrays, each array keyed by its address: the arrays of
// the two trees lie in different memory, so one table holds both directions.
// Open addressing, grown to stay at most half full.
class PairTable {
  public:
    // The partner recorded for `key`, recording `partner` when there is
    // none; and whether it was recorded now.
    std::pair<const void*, bool> pair(const void* key, const void* partner) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        Slot& s = find(key);
        if (s.key) return {s.partner, false};
        s = {key, partner};
        ++count_;
        return {partner, true};
    }

  private:
    struct Slot {
        const void* key = nullptr;
        const void* partner = nullptr;
    };

    Slot& find(const void* key) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = (reinterpret_cast<std::uintptr_t>(key) >> 4) * 0x9e3779b97f4a7c15ull >> 32;
        for (i &= mask; slots_[i].key && slots_[i].key != key; i = (i + 1) & mask) {
        }
        return slots_[i];
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
        for (const Slot& s : old)
            if (s.key) find(s.key) = s;
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

// A collection met again in one tree (a shared part) must be met at the same
// place in the other: each side's children arrays are paired, once, both
// ways. A shared part is then compared once, however often it is reached.
class IdentityWalk {
  public:
    bool same(const YamlValue& a, const YamlValue& b) {
        if (a.kind != b.kind || a.size != b.size) return false;
        switch (a.kind) {
            case ValueKind::Null:
                return true;
            case ValueKind::Bool:
                return a.boolean == b.boolean;
            case ValueKind::Int:
                return a.integer == b.integer;
            case ValueKind::Float:
                return std::bit_cast<std::uint64_t>(a.real) == std::bit_cast<std::uint64_t>(b.real);
            case ValueKind::String:
            case ValueKind::BigInt:
                return a.text() == b.text();
            case ValueKind::Sequence:
            case ValueKind::Mapping:
                return a.size == 0 || same_children(a.items, b.items, a.size);
            case ValueKind::Tagged:
                return same_children(a.items, b.items, 2);
        }
        return false;
    }

  private:
    bool same_children(const YamlValue* a, const YamlValue* b, std::size_t count) {
        const auto [a_partner, first] = pairs_.pair(a, b);
        const auto [b_partner, b_first] = pairs_.pair(b, a);
        if (a_partner != b || b_partner != a) return false;
        if (!first) return true;  // compared where first met
        const auto all = [&] {
            for (std::size_t i = 0; i < count; ++i)
                if (!same(a[i], b[i])) return false;
            return true;
        };
        return stack_.roomy() ? all() : ensure_stack(all);
    }

    PairTable pairs_;
    StackRoom stack_;
};

// Copies each children array once; a shared one is copied where it is first
// met and pointed to from the other places.
class CopyWalk {
  public:
    explicit CopyWalk(Arena& arena) : arena_(arena) {}

    bool copy(const YamlValue& from, YamlValue& to) {
        to = from;
        switch (from.kind) {
            case ValueKind::String:
            case ValueKind::BigInt: {
                const std::string_view text = arena_.store(from.text());
                to.chars = text.data();
                return true;
            }
            case ValueKind::Sequence:
            case ValueKind::Mapping:
                return from.size == 0 || copy_children(from.items, from.size, to);
            case ValueKind::Tagged:
                return copy_children(from.items, 2, to);
            default:
                return true;
        }
    }

  private:
    bool copy_children(const YamlValue* items, std::size_t count, YamlValue& to) {
        if (const auto it = copies_.find(items); it != copies_.end()) {
            to.items = it->second;
            return true;
        }
        YamlValue* copied = YamlValue::store_nodes(arena_, nullptr, count);
        copies_.emplace(items, copied);
        to.items = copied;
        return ensure_stack([&] {
            for (std::size_t i = 0; i < count; ++i)
                if (!copy(items[i], copied[i])) return false;
            return true;
        });
    }

    Arena& arena_;
    std::unordered_map<const YamlValue*, YamlValue*> copies_;
};

}  // namespace

std::optional<YamlValue> copy_value(Arena& arena, const YamlValue& v) {
    YamlValue out;
    if (!CopyWalk(arena).copy(v, out)) return std::nullopt;
    return out;
}

bool identical_values(const YamlValue& a, const YamlValue& b) {
    return IdentityWalk().same(a, b);
}

}  // namespace quarvel
