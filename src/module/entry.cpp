// The module's entry point and its two initialisation steps.
//
// Process-wide state is one recorded module and the identifier of the interpreter that first made it:
// the module is loaded into one interpreter per process and its code runs once per process, however
// often it is imported.
#include <cstdint>
#include <cstdio>

#include "module/module.h"
#include "module/strings.h"
#include "module/version.h"

namespace orvane {

namespace {

int64_t g_interpreter_id = -1;
PyObject* g_module = nullptr;  // the recorded module (owned), or NULL

#define ORVANE_STR2(x) #x
#define ORVANE_STR(x) ORVANE_STR2(x)
// The build is for the interpreter whose headers it compiled against.
constexpr const char kBuiltFor[] = ORVANE_STR(PY_MAJOR_VERSION) "." ORVANE_STR(PY_MINOR_VERSION);

PyInterpreterState* current_interpreter() {
#if PY_VERSION_HEX >= 0x03090000
  return PyInterpreterState_Get();
#else
  return PyThreadState_Get()->interp;
#endif
}

// Copies one attribute of the import spec into the namespace; a missing attribute is skipped.
void copy_spec_attr(PyObject* spec, PyObject* dict, PyObject* from, PyObject* to, bool allow_none) {
  PyObject* value = PyObject_GetAttr(spec, from);
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
    PyErr_Clear();
    return;
  }
  Ref v = Ref::steal(value);
  if (allow_none || value != Py_None) check(PyDict_SetItem(dict, to, value));
}

PyObject* create(PyObject* spec, PyModuleDef*) {
  const int64_t current = PyInterpreterState_GetID(current_interpreter());
  if (g_interpreter_id == -1) {
    if (current == -1) return nullptr;
    g_interpreter_id = current;
  } else if (current != g_interpreter_id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (g_module) {
    Py_INCREF(g_module);
    return g_module;
  }
  if (!make_strings()) return nullptr;
  try {
    Ref module_name = attr(spec, S.name);
    Ref module = Ref::steal(PyModule_NewObject(module_name.get()));
    PyObject* dict = PyModule_GetDict(module.get());
    copy_spec_attr(spec, dict, S.loader, S.__loader__, true);
    copy_spec_attr(spec, dict, S.origin, S.__file__, true);
    copy_spec_attr(spec, dict, S.parent, S.__package__, true);
    copy_spec_attr(spec, dict, S.submodule_search_locations, S.__path__, false);
    return module.release();
  } catch (PyError&) {
    return nullptr;
  }
}

// Imports a module for the namespace: absolute, the namespace as globals, an empty dict as locals.
Ref import(const char* module_name, PyObject* fromlist) {
  Ref text = Ref::steal(PyUnicode_FromString(module_name));
  Ref locals = Ref::steal(PyDict_New());
  return Ref::steal(
      PyImport_ImportModuleLevelObject(text.get(), namespace_dict(), locals.get(), fromlist, 0));
}

// `from module import name`: the attribute, or ImportError "cannot import name ..." when it is missing.
Ref import_from(const char* module_name, PyObject* attr_name) {
  Ref module = import(module_name, tuple({attr_name}).get());
  PyObject* value = PyObject_GetAttr(module.get(), attr_name);
  if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", attr_name);
  }
  return Ref::steal(value);
}

// The statements of the exec step from the moment the module is recorded. Lines follow the layout of
// the module as a Python reader would picture it: the imports on lines 1 to 9, get_now at 20, the
// class at 30, the stand-alone block from 400; the other statements report line 1.
Ref exec_body(Frame& fr, PyObject* const* args) {
  PyObject* module = args[0];
  PyObject* builtins = PyImport_AddModule("builtins");  // borrowed
  fr.at(1);   if (!builtins) raise_pending();
              Py_INCREF(module);
              g_module = module;
              set_namespace(PyModule_GetDict(module), builtins);
              check(PyObject_SetAttr(module, S.__builtins__, builtins));
              if (!make_strings()) raise_pending();
              {
                Ref modules = Ref::borrow(PySys_GetObject("modules"));
                if (!modules) raise(PyExc_RuntimeError, "lost sys.modules");
                if (!check(PyMapping_HasKey(modules.get(), S.module_name)))
                  check(PyObject_SetItem(modules.get(), S.module_name, module));
              }
              take_open(builtins);
  fr.at(1);   bind_name(S.traceback, import("traceback", S.empty_tuple));
  fr.at(2);   bind_name(S.shutil, import("shutil", S.empty_tuple));
  fr.at(3);   bind_name(S.cpu_count, import_from("multiprocessing", S.cpu_count));
  fr.at(4);   bind_name(S.os, import("os", S.empty_tuple));
  fr.at(5);   bind_name(S.time, import("time", S.empty_tuple));
  fr.at(6);   bind_name(S.sqlite3, import("sqlite3", S.empty_tuple));
  fr.at(7);   bind_name(S.requests, import("requests", S.empty_tuple));
  fr.at(8);   bind_name(S.json, import("json", S.empty_tuple));
  fr.at(9);   bind_name(S.random, import("random", S.empty_tuple));
  fr.at(20);  bind_name(S.get_now, make_function(kGetNow));
  fr.at(30);  bind_name(S.class_name, make_controller_class());
  fr.at(400); if (equal(name(S.__name__), S.main_name)) run_standalone(fr);
  fr.at(1);   bind_name(S.__test__, Ref::steal(PyDict_New()));
              return none();
}

const FunctionSpec kInit = {"init Orvane", "init Orvane", "init Orvane", Binding::SelfOnly, 1,
                            "module", 1, "", exec_body};

int exec(PyObject* module) {
  if (g_module) {
    if (g_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'Orvane' has already been imported. Re-initialisation is not supported.");
    return -1;
  }
  const char* runtime = Py_GetVersion();
  if (!version_matches(kBuiltFor, runtime)) {
    char message[200];
    std::snprintf(message, sizeof message,
                  "compiletime version %s of module '%.100s' does not match runtime version %s",
                  kBuiltFor, "Orvane", runtime_major_minor(runtime).c_str());
    if (PyErr_WarnEx(PyExc_RuntimeWarning, message, 1) < 0) return -1;
  }
  if (!ready_function_type()) return -1;
  PyObject* args[] = {module};
  PyObject* result = run_body(kInit, args);
  if (result) {
    Py_DECREF(result);
    return 0;
  }
  // Drop the recorded module so that the next import starts afresh.
  Py_CLEAR(g_module);
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init Orvane");
  return -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "Orvane",  // m_name
    nullptr,   // m_doc
    0,         // m_size
    nullptr,   // m_methods
    slots,     // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

}  // namespace

namespace {
PyObject* g_open = nullptr;
}  // namespace

void take_open(PyObject* builtins) {
  PyObject* open = PyObject_GetAttr(builtins, S.open);
  if (!open) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", S.open);
    raise_pending();
  }
  Py_XSETREF(g_open, open);
}

PyObject* builtin_open() { return g_open; }

}  // namespace orvane

// Before 3.9 PyMODINIT_FUNC does not mark the entry point visible, and the build hides every other
// symbol; say it here so that PyInit_Orvane is the one exported symbol on every version.
#if PY_VERSION_HEX < 0x03090000 && !defined(_WIN32)
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_Orvane(void);
#endif

PyMODINIT_FUNC PyInit_Orvane(void) { return PyModuleDef_Init(&orvane::definition); }
