#include "controller/command.h"

#include "module/strings.h"

namespace orvane {

namespace {

// "surrogatepass" keeps file names that were not valid UTF-8 (held as lone surrogates) intact
// through the round trip.
std::string formatted_utf8(Handle value) {
  Ref text = Ref::steal(PyObject_Format(value.get(), S.empty));
  Ref utf8 = Ref::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
  return std::string(PyBytes_AS_STRING(utf8.get()),
                     static_cast<size_t>(PyBytes_GET_SIZE(utf8.get())));
}

}  // namespace

Ref splitter_command(Handle main, Handle src, Handle save, Handle process, Handle num,
                     Platform platform) {
  std::string line = command_line({formatted_utf8(main), formatted_utf8(src), formatted_utf8(save),
                                   formatted_utf8(process), formatted_utf8(num)},
                                  platform);
  return Ref::steal(
      PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), "surrogatepass"));
}

}  // namespace orvane
