// Tokens handed to a composer while the scanner runs, so the whole token list
// of a large text never has to be held in memory at once. Comments, when
// kept, are handed over the same way: recorded as the scanner passes them and
// taken by the consumer as it goes.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "scanner/token.hpp"

namespace quarvel {

namespace scan {
class Scanner;
}

class TokenStream {
  public:
    // Every mark of the stream, its comments' and the error stand-in's carry
    // `file`. Comments are recorded only when `keep_comments` is set. The text
    // must be valid UTF-8 and outlive the stream and the views it hands out.
    explicit TokenStream(std::string_view text, std::uint32_t file = 0, bool keep_comments = false);
    ~TokenStream();
    TokenStream(const TokenStream&) = delete;
    TokenStream& operator=(const TokenStream&) = delete;

    // The token at absolute position i (i at least the last release point).
    // The reference is valid until the next call of at(), release_before()
    // or drain(). Past the end of the stream, or after a scanner error, this
    // is the stream's final StreamEnd; after an error that StreamEnd stands
    // at the mark where the error was detected.
    const Token& at(std::size_t i) {
        if (i - base_ < final_) return (*tokens_)[i - base_];
        return fetch(i);
    }

    // The composer no longer needs the tokens before position i. Comments
    // are kept apart from the tokens and are not affected.
    void release_before(std::size_t i);

    // Scans the rest of the text without keeping tokens, so that a syntax
    // error anywhere in the text is found even when composition stopped
    // early. Comments met on the way are still recorded.
    void drain();

    // The first scanner error, once one has been met.
    const std::optional<Error>& error() const { return error_; }

    // Texts of scalars that are not views into the input.
    Arena& arena();

    std::uint32_t file() const { return file_; }

    // Whether the text began with a UTF-8 byte order mark, which was skipped
    // (the first mark is then at offset 3).
    bool leading_bom() const;

    // ---- comments ---------------------------------------------------------
    // The scanner records each comment when it passes it, so once at() has
    // returned a token, every comment whose '#' lies before that token's
    // start has been recorded; once it has returned the final StreamEnd (or
    // drain() has run) every comment of the text has. Recorded comments wait
    // in source order until taken; nothing else removes them.

    // The recorded comments not taken yet, in source order. Valid until the
    // next call of at(), drain() or a take function.
    std::span<const Comment> comments() const;

    // Appends to `out`, in source order, the waiting comments whose '#' lies
    // before `offset`, and forgets them; later ones keep waiting.
    void take_comments_before(std::uint64_t offset, std::vector<Comment>& out);

    // Appends every waiting comment to `out` and forgets them.
    void take_comments(std::vector<Comment>& out);

  private:
    const Token& fetch(std::size_t i);
    bool step();

    std::unique_ptr<scan::Scanner> scanner_;
    const std::vector<Token>* tokens_;  // the scanner's buffer
    std::size_t base_ = 0;              // absolute position of the scanner's first kept token
    std::size_t final_ = 0;             // kept tokens that can no longer change
    std::optional<Error> error_;
    Token end_;  // stands in for StreamEnd after an error
    std::uint32_t file_ = 0;
};

}  // namespace quarvel
