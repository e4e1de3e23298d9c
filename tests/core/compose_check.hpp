// Composing a text in the C++ tests: a failed composition is a failed check.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "check.hpp"
#include "syntax/compose.hpp"

namespace quarvel::check {

inline SyntaxForest compose(std::string_view text, bool keep_empty = false) {
    auto r = compose_text(text, 0, keep_empty);
    if (!r) {
        CHECK_EQ(r.error().message, std::string("no error"));
        return {};
    }
    return std::move(*r);
}

}  // namespace quarvel::check
