#include "roundtrip/document_state.hpp"

#include "directives/file_system.hpp"
#include "directives/paths.hpp"
#include "syntax/compose.hpp"

namespace quarvel {

std::string origin_directory(const std::string& origin) {
    auto fs = posix_file_system();
    const std::string dir = paths::parent(origin).value_or(".");
    const std::string absolute = paths::normalise(paths::join(fs->current_directory(), dir));
    return fs->canonical(absolute).value_or(absolute);
}

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
