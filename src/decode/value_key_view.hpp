// Resolved values seen as mapping keys by the duplicate-key policy.
#pragma once

#include "decode/merge.hpp"
#include "resolver/duplicate_keys.hpp"
#include "value/value.hpp"

namespace quarvel {

class ValueKeyView {
  public:
    using Node = YamlValue;  // 16 bytes; copies share children

    KeyRead read(const YamlValue& v) const {
        KeyRead r;
        const YamlValue* content = &v;
        if (v.kind == ValueKind::Tagged) {
            // "!" only marks the content as not resolved, and a "<<" that is
            // no mapping's merge key is the string "<<": neither is identity.
            if (v.text() != "!" && !is_merge_placeholder(v)) r.tag = v.text();
            content = &v.inner();
        }
        switch (content->kind) {
            case ValueKind::Null:
            case ValueKind::Tagged:  // one tag per node: never inside a tag
                r.kind = KeyKind::Null;
                break;
            case ValueKind::Bool:
                r.kind = KeyKind::Bool;
                r.boolean = content->boolean;
                break;
            case ValueKind::Int:
                r.kind = KeyKind::Int;
                r.integer = content->integer;
                break;
            case ValueKind::Float:
                r.kind = KeyKind::Float;
                r.real = content->real;
                break;
            case ValueKind::String:
                r.kind = KeyKind::String;
                r.text = content->text();
                break;
            case ValueKind::BigInt:
                r.kind = KeyKind::BigInt;
                r.text = content->text();
                break;
            case ValueKind::Sequence:
                r.kind = KeyKind::Sequence;
                break;
            case ValueKind::Mapping:
                r.kind = KeyKind::Mapping;
                break;
        }
        return r;
    }
    std::size_t count(const YamlValue& v) const { return content(v).children().size(); }
    YamlValue child(const YamlValue& v, std::size_t i) const { return content(v).children()[i]; }
    bool is_merge(const YamlValue& v) const { return is_merge_placeholder(v); }
    // Aliases were copied within the expansion budget already.
    bool visit(const YamlValue&) const { return true; }

  private:
    static const YamlValue& content(const YamlValue& v) {
        return v.kind == ValueKind::Tagged ? v.inner() : v;
    }
};

}  // namespace quarvel
