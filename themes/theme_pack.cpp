// Theme packs: listing and unpacking zip entries into memory (libarchive), decoding their PNG
// pictures (libpng), the scan of the theme folder and the loading of the active theme.

#include "themes/theme_pack.h"

#include <archive.h>
#include <archive_entry.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "settings/program_settings.h"
#include "themes/png_budget.h"

ThemeList g_theme_list;

namespace {

struct ArchiveFree {
  void operator()(archive* reader) const noexcept { archive_read_free(reader); }
};
using ArchiveReader = std::unique_ptr<archive, ArchiveFree>;

// Where a pack's bytes come from: a file, or memory when `path` is empty.
struct PackSource {
  std::string path;
  std::span<const uint8_t> bytes;
};

ArchiveReader OpenPack(const PackSource& source) {
  ArchiveReader reader(archive_read_new());
  if (!reader) return nullptr;
  // Zip only, and no outer compression: a pack is a plain zip archive.
  if (archive_read_support_format_zip(reader.get()) != ARCHIVE_OK) return nullptr;
  const int opened =
      source.path.empty()
          ? archive_read_open_memory(reader.get(), source.bytes.data(), source.bytes.size())
          : archive_read_open_filename(reader.get(), source.path.c_str(), 64 * 1024);
  if (opened != ARCHIVE_OK) return nullptr;
  return reader;
}

// Reads the entries of one pass, regular files only, and no more than MaxThemeEntries headers of
// any kind.
class EntryWalk {
 public:
  explicit EntryWalk(archive* reader) : reader_(reader) {}

  // The next regular-file entry's name and size; false at the end, at the bound or when the
  // archive is damaged.
  bool Next(std::string& name, int64_t& size);

 private:
  archive* reader_;
  size_t headers_ = 0;
};

bool EntryWalk::Next(std::string& name, int64_t& size) {
  while (headers_++ < MaxThemeEntries) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader_, &entry);
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) return false;
    const char* path = archive_entry_pathname(entry);
    if (!path || archive_entry_filetype(entry) != AE_IFREG) continue;
    name = path;
    size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
    return true;
  }
  return false;
}

// The current entry's data, read up to `limit` bytes. With `cut`, a longer entry gives its first
// `limit` bytes; without, it gives nothing, whatever size its header claimed.
std::optional<std::string> ReadEntry(archive* reader, size_t limit, bool cut) {
  std::string data;
  char buffer[16 * 1024];
  for (;;) {
    const la_ssize_t read = archive_read_data(reader, buffer, sizeof buffer);
    if (read < 0) return std::nullopt;
    if (read == 0) return data;
    const size_t room = limit - data.size();
    if (static_cast<size_t>(read) > room) {
      if (!cut) return std::nullopt;
      data.append(buffer, room);
      return data;
    }
    data.append(buffer, static_cast<size_t>(read));
  }
}

std::span<const uint8_t> AsBytes(const std::string& data) {
  return {reinterpret_cast<const uint8_t*>(data.data()), data.size()};
}

// The entry that each wanted icon name of one map asks for.
void WantEntries(const std::string& config, std::string_view section,
                 const std::vector<std::string>& names, int32_t size,
                 std::map<std::string, std::string>& entry_of_name) {
  for (const std::string& name : names) {
    const std::string value = GetThemeValue(config, section, name);
    if (!value.empty()) entry_of_name[name] = ThemeEntryName(value, size);
  }
}

void TakePictures(const std::map<std::string, std::string>& entry_of_name,
                  const std::map<std::string, RgbaPicture>& decoded,
                  std::map<std::string, RgbaPicture>& pictures) {
  for (const auto& [name, entry] : entry_of_name) {
    const auto found = decoded.find(entry);
    if (found != decoded.end()) pictures[name] = found->second;
  }
}

ThemePictures ReadPack(const PackSource& source, const ThemeIconNames& names,
                       const ThemeRequest& request) {
  ThemePictures pictures;

  // First pass: the listing of sizes and the description.
  ArchiveReader reader = OpenPack(source);
  if (!reader) return pictures;
  std::map<std::string, int64_t> sizes;
  std::optional<std::string> config;
  std::string name;
  int64_t size = 0;
  EntryWalk listing(reader.get());
  while (listing.Next(name, size)) {
    if (size <= 0 || !sizes.emplace(name, size).second) continue;
    if (name == ThemeConfigEntry && size <= static_cast<int64_t>(MaxThemeEntryBytes)) {
      config = ReadEntry(reader.get(), MaxThemeEntryBytes, false);
    }
  }
  if (!config) return pictures;

  std::map<std::string, std::string> button_entries, menu_entries, toolbar_entries;
  if (request.buttons) WantEntries(*config, "Buttons", names.buttons, 16, button_entries);
  if (request.menu_pictures) WantEntries(*config, "Icons", names.menu, 16, menu_entries);
  if (request.toolbar_pictures) {
    WantEntries(*config, "Icons", names.toolbar, request.toolbar_size, toolbar_entries);
  }
  std::set<std::string> wanted;
  for (const auto* entries : {&button_entries, &menu_entries, &toolbar_entries}) {
    for (const auto& [icon, entry] : *entries) {
      const auto listed = sizes.find(entry);
      if (listed != sizes.end() && listed->second <= static_cast<int64_t>(MaxThemeEntryBytes)) {
        wanted.insert(entry);
      }
    }
  }
  if (wanted.empty()) return pictures;

  // Second pass: each wanted entry unpacked and decoded once, however many names share it.
  reader = OpenPack(source);
  if (!reader) return pictures;
  std::map<std::string, RgbaPicture> decoded;
  EntryWalk unpacking(reader.get());
  while (!wanted.empty() && unpacking.Next(name, size)) {
    if (!wanted.erase(name)) continue;
    const std::optional<std::string> data = ReadEntry(reader.get(), MaxThemeEntryBytes, false);
    if (!data) continue;
    std::optional<RgbaPicture> picture = DecodeThemePicture(AsBytes(*data));
    if (picture) decoded.emplace(name, std::move(*picture));
  }

  TakePictures(button_entries, decoded, pictures.buttons);
  TakePictures(menu_entries, decoded, pictures.menu);
  TakePictures(toolbar_entries, decoded, pictures.toolbar);
  return pictures;
}

// Size of a regular file; 0 when it is missing, empty or something else.
uintmax_t PackSize(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return 0;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace

std::optional<RgbaPicture> DecodeThemePicture(std::span<const uint8_t> png) {
  // libpng inflates the whole image stream, however much more it holds than the rows need, and
  // text chunks it never shows.
  if (!PngInflatesWithinBounds(png, MaxThemePictureSide)) return std::nullopt;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  // Checked before any pixel is inflated: a header can claim any size.
  if (image.width == 0 || image.height == 0 || image.width > MaxThemePictureSide ||
      image.height > MaxThemePictureSide) {
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGBA;
  RgbaPicture picture;
  picture.width = static_cast<int32_t>(image.width);
  picture.height = static_cast<int32_t>(image.height);
  picture.pixels.resize(PNG_IMAGE_SIZE(image));
  const int finished = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr);
  png_image_free(&image);
  if (!finished) return std::nullopt;
  return picture;
}

ThemePictures ReadThemePictures(const std::string& pack_path, const ThemeIconNames& names,
                                const ThemeRequest& request) {
  if (pack_path.empty()) return {};
  return ReadPack({pack_path, {}}, names, request);
}

ThemePictures ReadThemePictures(std::span<const uint8_t> pack, const ThemeIconNames& names,
                                const ThemeRequest& request) {
  return ReadPack({{}, pack}, names, request);
}

std::string ReadThemeName(const std::string& theme_folder, std::string_view id) {
  const std::string path = ThemePackPath(theme_folder, id);
  if (PackSize(path) == 0) return {};
  ArchiveReader reader = OpenPack({path, {}});
  if (!reader) return {};
  std::string name;
  int64_t size = 0;
  EntryWalk walk(reader.get());
  while (walk.Next(name, size)) {
    if (name != ThemeConfigEntry) continue;
    std::optional<std::string> head = ReadEntry(reader.get(), ThemeNameBytes, true);
    if (!head) return {};
    // The head is taken as text, which ends at a zero byte.
    head->resize(std::min(head->size(), head->find('\0')));
    return GetThemeValue(*head, "Theme", "Name");
  }
  return {};
}

ThemeList ScanThemes(const std::string& theme_folder) {
  ThemeList themes;
  std::error_code error;
  std::filesystem::directory_iterator folder(theme_folder, error);
  if (error) return themes;
  std::vector<std::string> ids;
  for (const auto& entry : folder) {
    const std::string file_name = entry.path().filename().string();
    if (!file_name.ends_with(".zip") || !entry.is_regular_file(error)) continue;
    ids.push_back(file_name.substr(0, file_name.size() - 4));
  }
  // In byte order, so "the theme scanned last" is the same on every run.
  std::sort(ids.begin(), ids.end());
  for (const std::string& id : ids) {
    themes.names[id] = ReadThemeName(theme_folder, id);
    themes.last_scanned = id;
  }
  return themes;
}

void ScanThemes() { g_theme_list = ScanThemes(ThemeFolder(g_process.program_folder)); }

ThemePictures LoadTheme(const ThemeIconNames& names, bool buttons, bool menu_pictures,
                        bool toolbar_pictures, InterfaceSettings& interface,
                        const ThemeList& themes, const std::string& theme_folder) {
  std::string path = ThemePackPath(theme_folder, interface.ui_theme);
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !themes.names.empty()) {
    interface.ui_theme = themes.last_scanned;
    path = ThemePackPath(theme_folder, interface.ui_theme);
  }
  if (PackSize(path) == 0) return {};
  const ThemeRequest request{buttons, menu_pictures, toolbar_pictures,
                             ThemePictureSize(interface.ui_size)};
  return ReadThemePictures(path, names, request);
}
