#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"

#include "FileModes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kesto::fnd;
using kesto::test::makeTempDir;
using kesto::test::readFile;
using kesto::test::writeFile;

namespace {
std::vector<std::string> namesIn(const std::string& dir) {
  return FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{});
}
}  // namespace

TEST(FileManagerWrite, AtomicWriteSetsTheModeAndLeavesNoTemporaryFile) {
  std::string dir = makeTempDir();
  std::string path = dir + "/defaults.plist";
  writeFile(path, "old contents");
  ::chmod(path.c_str(), 0644);
  mode_t oldMask = ::umask(0077);  // the mode must not depend on the umask
  ::umask(oldMask);

  Error error;
  ASSERT_TRUE(FileManager::writeFile(path, std::string_view("new"), true, 0600, &error));
  EXPECT_EQ(readFile(path), "new");
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"defaults.plist"}));

  ASSERT_TRUE(FileManager::writeFileAtomically(path, "", 0640));
  EXPECT_EQ(readFile(path), "");
  EXPECT_EQ(modeOf(path), 0640u);
}

TEST(FileManagerWrite, FailedAtomicWriteKeepsTheOldItemAndCleansUp) {
  std::string dir = makeTempDir();
  // A folder where the file should go: rename cannot replace it.
  std::string blocked = dir + "/target";
  ASSERT_TRUE(FileManager::createDirectory(blocked + "/inside", true));
  Error error;
  EXPECT_FALSE(FileManager::writeFileAtomically(blocked, "data", 0600, &error));
  EXPECT_EQ(error.domain(), kCocoaErrorDomain);
  EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"target"}));

  // A missing folder: nothing is made anywhere.
  EXPECT_FALSE(FileManager::writeFileAtomically(dir + "/missing/file", "data", 0600, &error));
  EXPECT_EQ(error.code(), kFileNoSuchFileError);
  EXPECT_EQ(error.userInfo().at(kFilePathErrorKey).string(), dir + "/missing/file");
}

// A file written in pieces: small ones gathered, large ones straight through, in order; the old
// file stays whole until the commit, and a writer given up leaves nothing of its own behind.
TEST(FileManagerWrite, PiecewiseAtomicWriteKeepsOrderAndTheOldFileUntilCommitted) {
  std::string dir = makeTempDir();
  std::string path = dir + "/export.html";
  writeFile(path, "old");
  std::string expected;
  {
    AtomicFileWriter writer(path);
    ASSERT_TRUE(writer.good());
    for (int i = 0; i < 5000; ++i) {
      const std::string piece = "line " + std::to_string(i) + "\n";
      expected += piece;
      ASSERT_TRUE(writer.append(piece));
    }
    const std::string large(600 * 1024, 'x');
    expected += large + "end";
    ASSERT_TRUE(writer.append(large));
    ASSERT_TRUE(writer.append("end"));
    EXPECT_EQ(readFile(path), "old");
    // What was written is on disk already, beside the old file: only the last bit waits in memory.
    const auto names = namesIn(dir);
    ASSERT_EQ(names.size(), 2u);
    const std::string temporary = dir + "/" + (names[0] == "export.html" ? names[1] : names[0]);
    EXPECT_GE(std::filesystem::file_size(temporary) + 256 * 1024, expected.size());
    ASSERT_TRUE(writer.commit());
  }
  EXPECT_EQ(readFile(path), expected);
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"export.html"}));

  {
    AtomicFileWriter abandoned(path);
    abandoned.append(std::string(300 * 1024, 'y'));
  }
  EXPECT_EQ(readFile(path), expected);
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"export.html"}));

  AtomicFileWriter nowhere(dir + "/missing/file");
  EXPECT_FALSE(nowhere.good());
  EXPECT_FALSE(nowhere.append("data"));
  Error error;
  EXPECT_FALSE(nowhere.commit(&error));
  EXPECT_EQ(error.code(), kFileNoSuchFileError);
}

TEST(FileManagerWrite, ReadersNeverSeeAPartialFile) {
  std::string path = makeTempDir() + "/payload";
  const std::string a(256 * 1024, 'a'), b(512 * 1024, 'b');
  ASSERT_TRUE(FileManager::writeFileAtomically(path, a));
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!stop) {
      auto text = FileManager::readFile(path);
      if (!text) continue;
      ++reads;
      if (*text != a && *text != b) ++torn;
    }
  });
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(FileManager::writeFileAtomically(path, i % 2 ? a : b));
  stop = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

TEST(FileManagerWrite, PlainWriteTruncatesAndAppliesMode) {
  std::string path = makeTempDir() + "/plain";
  ASSERT_TRUE(FileManager::writeFile(path, std::string_view("long contents"), false, 0600));
  ASSERT_TRUE(FileManager::writeFile(path, Data{'x'}, false, 0644));
  EXPECT_EQ(readFile(path), "x");
  EXPECT_EQ(modeOf(path), 0644u);
}

// What Kesto writes holds the user's library: without a mode asked for, files and folders are
// the user's alone, and a private file is made new (never through something already there).
TEST(FileManagerWrite, FilesAndFoldersArePrivateUnlessAskedOtherwise) {
  std::string dir = makeTempDir();
  mode_t oldMask = ::umask(0);
  EXPECT_TRUE(FileManager::writeFile(dir + "/a", std::string_view("x")));
  EXPECT_TRUE(FileManager::writeFile(dir + "/b", std::string_view("x"), false));
  EXPECT_TRUE(FileManager::createDirectory(dir + "/c/d", true));
  int fd = FileManager::createPrivateFile(dir + "/e");
  ::umask(oldMask);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(modeOf(dir + "/a"), 0600u);
  EXPECT_EQ(modeOf(dir + "/b"), 0600u);
  EXPECT_EQ(modeOf(dir + "/c"), 0700u);
  EXPECT_EQ(modeOf(dir + "/c/d"), 0700u);
  EXPECT_EQ(modeOf(dir + "/e"), 0600u);

  Error error;
  EXPECT_EQ(FileManager::createPrivateFile(dir + "/e", 0, &error), -1);
  EXPECT_EQ(error.code(), kFileWriteFileExistsError);
  ASSERT_EQ(::symlink((dir + "/elsewhere").c_str(), (dir + "/link").c_str()), 0);
  EXPECT_EQ(FileManager::createPrivateFile(dir + "/link"), -1);
  EXPECT_FALSE(FileManager::fileExists(dir + "/elsewhere"));
}

TEST(FileManagerWrite, WholeBuffersReachThePipeAndBadDescriptorsFail) {
  // Far more than a pipe holds, so the writer sees partial writes while the reader drains it.
  std::string payload(1 << 20, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 % 251);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  auto received = std::async(std::launch::async, [fd = fds[0]] {
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return got;
  });
  EXPECT_TRUE(FileManager::writeAll(fds[1], payload.data(), payload.size()));
  EXPECT_TRUE(FileManager::writeAll(fds[1], payload.data(), 0));
  ::close(fds[1]);
  EXPECT_EQ(received.get(), payload);

  const int readOnly = ::open(makeTempDir().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(readOnly, 0);
  errno = 0;
  EXPECT_FALSE(FileManager::writeAll(readOnly, "x", 1));
  EXPECT_EQ(errno, EBADF);
  ::close(readOnly);
}

TEST(FileManagerRead, BoundedReadRefusesLargerFiles) {
  std::string dir = makeTempDir();
  writeFile(dir + "/f", std::string(100, 'z'));
  Error error;
  EXPECT_FALSE(FileManager::readFile(dir + "/f", 99, &error));
  EXPECT_EQ(error.code(), kFileReadTooLargeError);
  EXPECT_EQ(FileManager::readFile(dir + "/f", 100)->size(), 100u);
  EXPECT_EQ(FileManager::contentsAtPath(dir + "/f")->size(), 100u);
  EXPECT_FALSE(FileManager::readFile(dir + "/none", UINT64_MAX, &error));
  EXPECT_EQ(error.code(), kFileReadNoSuchFileError);
  EXPECT_FALSE(FileManager::readFile(dir));  // a folder is not a file
}

// Reads `path` on another thread; a read that has not ended after ten seconds is released by
// opening the FIFO for writing, so a regression fails instead of hanging the suite.
std::optional<std::string> readWithDeadline(const std::string& path, Error* error, bool* blocked) {
  auto reading = std::async(std::launch::async, [path, error] {
    return FileManager::readFile(path, 1 << 20, error);
  });
  *blocked = reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready;
  if (*blocked) {
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }
  return reading.get();
}

TEST(FileManagerRead, SpecialFilesAreRefusedWithoutWaiting) {
  std::string dir = makeTempDir();
  std::string fifo = dir + "/kesto.xml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Error error;
  bool blocked = false;
  EXPECT_FALSE(readWithDeadline(fifo, &error, &blocked));
  EXPECT_FALSE(blocked) << "reading a FIFO waited for a writer";
  EXPECT_EQ(error.domain(), kCocoaErrorDomain);
  EXPECT_EQ(error.code(), kFileReadUnknownError);
  EXPECT_FALSE(FileManager::contentsAtPath(fifo));

  // A link to an endless device is no file either, whatever its name.
  ASSERT_EQ(::symlink("/dev/zero", (dir + "/import.html").c_str()), 0);
  error = Error();
  EXPECT_FALSE(FileManager::readFile(dir + "/import.html", UINT64_MAX, &error));
  EXPECT_EQ(error.code(), kFileReadUnknownError);

  // A link to a regular file still reads.
  writeFile(dir + "/real.txt", "text");
  ASSERT_EQ(::symlink("real.txt", (dir + "/alias.txt").c_str()), 0);
  EXPECT_EQ(FileManager::readFile(dir + "/alias.txt").value_or(""), "text");
}

TEST(FileManagerFolders, CreateWithAndWithoutIntermediates) {
  std::string dir = makeTempDir();
  Error error;
  EXPECT_FALSE(FileManager::createDirectory(dir + "/a/b", false, 0755, &error));
  EXPECT_TRUE(FileManager::createDirectory(dir + "/a/b", true, 0700));
  EXPECT_EQ(modeOf(dir + "/a"), 0700u);
  EXPECT_TRUE(FileManager::createDirectory(dir + "/a/b", true));  // existing is fine
  EXPECT_FALSE(FileManager::createDirectory(dir + "/a/b", false, 0755, &error));
  EXPECT_EQ(error.code(), kFileWriteFileExistsError);
  writeFile(dir + "/file", "x");
  EXPECT_FALSE(FileManager::createDirectory(dir + "/file/sub", true));

  bool isDir = false;
  EXPECT_TRUE(FileManager::fileExists(dir + "/a", &isDir));
  EXPECT_TRUE(isDir);
  EXPECT_TRUE(FileManager::fileExists(dir + "/file", &isDir));
  EXPECT_FALSE(isDir);
  EXPECT_FALSE(FileManager::fileExists(dir + "/nothing"));
}

TEST(FileManagerTree, CopyIsRecursiveKeepsLinksAndNeverOverwrites) {
  std::string dir = makeTempDir();
  std::string src = dir + "/package.kesto";
  ASSERT_TRUE(FileManager::createDirectory(src + "/Contents/Images", true));
  writeFile(src + "/Contents/data.xml", "<xml/>");
  writeFile(src + "/Contents/Images/a.png", "png");
  ::chmod((src + "/Contents/data.xml").c_str(), 0600);
  ASSERT_EQ(::symlink("data.xml", (src + "/Contents/link").c_str()), 0);

  ASSERT_TRUE(FileManager::copyItem(src, dir + "/copy.kesto"));
  EXPECT_EQ(readFile(dir + "/copy.kesto/Contents/data.xml"), "<xml/>");
  EXPECT_EQ(readFile(dir + "/copy.kesto/Contents/Images/a.png"), "png");
  EXPECT_EQ(modeOf(dir + "/copy.kesto/Contents/data.xml"), 0600u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/copy.kesto/Contents/link"));
  EXPECT_EQ(std::filesystem::read_symlink(dir + "/copy.kesto/Contents/link"), "data.xml");

  Error error;
  writeFile(dir + "/existing", "keep me");
  EXPECT_FALSE(FileManager::copyItem(src, dir + "/existing", &error));
  EXPECT_EQ(error.code(), kFileWriteFileExistsError);
  EXPECT_EQ(readFile(dir + "/existing"), "keep me");

  // Replacing swaps a whole folder in.
  ASSERT_TRUE(FileManager::replaceItemWithCopy(dir + "/existing", dir + "/copy.kesto"));
  EXPECT_EQ(readFile(dir + "/copy.kesto"), "keep me");
  auto names = namesIn(dir);
  EXPECT_EQ(names, (std::vector<std::string>{"copy.kesto", "existing", "package.kesto"}));
}

TEST(FileManagerTree, RemoveDeletesTreesButNotWhatLinksPointTo) {
  std::string dir = makeTempDir();
  std::string outside = makeTempDir("outside");
  writeFile(outside + "/precious", "data");
  ASSERT_TRUE(FileManager::createDirectory(dir + "/tree/sub", true));
  ASSERT_EQ(::symlink(outside.c_str(), (dir + "/tree/sub/link").c_str()), 0);
  ASSERT_TRUE(FileManager::removeItem(dir + "/tree"));
  EXPECT_FALSE(FileManager::fileExists(dir + "/tree"));
  EXPECT_EQ(readFile(outside + "/precious"), "data");

  Error error;
  EXPECT_FALSE(FileManager::removeItem(dir + "/tree", &error));
  EXPECT_EQ(error.code(), kFileNoSuchFileError);
}

TEST(FileManagerTree, MoveRefusesToOverwrite) {
  std::string dir = makeTempDir();
  writeFile(dir + "/a", "A");
  writeFile(dir + "/b", "B");
  Error error;
  EXPECT_FALSE(FileManager::moveItem(dir + "/a", dir + "/b", &error));
  EXPECT_EQ(readFile(dir + "/b"), "B");
  EXPECT_TRUE(FileManager::moveItem(dir + "/a", dir + "/c"));
  EXPECT_FALSE(FileManager::fileExists(dir + "/a"));
  EXPECT_EQ(readFile(dir + "/c"), "A");
  EXPECT_TRUE(FileManager::renameItem(dir + "/c", dir + "/b"));  // rename replaces
  EXPECT_EQ(readFile(dir + "/b"), "A");
}

TEST(FileManagerListing, RecursiveListingIsRelativeSortedAndDoesNotFollowLinks) {
  std::string dir = makeTempDir();
  ASSERT_TRUE(FileManager::createDirectory(dir + "/b/c", true));
  writeFile(dir + "/a.txt", "1");
  writeFile(dir + "/b/c/d.txt", "22");
  writeFile(dir + "/.hidden", "");
  ASSERT_EQ(::symlink("..", (dir + "/b/loop").c_str()), 0);  // would trap a walk that follows links

  auto all = FileManager::subpathsOfDirectory(dir);
  ASSERT_TRUE(all);
  EXPECT_EQ(*all, (std::vector<std::string>{".hidden", "a.txt", "b", "b/c", "b/c/d.txt", "b/loop"}));
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{".hidden", "a.txt", "b"}));
  EXPECT_EQ(*FileManager::contentsOfDirectory(dir, true), (std::vector<std::string>{"a.txt", "b"}));
  EXPECT_EQ(FileManager::sizeOfItem(dir), 3u);
  EXPECT_FALSE(FileManager::contentsOfDirectory(dir + "/a.txt"));
  EXPECT_FALSE(FileManager::subpathsOfDirectory(dir + "/none"));
}

TEST(FileManagerAttributes, SizeKindAndModificationDate) {
  std::string dir = makeTempDir();
  writeFile(dir + "/f", "12345");
  auto attrs = FileManager::attributesOfItem(dir + "/f");
  ASSERT_TRUE(attrs);
  EXPECT_EQ(attrs->size, 5u);
  EXPECT_TRUE(attrs->isRegularFile);
  EXPECT_FALSE(attrs->isDirectory);
  EXPECT_LT(std::abs(attrs->creationDate.timeIntervalSinceNow()), 60.0);

  Date when = Date::withTimeIntervalSince1970(1393669230.5);
  ASSERT_TRUE(FileManager::setModificationDate(dir + "/f", when));
  EXPECT_NEAR(FileManager::attributesOfItem(dir + "/f")->modificationDate.timeIntervalSince1970(), 1393669230.5, 1e-3);

  ASSERT_EQ(::symlink("f", (dir + "/l").c_str()), 0);
  EXPECT_TRUE(FileManager::attributesOfItem(dir + "/l")->isSymbolicLink);
  EXPECT_TRUE(FileManager::attributesOfItem(dir)->isDirectory);
  EXPECT_FALSE(FileManager::attributesOfItem(dir + "/none"));
}

TEST(FileManagerTemporary, FilesAreUniqueAndPrivate) {
  std::string dir = makeTempDir();
  std::string a = FileManager::createTemporaryFile("upload", ".zip", dir);
  std::string b = FileManager::createTemporaryFile("upload", ".zip", dir);
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(FileManager::pathExtension(a), "zip");
  EXPECT_EQ(modeOf(a), 0600u);
  std::string folder = FileManager::createTemporaryDirectory("work", dir);
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_NE(FileManager::uniqueName(), FileManager::uniqueName());
}

TEST(FileManagerPaths, ComponentHelpers) {
  EXPECT_EQ(FileManager::lastPathComponent("/a/b.kesto/"), "b.kesto");
  EXPECT_EQ(FileManager::lastPathComponent("/"), "/");
  EXPECT_EQ(FileManager::pathExtension("/a/archive.tar.gz"), "gz");
  EXPECT_EQ(FileManager::pathExtension("/a/.hidden"), "");
  EXPECT_EQ(FileManager::pathExtension("/a.d/file"), "");
  EXPECT_EQ(FileManager::deletingLastPathComponent("/a/b"), "/a");
  EXPECT_EQ(FileManager::deletingLastPathComponent("/a"), "/");
  EXPECT_EQ(FileManager::deletingLastPathComponent("file"), "");
}
