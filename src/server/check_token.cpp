// orvaneClass.checkToken and checkToken1: announce the start and the end of a job to the web service
// under the user's login token. A refusal is retried three times; a final refusal, a missing URL
// database or any failure clears run_code, which stops the job.
#include "controller/controller.h"
#include "module/strings.h"
#include "report/report.h"
#include "server/reply_deadline.h"

namespace orvane {

namespace {

// The two announcements run one procedure; they differ only in these points. Each has its own
// fixed statement lines (`base` + the offsets below).
struct Announcement {
  int base;
  PyObject* const* comments_template;  // start or end of the job
  bool token_before_headers;           // checkToken reports the token, then builds the headers
  bool report_first_reply;             // checkToken reports the first reply's text
  bool failure_as_text;                // checkToken1 reports str(e) rather than e
};

const Announcement kStart = {100, &S.start_template, true, true, false};
const Announcement kEnd = {150, &S.end_template, false, false, true};

Ref post(Handle url, Handle body, Handle headers) {
  Ref data = call(attr(name(S.json), S.dumps), {body});  // a fresh text for every request
  // The time-outs and the deadline keep a stalled or dripping service from holding the job thread.
  return post_within_deadline(attr(name(S.requests), S.post), url, data, headers);
}

Ref announce(Frame& fr, PyObject* const* a, const Announcement& v) {
  PyObject* self = a[0];
  PyObject* id = a[1];
  PyObject* comments = a[2];
  const int L = v.base;
  try {
    fr.at(L + 1); if (!truthy(call(os_path(S.exists), {attr(self, S.urldb)}))) {
    fr.at(L + 2);   report(self, S.msg_no_urldb);
    fr.at(L + 3);   set_attr(self, S.run_code, S.zero);
    fr.at(L + 4);   return Ref::borrow(Py_False);
                  }
                  Ref headers;
                  if (v.token_before_headers) {
    fr.at(L + 5);   report(self, attr(self, S.token));
    fr.at(L + 6);   headers = Ref::steal(PyDict_New());
                    check(PyDict_SetItem(headers.get(), S.token, attr(self, S.token).get()));
                  } else {
    fr.at(L + 5);   headers = Ref::steal(PyDict_New());
                    check(PyDict_SetItem(headers.get(), S.token, attr(self, S.token).get()));
    fr.at(L + 6);   report(self, attr(self, S.token));
                  }
    fr.at(L + 7); Ref dbText = method(self, S.get_url, {S.commit});
    fr.at(L + 8); if (!truthy(dbText)) {
    fr.at(L + 9);   return none();
                  }
    fr.at(L + 10); Ref url = item(item(dbText, 0), 1);
    fr.at(L + 11); Ref body = Ref::steal(PyDict_New());
                   check(PyDict_SetItem(body.get(), S.id, id));
                   check(PyDict_SetItem(body.get(), S.comments,
                                        method(*v.comments_template, S.format, {comments}).get()));
                   check(PyDict_SetItem(body.get(), S.pid, S.zero));
    fr.at(L + 12); Ref response = post(url, body, headers);
                   if (v.report_first_reply) {
    fr.at(L + 13);   report(self, attr(response, S.text));
                   }
    fr.at(L + 14); if (compare(attr(response, S.status_code), S.status_ok, Py_NE)) {
    fr.at(L + 15);   int num = 0;
    fr.at(L + 16);   while (num < 3) {
    fr.at(L + 17);     call(attr(name(S.time), S.sleep),
                            {call(attr(name(S.random), S.uniform), {S.pause_low, S.pause_high})});
    fr.at(L + 18);     response = post(url, body, headers);
    fr.at(L + 19);     if (compare(attr(response, S.status_code), S.status_ok, Py_EQ)) break;
    fr.at(L + 20);     if (num == 2) {
    fr.at(L + 21);       report(self, S.msg_token_expired);
    fr.at(L + 22);       set_attr(self, S.run_code, S.zero);
                       }
    fr.at(L + 23);     num += 1;
                     }
                   } else {
    fr.at(L + 24);   report(self, S.msg_updated);
                   }
    fr.at(L + 25); return none();
  } catch (PyError&) {
    if (!pending_is_exception()) throw;
    Caught e(fr);
    fr.at(L + 26); Report out(self);
                   out(S.msg_request_failed);
    fr.at(L + 27); if (v.failure_as_text) out(str(e.value())); else out(e.value());
    fr.at(L + 28); set_attr(self, S.run_code, S.zero);
    fr.at(L + 29); return none();
  }
}

Ref check_token(Frame& fr, PyObject* const* a) { return announce(fr, a, kStart); }
Ref check_token1(Frame& fr, PyObject* const* a) { return announce(fr, a, kEnd); }

}  // namespace

const FunctionSpec kCheckToken = {"checkToken", "orvaneClass.checkToken",
                                  "Orvane.orvaneClass.checkToken", Binding::Named, 100,
                                  "self,id,comments", 3,
                                  "headers,dbText,url,body,response,num,e", check_token};
const FunctionSpec kCheckToken1 = {"checkToken1", "orvaneClass.checkToken1",
                                   "Orvane.orvaneClass.checkToken1", Binding::Named, 150,
                                   "self,id,comments", 3,
                                   "headers,dbText,url,body,response,num,e", check_token1};

}  // namespace orvane
