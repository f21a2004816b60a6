// The stop command of both platforms, run against a real interpreter embedded here: the Windows
// branch must hand exactly "taskkill -f -im orvaneFun.exe" to the namespace's os.system, the POSIX
// branch must end a process named orvaneFun.exe without calling os.system at all.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "module/strings.h"
#include "platform/stop.h"

namespace {

int passed = 0, failed = 0;

void expect(bool ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what);
  }
}

// What the fake os recorded, as one text ("" when nothing, "|" between commands).
std::string recorded(PyObject* ns) {
  PyObject* text = PyRun_String("'|'.join(os.commands)", Py_eval_input, ns, ns);
  if (!text) {
    PyErr_Print();
    return "<error>";
  }
  std::string out = PyUnicode_AsUTF8(text);
  Py_DECREF(text);
  return out;
}

pid_t spawn_named_splitter(const char* workdir) {
  std::string exe = std::string(workdir) + "/orvaneFun.exe";
  if (std::system(("cp /bin/sleep '" + exe + "'").c_str()) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    execl(exe.c_str(), exe.c_str(), "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  Py_Initialize();
  if (!orvane::make_strings()) {
    PyErr_Print();
    return 2;
  }
  PyObject* builtins = PyImport_AddModule("builtins");
  PyObject* ns = PyDict_New();
  PyDict_SetItemString(ns, "__builtins__", builtins);
  PyObject* r = PyRun_String(
      "class FakeOs(object):\n"
      "    def __init__(self, fail=False):\n"
      "        self.commands = []\n"
      "        self.fail = fail\n"
      "    def system(self, command):\n"
      "        if self.fail:\n"
      "            raise OSError('no shell')\n"
      "        self.commands.append(command)\n"
      "        return 128\n"
      "os = FakeOs()\n",
      Py_file_input, ns, ns);
  if (!r) {
    PyErr_Print();
    return 2;
  }
  Py_DECREF(r);
  orvane::set_namespace(ns, builtins);

  // Windows: the command goes to os.system as it stands, and taskkill's status is not looked at.
  try {
    orvane::stop_splitters(orvane::Platform::Windows);
    expect(recorded(ns) == "taskkill -f -im orvaneFun.exe", "windows runs taskkill through os.system");
  } catch (orvane::PyError&) {
    PyErr_Print();
    expect(false, "windows stop raised");
  }

  // POSIX: a process named orvaneFun.exe ends, and os.system is not called.
  pid_t pid = spawn_named_splitter(argc > 1 ? argv[1] : "/tmp");
  expect(pid > 0, "spawned a process named orvaneFun.exe");
  try {
    orvane::stop_splitters(orvane::Platform::Posix);
  } catch (orvane::PyError&) {
    PyErr_Print();
    expect(false, "posix stop raised");
  }
  int status = 0;
  if (pid > 0)
    expect(waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
           "posix stop ended the splitter with SIGKILL");
  expect(recorded(ns) == "taskkill -f -im orvaneFun.exe", "posix stop did not call os.system");

  // A failing os.system is the one failure that reaches the caller (stopCut prints it).
  Py_XDECREF(PyRun_String("os = FakeOs(fail=True)\n", Py_file_input, ns, ns));
  bool raised = false;
  try {
    orvane::stop_splitters(orvane::Platform::Windows);
  } catch (orvane::PyError&) {
    raised = PyErr_ExceptionMatches(PyExc_OSError) != 0;
    PyErr_Clear();
  }
  expect(raised, "a failing os.system raises OSError");

  std::printf("%d passed, %d failed\n", passed, failed);
  Py_DECREF(ns);
  Py_FinalizeEx();
  return failed ? 1 : 0;
}
