#include "jpeg_small.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

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

// Data is handed to libjpeg in batches of at least this much: its fast
// Huffman path needs a few KB ahead of the decoding, and with too little it
// falls back to a slower path (and suspends more often).
constexpr std::size_t kFeedBatch = 32 * 1024;

// A fake end of image: what libjpeg's own memory source gives past the end
// of the data, so a picture cut short is decoded as far as it goes.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

enum class Stage { Header, Start, Rows, Done };

}  // namespace

struct JpegRowsDecoder::State {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    jpeg_source_mgr source;
    JpegRows* rows = nullptr;
    int minLongSide = 0;
    bool created = false;
    Stage stage = Stage::Header;
    JpegKind kind = JpegKind::Unsupported;
    int wanted = 0;
    bool ended = false;          // all the data has been handed over
    std::size_t skip = 0;        // bytes libjpeg skipped beyond the data it has
    std::vector<JOCTET> buffer;  // the data libjpeg has not consumed yet
    std::vector<std::uint8_t> line;
};

namespace {

using State = JpegRowsDecoder::State;

State* stateOf(j_decompress_ptr cinfo) { return static_cast<State*>(cinfo->client_data); }

extern "C" void initSource(j_decompress_ptr) {}
extern "C" void termSource(j_decompress_ptr) {}

// No more data at hand: suspend until more comes, or past the end give the
// fake end of image.
extern "C" boolean fillInput(j_decompress_ptr cinfo) {
    if (!stateOf(cinfo)->ended) return FALSE;
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

extern "C" void skipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    const std::size_t n = static_cast<std::size_t>(count);
    if (n <= src->bytes_in_buffer) {
        src->next_input_byte += n;
        src->bytes_in_buffer -= n;
        return;
    }
    // The rest of the skip falls into data still to come.
    stateOf(cinfo)->skip += n - src->bytes_in_buffer;
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
}

// Runs the decoding as far as the data at hand goes. Everything that needs a
// destructor lives in the state, so the longjmp out of libjpeg never skips
// one. Returns false with err.message set on error.
bool advance(State* s) {
    jpeg_decompress_struct* cinfo = &s->cinfo;
    if (setjmp(s->err.jump)) return false;
    if (s->stage == Stage::Header) {
        if (jpeg_read_header(cinfo, TRUE) == JPEG_SUSPENDED) return true;
        s->stage = Stage::Done;
        if (static_cast<double>(cinfo->image_width) * cinfo->image_height > kJpegMaxPixels) {
            s->kind = JpegKind::OverBudget;
            return true;
        }
        const bool grey = cinfo->num_components == 1;
        if (grey && !s->rows->decodeGrey()) {
            s->kind = JpegKind::Grey;
            return true;
        }
        if (!grey && (cinfo->num_components != 3 ||
                      (cinfo->jpeg_color_space != JCS_YCbCr && cinfo->jpeg_color_space != JCS_RGB))) {
            s->kind = JpegKind::Unsupported;
            return true;
        }
        const unsigned longSide = std::max(cinfo->image_width, cinfo->image_height);
        unsigned denom = 8;
        while (denom > 1 && longSide / denom < static_cast<unsigned>(s->minLongSide)) denom /= 2;
        cinfo->scale_num = 1;
        cinfo->scale_denom = denom;
        cinfo->out_color_space = JCS_RGB;
        const bool faithful = s->rows->faithful();
        cinfo->dct_method = faithful ? JDCT_ISLOW : JDCT_IFAST;
        cinfo->do_fancy_upsampling = faithful ? TRUE : FALSE;
        cinfo->do_block_smoothing = faithful ? TRUE : FALSE;
        s->stage = Stage::Start;
    }
    if (s->stage == Stage::Start) {
        // Arithmetic-coded data cannot be suspended in the middle: it is
        // decoded once all of it is here.
        if (cinfo->arith_code && !s->ended) return true;
        if (!jpeg_start_decompress(cinfo)) return true;
        s->line.resize(static_cast<std::size_t>(cinfo->output_width) * 3);
        s->wanted = std::min(s->rows->begin(static_cast<int>(cinfo->output_width),
                                            static_cast<int>(cinfo->output_height)),
                             static_cast<int>(cinfo->output_height));
        s->kind = JpegKind::Colour;
        s->stage = s->wanted > 0 ? Stage::Rows : Stage::Done;
    }
    while (s->stage == Stage::Rows && static_cast<int>(cinfo->output_scanline) < s->wanted) {
        JSAMPROW row = s->line.data();
        const int y = static_cast<int>(cinfo->output_scanline);
        if (jpeg_read_scanlines(cinfo, &row, 1) == 0) return true;
        if (!s->rows->row(y, s->line.data())) s->stage = Stage::Done;
    }
    s->stage = Stage::Done;
    return true;
}

void check(State* s, bool ok) {
    if (ok) return;
    if (s->err.overBudget) {
        s->kind = JpegKind::OverBudget;
        s->stage = Stage::Done;
        return;
    }
    throw JpegError(s->err.message);
}

}  // namespace

JpegRowsDecoder::JpegRowsDecoder(JpegRows& rows, int minLongSide) : state_(new State) {
    State* s = state_.get();
    std::memset(&s->cinfo, 0, sizeof s->cinfo);
    std::memset(&s->progress, 0, sizeof s->progress);
    std::memset(&s->source, 0, sizeof s->source);
    s->rows = &rows;
    s->minLongSide = minLongSide;
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = onJpegError;
    s->err.pub.emit_message = onJpegMessage;
    s->err.message[0] = '\0';
    s->err.overBudget = false;
    if (setjmp(s->err.jump)) throw JpegError(s->err.message);  // out of memory at the start
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    s->cinfo.client_data = s;
    s->cinfo.mem->max_memory_to_use = kJpegMaxMemory;
    s->progress.progress_monitor = onJpegProgress;
    s->cinfo.progress = &s->progress;
    s->source.init_source = initSource;
    s->source.fill_input_buffer = fillInput;
    s->source.skip_input_data = skipInput;
    s->source.resync_to_restart = jpeg_resync_to_restart;
    s->source.term_source = termSource;
    s->cinfo.src = &s->source;
}

// Stopping early is fine: jpeg_destroy_decompress releases everything.
JpegRowsDecoder::~JpegRowsDecoder() {
    if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

bool JpegRowsDecoder::feed(const std::uint8_t* data, std::size_t size) {
    State* s = state_.get();
    if (s->stage == Stage::Done) return false;
    const std::size_t skipped = std::min(s->skip, size);
    s->skip -= skipped;
    // Keep what libjpeg has not consumed, then add the new piece.
    s->buffer.erase(s->buffer.begin(), s->buffer.end() - static_cast<std::ptrdiff_t>(s->source.bytes_in_buffer));
    s->buffer.insert(s->buffer.end(), data + skipped, data + size);
    s->source.next_input_byte = s->buffer.data();
    s->source.bytes_in_buffer = s->buffer.size();
    if (s->buffer.size() < kFeedBatch) return true;
    check(s, advance(s));
    return s->stage != Stage::Done;
}

JpegKind JpegRowsDecoder::finish() {
    State* s = state_.get();
    s->ended = true;
    if (s->stage != Stage::Done) check(s, advance(s));
    return s->kind;
}

JpegKind decodeJpegRows(const std::uint8_t* data, std::size_t size, JpegRows& rows,
                        int minLongSide) {
    JpegRowsDecoder decoder(rows, minLongSide);
    decoder.feed(data, size);
    return decoder.finish();
}

}  // namespace orvane
