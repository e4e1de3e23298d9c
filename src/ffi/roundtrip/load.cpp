// loads(..., option=OPT_ROUND_TRIP): the text as a document to edit.
#include "ffi/roundtrip/api.hpp"
#include "pyutil/errors.hpp"
#include "roundtrip/document_state.hpp"
#include "support/options.hpp"
#include "syntax/checks.hpp"

namespace quarvel::py {

namespace {

DocumentSettings settings_from(std::uint64_t option) {
    DocumentSettings s;
    s.prefer_double_quotes = !(option & opt::SINGLE_QUOTES);
    s.declare_1_2 = option & opt::UPGRADE_1_1;
    s.null_style = option & opt::NULL_AS_KEYWORD ? EditNullStyle::Keyword
                   : option & opt::NULL_AS_TILDE ? EditNullStyle::Tilde
                                                 : EditNullStyle::Empty;
    return s;
}

}  // namespace

PyObject* load_document(std::string text, std::uint64_t option, const ModeChoice& mode,
                        const ResolveDirectives& resolve) {
    auto state = compose_document(std::move(text), settings_from(option));
    if (!state) return raise(state.error());
    (*state)->mode = mode.mode;
    if (resolve && !resolve(**state)) return nullptr;
    // Duplicate keys, 1.1 warnings and the 1.2 upgrade work as on the
    // configuration path.
    Warnings warnings;
    TreeCheckOptions checks = tree_check_options(option, mode);
    const std::vector<std::string> paths = file_paths((*state)->files);
    checks.file_paths = paths;
    std::uint32_t error_file = 0;
    Status checked = check_tree((*state)->forest, checks, warnings, &error_file);
    log_warnings(warnings);
    if (!checked) {
        // A duplicate key in an included file is that file's error.
        if (error_file != 0 && error_file < paths.size()) checked.error().file = paths[error_file];
        return raise(checked.error());
    }
    return new_document(std::move(*state));
}

}  // namespace quarvel::py
