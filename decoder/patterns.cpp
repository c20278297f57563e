#include "decoder/patterns.h"

#include <algorithm>
#include <cmath>

#include "decoder/psd_layers.h"
#include "engine/image/byte_cursor.h"
#include "engine/psd/packbits.h"

namespace {

// Patterns and their arrays beyond these counts are damage.
constexpr uint64_t MaxPatterns = 4096;
constexpr uint64_t MaxArrayChannels = 64;

int ModeColours(uint32_t mode) {
  switch (mode) {
    case PsdModeGreyscale:
      return 1;
    case PsdModeRgb:
    case PsdModeLab:
      return 3;
    case PsdModeCmyk:
      return 4;
    default:
      return 0;
  }
}

bool ReadPlane(ByteCursor& cursor, std::span<const uint8_t> file, DocumentPattern::Plane& plane) {
  uint64_t written = 0, length = 0;
  if (!cursor.Read(4, written)) return false;
  if (written == 0) return true;
  if (!cursor.Read(4, length) || length > cursor.remaining()) return false;
  if (length == 0) return true;
  const std::span<const uint8_t> array = cursor.Peek(length);
  cursor.Skip(length);
  ByteCursor fields(array);
  uint64_t depth = 0, top = 0, left = 0, bottom = 0, right = 0, compression = 0;
  if (!fields.Read(4, depth) || !fields.Read(4, top) || !fields.Read(4, left) ||
      !fields.Read(4, bottom) || !fields.Read(4, right) || !fields.Skip(2) ||
      !fields.Read(1, compression)) {
    return false;
  }
  plane.present = true;
  plane.depth = static_cast<uint32_t>(depth);
  plane.compression = static_cast<uint8_t>(compression);
  plane.width = static_cast<int32_t>(right) - static_cast<int64_t>(static_cast<int32_t>(left));
  plane.height = static_cast<int32_t>(bottom) - static_cast<int64_t>(static_cast<int32_t>(top));
  plane.offset = static_cast<uint64_t>(array.data() - file.data()) + fields.position();
  plane.length = fields.remaining();
  return true;
}

// One pattern at the cursor; false when it breaks its bytes.
bool ReadPattern(std::span<const uint8_t> file, std::span<const uint8_t> bytes,
                 DocumentPattern& pattern) {
  ByteCursor cursor(bytes);
  uint64_t version = 0, mode = 0, height = 0, width = 0, units = 0, id_length = 0;
  if (!cursor.Read(4, version) || !cursor.Read(4, mode) || !cursor.Read(2, height) ||
      !cursor.Read(2, width) || !cursor.Read(4, units) || units > cursor.remaining() / 2 ||
      !cursor.Skip(units * 2) || !cursor.Read(1, id_length)) {
    return false;
  }
  const std::span<const uint8_t> id = cursor.Peek(id_length);
  if (id.size() != id_length || !cursor.Skip(id_length)) return false;
  pattern.id.assign(id.begin(), id.end());
  pattern.mode = static_cast<uint32_t>(mode);
  pattern.width = static_cast<int64_t>(width);
  pattern.height = static_cast<int64_t>(height);
  if (mode == 2 && !cursor.Skip(768)) return false;  // an indexed pattern's palette
  uint64_t list_version = 0, list_length = 0, channels = 0;
  if (!cursor.Read(4, list_version) || !cursor.Read(4, list_length) || !cursor.Skip(16) ||
      !cursor.Read(4, channels) || channels > MaxArrayChannels) {
    return false;
  }
  // The colour arrays, then the user mask and the sheet mask.
  std::vector<DocumentPattern::Plane> planes(channels + 2);
  for (DocumentPattern::Plane& plane : planes) {
    if (!ReadPlane(cursor, file, plane)) return false;
  }
  const auto colours = static_cast<size_t>(ModeColours(pattern.mode));
  if (colours == 0 || colours > channels) return true;  // kept, never drawn
  pattern.colours.assign(planes.begin(), planes.begin() + static_cast<std::ptrdiff_t>(colours));
  pattern.alpha = planes[channels];
  return true;
}

void ReadPatternBlock(std::span<const uint8_t> file, std::span<const uint8_t> block,
                      std::vector<DocumentPattern>& patterns) {
  ByteCursor cursor(block);
  uint64_t length = 0;
  while (patterns.size() < MaxPatterns && cursor.Read(4, length) && length <= cursor.remaining()) {
    DocumentPattern pattern;
    if (ReadPattern(file, cursor.Peek(length), pattern)) patterns.push_back(std::move(pattern));
    cursor.Skip(length);
    cursor.Skip((4 - cursor.position() % 4) % 4);
  }
}

// Samples of one array, 0..1, `width` by `height`, into every `stride`th float of `out`.
bool DecodePlane(std::span<const uint8_t> file, const DocumentPattern::Plane& plane, int64_t width,
                 int64_t height, float* out, size_t stride) {
  if (plane.width != width || plane.height != height) return false;
  if (plane.depth != 8 && plane.depth != 16 && plane.depth != 32) return false;
  if (plane.offset > file.size() || plane.length > file.size() - plane.offset) return false;
  const std::span<const uint8_t> data = file.subspan(plane.offset, plane.length);
  const auto row_bytes = static_cast<size_t>(width) * plane.depth / 8;
  std::vector<uint8_t> row(row_bytes);
  ByteCursor rows(data);
  ByteCursor counts(data);
  if (plane.compression == 1) {
    if (!rows.Skip(static_cast<uint64_t>(height) * 2)) return false;
  } else if (plane.compression != 0) {
    return false;
  }
  for (int64_t y = 0; y < height; ++y) {
    if (plane.compression == 1) {
      uint64_t count = 0;
      counts.Read(2, count);
      const std::span<const uint8_t> packed = rows.Peek(count);
      if (packed.size() != count || !UnpackBitsRow(packed, row)) return false;
      rows.Skip(count);
    } else {
      const std::span<const uint8_t> raw = rows.Peek(row_bytes);
      if (raw.size() != row_bytes) return false;
      std::copy(raw.begin(), raw.end(), row.begin());
      rows.Skip(row_bytes);
    }
    float* to = out + static_cast<size_t>(y * width) * stride;
    for (int64_t x = 0; x < width; ++x, to += stride) {
      const auto i = static_cast<size_t>(x);
      switch (plane.depth) {
        case 8:
          *to = row[i] / 255.0f;
          break;
        case 16:
          *to = BigEndian16(row.data() + 2 * i) / 65535.0f;
          break;
        default: {
          const float value = BigEndianFloat(row.data() + 4 * i);
          *to = std::isfinite(value) ? value : 0.0f;
        }
      }
    }
  }
  return true;
}

double Wrap(double value, double period) {
  const double wrapped = std::fmod(value, period);
  return wrapped < 0 ? wrapped + period : wrapped;
}

}  // namespace

std::vector<DocumentPattern> ReadDocumentPatterns(std::span<const uint8_t> file,
                                                  const PsdHeader& header) {
  std::vector<DocumentPattern> patterns;
  if (header.layers_offset > file.size() ||
      header.layers_size > file.size() - header.layers_offset) {
    return patterns;
  }
  const size_t width = header.version == 2 ? 8 : 4;
  ByteCursor section(file.subspan(header.layers_offset, header.layers_size));
  uint64_t length = 0;
  // The layer info and the global layer mask come first.
  if (!section.Read(width, length) || !section.Skip(length) || !section.Read(4, length) ||
      !section.Skip(length)) {
    return patterns;
  }
  while (section.remaining() >= 12) {
    if (!section.Matches("8BIM") && !section.Matches("8B64")) break;
    section.Skip(4);
    uint64_t key = 0;
    section.Read(4, key);
    const bool wide = header.version == 2 &&
                      (key == FourCc("Lr16") || key == FourCc("Lr32") || key == FourCc("Layr") ||
                       key == FourCc("LMsk") || key == FourCc("Mt16") || key == FourCc("Mt32") ||
                       key == FourCc("Mtrn") || key == FourCc("Alph") || key == FourCc("FMsk") ||
                       key == FourCc("lnk2") || key == FourCc("FEid") || key == FourCc("FXid") ||
                       key == FourCc("PxSD"));
    if (!section.Read(wide ? 8 : 4, length) || length > section.remaining()) break;
    if (key == FourCc("Patt") || key == FourCc("Pat2") || key == FourCc("Pat3")) {
      ReadPatternBlock(file, section.Peek(length), patterns);
    }
    section.Skip(length);
    while (section.remaining() > 0 && !section.Matches("8BIM") && !section.Matches("8B64")) {
      section.Skip(1);
    }
  }
  return patterns;
}

bool PatternDrawable(const DocumentPattern& pattern, uint16_t mode) {
  if (pattern.colours.empty() || pattern.width <= 0 || pattern.height <= 0 ||
      pattern.width > MaxPatternSide || pattern.height > MaxPatternSide ||
      pattern.width * pattern.height > MaxPatternArea) {
    return false;
  }
  // Grey and RGB show in each other (and in indexed, composited as RGB); CMYK and Lab only in
  // their own mode.
  for (const uint32_t own : {uint32_t{PsdModeCmyk}, uint32_t{PsdModeLab}}) {
    if (mode == own || pattern.mode == own) return pattern.mode == mode;
  }
  return true;
}

std::optional<PatternTile> DecodePattern(std::span<const uint8_t> file,
                                         const DocumentPattern& pattern, uint16_t mode,
                                         int colours) {
  if (!PatternDrawable(pattern, mode)) return std::nullopt;
  PatternTile tile;
  tile.width = pattern.width;
  tile.height = pattern.height;
  tile.colours = colours;
  const auto stride = static_cast<size_t>(colours + 1);
  const auto own = static_cast<int>(pattern.colours.size());
  const size_t area = static_cast<size_t>(tile.width) * static_cast<size_t>(tile.height);
  std::vector<float> stored(area * static_cast<size_t>(own));
  for (int c = 0; c < own; ++c) {
    if (!DecodePlane(file, pattern.colours[static_cast<size_t>(c)], tile.width, tile.height,
                     stored.data() + c, static_cast<size_t>(own))) {
      return std::nullopt;
    }
  }
  tile.samples.assign(area * stride, 1.0f);
  if (pattern.alpha.present && !DecodePlane(file, pattern.alpha, tile.width, tile.height,
                                            tile.samples.data() + colours, stride)) {
    return std::nullopt;
  }
  for (size_t i = 0; i < area; ++i) {
    const float* from = stored.data() + i * static_cast<size_t>(own);
    float* to = tile.samples.data() + i * stride;
    if (own == colours) {
      std::copy(from, from + own, to);
    } else if (own == 3) {  // an RGB pattern in a grey document: its Rec. 601 luma
      to[0] = 0.299f * from[0] + 0.587f * from[1] + 0.114f * from[2];
    } else {  // a grey pattern in an RGB document
      std::fill(to, to + colours, from[0]);
    }
  }
  return tile;
}

std::optional<PatternPlacement> ReadPatternPlacement(const Descriptor& settings) {
  const Descriptor* pattern = settings.Object("Ptrn");
  if (!pattern) return std::nullopt;
  PatternPlacement placement;
  placement.id = pattern->Text("Idnt");
  if (placement.id.empty()) return std::nullopt;
  const double scale = settings.Number("Scl ", 100) / 100;
  placement.scale = std::isfinite(scale) ? std::clamp(scale, 0.01, 100.0) : 1.0;
  placement.align = settings.Flag("Algn", true);
  if (const Descriptor* phase = settings.Object("phase")) {
    const double x = phase->Number("Hrzn"), y = phase->Number("Vrtc");
    placement.phase_x = std::isfinite(x) ? std::clamp(x, -1e6, 1e6) : 0;
    placement.phase_y = std::isfinite(y) ? std::clamp(y, -1e6, 1e6) : 0;
  }
  return placement;
}

void FillPattern(const PatternTile& tile, const PatternPlacement& placement, double origin_x,
                 double origin_y, const LayerRect& region, float* out, size_t stride) {
  const int channels = tile.colours + 1;
  const auto width = static_cast<double>(tile.width);
  const auto height = static_cast<double>(tile.height);
  const auto at = [&](int64_t x, int64_t y) {
    return tile.samples.data() +
           static_cast<size_t>(y * tile.width + x) * static_cast<size_t>(channels);
  };
  for (int64_t y = region.top; y < region.bottom; ++y) {
    // Pixel centres in the pattern's own pixels, whose centres lie at half steps.
    const double v =
        Wrap((static_cast<double>(y) + 0.5 - origin_y - placement.phase_y) / placement.scale - 0.5,
             height);
    const int64_t y0 = std::min(static_cast<int64_t>(v), tile.height - 1);
    const int64_t y1 = (y0 + 1) % tile.height;
    const auto fy = static_cast<float>(v - static_cast<double>(y0));
    for (int64_t x = region.left; x < region.right; ++x, out += stride) {
      const double u = Wrap(
          (static_cast<double>(x) + 0.5 - origin_x - placement.phase_x) / placement.scale - 0.5,
          width);
      const int64_t x0 = std::min(static_cast<int64_t>(u), tile.width - 1);
      const int64_t x1 = (x0 + 1) % tile.width;
      const auto fx = static_cast<float>(u - static_cast<double>(x0));
      const float* a = at(x0, y0);
      const float* b = at(x1, y0);
      const float* c = at(x0, y1);
      const float* d = at(x1, y1);
      for (int k = 0; k < channels; ++k) {
        const float top = a[k] + fx * (b[k] - a[k]);
        const float bottom = c[k] + fx * (d[k] - c[k]);
        out[k] = top + fy * (bottom - top);
      }
    }
  }
}
