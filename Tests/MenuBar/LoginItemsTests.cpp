#include "MenuBar/LoginItemController.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/System/LoginItems.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace kesto::test {
namespace {

std::string readFile(const std::string& path) { return fnd::FileManager::readFile(path).value_or(""); }

class LoginItems : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fnd::FileManager::createTemporaryDirectory("kesto-login");
    program = folder + "/Kesto App/kesto";
    fnd::FileManager::createDirectory(folder + "/Kesto App", true);
    std::ofstream(program) << "#!/bin/sh\n";
    systemDirs = folder + "/xdg";
    setenv("XDG_CONFIG_DIRS", systemDirs.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_DIRS");
    fnd::FileManager::removeItem(folder);
  }
  std::string folder, program, systemDirs;
};

TEST_F(LoginItems, TheSwitchWritesAndRemovesAValidAutostartEntry) {
  LoginItemController controller(program);
  EXPECT_FALSE(controller.launchAtLogin());
  ASSERT_TRUE(controller.setLaunchAtLogin(true));
  EXPECT_TRUE(controller.launchAtLogin());
  const std::string entry = readFile(sys::LoginItems::autostartEntryPath());
  EXPECT_NE(entry.find("Exec=\"" + program + "\""), std::string::npos) << entry;  // quoted: the path has a space
  // The user's alone, as every file Kesto writes.
  struct stat st {};
  ASSERT_EQ(::stat(sys::LoginItems::autostartEntryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Switching on again adds nothing.
  ASSERT_TRUE(controller.setLaunchAtLogin(true));
  EXPECT_EQ(readFile(sys::LoginItems::autostartEntryPath()), entry);
  if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
    const auto [status, said] = runProgram({"desktop-file-validate", sys::LoginItems::autostartEntryPath()});
    EXPECT_EQ(status, 0) << said;
  }
  // Another copy of the program at another path is another item.
  EXPECT_FALSE(LoginItemController(folder + "/elsewhere/kesto").launchAtLogin());
  ASSERT_TRUE(controller.setLaunchAtLogin(false));
  EXPECT_FALSE(controller.launchAtLogin());
  EXPECT_FALSE(fnd::FileManager::fileExists(sys::LoginItems::autostartEntryPath()));
}

TEST_F(LoginItems, ASystemWideEntryIsTurnedOffByAHiddenUserCopy) {
  fnd::FileManager::createDirectory(systemDirs + "/autostart", true);
  std::ofstream(systemDirs + "/autostart/kesto.desktop")
      << "[Desktop Entry]\nType=Application\nName=Kesto\nExec=\"" << program << "\" --quiet\n";
  LoginItemController controller(program);
  EXPECT_TRUE(controller.launchAtLogin());
  ASSERT_TRUE(controller.setLaunchAtLogin(false));
  EXPECT_FALSE(controller.launchAtLogin());
  EXPECT_NE(readFile(sys::LoginItems::autostartEntryPath()).find("Hidden=true"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(sys::LoginItems::autostartEntryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the hidden copy too
  ASSERT_TRUE(controller.setLaunchAtLogin(true));
  EXPECT_TRUE(controller.launchAtLogin());
  EXPECT_EQ(readFile(sys::LoginItems::autostartEntryPath()).find("Hidden=true"), std::string::npos);
}

}  // namespace
}  // namespace kesto::test
