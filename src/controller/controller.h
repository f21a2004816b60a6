// The controller class orvaneClass: its methods, each one function that reads like its algorithm.
#pragma once

#include "module/function.h"

namespace orvane {

extern const FunctionSpec kInitMethod;  // __init__
extern const FunctionSpec kRun;
extern const FunctionSpec kGetUrl;
extern const FunctionSpec kCheckToken;
extern const FunctionSpec kCheckToken1;
extern const FunctionSpec kCheckSpace;
extern const FunctionSpec kTrueRun;
extern const FunctionSpec kStopCut;

// os.path.<fn>, resolved afresh: the module's `os` may be rebound.
Ref os_path(Handle fn);

// The error log of a failed splitter stage, written while true_run handles the exception `e`.
void write_error_log(Frame& fr, Handle self, Handle e);

}  // namespace orvane
