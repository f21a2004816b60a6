// The one rule by which every method reports to the user: to the front end's message sink when the
// controller's `communication` is true, else to standard output.
#pragma once

#include "module/runtime.h"

namespace orvane {

// One truth test of `communication`, then any number of reports that follow it. Most reports are
// `report(self, value)`; a step that reports two values in a row makes one Report and calls it twice,
// so that both go to the same place even if the sink changes in between.
class Report {
 public:
  explicit Report(Handle self);
  // mainPrint(value) on the sink (read afresh), or print(value).
  void operator()(Handle value) const;
  // The one two-argument report: mainPrint(level, text), or print((level, text)).
  void warning(Handle level, Handle text) const;

 private:
  PyObject* self_;
  bool to_sink_;
};

inline void report(Handle self, Handle value) { Report{self}(value); }

}  // namespace orvane
