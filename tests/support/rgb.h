#pragma once

// An 8-bit colour as the tests compare pixels, printed readably when they differ.

#include <ostream>

struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}
