// The binding side of configuration directives for loads: the context from
// the call's arguments, resolution, then the reports the resolver leaves to
// Python (warnings, missing-value callbacks) and the early check of every
// included text.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "directives/resolve.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {

struct DirectiveCall {
    std::uint64_t option = 0;
    PyObject* include_dir = nullptr;  // borrowed, may be null
    PyObject* root_path = nullptr;
    PyObject* on_missing_secret = nullptr;
    PyObject* on_missing_env_var = nullptr;
};

// The resolver's input from the call's arguments (paths as the file
// system's bytes). None with an exception set when a path is unusable.
std::optional<DirectiveInput> directive_input(const DirectiveCall& call);

// Resolves the directives of the root forest, logs the resolver's warnings,
// reports missing values, and (annotated or complex-key rejection) checks
// each included text as the root text was checked. None with an exception
// set on failure.
std::optional<DirectiveOutcome> resolve_for_loads(SyntaxForest& forest, const DirectiveCall& call);

// The path of every file of the table as str, by file number.
std::optional<std::vector<Ref>> file_names(const FileTable& table);

}  // namespace quarvel::py
