// Ending the running splitters: taskkill on Windows, a process scan elsewhere.
#include "platform/stop.h"

#include "module/strings.h"

namespace orvane {

void stop_splitters(Platform platform) {
  if (platform == Platform::Windows) {
    // Through the command shell, waiting for taskkill; its exit status is not looked at.
    Ref command = Ref::steal(PyUnicode_FromString(kStopCommand));
    call(attr(name(S.os), S.system), {command});
    return;
  }
  // No taskkill here: end the processes by image name ourselves, without holding the interpreter.
  Py_BEGIN_ALLOW_THREADS
  kill_by_image_name(kSplitterImage);
  Py_END_ALLOW_THREADS
}

}  // namespace orvane
