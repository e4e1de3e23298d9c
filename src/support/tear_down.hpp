// Freeing deep trees without deep recursion, for any node type that holds its
// children in a vector member named `children`.
#pragma once

#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "support/stack.hpp"

namespace quarvel {

// Keeps the elements of `v` from ever being destroyed (their memory is lost),
// without allocating.
template <class List>
void abandon(List& v) noexcept {
    alignas(List) unsigned char keep[sizeof(List)];
    ::new (static_cast<void*>(keep)) List(std::move(v));
}

// Frees a subtree without recursion: the nodes still to free form one list;
// each node taken off its end hands its children to the list first, so only
// childless nodes are ever destroyed. A chain of single children never needs
// the list to grow. If growing it fails, the rest is abandoned: a leak is
// better than no way out of a destructor.
template <class List>
void tear_down(List& children) noexcept {
    using Node = typename List::value_type;
    List work = std::move(children);
    while (!work.empty()) {
        Node node = std::move(work.back());
        work.pop_back();
        List& below = node.children;
        if (below.empty()) continue;
        if (below.size() > work.size()) below.swap(work);  // append the shorter list
        try {
            work.insert(work.end(), std::make_move_iterator(below.begin()),
                        std::make_move_iterator(below.end()));
        } catch (...) {
            abandon(below);
            abandon(work);
            return;
        }
        below.clear();  // moved-from husks: no children left
    }
}

// Deep trees are freed on the stack there is: recursively while it lasts,
// then iteratively (mapping a segment just to free memory could itself fail).
template <class List>
void free_children(List& children) noexcept {
    if (stack_remaining() >= kMinStackLeft)
        children.clear();
    else
        tear_down(children);
}

}  // namespace quarvel
