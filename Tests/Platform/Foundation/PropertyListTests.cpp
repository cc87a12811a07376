#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kesto::fnd;

namespace {

Value everyKind() {
  Array many;
  for (int i = 0; i < 300; ++i) many.push_back(Value("item " + std::to_string(i)));  // wide references
  return Value(Dictionary{
      {"string", Value("plain")},
      {"unicode", Value("caf\xC3\xA9 \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC")},
      {"escaped", Value("<a & b> \"q\" 'x'\r\nnext\ttab")},
      {"empty", Value("")},
      {"zero", Value(0)},
      {"byte", Value(200)},
      {"short", Value(65535)},
      {"int32", Value(4000000000LL)},
      {"int64", Value(static_cast<long long>(std::numeric_limits<std::int64_t>::max()))},
      {"negative", Value(-1)},
      {"min", Value(static_cast<long long>(std::numeric_limits<std::int64_t>::min()))},
      {"real", Value(3.25)},
      {"tiny", Value(-1.5e-300)},
      {"yes", Value(true)},
      {"no", Value(false)},
      {"date", Value(Date(416000000.0))},
      {"before2001", Value(Date(-86400.0 * 365))},
      {"data", Value(Data{0, 1, 2, 0xFF, 0x80, '<', '&'})},
      {"emptyData", Value(Data{})},
      {"emptyArray", Value(Array{})},
      {"emptyDict", Value(Dictionary{})},
      {"nested", Value(Array{Value(Dictionary{{"k", Value(Array{Value(1), Value("two")})}})})},
      {"many", Value(std::move(many))},
      {"long string", Value(std::string(70000, 'z'))},
  });
}

std::string str(const Data& d) { return std::string(d.begin(), d.end()); }

// Builds a binary list from raw object bytes: objects start at offset 8, one offset byte each.
std::string binary(const std::vector<std::string>& objects, std::uint8_t top = 0, std::uint8_t refSize = 1) {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  for (const std::string& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  const std::size_t table = out.size();
  for (std::size_t off : offsets) out += static_cast<char>(off);
  std::string trailer(32, '\0');
  trailer[6] = 1;
  trailer[7] = static_cast<char>(refSize);
  trailer[15] = static_cast<char>(objects.size());
  trailer[23] = static_cast<char>(top);
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

}  // namespace

TEST(PropertyList, BinaryRoundTripKeepsEveryKind) {
  const Value original = everyKind();
  auto bytes = PropertyList::write(original, PropertyListFormat::Binary);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(str(*bytes).substr(0, 8), "bplist00");
  PropertyListFormat format = PropertyListFormat::Xml;
  auto back = PropertyList::read(*bytes, &format);
  ASSERT_TRUE(back);
  EXPECT_EQ(format, PropertyListFormat::Binary);
  EXPECT_EQ(*back, original);
  EXPECT_TRUE((*back)["yes"].isBoolean());
  EXPECT_TRUE((*back)["real"].isReal());
  EXPECT_TRUE((*back)["min"].isInteger());
  EXPECT_TRUE((*back)["date"].isDate());
  // Binary dates keep fractions of a second.
  auto frac = PropertyList::read(*PropertyList::write(Value(Array{Value(Date(12.75))}), PropertyListFormat::Binary));
  EXPECT_EQ(frac->at(0).date(), Date(12.75));
}

TEST(PropertyList, XmlRoundTripKeepsEveryKind) {
  const Value original = everyKind();
  auto bytes = PropertyList::write(original, PropertyListFormat::Xml);
  ASSERT_TRUE(bytes);
  PropertyListFormat format = PropertyListFormat::Binary;
  auto back = PropertyList::read(*bytes, &format);
  ASSERT_TRUE(back);
  EXPECT_EQ(format, PropertyListFormat::Xml);
  EXPECT_EQ(*back, original);
  // The CR of "\r\n" survives XML line-end normalisation.
  EXPECT_EQ((*back)["escaped"].string(), "<a & b> \"q\" 'x'\r\nnext\ttab");
  EXPECT_TRUE((*back)["no"].isBoolean());
  EXPECT_TRUE((*back)["before2001"].isDate());
}

TEST(PropertyList, XmlLayoutIsTheUsualOne) {
  auto bytes = PropertyList::write(
      Value(Dictionary{{"a", Value(1)}, {"b", Value(Array{Value(true), Value(Date(0))})}, {"c", Value(Dictionary{})}}),
      PropertyListFormat::Xml);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(str(*bytes),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n"
            "<dict>\n"
            "\t<key>a</key>\n"
            "\t<integer>1</integer>\n"
            "\t<key>b</key>\n"
            "\t<array>\n"
            "\t\t<true/>\n"
            "\t\t<date>2001-01-01T00:00:00Z</date>\n"
            "\t</array>\n"
            "\t<key>c</key>\n"
            "\t<dict/>\n"
            "</dict>\n"
            "</plist>\n");
}

TEST(PropertyList, ReadsHandWrittenXml) {
  auto v = PropertyList::read(std::string_view(R"(<?xml version="1.0"?>
<plist version="1.0"><dict>
  <key>keyCode</key> <integer> -5 </integer>
  <key>hex</key><integer>0x1F</integer>
  <key>huge</key><integer>18446744073709551615</integer>
  <key>r</key><real>2</real>
  <key>inf</key><real>-infinity</real>
  <key>d</key><data>
    AAEC
    /w==
  </data>
  <!-- comments are skipped -->
  <key>s</key><string>a &amp; <![CDATA[<b>]]></string>
</dict></plist>)"));
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["keyCode"].intValue(), -5);
  EXPECT_EQ((*v)["hex"].intValue(), 31);
  EXPECT_TRUE((*v)["huge"].isReal());
  EXPECT_TRUE((*v)["r"].isReal());
  EXPECT_TRUE(std::isinf((*v)["inf"].doubleValue()));
  EXPECT_EQ((*v)["d"].data(), (Data{0, 1, 2, 0xFF}));
  EXPECT_EQ((*v)["s"].string(), "a & <b>");
}

TEST(PropertyList, HostileXmlIsRefused) {
  const char* cases[] = {
      "",
      "<plist><dict><key>a</key></dict></plist>",                        // key without value
      "<plist><dict><string>x</string></dict></plist>",                  // value without key
      "<plist><integer>12abc</integer></plist>",
      "<plist><integer>99999999999999999999999</integer></plist>",
      "<plist><date>yesterday</date></plist>",
      "<plist><data>!!!!</data></plist>",
      "<plist><object/></plist>",
      "<plist><true/><false/></plist>",                                  // two roots
      "<plist><dict><key>a</key><string>unclosed</dict></plist>",
      // Entity expansion ("billion laughs") must be refused outright.
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><plist><string>&c;</string></plist>",
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<plist><string>&x;</string></plist>",
  };
  for (const char* text : cases) {
    Error error;
    EXPECT_FALSE(PropertyList::read(std::string_view(text), nullptr, &error)) << text;
    EXPECT_EQ(error.code(), PropertyList::kReadCorruptError) << text;
  }
  std::string deep;
  for (int i = 0; i < 600; ++i) deep += "<array>";
  for (int i = 0; i < 600; ++i) deep += "</array>";
  EXPECT_FALSE(PropertyList::read("<plist>" + deep + "</plist>"));
}

TEST(PropertyList, HostileBinaryIsRefused) {
  const auto good = *PropertyList::write(everyKind(), PropertyListFormat::Binary);
  const std::string bytes = str(good);
  // Every truncation fails cleanly.
  for (std::size_t n : {std::size_t(0), std::size_t(8), std::size_t(39), bytes.size() / 2, bytes.size() - 1})
    EXPECT_FALSE(PropertyList::read(std::string_view(bytes.data(), n))) << n;
  // Corrupting single bytes anywhere never crashes; most reads fail.
  for (std::size_t i = 8; i < bytes.size(); i += 97) {
    std::string broken = bytes;
    broken[i] = static_cast<char>(broken[i] ^ 0xFF);
    PropertyList::read(broken);
  }

  const std::string selfReference = binary({std::string("\xA1\x00", 2)});
  Error error;
  EXPECT_FALSE(PropertyList::read(selfReference, nullptr, &error));
  EXPECT_EQ(error.code(), PropertyList::kReadCorruptError);
  EXPECT_FALSE(PropertyList::read(binary({"\xA1\x05"})));                     // reference past the table
  EXPECT_FALSE(PropertyList::read(binary({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"})));  // absurd count
  EXPECT_FALSE(PropertyList::read(binary({"\x5F\x10\xF0"})));                 // string past the end
  EXPECT_FALSE(PropertyList::read(binary({std::string("\xD1\x01\x01", 3), std::string("\x10\x01", 2)})));  // int key
  EXPECT_FALSE(PropertyList::read(binary({"\x10\x01"}, 3)));                  // top object out of range
  EXPECT_FALSE(PropertyList::read(binary({"\xF0"})));                         // unknown marker

  // Shared sub-objects are decoded once: 2^60 leaves by reference stay cheap (decoded one by
  // one, this would not end).
  std::vector<std::string> dag{std::string("\x10\x07", 2)};
  for (int i = 1; i < 61; ++i) dag.push_back(std::string("\xA2", 1) + char(i - 1) + char(i - 1));
  auto v = PropertyList::read(binary(dag, 60));
  ASSERT_TRUE(v);
  Value leaf = *v;
  while (leaf.isArray()) leaf = leaf.at(1);
  EXPECT_EQ(leaf.intValue(), 7);
}

TEST(PropertyList, ReadsUidsAndSetsOfKeyedArchives) {
  auto v = PropertyList::read(binary({"\xA2\x01\x02", std::string("\x80\x05", 2), "\xC1\x01"}));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->at(0)["CF$UID"].intValue(), 5);
  EXPECT_EQ(v->at(1).at(0)["CF$UID"].intValue(), 5);
}

TEST(PropertyList, RefusesValuesItCannotWrite) {
  for (PropertyListFormat f : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    Error error;
    EXPECT_FALSE(PropertyList::write(Value(Array{Value(1), Value()}), f, &error));
    EXPECT_EQ(error.code(), PropertyList::kWriteInvalidError);
    EXPECT_FALSE(PropertyList::write(Value(Dictionary{{"k", Value(std::make_shared<Object>())}}), f));
    EXPECT_FALSE(PropertyList::write(Value(Array{Value(std::string("\xC0\xAF"))}), f));
  }
  EXPECT_FALSE(PropertyList::write(Value(1), PropertyListFormat::OpenStep));
  EXPECT_FALSE(PropertyList::isValid(Value()));
  EXPECT_TRUE(PropertyList::isValid(Value("scalar roots are fine")));
  EXPECT_EQ(PropertyList::read(*PropertyList::write(Value("scalar"), PropertyListFormat::Xml))->string(), "scalar");
}

TEST(PropertyList, XmlDropsCharactersXmlForbids) {
  auto back = PropertyList::read(*PropertyList::write(Value("a\x01" "b\x1b" "c"), PropertyListFormat::Xml));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->string(), "abc");
  // Binary keeps them.
  EXPECT_EQ(PropertyList::read(*PropertyList::write(Value("a\x01" "b"), PropertyListFormat::Binary))->string(),
            "a\x01" "b");
}

TEST(PropertyList, XmlWritesEmptyContainersShortAndRefusesAKeyThatIsNotText) {
  auto bytes = PropertyList::write(Value(Array{Value(Array{}), Value(Dictionary{{"k", Value(Array{})}})}),
                                   PropertyListFormat::Xml);
  ASSERT_TRUE(bytes);
  EXPECT_NE(str(*bytes).find("<array>\n\t<array/>\n\t<dict>\n\t\t<key>k</key>\n\t\t<array/>\n\t</dict>\n</array>\n"),
            std::string::npos);
  Error error;
  EXPECT_FALSE(PropertyList::write(Value(Array{Value(Dictionary{{"\xFF", Value(1)}})}), PropertyListFormat::Xml, &error));
  EXPECT_EQ(error.code(), PropertyList::kWriteInvalidError);
}
