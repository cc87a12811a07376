#pragma once

#include <optional>
#include <string>
#include <string_view>

// Points, sizes and rectangles in doubles, with y growing upwards unless a view says otherwise.
// Rules:
//  - Rect::null() (origin at +infinity, zero size) is "no rectangle" and distinct from the
//    zero rect. A union with null gives the other rect; a union with the zero rect includes the
//    origin. An intersection of rects that do not overlap is null.
//  - A rect with negative width or height stands for its standardised form in every operation.
//  - Containment of a point is half-open: [minX, maxX) x [minY, maxY).
//  - Empty rects (null, or zero width or height) intersect nothing and are
//    contained in nothing; rects that only share an edge do not intersect.
namespace kesto::fnd {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const EdgeInsets&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  constexpr Rect(Point o, Size s) : origin(o), size(s) {}

  static Rect null();
  static constexpr Rect zero() { return Rect(); }

  bool isNull() const;
  // Null, or zero width or height.
  bool isEmpty() const;
  // Width and height made non-negative by moving the origin.
  Rect standardized() const;

  double minX() const;
  double midX() const;
  double maxX() const;
  double minY() const;
  double midY() const;
  double maxY() const;
  double width() const;   // absolute
  double height() const;  // absolute

  bool contains(Point p) const;
  // True when `r` is non-empty and lies wholly inside this rect.
  bool contains(const Rect& r) const;
  bool intersects(const Rect& r) const;
  Rect intersection(const Rect& r) const;
  Rect unionWith(const Rect& r) const;
  Rect offsetBy(double dx, double dy) const;
  // Shrinks each side by dx / dy (negative values grow it); null when nothing is left.
  Rect insetBy(double dx, double dy) const;
  Rect inset(const EdgeInsets& insets) const;
  // The smallest rect with integer edges that contains this one; null stays null.
  Rect integral() const;

  // Exact equality of origin and size; two null rects are equal.
  bool operator==(const Rect& other) const;
};

// Text forms "{x, y}", "{w, h}", "{{x, y}, {w, h}}" with numbers as "%g".
std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);
// Reads the forms above (spaces optional); absent for other text.
std::optional<Point> pointFromString(std::string_view s);
std::optional<Size> sizeFromString(std::string_view s);
std::optional<Rect> rectFromString(std::string_view s);

}  // namespace kesto::fnd
