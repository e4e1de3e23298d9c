// Reading a directory walk's files ahead. Included one by one, a walk over
// hundreds of small files spends most of its time reading and composing them,
// and those two steps depend on nothing but the file: this thread and one
// helper take the next files of the walk in turn, each reading a file through
// the same confined read() and composing it as file number 0. The walk then
// includes the files in order exactly as before; load() takes a text read
// ahead instead of reading it again, compose_file() its forest, renumbered to
// the number the file got.
//
// What is read ahead changes no outcome. A file whose read, decoding or
// composing failed (or ran out of stack) is not kept: the walk reads it again
// when it gets there and reports what it finds. A batch stops taking files at
// the call's remaining file and byte budgets and at kBatchBytes, so a fault
// early in a large directory costs at most one batch; the budget check that
// refuses a file unread is made again when the walk reaches it. The caller
// may let its other threads run during the batch (while_reading): nothing in
// it touches the caller's objects.
#include <algorithm>
#include <atomic>
#include <thread>

#include "directives/resolver_impl.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel::directives_detail {
namespace {

constexpr std::uint64_t kBatchBytes = std::uint64_t{32} << 20;

// Gives every node of a forest composed as file 0 the file's number.
void renumber(SyntaxForest& forest, std::uint32_t id) {
    std::vector<YamlNode*> pending;
    for (YamlNode& root : forest.roots) pending.push_back(&root);
    while (!pending.empty()) {
        YamlNode* n = pending.back();
        pending.pop_back();
        n->span.file_id = id;
        for (YamlNode& child : n->children) pending.push_back(&child);
    }
}

// The work of one batch, shared by the two threads: the next file to take,
// the bytes read so far, and one result slot per file.
struct Batch {
    const std::vector<std::string>& paths;
    std::vector<std::size_t> todo;  // indexes into paths
    std::uint64_t max_bytes = 0;    // what one read may return
    std::uint64_t stop_at = 0;      // no file is taken once this many bytes are read
    ComposeChecks checks;
    std::atomic<std::size_t> next{0};  // every file before it was handed out
    std::atomic<std::uint64_t> bytes{0};
};

}  // namespace

Resolver::Prefetched Resolver::read_ahead(const std::string& path, std::uint64_t max_bytes,
                                          const ComposeChecks& checks) {
    Prefetched out;
    FileRead read = fs_.read(path, max_bytes);
    if (read.failure || read.not_regular) return out;
    out.read_bytes = read.bytes.size();
    auto text = utf8::decode_input(std::move(read.bytes));
    if (!text) return out;
    out.text = std::make_unique<const std::string>(std::move(*text));
    // A forest made while the stack ran short is not kept; the thread's
    // flag is left as it was found.
    const bool flagged = stack_exhausted();
    auto forest = compose_text(*out.text, 0, /*keep_empty=*/false, checks);
    if (forest && !stack_exhausted()) out.forest = std::move(*forest);
    if (!flagged) clear_stack_exhausted();
    return out;
}

std::size_t Resolver::prefetch(const std::vector<std::string>& paths, std::size_t from) {
    if (!fs_.reads_in_parallel()) return paths.size();
    Batch batch{paths, {}, bytes_left(), std::min(bytes_left(), kBatchBytes), compose_checks()};
    const std::uint64_t files_left =
        kMaxIncludedFiles - std::min(composed_files_, kMaxIncludedFiles);
    for (std::size_t i = from; i < paths.size() && batch.todo.size() < files_left; ++i)
        if (!out_.files.by_path.contains(paths[i]) && !prefetched_.contains(paths[i]))
            batch.todo.push_back(i);
    if (batch.todo.size() < std::max<std::uint32_t>(input_.options.read_ahead_from, 1))
        return paths.size();

    std::vector<Prefetched> made(batch.todo.size());
    auto take_files = [&]() noexcept {
        try {
            while (batch.bytes.load() <= batch.stop_at) {
                const std::size_t k = batch.next.fetch_add(1);
                if (k >= batch.todo.size()) return;
                made[k] = read_ahead(paths[batch.todo[k]], batch.max_bytes, batch.checks);
                batch.bytes.fetch_add(made[k].read_bytes);
            }
        } catch (...) {
            // Out of memory: the walk reads what is left when it gets there.
            batch.next.store(batch.todo.size());
        }
    };
    bool started = false;
    auto read_batch = [&]() noexcept {
        std::thread helper;
        try {
            helper = std::thread(take_files);
        } catch (...) {
            return;  // no thread to be had: the walk reads as it goes
        }
        started = true;
        take_files();
        helper.join();
    };
    if (input_.while_reading)
        input_.while_reading([](void* batch) { (*static_cast<decltype(read_batch)*>(batch))(); },
                             &read_batch);
    else
        read_batch();
    if (!started) return paths.size();
    for (std::size_t k = 0; k < made.size(); ++k)
        if (made[k].text) prefetched_.emplace(paths[batch.todo[k]], std::move(made[k]));
    const std::size_t taken = std::min(batch.next.load(), batch.todo.size());
    return taken == 0 ? paths.size() : batch.todo[taken - 1] + 1;
}

std::optional<SyntaxForest> Resolver::take_prefetched_forest(const std::string& path,
                                                             std::uint32_t id) {
    auto it = prefetched_.find(path);
    if (it == prefetched_.end()) return std::nullopt;
    std::optional<SyntaxForest> forest = std::move(it->second.forest);
    prefetched_.erase(it);
    if (forest && id != 0) renumber(*forest, id);
    return forest;
}

}  // namespace quarvel::directives_detail
