// Traceback entries for the module's own code.
//
// The module has no Python frames, so each entry is made from a small code object named after the
// function (file name "Orvane", first line the failing statement's) and a frame whose globals are the
// module namespace. PyCode_NewEmpty's line table maps every instruction to its first line, and a fresh
// frame has not started executing, so tb_lineno is that line on every supported interpreter, also
// where frames are opaque (3.11 on).
#include "module/function.h"

#include <frameobject.h>  // after Python.h, which function.h brings in

namespace orvane {

namespace {

// Fetches and restores the pending exception around the work of making the entry, which must not
// disturb it.
struct PendingError {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PendingError() { PyErr_Fetch(&type, &value, &tb); }
  void restore() {
    PyErr_Restore(type, value, tb);
    type = value = tb = nullptr;
  }
  ~PendingError() {
    if (type || value || tb) PyErr_Restore(type, value, tb);
  }
};

}  // namespace

void add_traceback(const char* full_name, int line) {
  PyObject* globals = namespace_dict();
  if (!globals) return;  // before the namespace exists there is no frame to show
  PendingError pending;
  PyCodeObject* code = PyCode_NewEmpty("Orvane", full_name, line);
  PyFrameObject* frame = nullptr;
  if (code) frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
  if (!frame) {
    // Making the entry failed (memory): keep the original exception, without the entry.
    PyErr_Clear();
    Py_XDECREF(code);
    return;
  }
  pending.restore();
  PyTraceBack_Here(frame);
  Py_DECREF(frame);
  Py_DECREF(code);
}

void add_traceback(const Frame& fr) { add_traceback(fr.fn.full_name, fr.line); }

bool pending_is_exception() { return PyErr_ExceptionMatches(PyExc_Exception) != 0; }

Caught::Caught(const Frame& fr) {
  add_traceback(fr);
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  value_ = Ref::borrow(value);
  PyErr_GetExcInfo(&saved_type_, &saved_value_, &saved_tb_);
  PyErr_SetExcInfo(type, value, tb);  // steals the three references
}

Caught::~Caught() { PyErr_SetExcInfo(saved_type_, saved_value_, saved_tb_); }

}  // namespace orvane
