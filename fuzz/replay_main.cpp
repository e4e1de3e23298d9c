// Runs a fuzz target's entry point over kept inputs without libFuzzer, so the
// regression inputs replay with any compiler. Linked with one fuzz_*.cpp, it
// feeds the target every file below that target's regression folder and every
// file or folder named on the command line. Each input sits in a buffer of
// exactly its size, as under libFuzzer, so the sanitizer build catches a read
// past its end. A failing input ends the program (abort or sanitizer report);
// its path is printed first, so the last path printed names it. A target
// with no kept inputs yet has no folder; that is not an error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The files to replay: a file as given, a folder's regular files at any
// depth, in name order so runs are repeatable.
bool collect(const fs::path& path, std::vector<fs::path>& out) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        out.push_back(path);
        return true;
    }
    if (!fs::is_directory(path, ec)) {
        std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", path.c_str());
        return false;
    }
    std::vector<fs::path> found;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) found.push_back(it->path());
    if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

bool replay(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    std::fflush(stderr);
    // new[] of the exact size, even for an empty input: no slack to hide an overread.
    const auto data = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    // A target may have no kept inputs yet: a missing folder is no error.
    const fs::path kept = QUARVEL_REPLAY_DIR;
    std::error_code ec;
    bool ok = !fs::exists(kept, ec) || collect(kept, inputs);
    for (int i = 1; i < argc; ++i) ok = collect(argv[i], inputs) && ok;
    for (const fs::path& p : inputs) ok = replay(p) && ok;
    std::fprintf(stderr, "replay: %zu inputs run\n", inputs.size());
    return ok ? 0 : 1;
}
