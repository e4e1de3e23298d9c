// JSON string escaping as built for this machine (with SIMD scans where the
// target has them).
#include "json_escape_cases.hpp"

int main() {
    quarvel::check::json_escape_cases();
    return quarvel::check::finish("json_escape_test");
}
