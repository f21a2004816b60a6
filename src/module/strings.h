// The texts and names the module's functions use, created once by the exec step and kept for the life
// of the process (interned, so attribute and namespace lookups hit the fast identity path).
#pragma once

#include "module/python.h"

namespace orvane {

// Identifiers: the C++ member is named like the text it holds.
#define ORVANE_NAMES(X)                                                                        \
  X(time) X(strftime) X(localtime) X(os) X(path) X(exists) X(isdir) X(isfile) X(join) X(walk) \
  X(listdir) X(makedirs) X(getcwd) X(popen) X(system) X(readlines) X(close) X(cpu_count)      \
  X(traceback) X(print_exc) X(shutil) X(rmtree) X(sqlite3) X(connect) X(cursor) X(execute)    \
  X(fetchall) X(requests) X(post) X(json) X(dumps) X(random) X(uniform) X(sleep) X(get_now)   \
  X(communication) X(mainPrint) X(src_pdf_path) X(save_pic_path) X(processors)                \
  X(COLOR_THRESHHOLD) X(token) X(run_code) X(urldb) X(PdfExePath) X(user) X(oldDir)           \
  X(newDir) X(get_url) X(checkToken) X(checkToken1) X(checkSpace) X(true_run) X(run)          \
  X(stopCut) X(status_code) X(text) X(url) X(data) X(headers) X(timeout) X(format)            \
  X(replace) X(write) X(tb_frame) X(f_globals) X(tb_lineno) X(exist_ok) X(errors) X(add)      \
  X(multiprocessing) X(print) X(open) X(id) X(comments) X(pid) X(self) X(urlName) X(cutfun)  \
  X(LoginToken) X(__name__) X(__file__) X(__enter__) X(__exit__) X(__traceback__)            \
  X(__builtins__) X(__test__) X(__module__) X(__qualname__) X(__init__) X(__loader__)        \
  X(__package__) X(__path__) X(name) X(loader) X(origin) X(parent)                            \
  X(submodule_search_locations) X(rpartition) X(Connection) X(daemon) X(start) X(Thread)      \
  X(target) X(ReadTimeout)

// Fixed texts: member name, then the text itself (UTF-8).
#define ORVANE_TEXTS(X)                                                                  \
  X(empty, "")                                                                           \
  X(main_name, "__main__")                                                               \
  X(module_name, "Orvane")                                                               \
  X(class_name, "orvaneClass")                                                           \
  X(now_pattern, "%Y_%m_%d_%H_%M_%S")                                                    \
  X(quote, "\"")                                                                         \
  X(slash, "/")                                                                          \
  X(backslash, "\\")                                                                     \
  X(dot_slash, "./")                                                                     \
  X(txt, ".txt")                                                                         \
  X(database, "database")                                                                \
  X(logging_dir, "logging")                                                              \
  X(mode_append, "a")                                                                    \
  X(backslashreplace, "backslashreplace")                                                \
  X(warning, "warning")                                                                  \
  X(space_pdf, " .pdf")                                                                  \
  X(three_blanks, "   ")                                                                 \
  X(new_prefix, "new")                                                                   \
  X(old_prefix, "old")                                                                   \
  X(commit, "commit")                                                                    \
  X(job_name, "获取隔页")                                                                \
  X(start_template, "【开始执行：】  {}")                                                \
  X(end_template, "【执行完成：】 {}")                                                   \
  X(select_url, "select * from urldb where url_name = ?")                                \
  X(msg_src_missing, "原PDF文件路径不存在")                                              \
  X(msg_save_missing, "保存文件隔页位置不存在")                                          \
  X(msg_src_quote, "源文件路径包含英文的双引号")                                         \
  X(msg_save_quote, "保存文件路径包含英文的双引号")                                      \
  X(msg_job_failed, "程序执行报错")                                                      \
  X(msg_pdf_prefix, "pdf文件：")                                                         \
  X(msg_pdf_suffix, "。包含空格\n")                                                      \
  X(msg_pdf_summary, "存在PDF文件包含空格，请修改后再次输入")                            \
  X(msg_path_too_long, " \n路径过长")                                                    \
  X(msg_save_gone, "保存文件不存在，请重新输入\n")                                       \
  X(msg_src_gone, "原路径不存在，请重新输入\n")                                          \
  X(msg_long_paths, "这里是要结束的进程， 这里是待写入的文件路径")                       \
  X(msg_refusal_template, "请输入1-{}的整数")                                            \
  X(msg_exe_missing, "切分隔页的exe不存在")                                              \
  X(msg_run_exe, "执行隔页exe\n")                                                        \
  X(msg_exe_info, "执行exe信息")                                                         \
  X(msg_done, "执行完成")                                                                \
  X(msg_exe_failed, "执行exe文件报错")                                                   \
  X(log_prefix, "./logging/底稿切分隔页UI报错日志_")                                     \
  X(log_file_prefix, "底稿切分隔页UI报错日志_")                                          \
  X(msg_log_folder, "保存运行日志的文件夹为：")                                          \
  X(msg_log_file, "。运行日志文件名为：")                                                \
  X(newline, "\n")                                                                       \
  X(line_error, "[Error]")                                                               \
  X(line_content, "[报错内容]")                                                          \
  X(line_file, "[报错源文件位置]")                                                       \
  X(line_lineno, "[报错源码行数]")                                                       \
  X(msg_no_urldb, "保存URl表不存在")                                                     \
  X(msg_token_expired, "登录信息的Token过期")                                            \
  X(msg_updated, "更新成功")                                                             \
  X(msg_request_failed, "请求网页失败")                                                  \
  X(standalone_src, "D:\\0000代切分PDf")                                                 \
  X(standalone_save, "D:\\0000切分后保存位置")                                           \
  X(standalone_urldb, "./url.db")                                                        \
  X(standalone_exe, "D:\\000Talvero\\NewOrvaneFun\\OrvaneFun\\orvaneFun.exe")            \
  X(standalone_token,                                                                    \
    "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9."                                              \
    "eyJzdWIiOiJvcnZhbmUiLCJpYXQiOjE3MDAwMDAwMDAsImV4cCI6MTcwMDA4NjQwMCwianRpIjoieCJ9."    \
    "d1ZZuFDf6eY9HZpGuOWa1hQ4RdVptQjqJz41Q7U1zKQ")

struct Strings {
#define ORVANE_DECLARE_NAME(n) PyObject* n;
#define ORVANE_DECLARE_TEXT(n, text) PyObject* n;
  ORVANE_NAMES(ORVANE_DECLARE_NAME)
  ORVANE_TEXTS(ORVANE_DECLARE_TEXT)
#undef ORVANE_DECLARE_NAME
#undef ORVANE_DECLARE_TEXT
  // Numbers and constant tuples.
  PyObject* zero;
  PyObject* one;
  PyObject* three;
  PyObject* four;
  PyObject* nineteen;
  PyObject* status_ok;      // 200
  PyObject* pause_low;      // 0.5
  PyObject* pause_high;     // 1.0
  PyObject* request_timeout;  // (5, 30): connect and read time-outs in seconds
  PyObject* empty_tuple;
};

// Filled by the exec step; the texts live for the life of the process.
extern Strings S;

// Creates every text once; false with an exception set on failure. Safe to call again after a
// failed import: texts already made are kept.
bool make_strings();

}  // namespace orvane
