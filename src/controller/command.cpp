#include "controller/command.h"

#include "module/strings.h"

namespace orvane {

namespace {

// "surrogatepass" keeps file names that were not valid UTF-8 (held as lone surrogates) intact
// through the round trip.
Ref quoted(Handle value, Platform platform) {
  Ref text = Ref::steal(PyObject_Format(value.get(), S.empty));
  Ref utf8 = Ref::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
  std::string q = quote_value(std::string(PyBytes_AS_STRING(utf8.get()),
                                          static_cast<size_t>(PyBytes_GET_SIZE(utf8.get()))),
                              platform);
  return Ref::steal(PyUnicode_DecodeUTF8(q.data(), static_cast<Py_ssize_t>(q.size()), "surrogatepass"));
}

}  // namespace

Ref splitter_command(Handle main, Handle src, Handle save, Handle process, Handle num,
                     Platform platform) {
  Ref a = quoted(main, platform), b = quoted(src, platform), c = quoted(save, platform),
      d = quoted(process, platform), e = quoted(num, platform);
  return Ref::steal(PyUnicode_FromFormat("\"%U\" \"%U\" \"%U\" \"%U\" \"%U\"", a.get(), b.get(),
                                         c.get(), d.get(), e.get()));
}

}  // namespace orvane
