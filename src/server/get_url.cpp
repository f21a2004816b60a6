// orvaneClass.get_url: every row of the URL database's table `urldb` with the given url_name.
#include "controller/controller.h"
#include "module/strings.h"

namespace orvane {

namespace {
Ref get_url(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  PyObject* urlName = a[1];
  fr.at(81); Ref conn = call(attr(name(S.sqlite3), S.connect), {attr(self, S.urldb)});
  try {
    fr.at(82); Ref cursor = method(conn, S.cursor);
    // The name is bound as a parameter, never pasted into the statement: a quote in it cannot
    // change what runs.
    fr.at(83); Ref sql = Ref::borrow(S.select_url);
    fr.at(84); method(cursor, S.execute, {sql, tuple({str(urlName)})});
    fr.at(85); Ref g = method(cursor, S.fetchall);
    fr.at(86); method(conn, S.close);
    fr.at(87); return g;
  } catch (PyError&) {
    // Release the database handle also on failure, keeping the exception that ended the lookup.
    PendingException failure;
    PyObject* r = PyObject_CallMethodObjArgs(conn.get(), S.close, nullptr);
    if (r) Py_DECREF(r); else PyErr_Clear();
    failure.reraise();
  }
}
}  // namespace

const FunctionSpec kGetUrl = {"get_url", "orvaneClass.get_url", "Orvane.orvaneClass.get_url",
                              Binding::Named, 80, "self,urlName", 2, "conn,cursor,sql,g", get_url};

}  // namespace orvane
