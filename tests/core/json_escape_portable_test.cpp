// JSON string escaping through the portable scans only: the sink's source is
// compiled here again without SIMD, and its definitions take the place of
// the library's.
#define QUARVEL_NO_SIMD 1
#include "encode/json_sink.cpp"
#include "json_escape_cases.hpp"

int main() {
    quarvel::check::json_escape_cases();
    return quarvel::check::finish("json_escape_portable_test");
}
