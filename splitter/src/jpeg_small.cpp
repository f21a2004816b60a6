#include "jpeg_small.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace orvane {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool overBudget;
};

extern "C" void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    // Past max_memory_to_use libjpeg asks for a backing store, which this
    // build does not have: the image is over its memory budget, not damaged.
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE || cinfo->err->msg_code == JERR_OUT_OF_MEMORY)
        err->overBudget = true;
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Called between passes over the data: a progressive file can declare any
// number of scans, each a pass over the whole image.
extern "C" void onJpegProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kJpegMaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        err->overBudget = true;
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kJpegMaxScans);
        std::longjmp(err->jump, 1);
    }
}

// Corrupt-data warnings are not fatal: libjpeg fills the rest of the picture
// with grey, which is what any viewer shows of that page as well.
extern "C" void onJpegMessage(j_common_ptr, int) {}

// Everything that needs a destructor lives in the caller, so the longjmp out
// of libjpeg never skips one. Returns false with err->message set on error.
bool decodeInto(jpeg_decompress_struct* cinfo, ErrorManager* err, jpeg_progress_mgr* progress,
                const std::uint8_t* data, std::size_t size, JpegRows* rows,
                std::vector<std::uint8_t>* line, int minLongSide, JpegKind* kind) {
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kJpegMaxMemory;
    progress->progress_monitor = onJpegProgress;
    cinfo->progress = progress;
    jpeg_mem_src(cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    if (static_cast<double>(cinfo->image_width) * cinfo->image_height > kJpegMaxPixels) {
        *kind = JpegKind::OverBudget;
        jpeg_destroy_decompress(cinfo);
        return true;
    }

    if (cinfo->num_components == 1) {
        *kind = JpegKind::Grey;
        jpeg_destroy_decompress(cinfo);
        return true;
    }
    if (cinfo->num_components != 3 ||
        (cinfo->jpeg_color_space != JCS_YCbCr && cinfo->jpeg_color_space != JCS_RGB)) {
        *kind = JpegKind::Unsupported;
        jpeg_destroy_decompress(cinfo);
        return true;
    }

    const unsigned longSide = cinfo->image_width > cinfo->image_height ? cinfo->image_width
                                                                        : cinfo->image_height;
    unsigned denom = 8;
    while (denom > 1 && longSide / denom < static_cast<unsigned>(minLongSide)) denom /= 2;
    cinfo->scale_num = 1;
    cinfo->scale_denom = denom;
    cinfo->out_color_space = JCS_RGB;
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->do_block_smoothing = FALSE;

    jpeg_start_decompress(cinfo);
    line->resize(static_cast<std::size_t>(cinfo->output_width) * 3);
    int wanted = rows->begin(static_cast<int>(cinfo->output_width),
                             static_cast<int>(cinfo->output_height));
    if (wanted > static_cast<int>(cinfo->output_height))
        wanted = static_cast<int>(cinfo->output_height);
    bool more = wanted > 0;
    while (more && static_cast<int>(cinfo->output_scanline) < wanted) {
        JSAMPROW row = line->data();
        const int y = static_cast<int>(cinfo->output_scanline);
        jpeg_read_scanlines(cinfo, &row, 1);
        more = rows->row(y, line->data());
    }
    // Stopping early is fine: jpeg_destroy_decompress releases everything.
    if (cinfo->output_scanline == cinfo->output_height) jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    *kind = JpegKind::Colour;
    return true;
}

class PictureRows : public JpegRows {
public:
    explicit PictureRows(SmallPicture& p) : p_(p) {}
    int begin(int width, int height) override {
        p_.width = width;
        p_.height = height;
        p_.rgb.assign(static_cast<std::size_t>(width) * 3 * height, 0);
        return height;
    }
    bool row(int y, const std::uint8_t* rgb) override {
        std::memcpy(p_.rgb.data() + static_cast<std::size_t>(y) * p_.width * 3, rgb,
                    static_cast<std::size_t>(p_.width) * 3);
        return true;
    }

private:
    SmallPicture& p_;
};

}  // namespace

JpegKind decodeJpegRows(const std::uint8_t* data, std::size_t size, JpegRows& rows,
                        int minLongSide) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    std::vector<std::uint8_t> line;
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&progress, 0, sizeof progress);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.message[0] = '\0';
    err.overBudget = false;
    JpegKind kind = JpegKind::Unsupported;
    if (!decodeInto(&cinfo, &err, &progress, data, size, &rows, &line, minLongSide, &kind)) {
        if (err.overBudget) return JpegKind::OverBudget;
        throw JpegError(err.message);
    }
    return kind;
}

JpegKind decodeJpegSmall(const std::uint8_t* data, std::size_t size, SmallPicture& out,
                         int minLongSide) {
    PictureRows rows(out);
    return decodeJpegRows(data, size, rows, minLongSide);
}

}  // namespace orvane
