// A call made on a short-lived thread of its own, awaited for a bounded time.
#pragma once

#include "module/runtime.h"

namespace orvane {

// `callable(**kwargs)` on a new daemon thread, awaited at most `seconds`. What it returns is returned
// here and what it raises is raised here, as if it had been called on this thread. When it has not
// returned by then, the result is an empty Ref and the call is left to itself: should it return
// later, the thread calls `close()` on what it got (a late reply gives its connection back) and
// drops it, and an exception it raises then is dropped too.
Ref call_on_own_thread(Handle callable, Handle kwargs, double seconds);

}  // namespace orvane
