// What the module front shares with the rest of the module.
#pragma once

#include "module/function.h"

namespace orvane {

// The function specs of the module, defined beside their bodies.
extern const FunctionSpec kGetNow;

// The class orvaneClass, made by calling `type` with its name, no bases and its namespace.
Ref make_controller_class();

// The builtin `open`, taken from builtins once by the exec step and used from then on.
void take_open(PyObject* builtins);
PyObject* builtin_open();

// The stand-alone block: binds the fixed defaults in the namespace and runs one job.
void run_standalone(Frame& fr);

}  // namespace orvane
