#include "decoder/compositor.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "decoder/blend_modes.h"
#include "decoder/vector_mask.h"

namespace {

// Each isolated group needs a canvas of its own while its members are drawn.
constexpr size_t MaxGroupDepth = 16;

// Where a layer or group covers: its alpha before opacity, which layers clipped to it take on.
struct Shape {
  LayerRect region;
  std::vector<float> values;

  float At(int64_t x, int64_t y) const {
    if (y < region.top || y >= region.bottom || x < region.left || x >= region.right) return 0;
    return values[static_cast<size_t>((y - region.top) * region.Width() + (x - region.left))];
  }
};

struct Context {
  std::span<const uint8_t> file;
  const LayeredDocument& document;
  // Scratch memory used again by every layer: fresh pages cost a fault each, which on a
  // 12-megapixel layer is most of the work.
  FloatBuffer layer;
  std::vector<float> mask;
};

size_t Area(const LayerRect& rect) {
  return static_cast<size_t>(rect.Width()) * static_cast<size_t>(rect.Height());
}

// The layer's mask over `region` (1 where it lets everything through) multiplied into `alpha`,
// one value every `stride` floats. A mask counts only with its channel: a record may describe a
// mask it does not store.
bool ApplyMask(Context& context, const LayerRecord& record, const LayerMask& mask, int16_t id,
               const LayerRect& region, float* alpha, size_t stride) {
  const LayerChannel* channel = record.Channel(id);
  if (!mask.present || mask.disabled || !channel) return true;
  std::vector<float>& values = context.mask;
  values.assign(Area(region), mask.default_colour / 255.0f);
  if (!DecodeLayerChannel(context.file, context.document, *channel, mask.rect, region,
                          values.data())) {
    return false;
  }
  for (size_t i = 0; i < values.size(); ++i) alpha[i * stride] *= std::clamp(values[i], 0.0f, 1.0f);
  return true;
}

bool ApplyMasks(Context& context, const LayerRecord& record, const LayerRect& region, float* alpha,
                size_t stride) {
  if (record.vector_mask.present &&
      ApplyVectorMask(context.file, context.document, record.vector_mask, region, alpha, stride)) {
    // The path is drawn here: a mask channel that only renders it gives way, and the user's own
    // mask (the real one when both are stored) shapes the layer too.
    if (record.real_mask.present) {
      return ApplyMask(context, record, record.real_mask, RealUserMaskChannel, region, alpha,
                       stride);
    }
    if (record.mask.rendered) return true;
    return ApplyMask(context, record, record.mask, UserMaskChannel, region, alpha, stride);
  }
  // Without the path, the stored channels are all there is: with a vector mask too, the user's
  // own mask is the "real" one and the plain mask channel holds the vector mask drawn as pixels.
  if (record.real_mask.present &&
      !ApplyMask(context, record, record.real_mask, RealUserMaskChannel, region, alpha, stride)) {
    return false;
  }
  return ApplyMask(context, record, record.mask, UserMaskChannel, region, alpha, stride);
}

// Source-over with blending, W3C: cs' = (1 - ab) cs + ab B(cb, cs), then
// co = as cs' + (1 - as) ab cb and ao = as + ab (1 - as), colour kept straight.
void BlendOnto(const LayerPixels& source, LayerPixels& target, BlendMode mode, float opacity,
               const Shape* clip) {
  const int colours = target.colours;
  const int stride = target.Stride();
  const bool separable = IsSeparable(mode);
  const LayerRect& region = source.region;
  const float* from = source.samples.data();
  for (int64_t y = region.top; y < region.bottom; ++y) {
    float* to = target.At(region.left, y);
    for (int64_t x = region.left; x < region.right; ++x, from += stride, to += stride) {
      float as = std::clamp(from[colours], 0.0f, 1.0f) * opacity;
      if (clip) as *= clip->At(x, y);
      if (as <= 0) continue;
      const float ab = to[colours];
      if (mode == BlendMode::Normal) {
        // Most pixels of most layers: the source covers, or the backdrop is opaque.
        if (as >= 1) {
          std::copy(from, from + colours, to);
          to[colours] = 1;
          continue;
        }
        if (ab >= 1) {
          for (int c = 0; c < colours; ++c) to[c] += as * (from[c] - to[c]);
          continue;
        }
      }
      const float ao = as + ab * (1 - as);
      float mixed[4];
      if (mode == BlendMode::Normal || ab <= 0) {
        std::copy(from, from + colours, mixed);
      } else {
        if (separable) {
          for (int c = 0; c < colours; ++c) mixed[c] = BlendChannel(mode, to[c], from[c]);
        } else {
          BlendColour(mode, to, from, mixed, colours);
        }
        for (int c = 0; c < colours; ++c) mixed[c] = (1 - ab) * from[c] + ab * mixed[c];
      }
      for (int c = 0; c < colours; ++c) to[c] = (as * mixed[c] + (1 - as) * ab * to[c]) / ao;
      to[colours] = ao;
    }
  }
}

// Draws one pixel layer; `shape`, when given, receives where it covers for the layers clipped
// to it.
bool DrawLayer(Context& context, const LayerRecord& record, LayerPixels& target, const Shape* clip,
               Shape* shape) {
  const LayerRect region = record.rect.Intersect(target.region);
  if (shape) *shape = Shape{region, {}};
  if (region.Empty()) return true;
  const size_t area = Area(region);
  const int colours = target.colours;
  const auto stride = static_cast<size_t>(target.Stride());
  // The layer's samples go straight into the scratch picture: its rectangle covers the region, so
  // every sample of a stored channel is written.
  LayerPixels layer{region, colours, std::move(context.layer)};
  layer.samples.Resize(area * stride);
  float* samples = layer.samples.data();
  for (int c = 0; c <= colours; ++c) {
    const int16_t id = c == colours ? TransparencyChannel : static_cast<int16_t>(c);
    const LayerChannel* channel = record.Channel(id);
    if (!channel) {
      const float absent = c == colours ? 1.0f : 0.0f;
      for (size_t i = 0; i < area; ++i) samples[i * stride + c] = absent;
      continue;
    }
    if (!DecodeLayerChannel(context.file, context.document, *channel, record.rect, region,
                            samples + c, stride)) {
      context.layer = std::move(layer.samples);
      return false;
    }
  }
  bool drawn = ApplyMasks(context, record, region, samples + colours, stride);
  if (drawn) {
    if (shape) {
      shape->values.resize(area);
      for (size_t i = 0; i < area; ++i) shape->values[i] = samples[i * stride + colours];
    }
    const float opacity = record.opacity / 255.0f * (record.fill_opacity / 255.0f);
    BlendOnto(layer, target, BlendModeFromKey(record.blend_key), opacity, clip);
  }
  context.layer = std::move(layer.samples);
  return drawn;
}

bool DrawMembers(Context& context, const std::vector<LayerNode>& members, LayerPixels& target,
                 size_t depth);

// A group's mask over the whole canvas; std::nullopt when it has none.
bool GroupMask(Context& context, const LayerRecord& record, const LayerRect& canvas,
               std::optional<std::vector<float>>& mask) {
  const bool has_mask =
      (record.mask.present && !record.mask.disabled && record.Channel(UserMaskChannel)) ||
      (record.real_mask.present && !record.real_mask.disabled &&
       record.Channel(RealUserMaskChannel)) ||
      (record.vector_mask.present && !record.vector_mask.disabled);
  if (!has_mask) return true;
  mask.emplace(Area(canvas), 1.0f);
  return ApplyMasks(context, record, canvas, mask->data(), 1);
}

// The alpha of `picture` times `mask` (when given): a group's shape for the layers clipped to it.
Shape AlphaShape(const LayerPixels& picture, const std::optional<std::vector<float>>& mask) {
  Shape shape{picture.region, std::vector<float>(Area(picture.region))};
  const int stride = picture.Stride();
  for (size_t i = 0; i < shape.values.size(); ++i) {
    shape.values[i] = picture.samples[i * stride + picture.colours] * (mask ? (*mask)[i] : 1.0f);
  }
  return shape;
}

// Draws a group; `clip`, when given, is the shape of the base it is clipped to, and `shape`
// receives where the group covers, before its opacity, for the layers clipped to it.
bool DrawGroup(Context& context, const LayerNode& group, LayerPixels& target, size_t depth,
               const Shape* clip, Shape* shape) {
  const LayerRecord& record = *group.record;
  if (depth >= MaxGroupDepth) return false;
  std::optional<std::vector<float>> mask;
  if (!GroupMask(context, record, target.region, mask)) return false;
  const float opacity = record.opacity / 255.0f * (record.fill_opacity / 255.0f);
  const BlendMode mode = BlendModeFromKey(record.blend_key);
  const int colours = target.colours;
  const int stride = target.Stride();

  if (mode == BlendMode::PassThrough) {
    if (shape) {
      // Coverage composes the same way whatever the members' modes: their alpha drawn on
      // their own is the group's shape.
      LayerPixels alone{target.region, colours, FloatBuffer(target.samples.size())};
      if (!DrawMembers(context, group.members, alone, depth + 1)) return false;
      *shape = AlphaShape(alone, mask);
    }
    // The members blend with what lies below; opacity, mask and clip then fade the group's work
    // back towards what was there, in premultiplied colour.
    if (opacity >= 1 && !mask && !clip) {
      return DrawMembers(context, group.members, target, depth + 1);
    }
    LayerPixels drawn = target;
    if (!DrawMembers(context, group.members, drawn, depth + 1)) return false;
    const int64_t width = target.region.Width();
    for (size_t i = 0; i < drawn.samples.size() / stride; ++i) {
      float t = opacity * (mask ? (*mask)[i] : 1.0f);
      if (clip) {
        const auto at = static_cast<int64_t>(i);
        t *= clip->At(target.region.left + at % width, target.region.top + at / width);
      }
      float* before = target.samples.data() + i * stride;
      const float* after = drawn.samples.data() + i * stride;
      const float alpha = before[colours] + t * (after[colours] - before[colours]);
      for (int c = 0; c < colours && alpha > 0; ++c) {
        const float premultiplied = before[c] * before[colours] +
                                    t * (after[c] * after[colours] - before[c] * before[colours]);
        before[c] = premultiplied / alpha;
      }
      before[colours] = alpha;
    }
    return true;
  }
  LayerPixels isolated{target.region, colours, FloatBuffer(target.samples.size())};
  if (!DrawMembers(context, group.members, isolated, depth + 1)) return false;
  if (mask) {
    for (size_t i = 0; i < mask->size(); ++i) isolated.samples[i * stride + colours] *= (*mask)[i];
  }
  if (shape) *shape = AlphaShape(isolated, std::nullopt);
  BlendOnto(isolated, target, mode, opacity, clip);
  return true;
}

// Draws `members` bottom first. A clipped layer or group takes the shape of the nearest
// unclipped layer or group below it, and is hidden with it.
bool DrawMembers(Context& context, const std::vector<LayerNode>& members, LayerPixels& target,
                 size_t depth) {
  std::optional<Shape> base;
  for (size_t index = 0; index < members.size(); ++index) {
    const LayerNode& node = members[index];
    const LayerRecord& record = *node.record;
    const bool clipped_above = index + 1 < members.size() && members[index + 1].record->clipped;
    if (!record.clipped) {
      base.reset();
      if (record.hidden) continue;
      Shape shape;
      Shape* wanted = clipped_above ? &shape : nullptr;
      const bool drawn = node.group ? DrawGroup(context, node, target, depth, nullptr, wanted)
                                    : DrawLayer(context, record, target, nullptr, wanted);
      if (!drawn) return false;
      if (clipped_above) base = std::move(shape);
      continue;
    }
    if (!base || record.hidden) continue;
    const bool drawn = node.group ? DrawGroup(context, node, target, depth, &*base, nullptr)
                                  : DrawLayer(context, record, target, &*base, nullptr);
    if (!drawn) return false;
  }
  return true;
}

bool AnyVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& members) {
  const LayerRect canvas{0, 0, document.height, document.width};
  for (const LayerNode& node : members) {
    if (node.record->hidden) continue;
    if (node.group) {
      if (AnyVisiblePixels(document, node.members)) return true;
      continue;
    }
    if (node.record->rect.Intersect(canvas).Empty()) continue;
    for (const LayerChannel& channel : node.record->channels) {
      if (channel.id >= 0 && channel.id < document.colour_channels && channel.length > 2) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

FloatBuffer::FloatBuffer(size_t size) { Resize(size); }

FloatBuffer::~FloatBuffer() {
  if (data_) munmap(data_, capacity_ * sizeof(float));
}

FloatBuffer::FloatBuffer(const FloatBuffer& other) {
  Resize(other.size_);
  if (size_ > 0) std::memcpy(data_, other.data_, size_ * sizeof(float));
}

FloatBuffer::FloatBuffer(FloatBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

FloatBuffer& FloatBuffer::operator=(FloatBuffer&& other) noexcept {
  if (this == &other) return *this;
  if (data_) munmap(data_, capacity_ * sizeof(float));
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  return *this;
}

void FloatBuffer::Resize(size_t size) {
  if (size <= capacity_) {
    size_ = size;
    return;
  }
  if (size > SIZE_MAX / sizeof(float)) throw std::bad_alloc();
  void* memory = mmap(nullptr, size * sizeof(float), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  madvise(memory, size * sizeof(float), MADV_HUGEPAGE);  // a hint: fine to be refused
  if (data_) munmap(data_, capacity_ * sizeof(float));
  data_ = static_cast<float*>(memory);
  size_ = capacity_ = size;
}

std::vector<LayerNode> BuildLayerTree(const LayeredDocument& document) {
  std::vector<std::vector<LayerNode>> open(1);
  size_t ignored = 0;  // group ends beyond the depth we draw, taken as plain layers
  for (const LayerRecord& record : document.layers) {
    switch (record.section) {
      case LayerSection::GroupEnd:
        if (open.size() > MaxGroupDepth) {
          ++ignored;
        } else {
          open.emplace_back();
        }
        continue;
      case LayerSection::OpenGroup:
      case LayerSection::ClosedGroup:
        if (ignored > 0) {
          --ignored;
        } else if (open.size() > 1) {
          LayerNode group{&record, true, std::move(open.back())};
          open.pop_back();
          open.back().push_back(std::move(group));
          continue;
        }
        break;
      case LayerSection::None:
        break;
    }
    open.back().push_back(LayerNode{&record, false, {}});
  }
  // Groups that never close give their members to the level around them.
  while (open.size() > 1) {
    std::vector<LayerNode> members = std::move(open.back());
    open.pop_back();
    for (LayerNode& member : members) open.back().push_back(std::move(member));
  }
  return std::move(open.front());
}

bool HasVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& tree) {
  return AnyVisiblePixels(document, tree);
}

std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document) {
  if (document.colour_channels < 1 || document.colour_channels > 4) return std::nullopt;
  const std::vector<LayerNode> tree = BuildLayerTree(document);
  LayerPixels canvas;
  canvas.region = LayerRect{0, 0, document.height, document.width};
  canvas.colours = document.colour_channels;
  canvas.samples = FloatBuffer(Area(canvas.region) * canvas.Stride());
  Context context{file, document, FloatBuffer(), {}};
  if (!DrawMembers(context, tree, canvas, 0)) return std::nullopt;
  return canvas;
}

namespace {

template <typename Sample>
Sample Quantise(float value, float full) {
  return static_cast<Sample>(std::lround(std::clamp(value, 0.0f, 1.0f) * full));
}

bool IsOpaque(const LayerPixels& picture, uint16_t depth) {
  // The last level below full rounds to full at 8 and 16 bits.
  const float opaque = depth == 8 ? 254.5f / 255 : depth == 16 ? 65534.5f / 65535 : 1.0f;
  const int stride = picture.Stride();
  for (size_t i = picture.colours; i < picture.samples.size(); i += stride) {
    if (picture.samples[i] < opaque) return false;
  }
  return true;
}

}  // namespace

Bitmap CompositeToBitmap(const LayerPixels& picture, uint16_t depth) {
  if (picture.colours == 4) return {};  // CMYK goes through CompositeToCmykBitmap
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  const bool alpha = !IsOpaque(picture, depth);
  const bool grey = picture.colours == 1;
  const int stride = picture.Stride();
  Bitmap image;
  switch (depth) {
    case 8:
      image = Bitmap(FreeImage_Allocate(width, height,
                                        grey && !alpha ? 8
                                        : alpha        ? 32
                                                       : 24,
                                        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
      break;
    case 16:
      image = Bitmap(FreeImage_AllocateT(grey && !alpha ? FIT_UINT16
                                         : alpha        ? FIT_RGBA16
                                                        : FIT_RGB16,
                                         width, height));
      break;
    case 32:
      image = Bitmap(FreeImage_AllocateT(grey && !alpha ? FIT_FLOAT
                                         : alpha        ? FIT_RGBAF
                                                        : FIT_RGBF,
                                         width, height));
      break;
    default:
      return {};  // the reader takes no other depth
  }
  if (!image) return {};
  if (depth == 8 && grey && !alpha) {
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    for (unsigned i = 0; i < 256; ++i) {
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
    }
  }
  const int channels = grey && !alpha ? 1 : alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    // FreeImage keeps the bottom row first.
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      float values[4] = {from[0], grey ? from[0] : from[1], grey ? from[0] : from[2],
                         from[picture.colours]};
      if (channels == 1) values[0] = from[0];
      switch (depth) {
        case 8: {
          BYTE* pixel = row + x * channels;
          if (channels == 1) {
            pixel[0] = Quantise<BYTE>(values[0], 255);
            break;
          }
          pixel[FI_RGBA_RED] = Quantise<BYTE>(values[0], 255);
          pixel[FI_RGBA_GREEN] = Quantise<BYTE>(values[1], 255);
          pixel[FI_RGBA_BLUE] = Quantise<BYTE>(values[2], 255);
          if (alpha) pixel[FI_RGBA_ALPHA] = Quantise<BYTE>(values[3], 255);
          break;
        }
        case 16: {
          auto* pixel = reinterpret_cast<uint16_t*>(row) + x * channels;
          for (int c = 0; c < channels; ++c) pixel[c] = Quantise<uint16_t>(values[c], 65535);
          break;
        }
        default: {
          auto* pixel = reinterpret_cast<float*>(row) + x * channels;
          for (int c = 0; c < channels; ++c) pixel[c] = values[c];
          if (alpha) pixel[3] = std::clamp(values[3], 0.0f, 1.0f);
          break;
        }
      }
    }
  }
  return image;
}

Bitmap CompositeToCmykBitmap(const LayerPixels& picture, uint16_t depth) {
  if (picture.colours != 4 || (depth != 8 && depth != 16)) return {};
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  Bitmap image = depth == 8 ? Bitmap(FreeImage_Allocate(width, height, 32))
                            : Bitmap(FreeImage_AllocateT(FIT_RGBA16, width, height));
  if (!image) return {};
  const int stride = picture.Stride();
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      // The document stores 1 for no ink; a CMYK bitmap holds the ink.
      for (int c = 0; c < 4; ++c) {
        if (depth == 8) {
          row[4 * x + c] = Quantise<BYTE>(1 - from[c], 255);
        } else {
          reinterpret_cast<uint16_t*>(row)[4 * x + c] = Quantise<uint16_t>(1 - from[c], 65535);
        }
      }
    }
  }
  return image;
}

Bitmap CmykCompositeToRgb(const LayerPixels& picture, uint16_t depth, Bitmap converted) {
  if (picture.colours != 4 || (depth != 8 && depth != 16)) return {};
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  const bool alpha = !IsOpaque(picture, depth);
  Bitmap image = depth == 8
                     ? Bitmap(FreeImage_Allocate(width, height, alpha ? 32 : 24, FI_RGBA_RED_MASK,
                                                 FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK))
                     : Bitmap(FreeImage_AllocateT(alpha ? FIT_RGBA16 : FIT_RGB16, width, height));
  if (!image) return {};
  if (converted && (FreeImage_GetWidth(converted.get()) != static_cast<unsigned>(width) ||
                    FreeImage_GetHeight(converted.get()) != static_cast<unsigned>(height))) {
    return {};
  }
  const int stride = picture.Stride();
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const BYTE* through =
        converted ? FreeImage_GetScanLine(converted.get(), height - 1 - y) : nullptr;
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      // Without a profile, the plain conversion: each colour is its ink's complement times the
      // black's, in the stored values where 1 is no ink.
      float rgb[3] = {from[0] * from[3], from[1] * from[3], from[2] * from[3]};
      if (depth == 8) {
        BYTE* pixel = row + x * channels;
        if (through) {
          std::copy(through + 3 * x, through + 3 * x + 3, pixel);  // both B, G, R here
        } else {
          pixel[FI_RGBA_RED] = Quantise<BYTE>(rgb[0], 255);
          pixel[FI_RGBA_GREEN] = Quantise<BYTE>(rgb[1], 255);
          pixel[FI_RGBA_BLUE] = Quantise<BYTE>(rgb[2], 255);
        }
        if (alpha) pixel[FI_RGBA_ALPHA] = Quantise<BYTE>(from[4], 255);
      } else {
        auto* pixel = reinterpret_cast<uint16_t*>(row) + x * channels;
        for (int c = 0; c < 3; ++c) {
          pixel[c] = through ? reinterpret_cast<const uint16_t*>(through)[3 * x + c]
                             : Quantise<uint16_t>(rgb[c], 65535);
        }
        if (alpha) pixel[3] = Quantise<uint16_t>(from[4], 65535);
      }
    }
  }
  return image;
}
