// The floor for looking at every page: read each JPEG file named on stdin
// (one path a line) and decode it at 1/8 scale, with the very decoder and
// settings the splitter uses. A line "PATH<TAB>ROWS" decodes only the top
// ROWS rows of the small picture: what the splitter's rule had to read of
// that page. Prints the number of pages decoded.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jpeg_small.h"

namespace {

// Takes the top `wanted` rows (all of them if negative) and drops them.
class TopRows : public orvane::JpegRows {
public:
    explicit TopRows(int wanted) : wanted_(wanted) {}
    int begin(int, int height) override { return wanted_ < 0 ? height : wanted_; }
    bool row(int, const std::uint8_t* rgb) override {
        checksum += rgb[0];
        return true;
    }
    long checksum = 0;

private:
    int wanted_;
};

}  // namespace

int main() {
    std::string line;
    long pages = 0, checksum = 0;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        const std::size_t tab = line.find('\t');
        const std::string path = line.substr(0, tab);
        const int rows = tab == std::string::npos ? -1 : std::stoi(line.substr(tab + 1));
        // Mapped, not read: the floor counts decoding, not copying files.
        const int fd = open(path.c_str(), O_RDONLY);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) return 1;
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (map == MAP_FAILED) return 1;
        TopRows top(rows);
        orvane::decodeJpegRows(static_cast<const unsigned char*>(map), size, top);
        munmap(map, size);
        checksum += top.checksum;
        ++pages;
    }
    std::printf("%ld pages (checksum %ld)\n", pages, checksum);
    return 0;
}
