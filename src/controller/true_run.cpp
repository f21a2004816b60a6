// orvaneClass.true_run: drives one split job. Reports the folders, warns about output paths that
// would be too long, settles the colour threshold and the worker count, makes the working folder,
// runs the splitter and relays its output, logs a failed splitter stage, and announces the end.
#include "controller/command.h"
#include "controller/controller.h"
#include "module/strings.h"
#include "report/report.h"

namespace orvane {

namespace {

// "请输入1-{}的整数" with the machine's processor count, asked afresh.
Ref refusal_text() { return method(S.msg_refusal_template, S.format, {call(name(S.cpu_count))}); }

Ref true_run(Frame& fr, PyObject* const* a) {
  PyObject* self = a[0];
  fr.at(231); { Report out(self);
                out(attr(self, S.src_pdf_path));
                out(attr(self, S.save_pic_path)); }
  fr.at(232); bool len_number = false;
  fr.at(233); if (truthy(call(os_path(S.exists), {attr(self, S.src_pdf_path)}))) {
  fr.at(234);   if (truthy(call(os_path(S.exists), {attr(self, S.save_pic_path)}))) {
  fr.at(235);     Ref walk = iter(call(attr(name(S.os), S.walk), {attr(self, S.src_pdf_path)}));
                  while (Ref triple = next(walk)) {
                    [[maybe_unused]] auto [parent, dirnames, filenames] = unpack<3>(triple);
  fr.at(236);       Ref names = iter(filenames);
                    while (Ref filename = next(names)) {
  fr.at(237);         Ref file_path = call(os_path(S.join), {parent, filename});
  fr.at(238);         Py_ssize_t pathLen = len(file_path) + len(attr(self, S.save_pic_path)) -
                                           len(attr(self, S.src_pdf_path));
  fr.at(239);         if (pathLen > 258) {
  fr.at(240);           len_number = true;
  fr.at(241);           report(self, concat(file_path, S.msg_path_too_long));
                      }
  fr.at(236);       }
  fr.at(235);     }
                } else {
  fr.at(242);     set_attr(self, S.run_code, S.zero);
  fr.at(243);     report(self, S.msg_save_gone);
                }
              } else {
  fr.at(244);   set_attr(self, S.run_code, S.zero);
  fr.at(245);   report(self, S.msg_src_gone);
              }
  fr.at(246); if (len_number && truthy(attr(self, S.run_code))) {
  fr.at(247);   report(self, S.msg_long_paths);
              }
  fr.at(248); if (!truthy(attr(self, S.COLOR_THRESHHOLD)) && truthy(attr(self, S.run_code))) {
  fr.at(249);   set_attr(self, S.COLOR_THRESHHOLD, S.nineteen);
              }
  fr.at(250); if (!truthy(attr(self, S.processors))) {
                // One less than the processor count leaves a core to the desktop, but never none.
  fr.at(251);   Ref workers = to_int(sub(call(name(S.cpu_count)), S.one));
                if (compare(workers, S.one, Py_LT)) workers = Ref::borrow(S.one);
                set_attr(self, S.processors, workers);
              } else {
                try {
  fr.at(252);     if (compare(to_int(attr(self, S.processors)), to_int(call(name(S.cpu_count))), Py_GT) ||
                      compare(to_int(attr(self, S.processors)), S.one, Py_LT)) {
  fr.at(253);       report(self, refusal_text());
  fr.at(254);       return refusal_text();
                  }
  fr.at(255);     set_attr(self, S.processors, to_int(attr(self, S.processors)));
                } catch (PyError&) {
                  Caught g1(fr);
                  try {
  fr.at(256);       set_attr(self, S.run_code, S.zero);
  fr.at(257);       set_attr(self, S.processors, S.empty);
  fr.at(258);       report(self, refusal_text());
  fr.at(259);       return refusal_text();
                  } catch (PyError&) {
                    Caught g2(fr);
  fr.at(260);       call(attr(name(S.traceback), S.print_exc));
                  }
                }
              }
  fr.at(261); Ref Db_path = Ref::borrow(S.database);
  fr.at(262); if (!truthy(call(os_path(S.exists), {Db_path}))) {
                // Another job of this process may make it between the test and here.
  fr.at(263);   call_kw(attr(name(S.os), S.makedirs), {Db_path}, {{S.exist_ok, Py_True}});
              }
  fr.at(264); if (truthy(attr(self, S.run_code))) {
  fr.at(265);   Ref main = attr(self, S.PdfExePath);
  fr.at(266);   if (!truthy(call(os_path(S.isfile), {main}))) {
  fr.at(267);     Report{self}.warning(S.warning, S.msg_exe_missing);
  fr.at(268);     return none();
                }
  fr.at(269);   report(self, S.msg_run_exe);
                try {
  fr.at(270);     Report out(self);
                  out(S.msg_exe_info);
  fr.at(271);     out(tuple({attr(self, S.src_pdf_path), attr(self, S.save_pic_path),
                             attr(self, S.processors), to_int(attr(self, S.COLOR_THRESHHOLD))}));
  fr.at(272);     Ref command = splitter_command(main, attr(self, S.src_pdf_path),
                                                 attr(self, S.save_pic_path), attr(self, S.processors),
                                                 to_int(attr(self, S.COLOR_THRESHHOLD)), host_platform());
  fr.at(273);     Ref f = call(attr(name(S.os), S.popen), {command});
  fr.at(274);     Ref data = method(f, S.readlines);
  fr.at(275);     method(f, S.close);
  fr.at(276);     Ref lines = iter(data);
                  while (Ref i = next(lines)) {
  fr.at(277);       report(self, i);
  fr.at(276);     }
                } catch (PyError&) {
                  if (!pending_is_exception()) throw;
                  Caught e(fr);
                  write_error_log(fr, self, e.value());
                }
  fr.at(295);   report(self, S.msg_done);
              }
  fr.at(296); method(self, S.checkToken1, {S.three, S.job_name});
  fr.at(297); return none();
}

}  // namespace

const FunctionSpec kTrueRun = {
    "true_run", "orvaneClass.true_run", "Orvane.orvaneClass.true_run", Binding::SelfOnly, 230,
    "self", 1,
    "len_number,parent,dirnames,filenames,filename,file_path,pathLen,Db_path,main,f,data,i,e,"
    "start_time,index_check_log_name,log_path,file",
    true_run};

}  // namespace orvane
