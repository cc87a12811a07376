#include "SyncLibraryFixture.h"
#include "SyncTestSupport.h"

#include "Synchronize/HTMLImport.h"
#include "Model/StoredText.h"
#include "Synchronize/HTMLImportReader.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/TestAccess_p.h"

#include "Model/DataManager.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Predicate.h"

#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace kesto::test {
namespace {

using Parsed = HTMLImport::Parsed;

// The parse as a readable tree: "name" per folder, nested by parent, with its bookmark titles.
struct Tree {
  explicit Tree(const Parsed& p) : parsed(p) {
    for (const auto& f : p.folders) byID[f.folderID.string()] = &f;
  }
  // The folder at `path`; a missing one fails the calling test (at its line) and reads as an
  // empty folder, so that the test goes on to its other checks instead of crashing.
  const FolderDummy* folder(const std::string& path, const std::string& root = "ROOT", const char* file = __builtin_FILE(),
                            int line = __builtin_LINE()) const {
    std::string parent = root;
    const FolderDummy* found = nullptr;
    for (const auto& name : fnd::split(path, "/")) {
      found = nullptr;
      for (const auto& f : parsed.folders)
        if (f.parentFolderID.string() == parent && f.name.string() == name) found = &f;
      if (!found) {
        ADD_FAILURE_AT(file, line) << "no folder \"" << path << "\" was read";
        static const FolderDummy missing = [] {
          FolderDummy f;
          f.folderID = fnd::Value("(missing folder)");
          return f;
        }();
        return &missing;
      }
      parent = found->folderID.string();
    }
    return found;
  }
  std::vector<std::string> titles(const FolderDummy* f) const {
    std::vector<std::string> out;
    for (const auto& b : parsed.bookmarks)
      if (f && b.folderID.string() == f->folderID.string()) out.push_back(b.title.string());
    return out;
  }
  std::vector<std::string> children(const std::string& parentID) const {
    std::vector<std::pair<std::int64_t, std::string>> v;
    for (const auto& f : parsed.folders)
      if (f.parentFolderID.string() == parentID) v.emplace_back(f.orderIndex.intValue(), f.name.string());
    std::sort(v.begin(), v.end());
    std::vector<std::string> out;
    for (auto& [i, n] : v) out.push_back(n);
    return out;
  }
  // The first bookmark titled `title`; as folder(), a missing one fails the calling test.
  const BookmarkDummy* bookmark(const std::string& title, const char* file = __builtin_FILE(),
                                int line = __builtin_LINE()) const {
    for (const auto& b : parsed.bookmarks)
      if (b.title.string() == title) return &b;
    ADD_FAILURE_AT(file, line) << "no bookmark titled \"" << title << "\" was read";
    static const BookmarkDummy missing("", "(missing folder)");
    return &missing;
  }
  const Parsed& parsed;
  std::map<std::string, const FolderDummy*> byID;
};

Parsed parse(std::string_view html, bool skip = false, const std::unordered_set<std::string>& existing = {},
             HTMLImport::FileKind* kind = nullptr) {
  auto p = HTMLImport::parseDocument(html, "ROOT", skip, existing, kind);
  EXPECT_TRUE(p.has_value());
  return p.value_or(Parsed{});
}

// A bookmark file with one link `depth` folders deep.
std::string linkInNestedFolders(int depth) {
  std::string html = "<DL>";
  for (int i = 0; i < depth; ++i) html += "<DT><H3>F</H3><DL>";
  html += "<DT><A HREF=\"https://deep.example/\">deep</A>";
  for (int i = 0; i < depth; ++i) html += "</DL>";
  return html + "</DL>";
}

Parsed parseFixture(const std::string& name, HTMLImport::FileKind* kind = nullptr) {
  auto bytes = readFile(std::string(KESTO_TEST_DATA_DIR) + "/Import/" + name);
  EXPECT_FALSE(bytes.empty()) << name;
  return parse(bytes, false, {}, kind);
}

TEST(HTMLImportParseTest, FirefoxExportKeepsEveryFolderWithItsBookmarksAndDescriptions) {
  Parsed p = parseFixture("firefox-esr.html");
  Tree t(p);
  EXPECT_EQ(t.children("ROOT"), (std::vector<std::string>{"Bookmarks Menu"}));
  const FolderDummy* menu = t.folder("Bookmarks Menu");
  ASSERT_TRUE(menu);
  // The toolbar has a folder description; the folders after it must not spill into the menu.
  EXPECT_EQ(t.children(menu->folderID.string()),
            (std::vector<std::string>{"Mozilla Firefox", "Bookmarks Toolbar", "Other Bookmarks"}));
  EXPECT_TRUE(t.titles(menu).empty());  // "place:" queries are not web addresses
  EXPECT_EQ(t.titles(t.folder("Bookmarks Menu/Mozilla Firefox")),
            (std::vector<std::string>{"Get Help", "Customize Firefox", "About Us & More"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks Menu/Bookmarks Toolbar")),
            (std::vector<std::string>{"Debian -- The Universal Operating System", "Debian Wiki",
                                      "The Linux Kernel Archives"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks Menu/Bookmarks Toolbar/News")), (std::vector<std::string>{"LWN.net"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks Menu/Other Bookmarks")), (std::vector<std::string>{"Café <menu>"}));

  const BookmarkDummy* debian = t.bookmark("Debian -- The Universal Operating System");
  ASSERT_TRUE(debian);
  EXPECT_EQ(debian->notes.string(), "The distribution");
  EXPECT_EQ(debian->tagStrings, (std::vector<std::string>{"linux", "free software"}));
  EXPECT_EQ(p.tags, (std::vector<std::string>{"linux", "free software", "news"}));
  // The folder description is not any bookmark's notes.
  EXPECT_EQ(t.bookmark("Customize Firefox")->notes.string(), "");
  EXPECT_EQ(t.bookmark("Debian Wiki")->notes.string(), "");
  // Percent escapes are removed as UTF-8.
  EXPECT_EQ(t.bookmark("Café <menu>")->url.string(), "https://example.org/café");
  // Parents come before their children, and every folder starts at version 1, collapsed.
  for (std::size_t i = 0; i < p.folders.size(); ++i) {
    const std::string parent = p.folders[i].parentFolderID.string();
    if (parent == "ROOT") continue;
    bool before = false;
    for (std::size_t j = 0; j < i; ++j) before |= p.folders[j].folderID.string() == parent;
    EXPECT_TRUE(before) << p.folders[i].name.string();
    EXPECT_EQ(p.folders[i].version.intValue(), 1);
    EXPECT_EQ(p.folders[i].isExpanded.intValue(), 0);
  }
}

// Browsers' exports wrapped in a list's item (as a web page may hold them) keep every folder and
// bookmark: the reading is the export's own, inside the list's folder.
TEST(HTMLImportParseTest, AnExportInsideAListKeepsEveryFolder) {
  // Each bookmark and folder by its path below the top-level folder, in order.
  const auto belowTop = [](const Parsed& p) {
    std::map<std::string, std::string> path{{"ROOT", ""}};
    std::vector<std::string> out;
    for (const auto& f : p.folders) {
      const std::string& parent = path[f.parentFolderID.string()];
      path[f.folderID.string()] = parent.empty() ? "/" : parent + f.name.string() + "/";
      if (!parent.empty()) out.push_back(parent + f.name.string() + " " + std::to_string(f.orderIndex.intValue()));
    }
    for (const auto& b : p.bookmarks)
      out.push_back(path[b.folderID.string()] + " " + b.url.string() + " " + b.title.string() + " " + b.notes.string());
    return out;
  };
  for (const std::string name : {"firefox-esr.html", "chromium.html", "edge-crlf.html"})
    for (const std::string around : {"<UL><LI>", "<OL><LI>"}) {
      const std::string bytes = readFile(std::string(KESTO_TEST_DATA_DIR) + "/Import/" + name);
      const Parsed plain = parse(bytes), wrapped = parse(around + "\n" + bytes);
      EXPECT_EQ(belowTop(wrapped), belowTop(plain)) << around << name;
      EXPECT_GT(wrapped.folders.size(), 2u) << around << name;
    }
}

TEST(HTMLImportParseTest, ChromiumExportNestsFoldersThreeDeep) {
  Parsed p = parseFixture("chromium.html");
  Tree t(p);
  EXPECT_EQ(t.children("ROOT"), (std::vector<std::string>{"Bookmarks"}));
  EXPECT_EQ(t.children(t.folder("Bookmarks")->folderID.string()),
            (std::vector<std::string>{"Bookmarks bar", "Other bookmarks"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks/Bookmarks bar")), (std::vector<std::string>{"Debian", "Wikipedia"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks/Bookmarks bar/Work")), (std::vector<std::string>{"GitHub"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks/Bookmarks bar/Work/Projects")), (std::vector<std::string>{"GitLab"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks/Other bookmarks")), (std::vector<std::string>{"Hacker News"}));
  EXPECT_EQ(p.bookmarks.size(), 5u);
  EXPECT_TRUE(p.tags.empty());
  for (const auto& b : p.bookmarks) EXPECT_TRUE(b.tagStrings.empty());
}

TEST(HTMLImportParseTest, CrlfFileAndWhitespaceHeadingGiveNamedFolders) {
  Parsed p = parseFixture("edge-crlf.html");
  Tree t(p);
  ASSERT_TRUE(t.folder("Favorites/Favorites bar"));
  EXPECT_EQ(t.titles(t.folder("Favorites/Favorites bar")), (std::vector<std::string>{"Bing"}));
  EXPECT_EQ(t.titles(t.folder("Favorites/Favorites bar/Untitled")), (std::vector<std::string>{"Outlook"}));
  EXPECT_EQ(t.bookmark("Bing")->notes.string(), "Search engine,\nsecond line");
  for (const auto& f : p.folders) {
    EXPECT_FALSE(f.name.string().empty());
    EXPECT_EQ(f.name.string().find('\r'), std::string::npos);
  }
  for (const auto& b : p.bookmarks) EXPECT_EQ(b.title.string().find('\r'), std::string::npos);
}

TEST(HTMLImportParseTest, ReadingListExportsGiveOneFolderPerHeading) {
  HTMLImport::FileKind kind;
  Parsed pocket = parseFixture("pocket.html", &kind);
  EXPECT_EQ(kind, HTMLImport::FileKind::Pocket);
  Tree t(pocket);
  EXPECT_EQ(t.children("ROOT"), (std::vector<std::string>{"Unread", "Read Archive"}));
  EXPECT_EQ(t.titles(t.folder("Unread")), (std::vector<std::string>{"A Long Read", "Soup Recipe"}));
  EXPECT_EQ(t.titles(t.folder("Read Archive")), (std::vector<std::string>{"Finished Article"}));
  EXPECT_EQ(t.bookmark("A Long Read")->tagStrings, (std::vector<std::string>{"reading", "long form"}));
  EXPECT_TRUE(t.bookmark("Soup Recipe")->tagStrings.empty());
  EXPECT_EQ(pocket.tags, (std::vector<std::string>{"reading", "long form"}));

  Parsed insta = parseFixture("instapaper.html", &kind);
  EXPECT_EQ(kind, HTMLImport::FileKind::Instapaper);
  Tree u(insta);
  EXPECT_EQ(u.children("ROOT"), (std::vector<std::string>{"Unread", "Archive"}));
  EXPECT_EQ(u.titles(u.folder("Unread")), (std::vector<std::string>{"An Essay", "An Interview"}));

  // The older name of Pocket, and a list with no heading left for it.
  Parsed old = parse(
      "<html><head><title>Read It Later Export</title></head><body><h1>Unread</h1>"
      "<ul><li><a href='http://a.example/'>A</a></li></ul><ul><li><a href='http://b.example/'>B</a></li></ul>"
      "</body></html>");
  Tree o(old);
  EXPECT_EQ(o.children("ROOT"), (std::vector<std::string>{"Unread", "Untitled"}));
}

TEST(HTMLImportParseTest, ItemsListsAndHeadingsAtTheEdges) {
  Parsed p = parse(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n"
      "<DL><p>\n"
      "<DT><A HREF=\"https://one.example/\">One</A>\n"
      "<DT>no link here\n"
      "<DT><A NAME=\"anchor\">anchor without a link</A>\n"
      "<DT><A HREF=\"ftp://files.example/\">FTP</A>\n"
      "<DT><A HREF=\"https://two.example/\" TAGS=\"a_b,,c\">Two</A>\n"
      "<DT><H3>Sub</H3>\n<DL><p>\n<DT><A HREF=\"https://three.example/\">Three</A>\n</DL><p>\n"
      "<DT><H3>Second</H3>\n<DL><p>\n</DL><p>\n"
      "<DT><H3>Third</H3>\n<DL><p>\n</DL><p>\n"
      "</DL><p>\n"
      "<H3 FOLDED>Named</H3>\n<DL><p>\n<DT><A HREF=\"http://four.example/\">Four</A>\n</DL><p>\n");
  Tree t(p);
  // The text before the first list is absent: "Untitled"; the second list takes its heading.
  EXPECT_EQ(t.children("ROOT"), (std::vector<std::string>{"Untitled", "Named"}));
  const FolderDummy* first = t.folder("Untitled");
  ASSERT_TRUE(first);
  // Items after a linkless one still count; an ftp address is taken, as the add sheet takes it.
  EXPECT_EQ(t.titles(first), (std::vector<std::string>{"One", "FTP", "Two"}));
  // The DT right before a subfolder does not swallow the subfolder as its notes.
  EXPECT_EQ(t.bookmark("Two")->notes.string(), "");
  EXPECT_EQ(t.bookmark("Two")->tagStrings, (std::vector<std::string>{"a b", "c"}));
  EXPECT_EQ(t.children(first->folderID.string()), (std::vector<std::string>{"Sub", "Second", "Third"}));
  std::vector<std::int64_t> order;
  for (const auto& f : p.folders)
    if (f.parentFolderID.string() == first->folderID.string()) order.push_back(f.orderIndex.intValue());
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(t.titles(t.folder("Untitled/Sub")), (std::vector<std::string>{"Three"}));
  EXPECT_EQ(t.titles(t.folder("Named")), (std::vector<std::string>{"Four"}));

  // No list at all: nothing, without failing.
  Parsed empty = parse("<html><body><p>nothing</p></body></html>");
  EXPECT_TRUE(empty.folders.empty());
}

TEST(HTMLImportParseTest, MarkupInsideValuesAndTextIsLeftAlone) {
  Parsed p = parse(
      "<DL><p>\n"
      "<DT><H3>Folder</H3>\n<DD>About 1 < 2, it's fine\n<DL><p>\n"
      "<DT><A HREF=\"https://q.example/?x=<dl>\" TAGS='a,<dl> b'>Quoted</A>\n"
      "</DL><p>\n"
      "<DT><A HREF=\"https://after.example/\">After</A>\n"
      "</DL><p>\n");
  Tree t(p);
  const FolderDummy* folder = t.folder("Untitled/Folder");
  ASSERT_TRUE(folder);
  EXPECT_EQ(t.titles(folder), (std::vector<std::string>{"Quoted"}));
  EXPECT_EQ(t.bookmark("Quoted")->url.string(), "https://q.example/?x=<dl>");
  EXPECT_EQ(t.bookmark("Quoted")->tagStrings, (std::vector<std::string>{"a", "<dl> b"}));
  EXPECT_EQ(t.titles(t.folder("Untitled")), (std::vector<std::string>{"After"}));
}

// A subfolder written as a DD holding its heading and list keeps its name wherever it stands:
// first in its list, after a bookmark (whose notes it is not), after a bookmark with notes.
TEST(HTMLImportParseTest, ASubfolderInsideADDKeepsItsHeading) {
  Parsed p = parse(
      "<DL><p>\n"
      "<DD><H3>First</H3><DL><p>\n<DT><A HREF=\"https://one.example/\">One</A>\n</DL><p>\n"
      "<DT><A HREF=\"https://two.example/\">Two</A>\n"
      "<DD><H3>Second</H3>\n<DL><p>\n<DT><A HREF=\"https://three.example/\">Three</A>\n</DL><p>\n"
      "<DT><A HREF=\"https://four.example/\">Four</A>\n<DD>Four's note\n"
      "<DD><H3>Third</H3><DL><DT><A HREF=\"https://five.example/\">Five</A></DL>\n"
      "</DL><p>\n");
  Tree t(p);
  const FolderDummy* top = t.folder("Untitled");
  ASSERT_TRUE(top);
  EXPECT_EQ(t.children(top->folderID.string()), (std::vector<std::string>{"First", "Second", "Third"}));
  EXPECT_EQ(t.titles(top), (std::vector<std::string>{"Two", "Four"}));
  EXPECT_EQ(t.titles(t.folder("Untitled/First")), (std::vector<std::string>{"One"}));
  EXPECT_EQ(t.titles(t.folder("Untitled/Second")), (std::vector<std::string>{"Three"}));
  EXPECT_EQ(t.titles(t.folder("Untitled/Third")), (std::vector<std::string>{"Five"}));
  ASSERT_TRUE(t.bookmark("Two") && t.bookmark("Four"));
  EXPECT_EQ(t.bookmark("Two")->notes.string(), "");
  EXPECT_EQ(t.bookmark("Four")->notes.string(), "Four's note");
}

TEST(HTMLImportParseTest, AnEmptyMenuListGivesWayToTheNextList) {
  Parsed p = parse(
      "<H1>Bookmarks Menu</H1>\n<DL><p></DL><p>\n"
      "<H1>Other</H1>\n<DL><p><DT><A HREF=\"https://x.example/\">X</A></DL><p>\n");
  Tree t(p);
  EXPECT_EQ(t.children("ROOT"), (std::vector<std::string>{"Bookmarks Menu"}));
  EXPECT_EQ(t.titles(t.folder("Bookmarks Menu")), (std::vector<std::string>{"X"}));
}

// A top-level list is named by the node before it, but a list, or a node holding one, names
// none: its text would be every title it lists run together. A heading or text still names it.
TEST(HTMLImportParseTest, ATopLevelListAfterAListIsUntitled) {
  const auto dt = [](const std::string& t) { return "<DT><A HREF=\"https://" + t + ".example/\">" + t + "</A>"; };
  std::string many;
  for (int i = 0; i < 2000; ++i) many += "\n" + dt("b" + std::to_string(i));
  const struct {
    std::string html;
    std::vector<std::string> names;
  } cases[] = {
      {"<DL>" + dt("t0") + "</DL><DL>" + dt("t2") + "</DL>", {"Untitled", "Untitled"}},
      {"<H1>Bookmarks</H1>\n<DL><p>" + many + "\n</DL><p>\n<DL><p>\n" + dt("t2") + "\n</DL><p>\n",
       {"Bookmarks", "Untitled"}},
      {"<DL>" + dt("t0") + "<IFRAME><DT><A HREF=x>framed</A></IFRAME></DL>\n<DL>" + dt("t2") + "</DL>",
       {"Untitled", "Untitled"}},
      // Nodes holding a list: a folder standing in the body, a stray item, a plain list.
      {"<DT><H3>F</H3><DL>" + dt("f") + "</DL>\n<DL>" + dt("t2") + "</DL>", {"F", "Untitled"}},
      {"<LI><DIV><DL>" + dt("l") + "</DL></DIV></LI>\n<DL>" + dt("t2") + "</DL>", {"Untitled", "Untitled"}},
      {"<H1>U</H1><UL><LI>" + dt("u") + "</UL>\n<DL>" + dt("t2") + "</DL>", {"U", "Untitled"}},
      // A heading or text after a list names the next.
      {"<DL>" + dt("t0") + "</DL><H3>Named</H3><DL>" + dt("t2") + "</DL>", {"Untitled", "Named"}},
      {"<DL>" + dt("t0") + "</DL>Plain text<DL>" + dt("t2") + "</DL>", {"Untitled", "Plain text"}},
      // An element whose contents a browser reads as text, closed, names none: its text is markup.
      {"<TITLE>Bookmarks</TITLE><TEXTAREA>" + many + "</TEXTAREA>\n<DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<H1>Named</H1><XMP>" + dt("x") + "</XMP><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<H1>Named</H1><iframe src=x>" + dt("x") + "</iframe><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<H1>Named</H1><NOEMBED>" + dt("x") + "</NOEMBED><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<H1>Named</H1><NOFRAMES>" + dt("x") + "</NOFRAMES><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<DL>" + dt("t0") + "</DL><DIV><TITLE>Body title</TITLE></DIV>\n<DL>" + dt("t2") + "</DL>", {"Untitled", "Untitled"}},
      {"<H1>Named</H1><TEXTAREA></TEXTAREA><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      // Text or a heading after one names the list.
      {"<XMP>" + dt("x") + "</XMP>Plain text<DL>" + dt("t2") + "</DL>", {"Plain text"}},
      {"<TEXTAREA>x</TEXTAREA><H3>Named</H3><DL>" + dt("t2") + "</DL>", {"Named"}},
      // A comment names none: what stands before it does, as a browser shows the page.
      {"<DL>" + dt("t0") + "</DL><!--Said--><DL>" + dt("t2") + "</DL>", {"Untitled", "Untitled"}},
      {"<TITLE>Bookmarks</TITLE><H1>T</H1><IFRAME>x</IFRAME><!--Said--><DL>" + dt("t2") + "</DL>", {"Untitled"}},
      {"<H1>Bookmarks</H1>\n<!--" + many + "\n-->\n<DL><p>" + dt("t2") + "</DL>", {"Bookmarks"}},
      {"<DL>" + dt("t0") + "</DL>Plain text\n<!-- old --><!x>\n<DL>" + dt("t2") + "</DL>", {"Untitled", "Plain text"}},
      {"<!--" + many + "--><DL>" + dt("t2") + "</DL>", {"Untitled"}},
  };
  for (const auto& c : cases) {
    Parsed p = parse(c.html);
    Tree t(p);
    EXPECT_EQ(t.children("ROOT"), c.names) << c.html.substr(0, 200);
    // The last list holds what it lists.
    std::vector<std::pair<std::int64_t, std::string>> top;
    for (const auto& f : p.folders)
      if (f.parentFolderID.string() == "ROOT") top.emplace_back(f.orderIndex.intValue(), f.folderID.string());
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(t.titles(t.byID.at(std::max_element(top.begin(), top.end())->second)), (std::vector<std::string>{"t2"}))
        << c.html.substr(0, 200);
  }
}

TEST(HTMLImportParseTest, SkippingDuplicatesWithinTheFileAndAgainstTheStore) {
  const char* html =
      "<DL><DT><A HREF=\"https://dup.example/\">A</A><DT><A HREF=\"https://dup.example/\">B</A>"
      "<DT><A HREF=\"https://known.example/\">C</A><DT><A HREF=\"https://new.example/\">D</A></DL>";
  Tree all(parse(html));
  Parsed without = parse(html);
  EXPECT_EQ(without.bookmarks.size(), 4u);
  Parsed with = parse(html, true, {"https://known.example/"});
  std::vector<std::string> titles;
  for (const auto& b : with.bookmarks) titles.push_back(b.title.string());
  EXPECT_EQ(titles, (std::vector<std::string>{"A", "D"}));
}

TEST(HTMLImportParseTest, DeepNestingIsBoundedAndFoldersAreNeverTheirOwnParents) {
  const std::string html = linkInNestedFolders(400);
  auto p = HTMLImport::parseDocument(html, "ROOT", false, {});
  ASSERT_TRUE(p);
  EXPECT_LE(p->folders.size(), 260u);
  for (const auto& f : p->folders) EXPECT_NE(f.folderID.string(), f.parentFolderID.string());
}

TEST(HTMLImportParseTest, NulBytesInsideAnAddressAreDroppedAndTheRestIsRead) {
  const char raw[] =
      "<DL><p>\n<DT><A HREF=\"https://one.example/\0a\">One</A>\n<DT><A HREF=\"https://two.example/\">Two</A>\n"
      "<DT><A HREF=\"https://three.example/\">Thr\0ee</A>\n<DT><A HREF=\"https://four.example/\">Four</A>\n</DL>\n";
  const std::string html(raw, sizeof(raw) - 1);
  Parsed p = parse(html);
  Tree t(p);
  EXPECT_EQ(t.titles(t.folder("Untitled")), (std::vector<std::string>{"One", "Two", "Three", "Four"}));
  EXPECT_EQ(t.bookmark("One")->url.string(), "https://one.example/a");
}

TEST(HTMLImportParseTest, FoldersBeyondTheDepthLimitAreFlattenedIntoTheDeepestKeptFolder) {
  std::string html = "<DL>";
  for (int i = 0; i < 250; ++i) html += "<DT><H3>F" + std::to_string(i + 1) + "</H3><DL>";
  html += "<DT><A HREF=\"https://deep.example/\">deep</A>";
  for (int i = 0; i < 250; ++i) html += "</DL>";
  html += "<DT><A HREF=\"https://after.example/\">after</A></DL>";
  Parsed p = parse(html);
  Tree t(p);
  // The top-level list and 200 levels below it are folders; the 50 levels beyond are not.
  EXPECT_EQ(p.folders.size(), 201u);
  EXPECT_EQ(p.flattenedFolders, 50u);
  const BookmarkDummy* deep = t.bookmark("deep");
  ASSERT_TRUE(deep);
  ASSERT_TRUE(t.byID.count(deep->folderID.string()));
  EXPECT_EQ(t.byID.at(deep->folderID.string())->name.string(), "F200");
  ASSERT_TRUE(t.bookmark("after"));
  EXPECT_EQ(t.byID.at(t.bookmark("after")->folderID.string())->name.string(), "Untitled");
}

TEST(HTMLImportParseTest, AHugeTitleIsCutAndNothingAfterItIsLost) {
  std::string html = "<DL><p>\n<DT><A HREF=\"https://big.example/\">";
  html.append(50u * 1024 * 1024, 'x');
  html += "</A>\n<DD>";
  html.append(3u * 1024 * 1024, 'n');
  html += "\n<DT><A HREF=\"https://after.example/\">After</A>\n<DD>note\n</DL>\n";
  Parsed p = parse(html);
  ASSERT_EQ(p.bookmarks.size(), 2u);
  EXPECT_EQ(p.bookmarks[0].title.string().size(), HTMLImportReader::kMaxTitleBytes);
  EXPECT_EQ(p.bookmarks[0].notes.string().size(), HTMLImportReader::kMaxNotesBytes);
  EXPECT_EQ(p.bookmarks[1].title.string(), "After");
  EXPECT_EQ(p.bookmarks[1].notes.string(), "note");
}

// The bounds and the cleaning of every other door: an address longer than the bound is not
// taken, invisible and control characters go, tags from one attribute are capped and cut.
TEST(HTMLImportParseTest, AddressesTagsAndTextsAreBoundedAndCleaned) {
  std::string tags;
  for (int i = 0; i < 200000; ++i) tags += "t" + std::to_string(i) + ",";
  std::string html = "<DL><p>\n<DT><A HREF=\"https://long.example/" + std::string(20u * 1024 * 1024, 'a') +
                     "\">Long</A>\n<DT><A HREF=\"https://rlo.example/\xE2\x80\xAEgpj.exe\" TAGS=\"" + tags +
                     std::string(1000, 'L') + "\">R\xE2\x80\xA8LO\xC2\x85</A>\n<DD>one\nt\xE2\x80\xAEwo\n"
                     "<DT><H3>Fol\xE2\x81\xA6" "der</H3>\n<DL><p><DT><A HREF=\"https://in.example/\" TAGS=\"" +
                     std::string(1000, 'g') + "\">In</A>\n</DL><p>\n</DL>\n";
  Parsed p = parse(html);
  ASSERT_EQ(p.bookmarks.size(), 2u);
  const auto& rlo = p.bookmarks[0];
  EXPECT_EQ(rlo.url.string(), "https://rlo.example/gpj.exe");
  // A line separator inside is a space; a line break at the end goes.
  EXPECT_EQ(rlo.title.string(), "R LO");
  EXPECT_EQ(rlo.notes.string(), "one\ntwo");
  EXPECT_EQ(rlo.tagStrings.size(), stored::kMaximumTagsPerBookmark);
  EXPECT_LE(p.tags.size(), stored::kMaximumTagsPerBookmark + 1);
  for (const auto& tag : p.tags) EXPECT_LE(tag.size(), stored::kMaximumTagBytes);
  ASSERT_EQ(p.bookmarks[1].tagStrings.size(), 1u);
  EXPECT_EQ(p.bookmarks[1].tagStrings[0], std::string(stored::kMaximumTagBytes, 'g'));
  ASSERT_FALSE(p.folders.empty());
  EXPECT_EQ(p.folders.back().name.string(), "Folder");
}

TEST(HTMLImportParseTest, AddressesLoseOnlyEscapesThatChangeNothing) {
  Parsed p = parse(
      "<DL><DT><A HREF=\"https://example.org/caf%C3%A9/%7Euser?q=a%26b#x%23y\">A</A>"
      "<DT><A HREF=\"https://example.org/%2541%00\">B</A></DL>");
  Tree t(p);
  EXPECT_EQ(t.bookmark("A")->url.string(), "https://example.org/café/~user?q=a%26b#x%23y");
  EXPECT_EQ(t.bookmark("B")->url.string(), "https://example.org/%2541%00");
  // Duplicates are found in that form, whichever escapes either side uses.
  Parsed skipped = parse(
      "<DL><DT><A HREF=\"https://example.org/%7Euser\">A</A><DT><A HREF=\"https://example.org/~user\">B</A>"
      "<DT><A HREF=\"https://known.example/caf%C3%A9\">C</A><DT><A HREF=\"https://known.example/a%26b\">D</A></DL>",
      true, {"https://known.example/café", "https://known.example/a&b"});
  std::vector<std::string> titles;
  for (const auto& b : skipped.bookmarks) titles.push_back(b.title.string());
  EXPECT_EQ(titles, (std::vector<std::string>{"A", "D"}));
}

TEST(HTMLImportParseTest, BookmarksOutsideAnyListGoToTheReceivingFolder) {
  Parsed p = parse(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n"
      "<DT><A HREF=\"https://top.example/\">Top</A>\n<DD>At the top\n</DD><H1>Bookmarks</H1>\n"
      "<DL><p><DT><A HREF=\"https://inside.example/\">Inside</A></DL><p>\n"
      "<DT><A HREF=\"https://last.example/\">Last</A>\n");
  Tree t(p);
  ASSERT_TRUE(t.bookmark("Top"));
  EXPECT_EQ(t.bookmark("Top")->folderID.string(), "ROOT");
  EXPECT_EQ(t.bookmark("Top")->notes.string(), "At the top");
  ASSERT_TRUE(t.bookmark("Last"));
  EXPECT_EQ(t.bookmark("Last")->folderID.string(), "ROOT");
  EXPECT_EQ(t.titles(t.folder("Bookmarks")), (std::vector<std::string>{"Inside"}));
}

TEST(HTMLImportParseTest, SchemesCompareWithoutCase) {
  Parsed p = parse(
      "<DL><DT><A HREF=\"HTTPS://UPPER.EXAMPLE/\">Upper</A><DT><A HREF=\"Http://mixed.example/\">Mixed</A>"
      "<DT><A HREF=\"JAVASCRIPT:alert(1)\">Script</A><DT><A HREF=\"httpx\">Near</A></DL>");
  std::vector<std::string> titles;
  for (const auto& b : p.bookmarks) titles.push_back(b.title.string());
  // Schemes are read in any case and stored in lower case; "httpx" names no scheme.
  EXPECT_EQ(titles, (std::vector<std::string>{"Upper", "Mixed"}));
  ASSERT_GE(p.bookmarks.size(), 2u);
  EXPECT_EQ(p.bookmarks[0].url.string(), "https://UPPER.EXAMPLE/");
  EXPECT_EQ(p.bookmarks[1].url.string(), "http://mixed.example/");
  EXPECT_EQ(p.leftOut.script, 1u);
  EXPECT_EQ(p.leftOut.noAddress, 1u);
}

// A browser's file holds more than web pages: what a library holds (any address naming its
// scheme, as the add sheet takes) comes in, scripts and the browser's own queries are counted
// out by reason, in every list of the file (a plain UL list too).
TEST(HTMLImportParseTest, EveryAddressALibraryHoldsIsTakenAndWhatIsLeftOutIsCounted) {
  Parsed p = parse(
      "<DL><DT><A HREF=\"ftp://ftp.example/pub/\">Ftp</A><DT><A HREF=\"mailto:me@a.example\">Mail</A>"
      "<DT><A HREF=\"javascript:void(0)\">Bookmarklet</A><DT><A HREF=\"place:sort=8&amp;maxResults=10\">Most Visited</A>"
      "<DT><A HREF=\"about:config\">Config</A><DT><A HREF=\"relative/page.html\">Relative</A>"
      "<DT><A HREF=\"https://web.example/\">Web</A><DT><A>No link</A></DL>"
      "<UL><LI><A HREF=\"javascript:1\">In a plain list</A></UL>");
  std::vector<std::string> titles;
  for (const auto& b : p.bookmarks) titles.push_back(b.title.string());
  EXPECT_EQ(titles, (std::vector<std::string>{"Ftp", "Mail", "Web"}));
  EXPECT_EQ(p.leftOut.script, 2u);
  EXPECT_EQ(p.leftOut.browserInternal, 2u);
  EXPECT_EQ(p.leftOut.noAddress, 1u);
  EXPECT_EQ(p.leftOut.total(), 5u);
  EXPECT_EQ(p.unread, 0u);
}

// A script a browser would run is counted as one however the file spells it: a control
// character as a reference before it, a later name for the colon or a tab, a data: page's type
// after any number of blanks. An escaped name and a reference to no character are no script.
TEST(HTMLImportParseTest, ScriptsSpeltWithReferencesOrPaddedWithBlanksAreCountedAsScripts) {
  Parsed p = parse("<DL><DT><A HREF=\"&#1;javascript:alert(1)\">R</A><DT><A HREF=\"javascript&colon;alert(2)\">C</A>"
                   "<DT><A HREF=\"data:" + std::string(2100, ' ') + "text/html,&lt;script&gt;alert(19)\">D</A>"
                   "<DT><A HREF='java&Tab;script&#x3A;x'>T</A><DT><A HREF=\"https://a.example/?&amp;colon;&#0;\">K</A>"
                   "</DL>");
  EXPECT_EQ(p.leftOut.script, 4u);
  EXPECT_EQ(p.leftOut.total(), 4u);
  ASSERT_EQ(p.bookmarks.size(), 1u);
  EXPECT_EQ(p.bookmarks[0].url.string(), "https://a.example/?&colon;\xEF\xBF\xBD");
}

// A break or tab inside a title or a folder's name is one space, as at every door.
TEST(HTMLImportParseTest, LineBreaksAndTabsInTitlesAndNamesBecomeOneSpace) {
  Parsed p = parse(
      "<DL><DT><H3>Two\nLines</H3><DL><DT><A HREF=\"https://a.example/\">Hello\r\nWorld</A>"
      "<DT><A HREF=\"https://b.example/\">Tab\there</A><DT><A HREF=\"https://c.example/\">\n  Padded  \n</A></DL></DL>");
  Tree t(p);
  ASSERT_TRUE(t.folder("Untitled/Two Lines"));
  EXPECT_EQ(t.titles(t.folder("Untitled/Two Lines")), (std::vector<std::string>{"Hello World", "Tab here", "Padded"}));
}

// Upper-case schemes are the same addresses: with duplicates skipped, neither the store's nor the
// file's own lower-case copy is imported again.
TEST(HTMLImportParseTest, UpperCaseSchemesAreDuplicatesOfLowerCaseOnes) {
  Parsed p = parse(
      "<DL><DT><A HREF=\"HTTP://g.example/\">Upper</A><DT><A HREF=\"Https://h.example/\">First</A>"
      "<DT><A HREF=\"https://h.example/\">Second</A><DT><A HREF=\"http://k.example/\">Older</A></DL>",
      true, {"http://g.example/", "HTTP://k.example/"});
  ASSERT_EQ(p.bookmarks.size(), 1u);
  EXPECT_EQ(p.bookmarks[0].title.string(), "First");
  EXPECT_EQ(p.bookmarks[0].url.string(), "https://h.example/");
}

// Lists nested thousands deep, each holding a bookmark with a long title and markup inside it:
// every title, name and note is whole, and the text goes only to the elements that keep it,
// not up through every list around it (which made such files take minutes).
TEST(HTMLImportParseTest, DeeplyNestedListsAreReadInWorkThatGrowsWithTheText) {
  constexpr int kDepth = 3000;
  const std::string title(80, 't');
  std::string html = "<TITLE>Bookmarks</TITLE><H1>Bookmarks</H1>\n";
  for (int i = 0; i < kDepth; ++i)
    html += "<DL><p><DT><H3>F" + std::to_string(i) + "</H3>\n<DL><p>\n<DT><A HREF=\"https://e" + std::to_string(i) +
            ".example/\">" + title + " <b>" + std::to_string(i) + "</b></A>\n<DD>note <i>" + std::to_string(i) + "</i>\n";
  auto records = HTMLImportReader::read(html, {});
  ASSERT_TRUE(records);
  ASSERT_EQ(records->bookmarks.size(), static_cast<std::size_t>(kDepth));
  for (int i : {0, 1, kDepth / 2, kDepth - 1}) {
    const auto& b = records->bookmarks[static_cast<std::size_t>(i)];
    EXPECT_EQ(b.title, title + " " + std::to_string(i));
    EXPECT_EQ(b.notes, "note " + std::to_string(i));
  }
  auto named = [&](const std::string& name) {
    return std::count_if(records->folders.begin(), records->folders.end(), [&](const auto& f) { return f.name == name; });
  };
  EXPECT_EQ(named("F0"), 1);
  EXPECT_EQ(named("F40"), 1);
  EXPECT_GT(records->flattenedFolders, 0u);
  // A few steps per piece of text; through every enclosing list it would be millions.
  EXPECT_LT(records->textSteps, static_cast<std::size_t>(kDepth) * 20);
}

// Files nested far past the 512 elements a reading keeps open: every bookmark read without the
// bound is stored (each one the file writes, where the shape is read whole), none is counted as
// unread, and folders stay within the kept depth.
TEST(HTMLImportParseTest, FilesNestedPastTheElementBoundKeepEveryBookmark) {
  constexpr std::size_t kDepth = 2000;
  const auto link = [](const std::string& tag, std::size_t n) {
    return "<" + tag + "><A HREF=\"https://e.example/" + std::to_string(n) + "\">" + std::to_string(n) + "</A>\n";
  };
  struct Shape {
    std::string name, html;
    std::size_t written, folders, flattened;  // written 0: as read without the bound
  };
  std::vector<Shape> shapes;
  {  // folders, a bookmark at every level before its subfolder and after it
    std::string html = "<TITLE>Bookmarks</TITLE><H1>Bookmarks</H1>\n<DL><p>\n";
    for (std::size_t i = 0; i < kDepth; ++i) html += link("DT", i) + "<DT><H3>F</H3>\n<DL><p>\n";
    html += link("DT", kDepth);
    for (std::size_t i = 0; i < kDepth; ++i) html += "</DL><p>\n" + link("DT", kDepth + 1 + i);
    shapes.push_back({"folders", html + "</DL>\n", 2 * kDepth + 1, 201, kDepth - 200});
  }
  {  // divisions never closed, each holding a list of one bookmark
    std::string html = "<TITLE>Bookmarks</TITLE>\n";
    for (std::size_t i = 0; i < kDepth; ++i) html += "<DIV><DL><p>\n" + link("DT", i) + "</DL><p>\n";
    shapes.push_back({"divisions holding lists", html, kDepth, kDepth, 0});
  }
  {  // divisions around the items of a list, and lists nested with a link in every item
    std::string divisions = "<TITLE>Bookmarks</TITLE>\n<DL><p>\n", lists = "<TITLE>Bookmarks</TITLE>\n";
    for (std::size_t i = 0; i < kDepth; ++i) divisions += "<DIV>" + link("DT", i), lists += "<UL>" + link("LI", i);
    shapes.push_back({"divisions around items", divisions, kDepth, 1, 0});
    shapes.push_back({"nested lists", lists, kDepth, 1, 0});
  }
  {  // a reading list whose items hold lists nested inside them
    std::string html = "<TITLE>Pocket Export</TITLE>\n<H1>Unread</H1>\n<UL>\n";
    for (std::size_t i = 0; i < 10; ++i) {
      html += link("LI", i);
      for (std::size_t j = 0; j < kDepth; ++j) html += "<UL><LI>";
      html += "deep";
      for (std::size_t j = 0; j < kDepth; ++j) html += "</LI></UL>";
    }
    shapes.push_back({"reading list", html + "</UL>\n", 10, 1, 0});
  }
  {  // a browser's export inside divisions nested past the bound: they are transparent, so it is
     // read whole
    std::string html = "<TITLE>Bookmarks</TITLE>\n";
    for (std::size_t i = 0; i < 600; ++i) html += "<DIV>";
    html += "<DL><p>\n";
    for (std::size_t i = 0; i < 30; ++i) html += link("DT", i) + "<DT><H3>F</H3>\n<DD>about F\n<DL><p>\n";
    for (std::size_t i = 0; i < 30; ++i) html += "</DL><p>\n";
    shapes.push_back({"export inside divisions", html + "</DL><p>\n", 30, 31, 0});
  }
  const auto read = [](const std::string& html, int bound) {
    HTMLImportReader::Options options;
    options.maxOpenElements = bound;
    return HTMLImportReader::read(html, options).value_or(HTMLImportRecords{});
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const auto records = read(shape.html, HTMLImportReader::kMaxOpenElements);
    std::multiset<std::string> urls, unbounded;
    for (const auto& b : records.bookmarks) urls.insert(b.url);
    for (const auto& b : read(shape.html, 1 << 30).bookmarks) unbounded.insert(b.url);
    EXPECT_TRUE(std::includes(urls.begin(), urls.end(), unbounded.begin(), unbounded.end()));
    if (shape.written) {
      EXPECT_EQ(urls.size(), shape.written);
      EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), shape.written);
    }
    EXPECT_EQ(records.unread, 0u);
    EXPECT_EQ(records.folders.size(), shape.folders);
    EXPECT_EQ(records.flattenedFolders, shape.flattened);
    for (const auto& f : records.folders) {
      int depth = 1;
      for (int p = f.parent; p != HTMLImportRecords::kReceivingFolder; p = records.folders[static_cast<std::size_t>(p)].parent)
        ++depth;
      EXPECT_LE(depth, HTMLImportReader::kMaxFolderDepth + 1);
    }
  }
}

// A file nested far past the bound on open elements (a megabyte of lists, each in an item of
// the one around it, or of folders): the reading keeps no more elements open than the bound
// allows, and stores every bookmark, in the file's order (without the bound, the reading of
// such a file held ten times the memory).
TEST(HTMLImportParseTest, FilesNestedFarPastTheElementBoundKeepOnlyThatManyOpen) {
  constexpr std::size_t kBytes = 1u << 20;
  const auto link = [](std::size_t n) {
    return "<A HREF=\"https://e.example/" + std::to_string(n) + "\">" + std::to_string(n) + "</A>\n";
  };
  for (const std::string open : {"<UL><LI>", "<OL><LI><H3>F</H3><UL><LI>", "<DL><p><DT><H3>F</H3>\n<DL><p><DT>"}) {
    SCOPED_TRACE(open);
    std::string html = "<TITLE>Bookmarks</TITLE>\n";
    std::vector<std::string> written;
    while (html.size() < kBytes) {
      html += open + link(written.size());
      written.push_back("https://e.example/" + std::to_string(written.size()));
    }
    HTMLImportReader::Options options;
    const auto records = HTMLImportReader::read(html, options).value_or(HTMLImportRecords{});
    EXPECT_LE(records.mostOpenElements, static_cast<std::size_t>(HTMLImportReader::kMaxOpenElements) + 4);
    std::vector<std::string> stored;
    for (const auto& b : records.bookmarks) stored.push_back(b.url);
    EXPECT_EQ(stored, written);
    EXPECT_EQ(records.unread, 0u);
  }
}

// Markup of every kind nested at random, read with the element bound lowered to a few levels:
// every address the file gives stored without the bound is stored with it too. In the first
// files a list follows an item that must not become its folder: one ending a list read into the
// one around it, one holding a heading inside another element.
TEST(HTMLImportParseTest, NoBookmarkIsLostToTheElementBound) {
  std::vector<std::string> files{
      "<TITLE>Bookmarks</TITLE><LI><DL><p><DT><H3>F</H3><A HREF=\"https://x.example/\">x</A></DL></LI>"
      "<DL><p><DT><A HREF=\"https://y.example/\">y</A></DL>",
      "<TITLE>Bookmarks</TITLE><DL><p><DT><A HREF=\"https://z.example/\">z</A><DIV><H3>F</H3></DIV></DT>"
      "<DL><p></DL></DL>"};
  std::mt19937 random(76);
  const char* const names[] = {"DL", "DT", "DD", "H3", "DIV", "UL", "LI", "P",     "B",    "TABLE",
                               "TD", "FONT", "OL", "SPAN", "A",  "H1", "TITLE", "BODY", "HTML", "TR"};
  for (int file = 0; file < 400; ++file) {
    std::string html = file % 3 ? "<TITLE>Bookmarks</TITLE><H1>Bookmarks</H1>" : "<TITLE>Pocket Export</TITLE>";
    const auto n = [&] { return std::to_string(file) + "/" + std::to_string(html.size()); };
    for (int i = 20 + static_cast<int>(random() % 300); i > 0; --i) {
      const auto r = random() % 100;
      if (r < 15) html += "<DT><A HREF=\"https://dt.example/" + n() + "\">t</A>";
      else if (r < 20) html += "<LI><A HREF=\"https://li.example/" + n() + "\">u<B>b</B></A>";
      else if (r < 25) html += "<DT><H3>F</H3>";
      else if (r < 28) html += "<DD>note";
      else if (r < 40) html += "<DL><p>";
      else if (r < 50) html += "</DL><p>";
      else if (r < 60) html += std::string("<") + names[random() % 20] + ">";
      else if (r < 70) html += std::string("</") + names[random() % 20] + ">";
      else if (r < 72) html += "<DD><H3>G</H3>";
      else if (r < 75) html += "<A HREF=\"https://a.example/" + n() + "\">z</A>";
      else html += "\n";
    }
    files.push_back(std::move(html));
  }
  std::size_t compared = 0;
  for (const auto& html : files) {
    std::size_t unread = 0;
    const auto addresses = [&](int bound) {
      HTMLImportReader::Options options;
      options.maxOpenElements = bound;
      const auto records = HTMLImportReader::read(html, options).value_or(HTMLImportRecords{});
      unread = records.unread;
      std::multiset<std::string> out;
      for (const auto& b : records.bookmarks) out.insert(b.url);
      return out;
    };
    const auto unbounded = addresses(HTMLImportReader::kMaxOpenElements);
    const std::size_t unreadUnbounded = unread;
    compared += unbounded.size();
    for (int bound : {3, 4, 6}) {
      const auto bounded = addresses(bound);
      std::vector<std::string> lost;
      std::set_difference(unbounded.begin(), unbounded.end(), bounded.begin(), bounded.end(), std::back_inserter(lost));
      EXPECT_TRUE(lost.empty()) << "bound " << bound << ", lost " << lost.front() << " of:\n" << html;
      EXPECT_EQ(unread, unreadUnbounded) << "bound " << bound << " of:\n" << html;
    }
  }
  EXPECT_GT(compared, 1500u);
}

// A data: page whose type is partly escaped is a script whether or not an escape beside it
// decodes (an escape of no UTF-8 text, a stray "%"), and so is everything a library would store
// for an address an import keeps: what an import keeps, it keeps in a form kept too.
TEST(HTMLImportParseTest, WhatAnImportKeepsIsKeptInTheFormItIsStored) {
  std::vector<std::string> addresses;
  for (const std::string scheme : {"data:", "DATA:", "d%61ta:"})
    for (const std::string type : {"text/ht%6Dl", "text/%68%74%6D%6C", "image/svg+%78ml", "application/x%6Dl",
                                   "text/java%73cript", "text/html"})
      for (const std::string rest : {"", ";x=%FF", ";%", ";x=%C0", "%", ";x=%E0%A4", ";charset=%ZZ"})
        addresses.push_back(scheme + type + rest + ",<script>alert(1)</script>");
  std::string html = "<DL>";
  for (const auto& a : addresses) {
    const std::string stored = stored::address(fnd::decodeAddressForStorage(a));
    if (stored::whyImportLeavesOut(a) == stored::LeftOut::None) {
      EXPECT_EQ(stored::whyImportLeavesOut(stored), stored::LeftOut::None) << a << " is stored as " << stored;
    }
    html += "<DT><A HREF=\"" + a + "\">Page</A>";
  }
  Parsed p = parse(html + "<DT><A HREF=\"data:text/plain;x=%FF,ht%6Dl\">Text</A></DL>");
  EXPECT_EQ(p.leftOut.script, addresses.size());
  ASSERT_EQ(p.bookmarks.size(), 1u);
  EXPECT_EQ(p.bookmarks[0].url.string(), "data:text/plain;x=%FF,html");
}

// Numbers 128 to 159 name the characters of the Windows-1252 table, as a browser reads them:
// in titles, folder names, notes and addresses alike.
TEST(HTMLImportParseTest, ReferencesOfTheWindows1252RangeKeepTheirCharacters) {
  Parsed p = parse("<DL><DT><H3>Caf&#233; &#150; Bar</H3><DL><DT><A HREF=\"https://p.example/p&#150;q\">"
                   "It&#146;s &#128;5 &#133;</A><DD>Notes &#147;quoted&#x94;</DL></DL>");
  Tree t(p);
  ASSERT_TRUE(t.folder("Untitled/Café – Bar"));
  ASSERT_EQ(p.bookmarks.size(), 1u);
  EXPECT_EQ(p.bookmarks[0].title.string(), "It’s €5 …");
  EXPECT_EQ(p.bookmarks[0].url.string(), "https://p.example/p–q");
  EXPECT_EQ(p.bookmarks[0].notes.string(), "Notes “quoted”");
}

// A number padded with zeros is one character however long it is: a control before a script
// leaves a script, counted as one; one inside an address goes, and the address stays whole.
TEST(HTMLImportParseTest, AReferencePaddedWithZerosIsOneCharacter) {
  const std::string zeros(30, '0');
  Parsed p = parse("<DL><DT><A HREF=\"&#" + zeros + "1;javascript:alert(3)\">Script</A>"
                   "<DT><A HREF=\"http://ok.example/&#x" + zeros + "1;x\">Page</A>"
                   "<DT><A HREF=\"https://z.example/&#" + zeros + "65;\">&#x" + zeros + "92;</A></DL>");
  EXPECT_EQ(p.leftOut.script, 1u);
  EXPECT_EQ(p.leftOut.total(), 1u);
  ASSERT_EQ(p.bookmarks.size(), 2u);
  EXPECT_EQ(p.bookmarks[0].url.string(), "http://ok.example/x");
  EXPECT_EQ(p.bookmarks[1].url.string(), "https://z.example/A");
  EXPECT_EQ(p.bookmarks[1].title.string(), "’");
}

// An address of a long run of references, wherever it falls in the file, is read whole, and
// every bookmark after it comes in; nothing is left unread.
TEST(HTMLImportParseTest, EveryBookmarkAfterALongRunOfReferencesComesIn) {
  std::string amps;
  for (int i = 0; i < 1200; ++i) amps += '&';
  for (int pad = 0; pad < 10; ++pad) {
    std::string html = "<TITLE>" + std::string(static_cast<std::size_t>(pad), 'x') + "</TITLE><DL><p>\n";
    html += "<DT><A HREF=\"https://x.example/pppp?";
    for (int i = 0; i < 1200; ++i) html += "&#38;";
    html += "\">Long</A>\n<DT><A HREF=\"data:";
    for (int i = 0; i < 1000; ++i) html += "&Tab;";
    html += ",tabbed\">Tabs</A>\n";
    for (int i = 0; i < 20; ++i) html += "<DT><A HREF=\"https://site" + std::to_string(i) + ".example/\">Site</A>\n";
    Parsed p = parse(html + "</DL><p>\n");
    ASSERT_EQ(p.bookmarks.size(), 22u) << pad;
    EXPECT_EQ(p.bookmarks[0].url.string(), "https://x.example/pppp?" + amps) << pad;
    EXPECT_EQ(p.bookmarks[0].title.string(), "Long") << pad;
    EXPECT_EQ(p.bookmarks[1].url.string(), "data:,tabbed") << pad;
    EXPECT_EQ(p.bookmarks[21].url.string(), "https://site19.example/") << pad;
    EXPECT_EQ(p.unread, 0u) << pad;
  }
}

// `count` bookmarks of addresses https://`host`-N.example/.
std::string plainBookmarks(const std::string& host, int count) {
  std::string html;
  for (int i = 0; i < count; ++i)
    html += "<DT><A HREF=\"https://" + host + "-" + std::to_string(i) + ".example/\">" + host + "</A>\n";
  return html;
}

// Files declared in another encoding read whole, as a browser reads them: a run of references
// at any offset (the shapes that stopped the reading after one bookmark), bytes the encoding
// cannot read (U+FFFD), and the bytes Windows-1252 leaves undefined.
TEST(HTMLImportParseTest, FilesInOtherEncodingsReadWholeAsABrowserReadsThem) {
  const struct {
    const char* encoding;
    std::string reference, character;
    int count, comment;
  } runs[] = {{"windows-1252", "&#233;", "é", 40, 3698}, {"windows-1252", "&#233;", "é", 40, 3704},
              {"shift_jis", "&#12354;", "あ", 30, 3703}};
  for (const auto& run : runs) {
    std::string html = std::string("<META CHARSET=\"") + run.encoding + "\"><DL><p><!--" +
                       std::string(static_cast<std::size_t>(run.comment - 7), 'c') + "-->";
    std::string address = "http://x.example/", expected = address;
    for (int i = 0; i < run.count; ++i) address += run.reference, expected += run.character;
    Parsed p = parse(html + "<DT><A HREF=\"" + address + "\">t</A>" + plainBookmarks("p", 2000) + "</DL>");
    ASSERT_EQ(p.bookmarks.size(), 2001u) << run.encoding << " " << run.comment;
    EXPECT_EQ(p.bookmarks[0].url.string(), fnd::decodeAddressForStorage(expected)) << run.encoding;
    EXPECT_EQ(p.bookmarks[0].title.string(), "t");
    EXPECT_EQ(p.unread, 0u);
  }
  for (const auto& [encoding, bytes] : {std::pair<std::string, std::string>{"shift_jis", "\x81\x20\xFF\xFE"},
                                        {"big5", "\x81\x20\xFF"}, {"euc-jp", "\x8E\x20\xFF"}, {"gb2312", "\x81\x20\xFF"}}) {
    Parsed p = parse("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=" + encoding + "\"><DL><p>" +
                     plainBookmarks("before", 3000) + "<DT><A HREF=\"https://x.example/\">" + bytes + " bytes</A>" +
                     plainBookmarks("after", 3000) + "</DL>");
    ASSERT_EQ(p.bookmarks.size(), 6001u) << encoding;
    EXPECT_EQ(p.bookmarks[3000].title.string().substr(0, 3), "\uFFFD") << encoding;
    EXPECT_EQ(p.bookmarks[6000].url.string(), "https://after-2999.example/") << encoding;
    EXPECT_EQ(p.unread, 0u) << encoding;
  }
  std::string c1 = "<META CHARSET=\"windows-1252\"><DL><p>";
  for (char b : {'\x81', '\x8D', '\x8F', '\x90', '\x9D'})
    c1 += std::string("<DT><A HREF=\"https://c1.example/") + static_cast<char>('a' + (b & 0x0F)) + "\">t" + b +
          "</A>" + plainBookmarks(std::string("after") + static_cast<char>('a' + (b & 0x0F)), 10);
  Parsed p = parse(c1 + "</DL>");
  EXPECT_EQ(p.bookmarks.size(), 55u);
  EXPECT_EQ(p.unread, 0u);
}

// Titles in the East Asian encodings read as a browser reads them: gb18030's vertical forms and
// ideographs, an ASCII byte after a lead byte that pairs with nothing, Big5's Hong Kong letters
// with a combining mark and EUC-KR's undefined codes.
TEST(HTMLImportParseTest, TitlesInEastAsianEncodingsReadAsABrowserReadsThem) {
  const struct {
    const char* encoding;
    std::string bytes, title;
  } cases[] = {{"gb18030", "\xA6\xD9 \xFE\x59", "︐ 龴"},
               {"gbk", "\xA6\xDA\xFE\xA0", "\uFE12\u9FBB"},
               {"shift_jis", "a\x85" "Ab", "a\uFFFDAb"},
               {"shift_jis", "c\x82]d", "c\uFFFD]d"},
               {"euc-kr", "c\x82]d", "c\uFFFD]d"},
               {"euc-kr", "x\xC9\xA1y", "x\uFFFDy"},
               {"big5", "c\x82]d", "c\uFFFD]d"},
               {"big5", "\x88\x62\x88\xA5", "\u00CA\u0304\u00EA\u030C"}};
  for (const auto& c : cases) {
    Parsed p = parse(std::string("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=") + c.encoding +
                     "\"><DL><p><DT><A HREF=\"https://x.example/\">" + c.bytes + "</A>" + plainBookmarks("after", 3) +
                     "</DL>");
    ASSERT_EQ(p.bookmarks.size(), 4u) << c.encoding;
    EXPECT_EQ(p.bookmarks[0].title.string(), c.title) << c.encoding;
    EXPECT_EQ(p.unread, 0u) << c.encoding;
  }
}

// Comments end where HTML ends them, and a stray item before the list keeps none of its
// bookmarks from it.
TEST(HTMLImportParseTest, CommentsAndStrayItemsReadAsInABrowser) {
  EXPECT_EQ(parse("<DL><p><!--><DT><A HREF=\"http://a.example/\">a</A></DL>").bookmarks.size(), 1u);
  EXPECT_EQ(parse("<DL><p><!--->" + plainBookmarks("p", 400) + "</DL><p>\n<!-- later -->").bookmarks.size(), 400u);
  EXPECT_EQ(parse("<DL><p><!-- x --!>" + plainBookmarks("p", 3) + "</DL><!-- y -->").bookmarks.size(), 3u);
  Parsed stray = parse("<LI>text<H1>Bookmarks</H1><DL><p><DT><A HREF=\"http://a.example/\">a</A></DL>");
  ASSERT_EQ(stray.bookmarks.size(), 1u);
  EXPECT_EQ(stray.bookmarks[0].url.string(), "http://a.example/");
  EXPECT_EQ(stray.unread, 0u);
}

// Where the reading stops before the end of the file, the entries not read are counted over the
// whole file, DT and LI items alike (however much of it follows); a file read whole, a reading
// list among them, has none.
TEST(HTMLImportParseTest, EntriesNotReadAreCountedOverTheWholeFile) {
  const std::string pocket = "<title>Pocket Export</title><h1>Unread</h1><ul><li><a href=\"https://a.example/\">a</a>"
                             "<li><a href=\"https://b.example/\">b</a></ul>";
  Parsed whole = parse(pocket);
  EXPECT_EQ(whole.bookmarks.size(), 2u);
  EXPECT_EQ(whole.unread, 0u);
  const fnd::HtmlParserStop stop(4000);
  for (int after : {3000, 10000}) {
    Parsed p = parse("<DL><p>" + plainBookmarks("before", 3000) + plainBookmarks("after", after) + "</DL>");
    // The item the parser was in when it stopped has started, but may have lost its address.
    EXPECT_GT(p.bookmarks.size(), 0u);
    EXPECT_GE(p.bookmarks.size() + p.unread, 2999u + static_cast<std::size_t>(after));
    EXPECT_LE(p.bookmarks.size() + p.unread, 3000u + static_cast<std::size_t>(after));
  }
  std::string list = "<title>Pocket Export</title><h1>Unread</h1><ul>";
  for (int i = 0; i < 500; ++i) list += "<li><a href=\"https://r" + std::to_string(i) + ".example/\">r</a>";
  Parsed read = parse(list);
  EXPECT_GT(read.bookmarks.size(), 0u);
  EXPECT_GE(read.bookmarks.size() + read.unread, 499u);
  EXPECT_LE(read.bookmarks.size() + read.unread, 500u);
}

// ------------------------------------------------------------------------------------------------

class HTMLImportTest : public SyncLibraryTest {
 protected:
  // Runs one import to its end and answers whether it was written.
  bool runImport(HTMLImport& import, const std::string& path) {
    std::optional<bool> result;
    import.setCompletionHandler([&](bool ok) { result = ok; });
    EXPECT_TRUE(import.importFromFile(path));
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }, 15));
    return result.value_or(false);
  }
};

TEST_F(HTMLImportTest, ImportWritesFoldersBookmarksAndTagsUnderImported) {
  auto existing = Tag::initEntity();
  existing->setName("linux");
  save();
  HTMLImport import;
  std::vector<bool> sheet;
  import.setImportFolderSheet([&](bool visible) { sheet.push_back(visible); });
  ASSERT_TRUE(runImport(import, dataFile("Import/firefox-esr.html")));
  EXPECT_FALSE(import.isImporting());
  ASSERT_FALSE(sheet.empty());
  EXPECT_TRUE(sheet.front());
  EXPECT_FALSE(sheet.back());

  auto root = Folder::existingFolderWithFolderID(import.importRootFolderID());
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name(), "firefox-esr.html");
  EXPECT_EQ(root->parentFolderID(), Folder::kImportedID);
  auto menu = childrenOf(root->folderID());
  ASSERT_EQ(menu.size(), 1u);
  auto inside = childrenOf(menu[0]->folderID());
  ASSERT_EQ(inside.size(), 3u);
  EXPECT_EQ(inside[1]->name(), "Bookmarks Toolbar");
  EXPECT_EQ(inside[1]->version(), 1);
  EXPECT_EQ(inside[1]->isExpanded(), 0);
  EXPECT_EQ(titlesIn(inside[1]).size(), 3u);

  auto debian = Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://www.debian.org/"));
  ASSERT_TRUE(debian);
  EXPECT_EQ(debian->importedFrom().value_or(""), "HTML File");
  EXPECT_EQ(debian->version(), 1);
  EXPECT_EQ(debian->needsUpdate(), 1);
  EXPECT_EQ(debian->titleUpdated(), 1);
  EXPECT_EQ(debian->notes().value_or(""), "The distribution");
  EXPECT_TRUE(debian->importDate().has_value());
  EXPECT_EQ(debian->tagsAsString(), "free software, linux");
  // An existing tag is reused, not doubled.
  EXPECT_EQ(Tag::countWithPredicate(WrenEntity::propertyPredicate("name", fnd::Value("linux"))), 1);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 8);
  // The bookmarklet and the "place:" query were not imported, and the user is told so.
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_NE(alerts->shown[0].message.find(
                "2 entries were left out: 1 script (javascript:, vbscript: or a data: page), 1 browser-internal"),
            std::string::npos)
      << alerts->shown[0].message;
}

// The library in memory takes the imported rows in without reading the store again, and holds
// what a fresh load would.
TEST_F(HTMLImportTest, TheLibraryInMemoryTakesTheImportIn) {
  auto mine = folder("F1", "Mine");
  bookmark("https://mine.example/", "Mine", mine);
  save();
  DataManager dm;
  loadAwake(dm);
  ASSERT_EQ(dm.allBookmarks().size(), 1u);
  HTMLImport import;
  import.setDataManager(&dm);
  ASSERT_TRUE(runImport(import, dataFile("Import/firefox-esr.html")));
  auto identities = [](const auto& list) {
    std::set<const void*> out;
    for (const auto& o : list) out.insert(o.get());
    return out;
  };
  EXPECT_EQ(identities(dm.allBookmarks()), identities(Bookmark::fetchEntities().value_or(Bookmark::List{})));
  EXPECT_EQ(identities(dm.allFolders()), identities(Folder::fetchEntities().value_or(Folder::List{})));
  EXPECT_EQ(dm.allBookmarks().size(), 9u);
  dm.loadAllBookmarksInLibrary();
  EXPECT_EQ(dm.bookmarks().size(), 9u);
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 9);
  EXPECT_EQ(dm.numberOfBookmarksInFolder(import.importRootFolderID()), 0) << "its bookmarks are in its subfolders";
}

TEST_F(HTMLImportTest, SkipDuplicatesLeavesOutURLsAlreadyInTheStore) {
  auto f = folder("F1", "Mine");
  bookmark("https://www.debian.org/", "Mine", f);
  save();
  HTMLImport import;
  import.setSkipDuplicates(true);
  ASSERT_TRUE(runImport(import, dataFile("Import/chromium.html")));
  EXPECT_EQ(Bookmark::countWithPredicate(WrenEntity::propertyPredicate("url", fnd::Value("https://www.debian.org/"))),
            1);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 5);
  // The import names the bookmarks it stored, not the one it left out.
  const auto& ids = import.importedBookmarkIDs();
  ASSERT_EQ(ids.size(), 4u);
  for (const auto& id : ids) {
    auto b = Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id));
    ASSERT_TRUE(b);
    EXPECT_NE(b->url(), "https://www.debian.org/");
  }

  // Importing the same file again with the option on adds nothing but its folders.
  HTMLImport again;
  again.setSkipDuplicates(true);
  ASSERT_TRUE(runImport(again, dataFile("Import/chromium.html")));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 5);
  EXPECT_TRUE(again.importedBookmarkIDs().empty());
}

TEST_F(HTMLImportTest, AnUnreadableFileIsReportedAndLeavesNoEmptyFolder) {
  const auto before = Folder::countWithPredicate(nullptr);
  HTMLImport import;
  std::vector<bool> sheet;
  import.setImportFolderSheet([&](bool visible) { sheet.push_back(visible); });
  EXPECT_FALSE(runImport(import, tempHome() + "/no-such-file.html"));
  EXPECT_EQ(Folder::countWithPredicate(nullptr), before);
  EXPECT_TRUE(alerts->sawTitle("Import failed"));
  ASSERT_FALSE(sheet.empty());
  EXPECT_FALSE(sheet.back());
  EXPECT_FALSE(import.isImporting());

  // A folder (not a file) fails the same way.
  EXPECT_FALSE(runImport(import, makeTempDir("notafile")));
  EXPECT_EQ(Folder::countWithPredicate(nullptr), before);
}

// Bookmarks the store would not take are a failed import, not a complete one, and nothing of
// it stays: not the folders written before them, not the receiving folder.
TEST_F(HTMLImportTest, BookmarksTheStoreRefusesAreReportedAndNothingStays) {
  const auto foldersBefore = Folder::countWithPredicate(nullptr);
  ASSERT_NO_FATAL_FAILURE(refuseNewBookmarks());
  HTMLImport import;
  EXPECT_FALSE(runImport(import, dataFile("Import/chromium.html")));
  EXPECT_TRUE(alerts->sawTitle("Import failed"));
  EXPECT_FALSE(import.isImporting());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0);
  EXPECT_FALSE(Folder::existingFolderWithFolderID(import.importRootFolderID()));
  EXPECT_EQ(Folder::countWithPredicate(nullptr), foldersBefore);
}

TEST_F(HTMLImportTest, OnlyOneImportRunsAtATime) {
  HTMLImport import;
  bool done = false;
  import.setCompletionHandler([&](bool) { done = true; });
  ASSERT_TRUE(import.importFromFile(dataFile("Import/pocket.html")));
  EXPECT_FALSE(import.importFromFile(dataFile("Import/instapaper.html")));
  ASSERT_TRUE(runUntil([&] { return done; }, 15));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 3);
}

// File > Import of an export wrapped in a list's item stores each of its folders with its
// bookmarks, under the list's folder.
TEST_F(HTMLImportTest, AnExportInsideAListIsStoredWithEveryFolder) {
  const std::string path = makeTempDir("wrapped") + "/wrapped.html";
  writeFile(path, "<UL><LI>\n" + readFile(dataFile("Import/firefox-esr.html")));
  HTMLImport import;
  ASSERT_TRUE(runImport(import, path));
  auto list = childrenOf(import.importRootFolderID());
  ASSERT_EQ(list.size(), 1u);
  auto inside = childrenOf(list[0]->folderID());
  std::vector<std::string> names;
  for (const auto& f : inside) names.push_back(f->name());
  EXPECT_EQ(names, (std::vector<std::string>{"Mozilla Firefox", "Bookmarks Toolbar", "Other Bookmarks"}));
  ASSERT_EQ(inside.size(), 3u);
  EXPECT_EQ(titlesIn(inside[0]).size(), 3u);
  EXPECT_EQ(titlesIn(inside[1]).size(), 3u);
  auto news = childrenOf(inside[1]->folderID());
  ASSERT_EQ(news.size(), 1u);
  EXPECT_EQ(news[0]->name(), "News");
  EXPECT_EQ(titlesIn(news[0]), (std::vector<std::string>{"LWN.net"}));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 8);
}

TEST_F(HTMLImportTest, TheUserIsToldHowManyFoldersWereFlattened) {
  const std::string path = makeTempDir("deep") + "/deep.html";
  writeFile(path, linkInNestedFolders(203));
  HTMLImport import;
  ASSERT_TRUE(runImport(import, path));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Import complete");
  EXPECT_NE(alerts->shown[0].message.find("3 folders were flattened"), std::string::npos) << alerts->shown[0].message;
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
}

// The user learns what a file held that was not imported, and why; what was taken is stored.
TEST_F(HTMLImportTest, TheUserIsToldHowManyEntriesWereLeftOutAndWhy) {
  std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE><H1>Bookmarks Menu</H1>\n<DL><p>\n";
  for (int i = 0; i < 20; ++i) html += "<DT><A HREF=\"https://site" + std::to_string(i) + ".example/\">Site</A>\n";
  html += "<DT><A HREF=\"ftp://ftp.example/\">Files</A>\n<DT><A HREF=\"FTP://FTP2.example/\">More files</A>\n";
  for (int i = 0; i < 3; ++i) html += "<DT><A HREF=\"javascript:go(" + std::to_string(i) + ")\">Script</A>\n";
  html += "<DT><A HREF=\"place:type=6&sort=14\">Recent Tags</A>\n</DL>\n";
  const std::string path = makeTempDir("firefox") + "/firefox.html";
  writeFile(path, html);
  const auto before = Bookmark::countWithPredicate(nullptr);
  HTMLImport import;
  ASSERT_TRUE(runImport(import, path));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 22);
  EXPECT_TRUE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("ftp://FTP2.example/")));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Import complete");
  EXPECT_TRUE(alerts->shown[0].information);
  const std::string& message = alerts->shown[0].message;
  EXPECT_EQ(message.rfind("22 bookmarks were imported from 'firefox.html'. 4 entries were left out: 3 scripts "
                          "(javascript:, vbscript: or data: pages), 1 browser-internal address",
                          0),
            0u)
      << message;

  // A file with nothing left out ends with the short message alone.
  alerts->shown.clear();
  writeFile(path, "<DL><DT><A HREF=\"https://only.example/\">Only</A></DL>");
  HTMLImport again;
  ASSERT_TRUE(runImport(again, path));
  EXPECT_TRUE(alerts->shown.empty());
}

// A file the parser stops reading before its end is not told as complete: what was read is
// stored, and the user learns how many entries were not.
TEST_F(HTMLImportTest, AFileThatCannotBeReadToItsEndIsNotToldComplete) {
  const std::string before = "<META CHARSET=\"shift_jis\"><DL><DT><A HREF=\"https://before.example/\">Before</A>"
                             "<DT><A HREF=\"https://x.example/\">\x81\x20\xFF\xFE bytes</A>";
  const std::string html = before + "<DT><A HREF=\"https://a.example/\">A</A><DT><A HREF=\"https://b.example/\">B</A>"
                                    "<DT><A HREF=\"https://c.example/\">C</A></DL>";
  const fnd::HtmlParserStop stop(before.size() + 2);
  const std::string path = makeTempDir("charset") + "/charset.html";
  writeFile(path, html);
  HTMLImport import;
  ASSERT_TRUE(runImport(import, path));
  EXPECT_TRUE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("https://before.example/")));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Import incomplete");
  EXPECT_FALSE(alerts->shown[0].information);
  EXPECT_NE(alerts->shown[0].message.find("3 entries of the file could not be read"), std::string::npos)
      << alerts->shown[0].message;
}

// Links in an element read as text that the file never closes are stored nowhere, as in a
// browser, and the end of the import tells how many there were and where they stand.
TEST_F(HTMLImportTest, LinksInAnElementTheFileNeverClosesAreToldNotRead) {
  std::string links;
  for (int i = 1; i <= 4; ++i) links += "<DT><A HREF=\"https://l" + std::to_string(i) + ".example/\">L</A>\n";
  const std::string first = links.substr(0, links.find('\n') + 1), rest = links.substr(first.size());
  std::string title = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < 2000; ++i) title += "<DT><A HREF=\"https://b" + std::to_string(i) + ".example/\">B</A>\n";
  std::string styled = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < 2000; ++i)
    styled += (i == 1000 ? "<STYLE>\n<DT><A HREF=\"https://s" : "<DT><A HREF=\"https://s") + std::to_string(i) + ".example/\">S</A>\n";
  const struct {
    std::string html;
    long long stored;
    std::string told;
  } files[] = {
      {title + "</DL><p>\n", 0, "2000 entries of the file could not be read: they stand in a TITLE element that "
                                "the file never closes"},
      {"<DL><p>\n" + first + "<TEXTAREA>\n" + rest, 1, "3 entries of the file could not be read: they stand in a "
                                                        "TEXTAREA element"},
      {"<DL><p>\n" + first + "<PLAINTEXT>" + links, 1, "4 entries of the file could not be read: they follow a "
                                                       "PLAINTEXT element"},
      // A STYLE, SCRIPT, TEMPLATE or comment holds the rest too; the words agree with the count.
      {styled + "</DL><p>\n", 1000, "1000 entries of the file could not be read: they stand in a STYLE element "
                                    "that the file never closes, which is read as text to its end."},
      {"<DL><p>\n" + first + "<script>x</scriptx>\n" + rest, 1, "3 entries of the file could not be read: they "
                                                                 "stand in a SCRIPT element"},
      {"<DL><p>\n" + first + "<TEMPLATE>\n" + rest, 1, "3 entries of the file could not be read: they stand in a "
                                                       "TEMPLATE element that the file never closes, whose contents "
                                                       "are no part of the page."},
      {"<DL><p>\n" + first + "<!--\n" + rest, 1, "3 entries of the file could not be read: they stand in a comment "
                                                 "that the file never closes."},
      {"<DL><p>\n" + first + "<XMP>" + rest.substr(0, rest.find('\n')), 1,
       "1 entry of the file could not be read: it stands in an XMP element that the file never closes"},
      {"<DL><p>\n" + first + "<IFRAME>\n" + rest, 1, "3 entries of the file could not be read: they stand in an "
                                                     "IFRAME element"},
      {"<DL><p>\n" + first + "<PLAINTEXT>" + first, 1, "1 entry of the file could not be read: it follows a "
                                                       "PLAINTEXT element"},
  };
  const std::string dir = makeTempDir("unclosed");
  for (const auto& f : files) {
    alerts->shown.clear();
    const auto before = Bookmark::countWithPredicate(nullptr);
    const std::string path = dir + "/unclosed.html";
    writeFile(path, f.html);
    HTMLImport import;
    ASSERT_TRUE(runImport(import, path)) << f.told;
    EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, f.stored) << f.told;
    ASSERT_EQ(alerts->shown.size(), 1u) << f.told;
    EXPECT_EQ(alerts->shown[0].title, "Import incomplete");
    EXPECT_NE(alerts->shown[0].message.find(f.told), std::string::npos) << alerts->shown[0].message;
  }
  EXPECT_FALSE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("https://l2.example/")));
  // Closed, the element holds text: the rest of the file comes in, and nothing is told.
  alerts->shown.clear();
  const std::string path = dir + "/closed.html";
  writeFile(path, "<DL><p>\n<DT><TEXTAREA>" + links + "</TEXTAREA>\n<DT><A HREF=\"https://after.example/\">A</A></DL>");
  HTMLImport closed;
  ASSERT_TRUE(runImport(closed, path));
  EXPECT_TRUE(Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value("https://after.example/")));
  EXPECT_TRUE(alerts->shown.empty());
}

// A file imported twice with duplicates skipped: each end accounts for every entry, the
// duplicates among them; scripts of every kind stay out.
TEST_F(HTMLImportTest, TheEndOfAnImportCountsTheDuplicatesItSkipped) {
  std::string html = "<DL><DT><A HREF=\"https://a.example/\">A</A><DT><A HREF=\"HTTPS://a.example/\">Again</A>";
  for (const char* left : {"vbscript:msgbox(1)", "data:text/html,&lt;script&gt;", " JavaScript:go()", "edge://x"})
    html += std::string("<DT><A HREF=\"") + left + "\">Out</A>";
  const std::string path = makeTempDir("twice") + "/twice.html";
  writeFile(path, html + "</DL>");
  const std::string leftOut = " 4 entries were left out: 3 scripts (javascript:, vbscript: or data: pages), 1 "
                              "browser-internal address";
  const auto before = Bookmark::countWithPredicate(nullptr);
  for (const char* start : {"1 bookmark was imported from 'twice.html'. 1 bookmark repeated in the file was skipped.",
                            "0 bookmarks were imported from 'twice.html'. 2 bookmarks already in the library were "
                            "skipped."}) {
    alerts->shown.clear();
    HTMLImport import;
    import.setSkipDuplicates(true);
    ASSERT_TRUE(runImport(import, path));
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message.rfind(start + leftOut, 0), 0u) << alerts->shown[0].message;
  }
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, 1);
}

TEST_F(HTMLImportTest, DuplicatesAreFoundWhateverEscapesEitherSideUsesAndStoredAddressesStay) {
  auto f = folder("F1", "Mine");
  bookmark("https://x.example/%7Euser/caf%C3%A9", "Stored", f);
  save();
  const std::string path = makeTempDir("dups") + "/dups.html";
  writeFile(path,
            "<DL><DT><A HREF=\"https://x.example/~user/café\">Same</A>"
            "<DT><A HREF=\"https://x.example/%7euser/caf%c3%a9?q=a%26b\">Other</A></DL>");
  HTMLImport import;
  import.setSkipDuplicates(true);
  ASSERT_TRUE(runImport(import, path));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 2);
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://x.example/%7Euser/caf%C3%A9")));
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://x.example/~user/café?q=a%26b")));
}

// The child half of the kill test below: imports when the parent asks, and only then.
TEST(HTMLImportKilled, ChildImport) {
  const char* file = std::getenv("KESTO_IMPORT_CHILD_FILE");
  const char* store = std::getenv("KESTO_IMPORT_CHILD_STORE");
  const char* root = std::getenv("KESTO_IMPORT_CHILD_ROOT");
  if (!file || !store || !root) GTEST_SKIP() << "run by AKilledImportLeavesAllOrNothing";
  auto coordinator = store::Coordinator::make(WrenDataManager::sharedInstance().managedObjectModel());
  ASSERT_TRUE(coordinator->addStore(store::kSQLiteStoreType, store,
                                    {{store::kMigratePersistentStoresAutomaticallyOption, true},
                                     {store::kInferMappingModelAutomaticallyOption, true}}));
  auto context = store::Context::make(store::ConcurrencyType::Confinement);
  context->setCoordinator(coordinator);
  writeFile(std::string(store) + ".started", "");
  const auto report = HTMLImport::importFile(file, {root, "big.html", Folder::kImportedID, 1}, false, context);
  std::_Exit(report.outcome == HTMLImport::Outcome::Imported ? 0 : 3);
}

TEST_F(HTMLImportTest, AKilledImportLeavesAllOrNothing) {
  constexpr int kBookmarks = 20000;
  std::string html = "<DL><p>\n";
  for (int f = 0; f < 20; ++f) {
    html += "<DT><H3>Folder " + std::to_string(f) + "</H3>\n<DL><p>\n";
    for (int i = 0; i < kBookmarks / 20; ++i)
      html += "<DT><A HREF=\"https://s" + std::to_string(f) + ".example/" + std::to_string(i) + "\" TAGS=\"t" +
              std::to_string(i % 7) + "\">Page " + std::to_string(i) + "</A>\n";
    html += "</DL><p>\n";
  }
  html += "</DL>\n";
  const std::string dir = makeTempDir("kill");
  const std::string file = dir + "/big.html";
  writeFile(file, html);
  const std::string store = WrenDataManager::sharedInstance().persistentStorePath();

  int killed = 0, completed = 0;
  auto bookmarksBefore = Bookmark::countWithPredicate(nullptr);
  auto foldersBefore = Folder::countWithPredicate(nullptr);
  // From before the transaction starts to well after it ends; the last child is never killed.
  const int delays[] = {0, 5, 20, 40, 80, 120, 180, 250, 400, -1};
  for (int run = 0; run < static_cast<int>(std::size(delays)); ++run) {
    const std::string root = "KILLED-" + std::to_string(run);
    fnd::FileManager::removeItem(store + ".started");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("KESTO_IMPORT_CHILD_FILE", file.c_str(), 1);
      setenv("KESTO_IMPORT_CHILD_STORE", store.c_str(), 1);
      setenv("KESTO_IMPORT_CHILD_ROOT", root.c_str(), 1);
      forgetShard();
      execl("/proc/self/exe", "importer", "--gtest_filter=HTMLImportKilled.ChildImport", static_cast<char*>(nullptr));
      std::_Exit(4);
    }
    if (delays[run] >= 0) {
      // Once the child has its store open, let it run for the delay, then kill it outright.
      ASSERT_TRUE(runUntil([&] { return fnd::FileManager::fileExists(store + ".started"); }, 20));
      std::this_thread::sleep_for(std::chrono::milliseconds(delays[run]));
      kill(pid, SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) ++killed;
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "run " << run;
      ++completed;
    }
    // The store holds that import whole or not at all: the receiving folder, the list's folder
    // and its 20 subfolders with every bookmark, or nothing.
    const auto bookmarksNow = Bookmark::countWithPredicate(nullptr);
    const auto foldersNow = Folder::countWithPredicate(nullptr);
    if (Folder::existingFolderWithFolderID(root)) {
      EXPECT_EQ(bookmarksNow - bookmarksBefore, kBookmarks) << "run " << run;
      EXPECT_EQ(foldersNow - foldersBefore, 22) << "run " << run;
    } else {
      EXPECT_EQ(bookmarksNow - bookmarksBefore, 0) << "run " << run;
      EXPECT_EQ(foldersNow - foldersBefore, 0) << "run " << run;
    }
    bookmarksBefore = bookmarksNow;
    foldersBefore = foldersNow;
  }
  RecordProperty("killed", killed);
  RecordProperty("completed", completed);
  EXPECT_GE(completed, 1);
  EXPECT_GE(killed, 1);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr) % kBookmarks, 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace
}  // namespace kesto::test
