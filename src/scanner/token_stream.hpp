// Tokens handed to a composer while the scanner runs, so the whole token list
// of a large text never has to be held in memory at once.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "scanner/token.hpp"

namespace quarvel {

namespace scan {
class Scanner;
}

class TokenStream {
public:
    explicit TokenStream(std::string_view text, std::uint32_t file = 0);
    ~TokenStream();
    TokenStream(const TokenStream&) = delete;
    TokenStream& operator=(const TokenStream&) = delete;

    // The token at absolute position i (i at least the last release point).
    // The reference is valid until the next call of at() or release_before().
    // Past the end of the stream, or after a scanner error, this is the
    // stream's final StreamEnd.
    const Token& at(std::size_t i) {
        if (i - base_ < final_) return (*tokens_)[i - base_];
        return fetch(i);
    }

    // The composer no longer needs the tokens before position i.
    void release_before(std::size_t i);

    // Scans the rest of the text without keeping tokens, so that a syntax
    // error anywhere in the text is found even when composition stopped early.
    void drain();

    // The first scanner error, once one has been met.
    const std::optional<Error>& error() const { return error_; }

    // Texts of scalars that are not views into the input.
    Arena& arena();

private:
    const Token& fetch(std::size_t i);
    bool step();

    std::unique_ptr<scan::Scanner> scanner_;
    const std::vector<Token>* tokens_;  // the scanner's buffer
    std::size_t base_ = 0;   // absolute position of the scanner's first kept token
    std::size_t final_ = 0;  // kept tokens that can no longer change
    std::optional<Error> error_;
    Token end_;  // stands in for StreamEnd after an error
};

}  // namespace quarvel
