#include "support/ecma_regex.hpp"

namespace quarvel {

struct EcmaRegex::Program {};

Result<EcmaRegex> EcmaRegex::compile(std::string_view) {
    return fail(Error::argument("regular expressions are not supported yet"));
}

Result<bool> EcmaRegex::search(std::string_view) const {
    return fail(Error::argument("regular expressions are not supported yet"));
}

}  // namespace quarvel
