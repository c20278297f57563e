#include "gfx/hand_drawn_icons.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

// Every picture is drawn on a 64 x 64 grid and scaled to the size asked.
constexpr double Grid = 64.0;

struct Colour {
  double r, g, b;
};

constexpr Colour Ink{0.17, 0.16, 0.20};
constexpr Colour Paper{0.99, 0.98, 0.94};
constexpr Colour PaperShade{0.86, 0.84, 0.76};
constexpr Colour FolderBack{0.85, 0.62, 0.20};
constexpr Colour FolderFront{0.96, 0.77, 0.33};
constexpr Colour Green{0.30, 0.69, 0.31};
constexpr Colour Blue{0.23, 0.51, 0.77};
constexpr Colour Teal{0.16, 0.62, 0.56};
constexpr Colour Red{0.85, 0.26, 0.24};
constexpr Colour Orange{0.95, 0.54, 0.14};
constexpr Colour Grey{0.62, 0.66, 0.70};
constexpr Colour Yellow{1.00, 0.82, 0.25};
constexpr Colour Sky{0.62, 0.82, 0.95};
constexpr Colour Hill{0.38, 0.66, 0.30};
constexpr Colour White{1.0, 1.0, 1.0};

struct Point {
  double x, y;
};

// A small deterministic generator: the same name wobbles the same way at every size and build.
class Wobble {
 public:
  explicit Wobble(std::string_view seed) {
    for (char c : seed) state_ = (state_ ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  }
  // A value in -1..1.
  double Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<double>(state_ % 20001) / 10000.0 - 1.0;
  }

 private:
  uint64_t state_ = 1469598103934665603ull;
};

// Draws in grid units with lines that waver a little, like a pen held by hand.
class Sketch {
 public:
  Sketch(cairo_t* cr, int size, std::string_view seed) : cr_(cr), size_(size), wobble_(seed) {
    cairo_scale(cr_, size / Grid, size / Grid);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
    // Small pictures need a line that still covers a whole pixel.
    outline_ = std::max(3.2, 1.15 * Grid / size);
  }

  cairo_t* cr() const { return cr_; }
  int size() const { return size_; }
  bool Detailed() const { return size_ >= 32; }

  // An open or closed path through `points`, each side a gently bent curve.
  void Path(std::initializer_list<Point> points, bool closed = true) {
    Path(std::vector(points), closed);
  }
  void Path(const std::vector<Point>& points, bool closed) {
    cairo_new_path(cr_);
    cairo_move_to(cr_, points[0].x, points[0].y);
    const size_t count = closed ? points.size() : points.size() - 1;
    for (size_t i = 0; i < count; ++i) Side(points[i], points[(i + 1) % points.size()]);
    if (closed) cairo_close_path(cr_);
  }

  void Ellipse(double cx, double cy, double rx, double ry) {
    cairo_new_path(cr_);
    constexpr int Steps = 12;
    for (int i = 0; i <= Steps; ++i) {
      const double angle = 2 * M_PI * i / Steps - 0.3;
      const double jitter = i == Steps ? 0 : 0.35 * wobble_.Next();
      const double x = cx + (rx + jitter) * std::cos(angle);
      const double y = cy + (ry + jitter) * std::sin(angle);
      if (i == 0) {
        cairo_move_to(cr_, x, y);
      } else {
        cairo_line_to(cr_, x, y);
      }
    }
    cairo_close_path(cr_);
  }

  // Fills the current path and draws its outline in ink.
  void Paint(Colour fill, double outline_scale = 1.0) {
    cairo_set_source_rgb(cr_, fill.r, fill.g, fill.b);
    cairo_fill_preserve(cr_);
    Stroke(Ink, outline_scale);
  }

  void Stroke(Colour colour, double width_scale = 1.0) {
    cairo_set_source_rgb(cr_, colour.r, colour.g, colour.b);
    cairo_set_line_width(cr_, outline_ * width_scale);
    cairo_stroke(cr_);
  }

  double outline() const { return outline_; }

 private:
  void Side(Point from, Point to) {
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    const double length = std::hypot(dx, dy);
    if (length < 0.01) return;
    const double nx = -dy / length;
    const double ny = dx / length;
    const double bend = std::min(1.1, length * 0.05);
    const double b1 = bend * wobble_.Next();
    const double b2 = bend * wobble_.Next();
    cairo_curve_to(cr_, from.x + dx / 3 + nx * b1, from.y + dy / 3 + ny * b1,
                   from.x + 2 * dx / 3 + nx * b2, from.y + 2 * dy / 3 + ny * b2, to.x, to.y);
  }

  cairo_t* cr_;
  int size_;
  Wobble wobble_;
  double outline_ = 3.2;
};

// ---- Parts that several pictures share -------------------------------------------------------

void Page(Sketch& s, double x, double y, double w, double h) {
  const double fold = w * 0.3;
  s.Path({{x, y}, {x + w - fold, y}, {x + w, y + fold}, {x + w, y + h}, {x, y + h}});
  s.Paint(Paper);
  s.Path({{x + w - fold, y}, {x + w - fold, y + fold}, {x + w, y + fold}});
  s.Paint(PaperShade, 0.8);
  if (!s.Detailed()) return;
  // A few lines of writing.
  for (double line = y + fold + 6; line < y + h - 5; line += 7) {
    s.Path({{x + 6, line}, {x + w - 7, line}}, false);
    s.Stroke(PaperShade, 0.7);
  }
}

void Folder(Sketch& s, double x, double y, double w, double h) {
  s.Path({{x, y},
          {x + w * 0.36, y},
          {x + w * 0.45, y + 7},
          {x + w, y + 7},
          {x + w, y + h},
          {x, y + h}});
  s.Paint(FolderBack);
  s.Path({{x + 3, y + 15}, {x + w + 2, y + 15}, {x + w - 1, y + h}, {x, y + h}});
  s.Paint(FolderFront);
}

// A thick arrow from `from` to `to`, its head at `to`.
void Arrow(Sketch& s, Point from, Point to, double thickness, Colour colour) {
  const double dx = to.x - from.x;
  const double dy = to.y - from.y;
  const double length = std::hypot(dx, dy);
  const double ux = dx / length;
  const double uy = dy / length;
  const double nx = -uy;
  const double ny = ux;
  const double head = std::min(length * 0.55, thickness * 2.2);
  const double half = thickness / 2;
  const double wing = thickness * 1.25;
  const Point neck{to.x - ux * head, to.y - uy * head};
  s.Path({{from.x + nx * half, from.y + ny * half},
          {neck.x + nx * half, neck.y + ny * half},
          {neck.x + nx * wing, neck.y + ny * wing},
          to,
          {neck.x - nx * wing, neck.y - ny * wing},
          {neck.x - nx * half, neck.y - ny * half},
          {from.x - nx * half, from.y - ny * half}});
  s.Paint(colour);
}

void Star(Sketch& s, double cx, double cy, double outer, Colour colour) {
  std::vector<Point> points;
  for (int i = 0; i < 10; ++i) {
    const double radius = i % 2 == 0 ? outer : outer * 0.45;
    const double angle = -M_PI / 2 + i * M_PI / 5;
    points.push_back({cx + radius * std::cos(angle), cy + radius * std::sin(angle)});
  }
  s.Path(points, true);
  s.Paint(colour);
}

void Plus(Sketch& s, double cx, double cy, double arm, double half, Colour colour) {
  s.Path({{cx - half, cy - arm},
          {cx + half, cy - arm},
          {cx + half, cy - half},
          {cx + arm, cy - half},
          {cx + arm, cy + half},
          {cx + half, cy + half},
          {cx + half, cy + arm},
          {cx - half, cy + arm},
          {cx - half, cy + half},
          {cx - arm, cy + half},
          {cx - arm, cy - half},
          {cx - half, cy - half}});
  s.Paint(colour);
}

void Gear(Sketch& s, double cx, double cy, double outer, Colour colour) {
  std::vector<Point> points;
  constexpr int Teeth = 8;
  for (int i = 0; i < Teeth * 4; ++i) {
    const double radius = (i % 4 == 0 || i % 4 == 1) ? outer : outer * 0.74;
    const double angle = 2 * M_PI * (i - 0.5 * (i % 2)) / (Teeth * 4) + M_PI / 16;
    points.push_back({cx + radius * std::cos(angle), cy + radius * std::sin(angle)});
  }
  s.Path(points, true);
  s.Paint(colour);
  s.Ellipse(cx, cy, outer * 0.32, outer * 0.32);
  s.Paint(White);
}

// A framed picture: sky, sun and a hill; the output of a conversion.
void Picture(Sketch& s, double x, double y, double w, double h) {
  s.Path({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
  s.Paint(Sky);
  s.Ellipse(x + w * 0.7, y + h * 0.3, w * 0.12, w * 0.12);
  s.Paint(Yellow, 0.7);
  s.Path({{x, y + h},
          {x, y + h * 0.68},
          {x + w * 0.35, y + h * 0.45},
          {x + w * 0.7, y + h * 0.75},
          {x + w, y + h * 0.6},
          {x + w, y + h}});
  s.Paint(Hill, 0.7);
}

// A round badge with a white sign on it.
void Badge(Sketch& s, Colour colour) {
  s.Ellipse(32, 32, 26, 26);
  s.Paint(colour);
}

void WhiteBar(Sketch& s, Point from, Point to, double width) {
  cairo_new_path(s.cr());
  cairo_move_to(s.cr(), from.x, from.y);
  cairo_line_to(s.cr(), to.x, to.y);
  cairo_set_source_rgb(s.cr(), 1, 1, 1);
  cairo_set_line_width(s.cr(), width);
  cairo_stroke(s.cr());
}

void WhiteDot(Sketch& s, double cx, double cy, double radius) {
  cairo_new_path(s.cr());
  cairo_arc(s.cr(), cx, cy, radius, 0, 2 * M_PI);
  cairo_set_source_rgb(s.cr(), 1, 1, 1);
  cairo_fill(s.cr());
}

// Layers of a document, seen at a slant: the input of a conversion.
void Layers(Sketch& s, double x, double y, double w) {
  const Colour shades[] = {{0.55, 0.62, 0.85}, {0.70, 0.76, 0.95}, {0.86, 0.89, 1.0}};
  for (int i = 0; i < 3; ++i) {
    const double top = y + (2 - i) * 7;
    s.Path({{x + w / 2, top},
            {x + w, top + w * 0.28},
            {x + w / 2, top + w * 0.56},
            {x, top + w * 0.28}});
    s.Paint(shades[i], 0.85);
  }
}

// A round pair of arrows chasing each other.
void Refresh(Sketch& s, double cx, double cy, double radius, Colour colour) {
  for (int half = 0; half < 2; ++half) {
    const double start = M_PI * half + 0.35;
    const double end = start + M_PI - 0.75;
    cairo_new_path(s.cr());
    cairo_arc(s.cr(), cx, cy, radius, start, end);
    cairo_set_source_rgb(s.cr(), Ink.r, Ink.g, Ink.b);
    cairo_set_line_width(s.cr(), 10 + s.outline() * 2);
    cairo_stroke(s.cr());
    cairo_arc(s.cr(), cx, cy, radius, start, end);
    cairo_set_source_rgb(s.cr(), colour.r, colour.g, colour.b);
    cairo_set_line_width(s.cr(), 10);
    cairo_stroke(s.cr());
    const Point tip{cx + radius * std::cos(end + 0.55), cy + radius * std::sin(end + 0.55)};
    const Point back{cx + radius * std::cos(end - 0.1), cy + radius * std::sin(end - 0.1)};
    const double nx = std::cos(end);
    const double ny = std::sin(end);
    s.Path({tip, {back.x + nx * 10, back.y + ny * 10}, {back.x - nx * 10, back.y - ny * 10}});
    s.Paint(colour);
  }
}

// ---- The pictures ----------------------------------------------------------------------------

void DrawNew(Sketch& s) {
  Page(s, 14, 8, 38, 50);
  Star(s, 16, 14, 12, Yellow);
}

void DrawAdd(Sketch& s) {
  Page(s, 8, 6, 36, 48);
  Plus(s, 44, 44, 16, 5.5, Green);
}

void DrawInFiles(Sketch& s) {
  Page(s, 22, 4, 32, 42);
  Page(s, 14, 14, 32, 42);
  Arrow(s, {2, 36}, {30, 36}, 10, Green);
}

void DrawInFolder(Sketch& s) {
  Folder(s, 4, 20, 56, 38);
  Arrow(s, {32, 2}, {32, 40}, 11, Green);
}

void DrawOutFolder(Sketch& s) {
  Folder(s, 4, 22, 56, 36);
  Arrow(s, {26, 44}, {54, 6}, 11, Orange);
}

void DrawOutFormat(Sketch& s) {
  Picture(s, 4, 8, 46, 38);
  Gear(s, 44, 44, 17, Grey);
}

void DrawFavFolder(Sketch& s) {
  Folder(s, 4, 14, 56, 42);
  Star(s, 33, 39, 15, Yellow);
}

void DrawImportFiles(Sketch& s) {
  Page(s, 22, 6, 36, 50);
  Arrow(s, {2, 32}, {40, 32}, 11, Blue);
}

void DrawExportFiles(Sketch& s) {
  Page(s, 6, 6, 36, 50);
  Arrow(s, {24, 32}, {62, 32}, 11, Orange);
}

void DrawExit(Sketch& s) {
  // An open door with the way out beside it.
  s.Path({{6, 6}, {36, 6}, {36, 58}, {6, 58}});
  s.Paint(PaperShade);
  s.Path({{6, 6}, {24, 12}, {24, 62}, {6, 58}});
  s.Paint({0.62, 0.42, 0.26});
  Arrow(s, {28, 32}, {62, 32}, 11, Red);
}

void DrawCopy(Sketch& s) {
  Page(s, 6, 4, 32, 42);
  Page(s, 24, 18, 32, 42);
}

void DrawDelete(Sketch& s) {
  // A waste bin with its lid.
  s.Path({{14, 18}, {50, 18}, {46, 60}, {18, 60}});
  s.Paint(Grey);
  if (s.Detailed()) {
    for (double x : {24.0, 32.0, 40.0}) {
      s.Path({{x, 25}, {x - (x - 32) * 0.1, 53}}, false);
      s.Stroke(Ink, 0.7);
    }
  }
  s.Path({{8, 10}, {56, 10}, {56, 18}, {8, 18}});
  s.Paint(Red);
  s.Path({{25, 10}, {26, 4}, {38, 4}, {39, 10}}, false);
  s.Stroke(Ink);
}

void DrawSelectAll(Sketch& s) {
  cairo_t* cr = s.cr();
  // Four items inside the dashed frame of a selection that takes them all.
  for (Point corner : {Point{15, 15}, Point{35, 15}, Point{15, 35}, Point{35, 35}}) {
    s.Path({corner,
            {corner.x + 14, corner.y},
            {corner.x + 14, corner.y + 14},
            {corner.x, corner.y + 14}});
    s.Paint(Sky, 0.8);
  }
  const double dash[] = {7.0, 5.0};
  cairo_set_dash(cr, dash, 2, 0);
  s.Path({{5, 5}, {59, 5}, {59, 59}, {5, 59}});
  s.Stroke(Blue, 1.1);
  cairo_set_dash(cr, nullptr, 0, 0);
}

void DrawConvert(Sketch& s) {
  // Layers of a document become one picture.
  Layers(s, 2, 2, 34);
  Picture(s, 30, 32, 31, 27);
  Arrow(s, {36, 10}, {54, 28}, 10, Orange);
}

void DrawError(Sketch& s) {
  Badge(s, Red);
  WhiteBar(s, {32, 16}, {32, 36}, 8);
  WhiteDot(s, 32, 47, 4.8);
}

void DrawPreferences(Sketch& s) { Gear(s, 32, 32, 28, Grey); }

void DrawCustomConverter(Sketch& s) {
  // Looking for a converter: a magnifying glass over an arrow.
  Arrow(s, {4, 52}, {36, 52}, 9, Orange);
  s.Path({{36, 36}, {40, 32}, {60, 52}, {56, 56}});
  s.Paint({0.45, 0.33, 0.22});
  s.Ellipse(26, 24, 19, 19);
  s.Paint({0.80, 0.92, 1.0});
  if (s.Detailed()) {
    cairo_new_path(s.cr());
    cairo_arc(s.cr(), 26, 24, 12, M_PI * 1.05, M_PI * 1.45);
    s.Stroke(White, 1.0);
  }
}

void DrawHelp(Sketch& s) {
  Badge(s, Blue);
  cairo_t* cr = s.cr();
  cairo_new_path(cr);
  cairo_arc(cr, 32, 24, 9, M_PI * 1.05, M_PI * 2.35);
  cairo_line_to(cr, 32, 38);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 7);
  cairo_stroke(cr);
  WhiteDot(s, 32, 48, 4.5);
}

void DrawEmail(Sketch& s) {
  s.Path({{4, 14}, {60, 14}, {60, 52}, {4, 52}});
  s.Paint(Paper);
  s.Path({{4, 14}, {32, 36}, {60, 14}}, false);
  s.Stroke(Ink);
  if (s.Detailed()) {
    s.Path({{4, 52}, {24, 31}}, false);
    s.Stroke(Ink, 0.7);
    s.Path({{60, 52}, {40, 31}}, false);
    s.Stroke(Ink, 0.7);
  }
}

void DrawWeb(Sketch& s) {
  s.Ellipse(32, 32, 27, 27);
  s.Paint(Sky);
  s.Ellipse(32, 32, 11, 27);
  s.Stroke(Blue, 0.8);
  s.Path({{5, 32}, {59, 32}}, false);
  s.Stroke(Blue, 0.8);
  if (s.Detailed()) {
    s.Path({{10, 19}, {54, 19}}, false);
    s.Stroke(Blue, 0.6);
    s.Path({{10, 45}, {54, 45}}, false);
    s.Stroke(Blue, 0.6);
  }
  s.Ellipse(32, 32, 27, 27);
  s.Stroke(Ink);
}

void DrawUpdates(Sketch& s) { Refresh(s, 32, 32, 20, Green); }

void DrawAbout(Sketch& s) {
  Badge(s, Teal);
  WhiteDot(s, 32, 18, 4.8);
  WhiteBar(s, {32, 29}, {32, 47}, 8);
}

struct IconDrawing {
  std::string_view name;
  void (*draw)(Sketch&);
};

constexpr IconDrawing Drawings[] = {
    {"New", DrawNew},
    {"Add", DrawAdd},
    {"InFiles", DrawInFiles},
    {"InFolder", DrawInFolder},
    {"OutFolder", DrawOutFolder},
    {"OutFormat", DrawOutFormat},
    {"FavFolder", DrawFavFolder},
    {"ImportFiles", DrawImportFiles},
    {"ExportFiles", DrawExportFiles},
    {"Exit", DrawExit},
    {"Copy", DrawCopy},
    {"Delete", DrawDelete},
    {"SelectAll", DrawSelectAll},
    {"Convert", DrawConvert},
    {"Error", DrawError},
    {"Preferences", DrawPreferences},
    {"CustomConverter", DrawCustomConverter},
    {"Help", DrawHelp},
    {"Email", DrawEmail},
    {"Web", DrawWeb},
    {"Updates", DrawUpdates},
    {"About", DrawAbout},
};

}  // namespace

std::vector<std::string_view> HandDrawnIconNames() {
  std::vector<std::string_view> names;
  for (const IconDrawing& drawing : Drawings) names.push_back(drawing.name);
  return names;
}

bool DrawHandDrawnIcon(cairo_t* cr, std::string_view name, int size) {
  for (const IconDrawing& drawing : Drawings) {
    if (drawing.name != name) continue;
    cairo_save(cr);
    Sketch sketch(cr, size, name);
    drawing.draw(sketch);
    cairo_restore(cr);
    return true;
  }
  return false;
}
