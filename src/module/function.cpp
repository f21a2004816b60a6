// The function type of the module: binds as a method through the descriptor protocol, binds its
// arguments by one of three rules with the interpreter's usual TypeError texts, and runs its body.
#include "module/function.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/strings.h"

#include <structmember.h>  // after Python.h

#if PY_VERSION_HEX >= 0x03090000
#define ORVANE_VECTORCALL 1
#endif

namespace orvane {

namespace {

constexpr int kMaxParams = 9;

struct FunctionObject {
  PyObject_HEAD
#ifdef ORVANE_VECTORCALL
  vectorcallfunc vectorcall;
#endif
  const FunctionSpec* spec;
  PyObject* name;
  PyObject* qualname;
  PyObject* defaults;     // None, or a tuple of the trailing parameters' defaults
  PyObject* code;         // __code__: carries the parameter and local names
  PyObject* params;       // tuple of the parameter names (interned)
};

PyTypeObject FunctionType;

// ---- binding ----

// "takes at least/at most/exactly N positional argument(s) (M given)"
PyObject* wrong_count(const FunctionSpec& s, Py_ssize_t nparams, Py_ssize_t given) {
  const bool exact = s.required == nparams;
  Py_ssize_t expected;
  const char* more_or_less;
  if (given < s.required) {
    expected = s.required;
    more_or_less = "at least";
  } else {
    expected = nparams;
    more_or_less = "at most";
  }
  if (exact) more_or_less = "exactly";
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               s.name, more_or_less, expected, expected == 1 ? "" : "s", given);
  return nullptr;
}

// Whether a keyword names the parameter: identity first (interned names), then text equality.
int same_name(PyObject* key, PyObject* param) {
  if (key == param) return 1;
  if (!PyUnicode_Check(key)) return 0;
  int r = PyUnicode_Compare(key, param);
  if (r == -1 && PyErr_Occurred()) return -1;
  return r == 0;
}

// The bound values (borrowed from the caller) or NULL with the TypeError set.
bool bind(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* const* kwnames,
          PyObject* const* kwvalues, Py_ssize_t nkw, PyObject** values) {
  const FunctionSpec& s = *f->spec;
  switch (s.binding) {
    case Binding::NoArgs:
      if (nkw > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", s.name);
        return false;
      }
      if (nargs != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", s.name, nargs);
        return false;
      }
      return true;
    case Binding::SelfOnly:
      if (nkw > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", s.name);
        return false;
      }
      if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes exactly one argument (%zd given)", s.name,
                     nargs);
        return false;
      }
      values[0] = args[0];
      return true;
    case Binding::Named:
      break;
  }
  const Py_ssize_t nparams = PyTuple_GET_SIZE(f->params);
  if (nargs > nparams) return wrong_count(s, nparams, nargs), false;
  for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];
  // Parameters not filled by position are looked up among the keywords, in parameter order.
  Py_ssize_t unused = nkw;
  for (Py_ssize_t i = nargs; i < nparams; ++i) {
    PyObject* param = PyTuple_GET_ITEM(f->params, i);
    values[i] = nullptr;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      int same = same_name(kwnames[k], param);
      if (same < 0) return false;
      if (same) {
        values[i] = kwvalues[k];
        --unused;
        break;
      }
    }
    if (!values[i]) {
      if (i < s.required) return wrong_count(s, nparams, i), false;
      values[i] = PyTuple_GET_ITEM(f->defaults, i - s.required);
    }
  }
  if (unused == 0) return true;
  // Some keyword named no parameter left open: say which, and why.
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = kwnames[k];
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", s.name);
      return false;
    }
    bool open_param = false;
    for (Py_ssize_t i = nargs; i < nparams && !open_param; ++i) {
      int same = same_name(key, PyTuple_GET_ITEM(f->params, i));
      if (same < 0) return false;
      open_param = same != 0;
    }
    if (open_param) continue;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
      int same = same_name(key, PyTuple_GET_ITEM(f->params, i));
      if (same < 0) return false;
      if (same) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", s.name,
                     key);
        return false;
      }
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", s.name, key);
    return false;
  }
  return true;
}

PyObject* invoke(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* const* kwnames,
                 PyObject* const* kwvalues, Py_ssize_t nkw) {
  PyObject* values[kMaxParams];
  if (!bind(f, args, nargs, kwnames, kwvalues, nkw, values)) {
    add_traceback(f->spec->full_name, f->spec->def_line);
    return nullptr;
  }
  return run_body(*f->spec, values);
}

PyObject* function_call(PyObject* self, PyObject* args, PyObject* kwargs) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  // The keyword dict belongs to the caller, who may change it while the body runs: hold our own
  // references to its items for the whole call (the argument tuple cannot change).
  std::vector<PyObject*> names, values;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(kwargs, &pos, &k, &v)) {
      Py_INCREF(k);
      Py_INCREF(v);
      names.push_back(k);
      values.push_back(v);
    }
  }
  PyObject* result = invoke(f, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), names.data(),
                            values.data(), static_cast<Py_ssize_t>(names.size()));
  for (PyObject* k : names) Py_DECREF(k);
  for (PyObject* v : values) Py_DECREF(v);
  return result;
}

#ifdef ORVANE_VECTORCALL
PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  PyObject* const* names = nkw ? &PyTuple_GET_ITEM(kwnames, 0) : nullptr;
  return invoke(f, args, nargs, names, args + nargs, nkw);
}
#endif

// ---- the descriptor: looked up through an instance, a function binds to it ----

PyObject* function_get(PyObject* self, PyObject* obj, PyObject* /*type*/) {
  if (obj == nullptr || obj == Py_None) {
    Py_INCREF(self);
    return self;
  }
  return PyMethod_New(self, obj);
}

// ---- attributes ----

// The names, defaults and code are fixed when the function is made: read-only members.
PyMemberDef function_members[] = {
    {const_cast<char*>("__name__"), T_OBJECT, offsetof(FunctionObject, name), READONLY, nullptr},
    {const_cast<char*>("__qualname__"), T_OBJECT, offsetof(FunctionObject, qualname), READONLY,
     nullptr},
    {const_cast<char*>("__defaults__"), T_OBJECT, offsetof(FunctionObject, defaults), READONLY,
     nullptr},
    {const_cast<char*>("__code__"), T_OBJECT, offsetof(FunctionObject, code), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyObject* get_module(PyObject*, void*) {
  Py_INCREF(S.module_name);
  return S.module_name;
}
PyObject* get_doc(PyObject*, void*) { Py_RETURN_NONE; }

PyGetSetDef function_getset[] = {
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* function_repr(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

void function_dealloc(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_XDECREF(f->name);
  Py_XDECREF(f->qualname);
  Py_XDECREF(f->defaults);
  Py_XDECREF(f->code);
  Py_XDECREF(f->params);
  Py_TYPE(self)->tp_free(self);
}

// A code object carrying the parameter and local names, made by compiling a stub definition placed
// on the definition's line: the same on every interpreter version, unlike the code constructors.
// Locals come as "a,b,c" and become the chained assignment "a = b = c = None", which lists them in
// co_varnames after the parameters, in that order.
Ref make_code(const FunctionSpec& s) {
  std::string params = s.params;
  if (!params.empty() &&
      s.required < 1 + static_cast<int>(std::count(params.begin(), params.end(), ',')))
    params += "=None";  // only the last parameter ever has a default
  std::string statement = "pass";
  if (*s.locals) {
    statement.clear();
    for (const char* p = s.locals; *p; ++p) statement += (*p == ',') ? std::string(" = ") : std::string(1, *p);
    statement += " = None";
  }
  std::string source(static_cast<size_t>(s.def_line > 1 ? s.def_line - 1 : 0), '\n');
  source += "def " + std::string(s.name) + "(" + params + "):\n    " + statement + "\n";
  Ref module_code = Ref::steal(Py_CompileString(source.c_str(), "Orvane", Py_file_input));
  Ref consts = attr(module_code, Ref::steal(PyUnicode_FromString("co_consts")));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(consts.get()); ++i) {
    PyObject* c = PyTuple_GET_ITEM(consts.get(), i);
    if (PyCode_Check(c)) return Ref::borrow(c);
  }
  raise(PyExc_SystemError, "Orvane: no code object compiled");
}

}  // namespace

PyObject* run_body(const FunctionSpec& spec, PyObject* const* args) {
  Frame fr{spec, spec.def_line};
  // The module's C++ frames are invisible to the interpreter's recursion limit; count them, so a
  // sink that calls back into the controller fails with RecursionError instead of a stack overflow.
  if (Py_EnterRecursiveCall(" in Orvane")) {
    add_traceback(fr);
    return nullptr;
  }
  PyObject* result = nullptr;
  try {
    result = spec.body(fr, args).release();
  } catch (PyError&) {
  } catch (std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  }
  Py_LeaveRecursiveCall();
  if (!result) add_traceback(fr);
  return result;
}

bool ready_function_type() {
  if (FunctionType.tp_flags & Py_TPFLAGS_READY) return true;
  FunctionType.tp_name = "orvane_function";
  FunctionType.tp_basicsize = sizeof(FunctionObject);
  FunctionType.tp_dealloc = function_dealloc;
  FunctionType.tp_repr = function_repr;
  FunctionType.tp_call = function_call;
  FunctionType.tp_descr_get = function_get;
  FunctionType.tp_members = function_members;
  FunctionType.tp_getset = function_getset;
  FunctionType.tp_flags = Py_TPFLAGS_DEFAULT;
#if PY_VERSION_HEX >= 0x03080000
  // Lets the interpreter call methods without making a bound method first, as for Python functions.
  FunctionType.tp_flags |= Py_TPFLAGS_METHOD_DESCRIPTOR;
#endif
#ifdef ORVANE_VECTORCALL
  FunctionType.tp_flags |= Py_TPFLAGS_HAVE_VECTORCALL;
  FunctionType.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
  FunctionType.tp_call = PyVectorcall_Call;
#endif
  return PyType_Ready(&FunctionType) == 0;
}

Ref make_function(const FunctionSpec& spec) {
  Ref names = Ref::steal(PyUnicode_FromString(spec.params));
  Ref comma = Ref::steal(PyUnicode_FromString(","));
  Ref list = Ref::steal(PyUnicode_Split(names.get(), comma.get(), -1));
  if (!*spec.params) list = Ref::steal(PyList_New(0));
  const Py_ssize_t n = PyList_GET_SIZE(list.get());
  if (n > kMaxParams) raise(PyExc_SystemError, "Orvane: too many parameters");
  Ref params = Ref::steal(PyTuple_New(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* p = PyList_GET_ITEM(list.get(), i);
    Py_INCREF(p);
    PyUnicode_InternInPlace(&p);
    PyTuple_SET_ITEM(params.get(), i, p);
  }
  Ref defaults = Ref::borrow(Py_None);
  if (spec.required < n) {
    defaults = Ref::steal(PyTuple_New(n - spec.required));
    for (Py_ssize_t i = 0; i < n - spec.required; ++i) {
      Py_INCREF(Py_None);
      PyTuple_SET_ITEM(defaults.get(), i, Py_None);
    }
  }
  Ref code = make_code(spec);
  Ref name = Ref::steal(PyUnicode_InternFromString(spec.name));
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));

  auto* f = PyObject_New(FunctionObject, &FunctionType);
  if (!f) raise_pending();
#ifdef ORVANE_VECTORCALL
  f->vectorcall = function_vectorcall;
#endif
  f->spec = &spec;
  f->name = name.release();
  f->qualname = qualname.release();
  f->defaults = defaults.release();
  f->code = code.release();
  f->params = params.release();
  return Ref::steal(reinterpret_cast<PyObject*>(f));
}

}  // namespace orvane
