#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Path.h"

namespace kesto::geometry {

// The middle of the path's bounding rectangle.
fnd::Point centerOfBounds(const ui::Path& path);
// The path turned by `radians` (counter-clockwise with y up) about `point`; an angle of exactly
// 0 answers the path unchanged.
ui::Path rotatedBezierPath(const ui::Path& path, float radians, const fnd::Point& point);
ui::Path rotatedBezierPath(const ui::Path& path, float radians);
// Appends a circular arc from `fromDegrees` to `toDegrees` (counter-clockwise, y up), joined to
// what the path holds by a straight line (or starting it).
void appendArc(ui::Path& path, const fnd::Point& centre, double radius, double fromDegrees, double toDegrees);

}  // namespace kesto::geometry
