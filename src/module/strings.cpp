#include "module/strings.h"

namespace orvane {

Strings S;

namespace {
bool make(PyObject*& slot, const char* text) {
  if (slot) return true;
  slot = PyUnicode_InternFromString(text);
  return slot != nullptr;
}
}  // namespace

bool make_strings() {
#define ORVANE_MAKE_NAME(n) \
  if (!make(S.n, #n)) return false;
#define ORVANE_MAKE_TEXT(n, text) \
  if (!make(S.n, text)) return false;
  ORVANE_NAMES(ORVANE_MAKE_NAME)
  ORVANE_TEXTS(ORVANE_MAKE_TEXT)
#undef ORVANE_MAKE_NAME
#undef ORVANE_MAKE_TEXT
  // A slot already filled by an earlier, failed import is kept.
  if (!S.zero && !(S.zero = PyLong_FromLong(0))) return false;
  if (!S.one && !(S.one = PyLong_FromLong(1))) return false;
  if (!S.three && !(S.three = PyLong_FromLong(3))) return false;
  if (!S.four && !(S.four = PyLong_FromLong(4))) return false;
  if (!S.nineteen && !(S.nineteen = PyLong_FromLong(19))) return false;
  if (!S.status_ok && !(S.status_ok = PyLong_FromLong(200))) return false;
  if (!S.pause_low && !(S.pause_low = PyFloat_FromDouble(0.5))) return false;
  if (!S.pause_high && !(S.pause_high = PyFloat_FromDouble(1.0))) return false;
  if (!S.empty_tuple && !(S.empty_tuple = PyTuple_New(0))) return false;
  if (!S.request_timeout && !(S.request_timeout = Py_BuildValue("(ii)", 5, 30))) return false;
  return true;
}

}  // namespace orvane
