// The floor for looking at every page: read each JPEG file named on stdin
// (one path a line) and decode it at 1/8 scale, with the very decoder and
// settings the splitter uses. Prints the number of pages decoded.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "jpeg_small.h"

int main() {
    std::string path;
    long pages = 0, checksum = 0;
    orvane::SmallPicture picture;
    std::vector<unsigned char> data;
    while (std::getline(std::cin, path)) {
        if (path.empty()) continue;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return 1;
        std::fseek(f, 0, SEEK_END);
        data.resize(static_cast<std::size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        const std::size_t got = std::fread(data.data(), 1, data.size(), f);
        std::fclose(f);
        if (got != data.size()) return 1;
        orvane::decodeJpegSmall(data.data(), data.size(), picture);
        checksum += picture.rgb.empty() ? 0 : picture.rgb[picture.rgb.size() / 2];
        ++pages;
    }
    std::printf("%ld pages (checksum %ld)\n", pages, checksum);
    return 0;
}
