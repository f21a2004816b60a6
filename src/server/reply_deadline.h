// One request of a token check, bounded as a whole: connecting, the reply's head and its body.
#pragma once

#include "module/runtime.h"

namespace orvane {

// `post(url=..., data=..., headers=..., timeout=(5, 30), stream=True)`, then the reply's body read
// before the request's deadline (the connect and read time-outs added up, counted from the call).
// A reply whose head has not come by then fails as a read that timed out (the late reply is closed
// when it comes); one whose body is still coming has its connection shut down, which ends the read
// with the library's usual error for a broken reply. A reply object without a body to read (a stand-in of a
// front end) is returned as it came.
Ref post_within_deadline(Handle post, Handle url, Handle data, Handle headers);

}  // namespace orvane
