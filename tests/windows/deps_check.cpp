// Under wine: the cross-built libraries, each doing the splitter's kind of work. A page holding one
// JPEG (made with libjpeg-turbo) is written by qpdf to a file with a Chinese name, read back by qpdf,
// its JPEG decoded at 1/8 scale by libjpeg-turbo, and the page rendered by poppler's C++ front end
// from memory (its UTF-16 strings go through the iconv layer). Exits 1 if any step fails.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <poppler/cpp/poppler-version.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

int failures = 0;

void check(const char* step, bool ok, const std::string& detail) {
  std::printf("%s  %s: %s\n", ok ? "ok    " : "FAILED", step, detail.c_str());
  if (!ok) ++failures;
}

// A 64 x 48 orange JPEG.
std::string orange_jpeg() {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = 64, c.image_height = 48, c.input_components = 3, c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(64 * 3);
  for (int x = 0; x < 64; ++x) row[x * 3] = 250, row[x * 3 + 1] = 160, row[x * 3 + 2] = 40;
  while (c.next_scanline < c.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::string jpeg(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return jpeg;
}

// Decodes at 1/8 scale, as the splitter does; returns width, height and the first pixel.
std::vector<int> decode_small(const std::string& data) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  jpeg_read_header(&d, TRUE);
  d.scale_num = 1, d.scale_denom = 8, d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  std::vector<unsigned char> row(d.output_width * 3);
  JSAMPROW rows[1] = {row.data()};
  jpeg_read_scanlines(&d, rows, 1);
  std::vector<int> got = {static_cast<int>(d.output_width), static_cast<int>(d.output_height),
                          row[0], row[1], row[2]};
  jpeg_abort_decompress(&d);
  jpeg_destroy_decompress(&d);
  return got;
}

std::string shown(const std::vector<int>& v) {
  std::string out;
  for (int x : v) out += (out.empty() ? "" : " ") + std::to_string(x);
  return out;
}

bool near(int a, int b) { return a - b < 12 && b - a < 12; }

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const std::string path = folder + "/扫描 文件.pdf";  // qpdf takes UTF-8 file names on Windows
  const std::string jpeg = orange_jpeg();

  {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, jpeg);
    image.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Image /Width 64 /Height 48 /ColorSpace /DeviceRGB"
        " /BitsPerComponent 8 /Filter /DCTDecode >>"));
    QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 72 54] /Resources << /XObject << >> >> >>"));
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "q 72 0 0 54 0 0 cm /Im0 Do Q"));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(pdf, path.c_str());
    writer.setDeterministicID(true);
    writer.write();
  }

  QPDF pdf;
  pdf.processFile(path.c_str());
  auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
  check("qpdf reads it back", pages.size() == 1,
        "qpdf " + QPDF::QPDFVersion() + ", " + std::to_string(pages.size()) + " page(s) in " + path);
  std::string raw;
  for (auto& entry : pages.at(0).getImages()) {
    auto data = entry.second.getRawStreamData();
    raw.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  }
  const std::vector<int> small = decode_small(raw);
  check("libjpeg-turbo decodes the page's JPEG at 1/8",
        small[0] == 8 && small[1] == 6 && near(small[2], 250) && near(small[3], 160) &&
            near(small[4], 40),
        "libjpeg " + std::to_string(JPEG_LIB_VERSION) + ", width height r g b: " + shown(small));

  std::string bytes;
  std::FILE* in = QUtil::safe_fopen(path.c_str(), "rb");
  for (char chunk[4096]; std::size_t n = std::fread(chunk, 1, sizeof chunk, in);) bytes.append(chunk, n);
  std::fclose(in);
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  bool rendered = false;
  std::string detail = "no document";
  if (doc && doc->pages() == 1) {
    std::unique_ptr<poppler::page> page(doc->create_page(0));
    poppler::page_renderer renderer;
    poppler::image image = renderer.render_page(page.get(), 24, 24);
    const int w = image.width(), h = image.height();
    const unsigned char* px = reinterpret_cast<const unsigned char*>(image.const_data()) +
                              (h / 2) * image.bytes_per_row() + (w / 2) * 4;  // BGRA
    std::vector<int> seen = {w, h, px[2], px[1], px[0]};
    rendered = w == 24 && h == 18 && near(px[2], 250) && near(px[1], 160) && near(px[0], 40);
    detail = "poppler " + poppler::version_string() + ", width height r g b: " + shown(seen);
  }
  check("poppler renders the page", rendered, detail);
  const poppler::byte_array back = poppler::ustring::from_utf8("扫描 文件 😀").to_utf8();
  const std::string text(back.begin(), back.end());
  check("poppler's strings through the iconv layer", text == "扫描 文件 😀", text);
  std::printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
