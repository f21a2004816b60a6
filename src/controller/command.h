// The splitter's command line: five double-quoted fields, separated by single blanks.
#pragma once

#include "module/runtime.h"
#include "platform/platform.h"

namespace orvane {

// Each value is formatted as str.format does with an empty format, then quoted for the
// shell of `platform`.
Ref splitter_command(Handle main, Handle src, Handle save, Handle process, Handle num,
                     Platform platform);

}  // namespace orvane
