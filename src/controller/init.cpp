// orvaneClass.__init__: stores the job's settings as given; checks happen when a job runs.
#include "controller/controller.h"
#include "module/strings.h"

namespace orvane {

namespace {
Ref init(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  fr.at(32); set_attr(self, S.user, S.empty);
  fr.at(33); set_attr(self, S.src_pdf_path, a[1]);
  fr.at(34); set_attr(self, S.save_pic_path, a[2]);
  fr.at(35); set_attr(self, S.processors, a[3]);
  fr.at(36); set_attr(self, S.COLOR_THRESHHOLD, a[4]);
  fr.at(37); set_attr(self, S.token, a[5]);
  fr.at(38); set_attr(self, S.run_code, S.one);
  fr.at(39); set_attr(self, S.urldb, a[6]);
  fr.at(40); set_attr(self, S.PdfExePath, a[7]);
  fr.at(41); set_attr(self, S.communication, a[8]);
  fr.at(42); return Ref::borrow(Py_None);
}
}  // namespace

const FunctionSpec kInitMethod = {
    "__init__", "orvaneClass.__init__", "Orvane.orvaneClass.__init__", Binding::Named, 31,
    "self,src_pdf_path,save_pic_path,processors,COLOR_THRESHHOLD,LoginToken,urldb,PdfExePath,"
    "communication",
    8, "", init};

}  // namespace orvane
