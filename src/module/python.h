// The one way the module includes CPython's headers.
#pragma once

#define PY_SSIZE_T_CLEAN

// CPython 3.7 to 3.9 define snprintf and vsnprintf as _snprintf and _vsnprintf on Windows unless
// HAVE_SNPRINTF is set (pyerrors.h), which turns every later std::snprintf, and the C++ library's
// own uses of std::vsnprintf in <string>, into names that do not exist. Every compiler that can
// build for CPython 3.7 and later (MSVC 2015 and up, MinGW) has the C99 functions, so the
// emulation is switched off; 3.10 and later no longer have it, and pyconfig.h files that set
// the name use this same value.
#if defined(_WIN32) && !defined(HAVE_SNPRINTF)
#define HAVE_SNPRINTF 1
#endif

#include <Python.h>
