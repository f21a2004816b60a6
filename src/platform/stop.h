// The stop command of cancellation, for either platform.
#pragma once

#include "module/runtime.h"
#include "platform/platform.h"

namespace orvane {

// Ends every process named orvaneFun.exe. Windows: os.system("taskkill -f -im orvaneFun.exe"), with
// `os` resolved in the module namespace. Elsewhere: kill_by_image_name. Failures to end a process are
// ignored; only a failing os.system call raises.
void stop_splitters(Platform platform);

}  // namespace orvane
