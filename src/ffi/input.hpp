// The `data` argument of the reading functions, as UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "pyutil/python.hpp"
#include "support/error.hpp"

namespace quarvel::py {

// The text of a call's input: a view of the argument's own UTF-8 where it has
// one that cannot change (str, and bytes already in UTF-8; the caller holds
// them for the length of the call, also while the lock is released), or a
// copy of its own.
class InputText {
  public:
    explicit InputText(std::string owned) : owned_(std::move(owned)), view_(owned_) {}
    explicit InputText(std::string_view borrowed) : view_(borrowed), borrowed_(true) {}
    InputText(InputText&& other) noexcept
        : owned_(std::move(other.owned_)),
          view_(other.borrowed_ ? other.view_ : std::string_view(owned_)),
          borrowed_(other.borrowed_) {}
    InputText& operator=(InputText&&) = delete;

    std::string_view view() const { return view_; }
    // The text as a string of its own, for results that keep it.
    std::string take() && { return borrowed_ ? std::string(view_) : std::move(owned_); }

  private:
    std::string owned_;
    std::string_view view_;
    bool borrowed_ = false;
};

// str, bytes, bytearray or any buffer of unsigned bytes; bytes are decoded as
// UTF-8, UTF-16 or UTF-32 by their byte order mark or zero-byte pattern.
Result<InputText> read_input_text(PyObject* data);

}  // namespace quarvel::py
