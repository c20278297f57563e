#include "engine/output/formats.h"

#include <FreeImage.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <initializer_list>

#include "platform/ascii.h"
#include "platform/text.h"
#include "settings/program_settings.h"

InputFormatTable g_input_formats;
OutputFormatTable g_output_formats;
std::vector<std::string> g_accepted_input_extensions;

namespace {

void AddOutput(std::string key, int32_t fif, std::string description, std::string depths) {
  OutputFormatEntry entry{fif, key, std::move(description), std::move(depths)};
  g_output_formats.Set(std::move(key), std::move(entry));
}

void AddInput(std::string_view group, std::initializer_list<std::string_view> extensions,
              std::string_view description) {
  for (std::string_view extension : extensions) {
    g_input_formats.Set(std::string(extension),
                        InputFormatEntry{std::string(group), std::string(description)});
  }
}

}  // namespace

void BuildOutputFormats() {
  if (!g_output_formats.Empty()) return;
  AddOutput("bmp", FIF_BMP, "Windows or OS/2 Bitmap", "1,4,8,16,24,32");
  AddOutput("exr", FIF_EXR, "ILM OpenEXR", "96");
  AddOutput("gif", FIF_GIF, "Graphics Interchange Format", "8");
  AddOutput("hdr", FIF_HDR, "High Dynamic Range Image", "96");
  AddOutput("ico", FIF_ICO, "Windows Icon", "1,4,8,16,24,32");
  AddOutput("j2k", FIF_J2K, "JPEG-2000 Codestream", "8,24,32,48");
  AddOutput("jng", FIF_JNG, "JPEG Network Graphics", "24,32");
  AddOutput("jp2", FIF_JP2, "JPEG-2000 File Format", "8,24,32,48");
  AddOutput("jpg", FIF_JPEG, "JPEG File Format", "8,24");
  AddOutput("jxr", FIF_JXR, "JPEG XR Image Format", "1,8,16,24,32,48,96");
  AddOutput("pbm", FIF_PBM, "Portable Bitmap", "1");
  AddOutput("pfm", FIF_PFM, "Portable Floatmap", "96");
  AddOutput("pgm", FIF_PGM, "Portable Greymap", "8");
  // 64 is 16-bit RGBA, so a deep document with transparency keeps both.
  AddOutput("png", FIF_PNG, "Portable Network Graphics", "1,4,8,24,32,48,64");
  AddOutput("ppm", FIF_PPM, "Portable Pixelmap", "24,48");
  AddOutput("tga", FIF_TARGA, "Truevision Targa", "8,16,24,32");
  AddOutput("tiff", FIF_TIFF, "Tagged Image File Format", "1,4,8,24,32,48,96");
  AddOutput("wbmp", FIF_WBMP, "Wireless Bitmap", "1");
  AddOutput("webp", FIF_WEBP, "Google WebP Image Format", "24,32");
  AddOutput("xpm", FIF_XPM, "X11 Pixmap Format", "24");
}

void BuildInputFormats() {
  if (!g_input_formats.Empty()) return;
  AddInput("bmp", {"bmp", "rle", "dib"}, "Windows or OS/2 Bitmap");
  AddInput("dds", {"dds"}, "DirectDraw Surface File");
  AddInput("emf", {"emf", "emz"}, "Enhanced Metafile Format");
  AddInput("gif", {"gif"}, "GIF File");
  AddInput("hdr", {"hdr", "hdri"}, "High Dynamic Range File");
  AddInput("ico", {"ico"}, "Windows Icon");
  AddInput("jpg", {"jpg", "jpeg", "jpe", "jif"}, "JPEG File");
  AddInput("pcd", {"pcd", "pcd1", "pcds", "ppcd"}, "Kodak PhotoCD File");
  AddInput("pcx", {"pcx"}, "ZSoft Paintbrush File");
  AddInput("pic", {"pic", "pict", "pct"}, "Macintosh PICT");
  AddInput("png", {"png"}, "Portable Network Graphics");
  AddInput("psd", {"psd", "psb"}, "Adobe Photoshop File");
  AddInput("tga", {"tga", "targa"}, "Truevision Targa");
  AddInput("tiff", {"tiff", "tif"}, "Tagged Image File Format");
  AddInput("wmf", {"wmf", "wmz"}, "Windows Metafile Format");
  AddInput("wmf", {"apm"}, "Aldus Placeable Metafile");
  AddInput("raw", {"raw", "raw1", "raw2"}, "Camera RAW Image");
  AddInput("raw", {"3fr"}, "Hasselblad Camera RAW Image");
  AddInput("raw", {"arw", "sr2", "srf"}, "Sony Camera RAW Image");
  AddInput("raw", {"bay"}, "Casio Camera RAW Image");
  AddInput("raw", {"bmq"}, "NuCore RAW Image");
  AddInput("raw", {"cap", "iiq", "eip"}, "Phase One Camera RAW Image");
  AddInput("raw", {"cine"}, "Phantom RAW Image");
  AddInput("raw", {"cr2", "crw"}, "Canon Camera RAW Image");
  AddInput("raw", {"cs1"}, "Capture Shop RAW Image");
  AddInput("raw", {"dc2", "dcr", "drf", "dsc", "k25", "kc2", "kdc", "dcs"},
           "Kodak Camera RAW Image");
  AddInput("raw", {"dng"}, "Adobe Digital Negative Image");
  AddInput("raw", {"erf"}, "Epson Camera RAW Image");
  AddInput("raw", {"fff"}, "Imacon Camera RAW Image");
  AddInput("raw", {"ia", "sti"}, "Sinar RAW Image");
  AddInput("raw", {"mdc", "mrw"}, "Minolta Camera RAW Image");
  AddInput("raw", {"mef", "mos"}, "Mamiya Camera RAW Image");
  AddInput("raw", {"nef", "nrw"}, "Nikon Camera RAW Image");
  AddInput("raw", {"orf"}, "Olympus Camera RAW Image");
  AddInput("raw", {"pef", "ptx"}, "Pentax Camera RAW Image");
  AddInput("raw", {"pxn"}, "Logitech Camera RAW Image");
  AddInput("raw", {"qtk"}, "Apple Quicktake Camera RAW Image");
  AddInput("raw", {"raf"}, "Fuji Camera RAW Image");
  AddInput("raw", {"rdc"}, "Digital Foto Maker RAW Image");
  AddInput("raw", {"rw2"}, "Panasonic Camera RAW Image");
  AddInput("raw", {"rwz"}, "Rawzor Camera RAW Image");
  AddInput("raw", {"x3f"}, "Sigma Camera RAW Image");
  AddInput("raw", {"ari"}, "ARRI RAW Image");
  AddInput("raw", {"r3d"}, "RED RAW Image");
  AddInput("raw", {"rwl"}, "Leica Camera RAW Image");
}

std::vector<std::string> AcceptedExtensionsFor(const std::vector<std::string>& keys,
                                               const InputFormatTable& table) {
  std::vector<std::string> extensions;
  for (const std::string& key : keys) {
    for (const auto& [extension, entry] : table) {
      if (entry.group == key) extensions.push_back(extension);
    }
  }
  return extensions;
}

void RebuildAcceptedExtensions() {
  BuildInputFormats();
  g_accepted_input_extensions = AcceptedExtensionsFor(g_process.input_format_keys, g_input_formats);
}

std::string LowerExtension(std::string_view path) {
  const std::string_view name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  return ToLowerAscii(name.substr(dot + 1));
}

bool IsAcceptedInputPath(std::string_view path) {
  const std::string extension = LowerExtension(path);
  if (extension.empty()) return false;
  return std::find(g_accepted_input_extensions.begin(), g_accepted_input_extensions.end(),
                   extension) != g_accepted_input_extensions.end();
}

const OutputFormatEntry* FindOutputFormat(std::string_view key) {
  BuildOutputFormats();
  return g_output_formats.Find(key);
}

bool IsValidOutputKey(std::string_view key) {
  const std::vector<std::string>& keys = g_process.output_format_keys;
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::vector<int32_t> ParseDepthList(std::string_view depths) {
  std::vector<int32_t> values;
  while (!depths.empty()) {
    const size_t comma = depths.find(',');
    const std::string_view item = depths.substr(0, comma);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (error == std::errc() && end == item.data() + item.size()) values.push_back(value);
    if (comma == std::string_view::npos) break;
    depths.remove_prefix(comma + 1);
  }
  return values;
}
