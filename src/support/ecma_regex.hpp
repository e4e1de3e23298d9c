// Regular expressions in the dialect of JSON Schema's "pattern" keywords:
// ECMA-262 expressions read with Unicode semantics (the 'u' flag), matched
// against UTF-8 text by code point and searched for anywhere in the text
// (a pattern is not anchored unless it says so with ^ or $).
//
// A compiled expression is immutable and may be searched from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "support/error.hpp"

namespace quarvel {

class EcmaRegex {
  public:
    // Compiles `pattern` (UTF-8). A pattern that is not a valid expression,
    // or uses a construct this engine does not support, or would compile to
    // an unreasonably large program, gives an argument error whose message
    // says why.
    static Result<EcmaRegex> compile(std::string_view pattern);

    // Whether the expression matches somewhere in `text` (UTF-8; a byte that
    // is not reads as U+FFFD). An error only when the search was stopped at
    // its step bound, which a pattern with back references can reach on a
    // hostile text, or would need more than its memory bound (lookarounds
    // by the thousand over a text of megabytes); any other expression
    // answers in time linear in the text.
    Result<bool> search(std::string_view text) const;
    // The same verdict when the expression has an automaton over ASCII
    // bytes and `text` is ASCII, in one lookup per byte; nothing otherwise.
    std::optional<bool> search_ascii(std::string_view text) const;

    struct Program;

  private:
    explicit EcmaRegex(std::shared_ptr<const Program> program) : program_(std::move(program)) {}
    std::shared_ptr<const Program> program_;
};

}  // namespace quarvel
