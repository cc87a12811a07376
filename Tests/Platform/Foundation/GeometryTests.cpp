#include "Platform/Foundation/Geometry.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

TEST(Geometry, NullRectIsDistinctFromTheZeroRect) {
  Rect null = Rect::null();
  EXPECT_TRUE(null.isNull());
  EXPECT_TRUE(null.isEmpty());
  EXPECT_FALSE(Rect::zero().isNull());
  EXPECT_TRUE(Rect::zero().isEmpty());
  EXPECT_NE(null, Rect::zero());
  EXPECT_EQ(null, Rect::null());
  EXPECT_FALSE(Rect(0, 0, 5, 0).isNull());
  EXPECT_TRUE(Rect(0, 0, 5, 0).isEmpty());
  EXPECT_FALSE(Rect(0, 0, -5, 2).isEmpty());
}

TEST(Geometry, UnionsTreatNullAsNothingAndZeroAsTheOrigin) {
  Rect r(10, 20, 30, 40);
  EXPECT_EQ(Rect::null().unionWith(r), r);
  EXPECT_EQ(r.unionWith(Rect::null()), r);
  EXPECT_TRUE(Rect::null().unionWith(Rect::null()).isNull());
  // The zero rect pulls the union out to the origin.
  EXPECT_EQ(Rect::zero().unionWith(r), Rect(0, 0, 40, 60));
  EXPECT_EQ(r.unionWith(Rect(50, 0, 10, 10)), Rect(10, 0, 50, 60));
  // A negative size stands for its standardised rect.
  EXPECT_EQ(Rect(40, 60, -30, -40).unionWith(Rect::null()), r);
}

TEST(Geometry, PointContainmentIsHalfOpen) {
  Rect r(0, 0, 10, 10);
  EXPECT_TRUE(r.contains(Point{0, 0}));
  EXPECT_TRUE(r.contains(Point{9.999, 9.999}));
  EXPECT_FALSE(r.contains(Point{10, 5}));
  EXPECT_FALSE(r.contains(Point{5, 10}));
  EXPECT_FALSE(r.contains(Point{-0.001, 5}));
  EXPECT_FALSE(Rect(0, 0, 0, 10).contains(Point{0, 0}));
  EXPECT_FALSE(Rect::null().contains(Point{0, 0}));
  EXPECT_TRUE(Rect(10, 10, -10, -10).contains(Point{0, 0}));
}

TEST(Geometry, RectContainmentAndIntersection) {
  Rect r(0, 0, 10, 10);
  EXPECT_TRUE(r.contains(Rect(0, 0, 10, 10)));
  EXPECT_TRUE(r.contains(Rect(2, 2, 3, 3)));
  EXPECT_FALSE(r.contains(Rect(5, 5, 6, 1)));
  EXPECT_FALSE(r.contains(Rect(2, 2, 0, 0)));  // an empty rect is never contained
  EXPECT_FALSE(r.contains(Rect::null()));

  EXPECT_TRUE(r.intersects(Rect(9, 9, 5, 5)));
  EXPECT_EQ(r.intersection(Rect(9, 9, 5, 5)), Rect(9, 9, 1, 1));
  // Sharing only an edge or a corner is no intersection.
  EXPECT_FALSE(r.intersects(Rect(10, 0, 5, 5)));
  EXPECT_TRUE(r.intersection(Rect(10, 0, 5, 5)).isNull());
  EXPECT_FALSE(r.intersects(Rect(10, 10, 1, 1)));
  EXPECT_FALSE(r.intersects(Rect(5, 5, 0, 3)));
  EXPECT_FALSE(r.intersects(Rect::null()));
  EXPECT_TRUE(r.intersection(Rect(20, 20, 1, 1)).isNull());
}

TEST(Geometry, EdgesInsetsOffsetsAndIntegral) {
  Rect r(10, 20, 30, 40);
  EXPECT_EQ(r.minX(), 10);
  EXPECT_EQ(r.midX(), 25);
  EXPECT_EQ(r.maxX(), 40);
  EXPECT_EQ(r.minY(), 20);
  EXPECT_EQ(r.midY(), 40);
  EXPECT_EQ(r.maxY(), 60);
  Rect flipped(40, 60, -30, -40);
  EXPECT_EQ(flipped.minX(), 10);
  EXPECT_EQ(flipped.maxY(), 60);
  EXPECT_EQ(flipped.width(), 30);

  EXPECT_EQ(r.insetBy(5, 10), Rect(15, 30, 20, 20));
  EXPECT_EQ(r.insetBy(-1, -1), Rect(9, 19, 32, 42));
  EXPECT_EQ(r.insetBy(15, 0), Rect(25, 20, 0, 40));
  EXPECT_TRUE(r.insetBy(16, 0).isNull());
  EXPECT_EQ(r.inset(EdgeInsets{1, 2, 3, 4}), Rect(12, 21, 24, 36));
  EXPECT_TRUE(r.inset(EdgeInsets{0, 20, 0, 20}).isNull());
  EXPECT_EQ(r.offsetBy(-10, 5), Rect(0, 25, 30, 40));
  EXPECT_TRUE(Rect::null().offsetBy(1, 1).isNull());
  EXPECT_TRUE(Rect::null().insetBy(-1, -1).isNull());

  EXPECT_EQ(Rect(0.5, 1.2, 10.1, 0.3).integral(), Rect(0, 1, 11, 1));
  EXPECT_EQ(Rect(-0.5, -1.5, 1, 1).integral(), Rect(-1, -2, 2, 2));
  EXPECT_TRUE(Rect::null().integral().isNull());
}

TEST(Geometry, TextForms) {
  EXPECT_EQ(toString(Point{1.5, -2}), "{1.5, -2}");
  EXPECT_EQ(toString(Size{3, 4}), "{3, 4}");
  EXPECT_EQ(toString(Rect(0, 0, 240, 180)), "{{0, 0}, {240, 180}}");
  EXPECT_EQ(rectFromString("{{0, 0}, {240, 180}}"), Rect(0, 0, 240, 180));
  EXPECT_EQ(rectFromString("{{1.5,2},{3,4}}"), Rect(1.5, 2, 3, 4));
  EXPECT_EQ(pointFromString(" {1, 2} "), (Point{1, 2}));
  EXPECT_EQ(sizeFromString("{3, 4}"), (Size{3, 4}));
  EXPECT_FALSE(rectFromString("{{0, 0}, {1}}"));
  EXPECT_FALSE(rectFromString("{{0, 0}, {1, 2}} junk"));
  EXPECT_FALSE(pointFromString(""));
  EXPECT_FALSE(pointFromString("{nan, 1}"));
}
