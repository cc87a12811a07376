#include "Platform/Foundation/KeyedArchive.h"
#include "Platform/Foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kesto::fnd;

namespace {

struct Inner : Coding {
  std::string name;
  std::string codingClassName() const override { return "Inner"; }
  void encodeWithCoder(KeyedArchiver& c) const override { c.encodeObject(Value(name), "name"); }
};

struct Outer : Coding {
  std::int64_t count = 0;
  bool flag = false;
  Value headers;
  Inner inner;
  std::optional<Error> error;
  std::string codingClassName() const override { return "Outer"; }
  void encodeWithCoder(KeyedArchiver& c) const override {
    c.encodeInt64(count, "count");
    c.encodeBool(flag, "flag");
    c.encodeObject(headers, "headers");
    c.encodeObject(&inner, "inner");
    if (error) c.encodeError(*error, "error");
  }
};

Outer sample() {
  Outer o;
  o.count = -(1LL << 40);
  o.flag = true;
  o.headers = Value(Dictionary{{"Accept", "text/xml"}, {"X", Value(Array{1, 2})}});
  o.inner.name = "naïve";
  Error underlying(kPOSIXErrorDomain, 2, {{kLocalizedDescriptionKey, "No such file"}});
  Error e(kURLErrorDomain, -1011, {{kLocalizedDescriptionKey, "Bad"}, {"pointer", Value(std::make_shared<Object>())}});
  e.setUnderlyingError(underlying);
  o.error = e;
  return o;
}

// Rewrites the archive's root dictionary.
Data edited(const Data& archive, const std::function<Dictionary(Dictionary)>& edit) {
  auto plist = PropertyList::read(archive);
  Dictionary top = plist->dictionary();
  top["$root"] = Value(edit(top["$root"].dictionary()));
  return *PropertyList::write(Value(top), PropertyListFormat::Binary);
}

}  // namespace

TEST(KeyedArchiveTest, RoundTripsValuesNestedObjectsAndErrors) {
  auto data = KeyedArchiver::archivedDataWithRootObject(sample());
  ASSERT_TRUE(data);
  Error error;
  auto r = KeyedUnarchiver::forReadingFromData(*data, {"Outer"}, &error);
  ASSERT_TRUE(r) << error.localizedDescription();
  EXPECT_EQ(r->className(), "Outer");
  EXPECT_EQ(r->decodeInt64("count"), -(1LL << 40));
  EXPECT_TRUE(r->decodeBool("flag"));
  EXPECT_EQ(*r->decodeObjectOfType(Value::Type::Dictionary, "headers"), sample().headers);
  auto inner = r->decodeObjectOfClasses("inner", {"Inner"});
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->decodeString("name"), "naïve");
  auto e = r->decodeError("error");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->domain(), kURLErrorDomain);
  EXPECT_EQ(e->code(), -1011);
  EXPECT_EQ(e->localizedDescription(), "Bad");
  EXPECT_FALSE(e->userInfo().count("pointer")) << "values a property list cannot hold are left out";
  ASSERT_TRUE(e->underlyingError());
  EXPECT_EQ(e->underlyingError()->code(), 2);
  EXPECT_FALSE(r->containsValueForKey("missing"));
  EXPECT_EQ(r->decodeInt64("missing", 7), 7);
  EXPECT_FALSE(r->error());
}

TEST(KeyedArchiveTest, RefusesUnexpectedClassesAndTypes) {
  auto data = *KeyedArchiver::archivedDataWithRootObject(sample());
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::forReadingFromData(data, {"Inner"}, &error));
  EXPECT_EQ(error.code(), KeyedUnarchiver::kReadCorruptError);
  EXPECT_NE(error.localizedDescription().find("Outer"), std::string::npos);

  auto r = KeyedUnarchiver::forReadingFromData(data, {"Outer"});
  EXPECT_FALSE(r->decodeObjectOfClasses("inner", {"Other"})) << "a nested object of a class not named";
  ASSERT_TRUE(r->error());
  EXPECT_EQ(r->error()->code(), KeyedUnarchiver::kReadCorruptError);

  r = KeyedUnarchiver::forReadingFromData(data, {"Outer"});
  EXPECT_FALSE(r->decodeString("count")) << "a number read as a string";
  EXPECT_TRUE(r->error());
  r = KeyedUnarchiver::forReadingFromData(data, {"Outer"});
  EXPECT_FALSE(r->decodeObjectOfType(Value::Type::Dictionary, "inner")) << "an object is not a plain dictionary";
  r = KeyedUnarchiver::forReadingFromData(data, {"Outer"});
  EXPECT_FALSE(r->decodeObjectOfClasses("count", {"Inner"}));
  EXPECT_TRUE(r->error());

  // A forged class name inside is refused the same way.
  auto forged = edited(data, [](Dictionary root) {
    Dictionary inner = root["inner"].dictionary();
    inner["$class"] = "Evil";
    root["inner"] = Value(inner);
    return root;
  });
  r = KeyedUnarchiver::forReadingFromData(forged, {"Outer"});
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->decodeObjectOfClasses("inner", {"Inner"}));
}

TEST(KeyedArchiveTest, RejectsOtherDataAndOversizedInput) {
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::forReadingFromData(Data{'x', 'y'}, {"Outer"}, &error));
  EXPECT_EQ(error.code(), KeyedUnarchiver::kReadCorruptError);
  auto plainList = *PropertyList::write(Value(Dictionary{{"$root", Value(Dictionary{{"$class", "Outer"}})}}), PropertyListFormat::Xml);
  EXPECT_FALSE(KeyedUnarchiver::forReadingFromData(plainList, {"Outer"})) << "no archiver mark";
  Data huge(KeyedUnarchiver::kMaxArchiveBytes + 1, 0);
  EXPECT_FALSE(KeyedUnarchiver::forReadingFromData(huge, {"Outer"}, &error));
}

TEST(KeyedArchiveTest, ValuesThatWouldReadBackAsObjectsFailTheArchive) {
  struct Bad : Coding {
    Value v;
    std::string key = "value";
    std::string codingClassName() const override { return "Bad"; }
    void encodeWithCoder(KeyedArchiver& c) const override { c.encodeObject(v, key); }
  } bad;
  bad.v = Value(Dictionary{{"$class", "Outer"}});
  Error error;
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(bad, &error));
  bad.v = Value(std::make_shared<Object>());
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(bad));
  bad.v = Value("fine");
  bad.key = "$class";
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(bad)) << "reserved key";
  bad.key = "ok";
  EXPECT_TRUE(KeyedArchiver::archivedDataWithRootObject(bad));
}
