// The one place the binding layer includes the interpreter's headers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

// Reading a list's or dict's storage directly must not race with another
// thread changing it when the interpreter runs without the global lock.
#if PY_VERSION_HEX >= 0x030D0000
#define QUARVEL_BEGIN_CRITICAL_SECTION(o) Py_BEGIN_CRITICAL_SECTION(o)
#define QUARVEL_END_CRITICAL_SECTION() Py_END_CRITICAL_SECTION()
#else
#define QUARVEL_BEGIN_CRITICAL_SECTION(o) {
#define QUARVEL_END_CRITICAL_SECTION() }
#endif
