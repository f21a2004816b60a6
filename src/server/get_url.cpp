// orvaneClass.get_url: every row of the URL database's table `urldb` with the given url_name.
#include "controller/controller.h"
#include "module/strings.h"

namespace orvane {

namespace {
// Releases the database file when get_url's connection goes, on return and while an exception
// unwinds. The method itself calls nothing on the connection but `cursor`: a front end may rebind
// `sqlite3` with connections that have no `close`, or that it shares and keeps open, and those
// are only let go. A genuine sqlite3 connection is closed through its type, because dropping the
// last reference is not enough from CPython 3.10 on: the connection and its statement cache form
// a reference cycle, and the file would stay open until the cycle collector happens to run.
class DatabaseRelease {
 public:
  explicit DatabaseRelease(PyObject* conn) : conn_(conn) {}
  DatabaseRelease(const DatabaseRelease&) = delete;
  DatabaseRelease& operator=(const DatabaseRelease&) = delete;
  ~DatabaseRelease() {
    PendingException unwinding;  // kept aside and put back as it was
    PyObject* module = PyImport_GetModule(S.sqlite3);  // the one imported by the exec step
    PyObject* type = module ? PyObject_GetAttr(module, S.Connection) : nullptr;
    if (type && PyType_Check(type) && PyObject_TypeCheck(conn_, reinterpret_cast<PyTypeObject*>(type))) {
      PyObject* closed = PyObject_CallMethodObjArgs(type, S.close, conn_, nullptr);
      Py_XDECREF(closed);
    }
    Py_XDECREF(type);
    Py_XDECREF(module);
    PyErr_Clear();
    unwinding.restore();
  }

 private:
  PyObject* conn_;
};

Ref get_url(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  PyObject* urlName = a[1];
  fr.at(81); Ref conn = call(attr(name(S.sqlite3), S.connect), {attr(self, S.urldb)});
  DatabaseRelease release(conn.get());
  fr.at(82); Ref cursor = method(conn, S.cursor);
  // The name is bound as a parameter, never pasted into the statement: a quote in it cannot
  // change what runs.
  fr.at(83); Ref sql = Ref::borrow(S.select_url);
  fr.at(84); method(cursor, S.execute, {sql, tuple({str(urlName)})});
  fr.at(85); Ref g = method(cursor, S.fetchall);
  fr.at(86); return g;
}
}  // namespace

const FunctionSpec kGetUrl = {"get_url", "orvaneClass.get_url", "Orvane.orvaneClass.get_url",
                              Binding::Named, 80, "self,urlName", 2, "conn,cursor,sql,g", get_url};

}  // namespace orvane
