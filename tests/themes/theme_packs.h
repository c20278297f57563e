#pragma once

// Builds theme packs and PNG pictures for the theme tests.

#include <cstdint>
#include <string>
#include <vector>

struct PackEntry {
  std::string name;
  std::string data;
};

/// A zip archive of `entries` (deflated), in memory.
std::string MakeZip(const std::vector<PackEntry>& entries);

/// A `width` x `height` PNG filled with one RGBA colour.
std::string MakePng(int width, int height, uint32_t rgba);

/// The "theme.cfg" text of `lines`, joined with CR LF.
std::string ThemeConfig(const std::vector<std::string>& lines);
