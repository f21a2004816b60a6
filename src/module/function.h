// The module's function objects and the record of "which statement is running".
//
// Every function of the module (get_now and the methods of orvaneClass) is a FunctionSpec: its names,
// its way of binding arguments, its parameter and local names, and a body. The body receives a Frame
// and the bound arguments; it marks each statement with fr.at(line) before running it, so that the
// traceback entry added when an exception leaves the function, or when one of its except clauses
// catches one, names the statement that failed. Line numbers are fixed per statement and are part of
// what callers see (the error log records them).
#pragma once

#include "module/runtime.h"

namespace orvane {

enum class Binding {
  NoArgs,    // f()
  SelfOnly,  // method(self): exactly one positional argument, supplied by method binding
  Named,     // every parameter by position or by keyword
};

struct FunctionSpec;

// One running call of a module function: which function, which statement.
struct Frame {
  const FunctionSpec& fn;
  int line;
  void at(int statement_line) { line = statement_line; }
};

using Body = Ref (*)(Frame& fr, PyObject* const* args);

struct FunctionSpec {
  const char* name;       // plain name, used in TypeError texts
  const char* qualname;   // "get_now", "orvaneClass.run"
  const char* full_name;  // name of the traceback entry: "Orvane.orvaneClass.run"
  Binding binding;
  int def_line;           // line of the definition; binding failures are reported there
  const char* params;     // parameter names, comma-separated
  int required;           // how many leading parameters have no default
  const char* locals;     // further local names, comma-separated ("" for none), for __code__
  Body body;
};

// Adds a traceback entry for the frame's function at its current statement to the pending exception.
void add_traceback(const Frame& fr);
// The same for code that is not a function of the class (the exec step: "init Orvane").
void add_traceback(const char* full_name, int line);

// An except clause. Constructed inside `catch (PyError&)` once the clause has decided to take the
// pending exception: it adds the function's traceback entry, takes the exception off the error
// indicator and makes it the exception being handled (what traceback.print_exc and implicit chaining
// see). The destructor restores the handled exception that was current before, as leaving an except
// clause does, whether the clause ends normally or by a new exception.
class Caught {
 public:
  explicit Caught(const Frame& fr);
  ~Caught();
  Caught(const Caught&) = delete;
  Caught& operator=(const Caught&) = delete;
  PyObject* value() const { return value_.get(); }

 private:
  Ref value_;
  // The thread's innermost exception state (the running generator's own, inside a generator) and
  // what it held before: restored as it was, as the interpreter's own except clauses do.
  _PyErr_StackItem* state_;
#if PY_VERSION_HEX < 0x030B0000
  PyObject* saved_type_;
  PyObject* saved_tb_;
#endif
  PyObject* saved_value_;
};

// True when the pending exception is an instance of Exception (what `except Exception` takes).
bool pending_is_exception();

// Makes the function type ready; false with an exception set on failure.
bool ready_function_type();
// A new function object; its FunctionSpec must outlive the process (they are all static).
Ref make_function(const FunctionSpec& spec);

// Runs a body under the rules of a call entry: a PyError or any C++ exception becomes a NULL return
// with the traceback entry added. Used by the function type and by the exec step.
PyObject* run_body(const FunctionSpec& spec, PyObject* const* args);

}  // namespace orvane
