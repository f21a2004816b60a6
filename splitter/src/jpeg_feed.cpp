#include "jpeg_feed.h"

#include <exception>
#include <stdexcept>
#include <string>

#include <qpdf/Pipeline.hh>

namespace orvane {

namespace {

// Hands an image's raw data, as qpdf reads it from the file, to a decoder,
// and ends the reading as soon as the decoder wants no more.
class DecoderFeed : public Pipeline {
public:
    explicit DecoderFeed(JpegRowsDecoder& decoder) : Pipeline("image data", nullptr), decoder_(decoder) {}
    void write(unsigned char const* data, size_t len) override {
        if (wanted) {
            try {
                wanted = decoder_.feed(data, len);
            } catch (const JpegError& e) {
                error = e.what();
                wanted = false;
            }
        }
        if (!wanted) throw Enough();
    }
    void finish() override {}

    // Thrown to end the reading; qpdf takes any exception as the end.
    struct Enough : std::exception {};
    bool wanted = true;
    std::string error;  // libjpeg refused the data

private:
    JpegRowsDecoder& decoder_;
};

}  // namespace

JpegKind feedImage(QPDF& qpdf, QPDFObjectHandle image, JpegRows& rows, std::size_t& stoppedWarnings,
                   int minLongSide) {
    JpegRowsDecoder decoder(rows, minLongSide);
    DecoderFeed feed(decoder);
    const std::size_t warned = qpdf.numWarnings();
    const bool whole = image.pipeStreamData(&feed, nullptr, 0, qpdf_dl_none, true, false);
    if (!whole) stoppedWarnings += qpdf.numWarnings() - warned;
    if (!feed.error.empty()) throw JpegError(feed.error);
    if (feed.wanted && !whole) throw std::runtime_error("its image data cannot be read");
    return decoder.finish();
}

}  // namespace orvane
