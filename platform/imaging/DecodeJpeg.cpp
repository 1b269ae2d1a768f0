// JPEG files, through libjpeg.
#include <csetjmp>
#include <cstdio>

#include "platform/imaging/DecoderSupport.h"

// After our headers: jpeglib.h defines TRUE and FALSE as macros.
#include <jerror.h>
#include <jpeglib.h>
#undef TRUE
#undef FALSE

namespace plat::imaging {

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated;
};

void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(e->jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  // A premature end of the data is a truncated download, not a picture.
  if (level < 0 && e->mgr.msg_code == JWRN_JPEG_EOF) e->truncated = true;
}

// No C++ object with a destructor lives between setjmp and a longjmp here.
bool DecodeJpegInner(const std::uint8_t* data, std::size_t size, DecodedImage& out, const char** why,
                     std::uint64_t maxPixels, std::vector<std::uint8_t>& row) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  err.mgr.emit_message = JpegMessage;
  err.truncated = false;
  *why = "jpeg: corrupt data";
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, 1) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (!WithinBudget(cinfo.image_width, cinfo.image_height, maxPixels)) {
    *why = "jpeg: image too large";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  int comps = cinfo.output_components;
  if ((cmyk && comps != 4) || (!cmyk && comps != 3)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
  row.resize(static_cast<std::size_t>(out.width) * comps);
  bool inverted = cmyk && cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    std::uint32_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * out.width;
    for (int x = 0; x < out.width; ++x) {
      const std::uint8_t* p = row.data() + static_cast<std::size_t>(x) * comps;
      if (cmyk) {
        unsigned c = p[0], m = p[1], yy = p[2], k = p[3];
        if (!inverted) {
          c = 255 - c;
          m = 255 - m;
          yy = 255 - yy;
          k = 255 - k;
        }
        dst[x] = Argb(255, c * k / 255, m * k / 255, yy * k / 255);
      } else {
        dst[x] = Argb(255, p[0], p[1], p[2]);
      }
    }
    if (err.truncated) break;
  }
  if (err.truncated || cinfo.output_scanline < cinfo.output_height) {
    *why = "jpeg: truncated data";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return !err.truncated;
}

}  // namespace

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
                std::uint64_t maxPixels) {
  std::vector<std::uint8_t> row;
  const char* why = nullptr;
  if (!DecodeJpegInner(data, size, out, &why, maxPixels, row)) {
    out.pixels.clear();
    return Fail(error, why);
  }
  out.format = ImageFormat::Jpeg;
  out.hasAlpha = false;
  return true;
}

}  // namespace plat::imaging
