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
  // Swap the caught exception into the innermost state, keeping what was there. PyErr_SetExcInfo
  // would not do: PyErr_GetExcInfo answers the topmost exception of any outer state, and writing
  // that back would leave it in a generator's own state after the clause.
  state_ = PyThreadState_Get()->exc_info;
#if PY_VERSION_HEX >= 0x030B0000
  Py_XDECREF(type);
  Py_XDECREF(tb);
  saved_value_ = state_->exc_value;
  state_->exc_value = value;
#else
  saved_type_ = state_->exc_type;
  saved_value_ = state_->exc_value;
  saved_tb_ = state_->exc_traceback;
  state_->exc_type = type;
  state_->exc_value = value;
  state_->exc_traceback = tb;
#endif
}

Caught::~Caught() {
#if PY_VERSION_HEX >= 0x030B0000
  PyObject* value = state_->exc_value;
  state_->exc_value = saved_value_;
  Py_XDECREF(value);
#else
  PyObject* type = state_->exc_type;
  PyObject* value = state_->exc_value;
  PyObject* tb = state_->exc_traceback;
  state_->exc_type = saved_type_;
  state_->exc_value = saved_value_;
  state_->exc_traceback = saved_tb_;
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
#endif
}

}  // namespace orvane
