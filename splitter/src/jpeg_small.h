// Decodes a baseline or progressive JPEG at reduced size using the DCT
// scaling of libjpeg(-turbo): at 1/8 scale only the DC coefficient of every
// 8x8 block is used, so no inverse transform runs and the picture costs a
// small fraction of a full decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvane {

struct SmallPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // packed R,G,B, width*3 bytes per row
};

enum class JpegKind {
    Colour,       // decoded into the picture
    Grey,         // one component: cannot be a coloured sheet, not decoded
    Unsupported,  // CMYK / YCCK and other layouts: let the renderer judge
};

struct JpegError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Picks the largest DCT reduction (1/8, 1/4, 1/2) that keeps the longer
// side at least `minLongSide` pixels. With `onlyRowsLookedAt`, decoding
// stops after the rows the separator rule reads (rowsLookedAt); the rest of
// the picture is left zero. Throws JpegError on data that libjpeg refuses.
JpegKind decodeJpegSmall(const std::uint8_t* data, std::size_t size, SmallPicture& out,
                         int minLongSide = 96, bool onlyRowsLookedAt = false);

}  // namespace orvane
