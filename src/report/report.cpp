#include "report/report.h"

#include "module/strings.h"

namespace orvane {

namespace {
// The builtin print, looked up at the first report that needs it and kept.
PyObject* g_print = nullptr;

PyObject* builtin_print() {
  if (!g_print) {
    PyObject* builtins = PyImport_AddModule("builtins");  // borrowed
    if (!builtins) raise_pending();
    g_print = check(PyObject_GetAttr(builtins, S.print));
  }
  return g_print;
}

Ref sink_method(PyObject* self) { return attr(attr(self, S.communication), S.mainPrint); }
}  // namespace

Report::Report(Handle self) : self_(self.get()), to_sink_(truthy(attr(self, S.communication))) {}

void Report::operator()(Handle value) const {
  if (to_sink_)
    call(sink_method(self_), {value});
  else
    call(builtin_print(), {value});
}

void Report::warning(Handle level, Handle text) const {
  if (to_sink_)
    call(sink_method(self_), {level, text});
  else
    call(builtin_print(), {tuple({level, text})});
}

}  // namespace orvane
