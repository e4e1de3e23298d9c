// The directive resolver over an in-memory file system: splicing, walk
// order, provenance records, confinement (nothing outside the root is ever
// read), limits, the secrets search ending at "/", and directory walks read
// ahead on two threads ending as walks read one file at a time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "directives/memory_file_system.hpp"
#include "directives/resolve.hpp"

using namespace quarvel;

namespace {

struct Run {
    SyntaxForest forest;
    Result<DirectiveOutcome> outcome;
};

DirectiveOptions all_on() {
    DirectiveOptions o;
    o.includes = o.secrets = o.env_vars = true;
    return o;
}

Run run(MemoryFileSystem& fs, std::string_view text, DirectiveOptions options = all_on(),
        std::string dir = "/c", MemoryEnvironment env = {}) {
    Run r{check::compose(text), {}};
    DirectiveInput input{std::move(dir), "/c/configuration.yaml", options};
    r.outcome = resolve_directives(r.forest, input, fs, env);
    return r;
}

const YamlNode* value_of(const YamlNode& map, std::string_view key) {
    for (std::size_t i = 0; i < map.size(); ++i)
        if (map.key(i).text == key) return &map.value(i);
    return nullptr;
}

int error_kind(const Run& r) {
    return r.outcome ? -1 : r.outcome.error().selector;
}

bool touched_outside(const MemoryFileSystem& fs) {
    for (const auto& p : fs.touched())
        if (!p.starts_with("/c/") && p != "/c") return true;
    return false;
}

void include_records_its_source() {
    check::Case c("include source");
    MemoryFileSystem fs;
    fs.add_file("/c/a.yaml", "k: [1, 2]\n");
    Run r = run(fs, "x: 0\nv: !include a.yaml\nw: !include ./a.yaml\n");
    if (!CHECK(r.outcome)) return;
    CHECK_EQ(fs.touched().size(), std::size_t{1});  // read once, composed twice
    const YamlNode* v = value_of(r.forest.roots[0], "v");
    if (!CHECK(v && v->source())) return;
    CHECK_EQ(v->source()->tag, std::string_view("!include"));
    CHECK_EQ(v->source()->target, std::string_view("a.yaml"));
    CHECK(v->source()->target_file_id == std::optional<std::uint32_t>(1));
    CHECK_EQ(v->span.file_id, 0u);
    CHECK_EQ(v->span.line, 1u);
    CHECK_EQ(value_of(*v, "k")->span.file_id, 1u);
    CHECK_EQ(r.outcome->files.files.size(), std::size_t{2});
    CHECK_EQ(r.outcome->files.files[1].path, std::string("/c/a.yaml"));
    CHECK_EQ(*r.outcome->files.files[1].text, std::string("k: [1, 2]\n"));
}

void walk_order_and_file_numbers() {
    check::Case c("walk order");
    MemoryFileSystem fs;
    fs.add_file("/c/d/z.yaml", "z\n");
    fs.add_file("/c/d/a/x.yaml", "x\n");
    fs.add_file("/c/d/a/b/y.yaml", "y\n");
    fs.add_file("/c/d/c/w.yml", "w\n");
    fs.add_file("/c/d/c/.h.yaml", "h\n");
    DirectiveOptions o = all_on();
    o.recursive_dirs = true;
    Run r = run(fs, "!include_dir_list d\n", o);
    if (!CHECK(r.outcome)) return;
    const YamlNode& list = r.forest.roots[0];
    std::string got;
    for (const auto& item : list.children) got += item.text;
    CHECK_EQ(got, std::string("zxyw"));
    CHECK_EQ(r.outcome->files.files[3].path, std::string("/c/d/a/b/y.yaml"));
}

void confinement_never_reads_outside() {
    const char* texts[] = {
        "!include ../o/s.yaml\n",    "!include /o/s.yaml\n",   "!include l.yaml\n",
        "!include ld/s.yaml\n",      "!include_dir_list ld\n", "!include_dir_list d\n",
        "!include ld/../o/s.yaml\n", "!include_dir_named /\n",
    };
    for (const char* text : texts) {
        check::Case c(text);
        MemoryFileSystem fs;
        fs.add_file("/o/s.yaml", "secret: 1\n");
        fs.add_link("/c/l.yaml", "/o/s.yaml");
        fs.add_link("/c/ld", "../o");
        fs.add_link("/c/d/a.yaml", "/o/s.yaml");
        DirectiveOptions o = all_on();
        o.recursive_dirs = true;
        Run r = run(fs, text, o);
        CHECK_EQ(error_kind(r), directive_kind::include_confinement);
        CHECK(!touched_outside(fs));
    }
}

void limits() {
    {
        check::Case c("depth");
        MemoryFileSystem fs;
        for (int i = 0; i < 60; ++i)
            fs.add_file("/c/f" + std::to_string(i) + ".yaml",
                        "!include f" + std::to_string(i + 1) + ".yaml\n");
        Run r = run(fs, "!include f0.yaml\n");
        CHECK_EQ(error_kind(r), directive_kind::include_depth);
        if (!r.outcome) CHECK_EQ(r.outcome.error().include_stack.size(), std::size_t{50});
    }
    {
        // Each file includes the next one twice: 2**40 expansions unless bounded.
        check::Case c("fan-out");
        MemoryFileSystem fs;
        for (int i = 0; i < 40; ++i) {
            // Built by appending: GCC 12 misreads some string concatenations at -O3.
            std::string next = "f";
            next.append(std::to_string(i + 1)).append(".yaml");
            std::string path = "/c/f";
            path.append(std::to_string(i)).append(".yaml");
            std::string text = "[!include ";
            text.append(next).append(", !include ").append(next).append("]\n");
            fs.add_file(path, text);
        }
        fs.add_file("/c/f40.yaml", "leaf\n");
        Run r = run(fs, "!include f0.yaml\n");
        CHECK_EQ(error_kind(r), directive_kind::include_other);
        CHECK(fs.touched().size() <= 41u);
    }
    {
        check::Case c("special file");
        MemoryFileSystem fs;
        fs.add_special("/c/fifo.yaml");
        Run r = run(fs, "!include fifo.yaml\n");
        CHECK_EQ(error_kind(r), directive_kind::include_other);
    }
}

void secrets_search() {
    {
        check::Case c("nearest first, root last, read once");
        MemoryFileSystem fs;
        fs.add_file("/c/secrets.yaml", "a: top\nb: 2\n");
        fs.add_file("/c/s/secrets.yaml", "a: sub\n");
        fs.add_file("/c/s/x.yaml", "[!secret a, !secret b, !secret a]\n");
        fs.add_file("/secrets.yaml", "b: outside\n");
        Run r = run(fs, "[!include s/x.yaml, !secret a]\n");
        if (!CHECK(r.outcome)) return;
        const YamlNode& inner = r.forest.roots[0].children[0];
        CHECK_EQ(inner.children[0].text, std::string_view("sub"));
        CHECK_EQ(inner.children[1].text, std::string_view("2"));
        CHECK_EQ(r.forest.roots[0].children[1].text, std::string_view("top"));
        int reads = 0;
        for (const auto& p : fs.touched()) reads += p.ends_with("secrets.yaml");
        CHECK_EQ(reads, 2);
        CHECK(!touched_outside(fs));
    }
    {
        check::Case c("search from / ends");
        MemoryFileSystem fs;
        DirectiveOptions o = all_on();
        o.soft_secrets = true;
        Run r = run(fs, "!secret nope\n", o, "/");
        if (!CHECK(r.outcome)) return;
        CHECK_EQ(r.outcome->missing_secrets.size(), std::size_t{1});
        CHECK(r.forest.roots[0].kind == NodeKind::Null);
    }
}

void env_vars() {
    MemoryEnvironment env;
    env.variables["HOME"] = "/home/q";
    MemoryFileSystem fs;
    Run r = run(fs, "[!env_var HOME, !env_var PORT  80  81, !env_var NOPE]\n", all_on(), "/c", env);
    CHECK_EQ(error_kind(r), directive_kind::env_var);
    DirectiveOptions o = all_on();
    o.soft_env_vars = true;
    r = run(fs, "[!env_var HOME, !env_var PORT  80  81, !env_var NOPE]\n", o, "/c", env);
    if (!CHECK(r.outcome)) return;
    const YamlNode& list = r.forest.roots[0];
    CHECK_EQ(list.children[0].text, std::string_view("/home/q"));
    CHECK_EQ(list.children[1].text, std::string_view("80 81"));
    CHECK(list.children[1].scalar_style == ScalarStyle::SingleQuoted);
    CHECK(list.children[2].kind == NodeKind::Null);
    CHECK_EQ(r.outcome->missing_env_vars.size(), std::size_t{1});
}

void write_file(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!CHECK(fd >= 0)) return;
    CHECK_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

// The real file system, confined: a path that meets a link below the root
// (as when the tree changes after the resolver's check) is not followed out.
void posix_reads_stay_below_the_root() {
    check::Case c("posix confinement");
    char tmpl[] = "/tmp/quarvel-dir-XXXXXX";
    if (!CHECK(::mkdtemp(tmpl) != nullptr)) return;
    const std::string base = tmpl;
    ::mkdir((base + "/root").c_str(), 0700);
    ::mkdir((base + "/out").c_str(), 0700);
    write_file(base + "/root/in.yaml", "in: 1\n");
    write_file(base + "/out/x.yaml", "out: 1\n");
    CHECK_EQ(::symlink((base + "/out").c_str(), (base + "/root/link").c_str()), 0);
    auto fs = posix_file_system();
    fs->confine_to(base + "/root");
    FileRead inside = fs->read(base + "/root/in.yaml", 1 << 20);
    CHECK(!inside.failure);
    CHECK_EQ(inside.bytes, std::string("in: 1\n"));
    FileRead escaped = fs->read(base + "/root/link/x.yaml", 1 << 20);
    CHECK(escaped.failure.has_value());
    CHECK(escaped.bytes.empty());
    DirListing listed = fs->list(base + "/root/link");
    CHECK(listed.failure.has_value());
    FileRead big = fs->read(base + "/root/in.yaml", 3);
    CHECK(big.failure && big.failure->code == EFBIG);
    ::unlink((base + "/root/link").c_str());
    ::unlink((base + "/root/in.yaml").c_str());
    ::unlink((base + "/out/x.yaml").c_str());
    ::rmdir((base + "/root").c_str());
    ::rmdir((base + "/out").c_str());
    ::rmdir(base.c_str());
}

// A configuration tree of `count` files in d/ (every fifth with an include
// of its own, some with secrets), as paths below the root and contents.
std::vector<std::pair<std::string, std::string>> walk_tree(int count, int broken) {
    std::vector<std::pair<std::string, std::string>> files{{"secrets.yaml", "pw: s3\n"},
                                                           {"shared.yaml", "[1, 2]\n"}};
    for (int i = 0; i < count; ++i) {
        std::string body = "name: item " + std::to_string(i) + "\nlist: [a, b]\n";
        if (i % 5 == 0) body += "shared: !include ../shared.yaml\n";
        if (i % 7 == 0) body += "pw: !secret pw\n";
        if (i == broken) body += "bad: [\n";
        const std::string name = (i < 10 ? "d/f0" : "d/f") + std::to_string(i) + ".yaml";
        files.emplace_back(name, std::move(body));
    }
    return files;
}

constexpr std::string_view kWalkRoot =
    "named: !include_dir_named d\nmerged: !include_dir_merge_list d\nlist: !include_dir_list d\n";

// What the walk decided about each node: its text and where it came from.
void describe(const YamlNode& n, std::string& out) {
    out += std::to_string(static_cast<int>(n.kind)) + std::string(n.text) + "@" +
           std::to_string(n.span.file_id) + ":" + std::to_string(n.span.offset) + "-" +
           std::to_string(n.end_offset);
    if (const IncludeSource* s = n.source())
        out += "<" + std::string(s->target) + "=" + std::to_string(s->target_file_id.value_or(0)) +
               "+" + std::to_string(s->merged.size());
    out += "(";
    for (const YamlNode& c : n.children) describe(c, out);
    out += ")";
}

// The outcome as text, with the root directory's path taken out.
std::string walk_outcome(const Run& r, const std::string& root) {
    auto local = [&](std::string path) {
        return path.starts_with(root) ? path.substr(root.size()) : path;
    };
    if (!r.outcome)
        return "error " + r.outcome.error().message + " in " +
               local(r.outcome.error().file.value_or(""));
    std::string out;
    for (const YamlNode& n : r.forest.roots) describe(n, out);
    for (const SourceFile& f : r.outcome->files.files)
        out += "\n" + local(f.path) + "\n" + (f.text ? *f.text : "");
    return out;
}

Run resolve_walk(FileSystem& fs, const std::string& root) {
    Run r{check::compose(kWalkRoot), {}};
    DirectiveInput input{root, root + "/configuration.yaml", all_on()};
    MemoryEnvironment env;
    r.outcome = resolve_directives(r.forest, input, fs, env);
    return r;
}

// Read ahead or not, in memory and on disk, and on two threads at once: the
// same trees and files, or the same error (a file that does not parse,
// early, late, or none).
void walks_read_ahead_end_alike() {
    check::Case c("walk read ahead");
    char tmpl[] = "/tmp/quarvel-walk-XXXXXX";
    if (!CHECK(::mkdtemp(tmpl) != nullptr)) return;
    const std::string base = tmpl;
    for (int broken : {-1, 3, 37}) {
        const auto files = walk_tree(40, broken);
        MemoryFileSystem one_by_one;
        MemoryFileSystem ahead;
        ahead.allow_parallel_reads(true);
        ::mkdir((base + "/d").c_str(), 0700);
        for (const auto& [name, body] : files) {
            one_by_one.add_file("/c/" + name, body);
            ahead.add_file("/c/" + name, body);
            write_file(base + "/" + name, body);
        }
        const std::string expected = walk_outcome(resolve_walk(one_by_one, "/c"), "/c");
        CHECK_EQ(walk_outcome(resolve_walk(ahead, "/c"), "/c"), expected);
        CHECK_EQ(expected.starts_with("error"), broken >= 0);
        std::string on_disk[2];
        std::thread other([&] {
            auto fs = posix_file_system();
            on_disk[1] = walk_outcome(resolve_walk(*fs, base), base);
        });
        auto fs = posix_file_system();
        on_disk[0] = walk_outcome(resolve_walk(*fs, base), base);
        other.join();
        CHECK_EQ(on_disk[0], expected);
        CHECK_EQ(on_disk[1], expected);
        for (const auto& entry : files) ::unlink((base + "/" + entry.first).c_str());
        ::rmdir((base + "/d").c_str());
    }
    ::rmdir(base.c_str());
}

}  // namespace

int main() {
    walks_read_ahead_end_alike();
    posix_reads_stay_below_the_root();
    include_records_its_source();
    walk_order_and_file_numbers();
    confinement_never_reads_outside();
    limits();
    secrets_search();
    env_vars();
    return check::finish("directives_test");
}
