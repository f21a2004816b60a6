/* pyconfig.h of a 32-bit Windows build of CPython 3.7, as an extension module sees it.
 *
 * Used only by the Windows compile check (scripts/windows-check.sh): CPython's headers include
 * "pyconfig.h" with quotes, so the check copies CPython 3.7's headers into a build folder and puts
 * this file in place of the Linux one that configure wrote. It carries what the official 32-bit
 * MSVC build's header decides for an extension: the Windows branches (MS_WIN32, MS_WINDOWS,
 * NT_THREADS), the C API imported from python37.dll (Py_ENABLE_SHARED with __declspec), and the
 * type sizes of the ILP32 Windows ABI, where long is 4 bytes and wchar_t 2. Headers that only
 * POSIX systems have are not announced, so the Windows branches of CPython's headers are the
 * ones compiled.
 *
 * HAVE_SNPRINTF is deliberately absent, as it is in the real header: CPython 3.7 to 3.9 then
 * define snprintf as _snprintf in pyerrors.h, and the check sees that macro as MSVC builds do.
 */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#if !defined(_WIN32) || defined(_WIN64)
#error "this pyconfig.h describes 32-bit Windows only"
#endif

/* The platform: every Windows-only branch of the headers keys on these. */
#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define HAVE_DYNAMIC_LOADING
#define PLATFORM "win32"

/* The interpreter lives in python37.dll: PyAPI_FUNC/PyAPI_DATA become __declspec(dllimport)
   and PyMODINIT_FUNC __declspec(dllexport) (pyport.h). */
#if !defined(MS_NO_COREDLL) && !defined(Py_NO_ENABLE_SHARED)
#define Py_ENABLE_SHARED 1
#define MS_COREDLL
#endif
#define HAVE_DECLSPEC_DLL

#ifdef _DEBUG
#define Py_DEBUG
#endif

/* The sizes of the 32-bit ABI. */
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_VOID_P 4
#define SIZEOF_SIZE_T 4
#define SIZEOF_TIME_T 8 /* 64-bit time_t since Visual Studio 2005 */
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_HKEY 4
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define SIZEOF_PID_T SIZEOF_INT
#define LONG_BIT 32
#define WORD_BIT 32
#define HAVE_LARGEFILE_SUPPORT

/* Windows has neither ssize_t nor pid_t; the build defines them like size_t and int. MinGW's
   C runtime headers already have both, with the same types. */
#ifdef _MSC_VER
typedef int ssize_t;
typedef int pid_t;
#endif
#define HAVE_SSIZE_T 1
#define HAVE_UINTPTR_T 1
#define HAVE_INTPTR_T 1
#define PY_UINT32_T uint32_t
#define PY_UINT64_T uint64_t
#define PY_INT32_T int32_t
#define PY_INT64_T int64_t

/* Headers and functions of the Microsoft C runtime. */
#define STDC_HEADERS 1
#define HAVE_ERRNO_H 1
#define HAVE_FCNTL_H 1
#define HAVE_IO_H 1
#define HAVE_PROCESS_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_STDDEF_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_WCHAR_H 1
#define HAVE_STDARG_PROTOTYPES
#define HAVE_PROTOTYPES
#define HAVE_COPYSIGN 1
#define HAVE_HYPOT 1
#define HAVE_ROUND 1
#define HAVE_DECL_ISINF 1
#define HAVE_DECL_ISNAN 1
#define HAVE_STRFTIME
#define HAVE_WCSCOLL 1
#define HAVE_WCSXFRM 1
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1

#define WITH_DOC_STRINGS 1
#define WITH_PYMALLOC 1

#endif /* !Py_CONFIG_H */
