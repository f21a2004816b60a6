// Under wine: the cross-built libraries, each doing the splitter's kind of work. A page holding one
// JPEG (made with libjpeg-turbo) is written by qpdf to a file with a Chinese name, read back by qpdf,
// its JPEG decoded at 1/8 scale by libjpeg-turbo, and the page rendered by poppler's C++ front end
// from memory (its UTF-16 strings go through the iconv layer). A line of text rendered by poppler
// at 300 dpi is read back by tesseract from those grey pixels in memory, with the English data of
// the tessdata folder given (a path with Chinese characters in it). Exits 1 if any step fails.
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
#include <exception>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tesseract/baseapi.h>
#include <windows.h>
#undef near  // windows.h's, from the days of 16-bit pointers

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

// A page with one line of Helvetica text, as PDF bytes.
std::string text_page_pdf(const std::string& line) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
      "<< /Type /Page /MediaBox [0 0 360 60] /Resources << /Font << /F1 << /Type /Font"
      " /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>"));
  page.replaceKey("/Contents",
                  QPDFObjectHandle::newStream(&pdf, "BT /F1 20 Tf 12 24 Td (" + line + ") Tj ET"));
  QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

// tesseract's own reading of its data opens the path in the ANSI code page; qpdf's opens a UTF-8
// path through the UTF-16 API, so a tessdata folder with any characters in its path is read.
bool read_utf8_file(const char* path, std::vector<char>* data) {
  std::FILE* f = nullptr;
  try {
    f = QUtil::safe_fopen(path, "rb");
  } catch (const std::exception&) {
    return false;
  }
  data->clear();
  for (char chunk[65536]; std::size_t n = std::fread(chunk, 1, sizeof chunk, f);)
    data->insert(data->end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

// The text tesseract reads in the page rendered at 300 dpi, grey, handed over from memory.
std::string recognised(const std::string& pdf, const std::string& tessdata) {
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(pdf.data(), static_cast<int>(pdf.size())));
  if (!doc) return "(no document)";
  std::unique_ptr<poppler::page> page(doc->create_page(0));
  poppler::page_renderer renderer;
  poppler::image image = renderer.render_page(page.get(), 300, 300);
  const int w = image.width(), h = image.height();
  std::vector<unsigned char> grey(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row =
        reinterpret_cast<const unsigned char*>(image.const_data()) + y * image.bytes_per_row();
    for (int x = 0; x < w; ++x)  // BGRA
      grey[static_cast<std::size_t>(y) * w + x] =
          static_cast<unsigned char>((row[4 * x] * 29 + row[4 * x + 1] * 150 + row[4 * x + 2] * 77) >> 8);
  }
  tesseract::TessBaseAPI api;
  if (api.Init(tessdata.c_str(), 0, "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, nullptr, nullptr, false,
               read_utf8_file) != 0)
    return "(no eng data in " + tessdata + ")";
  api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
  api.SetImage(grey.data(), w, h, 1, w);
  api.SetSourceResolution(300);
  std::unique_ptr<char[]> text(api.GetUTF8Text());
  std::string out = text ? text.get() : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// An argument as main receives it (in the ANSI code page) in UTF-8.
std::string utf8_argument(const char* ansi) {
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], static_cast<int>(wide.size()));
  std::string out(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(out.size() - 1);  // the terminating zero
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const std::string tessdata = argc > 2 ? utf8_argument(argv[2]) : "tessdata";
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
  const std::string line = "Orvane 4711 splits scanned batches";
  const std::string read = recognised(text_page_pdf(line), tessdata);
  check("tesseract reads poppler's rendering from memory", read == line,
        std::string("tesseract ") + tesseract::TessBaseAPI::Version() + ": " + read);
  std::printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
