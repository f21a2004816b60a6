// orvaneClass.stopCut: ends every running splitter, then deletes the subfolders of the save folder
// that appeared since run took its snapshot: the partial output of the stopped job. Every failure is
// printed as a traceback and the call returns normally.
#include "controller/controller.h"
#include "module/strings.h"
#include "platform/stop.h"
#include "report/report.h"

namespace orvane {

namespace {

Ref stop_cut(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  try {
    fr.at(341); stop_splitters(host_platform());
    fr.at(342); set_attr(self, S.newDir, Ref::steal(PySet_New(nullptr)));
    fr.at(343); Ref f = call(attr(name(S.os), S.listdir), {attr(self, S.save_pic_path)});
    fr.at(344); Ref names = iter(f);
                while (Ref i = next(names)) {
    fr.at(345);   Ref dir = call(os_path(S.join), {attr(self, S.save_pic_path), i});
    fr.at(346);   if (truthy(call(os_path(S.isdir), {dir}))) {
    fr.at(347);     method(attr(self, S.newDir), S.add, {dir});
                  }
    fr.at(344); }
    fr.at(348); Ref dir_names = sub(attr(self, S.newDir), attr(self, S.oldDir));
    fr.at(349); Report out(self);
                out(concat(S.new_prefix, str(attr(self, S.newDir))));
    fr.at(350); out(concat(S.old_prefix, str(attr(self, S.oldDir))));
    fr.at(351); out(dir_names);
    fr.at(352); Ref paths = iter(dir_names);
                while (Ref i = next(paths)) {
    fr.at(353);   call(attr(name(S.shutil), S.rmtree), {i});
    fr.at(352); }
  } catch (PyError&) {
    Caught failure(fr);
    fr.at(354); call(attr(name(S.traceback), S.print_exc));
  }
  fr.at(355); return none();
}

}  // namespace

const FunctionSpec kStopCut = {"stopCut", "orvaneClass.stopCut", "Orvane.orvaneClass.stopCut",
                               Binding::SelfOnly, 340, "self", 1, "f,i,dir,dir_names", stop_cut};

}  // namespace orvane
