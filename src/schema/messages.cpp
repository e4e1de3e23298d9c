#include "schema/messages.hpp"

#include <vector>

namespace quarvel {

// Paths through aliases can be very deep: the steps are gathered first
// rather than walked back by recursion.
std::string path_text(const PathLink* last) {
    std::vector<const PathLink*> steps;
    for (const PathLink* s = last; s; s = s->parent) steps.push_back(s);
    std::string out = "$";
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if ((*it)->is_key) {
            out += '.';
            out += (*it)->key;
        } else {
            out += '[';
            out += std::to_string((*it)->index);
            out += ']';
        }
    }
    return out;
}

const char* json_type_name(ValueKind kind) {
    switch (kind) {
        case ValueKind::Null:
            return "null";
        case ValueKind::Bool:
            return "boolean";
        case ValueKind::Int:
        case ValueKind::BigInt:
            return "integer";
        case ValueKind::Float:
            return "number";
        case ValueKind::String:
            return "string";
        case ValueKind::Sequence:
            return "array";
        case ValueKind::Mapping:
            return "object";
        case ValueKind::Tagged:
            break;
    }
    return "null";
}

}  // namespace quarvel
