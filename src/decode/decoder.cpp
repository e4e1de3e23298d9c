#include "decode/decoder.hpp"

#include "decode/composer.hpp"
#include "scanner/token.hpp"

namespace quarvel {

Result<DecodedStream> decode(std::string_view text, const DecodeOptions& options) {
    auto scanned = scan_all(text, /*keep_comments=*/false);
    if (!scanned) return fail(std::move(scanned.error()));
    const std::vector<Token>& tokens = scanned->tokens;
    if (tokens.empty() || tokens.back().kind != TokenKind::StreamEnd)
        return fail(Error::internal("token list does not end with the end of the stream"));

    DecodedStream out;
    out.arena.adopt(std::move(scanned->arena));
    Composer composer(tokens, options, out.arena, out.warnings);
    if (auto st = composer.compose_stream(out.documents); !st) return fail(std::move(st.error()));
    return out;
}

}  // namespace quarvel
