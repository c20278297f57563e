#include "tests/themes/theme_packs.h"

#include <archive.h>
#include <archive_entry.h>
#include <png.h>

#include <memory>

namespace {

la_ssize_t AppendToString(archive*, void* target, const void* buffer, size_t length) {
  static_cast<std::string*>(target)->append(static_cast<const char*>(buffer), length);
  return static_cast<la_ssize_t>(length);
}

}  // namespace

std::string MakeZip(const std::vector<PackEntry>& entries) {
  std::string zip;
  std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                 archive_write_free);
  archive_write_set_format_zip(writer.get());
  archive_write_set_bytes_in_last_block(writer.get(), 1);
  archive_write_open(writer.get(), &zip, nullptr, AppendToString, nullptr);
  for (const PackEntry& item : entries) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        archive_entry_free);
    archive_entry_set_pathname(entry.get(), item.name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.data.size()));
    archive_write_header(writer.get(), entry.get());
    archive_write_data(writer.get(), item.data.data(), item.data.size());
  }
  archive_write_close(writer.get());
  return zip;
}

std::string MakePng(int width, int height, uint32_t rgba) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = static_cast<uint8_t>(rgba >> 24);
    pixels[i + 1] = static_cast<uint8_t>(rgba >> 16);
    pixels[i + 2] = static_cast<uint8_t>(rgba >> 8);
    pixels[i + 3] = static_cast<uint8_t>(rgba);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string png(size, '\0');
  png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr);
  png.resize(size);
  return png;
}

std::string ThemeConfig(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}
