// Value trees to JSON text, compact or indented, in one pass into one buffer.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encode/emitter.hpp"
#include "encode/json_sink.hpp"
#include "support/float_format.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

constexpr std::string_view kCollectionKey = "a collection cannot be a JSON object key";

const YamlValue& untag(const YamlValue& v) {
    const YamlValue* p = &v;
    while (p->kind == ValueKind::Tagged) p = &p->inner();
    return *p;
}

// The text of a scalar key; false for a collection.
bool key_text(const YamlValue& key, std::string& out) {
    const YamlValue& k = untag(key);
    switch (k.kind) {
        case ValueKind::Null:
            out.append("null");
            return true;
        case ValueKind::Bool:
            out.append(k.boolean ? "true" : "false");
            return true;
        case ValueKind::Int: {
            char buf[24];
            out.append(buf, std::to_chars(buf, buf + sizeof buf, k.integer).ptr);
            return true;
        }
        case ValueKind::Float:
            json_float(k.real, out);
            return true;
        case ValueKind::BigInt:
        case ValueKind::String:
            out.append(k.text());
            return true;
        default:
            return false;
    }
}

class JsonWriter {
  public:
    JsonWriter(const JsonSettings& settings, std::string& out)
        : settings_(settings), layout_{settings.indent}, out_(out) {}

    std::size_t position() const { return out_.position(); }
    void truncate(std::size_t pos) { out_.truncate(pos); }

    bool write(const YamlValue& value, std::size_t depth) {
        const YamlValue& v = untag(value);
        switch (v.kind) {
            case ValueKind::Null:
                out_.put("null");
                return true;
            case ValueKind::Bool:
                out_.put(v.boolean ? std::string_view("true") : std::string_view("false"));
                return true;
            case ValueKind::Int:
                put_json_int(v.integer, out_);
                return true;
            case ValueKind::BigInt:
                out_.put(v.text());
                return true;
            case ValueKind::Float:
                put_json_float(v.real, out_);
                return true;
            case ValueKind::String:
                put_json_string(v.text(), out_);
                return true;
            case ValueKind::Sequence:
                return write_sequence(v, depth);
            case ValueKind::Mapping:
                return write_mapping(v, depth);
            case ValueKind::Tagged:
                break;
        }
        return true;
    }

  private:
    bool write_child(const YamlValue& child, std::size_t depth) {
        if (child.is_collection() || child.kind == ValueKind::Tagged) {
            return stack_.run([&] { return write(child, depth); });
        }
        return write(child, depth);
    }

    void open_member(bool first, std::size_t depth) { layout_.open_member(out_, first, depth); }
    void close(char bracket, std::size_t depth) { layout_.close(out_, bracket, depth); }
    void key_separator() { layout_.key_separator(out_); }

    bool write_sequence(const YamlValue& v, std::size_t depth) {
        if (v.children().empty()) {
            out_.put("[]");
            return true;
        }
        out_.put('[');
        const ValueSpan items = v.children();
        for (std::size_t i = 0; i < items.size(); ++i) {
            open_member(i == 0, depth);
            if (!write_child(items[i], depth + 1)) return false;
        }
        close(']', depth);
        return true;
    }

    bool write_key(const YamlValue& key) {
        const YamlValue& k = untag(key);
        if (k.kind == ValueKind::String) {
            put_json_string(k.text(), out_);
            return true;
        }
        scratch_.clear();
        if (!key_text(k, scratch_)) return false;
        put_json_string(scratch_, out_);
        return true;
    }

    bool write_mapping(const YamlValue& v, std::size_t depth) {
        std::size_t n = v.map_size();
        if (n == 0) {
            out_.put("{}");
            return true;
        }
        if (settings_.sort_keys && n >= 2) return write_sorted_mapping(v, depth);
        out_.put('{');
        for (std::size_t i = 0; i < n; ++i) {
            open_member(i == 0, depth);
            if (!write_key(v.key(i))) return false;
            key_separator();
            if (!write_child(v.value(i), depth + 1)) return false;
        }
        close('}', depth);
        return true;
    }

    struct Member {
        std::size_t offset;
        std::size_t length;
        const YamlValue* value;
    };

    // Key texts go into one buffer for the whole object; sorting moves only
    // the small member records.
    bool write_sorted_mapping(const YamlValue& v, std::size_t depth) {
        std::size_t n = v.map_size();
        std::string keys;
        std::vector<Member> members;
        members.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t start = keys.size();
            if (!key_text(v.key(i), keys)) return false;
            members.push_back({start, keys.size() - start, &v.value(i)});
        }
        auto text_of = [&keys](const Member& m) {
            return std::string_view(keys).substr(m.offset, m.length);
        };
        // char_traits<char> compares as unsigned char: bytewise, a prefix first.
        std::stable_sort(members.begin(), members.end(),
                         [&](const Member& a, const Member& b) { return text_of(a) < text_of(b); });
        out_.put('{');
        bool first = true;
        for (const Member& m : members) {
            open_member(first, depth);
            first = false;
            put_json_string(text_of(m), out_);
            key_separator();
            if (!write_child(*m.value, depth + 1)) return false;
        }
        close('}', depth);
        return true;
    }

    const JsonSettings& settings_;
    JsonLayout layout_;
    TextSink out_;
    std::string scratch_;
    StackRoom stack_;  // checks the stack by frame address at each nested node
};

}  // namespace

Status write_json(const YamlValue& root, const JsonSettings& settings, std::string& out) {
    bool ok;
    {
        JsonWriter writer(settings, out);
        std::size_t start = writer.position();
        ok = writer.write(root, 0);
        // Whatever was written before the failure is dropped.
        if (!ok) writer.truncate(start);
    }
    if (!ok && stack_exhausted()) return fail(stack_exhausted_error());
    if (!ok) return fail(Error::conversion(std::string(kCollectionKey), conversion_kind::encode));
    return {};
}

void json_float(double x, std::string& out) {
    TextSink sink(out);
    put_json_float(x, sink);
}

void json_string(std::string_view text, std::string& out) {
    TextSink sink(out);
    put_json_string(text, sink);
}

}  // namespace quarvel
