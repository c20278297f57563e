// Measures the PNG encoder alone on one document: for each zlib level, FreeImage's writer (the
// reference for size) and our encoder with each filter strategy, on one thread and on all.
// Prints the file size against FreeImage's and the median CPU and wall time of RUNS encodings.
// CPU time stays meaningful on a busy machine, where wall time does not.
//   bench_png_filters IN.psd [RUNS [LEVELS [SLICE_KIB [FILTERS]]]]
// LEVELS e.g. "0,1,6,9" (the default); SLICE_KIB the filtered bytes a slice (0, the default: as
// the encoder chooses; a large value gives one stream); FILTERS e.g. "adaptive-all,up".

#include <FreeImage.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/output/png_encoder.h"

namespace {

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Result {
  long bytes = 0;
  double cpu_ms = 0;
  double wall_ms = 0;
};

// Runs `encode` into a fresh temporary file `runs` times; medians of the times.
Result Measure(int runs, const std::function<bool(FILE*)>& encode) {
  std::vector<double> cpu, wall;
  Result result;
  for (int run = 0; run < runs; ++run) {
    FILE* file = std::tmpfile();
    if (!file) std::exit(1);
    const double cpu_start = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall_start = Seconds(CLOCK_MONOTONIC);
    const bool ok = encode(file) && std::fflush(file) == 0;
    cpu.push_back((Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) * 1000);
    wall.push_back((Seconds(CLOCK_MONOTONIC) - wall_start) * 1000);
    result.bytes = ok ? std::ftell(file) : -1;
    std::fclose(file);
  }
  std::sort(cpu.begin(), cpu.end());
  std::sort(wall.begin(), wall.end());
  result.cpu_ms = cpu[cpu.size() / 2];
  result.wall_ms = wall[wall.size() / 2];
  return result;
}

unsigned WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  return static_cast<unsigned>(std::fwrite(buffer, size, count, static_cast<FILE*>(handle)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  FIBITMAP* image = FreeImage_Load(FIF_PSD, argv[1], 0);
  if (!image) return 1;
  FreeImageIO io{nullptr, WriteProc, nullptr, nullptr};

  const struct {
    const char* name;
    PngFilter filter;
  } filters[] = {{"none", PngFilter::None},
                 {"sub", PngFilter::Sub},
                 {"up", PngFilter::Up},
                 {"paeth", PngFilter::Paeth},
                 {"adaptive", PngFilter::Adaptive},
                 {"adaptive-all", PngFilter::AdaptiveAll}};
  std::printf("%-8s %-14s %7s %12s %10s %10s\n", "level", "writer", "threads", "size (x)", "cpu ms",
              "wall ms");
  const std::string levels = argc > 3 ? argv[3] : "0,1,6,9";
  const size_t slice_bytes = argc > 4 ? std::strtoull(argv[4], nullptr, 10) << 10 : 0;
  std::string wanted = ",";
  if (argc > 5) wanted.append(argv[5]).append(",");
  for (const char digit : levels) {
    if (digit < '0' || digit > '9') continue;
    const int flags = digit == '0' ? 0x100 : digit - '0';
    const Result reference = Measure(runs, [&](FILE* file) {
      return FreeImage_SaveToHandle(FIF_PNG, image, &io, file, flags) != FALSE;
    });
    const int level = flags == 0x100 ? 0 : flags;
    std::printf("%-8d %-14s %7d %12.4f %10.1f %10.1f\n", level, "freeimage", 1, 1.0,
                reference.cpu_ms, reference.wall_ms);
    for (const auto& [name, filter] : filters) {
      std::string listed = ",";
      listed.append(name).append(",");
      if (wanted != "," && wanted.find(listed) == std::string::npos) continue;
      for (const int threads : {1, 0}) {
        PngEncoding encoding = PngEncodingFor(flags);
        encoding.filter = filter;
        encoding.threads = threads;
        encoding.slice_bytes = slice_bytes;
        const Result ours =
            Measure(runs, [&](FILE* file) { return WritePng(image, file, encoding); });
        std::printf("%-8d %-14s %7s %12.4f %10.1f %10.1f\n", level, name, threads ? "1" : "all",
                    static_cast<double>(ours.bytes) / static_cast<double>(reference.bytes),
                    ours.cpu_ms, ours.wall_ms);
      }
    }
  }
  FreeImage_Unload(image);
  return 0;
}
