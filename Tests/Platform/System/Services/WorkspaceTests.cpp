#include "Platform/System/URLSchemeRegistration.h"
#include "Platform/System/Workspace.h"

#include "Harness/AnswerTable.h"
#include "Harness/RecordedLaunches.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/System/DesktopEntry_p.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using kesto::sys::Workspace;

namespace {

// Records launches instead of starting programs; desktop entries come only from the test home.
class WorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_DIRS", kesto::test::makeTempDir("systemdata").c_str(), 1);
  }

  static std::string applications() {
    std::string dir = std::string(std::getenv("XDG_DATA_HOME")) + "/applications";
    kesto::fnd::FileManager::createDirectory(dir, true);
    return dir;
  }
  static void entry(const std::string& name, const std::string& exec) {
    kesto::test::writeFile(applications() + "/" + name,
                           "[Desktop Entry]\nType=Application\nName=B\nExec=" + exec + "\n[Desktop Action new]\nExec=other\n");
  }

  kesto::test::RecordedLaunches launches;
};

}  // namespace

TEST_F(WorkspaceTest, OpensAddressesWithTheDesktopDefault) {
  EXPECT_TRUE(Workspace::openURL("https://example.com/a?b=c d"));
  EXPECT_TRUE(Workspace::openURL("mailto:someone@example.com"));
  ASSERT_EQ(launches.size(), 2u);
  EXPECT_EQ(launches[0].program, "xdg-open");
  EXPECT_EQ(launches[0].arguments, std::vector<std::string>{"https://example.com/a?b=c d"});
}

TEST_F(WorkspaceTest, RefusesTextThatIsNotAURLOrLooksLikeAnOption) {
  for (const std::string& bad : std::vector<std::string>{"", "--help", "-http://x", "no scheme here", ":nothing", "1http://x",
                                "http://a\nb", std::string("http://a\0b", 10)})
    EXPECT_FALSE(Workspace::openURL(bad)) << bad;
  EXPECT_TRUE(launches.empty());
}

TEST_F(WorkspaceTest, NamedBrowsersResolveThroughDesktopEntries) {
  EXPECT_FALSE(Workspace::isBrowserInstalled("org.mozilla.firefox"));
  EXPECT_FALSE(Workspace::openURLs({"https://a.com"}, "org.mozilla.firefox"));

  entry("firefox-esr.desktop", "firefox-esr %u");
  entry("chromium.desktop", "\"/opt/my browser/chromium\" --new-window %U");
  entry("opera.desktop", "opera");
  entry("safari.desktop", "safari %u");

  EXPECT_TRUE(Workspace::isBrowserInstalled("org.mozilla.firefox"));
  EXPECT_FALSE(Workspace::isBrowserInstalled("com.apple.Safari")) << "never on this desktop";
  EXPECT_FALSE(Workspace::isBrowserInstalled("com.example.Unknown"));

  ASSERT_TRUE(Workspace::openURLs({"https://a.com", "not a url", "https://b.com"}, "com.google.Chrome"));
  ASSERT_EQ(launches.size(), 1u) << "all addresses in one launch";
  EXPECT_EQ(launches[0].program, "/opt/my browser/chromium");
  EXPECT_EQ(launches[0].arguments, (std::vector<std::string>{"--new-window", "https://a.com", "https://b.com"}));

  ASSERT_TRUE(Workspace::openURLs({"https://a.com"}, "org.mozilla.firefox"));
  EXPECT_EQ(launches[1].program, "firefox-esr");
  ASSERT_TRUE(Workspace::openURLs({"https://a.com"}, "com.operasoftware.Opera"));
  EXPECT_EQ(launches[2].arguments, std::vector<std::string>{"https://a.com"}) << "appended without a field code";

  EXPECT_FALSE(Workspace::openURLs({"--remote-debugging-port=1"}, "com.google.Chrome"));
  EXPECT_EQ(launches.size(), 3u);
}

// A message is told as taken only when the mail helper took it: one that ends in failure
// (xdg-email's "no method available", 3, where no mail program is set) or that is not there at
// all is told as not taken. The answer comes on the main queue, never inside the call.
TEST_F(WorkspaceTest, AMessageNoMailProgramTakesIsToldAsNotTaken) {
  Workspace::setLauncher(nullptr);  // the real programs: stand-ins on a PATH of the test's own
  const std::string bin = kesto::test::makeTempDir("bin");
  const char* path = std::getenv("PATH");
  const std::string savedPath = path ? path : "";
  setenv("PATH", bin.c_str(), 1);
  auto helper = [&](const std::string& name, int status) {
    kesto::test::writeFile(bin + "/" + name, "#!/bin/sh\nexit " + std::to_string(status) + "\n");
    ::chmod((bin + "/" + name).c_str(), 0755);
  };
  auto compose = [&]() -> std::optional<bool> {
    std::optional<bool> taken;
    EXPECT_TRUE(Workspace::composeEmail("mailto:?subject=a", [&](bool t) { taken = t; }));
    EXPECT_FALSE(taken) << "told inside the call";
    EXPECT_TRUE(kesto::test::runUntil([&] { return taken.has_value(); }, 30));
    return taken;
  };
  EXPECT_EQ(compose(), false) << "neither xdg-email nor xdg-open there";
  helper("xdg-open", 0);
  EXPECT_EQ(compose(), true) << "without xdg-email, the desktop default took it";
  helper("xdg-email", 3);
  EXPECT_EQ(compose(), false) << "xdg-email found no mail program";
  helper("xdg-email", 0);
  EXPECT_EQ(compose(), true);
  setenv("PATH", savedPath.c_str(), 1);
}

TEST_F(WorkspaceTest, SchemeRegistrationWritesTheDesktopEntryAndAsksXdgMime) {
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", "/opt/Kesto $app/kesto"));
  std::string path = kesto::sys::urlSchemeDesktopEntryPath();
  EXPECT_EQ(path, std::string(std::getenv("XDG_DATA_HOME")) + "/applications/kesto-handler.desktop");
  std::string text = kesto::test::readFile(path);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=\"/opt/Kesto \\\\$app/kesto\" %u\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nMimeType=x-scheme-handler/kesto;\n"), std::string::npos);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].program, "xdg-mime");
  EXPECT_EQ(launches[0].arguments,
            (std::vector<std::string>{"default", "kesto-handler.desktop", "x-scheme-handler/kesto"}));

  // The outcome of xdg-mime is ignored: a failing launcher still leaves a registered entry.
  Workspace::setLauncher([](const std::string&, const std::vector<std::string>&) { return false; });
  EXPECT_TRUE(kesto::sys::registerURLSchemeHandler());
  EXPECT_FALSE(kesto::sys::registerURLSchemeHandler("bad scheme"));
  EXPECT_FALSE(kesto::sys::registerURLSchemeHandler("kesto", "", "../escape"));
}

TEST_F(WorkspaceTest, AnInstalledProgramLeavesTheSchemeToItsInstalledEntry) {
  const std::string prefix = kesto::test::makeTempDir("prefix");
  kesto::fnd::FileManager::createDirectory(prefix + "/bin", true);
  kesto::fnd::FileManager::createDirectory(prefix + "/share/applications", true);
  // Installed where the desktop looks, its program in place.
  setenv("XDG_DATA_DIRS", (prefix + "/share").c_str(), 1);
  kesto::test::writeFile(prefix + "/bin/kesto", "#!/bin/sh\n");
  ::chmod((prefix + "/bin/kesto").c_str(), 0755);
  const std::string installed = prefix + "/share/applications/kesto.desktop";
  const std::string own = kesto::sys::urlSchemeDesktopEntryPath();
  // Run from a build folder first: the hidden entry of ours is written.
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", prefix + "/bin/kesto"));
  ASSERT_NE(kesto::test::readFile(own).find("NoDisplay=true"), std::string::npos);
  // An installed entry for another scheme is not the handler.
  const std::string exec = "\nExec=" + kesto::sys::detail::desktopExecArgument(prefix + "/bin/kesto") + " %u\n";
  kesto::test::writeFile(installed, "[Desktop Entry]\nType=Application\nName=Kesto" + exec + "MimeType=text/html;\n");
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", prefix + "/bin/kesto"));
  EXPECT_NE(kesto::test::readFile(own), "");

  kesto::test::writeFile(installed, "[Desktop Entry]\nType=Application\nName=Kesto" + exec + "MimeType=x-scheme-handler/kesto;\n");
  launches.clear();
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", prefix + "/bin/kesto"));
  EXPECT_EQ(kesto::test::readFile(own), "") << "the hidden entry would hide the installed one";
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].arguments, (std::vector<std::string>{"default", "kesto.desktop", "x-scheme-handler/kesto"}));
  // An entry the user wrote by hand is theirs to keep.
  kesto::test::writeFile(own, "[Desktop Entry]\nType=Application\nName=My Kesto\nExec=kesto %u\n");
  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", prefix + "/bin/kesto"));
  EXPECT_NE(kesto::test::readFile(own), "");
}

// What desktop-file-validate says of the entry written for `executable` (empty: it is valid).
static std::string validationProblems(const std::string& executable) {
  if (!kesto::sys::registerURLSchemeHandler("kesto", executable)) return "not written";
  const auto [rc, text] = kesto::test::runProgram({"desktop-file-validate", kesto::sys::urlSchemeDesktopEntryPath()});
  return rc == 0 && text.find("error") == std::string::npos ? std::string() : text + " (rc " + std::to_string(rc) + ")";
}

TEST_F(WorkspaceTest, TheExecPathIsQuotedOnlyWhenItMustBe) {
  auto execOf = [](const std::string& executable) {
    kesto::sys::registerURLSchemeHandler("kesto", executable);
    std::string text = kesto::test::readFile(kesto::sys::urlSchemeDesktopEntryPath());
    auto at = text.find("\nExec=");
    return text.substr(at + 6, text.find('\n', at + 1) - at - 6);
  };
  // A plain path stands bare: generic xdg-open would take the quotes as part of the name.
  EXPECT_EQ(execOf("/usr/lib/kesto/bin/kesto-1.2_x+y=z"), "/usr/lib/kesto/bin/kesto-1.2_x+y=z %u");
  // A percent sign is doubled with or without quotes.
  EXPECT_EQ(execOf("/opt/100%/kesto"), "/opt/100%%/kesto %u");
  EXPECT_EQ(execOf("/opt/my apps/kesto"), "\"/opt/my apps/kesto\" %u");
  EXPECT_EQ(execOf("/opt/it's/kesto"), "\"/opt/it's/kesto\" %u");
  EXPECT_EQ(execOf("/opt/~a/kesto"), "\"/opt/~a/kesto\" %u");
  // Quote, backquote and backslash inside quotes; the backslash then doubled by the value's
  // own escaping, so a literal backslash takes four.
  EXPECT_EQ(execOf("/opt/a\"b`c/kesto"), "\"/opt/a\\\\\"b\\\\`c/kesto\" %u");
  EXPECT_EQ(execOf("/opt/a\\b/kesto"), "\"/opt/a\\\\\\\\b/kesto\" %u");
  EXPECT_EQ(execOf("/opt/a\nb/kesto"), "/opt/ab/kesto %u") << "a line break cannot be carried";

  if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "desktop-file-validate is not installed";
  for (const char* path : {"/usr/bin/kesto", "/opt/my apps/kesto", "/opt/100%/kesto", "/opt/a\\b $c/kesto",
                           "/opt/a\"b`c/kesto"})
    EXPECT_EQ(validationProblems(path), "") << path;
}

// Addresses come from peers and archives: web pages open at once, other schemes are asked
// about, and the desktop opener is never handed a program to start.
TEST_F(WorkspaceTest, WebPagesOpenOtherSchemesAreAskedAboutAndProgramsNever) {
  using Policy = Workspace::OpenPolicy;
  kesto::test::expectAnswers<std::string, Policy>(Workspace::policyForURL,
                                                  {{"https://example.com/", Policy::Browser},
                                                   {"HTTP://example.com/", Policy::Browser},
                                                   {"javascript:alert(1)", Policy::AskFirst},
                                                   {"mailto:a@example.com", Policy::AskFirst}});
  EXPECT_EQ(Workspace::schemeOf("JavaScript:alert(1)"), "javascript");

  const std::string dir = kesto::test::makeTempDir("files");
  kesto::test::writeFile(dir + "/notes.txt", "plain text");
  kesto::test::writeFile(dir + "/x.desktop", "[Desktop Entry]\nType=Application\nExec=xterm\n");
  kesto::test::writeFile(dir + "/entry.txt", "[Desktop Entry]\nType=Application\nExec=xterm\n");
  kesto::test::writeFile(dir + "/tool", "\x7f" "ELF");
  ::chmod((dir + "/tool").c_str(), 0755);
  kesto::test::writeFile(dir + "/run-me", "#!/bin/sh\necho hi\n");
  ASSERT_EQ(::symlink((dir + "/x.desktop").c_str(), (dir + "/harmless.pdf").c_str()), 0);

  EXPECT_EQ(Workspace::policyForURL("file://" + dir + "/notes.txt"), Policy::AskFirst);
  for (const std::string& url : std::vector<std::string>
       {"file://" + dir + "/x.desktop", "file://" + dir + "/X.DESKTOP", "file://" + dir + "/entry.txt",
        "file://" + dir + "/tool", "file://" + dir + "/run-me", "file://" + dir + "/harmless.pdf",
        "file://" + dir + "/x%2Edesktop", "file://" + dir + "/missing.desktop", std::string("file://evil.example/share/x.pdf"),
        std::string("file:relative.txt")}) {
    EXPECT_EQ(Workspace::policyForURL(url), Policy::Refused) << url;
    EXPECT_FALSE(Workspace::openURL(url)) << url;
    EXPECT_FALSE(Workspace::openURLs({url}, "org.mozilla.firefox")) << url;
  }
  EXPECT_TRUE(launches.empty());
  // The opener gets the local path that was checked, not an address it might read otherwise.
  EXPECT_TRUE(Workspace::openURL("file://localhost" + dir + "/notes.txt?x#y"));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].arguments, std::vector<std::string>{dir + "/notes.txt"});
}

// The opener cuts the query and fragment before it decodes; a check that decodes first looks at
// another file than the one opened.
TEST_F(WorkspaceTest, FileAddressesAreReadAsTheOpenerReadsThem) {
  using Policy = Workspace::OpenPolicy;
  const std::string dir = kesto::test::makeTempDir("opener");
  const std::string entry = "[Desktop Entry]\nType=Application\nExec=xterm\n";
  kesto::test::writeFile(dir + "/x#.desktop", entry);
  kesto::test::writeFile(dir + "/x", "plain");
  // The header after a long comment: still a desktop entry to the desktop's parser.
  std::string late;
  for (int i = 0; i < 400; ++i) late += "# a comment line that pushes the header down\n";
  late += "\n  [Desktop Entry]  \r\nType=Application\nExec=xterm\n";
  kesto::test::writeFile(dir + "/late.txt", late);
  ASSERT_GT(late.size(), 16384u);
  ASSERT_EQ(::symlink((dir + "/late.txt").c_str(), (dir + "/late-link.pdf").c_str()), 0);
  kesto::test::writeFile(dir + "/plain.txt", std::string(100000, 'a') + "\n[Desktop Entries]\n");

  for (const std::string& url : std::vector<std::string>
       {"file://" + dir + "/x%23.desktop", "file://" + dir + "/x%2Edesktop%zz", "file://" + dir + "/x%",
        "file://" + dir + "/late.txt", "file://" + dir + "/late-link.pdf", "file://" + dir + "/x%00.txt",
        "file://" + dir + "/x%0A.txt"}) {
    EXPECT_EQ(Workspace::policyForURL(url), Policy::Refused) << url;
    EXPECT_FALSE(Workspace::openURL(url)) << url;
  }
  EXPECT_TRUE(launches.empty());
  EXPECT_EQ(Workspace::policyForURL("file://" + dir + "/plain.txt"), Policy::AskFirst);
  // Cut at "#" first: the file "x", whatever the fragment says.
  EXPECT_EQ(Workspace::policyForURL("file://" + dir + "/x#.desktop"), Policy::AskFirst);
  EXPECT_TRUE(Workspace::openURL("file://" + dir + "/x#.desktop"));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].arguments, std::vector<std::string>{dir + "/x"});
}

TEST_F(WorkspaceTest, InstalledBrowsersAreTheDesktopEntriesThatHandleWebPages) {
  // The user's entries of the other tests would hide the system's ones of the same id.
  kesto::fnd::FileManager::removeItem(applications());
  EXPECT_TRUE(Workspace::installedBrowsers().empty());
  auto write = [](const std::string& dir, const std::string& name, const std::string& body) {
    kesto::fnd::FileManager::createDirectory(dir, true);
    kesto::test::writeFile(dir + "/" + name, "[Desktop Entry]\n" + body);
  };
  const std::string system = std::string(std::getenv("XDG_DATA_DIRS")) + "/applications";
  write(system, "firefox-esr.desktop",
        "Type=Application\nName=Firefox ESR\nName[de]=Feuerfuchs\nIcon=firefox-esr\nExec=firefox-esr %u\n"
        "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n[Desktop Action x]\nName=Zzz\n");
  write(system, "chromium.desktop",
        "Type=Application\nName=Chromium\nIcon=/usr/share/pixmaps/chromium.png\nExec=chromium %U\n"
        "MimeType=x-scheme-handler/http;\n");
  // Not browsers: an editor that takes http addresses in another key, a hidden one, one
  // without Exec, a link, and a browser the user hid with an entry of the same id.
  write(system, "editor.desktop", "Type=Application\nName=Editor\nExec=ed\nMimeType=text/plain;x-scheme-handler/https;\n");
  write(system, "gone.desktop", "Type=Application\nName=Gone\nHidden=true\nExec=gone\nMimeType=x-scheme-handler/http;\n");
  write(system, "noexec.desktop", "Type=Application\nName=NoExec\nMimeType=x-scheme-handler/http;\n");
  write(system, "site.desktop", "Type=Link\nName=Site\nURL=https://a\nExec=x\nMimeType=x-scheme-handler/http;\n");
  write(system, "opera.desktop", "Type=Application\nName=Opera\nExec=opera\nMimeType=x-scheme-handler/http;\n");
  write(applications(), "opera.desktop", "Type=Application\nName=Opera\nExec=opera\nHidden=true\n");
  // A user's own entry wins over the system's of the same id.
  write(applications(), "chromium.desktop",
        "Type=Application\nName=chromium (mine)\nExec=chromium --incognito %U\nMimeType=x-scheme-handler/http;\n");

  auto browsers = Workspace::installedBrowsers();
  ASSERT_EQ(browsers.size(), 2u);
  EXPECT_EQ(browsers[0].identifier, "chromium.desktop");
  EXPECT_EQ(browsers[0].name, "chromium (mine)") << "ordered by name, whatever the case";
  EXPECT_EQ(browsers[0].icon, "");
  EXPECT_EQ(browsers[1].identifier, "firefox-esr.desktop");
  EXPECT_EQ(browsers[1].name, "Firefox ESR");
  EXPECT_EQ(browsers[1].icon, "firefox-esr");

  // The stored choice is the desktop entry id; it opens with that entry's Exec line.
  ASSERT_TRUE(Workspace::openURLs({"https://a.com"}, "firefox-esr.desktop"));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].program, "firefox-esr");
  ASSERT_TRUE(Workspace::browserForIdentifier("firefox-esr.desktop"));
  EXPECT_EQ(Workspace::browserForIdentifier("firefox-esr.desktop")->name, "Firefox ESR");
  // Older stored bundle identifiers still find their browser.
  ASSERT_TRUE(Workspace::browserForIdentifier("org.mozilla.firefox"));
  EXPECT_EQ(Workspace::browserForIdentifier("org.mozilla.firefox")->identifier, "firefox-esr.desktop");
  // An uninstalled choice, or an id that tries to name a path, resolves to nothing.
  for (const char* id : {"waterfox.desktop", "../applications/firefox-esr.desktop", "/usr/share/x.desktop",
                         ".desktop"}) {
    EXPECT_FALSE(Workspace::browserForIdentifier(id)) << id;
    EXPECT_FALSE(Workspace::openURLs({"https://a.com"}, id)) << id;
  }
  EXPECT_EQ(launches.size(), 1u);
}

// The desktop takes entries from every folder of XDG_DATA_DIRS (Debian's has two at least), a
// later one's as well as the first's: the browsers, a browser by its old name and the installed
// handler of the links.
TEST_F(WorkspaceTest, EntriesInALaterFolderOfTheSearchPathCount) {
  const std::string first = kesto::test::makeTempDir("first share"), second = kesto::test::makeTempDir("second share");
  setenv("XDG_DATA_DIRS", (first + ":" + second).c_str(), 1);
  kesto::fnd::FileManager::createDirectory(first + "/applications", true);
  kesto::test::writeFile(first + "/applications/editor.desktop", "[Desktop Entry]\nType=Application\nName=Editor\nExec=ed\n");
  kesto::fnd::FileManager::createDirectory(second + "/applications", true);
  kesto::test::writeFile(second + "/applications/firefox-esr.desktop",
                         "[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=firefox-esr %u\n"
                         "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
  const std::string program = kesto::test::makeTempDir("bin") + "/kesto";
  kesto::test::writeFile(program, "#!/bin/sh\n");
  ::chmod(program.c_str(), 0755);
  kesto::test::writeFile(second + "/applications/kesto.desktop",
                         "[Desktop Entry]\nType=Application\nName=Kesto\nExec=" +
                             kesto::sys::detail::desktopExecArgument(program) + " %u\nMimeType=x-scheme-handler/kesto;\n");

  const auto browsers = Workspace::installedBrowsers();
  ASSERT_EQ(browsers.size(), 1u);
  EXPECT_EQ(browsers[0].identifier, "firefox-esr.desktop");
  EXPECT_TRUE(Workspace::isBrowserInstalled("org.mozilla.firefox"));
  ASSERT_TRUE(Workspace::openURLs({"https://a.com"}, "firefox-esr.desktop"));
  EXPECT_EQ(launches.at(0).program, "firefox-esr");

  ASSERT_TRUE(kesto::sys::registerURLSchemeHandler("kesto", program));
  EXPECT_FALSE(kesto::fnd::FileManager::fileExists(kesto::sys::urlSchemeDesktopEntryPath()))
      << "the installed entry handles the links";
  EXPECT_EQ(launches.at(1).arguments, (std::vector<std::string>{"default", "kesto.desktop", "x-scheme-handler/kesto"}));
}
