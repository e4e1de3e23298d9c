#include "ffi/roundtrip/values.hpp"

namespace quarvel::py {

TreeConvertOptions value_options(const DocumentState& state) {
    TreeConvertOptions options;
    options.mode = state.mode;
    return options;
}

PyObject* node_value(const DocumentState& state, const YamlNode& root, const YamlNode& node) {
    return convert_node(root, node, value_options(state));
}

PyObject* key_value(const DocumentState& state, const YamlNode& root, const YamlNode& key) {
    return convert_key(root, key, value_options(state));
}

}  // namespace quarvel::py
