// The compositor alone: writes layered 4000 x 3000 documents in memory (8 and 16 bits, 10 and 30
// layers, normal blending, each layer a soft-edged shape over part of the canvas with its own
// transparency; and the 8-bit 10 layers with a shadow, a glow and a stroke on each), reads and
// composites them as the decoder process does, and prints the time, the layer pixels composited per
// second on this one thread, and the peak memory against the canvas at working precision plus one
// layer plus the output.
//   bench_composite write FOLDER     writes layers10-rgb8.psd ... layers10-rgb8-effects.psd
//   bench_composite FILE [RUNS]      composites FILE RUNS times (default 3)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder/composite_bitmap.h"
#include "decoder/compositor.h"
#include "decoder/psd_layers.h"
#include "platform/mapped_file.h"
#include "tests/support/psd_writer.h"

namespace {

constexpr uint32_t Width = 4000;
constexpr uint32_t Height = 3000;

struct Case {
  uint16_t depth;
  int layers;
  bool effects = false;
};

PsdDescriptorWriter Colour(double red, double green, double blue) {
  PsdDescriptorWriter out("RGBC");
  out.Double("Rd  ", red).Double("Grn ", green).Double("Bl  ", blue);
  return out;
}

// Every layer's effects in the effects document: a soft drop shadow, an outer glow and a stroke
// outside, the ones that reach beyond the layer and blur.
PsdLayer::Block BenchEffects() {
  PsdDescriptorWriter shadow("DrSh");
  shadow.Bool("enab", true)
      .Enum("Md  ", "BlnM", "Mltp")
      .Object("Clr ", Colour(0, 0, 0))
      .UnitFloat("Opct", "#Prc", 60)
      .Bool("uglg", false)
      .UnitFloat("lagl", "#Ang", 120)
      .UnitFloat("Dstn", "#Pxl", 12)
      .UnitFloat("Ckmt", "#Prc", 0)
      .UnitFloat("blur", "#Pxl", 16)
      .Bool("layerConceals", true);
  PsdDescriptorWriter glow("OrGl");
  glow.Bool("enab", true)
      .Enum("Md  ", "BlnM", "Scrn")
      .Object("Clr ", Colour(255, 240, 180))
      .UnitFloat("Opct", "#Prc", 75)
      .UnitFloat("Ckmt", "#Prc", 0)
      .UnitFloat("blur", "#Pxl", 10);
  PsdDescriptorWriter stroke("FrFX");
  stroke.Bool("enab", true)
      .Enum("Styl", "FStl", "OutF")
      .Enum("PntT", "FrFl", "SClr")
      .Enum("Md  ", "BlnM", "Nrml")
      .UnitFloat("Opct", "#Prc", 100)
      .UnitFloat("Sz  ", "#Pxl", 3)
      .Object("Clr ", Colour(40, 40, 160));
  PsdDescriptorWriter top("null");
  top.UnitFloat("Scl ", "#Prc", 100)
      .Bool("masterFXSwitch", true)
      .Object("DrSh", shadow)
      .Object("OrGl", glow)
      .Object("FrFX", stroke);
  return {"lfx2", std::string(4, '\0') + top.Versioned()};
}

// Layer i covers a band of the canvas (two thirds of each side), shifted with i, with a gradient
// in each channel and alpha ramping up from its edge.
PsdSpec BenchDocument(const Case& bench, uint64_t& layer_pixels) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, bench.depth, Width, Height, 3);
  spec.resources.push_back(PsdVersionInfoResource(false));
  spec.layers_in_tagged_block = bench.depth > 8;
  layer_pixels = 0;
  for (int i = 0; i < bench.layers; ++i) {
    PsdLayer layer;
    layer.top = static_cast<int32_t>((i * 97) % (Height / 3));
    layer.left = static_cast<int32_t>((i * 131) % (Width / 3));
    layer.bottom = layer.top + static_cast<int32_t>(Height * 2 / 3);
    layer.right = layer.left + static_cast<int32_t>(Width * 2 / 3);
    layer.compression = PsdChannelCompression::Rle;
    const auto width = static_cast<uint32_t>(layer.right - layer.left);
    const auto height = static_cast<uint32_t>(layer.bottom - layer.top);
    layer_pixels += static_cast<uint64_t>(width) * height;
    for (int16_t id = -1; id < 3; ++id) {
      layer.channels.push_back(
          {id, PsdLayerPlane(width, height, bench.depth, [&](uint32_t x, uint32_t y) {
             const double edge = std::min({x, y, width - 1 - x, height - 1 - y}) / 200.0;
             const double value =
                 id < 0 ? std::min(1.0, edge) : ((x + y * (id + 2) + i * 40) % 512) / 511.0;
             return PsdSampleOf(value, bench.depth);
           })});
    }
    if (bench.effects) layer.blocks.push_back(BenchEffects());
    spec.layers.push_back(std::move(layer));
  }
  return spec;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "write") {
    for (const Case bench :
         {Case{8, 10}, Case{8, 30}, Case{16, 10}, Case{16, 30}, Case{8, 10, true}}) {
      uint64_t layer_pixels = 0;
      const std::string path = std::string(argv[2]) + "/layers" + std::to_string(bench.layers) +
                               "-rgb" + std::to_string(bench.depth) +
                               (bench.effects ? "-effects" : "") + ".psd";
      if (!WritePsdFile(path, BenchDocument(bench, layer_pixels))) return 1;
    }
    return 0;
  }
  // One document a process, so that each peak is its own and not the writer's.
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_composite write FOLDER | bench_composite FILE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const MappedFile file(argv[1]);
  const std::span<const uint8_t> bytes = file.bytes();
  if (bytes.empty()) return 1;
  std::vector<double> times;
  const double cpu_start = CpuSeconds();
  uint64_t layer_pixels = 0;
  uint16_t depth = 8;
  size_t layers = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const std::optional<LayeredDocument> document = ReadLayeredDocument(bytes);
    if (!document) return 1;
    std::optional<LayerPixels> picture = CompositeLayers(bytes, *document);
    if (!picture) return 1;
    const Bitmap image = CompositeToBitmap(*picture, document->depth);
    if (!image) return 1;
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    layer_pixels = 0;
    for (const LayerRecord& layer : document->layers) {
      layer_pixels += static_cast<uint64_t>(layer.rect.Width()) * layer.rect.Height();
    }
    depth = document->depth;
    layers = document->layers.size();
  }
  // On a busy machine wall time measures the others' load too; CPU time is this thread's own.
  const double cpu_per_run = (CpuSeconds() - cpu_start) / runs;
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  // The canvas in floats (RGBA), one canvas-sized layer in floats, the output bitmap and the
  // document's bytes, which the decoder maps.
  const double pixels = static_cast<double>(Width) * Height;
  const double bound =
      (2 * 16.0 * pixels + 3.0 * depth / 8 * pixels + static_cast<double>(bytes.size())) /
      (1 << 20);
  std::printf(
      "rgb%-2u %2zu layers  layer MP %6.1f  wall %7.1f ms  %5.1f MP/s  cpu %7.1f ms  "
      "%5.1f MP/s  peak %6.1f MiB  bound %6.1f MiB  file %6.1f MiB\n",
      depth, layers, layer_pixels / 1e6, median, layer_pixels / 1e3 / median, cpu_per_run * 1e3,
      layer_pixels / 1e6 / cpu_per_run, PeakKib() / 1024.0, bound, bytes.size() / 1048576.0);
  return 0;
}
