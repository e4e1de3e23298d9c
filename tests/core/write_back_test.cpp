// Write-back: which files an edit changes, their bytes, the conflicting-edits
// error, and the atomic writer's failures (each leaving the target intact and
// no temporary file behind).
#include "roundtrip/write_back.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "roundtrip/atomic_write.hpp"

using namespace quarvel;
using check::compose;
namespace rt = quarvel::roundtrip;

namespace {

// A root document "a: 1\nb: !include <path>\nc: !include <path>\n" whose
// two included values are the trees of their own texts (files 1 and 2).
struct IncludeTree {
    std::string root_text = "a: 1\nb: !include x.yaml\nc: !include y.yaml\n";
    std::string x_text = "# x\nxa: 1\n";
    std::string y_text = "ya: 2\n";
    SyntaxForest root, x, y;
    std::vector<rt::FileRecord> files;

    // `same_file`: the second include reads the first one's text.
    explicit IncludeTree(std::string y_path = "inc/y.yaml", bool same_file = false) {
        if (same_file) y_text = x_text;
        root = compose(root_text);
        splice(x_text, 1, "b", "x.yaml");
        splice(y_text, 2, "c", "y.yaml");
        files = {{"main.yaml", root_text}, {"inc/x.yaml", x_text}, {std::move(y_path), y_text}};
    }

    void splice(std::string_view text, std::uint32_t id, std::string_view key,
                std::string_view target) {
        auto inc = compose_text(text, id, false);
        if (!CHECK(inc.has_value())) return;
        YamlNode content = std::move(inc->roots[0]);
        content.set_source(
            std::make_unique<IncludeSource>(IncludeSource{"!include", target, id, {}, {}}));
        value(key) = std::move(content);
        (id == 1 ? x : y) = std::move(*inc);
    }
    YamlNode& value(std::string_view key) {
        YamlNode& map = root.roots[0];
        for (std::size_t i = 0; i < map.size(); ++i)
            if (map.key(i).text == key) return map.value(i);
        return map;
    }
    rt::SaveInput save_input() {
        rt::SaveInput in;
        in.roots = root.roots;
        in.files = files;
        in.root_text = root_text;
        return in;
    }
};

std::vector<std::string> paths(const std::vector<rt::FileBytes>& files) {
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(f.path);
    return out;
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& p : v) s += p + ";";
    return s;
}

void save_writes_only_changed_files() {
    {
        check::Case c{"edit inside an included file"};
        IncludeTree t;
        t.value("b").value(0).text = "5";
        t.value("b").value(0).comments.modified = true;
        auto plan = rt::plan_save(t.save_input());
        CHECK(plan.has_value());
        CHECK_EQ(joined(paths(*plan)), std::string("inc/x.yaml;"));
        CHECK_EQ((*plan)[0].bytes, std::string("# x\nxa: 5\n"));
    }
    {
        check::Case c{"root edit without a path or origin"};
        IncludeTree t;
        t.value("a").text = "2";
        t.value("a").comments.modified = true;
        auto plan = rt::plan_save(t.save_input());
        CHECK(!plan.has_value());
        if (!plan)
            CHECK_EQ(plan.error().message,
                     std::string("save() needs a path: this document was not loaded from a file"));
        auto in = t.save_input();
        in.origin = "main.yaml";
        plan = rt::plan_save(in);
        CHECK_EQ(plan ? joined(paths(*plan)) : std::string(), std::string("main.yaml;"));
        CHECK_EQ(plan ? (*plan)[0].bytes : std::string(),
                 std::string("a: 2\nb: !include x.yaml\nc: !include y.yaml\n"));
    }
    {
        check::Case c{"unmodified document saved to a path"};
        IncludeTree t;
        auto in = t.save_input();
        in.path = "copy.yaml";
        auto plan = rt::plan_save(in);
        CHECK_EQ(plan ? joined(paths(*plan)) : std::string(), std::string("copy.yaml;"));
        CHECK_EQ(plan ? (*plan)[0].bytes : std::string(), t.root_text);
    }
    {
        check::Case c{"replaced include is written inline in the including file"};
        IncludeTree t;
        auto fresh = compose("7\n");
        t.value("c") = std::move(fresh.roots[0]);
        t.value("c").comments.modified = true;
        auto in = t.save_input();
        in.origin = "main.yaml";
        auto plan = rt::plan_save(in);
        CHECK_EQ(plan ? joined(paths(*plan)) : std::string(), std::string("main.yaml;"));
        CHECK_EQ(plan ? (*plan)[0].bytes : std::string(),
                 std::string("a: 1\nb: !include x.yaml\nc: 7\n"));
    }
}

void collecting_included_files() {
    {
        check::Case c{"one file included twice without edits"};
        IncludeTree t("inc/./x.yaml", true);
        auto all = rt::collect_included_files(t.root.roots, t.files);
        CHECK_EQ(all ? joined(paths(*all)) : std::string(), std::string("inc/x.yaml;"));
    }
    {
        check::Case c{"conflicting edits"};
        IncludeTree t("inc//x.yaml", true);
        t.value("c").value(0).text = "9";
        t.value("c").value(0).comments.modified = true;
        auto all = rt::collect_included_files(t.root.roots, t.files);
        CHECK(!all.has_value());
        if (!all) {
            CHECK_EQ(
                all.error().message,
                std::string("'inc//x.yaml' is included more than once with conflicting "
                            "edits; write-back cannot store two different versions of one file"));
            CHECK(all.error().family == ErrorFamily::Directive);
            CHECK_EQ(all.error().file.value_or(""), std::string("inc//x.yaml"));
        }
    }
    {
        check::Case c{"every included file, as loaded or re-emitted"};
        IncludeTree t;
        t.value("c").value(0).text = "3";
        t.value("c").value(0).comments.modified = true;
        auto all = rt::collect_included_files(t.root.roots, t.files);
        CHECK(all.has_value());
        if (all && all->size() == 2) {
            CHECK_EQ((*all)[0].bytes, t.x_text);
            CHECK_EQ((*all)[1].bytes, std::string("ya: 3\n"));
        }
    }
    {
        check::Case c{"no file table"};
        IncludeTree t;
        auto all = rt::collect_included_files(t.root.roots, {});
        CHECK(!all.has_value());
        if (!all)
            CHECK_EQ(
                all.error().message,
                std::string("document was not loaded with OPT_INCLUDES; nothing to write back"));
    }
}

// --- the atomic writer ---

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

std::vector<std::string>& made_dirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

void remove_tree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0755);
        for (const std::string& name : entries(path)) remove_tree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string make_dir() {
    char tmpl[] = "/tmp/quarvel-write-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!CHECK(dir != nullptr)) std::exit(1);
    made_dirs().push_back(dir);
    return dir;
}

void writes_and_keeps_attributes() {
    const std::string dir = make_dir();
    {
        check::Case c{"new file"};
        const std::string p = dir + "/new.yaml";
        CHECK(rt::write_file_atomic(p, "a: 1\n").has_value());
        CHECK_EQ(read(p), std::string("a: 1\n"));
    }
    {
        check::Case c{"permission bits kept"};
        const std::string p = dir + "/mode.yaml";
        put(p, "old\n");
        chmod(p.c_str(), 0640);
        CHECK(rt::write_file_atomic(p, "new\n").has_value());
        struct stat st;
        CHECK(stat(p.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640);
        CHECK_EQ(read(p), std::string("new\n"));
    }
    {
        check::Case c{"written through a symlink"};
        const std::string target = dir + "/target.yaml";
        const std::string link = dir + "/link.yaml";
        put(target, "old\n");
        CHECK(symlink("target.yaml", link.c_str()) == 0);
        CHECK(rt::write_file_atomic(link, "through\n").has_value());
        struct stat st;
        CHECK(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        CHECK_EQ(read(target), std::string("through\n"));
    }
    CHECK_EQ(entries(dir).size(), std::size_t{4});
}

std::size_t g_calls = 0;
ssize_t short_then_full(int fd, const void* data, std::size_t size) {
    if (g_calls++ == 0) return ::write(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
}
ssize_t writes_nothing(int, const void*, std::size_t) {
    return 0;
}

struct FailureCase {
    const char* name;
    std::string path;  // relative to the case's directory
    int error_number;
    rt::WriteCall call;  // nullptr: the system call
    int needs;           // 1: not root (a read-only mode does not stop root); 2: root
};

void failures_leave_the_target_intact() {
    const FailureCase cases[] = {
        {"a directory in the file's place", "dir.yaml", EISDIR, nullptr, 0},
        {"missing parent", "missing/sub/file.yaml", ENOENT, nullptr, 0},
        {"parent is a file", "plain.txt/file.yaml", ENOTDIR, nullptr, 0},
        {"short write then a full disk", "file.yaml", ENOSPC, short_then_full, 0},
        {"device takes nothing", "file.yaml", ENOSPC, writes_nothing, 0},
        {"read-only directory", "ro/file.yaml", EACCES, nullptr, 1},
        {"read-only file", "locked.yaml", EACCES, nullptr, 1},
        // Root writes through permission bits; sysfs refuses new files even to root.
        {"directory that refuses new files", "/sys/quarvel-write-test.yaml", EACCES, nullptr, 2},
    };
    for (const FailureCase& fc : cases) {
        check::Case c{fc.name};
        const bool root = geteuid() == 0;
        if ((fc.needs == 1 && root) || (fc.needs == 2 && (!root || access("/sys", F_OK) != 0))) {
            std::printf("skipped for this user: %s\n", fc.name);
            continue;
        }
        const std::string dir = make_dir();
        mkdir((dir + "/dir.yaml").c_str(), 0755);
        put(dir + "/plain.txt", "text\n");
        put(dir + "/file.yaml", "original\n");
        put(dir + "/locked.yaml", "original\n");
        chmod((dir + "/locked.yaml").c_str(), 0444);
        mkdir((dir + "/ro").c_str(), 0755);
        put(dir + "/ro/file.yaml", "original\n");
        chmod((dir + "/ro").c_str(), 0555);
        const auto before = entries(dir);
        const std::string path = fc.path.starts_with('/') ? fc.path : dir + "/" + fc.path;
        g_calls = 0;
        rt::set_write_call(fc.call);
        auto done = rt::write_file_atomic(path, std::string(1 << 16, 'x'));
        rt::set_write_call(nullptr);
        CHECK(!done.has_value());
        if (!done) {
            CHECK_EQ(done.error().error_number, fc.error_number);
            CHECK_EQ(done.error().path, path);
            CHECK(done.error().message.starts_with("cannot write " + path + ": "));
        }
        CHECK_EQ(entries(dir).size(), before.size());
        CHECK_EQ(entries(dir + "/ro").size(), std::size_t{1});
        CHECK_EQ(read(dir + "/file.yaml"), std::string("original\n"));
        chmod((dir + "/ro").c_str(), 0755);
    }
}

}  // namespace

int main() {
    save_writes_only_changed_files();
    collecting_included_files();
    writes_and_keeps_attributes();
    failures_leave_the_target_intact();
    for (const std::string& dir : made_dirs()) remove_tree(dir);
    return check::finish("write_back_test");
}
