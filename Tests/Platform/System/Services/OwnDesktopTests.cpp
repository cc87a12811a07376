// The desktop every test runs on is the harness's own. Seen from a test program started on a
// user's desktop (a browser installed for everyone and made the default, the user's own openers
// first on PATH, a desktop and a display announced), the program finds none of it, and what it
// opens goes to the harness's stand-ins, never to a program of the user's.
#include "Platform/System/Workspace.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using kesto::sys::Workspace;

namespace {

// Run only by the test below, in a program started on its made-up desktop.
TEST(OwnDesktop, DISABLED_IsAllATestSees) {
  EXPECT_TRUE(Workspace::installedBrowsers().empty());
  EXPECT_FALSE(Workspace::desktopEntryForBrowser("org.mozilla.firefox"));
  EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
  EXPECT_EQ(std::getenv("XDG_CURRENT_DESKTOP"), nullptr);
  ASSERT_TRUE(Workspace::openURL("https://example.org/page"));
  bool taken = false;
  ASSERT_TRUE(Workspace::composeEmail("mailto:someone@example.org", [&](bool ok) { taken = ok; }));
  auto opened = [](const std::string& line) {
    return kesto::test::readFile(kesto::test::ownDesktopLog()).find(line + "\n") != std::string::npos;
  };
  EXPECT_TRUE(kesto::test::runUntil([&] { return taken && opened("xdg-open https://example.org/page"); }))
      << kesto::test::readFile(kesto::test::ownDesktopLog());
  EXPECT_TRUE(opened("xdg-email mailto:someone@example.org"));
}

TEST(OwnDesktop, ATestStartsNoProgramOfTheUsers) {
  const std::string user = kesto::test::makeTempDir("user desktop");
  const std::string started = user + "/started.log";
  for (const char* folder : {"/bin", "/share/applications", "/xdg"}) std::filesystem::create_directories(user + folder);
  const std::string recorder =
      "#!/bin/sh\nprintf '%s\\n' \"${0##*/} $*\" >>" + kesto::test::shellQuoted(started) + "\n";
  for (const char* program : {"firefox-esr", "xdg-open", "xdg-email", "xdg-mime", "gio", "x-www-browser"}) {
    const std::string path = user + "/bin/" + program;
    kesto::test::writeFile(path, recorder);
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
  }
  kesto::test::writeFile(user + "/share/applications/firefox-esr.desktop",
                         "[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=" + user +
                             "/bin/firefox-esr %u\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
  const std::string defaults =
      "[Default Applications]\nx-scheme-handler/http=firefox-esr.desktop\nx-scheme-handler/https=firefox-esr.desktop\n";
  kesto::test::writeFile(user + "/share/applications/defaults.list", defaults);
  kesto::test::writeFile(user + "/share/applications/mimeapps.list", defaults);
  kesto::test::writeFile(user + "/xdg/mimeapps.list", defaults);
  kesto::test::writeFile(user + "/xdg/gnome-mimeapps.list", defaults);

  const char* path = std::getenv("PATH");
  std::vector<std::string> command = {"env",
                                      "-u",
                                      "E2E_HOME",
                                      "XDG_DATA_DIRS=" + user + "/share",
                                      "XDG_CONFIG_DIRS=" + user + "/xdg",
                                      "PATH=" + user + "/bin:" + (path ? path : ""),
                                      "BROWSER=" + user + "/bin/firefox-esr",
                                      "XDG_CURRENT_DESKTOP=GNOME",
                                      "DISPLAY=:0"};
  for (const auto& word : kesto::test::selfTestArguments("OwnDesktop.DISABLED_IsAllATestSees")) command.push_back(word);
  command.push_back("--gtest_also_run_disabled_tests");
  const auto [status, output] = kesto::test::runProgram(command);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  EXPECT_EQ(kesto::test::readFile(started), "") << "a program of the user's was started";
}

}  // namespace
