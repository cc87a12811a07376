#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/StringFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace kesto::fnd;

TEST(Format, ObjectDirectiveDescribesEachKindOfValue) {
  EXPECT_EQ(format("%@|%d|f", "x", 3), "x|3|f");
  EXPECT_EQ(format("%@/%@", "a", 2), "a/2");
  EXPECT_EQ(format("Connected as %@", std::string("ann")), "Connected as ann");
  EXPECT_EQ(format("Current shortcut: %@+%@", "Ctrl", "P"), "Current shortcut: Ctrl+P");
  EXPECT_EQ(format("[%@]", Value()), "[(null)]");
  EXPECT_EQ(format("%@", true), "1");
  EXPECT_EQ(format("%@ %@", 0.1, 2.0), "0.1 2");
  EXPECT_EQ(format("%@", Date(0)), "2001-01-01 00:00:00 +0000");
  EXPECT_EQ(format("%@", Data{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}), "<0a1b2c3d 4e>");
  auto e = std::make_shared<Error>(Error::withDescription("D", 1, "boom"));
  EXPECT_EQ(format("%@", Value(e)), e->description());
  EXPECT_EQ(format("%@", Value(Array{Value(1), Value("b")})), Value(Array{Value(1), Value("b")}).description());
}

TEST(Format, IntegerDirectivesAndLengths) {
  EXPECT_EQ(format("%d %i", -5, 7), "-5 7");
  EXPECT_EQ(format("%ld %li %lld %qd", 1LL << 40, -(1LL << 40), 3, 4), "1099511627776 -1099511627776 3 4");
  // Without a length, %d takes 32 bits, as an int argument would.
  EXPECT_EQ(format("%d", 1LL << 32 | 5), "5");
  EXPECT_EQ(format("%lu %qu", 18, 19), "18 19");
  EXPECT_EQ(format("%u", -1), "4294967295");
  EXPECT_EQ(format("%lu", -1), "18446744073709551615");
  EXPECT_EQ(format("%x %X %04x %08lX", 255, 255, 10, 0xABCDEFLL), "ff FF 000a 00ABCDEF");
  EXPECT_EQ(format("%5d|%-5d|%+d|%05d", 42, 42, 42, -42), "   42|42   |+42|-0042");
  EXPECT_EQ(format("%*d", 4, 7), "   7");
  EXPECT_EQ(format("%d", "12abc"), "12");  // strings read by their leading digits
  EXPECT_EQ(format("%d", 3.9), "3");
}

TEST(Format, RealsTextAndCharacters) {
  EXPECT_EQ(format("%f", 1.5), "1.500000");
  EXPECT_EQ(format("%.2f%%", 99.555), "99.56%");  // 99.555 is stored just above .555
  EXPECT_EQ(format("%g %e", 0.0001, 12345.0), "0.0001 1.234500e+04");
  EXPECT_EQ(format("%.1f", 2), "2.0");
  EXPECT_EQ(format("%s-%c", "abc", 0x00E9), "abc-\xC3\xA9");
  EXPECT_EQ(format("%.2s|%5s|%-4s|", "héllo", "é", "ab"), "hé|    é|ab  |");
  EXPECT_EQ(format("%6@|", "ab"), "    ab|");
}

TEST(Format, PositionalMissingAndMalformedDirectives) {
  EXPECT_EQ(format("%2$@ %1$@", "world", "hello"), "hello world");
  EXPECT_EQ(format("%@ and %@", "one"), "one and ");
  EXPECT_EQ(format("100%% sure"), "100% sure");
  EXPECT_EQ(format("%y %d", 1), "%y 1");
  EXPECT_EQ(format("trailing %"), "trailing %");
  EXPECT_EQ(format("%l"), "%l");
  EXPECT_EQ(format("%5$@", "a"), "");
  // A huge width is bounded rather than allocating without limit.
  EXPECT_LE(format("%999999999d", 1).size(), 5000u);
}

TEST(Format, StarWidthsAndPrecisionsTakeArgumentsInTurn) {
  EXPECT_EQ(format("%-*d|", 4, 7), "7   |");
  EXPECT_EQ(format("%*d|", -4, 7), "7   |");  // a negative width argument left-justifies
  EXPECT_EQ(format("%.*f", 2, 1.23456), "1.23");
  EXPECT_EQ(format("%.*f", -1, 1.5), "1.500000");  // a negative precision counts as none
  EXPECT_EQ(format("%*.*s|%@", 5, 2, "abcdef", "next"), "   ab|next");
  // The most negative width neither overflows nor escapes the bound.
  std::string widest = format("%*d", std::numeric_limits<std::int64_t>::min(), 1);
  ASSERT_EQ(widest.size(), 4096u);
  EXPECT_EQ(widest.front(), '1');
  // A missing width argument counts as zero, and the directive still takes its own.
  EXPECT_EQ(format("%*d"), "");
}

TEST(Format, ShortLengthsWrapAsTheirCTypes) {
  EXPECT_EQ(format("%hd %hhd", 70000, 300), "4464 44");
  EXPECT_EQ(format("%hu %hhu", -1, -1), "65535 255");
  EXPECT_EQ(format("%D %U", 1LL << 32, 1LL << 32), "4294967296 4294967296");
  EXPECT_EQ(format("%o %O", 8, 8), "10 10");
}

TEST(Format, PositionsBeyondTheArgumentsWriteNothing) {
  EXPECT_EQ(format("%1$@%1$@", "ab"), "abab");
  EXPECT_EQ(format("[%0$d]", 5), "[%0$d]");  // "0$" names no argument: copied as it stands
  // A position too long to count does not wrap around to an argument that exists.
  EXPECT_EQ(format("[%18446744073709551617$@]", "a"), "[]");
  EXPECT_EQ(format("%2$@ %@", "a", "b"), "b a");  // a position does not move the sequence
}
