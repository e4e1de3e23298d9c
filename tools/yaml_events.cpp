// Prints the parse events of a YAML file in the YAML test suite's notation
// (see event_builder.hpp), one per line. When the text is invalid, the events
// before the error are printed, then the error goes to stderr and the exit
// status is 1.
//   yaml_events FILE
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "event_builder.hpp"
#include "scanner/token_stream.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

using namespace quarvel;

namespace {

// The events of `text` into `out`; the error, if the text is invalid.
std::optional<Error> write_events(std::string_view text, std::string& out) {
    out += "+STR\n";
    TokenStream tokens(text);
    Arena arena;
    ParseErrors errors;
    EventBuilder builder(out, tokens, arena, errors);
    Parser<EventBuilder> parser(tokens, builder, errors);
    const bool parsed = parser.parse_stream();
    if (!parsed) tokens.drain();
    // A scanner error anywhere in the text wins, as when loading.
    if (tokens.error()) return *tokens.error();
    if (stack_exhausted()) return stack_exhausted_error();
    if (!parsed) return errors.take();
    out += "-STR\n";
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: yaml_events FILE\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot open " << argv[1] << "\n";
        return 2;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    auto text = utf8::decode_input(buffer.str());
    if (!text) {
        std::cerr << "error: " << text.error().message << "\n";
        return 1;
    }
    std::string out;
    const auto error = write_events(*text, out);
    std::cout << out;
    if (error) {
        std::cerr << "error: " << error->message << " (line " << error->line + 1 << ", column "
                  << error->column + 1 << ")\n";
        return 1;
    }
    return 0;
}
