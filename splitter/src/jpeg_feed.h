// A page image's JPEG data handed from qpdf, as it reads the stream from the
// file, straight to libjpeg: the reading ends as soon as the rows wanted are
// decoded, so a page settled near its top is read no further.
#pragma once

#include <cstddef>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "jpeg_small.h"

namespace orvane {

// Decodes `image` (a stream of `qpdf`) into `rows`. The warnings qpdf gave
// on a reading stopped early are no damage of the file: their number is
// added to `stoppedWarnings`. Throws JpegError, or std::runtime_error when
// the data cannot be read from the file. `minLongSide` as JpegRowsDecoder's.
JpegKind feedImage(QPDF& qpdf, QPDFObjectHandle image, JpegRows& rows, std::size_t& stoppedWarnings,
                   int minLongSide = 96);

}  // namespace orvane
