// One request of a token check, bounded as a whole: connecting, the reply's head and its body.
#pragma once

#include "module/runtime.h"

namespace orvane {

// `post(url=..., data=..., headers=..., timeout=(5, 30))`, awaited until the request's deadline at
// most (the connect and read time-outs added up). A reply that has not come whole by then fails as a
// read that timed out; the late reply is closed when it comes.
Ref post_within_deadline(Handle post, Handle url, Handle data, Handle headers);

}  // namespace orvane
