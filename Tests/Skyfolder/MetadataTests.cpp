#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFMetadata.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

// Null, with a failed check, where the text is no JSON; callers stop at a null.
std::shared_ptr<const SFMetadata> fromJson(std::string_view text) {
  auto json = nsstring_dbjson::JSONValue(text);
  EXPECT_TRUE(json) << text;
  if (!json) return nullptr;
  return SFMetadata::initWithDictionary(*json);
}

}  // namespace

TEST(SFMetadata, ReadsAFolderListing) {
  auto m = fromJson(R"({"hash":"h1","thumb_exists":false,"bytes":0,"path":"/","is_dir":true,"size":"0 bytes",
    "root":"app_folder","icon":"folder","revision":9007199254740993,
    "contents":[{"rev":"1f","thumb_exists":true,"bytes":5000000000,"modified":"Sat, 21 Aug 2010 22:31:20 +0000",
                 "client_mtime":"Sat, 21 Aug 2010 23:31:20 +0100","path":"/Apps/x/sync_data.zip","is_dir":false,
                 "is_deleted":1},
                {"path":"/sub","is_dir":true,"contents":[]}, 42]})");
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->isDirectory());
  EXPECT_EQ(m->hash(), "h1");
  EXPECT_EQ(m->humanReadableSize(), "0 bytes");
  EXPECT_EQ(m->revision(), 9007199254740993LL);
  EXPECT_EQ(m->filename(), "/");
  EXPECT_FALSE(m->rev());
  ASSERT_TRUE(m->contents());
  // Elements that are not objects carry no record.
  ASSERT_EQ(m->contents()->size(), 2u);
  const auto& file = *m->contents()->at(0);
  EXPECT_EQ(file.filename(), "sync_data.zip");
  EXPECT_EQ(file.totalBytes(), 5000000000LL);
  EXPECT_TRUE(file.thumbnailExists());
  EXPECT_TRUE(file.isDeleted());
  EXPECT_FALSE(file.contents());
  ASSERT_TRUE(file.lastModifiedDate());
  EXPECT_DOUBLE_EQ(file.lastModifiedDate()->timeIntervalSince1970(), 1282429880.0);
  ASSERT_TRUE(file.clientMtime());
  EXPECT_EQ(*file.clientMtime(), *file.lastModifiedDate());
  const auto& sub = *m->contents()->at(1);
  ASSERT_TRUE(sub.contents());
  EXPECT_TRUE(sub.contents()->empty());
}

TEST(SFMetadata, ToleratesMissingAndMistypedFields) {
  auto m = fromJson(R"({"path":7,"bytes":"12","modified":"2010-08-21T22:31:20Z","is_dir":"yes"})");
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->path());
  EXPECT_EQ(m->filename(), "");
  EXPECT_EQ(m->totalBytes(), 0);
  EXPECT_FALSE(m->lastModifiedDate());
  EXPECT_FALSE(m->isDirectory());
  EXPECT_FALSE(SFMetadata::initWithDictionary(fnd::Value(fnd::Array{})));
}

TEST(SFMetadata, ParsesOnlyTheServiceDateForm) {
  EXPECT_TRUE(SFMetadata::dateFromString("Mon, 01 Jan 2001 00:00:00 +0000"));
  EXPECT_DOUBLE_EQ(SFMetadata::dateFromString("Mon, 01 Jan 2001 02:00:00 +0200")->timeIntervalSinceReferenceDate(), 0);
  EXPECT_DOUBLE_EQ(SFMetadata::dateFromString("Sun, 31 Dec 2000 19:00:00 -0500")->timeIntervalSinceReferenceDate(), 0);
  for (const char* text : {"Mon, 01 Jan 2001 00:00:00", "Mon, 1 Jan 2001 00:00:00 +0000", "Lun, 01 Jan 2001 00:00:00 +0000",
                           "Thu, 29 Feb 2001 00:00:00 +0000", "Mon, 01 Jan 2001 00:00:00 +0000 ", ""})
    EXPECT_FALSE(SFMetadata::dateFromString(text)) << text;
}

TEST(SFMetadata, EqualityFollowsTheRevision) {
  auto a = fromJson(R"({"path":"/a","rev":"r1"})");
  auto b = fromJson(R"({"path":"/b","rev":"r1"})");
  auto c = fromJson(R"({"path":"/a","rev":"r2"})");
  auto noRev1 = fromJson(R"({"path":"/a"})");
  auto noRev2 = fromJson(R"({"path":"/a"})");
  ASSERT_TRUE(a && b && c && noRev1 && noRev2);
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_FALSE(a->isEqual(*c));
  EXPECT_FALSE(noRev1->isEqual(*noRev2));
  EXPECT_TRUE(noRev1->isEqual(*noRev1));
}

TEST(SFMetadata, ArchivesRoundTrip) {
  auto m = fromJson(R"({"path":"/d","is_dir":true,"hash":"h","rev":"9","revision":3,
    "modified":"Sat, 21 Aug 2010 22:31:20 +0000","contents":[{"path":"/d/f","bytes":7,"rev":"a"}]})");
  ASSERT_TRUE(m);
  auto copy = SFMetadata::initWithCoder(m->encodeWithCoder());
  EXPECT_EQ(copy->path(), "/d");
  EXPECT_EQ(copy->filename(), "d");
  EXPECT_TRUE(copy->isDirectory());
  EXPECT_EQ(copy->hash(), "h");
  EXPECT_EQ(copy->revision(), 3);
  EXPECT_EQ(copy->lastModifiedDate(), m->lastModifiedDate());
  ASSERT_TRUE(copy->contents());
  EXPECT_EQ(copy->contents()->at(0)->totalBytes(), 7);
  EXPECT_TRUE(copy->isEqual(*m));
}

TEST(SFQuota, ReadsAndArchives) {
  auto json = nsstring_dbjson::JSONValue(R"({"normal":5,"shared":7,"quota":100})");
  SFQuota q(json->dictionary());
  EXPECT_EQ(q.totalConsumedBytes(), 12);
  EXPECT_EQ(q.totalBytes(), 100);
  auto copy = SFQuota::initWithCoder(q.encodeWithCoder());
  EXPECT_EQ(copy->normalConsumedBytes(), 5);
  EXPECT_EQ(copy->sharedConsumedBytes(), 7);
}
