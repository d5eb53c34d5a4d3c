#include "client/config/ui/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace tarvo::client {
namespace {

// A picture bigger than this is not a dialog background.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;
constexpr JDIMENSION kMaxSide = 8192;

// libjpeg's default error handler exits the process; this one jumps back to the decoder.
struct ErrorManager {
  jpeg_error_mgr public_fields;
  std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Decodes `bytes` into `image`. Kept free of objects with destructors between setjmp and the
// jumps back to it, as longjmp requires.
bool Decode(const std::vector<unsigned char>& bytes, QImage& image) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.public_fields);
  errors.public_fields.error_exit = OnJpegError;
  errors.public_fields.output_message = IgnoreJpegMessage;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0 ||
      info.output_width > kMaxSide || info.output_height > kMaxSide) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                 QImage::Format_RGB888);
  if (image.isNull()) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage ReadJpegFile(const std::filesystem::path& file) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size == 0 || size > kMaxFileSize) return {};
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (bytes.empty()) return {};
  QImage image;
  if (!Decode(bytes, image)) return {};
  return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace tarvo::client
