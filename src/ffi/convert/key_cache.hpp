// Mapping key strings shared across one document.
#pragma once

#include <string_view>
#include <vector>

#include "ffi/convert/strings.hpp"
#include "pyutil/python.hpp"
#include "support/seeded_hash.hpp"

namespace quarvel::py {

// Mapping key text -> the interned str made for it, for one document.
class KeyCache {
  public:
    KeyCache() : slots_(64) {}
    ~KeyCache() {
        for (auto& s : slots_) Py_XDECREF(s.value);
    }
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // A new reference to the str for `text`, or null with an exception set.
    // Probing stops after kMaxProbes slots: the key then gets a str of its
    // own, so keys crafted to collide cannot make the cache quadratic.
    PyObject* get(std::string_view text) {
        std::uint64_t h = quick_seeded_hash(text);
        std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.value) return insert(s, h, text);
            if (s.hash == h && s.key == text) return Py_NewRef(s.value);
        }
        return new_str(text);
    }

  private:
    static constexpr std::size_t kMaxProbes = 32;
    struct Slot {
        std::uint64_t hash = 0;
        std::string_view key;
        PyObject* value = nullptr;
    };

    PyObject* insert(Slot& slot, std::uint64_t h, std::string_view text) {
        PyObject* str = new_str(text);
        if (!str) return nullptr;
        PyUnicode_InternInPlace(&str);
        slot = {h, text, Py_NewRef(str)};
        if (++used_ * 2 > slots_.size()) grow();
        return str;
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        std::size_t mask = slots_.size() - 1;
        for (auto& s : old) {
            if (!s.value) continue;
            std::size_t i = s.hash & mask;
            while (slots_[i].value) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace quarvel::py
