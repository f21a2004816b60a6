// requests bounds each socket read by the read time-out, never the reply as a whole: a service that
// trickles its reply a byte at a time, each within the time-out, would hold the job for as long as it
// likes. So the body is asked for as a stream and read here, with a timer standing by that shuts the
// connection's socket down at the deadline; the blocked read then sees the connection end.
#include "server/reply_deadline.h"

#include "module/strings.h"

#include <algorithm>
#include <chrono>

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

// The connect and read time-outs added up: the longest a request may take.
double request_deadline_seconds() {
  double total = 0;
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(S.request_timeout); ++k)
    total += PyLong_AsDouble(PyTuple_GET_ITEM(S.request_timeout, k));
  return total;
}

// obj.name, or an empty Ref when obj has no such attribute (or it is None).
Ref optional_attr(Handle obj, Handle name) {
  if (!obj.get()) return Ref();
  PyObject* value = PyObject_GetAttr(obj.get(), name.get());
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
    PyErr_Clear();
    return Ref();
  }
  if (value == Py_None) {
    Py_DECREF(value);
    return Ref();
  }
  return Ref::steal(value);
}

Ref imported(const char* module) { return Ref::steal(PyImport_ImportModule(module)); }

// A started timer that will shut the socket down; cancelled when the read is over, however it ended.
class Watchdog {
 public:
  Watchdog(Handle sock, double seconds) {
    Ref shutdown = attr(sock, S.shutdown);
    Ref how = attr(imported("socket"), S.SHUT_RDWR);
    timer_ = call(attr(imported("threading"), S.Timer),
                  {Ref::steal(PyFloat_FromDouble(seconds)), shutdown, tuple({how})});
    set_attr(timer_, S.daemon, Py_True);  // never holds the interpreter's exit
    method(timer_, S.start);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    PendingException unwinding;  // kept aside and put back as it was
    PyObject* done = PyObject_CallMethodObjArgs(timer_.get(), S.cancel, nullptr);
    Py_XDECREF(done);
    PyErr_Clear();
    unwinding.restore();
  }

 private:
  Ref timer_;
};

}  // namespace

Ref post_within_deadline(Handle post, Handle url, Handle data, Handle headers) {
  const Clock::time_point start = Clock::now();
  Ref response = call_kw(post, {},
                         {{S.url, url}, {S.data, data}, {S.headers, headers},
                          {S.timeout, S.request_timeout}, {S.stream, Py_True}});
  // The socket under a reply of requests (through urllib3); a reply without one has nothing left to
  // read from the network, or reads it in ways this cannot reach, bounded then by the read time-out.
  Ref raw = optional_attr(response, S.raw);
  Ref sock = optional_attr(optional_attr(raw, S.connection), S.sock);
  if (!sock) return response;
  const double spent = std::chrono::duration<double>(Clock::now() - start).count();
  Watchdog watchdog(sock, std::max(0.0, request_deadline_seconds() - spent));
  attr(response, S.content);  // reads the whole body, as a request without `stream` does
  return response;
}

}  // namespace orvane
