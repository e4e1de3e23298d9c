// Small owners for Python references, so logic paths never count references by hand.
#pragma once

#include <atomic>
#include <utility>

#include "pyutil/python.hpp"

namespace quarvel::py {

// Owns one strong reference (or none).
class Ref {
  public:
    Ref() = default;
    explicit Ref(PyObject* owned) noexcept : p_(owned) {}  // steals `owned`
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }  // hands the reference on
    explicit operator bool() const noexcept { return p_ != nullptr; }

  private:
    PyObject* p_ = nullptr;
};

// Releases the interpreter lock for the scope: no Python object may be touched inside.
class AllowThreads {
  public:
    AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
    ~AllowThreads() { PyEval_RestoreThread(state_); }
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

  private:
    PyThreadState* state_;
};

// Pauses the cyclic garbage collector while a large result is being built:
// the new containers cannot be garbage yet, and collections triggered by
// their allocation would only walk them again and again.
class GcPause {
  public:
    GcPause() noexcept : was_enabled_(PyGC_Disable() == 1) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

  private:
    bool was_enabled_;
};

// Keeps a pending Python exception aside for the scope and puts it back.
class SavedException {
  public:
    SavedException() noexcept { PyErr_Fetch(&type_, &value_, &tb_); }
    ~SavedException() { PyErr_Restore(type_, value_, tb_); }
    SavedException(const SavedException&) = delete;
    SavedException& operator=(const SavedException&) = delete;

  private:
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* tb_ = nullptr;
};

// A process-wide once-only cell: the cached object, or the one `make` returns
// (a new reference, or null with an exception set). When two threads race,
// the loser's object is discarded. Cached objects live for the process.
template <class Make>
PyObject* once_object(std::atomic<PyObject*>& cell, Make&& make) {
    if (PyObject* cached = cell.load(std::memory_order_acquire)) return cached;
    PyObject* made = make();
    if (!made) return nullptr;
    PyObject* expected = nullptr;
    if (!cell.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);
        return expected;
    }
    return made;
}

// The cached type built by `make` (a new reference or null with an exception
// set); a racing thread's type is discarded.
inline PyTypeObject* cached_type(std::atomic<PyObject*>& cell, PyObject* (*make)()) {
    return reinterpret_cast<PyTypeObject*>(once_object(cell, make));
}

inline Ref str_from_utf8(std::string_view s) {
    return Ref(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict"));
}

}  // namespace quarvel::py
