#include "app/JpegImage.h"

#include <jpeglib.h>
#include <csetjmp>
#include <cstdio>

namespace qav {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings are not worth a word on standard error

// Everything that must be cleaned up after a longjmp lives outside this function's frame.
bool Decode(jpeg_decompress_struct& info, ErrorManager& errors, const QByteArray& data,
            QImage& image) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                 QImage::Format_RGB888);
  if (image.isNull()) return false;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnError;
  errors.base.output_message = OnMessage;
  QImage image;
  const bool ok = Decode(info, errors, data, image);
  jpeg_destroy_decompress(&info);
  return ok ? image : QImage();
}

}  // namespace qav
