#include "syntax/compose.hpp"

#include "parser/parser.hpp"
#include "scanner/token_stream.hpp"
#include "support/stack.hpp"
#include "syntax/tree_builder.hpp"

namespace quarvel {

// Like the value path, composition runs while the scanner runs; a scanner
// error anywhere in the text wins over the composer's error.
Result<SyntaxForest> compose_text(std::string_view text, std::uint32_t file, bool keep_empty,
                                  const ComposeChecks& checks) {
    TokenStream tokens(text, file, checks.keep_comments);
    const LineStarts lines(text);
    SyntaxForest forest;
    ParseErrors errors;
    TreeBuilder builder(text, lines, keep_empty, forest, errors, checks);
    Parser<TreeBuilder> parser(tokens, builder, errors);
    const bool composed = parser.parse_stream();
    if (!composed) tokens.drain();
    if (tokens.error()) return fail(*tokens.error());
    if (stack_exhausted()) return fail(stack_exhausted_error());
    if (!composed) return fail(errors.take());
    forest.arena.adopt(std::move(tokens.arena()));
    if (checks.keep_comments) {
        std::vector<Comment> comments;
        tokens.take_comments(comments);
        attach_comments(forest.roots, comments, text, lines);
    }
    if (tokens.leading_bom() && !forest.roots.empty()) forest.roots.front().leading_bom = true;
    return forest;
}

}  // namespace quarvel
