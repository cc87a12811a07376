#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Color.h"

#include <vector>

namespace kesto::ui {

// A vector path in the coordinates of the view that draws it.
class Path {
 public:
  enum class Op { Move, Line, Curve, Close };
  struct Element {
    Op op;
    fnd::Point points[3];
  };

  static Path rect(const fnd::Rect& r);
  static Path roundedRect(const fnd::Rect& r, double xRadius, double yRadius);
  static Path oval(const fnd::Rect& r);

  void moveTo(const fnd::Point& p);
  void lineTo(const fnd::Point& p);
  void curveTo(const fnd::Point& end, const fnd::Point& control1, const fnd::Point& control2);
  void close();
  void appendRect(const fnd::Rect& r);
  void appendOval(const fnd::Rect& r);
  void appendRoundedRect(const fnd::Rect& r, double xRadius, double yRadius);

  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double w) { lineWidth_ = w; }
  bool isEmpty() const { return elements_.empty(); }
  const std::vector<Element>& elements() const { return elements_; }
  fnd::Rect bounds() const;

 private:
  std::vector<Element> elements_;
  double lineWidth_ = 1.0;
};

// A two-colour or multi-stop linear gradient.
struct Gradient {
  struct Stop {
    double location;
    Color color;
  };
  std::vector<Stop> stops;
};

}  // namespace kesto::ui
