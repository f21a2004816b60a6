// orvaneClass.checkSpace: refuses a job when a file anywhere below the source folder has a blank
// directly before ".pdf" in its name; every such name is reported.
#include "controller/controller.h"
#include "module/strings.h"
#include "report/report.h"

namespace orvane {

namespace {
Ref check_space(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  fr.at(201); Ref file_path = attr(self, S.src_pdf_path);
  fr.at(202); Ref filename = Ref::borrow(S.empty);
  fr.at(203); Ref walk = iter(call(attr(name(S.os), S.walk), {file_path}));
              while (Ref triple = next(walk)) {
                [[maybe_unused]] auto [parent, dir, files] = unpack<3>(triple);
  fr.at(204);   Ref names = iter(files);
                while (Ref i = next(names)) {
  fr.at(205);     if (contains(i, S.space_pdf)) {
  fr.at(206);       filename = concat(concat(filename, i), S.three_blanks);
  fr.at(207);       report(self, concat(concat(S.msg_pdf_prefix, i), S.msg_pdf_suffix));
  fr.at(208);       set_attr(self, S.run_code, S.zero);
                  }
  fr.at(204);   }
  fr.at(203); }
  fr.at(209); if (truthy(filename)) {
  fr.at(210);   report(self, S.msg_pdf_summary);
  fr.at(211);   return Ref::borrow(Py_False);
              }
  fr.at(212); return Ref::borrow(Py_True);
}
}  // namespace

const FunctionSpec kCheckSpace = {"checkSpace", "orvaneClass.checkSpace",
                                  "Orvane.orvaneClass.checkSpace", Binding::SelfOnly, 200, "self",
                                  1, "file_path,filename,parent,dir,files,i", check_space};

}  // namespace orvane
