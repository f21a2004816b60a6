// orvaneClass is a plain class: `type` called with its name, no bases and its namespace, so it
// behaves like a class written in Python (instances have a __dict__ and take any attribute).
#include "controller/controller.h"
#include "module/module.h"
#include "module/strings.h"

namespace orvane {

Ref make_controller_class() {
  Ref ns = Ref::steal(PyDict_New());
  check(PyDict_SetItem(ns.get(), S.__module__, S.module_name));
  check(PyDict_SetItem(ns.get(), S.__qualname__, S.class_name));
  for (const FunctionSpec* spec :
       {&kInitMethod, &kRun, &kGetUrl, &kCheckToken, &kCheckToken1, &kCheckSpace, &kTrueRun,
        &kStopCut}) {
    check(PyDict_SetItemString(ns.get(), spec->name, make_function(*spec).get()));
  }
  return call(reinterpret_cast<PyObject*>(&PyType_Type), {S.class_name, S.empty_tuple, ns});
}

}  // namespace orvane
