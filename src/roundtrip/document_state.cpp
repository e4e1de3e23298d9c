#include "roundtrip/document_state.hpp"

#include "syntax/compose.hpp"

namespace quarvel {

Result<std::unique_ptr<DocumentState>> compose_document(std::string text,
                                                        const DocumentSettings& settings) {
    auto state = std::make_unique<DocumentState>();
    state->source = std::move(text);
    state->settings = settings;
    // Composed from the stored text, so the views stay valid for the state's life.
    auto forest = compose_text(state->source, 0, /*keep_empty=*/false);
    if (!forest) return fail(std::move(forest.error()));
    state->forest = std::move(*forest);
    return state;
}

}  // namespace quarvel
