// requests bounds each socket read by the read time-out, never the reply as a whole: a service that
// trickles its reply a byte at a time, each within the time-out, would hold the job for as long as it
// likes. The library hands over the reply's connection only once the head has come, so the request
// itself runs on a thread of its own that is awaited until the deadline at most; the body is then asked
// for as a stream and read here, with a timer standing by that shuts the connection's socket down at
// the deadline, so that the blocked read sees the connection end.
#include "server/reply_deadline.h"

#include "module/strings.h"
#include "server/own_thread.h"

#include <algorithm>
#include <chrono>
#include <utility>

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

Ref imported(const char* module) { return Ref::steal(PyImport_ImportModule(module)); }

// A request whose reply did not come before its deadline fails as one whose read timed out:
// requests' ReadTimeout, or the interpreter's TimeoutError without that library.
[[noreturn]] void raise_late_reply(double seconds) {
  Ref type;
  try {
    type = attr(imported("requests.exceptions"), S.ReadTimeout);
  } catch (PyError&) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
    PyErr_Clear();
    type = Ref::borrow(PyExc_TimeoutError);
  }
  Ref limit = Ref::steal(PyFloat_FromDouble(seconds));
  PyErr_Format(type.get(), "no whole reply within %S s, the request's deadline", limit.get());
  raise_pending();
}

// A socket object of our own on the connection under a reply of requests (through urllib3), or an
// empty Ref when there is none to reach: a reply read to its end already, or one of another library.
// It is a duplicate, so that the timer never touches a descriptor the library may have closed and the
// system handed to someone else; shutting it down still ends the connection both share.
Ref own_socket(Handle raw) {
  try {
    Ref fd = method(raw, S.fileno);
    Ref shared = call_kw(attr(imported("socket"), S.socket), {}, {{S.fileno, fd}});
    PyObject* own = PyObject_CallMethodObjArgs(shared.get(), S.dup, nullptr);
    PendingException failed;  // detached first, so that the library's descriptor stays open
    method(shared, S.detach);
    failed.restore();
    return Ref::steal(own);
  } catch (PyError&) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
    PyErr_Clear();
    return Ref();
  }
}

// A started timer that shuts the socket down; when the read is over, however it ended, the timer
// is cancelled and the socket closed.
class Watchdog {
 public:
  Watchdog(Handle sock, double seconds) : sock_(Ref::borrow(sock.get())) {
    Ref how = attr(imported("socket"), S.SHUT_RDWR);
    timer_ = call(attr(imported("threading"), S.Timer),
                  {Ref::steal(PyFloat_FromDouble(seconds)), attr(sock, S.shutdown), tuple({how})});
    set_attr(timer_, S.daemon, Py_True);  // never holds the interpreter's exit
    method(timer_, S.start);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    PendingException unwinding;  // kept aside and put back as it was
    if (timer_) {
      PyObject* cancelled = PyObject_CallMethodObjArgs(timer_.get(), S.cancel, nullptr);
      Py_XDECREF(cancelled);
      PyErr_Clear();
    }
    PyObject* closed = PyObject_CallMethodObjArgs(sock_.get(), S.close, nullptr);
    Py_XDECREF(closed);
    PyErr_Clear();
    unwinding.restore();
  }

 private:
  Ref sock_;
  Ref timer_;
};

}  // namespace

Ref post_within_deadline(Handle post, Handle url, Handle data, Handle headers) {
  const Clock::time_point start = Clock::now();
  const double deadline = request_deadline_seconds();
  Ref kwargs = Ref::steal(PyDict_New());
  const std::pair<Handle, Handle> arguments[] = {{S.url, url}, {S.data, data}, {S.headers, headers},
                                                 {S.timeout, S.request_timeout}, {S.stream, Py_True}};
  for (const auto& [key, value] : arguments) check(PyDict_SetItem(kwargs.get(), key.get(), value.get()));
  Ref response = call_on_own_thread(post, kwargs, deadline);
  if (!response) raise_late_reply(deadline);
  // A stand-in without `raw` holds its whole reply already.
  PyObject* raw = PyObject_GetAttr(response.get(), S.raw);
  if (!raw) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
    PyErr_Clear();
    return response;
  }
  Ref raw_ref = Ref::steal(raw);
  Ref sock = own_socket(raw_ref);
  if (!sock) {
    attr(response, S.content);  // bounded by the read time-out alone
    return response;
  }
  const double spent = std::chrono::duration<double>(Clock::now() - start).count();
  Watchdog watchdog(sock, std::max(0.0, deadline - spent));
  attr(response, S.content);  // reads the whole body, as a request without `stream` does
  return response;
}

}  // namespace orvane
