// std::expected where the standard library has it; otherwise a small
// stand-in with the part of its interface this project uses (clang builds
// against libstdc++ 12 for the fuzzers see <expected> but not its contents).
#pragma once

#if __has_include(<expected>)
#include <expected>
#endif

#if defined(__cpp_lib_expected)

namespace quarvel::detail {
template <class T, class E>
using expected = std::expected<T, E>;
template <class E>
using unexpected = std::unexpected<E>;
}  // namespace quarvel::detail

#else

#include <optional>
#include <utility>
#include <variant>

namespace quarvel::detail {

template <class E>
class unexpected {
  public:
    explicit unexpected(E e) : e_(std::move(e)) {}
    E& error() & { return e_; }
    E&& error() && { return std::move(e_); }

  private:
    E e_;
};

template <class T, class E>
class expected {
  public:
    expected() : v_(std::in_place_index<0>) {}
    expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    template <class U>
    expected(unexpected<U> u) : v_(std::in_place_index<1>, std::move(u).error()) {}

    bool has_value() const { return v_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& operator*() & { return std::get<0>(v_); }
    const T& operator*() const& { return std::get<0>(v_); }
    T&& operator*() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    E& error() & { return std::get<1>(v_); }
    const E& error() const& { return std::get<1>(v_); }
    E&& error() && { return std::get<1>(std::move(v_)); }

  private:
    std::variant<T, E> v_;
};

template <class E>
class expected<void, E> {
  public:
    expected() = default;
    template <class U>
    expected(unexpected<U> u) : e_(std::move(u).error()) {}

    bool has_value() const { return !e_.has_value(); }
    explicit operator bool() const { return has_value(); }
    void operator*() const {}
    E& error() & { return *e_; }
    const E& error() const& { return *e_; }
    E&& error() && { return std::move(*e_); }

  private:
    std::optional<E> e_;
};

}  // namespace quarvel::detail

#endif
