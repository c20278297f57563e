#pragma once

// Small input documents for the command-line tests.

#include <string>

#include "tests/support/psd_writer.h"

/// Writes an 8-bit RGB document of `width` x `height` with a colour ramp; false when it cannot.
inline bool WriteTestPsd(const std::string& path, uint32_t width = 6, uint32_t height = 4) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, width, height, 3);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    return (x * 40 + y * 20 + channel * 60) & 0xFF;
  });
  return WritePsdFile(path, spec);
}
