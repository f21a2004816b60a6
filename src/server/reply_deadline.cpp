// requests bounds each socket read by the read time-out, never the reply as a whole: a service that
// trickles its reply a byte at a time, each within the time-out, would hold the job for as long as it
// likes. So the request, made exactly as before, runs on a thread of its own that is awaited until the
// deadline at most. Without `stream`, the library reads the whole body inside the call, so the wait
// covers the head and the body alike.
#include "server/reply_deadline.h"

#include "module/strings.h"
#include "server/own_thread.h"

#include <utility>

namespace orvane {

namespace {

// The connect and read time-outs added up: the longest a request may take.
double request_deadline_seconds() {
  double total = 0;
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(S.request_timeout); ++k)
    total += PyLong_AsDouble(PyTuple_GET_ITEM(S.request_timeout, k));
  return total;
}

// A request whose reply did not come before its deadline fails as one whose read timed out:
// requests' ReadTimeout, or the interpreter's TimeoutError without that library.
[[noreturn]] void raise_late_reply(double seconds) {
  Ref type;
  try {
    type = attr(Ref::steal(PyImport_ImportModule("requests.exceptions")), S.ReadTimeout);
  } catch (PyError&) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
    PyErr_Clear();
    type = Ref::borrow(PyExc_TimeoutError);
  }
  Ref limit = Ref::steal(PyFloat_FromDouble(seconds));
  PyErr_Format(type.get(), "no whole reply within %S s, the request's deadline", limit.get());
  raise_pending();
}

}  // namespace

Ref post_within_deadline(Handle post, Handle url, Handle data, Handle headers) {
  const double deadline = request_deadline_seconds();
  Ref kwargs = Ref::steal(PyDict_New());
  const std::pair<Handle, Handle> arguments[] = {
      {S.url, url}, {S.data, data}, {S.headers, headers}, {S.timeout, S.request_timeout}};
  for (const auto& [key, value] : arguments) check(PyDict_SetItem(kwargs.get(), key.get(), value.get()));
  Ref response = call_on_own_thread(post, kwargs, deadline);
  if (!response) raise_late_reply(deadline);
  return response;
}

}  // namespace orvane
