// The small layer between the module's methods and the CPython C API.
//
// Two rules make the method bodies straight-line code:
//  * Ownership: a new reference lives in a Ref, which drops it exactly once; a borrowed one is passed
//    around as a Handle, which never touches the count. Method bodies never call Py_DECREF themselves.
//  * Errors travel one way: a C API call that fails leaves the interpreter's exception set and becomes
//    a C++ PyError that carries nothing else. The function object's call entry catches it, adds the
//    traceback entry for the statement that failed and returns NULL to the interpreter.
#pragma once

#include "module/python.h"

#include <array>
#include <initializer_list>
#include <utility>

namespace orvane {

// The interpreter's error indicator is set; unwinding carries nothing else.
struct PyError {};

[[noreturn]] inline void raise_pending() { throw PyError{}; }

// Sets a Python exception and unwinds.
[[noreturn]] void raise(PyObject* type, const char* message);

inline PyObject* check(PyObject* p) {
  if (!p) raise_pending();
  return p;
}
inline int check(int status) {
  if (status < 0) raise_pending();
  return status;
}

// An owned reference.
class Ref {
 public:
  Ref() = default;
  Ref(const Ref& other) : p_(other.p_) { Py_XINCREF(p_); }
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  // Takes over a new reference returned by the C API; NULL means the call failed.
  static Ref steal(PyObject* p) {
    Ref r;
    r.p_ = check(p);
    return r;
  }
  // Takes a new reference to an object someone else owns.
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    Ref r;
    r.p_ = p;
    return r;
  }

  PyObject* get() const { return p_; }
  // Hands the reference to the interpreter (a return value, a stealing API).
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// A borrowed reference: valid while its owner keeps the object alive.
class Handle {
 public:
  Handle(PyObject* p) : p_(p) {}  // NOLINT: implicit by design
  Handle(const Ref& r) : p_(r.get()) {}  // NOLINT
  PyObject* get() const { return p_; }

 private:
  PyObject* p_;
};

// ---- the interpreter's operations, named after what they do there ----

Ref attr(Handle obj, Handle name);                  // obj.name
void set_attr(Handle obj, Handle name, Handle value);  // obj.name = value
bool truthy(Handle obj);                            // bool(obj)
Ref call(Handle callable);                          // f()
Ref call(Handle callable, std::initializer_list<Handle> args);  // f(a, b, ...)
// f(*args, **kwargs) with keyword names and values given in call order.
Ref call_kw(Handle callable, std::initializer_list<Handle> args,
            std::initializer_list<std::pair<Handle, Handle>> kwargs);
Ref method(Handle obj, Handle name, std::initializer_list<Handle> args = {});  // obj.name(...)
Ref str(Handle obj);                                // str(obj)
Py_ssize_t len(Handle obj);                         // len(obj)
Ref to_int(Handle obj);                             // int(obj)
Ref integer(long value);
Ref concat(Handle a, Handle b);                     // a + b on texts
Ref sub(Handle a, Handle b);                        // a - b
bool contains(Handle container, Handle item);      // item in container
bool equal(Handle a, Handle b);                     // a == b
int compare(Handle a, Handle b, int op);            // rich comparison as a truth value
Ref tuple(std::initializer_list<Handle> items);
Ref iter(Handle obj);
Ref next(Handle iterator);  // an empty Ref when the iterator is exhausted
Ref item(Handle obj, Py_ssize_t index);             // obj[index]
Ref item(Handle obj, Handle key);                   // obj[key]

inline Ref none() { return Ref::borrow(Py_None); }

// a, b, c = obj: exactly N items, or the interpreter's ValueError.
template <size_t N>
std::array<Ref, N> unpack(Handle obj) {
  std::array<Ref, N> out;
  Ref it = iter(obj);
  for (size_t k = 0; k < N; ++k) {
    out[k] = next(it);
    if (!out[k]) {
      PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)",
                   static_cast<Py_ssize_t>(N), static_cast<Py_ssize_t>(k));
      raise_pending();
    }
  }
  if (next(it)) {
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)",
                 static_cast<Py_ssize_t>(N));
    raise_pending();
  }
  return out;
}

// The pending exception taken off the error indicator, to be put back (or dropped) later.
class PendingException {
 public:
  PendingException() { PyErr_Fetch(&type_, &value_, &tb_); }
  ~PendingException() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(tb_);
  }
  PendingException(const PendingException&) = delete;
  PendingException& operator=(const PendingException&) = delete;
  void normalize() { PyErr_NormalizeException(&type_, &value_, &tb_); }
  PyObject* type() const { return type_ ? type_ : Py_None; }
  PyObject* value() const { return value_ ? value_ : Py_None; }
  PyObject* traceback() const { return tb_ ? tb_ : Py_None; }
  // Sets it pending again (nothing pending if there was none), without unwinding.
  void restore() {
    PyErr_Restore(type_, value_, tb_);
    type_ = value_ = tb_ = nullptr;
  }
  // Sets it pending again and unwinds.
  [[noreturn]] void reraise() {
    restore();
    raise_pending();
  }

 private:
  PyObject *type_ = nullptr, *value_ = nullptr, *tb_ = nullptr;
};

// A module-level name: the module namespace at the moment of use, then builtins, else NameError.
// Never cached: callers rebind `os`, `time`, `requests` to test or to adapt the module.
Ref name(Handle key);

// Binds a module-level name in the namespace.
void bind_name(Handle key, Handle value);

// The module namespace; set once by the exec step.
PyObject* namespace_dict();
void set_namespace(PyObject* module_dict, PyObject* builtins_module);

}  // namespace orvane
