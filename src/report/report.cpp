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

}  // namespace

Report::Report(Handle self) : self_(self.get()), to_sink_(truthy(attr(self, S.communication))) {}

void Report::operator()(Handle value) const {
  if (to_sink_)
    method(attr(self_, S.communication), S.mainPrint, {value});
  else
    call(builtin_print(), {value});
}

void Report::warning(Handle level, Handle text) const {
  if (to_sink_)
    method(attr(self_, S.communication), S.mainPrint, {level, text});
  else
    call(builtin_print(), {tuple({level, text})});
}

}  // namespace orvane
