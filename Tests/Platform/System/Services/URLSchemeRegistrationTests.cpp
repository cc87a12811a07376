#include "Platform/System/URLSchemeRegistration.h"

#include "Harness/RecordedLaunches.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/System/DesktopEntry_p.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kBuildProgram = "/home/a/kesto/build/Source/App/kesto";

// A desktop of the test's own: the user's folder ($XDG_DATA_HOME) and one system folder, with an
// installed program to name; xdg-mime is recorded, never run.
class SchemeHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = kesto::test::makeTempDir("system share");
    setenv("XDG_DATA_DIRS", system_.c_str(), 1);
    program_ = kesto::test::makeTempDir("it's a prefix") + "/kesto";
    kesto::test::writeFile(program_, "#!/bin/sh\n");
    ::chmod(program_.c_str(), 0755);
  }

  static std::string userFolder() { return std::string(std::getenv("XDG_DATA_HOME")) + "/applications"; }
  std::string systemFolder() const { return system_ + "/applications"; }
  static std::string hidden() { return kesto::sys::urlSchemeDesktopEntryPath(); }

  // Writes a desktop entry into `folder`; answers its text.
  static std::string put(const std::string& folder, const std::string& name, const std::string& text) {
    kesto::fnd::FileManager::createDirectory(folder, true);
    kesto::test::writeFile(folder + "/" + name, text);
    return text;
  }
  // The menu entry an install writes, starting `program` (quoted as the install quotes it).
  static std::string installedEntry(const std::string& program, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=Kesto\nGenericName=Bookmark Manager\nExec=" +
           kesto::sys::detail::desktopExecArgument(program) +
           " %u\nIcon=kesto\nTerminal=false\nCategories=Network;\nMimeType=x-scheme-handler/kesto;\n" + extra;
  }
  // The hidden entry as every start so far wrote it, for `program`.
  static std::string hiddenEntry(const std::string& program) {
    return "[Desktop Entry]\nType=Application\nName=Kesto\nExec=" + kesto::sys::detail::desktopExecArgument(program) +
           " %u\nTerminal=false\nNoDisplay=true\nMimeType=x-scheme-handler/kesto;\n";
  }
  // The id xdg-mime was last asked to make the default.
  std::string askedDefault() const {
    return launches.size() == 0 ? "" : launches[launches.size() - 1].arguments.at(1);
  }
  static bool exists(const std::string& path) { return kesto::fnd::FileManager::fileExists(path); }

  std::string system_, program_;
  kesto::test::RecordedLaunches launches;
};

}  // namespace

// Installed into the user's folder or a system folder, the menu entry stays as the install wrote
// it whichever program starts (the build folder's, the installed one), and the hidden entry of an
// earlier start from the build folder goes: nothing stands beside or in front of it.
TEST_F(SchemeHandlerTest, AnInstalledEntryIsLeftAsItIsAndHandlesTheLinks) {
  for (const std::string& folder : {userFolder(), systemFolder()}) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", kBuildProgram));
    ASSERT_TRUE(exists(hidden())) << "nothing installed yet";
    const std::string entry = put(folder, "kesto.desktop", installedEntry(program_));
    for (const std::string& start : {kBuildProgram, program_, kBuildProgram}) {
      ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", start));
      EXPECT_EQ(kesto::test::readFile(folder + "/kesto.desktop"), entry) << start;
      EXPECT_FALSE(exists(hidden())) << start;
      EXPECT_EQ(askedDefault(), "kesto.desktop") << start;
    }
    kesto::fnd::FileManager::removeItem(folder + "/kesto.desktop");
  }
  // An installed handler of another id serves as well, and is the one asked for.
  put(systemFolder(), "org.example.Links.desktop", installedEntry(program_));
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", kBuildProgram));
  EXPECT_FALSE(exists(hidden()));
  EXPECT_EQ(askedDefault(), "org.example.Links.desktop");
}

// Entries the desktop passes over handle nothing: the start writes its hidden entry and asks for
// it, and leaves those entries as they are.
TEST_F(SchemeHandlerTest, EntriesTheDesktopPassesOverLeaveTheLinksToTheHiddenEntry) {
  const std::string exec = "\nExec=" + kesto::sys::detail::desktopExecArgument(program_) + " %u\n";
  const std::vector<std::pair<std::string, std::string>> passedOver{
      {"missing.desktop", installedEntry("/nowhere/bin/kesto")},
      {"tryexec.desktop", installedEntry(program_, "TryExec=/nowhere/kesto\n")},
      {"deleted.desktop", installedEntry(program_, "Hidden=true\n")},
      {"link.desktop", "[Desktop Entry]\nType=Link\nName=K\nURL=x" + exec + "MimeType=x-scheme-handler/kesto;\n"},
      {"other.desktop", "[Desktop Entry]\nType=Application\nName=K" + exec + "MimeType=x-scheme-handler/kestox;\n"}};
  for (const auto& [name, text] : passedOver) put(systemFolder(), name, text);
  // The user's entry deletes the system's of its id.
  put(systemFolder(), "kesto.desktop", installedEntry(program_));
  const std::string deleting = put(userFolder(), "kesto.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");

  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", kBuildProgram));
  EXPECT_EQ(kesto::test::readFile(hidden()), hiddenEntry(kBuildProgram));
  EXPECT_EQ(askedDefault(), "kesto-handler.desktop");
  EXPECT_EQ(kesto::test::readFile(userFolder() + "/kesto.desktop"), deleting);
  for (const auto& [name, text] : passedOver) EXPECT_EQ(kesto::test::readFile(systemFolder() + "/" + name), text) << name;
}

// The hidden entry an older start from a build folder wrote under the installed entry's id goes
// (it would hide an install); one of an installed program, or one changed by hand, stays.
TEST_F(SchemeHandlerTest, OnlyAnOlderBuildFoldersHiddenEntryIsCleanedUp) {
  const std::string older = userFolder() + "/kesto.desktop";
  put(systemFolder(), "kesto.desktop", installedEntry(program_));
  put(userFolder(), "kesto.desktop", hiddenEntry("/home/a/it's my kesto/build/Source/App/kesto"));
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", kBuildProgram));
  EXPECT_FALSE(exists(older));
  EXPECT_FALSE(exists(hidden())) << "the system's entry shows again and handles the links";

  for (const std::string& kept : {hiddenEntry(program_), hiddenEntry(kBuildProgram) + "Icon=kesto\n",
                                  "# mine\n" + hiddenEntry(kBuildProgram)}) {
    put(userFolder(), "kesto.desktop", kept);
    ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", kBuildProgram));
    EXPECT_EQ(kesto::test::readFile(older), kept);
  }
}

// xdg-mime writes the settings file anew (another inode, the program's mode, a link replaced by a
// file): a start asks it only where the desktop's default is not already the entry it would name,
// read as the desktop reads it. The real xdg-mime runs here, to its end, for each start that asks.
TEST_F(SchemeHandlerTest, AStartAsksForTheDefaultOnlyWhereItIsNotAlreadyRight) {
  const std::string xdgMime = "/usr/bin/xdg-mime";
  if (::access(xdgMime.c_str(), X_OK) != 0) GTEST_SKIP() << "xdg-utils is not installed";
  kesto::sys::Workspace::setLauncher([&](const std::string& program, const std::vector<std::string>& arguments) {
    launches.push_back({program, arguments});
    std::vector<std::string> command{xdgMime};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return program == "xdg-mime" && kesto::test::runProgram(command).status == 0;
  });
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  const std::string settings = config + "/mimeapps.list";
  const auto start = [&](const std::string& program) {
    const auto before = launches.size();
    EXPECT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", program));
    return launches.size() != before;
  };

  // The first start makes its hidden entry the default; xdg-mime writes that.
  ASSERT_TRUE(start(kBuildProgram));
  ASSERT_NE(kesto::test::readFile(settings).find("x-scheme-handler/kesto=kesto-handler.desktop"), std::string::npos);
  // Kept in a dotfiles folder, readable by all, beside other programs' lines.
  const std::string dotfiles = kesto::test::makeTempDir("dotfiles") + "/mimeapps.list";
  kesto::test::writeFile(dotfiles, "[Added Associations]\ntext/html=browser.desktop;\n\n" + kesto::test::readFile(settings));
  ::chmod(dotfiles.c_str(), 0644);
  kesto::fnd::FileManager::removeItem(settings);
  ASSERT_EQ(::symlink(dotfiles.c_str(), settings.c_str()), 0);
  struct stat before {}, after {};
  ASSERT_EQ(::stat(dotfiles.c_str(), &before), 0);
  const std::string text = kesto::test::readFile(dotfiles);
  EXPECT_FALSE(start(kBuildProgram)) << "the default was right already";
  struct stat link {};
  ASSERT_EQ(::lstat(settings.c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(::stat(dotfiles.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0644u);
  EXPECT_EQ(kesto::test::readFile(dotfiles), text);

  // The desktop's own list comes first: one naming another installed handler asks, one naming
  // only entries that are not there is passed over.
  setenv("XDG_CURRENT_DESKTOP", "Other:Test", 1);
  // (Not a handler of the links itself: a start would leave them to it.)
  put(systemFolder(), "links.desktop", "[Desktop Entry]\nType=Application\nName=Links\nExec=links %u\n");
  kesto::test::writeFile(config + "/test-mimeapps.list", "[Default Applications]\nx-scheme-handler/kesto=gone.desktop;links.desktop;\n");
  EXPECT_TRUE(start(kBuildProgram));
  EXPECT_EQ(askedDefault(), "kesto-handler.desktop");
  kesto::fnd::FileManager::removeItem(settings);
  kesto::test::writeFile(config + "/test-mimeapps.list", "[Default Applications]\nx-scheme-handler/kesto=gone.desktop;\n");
  // Without a user's list, the system's decide: the data folders' and those of $XDG_CONFIG_DIRS.
  put(systemFolder(), "mimeapps.list", "[Default Applications]\nx-scheme-handler/kesto = kesto-handler.desktop\n");
  EXPECT_FALSE(start(kBuildProgram));
  EXPECT_FALSE(exists(settings));
  const std::string configDir = kesto::test::makeTempDir("config dir");
  setenv("XDG_CONFIG_DIRS", configDir.c_str(), 1);
  kesto::test::writeFile(configDir + "/mimeapps.list", "[Default Applications]\nx-scheme-handler/kesto=links.desktop;\n");
  EXPECT_TRUE(start(kBuildProgram)) << "another handler is the default";
  unsetenv("XDG_CURRENT_DESKTOP");

  // An installed entry that takes the links over is asked for once.
  put(systemFolder(), "kesto.desktop", installedEntry(program_));
  EXPECT_TRUE(start(program_));
  EXPECT_EQ(askedDefault(), "kesto.desktop");
  EXPECT_FALSE(start(program_));
  // Another group's line for the type is not the default.
  kesto::test::writeFile(settings, "[Added Associations]\nx-scheme-handler/kesto=kesto.desktop;\n");
  EXPECT_TRUE(start(program_));
}
