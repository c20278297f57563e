#include "gui/jpeg_file.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "platform/atomic_file.h"

namespace {

// libjpeg's default error handler ends the process; ours jumps back to the encoder instead.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

[[noreturn]] void JumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->back, 1);
}

void Silence(j_common_ptr, int) {}

// Everything that needs cleaning up after a jump lives outside the function that jumps, in
// plain C objects.
bool Encode(const uint8_t* rgb, int width, int height, int quality, unsigned char** out,
            unsigned long* size) {
  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpBack;
  error.manager.emit_message = Silence;
  if (setjmp(error.back)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const size_t stride = static_cast<size_t>(width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(rgb + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::string EncodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
  if (width <= 0 || height <= 0 || quality < 0 || quality > 100) return {};
  if (rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) return {};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool encoded = Encode(rgb.data(), width, height, quality, &buffer, &size);
  std::string bytes;
  if (encoded && buffer) bytes.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

bool WriteJpegFile(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height,
                   int quality) {
  const std::string bytes = EncodeJpeg(rgb, width, height, quality);
  if (bytes.empty()) return false;
  AtomicFile file;
  if (!file.Open(path)) return false;
  if (!file.Write(bytes)) return false;
  return file.Commit(AtomicFile::Sync::Fast);
}
