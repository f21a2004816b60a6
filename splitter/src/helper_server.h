// The helper's side of the splitter's helper processes (helper.h is the
// worker's side): the hidden helper mode of the splitter's own executable,
// which serves one request at a time over its pipe (helper_protocol.h).
#pragma once

namespace orvane {

// When the command line asks for helper mode (only the splitter itself
// starts one so), serves the parent until it closes the pipe, then ends the
// process; otherwise returns at once. The one place that knows the mode's
// arguments.
void serveIfHelper(int argc, char** argv);

}  // namespace orvane
