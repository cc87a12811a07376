#include "Platform/Foundation/Geometry.h"

#include "Platform/Foundation/NumberText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kesto::fnd {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

Rect Rect::null() { return Rect(kInf, kInf, 0, 0); }

bool Rect::isNull() const { return origin.x == kInf || origin.y == kInf; }

bool Rect::isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

Rect Rect::standardized() const {
  if (isNull()) return null();
  Rect r = *this;
  if (r.size.width < 0) {
    r.origin.x += r.size.width;
    r.size.width = -r.size.width;
  }
  if (r.size.height < 0) {
    r.origin.y += r.size.height;
    r.size.height = -r.size.height;
  }
  return r;
}

double Rect::minX() const { return standardized().origin.x; }
double Rect::minY() const { return standardized().origin.y; }
double Rect::maxX() const {
  Rect r = standardized();
  return r.origin.x + r.size.width;
}
double Rect::maxY() const {
  Rect r = standardized();
  return r.origin.y + r.size.height;
}
double Rect::midX() const {
  Rect r = standardized();
  return r.origin.x + r.size.width / 2;
}
double Rect::midY() const {
  Rect r = standardized();
  return r.origin.y + r.size.height / 2;
}
double Rect::width() const { return std::fabs(size.width); }
double Rect::height() const { return std::fabs(size.height); }

bool Rect::contains(Point p) const {
  if (isEmpty()) return false;
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& r) const {
  if (isEmpty() || r.isEmpty()) return false;
  return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
}

bool Rect::intersects(const Rect& r) const {
  if (isEmpty() || r.isEmpty()) return false;
  return r.minX() < maxX() && minX() < r.maxX() && r.minY() < maxY() && minY() < r.maxY();
}

Rect Rect::intersection(const Rect& r) const {
  if (!intersects(r)) return null();
  double x0 = std::max(minX(), r.minX()), x1 = std::min(maxX(), r.maxX());
  double y0 = std::max(minY(), r.minY()), y1 = std::min(maxY(), r.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& r) const {
  if (isNull()) return r.standardized();
  if (r.isNull()) return standardized();
  double x0 = std::min(minX(), r.minX()), x1 = std::max(maxX(), r.maxX());
  double y0 = std::min(minY(), r.minY()), y1 = std::max(maxY(), r.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::offsetBy(double dx, double dy) const {
  if (isNull()) return null();
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  return r;
}

Rect Rect::insetBy(double dx, double dy) const {
  if (isNull()) return null();
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  r.size.width -= 2 * dx;
  r.size.height -= 2 * dy;
  if (r.size.width < 0 || r.size.height < 0) return null();
  return r;
}

Rect Rect::inset(const EdgeInsets& in) const {
  if (isNull()) return null();
  Rect r = standardized();
  r.origin.x += in.left;
  r.origin.y += in.top;
  r.size.width -= in.left + in.right;
  r.size.height -= in.top + in.bottom;
  if (r.size.width < 0 || r.size.height < 0) return null();
  return r;
}

Rect Rect::integral() const {
  if (isNull()) return null();
  double x0 = std::floor(minX()), y0 = std::floor(minY());
  double x1 = std::ceil(maxX()), y1 = std::ceil(maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

bool Rect::operator==(const Rect& other) const {
  if (isNull() || other.isNull()) return isNull() && other.isNull();
  return origin == other.origin && size == other.size;
}

namespace {

std::string num(double v) { return numberText(v, 6); }

struct Reader {
  std::string_view s;
  std::size_t i = 0;
  void skip() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n')) ++i;
  }
  bool take(char c) {
    skip();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool number(double& out) {
    skip();
    const std::size_t n = readNumber(s.substr(i), out);
    if (n == 0) return false;
    i += n;
    return std::isfinite(out);
  }
  bool pair(double& a, double& b) { return take('{') && number(a) && take(',') && number(b) && take('}'); }
  bool atEnd() {
    skip();
    return i == s.size();
  }
};

}  // namespace

std::string toString(Point p) { return "{" + num(p.x) + ", " + num(p.y) + "}"; }
std::string toString(Size s) { return "{" + num(s.width) + ", " + num(s.height) + "}"; }
std::string toString(const Rect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }

std::optional<Point> pointFromString(std::string_view s) {
  Reader r{s};
  Point p;
  if (!r.pair(p.x, p.y) || !r.atEnd()) return std::nullopt;
  return p;
}

std::optional<Size> sizeFromString(std::string_view s) {
  Reader r{s};
  Size z;
  if (!r.pair(z.width, z.height) || !r.atEnd()) return std::nullopt;
  return z;
}

std::optional<Rect> rectFromString(std::string_view s) {
  Reader r{s};
  Rect x;
  if (!r.take('{') || !r.pair(x.origin.x, x.origin.y) || !r.take(',') || !r.pair(x.size.width, x.size.height) ||
      !r.take('}') || !r.atEnd())
    return std::nullopt;
  return x;
}

}  // namespace kesto::fnd
