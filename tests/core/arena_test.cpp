// Arena views stay valid and unchanged whatever is stored later: across
// blocks, large texts with blocks of their own, and arenas adopted in any
// order (an adopted block must never be written into again).
#include "support/arena.hpp"

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"

using namespace quarvel;

namespace {

struct Stored {
    std::string_view view;
    std::string expected;
};

void fill(Arena& a, std::vector<Stored>& out, std::mt19937& rng, int count) {
    for (int i = 0; i < count; ++i) {
        const std::size_t size = rng() % 7 == 0 ? 20000 + rng() % 50000 : 1 + rng() % 300;
        std::string text(size, static_cast<char>('a' + rng() % 26));
        text += std::to_string(i);
        out.push_back({a.store(text), text});
    }
}

void intact(const std::vector<Stored>& all) {
    for (const Stored& s : all) CHECK(s.view == s.expected);
}

}  // namespace

int main() {
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        check::Case c("round " + std::to_string(round));
        std::vector<Stored> all;
        Arena main_arena;
        if (round % 2) fill(main_arena, all, rng, 1 + static_cast<int>(rng() % 400));
        for (int k = 0; k < 3; ++k) {
            Arena other;
            fill(other, all, rng, static_cast<int>(rng() % 400));
            main_arena.adopt(std::move(other));
            fill(main_arena, all, rng, 1 + static_cast<int>(rng() % 400));
            fill(other, all, rng, 5);  // the emptied arena is usable again
            main_arena.adopt(std::move(other));
            intact(all);
        }
        Arena moved = std::move(main_arena);
        fill(moved, all, rng, 50);
        intact(all);
    }
    return check::finish("arena_test");
}
