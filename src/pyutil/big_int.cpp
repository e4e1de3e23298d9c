#include "pyutil/big_int.hpp"

#include <string>

#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "support/big_int.hpp"
#include "support/error.hpp"

namespace quarvel::py {
namespace {

// The interpreter's current limit on decimal digits; 0 means none.
long max_str_digits() {
    Ref sys(PyImport_ImportModule("sys"));
    Ref limit(sys ? PyObject_CallMethod(sys.get(), "get_int_max_str_digits", nullptr) : nullptr);
    const long n = limit ? PyLong_AsLong(limit.get()) : -1;
    PyErr_Clear();
    return n < 0 ? 0 : n;
}

PyObject* too_many_digits(long limit, const ScalarPosition& at) {
    std::string message = "integer has more than " + std::to_string(limit) +
                          " digits; see sys.set_int_max_str_digits";
    const std::optional<ScalarAt> where = at();
    Error e = Error::syntax(std::move(message), where ? where->line : 0, where ? where->column : 0);
    e.has_position = where.has_value();
    return raise(e);
}

// Decimal text through int(); only its refusal of too many digits becomes
// the parse error.
PyObject* from_decimal(const std::string& digits, const ScalarPosition& at) {
    if (PyObject* n = PyLong_FromString(digits.c_str(), nullptr, 10)) return n;
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return nullptr;
    PyErr_Clear();
    return too_many_digits(max_str_digits(), at);
}

// Base 60 goes through decimal digits, whose conversion costs time
// quadratic in the length: a number whose decimal form is surely past the
// limit is refused before it is converted.
PyObject* from_base60(std::string_view text, const BigIntForm& form, const ScalarPosition& at) {
    constexpr double kLog10Of2 = 0.30102999566398120;
    const long limit = max_str_digits();
    const double fewest_digits = big_int_log2(form, false) * kLog10Of2;
    if (limit > 0 && fewest_digits > static_cast<double>(limit)) return too_many_digits(limit, at);
    return from_decimal(big_int_digits(text, text.size()), at);
}

}  // namespace

PyObject* big_int_object(std::string_view text, const ScalarPosition& at) {
    const BigIntForm form = big_int_form(text);
    if (form.base == 60) return from_base60(text, form, at);
    std::string digits = form.negative ? "-" : "";
    digits += significant_digits(form);
    if (digits.empty() || digits == "-") digits = "0";
    if (form.base == 10) return from_decimal(digits, at);
    // Powers of two convert in linear time, and int() sets them no limit.
    return PyLong_FromString(digits.c_str(), nullptr, static_cast<int>(form.base));
}

}  // namespace quarvel::py
