// get_now(): the local time as the text the error log names its files with.
#include "module/module.h"
#include "module/strings.h"

namespace orvane {

namespace {
Ref get_now(Frame& fr, PyObject* const*) {
  fr.at(21); Ref strftime = attr(name(S.time), S.strftime);
  fr.at(22); Ref localtime = attr(name(S.time), S.localtime);
  fr.at(23); Ref now = call(attr(name(S.time), S.time));
  fr.at(24); Ref local = call(localtime, {now});
  fr.at(25); return call(strftime, {S.now_pattern, local});
}
}  // namespace

const FunctionSpec kGetNow = {"get_now", "get_now", "Orvane.get_now", Binding::NoArgs, 20, "", 0,
                              "", get_now};

}  // namespace orvane
