#include "decode/decoder.hpp"

#include "decode/value_builder.hpp"
#include "parser/parser.hpp"
#include "scanner/token_stream.hpp"
#include "support/stack.hpp"

namespace quarvel {

// Documents are composed while the scanner runs, so the token list of a large
// text is never held whole. A syntax error found by the scanner still fails
// the whole call wherever it lies: when composition stops early, the rest of
// the text is scanned for one, and a scanner error wins over the composer's.
// The thread's "stack exhausted" flag must be clear when decoding starts.
Result<DecodedStream> decode(std::string_view text, const DecodeOptions& options) {
    TokenStream tokens(text);
    DecodedStream out;
    ParseErrors errors;
    ValueBuilder builder(options, out.arena, out.warnings, errors, out.documents);
    Parser<ValueBuilder> parser(tokens, builder, errors);
    const bool composed = parser.parse_stream();
    if (!composed) tokens.drain();
    if (tokens.error()) return fail(*tokens.error());
    // A step skipped for want of stack leaves the documents incomplete, even
    // when composition went on to the end.
    if (stack_exhausted()) return fail(stack_exhausted_error());
    if (!composed) return fail(errors.take());
    out.arena.adopt(std::move(tokens.arena()));
    return out;
}

}  // namespace quarvel
