// orvaneClass.run: the job entry. Checks the folders and the file names, snapshots the save folder,
// announces the job, then drives it in the caller's thread. Nothing is caught here.
#include "controller/controller.h"
#include "module/strings.h"
#include "report/report.h"

namespace orvane {

Ref os_path(Handle fn) { return attr(attr(name(S.os), S.path), fn); }

namespace {
Ref run(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  fr.at(51); if (!truthy(call(os_path(S.isdir), {attr(self, S.src_pdf_path)}))) {
  fr.at(52);   report(self, S.msg_src_missing);
  fr.at(53);   return none();
             }
  fr.at(54); if (!truthy(call(os_path(S.isdir), {attr(self, S.save_pic_path)}))) {
  fr.at(55);   report(self, S.msg_save_missing);
  fr.at(56);   return none();
             }
  fr.at(57); if (contains(attr(self, S.src_pdf_path), S.quote)) {
  fr.at(58);   report(self, S.msg_src_quote);
  fr.at(59);   return none();
             }
  fr.at(60); if (contains(attr(self, S.save_pic_path), S.quote)) {
  fr.at(61);   report(self, S.msg_save_quote);
  fr.at(62);   return none();
             }
  fr.at(63); if (!truthy(method(self, S.checkSpace))) {
  fr.at(64);   return none();
             }
  // The snapshot that cancellation compares against: the save folder's subfolders before the job.
  // It is filled before it is published, so a stopCut on another thread never compares against a
  // half-made snapshot (and deletes folders that were there before the job).
  fr.at(65); Ref oldDir = Ref::steal(PySet_New(nullptr));
  fr.at(66); Ref ALlFileList = call(attr(name(S.os), S.listdir), {attr(self, S.save_pic_path)});
  fr.at(67); Ref names = iter(ALlFileList);
             while (Ref i = next(names)) {
  fr.at(68);   Ref dir = call(os_path(S.join), {attr(self, S.save_pic_path), i});
  fr.at(69);   if (truthy(call(os_path(S.isdir), {dir}))) {
  fr.at(70);     check(PySet_Add(oldDir.get(), dir.get()));
               }
  fr.at(67); }
  fr.at(65); set_attr(self, S.oldDir, oldDir);
  fr.at(71); method(self, S.checkToken, {S.three, S.job_name});
  fr.at(72); if (truthy(attr(self, S.run_code))) {
  fr.at(73);   method(self, S.true_run);
  fr.at(74);   return none();
             }
  fr.at(75); report(self, S.msg_job_failed);
  fr.at(76); return none();
}
}  // namespace

const FunctionSpec kRun = {"run", "orvaneClass.run", "Orvane.orvaneClass.run", Binding::SelfOnly, 50,
                           "self", 1, "ALlFileList,i,dir", run};

}  // namespace orvane
