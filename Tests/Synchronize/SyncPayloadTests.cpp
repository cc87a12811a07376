#include "Synchronize/SyncPayload.h"
#include "Synchronize/ZipPacker.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <zlib.h>

namespace kesto::test {
namespace {

// The standard tool's reading of an archive: its status and what it printed.
CommandResult unzip(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "unzip");
  return runProgram(arguments, false);
}

// An archive made entry by entry, names taken as given.
std::string craft(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& entries) {
  auto path = dir + "/crafted.zip";
  ZipPacker packer;
  EXPECT_TRUE(packer.createZipFile2(path));
  for (const auto& [name, data] : entries) EXPECT_TRUE(packer.addDataToZip(data, name, fnd::Date::now()));
  EXPECT_TRUE(packer.closeZipFile2());
  return path;
}

TEST(SyncPayload, PacksOneDeflatedEntryThatStandardToolsRead) {
  auto dir = makeTempDir("pack");
  auto zip = dir + "/sync_data.zip";
  std::string xml(20000, 'x');
  ASSERT_TRUE(SyncPayload::pack(xml, zip));
  EXPECT_EQ(unzip({"-t", zip}).status, 0);
  // Exactly one entry "tmp.xml", deflated, with the bytes unchanged.
  EXPECT_EQ(unzip({"-Z1", zip}).output, "tmp.xml\n");
  EXPECT_THAT(unzip({"-Zv", zip}).output, testing::ContainsRegex("compression method:.*deflated"));
  EXPECT_TRUE(unzip({"-p", zip, "tmp.xml"}).output == xml);
  std::string back;
  ASSERT_EQ(SyncPayload::unpack(zip, &back), SyncPayload::UnpackStatus::Ok);
  EXPECT_EQ(back, xml);
  EXPECT_FALSE(fnd::FileManager::fileExists(zip + ".partial"));
  // It carries the whole library: the user's alone.
  EXPECT_EQ(fnd::FileManager::attributesOfItem(zip)->permissions, 0600u);
}

// A library-sized file is deflated in slices at once: the archive must still be one entry that
// standard tools read byte for byte, and pack as small as one pass would.
TEST(SyncPayload, ALargeFilePacksInSlicesIntoOneEntryThatReadsBack) {
  auto dir = makeTempDir("pack-large");
  auto zip = dir + "/sync_data.zip";
  std::string xml;
  std::uint32_t seed = 7;
  while (xml.size() < 9u * 1024 * 1024 + 4321) {
    seed = seed * 1103515245u + 12345u;
    xml += "  <bookmark><id>B" + std::to_string(seed % 100000) + "</id><title><![CDATA[Title " +
           std::to_string(seed >> 8) + "]]></title></bookmark>\n";
  }
  ASSERT_TRUE(SyncPayload::pack(xml, zip));
  EXPECT_EQ(unzip({"-t", zip}).status, 0);
  const auto read = unzip({"-p", zip, "tmp.xml"});
  EXPECT_EQ(read.status, 0);
  EXPECT_TRUE(read.output == xml) << "unzip read " << read.output.size() << " bytes of " << xml.size();
  std::string back;
  ASSERT_EQ(SyncPayload::unpack(zip, &back), SyncPayload::UnpackStatus::Ok);
  EXPECT_EQ(back, xml);
  uLongf bound = compressBound(static_cast<uLong>(xml.size()));
  std::vector<Bytef> onePass(bound);
  ASSERT_EQ(compress2(onePass.data(), &bound, reinterpret_cast<const Bytef*>(xml.data()), static_cast<uLong>(xml.size()),
                      Z_DEFAULT_COMPRESSION),
            Z_OK);
  const auto size = fnd::FileManager::sizeOfItem(zip);
  EXPECT_LT(static_cast<double>(size), static_cast<double>(bound) * 1.02 + 512);
}

TEST(SyncPayload, ReadsOnlyTheSyncFileAndWritesNothing) {
  auto dir = makeTempDir("multi");
  auto zip = craft(dir, {{"../escape.txt", "evil"}, {"/tmp/abs.txt", "evil"}, {"tmp.xml", "<a/>"}, {"other", "x"}});
  std::string xml;
  ASSERT_EQ(SyncPayload::unpack(zip, &xml), SyncPayload::UnpackStatus::Ok);
  EXPECT_EQ(xml, "<a/>");
  auto listing = fnd::FileManager::contentsOfDirectory(dir);
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->size(), 1u);  // only the archive itself
  EXPECT_FALSE(fnd::FileManager::fileExists(fnd::FileManager::deletingLastPathComponent(dir) + "/escape.txt"));
}

TEST(SyncPayload, FailuresAreNeverAnEmptyRemote) {
  auto dir = makeTempDir("bad");
  std::string xml = "stale";
  EXPECT_EQ(SyncPayload::unpack(dir + "/missing.zip", &xml), SyncPayload::UnpackStatus::NotAnArchive);
  writeFile(dir + "/garbage.zip", "PK\x03\x04 this is not really a zip archive");
  EXPECT_EQ(SyncPayload::unpack(dir + "/garbage.zip", &xml), SyncPayload::UnpackStatus::NotAnArchive);
  EXPECT_EQ(SyncPayload::unpack(craft(dir, {{"notes.txt", "x"}}), &xml), SyncPayload::UnpackStatus::NoSyncFile);
  // A truncated archive: the central directory is gone.
  auto good = dir + "/good.zip";
  ASSERT_TRUE(SyncPayload::pack(std::string(5000, 'y'), good));
  auto bytes = readFile(good);
  writeFile(dir + "/cut.zip", bytes.substr(0, bytes.size() / 2));
  EXPECT_NE(SyncPayload::unpack(dir + "/cut.zip", &xml), SyncPayload::UnpackStatus::Ok);
  // Damaged compressed data with an intact directory fails the checksum.
  std::string damaged = bytes;
  for (std::size_t i = 60; i < 90 && i < damaged.size(); ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
  writeFile(dir + "/damaged.zip", damaged);
  EXPECT_NE(SyncPayload::unpack(dir + "/damaged.zip", &xml), SyncPayload::UnpackStatus::Ok);
  EXPECT_EQ(xml, "stale");  // nothing handed over on any failure
}

TEST(SyncPayload, RefusesASyncFileOverTheCap) {
  auto dir = makeTempDir("bomb");
  auto zip = dir + "/bomb.zip";
  ASSERT_TRUE(SyncPayload::pack(std::string(4 * 1024 * 1024, '\0'), zip));  // compresses to a few KB
  EXPECT_LT(fnd::FileManager::sizeOfItem(zip), 100000u);
  std::string xml;
  EXPECT_EQ(SyncPayload::unpack(zip, &xml, 1024 * 1024), SyncPayload::UnpackStatus::TooLarge);
  EXPECT_TRUE(xml.empty());
}

struct Recorder : ZipPackerDelegate {
  std::vector<std::string> messages;
  void errorMessage(const std::string& m) override { messages.push_back(m); }
};

TEST(ZipPacker, ExtractionStaysInsideItsFolder) {
  auto dir = makeTempDir("extract");
  auto zip = craft(dir, {{"../outside.txt", "evil"}, {"a\\b\\c.txt", "nested"}, {"sub/", ""}, {"plain.txt", "p"}});
  auto target = dir + "/out";
  ASSERT_TRUE(fnd::FileManager::createDirectory(target, true));
  auto recorder = std::make_shared<Recorder>();
  ZipPacker packer;
  packer.setDelegate(recorder);
  ASSERT_TRUE(packer.unzipOpenFile(zip));
  EXPECT_TRUE(packer.unzipFileTo(target, true));
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/outside.txt"));
  EXPECT_EQ(readFile(target + "/a/b/c.txt"), "nested");  // backslashes become folders
  EXPECT_EQ(readFile(target + "/plain.txt"), "p");
  EXPECT_EQ(fnd::FileManager::attributesOfItem(target + "/plain.txt")->permissions, 0600u);
  EXPECT_EQ(fnd::FileManager::attributesOfItem(target + "/a/b")->permissions, 0700u);
  bool dirMade = false;
  EXPECT_TRUE(fnd::FileManager::fileExists(target + "/sub", &dirMade) && dirMade);
  EXPECT_EQ(recorder->messages.size(), 1u);
  EXPECT_TRUE(packer.unzipCloseFile());
  EXPECT_TRUE(packer.unzipCloseFile());  // nothing open: still YES
  EXPECT_FALSE(packer.closeZipFile2());  // nothing open for writing: NO
}

TEST(ZipPacker, EmptyArchiveReportsFailure) {
  auto dir = makeTempDir("empty");
  auto zip = craft(dir, {});
  auto recorder = std::make_shared<Recorder>();
  ZipPacker packer;
  packer.setDelegate(recorder);
  // minizip may refuse to open an archive without entries; either way nothing is extracted.
  if (packer.unzipOpenFile(zip)) {
    EXPECT_FALSE(packer.unzipFileTo(dir, true));
    EXPECT_EQ(recorder->messages, (std::vector<std::string>{"Failed", "Error occurs"}));
  } else {
    EXPECT_FALSE(packer.unzipFileTo(dir, true));
  }
  std::string xml;
  EXPECT_NE(SyncPayload::unpack(zip, &xml), SyncPayload::UnpackStatus::Ok);
  EXPECT_EQ(fnd::FileManager::contentsOfDirectory(dir)->size(), 1u);
}

TEST(ZipPacker, FilesKeepTheirContentAndDate) {
  auto dir = makeTempDir("dates");
  writeFile(dir + "/in.txt", "secret text");
  ASSERT_TRUE(fnd::FileManager::setModificationDate(dir + "/in.txt", fnd::Date::withTimeIntervalSince1970(1425751500)));
  ZipPacker packer;
  ASSERT_TRUE(packer.createZipFile2(dir + "/p.zip"));
  ASSERT_TRUE(packer.addFileToZip(dir + "/in.txt", "in.txt"));
  ASSERT_TRUE(packer.closeZipFile2());
  EXPECT_EQ(unzip({"-t", dir + "/p.zip"}).status, 0);
  ASSERT_TRUE(packer.unzipOpenFile(dir + "/p.zip"));
  ASSERT_TRUE(fnd::FileManager::createDirectory(dir + "/out", true));
  EXPECT_TRUE(packer.unzipFileTo(dir + "/out", false));
  EXPECT_EQ(readFile(dir + "/out/in.txt"), "secret text");
  auto attrs = fnd::FileManager::attributesOfItem(dir + "/out/in.txt");
  ASSERT_TRUE(attrs);
  EXPECT_NEAR(attrs->modificationDate.timeIntervalSince1970(), 1425751500, 2);
}

}  // namespace
}  // namespace kesto::test
