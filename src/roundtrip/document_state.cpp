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

namespace {

// Turns each carriage return not followed by a line feed into a line feed,
// which YAML reads as the same line break; false when there was none.
bool carriage_returns_to_line_feeds(std::string& text) {
    bool any = false;
    for (std::size_t cr = text.find('\r'); cr != std::string::npos; cr = text.find('\r', cr + 1)) {
        if (cr + 1 < text.size() && text[cr + 1] == '\n') continue;
        text[cr] = '\n';
        any = true;
    }
    return any;
}

}  // namespace

Result<std::unique_ptr<DocumentState>> compose_document(std::string text,
                                                        const DocumentSettings& settings) {
    auto state = std::make_unique<DocumentState>();
    if (text.find('\r') != std::string::npos) {
        std::string as_read = text;
        if (carriage_returns_to_line_feeds(text)) state->text_as_read = std::move(as_read);
    }
    state->source = std::move(text);
    state->settings = settings;
    // Composed from the stored text, so the views stay valid for the state's life.
    auto forest = compose_text(state->source, 0, /*keep_empty=*/false);
    if (!forest) return fail(std::move(forest.error()));
    state->forest = std::move(*forest);
    return state;
}

}  // namespace quarvel
