// The stand-alone block: when the module executes under the name "__main__", it binds the fixed
// defaults of the original desktop installation and runs one job with them.
#include "module/module.h"
#include "module/strings.h"

namespace orvane {

void run_standalone(Frame& fr) {
  fr.at(401); bind_name(S.src_pdf_path, S.standalone_src);
  fr.at(402); bind_name(S.save_pic_path, S.standalone_save);
  fr.at(403); bind_name(S.processors, S.four);
  fr.at(404); bind_name(S.COLOR_THRESHHOLD, S.nineteen);
  fr.at(405); bind_name(S.LoginToken, S.standalone_token);
  fr.at(406); bind_name(S.urldb, S.standalone_urldb);
  fr.at(407); bind_name(S.PdfExePath, S.standalone_exe);
  fr.at(408); bind_name(S.cutfun, call(name(S.class_name),
                                  {name(S.src_pdf_path), name(S.save_pic_path), name(S.processors),
                                   name(S.COLOR_THRESHHOLD), name(S.LoginToken), name(S.urldb),
                                   name(S.PdfExePath)}));
  fr.at(409); method(name(S.cutfun), S.run);
}

}  // namespace orvane
