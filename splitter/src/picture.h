// A page's picture as packed R,G,B rows, with the resolution it was decoded
// or rendered at: what the closer looks (codes, empty pages) are given. And
// the grey picture that text is recognised on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane {

struct Picture {
    int width = 0, height = 0;
    double dpi = 0;                 // pixels per inch of the page; 0 when unknown
    std::vector<std::uint8_t> rgb;  // width * 3 bytes a row, top row first
    const std::uint8_t* row(int y) const { return rgb.data() + static_cast<std::size_t>(y) * width * 3; }
    bool empty() const { return width <= 0 || height <= 0; }
};

struct GreyPicture {
    int width = 0, height = 0;
    double dpi = 0;                  // pixels per inch of the page; 0 when unknown
    std::vector<std::uint8_t> grey;  // width bytes a row, top row first
};

}  // namespace orvane
