// The waiting thread and the calling thread share one Pending record, kept alive by whichever lets
// go of it last. Both look at and change it only while holding the interpreter's lock, and never
// call into the interpreter between a look and the change that depends on it, so a call that
// returns just as its waiter gives up is either taken by the waiter or closed by its own thread,
// never both and never neither.
#include "server/own_thread.h"

#include "module/strings.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

const char* const kPendingName = "Orvane.pending_call";

struct Pending {
  PyObject* callable = nullptr;
  PyObject* kwargs = nullptr;
  PyObject* result = nullptr;                                  // what the call returned
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;  // or what it raised
  bool done = false;       // the call has returned or raised
  bool abandoned = false;  // nobody waits for it any more
};

Pending* pending_of(PyObject* capsule) {
  return static_cast<Pending*>(PyCapsule_GetPointer(capsule, kPendingName));
}

void drop_pending(PyObject* capsule) {
  Pending* p = pending_of(capsule);
  if (!p) return;
  Py_XDECREF(p->callable);
  Py_XDECREF(p->kwargs);
  Py_XDECREF(p->result);
  Py_XDECREF(p->type);
  Py_XDECREF(p->value);
  Py_XDECREF(p->tb);
  delete p;
}

// The thread's target. Plain C API calls only, and no C++ object that needs its destructor while
// the call runs: a daemon thread that wakes while the interpreter exits is ended where it stands.
PyObject* run_pending(PyObject* capsule, PyObject*) {
  Pending* p = pending_of(capsule);
  if (!p) return nullptr;
  PyObject* no_args = PyTuple_New(0);
  if (!no_args) return nullptr;
  PyObject* result = PyObject_Call(p->callable, no_args, p->kwargs);
  Py_DECREF(no_args);
  p->done = true;
  if (!p->abandoned) {
    if (result)
      p->result = result;
    else
      PyErr_Fetch(&p->type, &p->value, &p->tb);
    Py_RETURN_NONE;
  }
  if (result) {
    PyObject* closed = PyObject_CallMethodObjArgs(result, S.close, nullptr);
    Py_XDECREF(closed);
    Py_DECREF(result);
  }
  PyErr_Clear();
  Py_RETURN_NONE;
}

PyMethodDef run_pending_def = {"pending_call", run_pending, METH_NOARGS, nullptr};

// Marks the call abandoned on every way out of the wait that has not taken its outcome (the time
// ran out, or the wait itself raised, e.g. on an interrupt).
class Waiter {
 public:
  explicit Waiter(Pending* p) : p_(p) {}
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;
  ~Waiter() {
    if (!p_->done) p_->abandoned = true;
  }

 private:
  Pending* p_;
};

}  // namespace

Ref call_on_own_thread(Handle callable, Handle kwargs, double seconds) {
  Pending* p = new Pending;
  PyObject* made = PyCapsule_New(p, kPendingName, drop_pending);
  if (!made) {
    delete p;
    raise_pending();
  }
  Ref capsule = Ref::steal(made);  // from here on it owns p
  p->callable = Ref::borrow(callable.get()).release();
  p->kwargs = Ref::borrow(kwargs.get()).release();

  Ref target = Ref::steal(PyCFunction_New(&run_pending_def, capsule.get()));
  Ref threading = Ref::steal(PyImport_ImportModule("threading"));
  Ref thread = call_kw(attr(threading, S.Thread), {},
                       {{S.target, target}, {S.daemon, Py_True}});  // never holds the exit
  Waiter waiter(p);
  method(thread, S.start);
  method(thread, S.join, {Ref::steal(PyFloat_FromDouble(std::max(0.0, seconds)))});
  if (!p->done) return Ref();
  if (p->type) {
    PyErr_Restore(std::exchange(p->type, nullptr), std::exchange(p->value, nullptr),
                  std::exchange(p->tb, nullptr));
    raise_pending();
  }
  return Ref::steal(std::exchange(p->result, nullptr));
}

}  // namespace orvane
