// Writes examples/sample.psd: a small 8-bit RGBA document that looks like three layers (a sky
// gradient, a green hill and a half-transparent sun) flattened into its merged image.
//
// Build and run from the repository root:
//   g++ -std=c++20 -I. scripts/make_sample_psd.cpp tests/support/psd_writer.cpp
//     -o /tmp/make_sample_psd
//   /tmp/make_sample_psd examples/sample.psd

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tests/support/psd_writer.h"

namespace {

constexpr uint32_t Width = 160;
constexpr uint32_t Height = 120;

struct Rgba {
  double r, g, b, a;  // 0..1, straight alpha
};

// Paints `top` over `bottom`.
Rgba Over(Rgba top, Rgba bottom) {
  const double a = top.a + bottom.a * (1 - top.a);
  if (a <= 0) return {0, 0, 0, 0};
  const auto mix = [&](double t, double b) { return (t * top.a + b * bottom.a * (1 - top.a)) / a; };
  return {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), a};
}

Rgba PixelAt(uint32_t x, uint32_t y) {
  // Sky: opaque at the top, fading out towards the hill, so the document has real transparency.
  const double t = static_cast<double>(y) / (Height - 1);
  Rgba pixel{0.25 + 0.35 * t, 0.45 + 0.35 * t, 0.95, 1.0 - 0.6 * t};
  // Sun: a soft disc at 70% opacity.
  const double dx = x - 118.0, dy = y - 34.0;
  const double distance = std::sqrt(dx * dx + dy * dy);
  const double sun = std::clamp(22.0 - distance, 0.0, 1.0) * 0.7;
  pixel = Over({1.0, 0.82, 0.2, sun}, pixel);
  // Hill: opaque, with an antialiased edge.
  const double ridge = 86.0 + 14.0 * std::sin(x / 23.0);
  const double hill = std::clamp(y - ridge, 0.0, 1.0);
  pixel = Over({0.2, 0.55 + 0.2 * (static_cast<double>(y) / Height), 0.25, hill}, pixel);
  return pixel;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.psd\n", argv[0]);
    return 2;
  }
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, Width, Height, 4);
  spec.compression = PsdCompression::Rle;
  spec.resources.push_back(PsdResolutionResource(72));
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    const Rgba pixel = PixelAt(x, y);
    if (channel == 3) return static_cast<uint32_t>(std::lround(pixel.a * 255));
    // The merged image of a transparent document is stored matted against white.
    const double colour = channel == 0 ? pixel.r : channel == 1 ? pixel.g : pixel.b;
    return static_cast<uint32_t>(std::lround((colour * pixel.a + (1 - pixel.a)) * 255));
  });
  if (!WritePsdFile(argv[1], spec)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
