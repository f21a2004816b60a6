// The error log of a failed splitter stage: tells the user, then appends a four-line record to
// ./logging/底稿切分隔页UI报错日志_<time>.txt. Runs while true_run handles the exception `e`; nothing
// here is caught, so a failure to log passes out of true_run with `e` as its context.
#include "controller/controller.h"
#include "module/module.h"
#include "module/strings.h"
#include "report/report.h"

namespace orvane {

namespace {
Ref line(Handle prefix, Handle value) { return concat(concat(prefix, str(value)), S.newline); }
}  // namespace

void write_error_log(Frame& fr, Handle self, Handle e) {
  fr.at(280); report(self, S.msg_exe_failed);
  fr.at(281); Ref start_time = call(name(S.get_now));
  fr.at(282); Ref index_check_log_name = concat(S.log_prefix, str(start_time));
  fr.at(283); Ref log_path = method(call(os_path(S.join),
                                         {call(attr(name(S.os), S.getcwd)),
                                          concat(method(index_check_log_name, S.replace,
                                                        {S.dot_slash, S.empty}),
                                                 S.txt)}),
                                    S.replace, {S.backslash, S.slash});
  // The log file's own folder and name; the working directory may itself hold "logging/".
  fr.at(284); auto [folder, sep, file_name] = unpack<3>(method(log_path, S.rpartition, {S.slash}));
              (void)sep;
              report(self, concat(concat(concat(concat(S.msg_log_folder, folder), S.msg_log_file),
                                         file_name),
                                  S.newline));
  // A missing folder or an exception text the default encoding cannot hold must not lose the record.
  fr.at(285); call_kw(attr(name(S.os), S.makedirs), {S.logging_dir}, {{S.exist_ok, Py_True}});
  fr.at(286); Ref manager = call_kw(builtin_open(), {concat(index_check_log_name, S.txt), S.mode_append},
                                    {{S.errors, S.backslashreplace}});
              Ref exit = attr(manager, S.__exit__);
              Ref file = method(manager, S.__enter__);
              try {
  fr.at(287);   method(file, S.write, {line(S.line_error, call(name(S.get_now)))});
  fr.at(288);   method(file, S.write, {line(S.line_content, e)});
  fr.at(289);   Ref tb = attr(e, S.__traceback__);
                method(file, S.write,
                       {line(S.line_file, item(attr(attr(tb, S.tb_frame), S.f_globals), S.__file__))});
  fr.at(290);   method(file, S.write, {line(S.line_lineno, attr(tb, S.tb_lineno))});
              } catch (PyError&) {
                // As `with` does: the file is closed with the failure, which then passes on.
                PendingException failure;
                failure.normalize();
                if (truthy(call(exit, {failure.type(), failure.value(), failure.traceback()}))) return;
                failure.reraise();
              }
  fr.at(291); call(exit, {Py_None, Py_None, Py_None});
}

}  // namespace orvane
