#include "module/runtime.h"

#include <cstdint>
#include <vector>

namespace orvane {

namespace {
// Owned, so that a function object that outlives a failed import still finds a namespace.
PyObject* g_namespace = nullptr;
PyObject* g_builtins = nullptr;   // owned for the life of the process
}  // namespace

namespace {

// Lookups of module-level names and module attributes answer from a small cache while the dict they
// came from is unchanged. Before 3.12 every change of any dict takes a new, process-wide unique
// version tag, so a matching (dict, key, version) proves the dict still maps the key to the cached
// value and still holds it alive: rebinding `os`, `time` or `requests` is seen at the next use, as
// without the cache. Later interpreters deprecate the tag; they look up every time.
#if PY_VERSION_HEX < 0x030C0000
struct CacheEntry {
  PyObject* dict;
  PyObject* key;
  uint64_t version;
  PyObject* value;  // borrowed from the dict
};
CacheEntry g_cache[256];

PyObject* dict_lookup(PyObject* dict, PyObject* key) {
  const uintptr_t h = (reinterpret_cast<uintptr_t>(key) >> 4) ^ (reinterpret_cast<uintptr_t>(dict) >> 6);
  CacheEntry& e = g_cache[h & 255];
  const uint64_t version = reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
  if (e.dict == dict && e.key == key && e.version == version) return e.value;
  PyObject* value = PyDict_GetItemWithError(dict, key);
  if (value) e = CacheEntry{dict, key, version, value};
  return value;
}
#else
PyObject* dict_lookup(PyObject* dict, PyObject* key) { return PyDict_GetItemWithError(dict, key); }
#endif

}  // namespace

void raise(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  raise_pending();
}

Ref attr(Handle obj, Handle name) {
  // A plain module's attributes that are not dunder names live only in its dict (the module type
  // defines dunder names alone), so the dict answers exactly what getattr would, without the detour
  // through the type. Anything else, and a miss, takes the general path.
  PyObject* o = obj.get();
  if (PyModule_CheckExact(o) && PyUnicode_READ_CHAR(name.get(), 0) != '_') {
    PyObject* v = dict_lookup(PyModule_GetDict(o), name.get());
    if (v) return Ref::borrow(v);
    if (PyErr_Occurred()) raise_pending();
  }
  return Ref::steal(PyObject_GetAttr(o, name.get()));
}

void set_attr(Handle obj, Handle name, Handle value) {
  // The names are interned texts, so the type's own setattr can be called directly.
  setattrofunc setattro = Py_TYPE(obj.get())->tp_setattro;
  if (setattro && PyUnicode_CheckExact(name.get()))
    check(setattro(obj.get(), name.get(), value.get()));
  else
    check(PyObject_SetAttr(obj.get(), name.get(), value.get()));
}

bool truthy(Handle obj) { return check(PyObject_IsTrue(obj.get())) != 0; }

namespace {
constexpr size_t kMaxArgs = 8;

// Calls through the vectorcall protocol where the interpreter has it (no argument tuple is made).
// stack[0] is free scratch space the callee may use to prepend `self`.
PyObject* vectorcall(PyObject* callable, PyObject** stack, size_t nargs) {
#if PY_VERSION_HEX >= 0x03090000
  return PyObject_Vectorcall(callable, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#elif PY_VERSION_HEX >= 0x03080000
  return _PyObject_Vectorcall(callable, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#else
  return _PyObject_FastCall(callable, stack + 1, static_cast<Py_ssize_t>(nargs));
#endif
}
}  // namespace

Ref call(Handle callable) {
  PyObject* stack[1] = {nullptr};
  return Ref::steal(vectorcall(callable.get(), stack, 0));
}

Ref call(Handle callable, std::initializer_list<Handle> args) {
  if (args.size() > kMaxArgs) raise(PyExc_SystemError, "Orvane: too many arguments");
  PyObject* stack[kMaxArgs + 1];
  stack[0] = nullptr;
  size_t n = 0;
  for (Handle h : args) stack[++n] = h.get();
  return Ref::steal(vectorcall(callable.get(), stack, n));
}

Ref call_kw(Handle callable, std::initializer_list<Handle> args,
            std::initializer_list<std::pair<Handle, Handle>> kwargs) {
  Ref t = tuple(args);
  // Dicts keep insertion order, so the callee sees the keywords in the order written here.
  Ref kw = Ref::steal(PyDict_New());
  for (const auto& kv : kwargs) check(PyDict_SetItem(kw.get(), kv.first.get(), kv.second.get()));
  return Ref::steal(PyObject_Call(callable.get(), t.get(), kw.get()));
}

Ref method(Handle obj, Handle name, std::initializer_list<Handle> args) {
#if PY_VERSION_HEX >= 0x03090000
  // Looks the method up and calls it without making a bound method first.
  if (args.size() > kMaxArgs) raise(PyExc_SystemError, "Orvane: too many arguments");
  PyObject* stack[kMaxArgs + 1];
  stack[0] = obj.get();
  size_t n = 0;
  for (Handle h : args) stack[++n] = h.get();
  return Ref::steal(PyObject_VectorcallMethod(name.get(), stack, (n + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                              nullptr));
#else
  Ref bound = attr(obj, name);
  return call(bound, args);
#endif
}

Ref str(Handle obj) { return Ref::steal(PyObject_Str(obj.get())); }

Py_ssize_t len(Handle obj) {
  Py_ssize_t n = PyObject_Length(obj.get());
  if (n < 0) raise_pending();
  return n;
}

Ref to_int(Handle obj) { return Ref::steal(PyNumber_Long(obj.get())); }

Ref integer(long value) { return Ref::steal(PyLong_FromLong(value)); }

Ref concat(Handle a, Handle b) { return Ref::steal(PyNumber_Add(a.get(), b.get())); }

Ref sub(Handle a, Handle b) { return Ref::steal(PyNumber_Subtract(a.get(), b.get())); }

bool contains(Handle container, Handle item) {
  return check(PySequence_Contains(container.get(), item.get())) != 0;
}

int compare(Handle a, Handle b, int op) {
  return check(PyObject_RichCompareBool(a.get(), b.get(), op));
}

bool equal(Handle a, Handle b) { return compare(a, b, Py_EQ) != 0; }

Ref tuple(std::initializer_list<Handle> items) {
  Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (Handle h : items) {
    Py_INCREF(h.get());
    PyTuple_SET_ITEM(t.get(), i++, h.get());
  }
  return t;
}

Ref iter(Handle obj) { return Ref::steal(PyObject_GetIter(obj.get())); }

Ref next(Handle iterator) {
  PyObject* p = PyIter_Next(iterator.get());
  if (!p && PyErr_Occurred()) raise_pending();
  return p ? Ref::steal(p) : Ref();
}

Ref item(Handle obj, Py_ssize_t index) {
  Ref key = Ref::steal(PyLong_FromSsize_t(index));
  return item(obj, key);
}

Ref item(Handle obj, Handle key) { return Ref::steal(PyObject_GetItem(obj.get(), key.get())); }

Ref name(Handle key) {
  PyObject* v = dict_lookup(g_namespace, key.get());
  if (!v) {
    if (PyErr_Occurred()) raise_pending();
    v = PyObject_GetAttr(g_builtins, key.get());
    if (!v) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
      PyErr_Clear();
      PyErr_Format(PyExc_NameError, "name '%U' is not defined", key.get());
      raise_pending();
    }
    return Ref::steal(v);
  }
  return Ref::borrow(v);
}

void bind_name(Handle key, Handle value) { check(PyDict_SetItem(g_namespace, key.get(), value.get())); }

PyObject* namespace_dict() { return g_namespace; }

void set_namespace(PyObject* module_dict, PyObject* builtins_module) {
  Py_XINCREF(module_dict);
  Py_XSETREF(g_namespace, module_dict);
  Py_XINCREF(builtins_module);
  Py_XSETREF(g_builtins, builtins_module);
}

}  // namespace orvane
