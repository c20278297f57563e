// Writes the default theme pack: "theme.cfg" and every picture of HandDrawnIconNames at each
// toolbar size, as a zip archive. With --sheet it also writes a contact sheet of all pictures
// (at their own pixels, enlarged by --zoom, sizes up to --max-size) for looking at them.
//
//   quorvix-make-theme OUTPUT.zip [--sheet SHEET.png [--zoom N] [--max-size PX]]
//   quorvix-make-theme --program-icon FOLDER
//
// The second form writes the program's icon into an icon theme folder (hicolor's layout):
// FOLDER/NxN/apps/quorvix.png at the usual sizes and FOLDER/scalable/apps/quorvix.svg.

#include <archive.h>
#include <archive_entry.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/hand_drawn_icons.h"

namespace {

constexpr int Sizes[] = {16, 24, 32, 48, 64};
constexpr int ProgramIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The names the "Buttons" section gives pictures of, with the size the window's buttons show
// them at; the others are in "Icons". A theme is asked for 16-pixel buttons unless it names an
// entry whole, so the pack names the large ones.
struct ButtonPicture {
  std::string_view name;
  int size;
};
constexpr ButtonPicture ButtonPictures[] = {{"Convert", 64}, {"InFiles", 48}, {"InFolder", 48}};
// A fixed time for every entry, so the same drawings always give the same pack.
constexpr time_t EntryTime = 1704067200;  // 2024-01-01

struct SurfaceFree {
  void operator()(cairo_surface_t* surface) const noexcept { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceFree>;
struct ContextFree {
  void operator()(cairo_t* cr) const noexcept { cairo_destroy(cr); }
};
using Context = std::unique_ptr<cairo_t, ContextFree>;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

Surface DrawIcon(std::string_view name, int size) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
  Context cr(cairo_create(surface.get()));
  DrawHandDrawnIcon(cr.get(), name, size);
  cairo_surface_flush(surface.get());
  return surface;
}

cairo_status_t AppendBytes(void* target, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(target)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

std::string EncodePng(cairo_surface_t* surface) {
  std::string png;
  if (cairo_surface_write_to_png_stream(surface, AppendBytes, &png) != CAIRO_STATUS_SUCCESS) {
    return {};
  }
  return png;
}

std::string ThemeConfigText(const std::vector<std::string_view>& names) {
  std::string text = "[Theme]\r\nName=Hand Drawn\r\n[Buttons]\r\n";
  for (const ButtonPicture& button : ButtonPictures) {
    text += std::string(button.name) + "=" + Lower(button.name) + "_" +
            std::to_string(button.size) + ".png\r\n";
  }
  text += "[Icons]\r\n";
  for (std::string_view name : names) text += std::string(name) + "=" + Lower(name) + "\r\n";
  return text;
}

bool AddEntry(archive* writer, const std::string& name, const std::string& data) {
  std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                      archive_entry_free);
  archive_entry_set_pathname(entry.get(), name.c_str());
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), 0644);
  archive_entry_set_mtime(entry.get(), EntryTime, 0);
  archive_entry_set_size(entry.get(), static_cast<la_int64_t>(data.size()));
  if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) return false;
  return archive_write_data(writer, data.data(), data.size()) ==
         static_cast<la_ssize_t>(data.size());
}

bool WritePack(const std::string& path) {
  const std::vector<std::string_view> names = HandDrawnIconNames();
  // Written beside the target and renamed over it: a build stopped halfway leaves no broken pack.
  const std::string temporary = path + ".tmp";
  std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                 archive_write_free);
  if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK ||
      archive_write_open_filename(writer.get(), temporary.c_str()) != ARCHIVE_OK) {
    return false;
  }
  bool written = AddEntry(writer.get(), "theme.cfg", ThemeConfigText(names));
  for (std::string_view name : names) {
    for (int size : Sizes) {
      const std::string png = EncodePng(DrawIcon(name, size).get());
      written = written && !png.empty() &&
                AddEntry(writer.get(), Lower(name) + "_" + std::to_string(size) + ".png", png);
    }
  }
  written = archive_write_close(writer.get()) == ARCHIVE_OK && written;
  std::error_code error;
  if (written) std::filesystem::rename(temporary, path, error);
  if (!written || error) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

// Every picture at every size, one row a name, on a light and on a dark ground.
bool WriteSheet(const std::string& path, int zoom, int max_size) {
  const std::vector<std::string_view> names = HandDrawnIconNames();
  std::vector<int> sizes;
  for (int size : Sizes) {
    if (size <= max_size) sizes.push_back(size);
  }
  const int Cell = sizes.back() + 8;
  const int columns = 2 * static_cast<int>(sizes.size());
  const int width = columns * Cell * zoom;
  const int height = static_cast<int>(names.size()) * Cell * zoom;
  Surface sheet(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  Context cr(cairo_create(sheet.get()));
  cairo_scale(cr.get(), zoom, zoom);
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_paint(cr.get());
  cairo_rectangle(cr.get(), columns / 2 * Cell, 0, columns / 2 * Cell, names.size() * Cell);
  cairo_set_source_rgb(cr.get(), 0.25, 0.25, 0.28);
  cairo_fill(cr.get());
  for (size_t row = 0; row < names.size(); ++row) {
    for (int column = 0; column < columns; ++column) {
      const int size = sizes[column % sizes.size()];
      const Surface icon = DrawIcon(names[row], size);
      cairo_set_source_surface(cr.get(), icon.get(), column * Cell + (Cell - size) / 2,
                               static_cast<double>(row) * Cell + (Cell - size) / 2);
      // Enlarged pixel by pixel, so the sheet shows what a screen shows.
      cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
      cairo_paint(cr.get());
    }
  }
  return cairo_surface_write_to_png(sheet.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool WriteProgramIcons(const std::filesystem::path& folder) {
  std::error_code error;
  for (int size : ProgramIconSizes) {
    const std::string edge = std::to_string(size);
    const std::filesystem::path apps = folder / (edge + "x" + edge) / "apps";
    std::filesystem::create_directories(apps, error);
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
    Context cr(cairo_create(surface.get()));
    DrawProgramIcon(cr.get(), size);
    cairo_surface_flush(surface.get());
    const std::string path = (apps / "quorvix.png").string();
    if (cairo_surface_write_to_png(surface.get(), path.c_str()) != CAIRO_STATUS_SUCCESS) {
      return false;
    }
  }
  // The scalable one is drawn at the largest size, where every detail is kept.
  const std::filesystem::path scalable = folder / "scalable" / "apps";
  std::filesystem::create_directories(scalable, error);
  const std::string path = (scalable / "quorvix.svg").string();
  Surface surface(cairo_svg_surface_create(path.c_str(), 256, 256));
  cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
  {
    Context cr(cairo_create(surface.get()));
    DrawProgramIcon(cr.get(), 256);
  }
  cairo_surface_finish(surface.get());
  return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::fprintf(stderr,
                 "usage: quorvix-make-theme OUTPUT.zip [--sheet SHEET.png [--zoom N] [--max-size "
                 "PX]]\n       quorvix-make-theme --program-icon FOLDER\n");
    return 2;
  }
  if (arguments.size() == 2 && arguments[0] == "--program-icon") {
    if (WriteProgramIcons(arguments[1])) return 0;
    std::fprintf(stderr, "quorvix-make-theme: cannot write icons into %s\n", arguments[1].c_str());
    return 1;
  }
  std::string sheet;
  int zoom = 1;
  int max_size = 64;
  for (size_t i = 1; i + 1 < arguments.size(); i += 2) {
    if (arguments[i] == "--sheet") sheet = arguments[i + 1];
    if (arguments[i] == "--zoom") zoom = std::max(1, std::atoi(arguments[i + 1].c_str()));
    if (arguments[i] == "--max-size") max_size = std::max(16, std::atoi(arguments[i + 1].c_str()));
  }
  if (!WritePack(arguments[0])) {
    std::fprintf(stderr, "quorvix-make-theme: cannot write %s\n", arguments[0].c_str());
    return 1;
  }
  if (!sheet.empty() && !WriteSheet(sheet, zoom, max_size)) {
    std::fprintf(stderr, "quorvix-make-theme: cannot write %s\n", sheet.c_str());
    return 1;
  }
  return 0;
}
