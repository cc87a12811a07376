// Markup that is not the bookmark file's own around its items, and the rule every link of a
// file follows: it is stored, left out for a reason the import states, or counted as not read.
#include "Synchronize/HTMLImportReader.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kesto::test {
namespace markup {

// Links with an address as libxml2's own HTML parser builds the document's tree: a count that
// does not use the reader.
std::size_t linksByTheParser(const std::string& html) {
  htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  if (!doc) return 0;
  std::size_t n = 0;
  if (xmlXPathContextPtr context = xmlXPathNewContext(doc)) {
    if (xmlXPathObjectPtr count = xmlXPathEvalExpression(BAD_CAST "count(//a[@href])", context)) {
      n = static_cast<std::size_t>(count->floatval);
      xmlXPathFreeObject(count);
    }
    xmlXPathFreeContext(context);
  }
  xmlFreeDoc(doc);
  return n;
}

struct Placed {
  std::string folder;  // folder names from the receiving folder, "/" between
  std::string title, notes;
};

struct Reading {
  HTMLImportRecords records;
  std::map<std::string, Placed> byAddress;
  std::map<std::string, int> perFolder;
};

Reading readMarkup(const std::string& html) {
  Reading out;
  auto records = HTMLImportReader::read(html, {});
  EXPECT_TRUE(records);
  if (!records) return out;
  out.records = std::move(*records);
  std::vector<std::string> paths;
  for (const auto& f : out.records.folders)
    paths.push_back((f.parent == HTMLImportRecords::kReceivingFolder ? "" : paths[static_cast<std::size_t>(f.parent)] + "/") +
                    f.name);
  for (const auto& b : out.records.bookmarks) {
    const std::string folder = b.folder == HTMLImportRecords::kReceivingFolder ? "" : paths[static_cast<std::size_t>(b.folder)];
    out.byAddress[b.url] = {folder, b.title, b.notes};
    ++out.perFolder[folder];
  }
  return out;
}

// Every link the parser sees is kept, left out for its reason, skipped as a duplicate or
// counted as not read, each reason told by the reader itself (none only by its guard).
void expectEveryLinkAccountedFor(const HTMLImportRecords& r, std::size_t links, const std::string& what) {
  EXPECT_EQ(r.unaccounted, 0u) << what;
  EXPECT_EQ(r.bookmarks.size() + r.leftOut.total() + r.alreadyHeld + r.repeated + r.unread - r.unaccounted, links)
      << what;
}

std::string links(const std::string& host, int count, const std::string& item = "<DT>") {
  std::string html;
  for (int i = 0; i < count; ++i)
    html += item + "<A HREF=\"https://" + host + "-" + std::to_string(i) + ".example/\">" + host + " " +
            std::to_string(i) + "</A>\n";
  return html;
}

// The shapes browsers' importers read whole and the reader lost: a folder's list holding its
// items inside other elements, closed or not, lists that open with such an element, plain UL
// lists.
TEST(HTMLImportMarkup, ItemsInsideOtherElementsComeInWhereTheyStand) {
  const std::string head = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n" +
                           links("first", 1) + "<DT><H3>F</H3>\n<DL><p>\n";
  const std::string tail = "</DL><p>\n" + links("after", 10) + "</DL><p>\n";
  const struct {
    std::string name, inFolder;
  } folders[] = {
      {"DIV closed", "<DIV>\n" + links("in", 10) + "</DIV>\n"},
      {"DIV unclosed", "<DIV>\n" + links("in", 10)},
      {"DIVs nested, unclosed", "<DIV><DIV>\n" + links("in", 5) + "<DIV>" + links("more", 5)},
      {"table parts", "<TABLE><THEAD><TR><TH>" + links("in", 3) + "</TH></TR></THEAD><TBODY><TR><TD>" + links("more", 3) +
                          "</TD><TD>" + links("most", 4) + "</TD></TR></TBODY></TABLE>\n"},
      {"table in an unclosed DIV", "<DIV><TABLE><TR><TD>" + links("in", 10) + "</TABLE>"},
      {"FORM unclosed", "<FORM>" + links("in", 10)},
      {"CENTER, FONT, SPAN, unknown", "<CENTER><FONT><SPAN><X-WRAP>" + links("in", 10) + "</X-WRAP></SPAN>"},
  };
  for (const auto& f : folders) {
    const std::string html = head + f.inFolder + tail;
    Reading r = readMarkup(html);
    EXPECT_EQ(r.records.bookmarks.size(), 21u) << f.name;
    EXPECT_EQ(r.perFolder["Bookmarks/F"], 10) << f.name;
    EXPECT_EQ(r.perFolder["Bookmarks"], 11) << f.name;
    EXPECT_EQ(r.records.unread, 0u) << f.name;
    expectEveryLinkAccountedFor(r.records, linksByTheParser(html), f.name);
  }

  // A list whose first child is another element, and plain lists in an ordinary file.
  const struct {
    std::string name, html, folder;
  } lists[] = {
      {"CENTER first", "<H1>B</H1><DL><p><CENTER>" + links("c", 20) + "</CENTER></DL>", "B"},
      {"FONT first", "<H1>B</H1><DL><p><FONT SIZE=2>" + links("f", 20) + "</FONT></DL>", "B"},
      {"FORM first", "<H1>B</H1><DL><p><FORM ACTION=x>" + links("f", 20) + "</FORM></DL><p>", "B"},
      {"UL LI", "<TITLE>Links</TITLE><H1>Links</H1><UL>" + links("u", 20, "<LI>") + "</UL>", "Links"},
      {"UL LI DIV", "<H1>Links</H1><UL>" + links("d", 20, "<LI><DIV>") + "</UL>", "Links"},
      {"LI in a DL", "<H1>B</H1><DL><p>" + links("l", 20, "<LI>") + "</DL>", "B"},
      {"links outside items", "<H1>B</H1><DL><p>" + links("o", 20, "") + "</DL>", "B"},
  };
  for (const auto& l : lists) {
    Reading r = readMarkup(l.html);
    EXPECT_EQ(r.records.bookmarks.size(), 20u) << l.name;
    EXPECT_EQ(r.perFolder[l.folder], 20) << l.name;
    EXPECT_EQ(r.records.kind, HTMLImportRecords::Kind::Netscape) << l.name;
    expectEveryLinkAccountedFor(r.records, linksByTheParser(l.html), l.name);
  }
}

// A DT holding two links gives two bookmarks, as a browser's importer does: the first with the
// item's notes, the second titled by its own link. Links in a heading or a description are
// bookmarks of the list around them. SCRIPT holds no link.
TEST(HTMLImportMarkup, EveryLinkIsAnEntryOfItsOwn) {
  const std::string html =
      "<DL><p><DT><A HREF=\"https://one.example/\" TAGS=\"a\">One</A> and <A HREF=\"https://two.example/\" "
      "TAGS=\"b\">Two</A><DD>About one\n"
      "<DT><H3>Folder <A HREF=\"https://heading.example/\">heading link</A></H3>\n<DL><p>"
      "<DT><A HREF=\"https://inside.example/\">Inside</A><DD>See <A HREF=\"https://described.example/\">this</A>\n"
      "</DL><p><SCRIPT>document.write('<A HREF=\"https://script.example/\">x</A>')</SCRIPT>"
      "<DT><A HREF=\"javascript:go()\">Go</A> <A HREF=\"https://three.example/\">Three</A></DL>";
  Reading r = readMarkup(html);
  ASSERT_EQ(r.records.bookmarks.size(), 6u);
  EXPECT_EQ(r.records.bookmarks[0].url, "https://one.example/");
  EXPECT_EQ(r.records.bookmarks[1].url, "https://two.example/");
  EXPECT_EQ(r.byAddress["https://one.example/"].title, "One");
  EXPECT_EQ(r.byAddress["https://one.example/"].notes, "About one");
  EXPECT_EQ(r.byAddress["https://two.example/"].title, "Two");
  EXPECT_EQ(r.byAddress["https://two.example/"].notes, "");
  ASSERT_EQ(r.records.bookmarks[1].tags.size(), 1u);
  EXPECT_EQ(r.records.tags[static_cast<std::size_t>(r.records.bookmarks[1].tags[0])], "b");
  EXPECT_EQ(r.byAddress["https://heading.example/"].folder, "Untitled");
  EXPECT_EQ(r.byAddress["https://inside.example/"].folder, "Untitled/Folder heading link");
  EXPECT_EQ(r.byAddress["https://inside.example/"].notes, "See this");
  EXPECT_EQ(r.byAddress["https://described.example/"].folder, "Untitled/Folder heading link");
  EXPECT_EQ(r.byAddress["https://three.example/"].folder, "Untitled");
  EXPECT_EQ(r.byAddress.count("https://script.example/"), 0u);
  EXPECT_EQ(r.records.leftOut.script, 1u);
  expectEveryLinkAccountedFor(r.records, linksByTheParser(html), "two links");
}

// What a file's reading cannot keep is counted as not read, with the true number: links outside
// a reading list's lists, links of a list that gives way to the next, links the parser never
// reached.
TEST(HTMLImportMarkup, LinksNoReadingKeepsAreCountedAsNotRead) {
  const std::string pocket = "<TITLE>Pocket Export</TITLE><H1>Unread</H1><UL>" + links("p", 3, "<LI>") +
                             "</UL><DL><A HREF=\"https://stray.example/\">s</A><A HREF=\"about:blank\">b</A></DL>"
                             "<A HREF=\"https://loose.example/\">l</A>";
  Reading r = readMarkup(pocket);
  EXPECT_EQ(r.records.kind, HTMLImportRecords::Kind::Pocket);
  EXPECT_EQ(r.records.bookmarks.size(), 3u);
  EXPECT_EQ(r.records.unread, 3u);
  EXPECT_EQ(r.records.notHandedOn, 0u);
  expectEveryLinkAccountedFor(r.records, linksByTheParser(pocket), "pocket");

  const std::string menu = "<H1>Bookmarks Menu</H1>\n<DL><p>\n<DL><p>" + links("gone", 2) + "</DL><p>\n</DL><p>\n"
                           "<H1>Other</H1>\n<DL><p>" + links("kept", 2) + "</DL>";
  Reading m = readMarkup(menu);
  EXPECT_EQ(m.records.bookmarks.size(), 2u);
  EXPECT_EQ(m.perFolder["Bookmarks Menu"], 2);
  EXPECT_EQ(m.records.unread, 2u);
  expectEveryLinkAccountedFor(m.records, linksByTheParser(menu), "menu");
}

// ---- files made at random ----------------------------------------------------------------------

// Bookmark files whose items stand inside elements of every kind (the file's own lists and
// folders, known inline and block elements, table parts, unknown names), closed or not, nested,
// at random places, in DL lists and in UL lists; with what each item must read as.
class MarkupFile {
 public:
  explicit MarkupFile(unsigned seed) : rng_(seed) {
    const bool withDl = chance(4, 5);
    if (withDl) {
      html_ += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n";
      const Wrapper* around = chance(1, 3) ? &pick() : nullptr;
      const bool closed = around && (around->table || chance(1, 2));
      if (around) html_ += around->open;
      bool dtOpen = false;
      html_ += "<H1>Top</H1>\n<DL><p>\n" + content("Top", 0, 0, true, false, dtOpen) + "</DL><p>\n";
      if (around && closed) html_ += around->close;
      // An unclosed element around the list holds what follows: transparent, it changes nothing.
    }
    bool dtOpen = false;
    if (!withDl || chance(1, 2))
      html_ += "<H3>List</H3>\n<UL>\n" + content("List", 0, 0, true, true, dtOpen) + "</UL>\n";
  }

  const std::string& html() const { return html_; }
  struct Item {
    std::string url, folder, title, notes;
  };
  const std::vector<Item>& items() const { return items_; }

 private:
  struct Wrapper {
    std::string open, close;
    bool table = false;  // a table's end closes what is open in it: always closed
    bool part = false;   // a table's part alone: outside any table, a browser ignores it
  };

  bool chance(int in, int of) { return std::uniform_int_distribution<int>(1, of)(rng_) <= in; }
  int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  // In a table's cell a table's part would end the cell (and what it holds), as in a browser.
  const Wrapper& pick(bool inTable = false) {
    const Wrapper* w = &anyWrapper();
    while (inTable && w->part) w = &anyWrapper();
    return *w;
  }
  const Wrapper& anyWrapper() {
    static const std::vector<Wrapper> kWrappers = {
        {"<DIV>", "</DIV>"},           {"<DIV CLASS=\"x\">", "</DIV>"}, {"<CENTER>", "</CENTER>"},
        {"<FONT SIZE=2>", "</FONT>"},  {"<FORM ACTION=\"/\">", "</FORM>"}, {"<SPAN>", "</SPAN>"},
        {"<B>", "</B>"},               {"<SECTION>", "</SECTION>"},   {"<NAV>", "</NAV>"},
        {"<X-WRAP>", "</X-WRAP>"},     {"<BLAH>", "</BLAH>"},         {"<BLOCKQUOTE>", "</BLOCKQUOTE>"},
        {"<TABLE><TR><TD>", "</TD></TR></TABLE>", true},
        {"<TABLE><THEAD><TR><TH>", "</TH></TR></THEAD></TABLE>", true},
        {"<TABLE><TBODY><TR><TD>", "</TD></TR></TBODY></TABLE>", true},
        {"<TBODY>", "</TBODY>", true, true}, {"<TR>", "</TR>", true, true}, {"<TD>", "</TD>", true, true},
        {"<TH>", "</TH>", true, true},
    };
    return kWrappers[static_cast<std::size_t>(between(0, static_cast<int>(kWrappers.size()) - 1))];
  }

  std::string link(const std::string& folder, bool notes) {
    const int n = ++count_;
    const std::string url = "https://i" + std::to_string(n) + ".example/";
    items_.push_back({url, folder, "Item " + std::to_string(n), notes ? "note " + std::to_string(n) : ""});
    return "<A HREF=\"" + url + "\">Item " + std::to_string(n) + "</A>";
  }

  std::string inlineWrapped(const std::string& inner) {
    if (!chance(1, 3)) return inner;
    const Wrapper& w = pick();
    return w.table ? inner : w.open + inner + w.close;
  }

  // A run of a list's children. `unclosedAllowed`: an element may be left open here (not in a
  // table, whose end would close it where a list's end does not). `dtOpen`: the list's last item
  // is a DT still open.
  std::string content(const std::string& folder, int depth, int wrapDepth, bool unclosedAllowed, bool ul,
                      bool& dtOpen, bool inTable = false) {
    std::string out;
    const int n = between(1, 4);
    for (int k = 0; k < n; ++k) {
      const int r = between(0, 9);
      if (r < 3 && wrapDepth < 3) {
        const Wrapper& w = pick(inTable);
        const bool closed = w.table || !unclosedAllowed || chance(1, 2);
        // An item left open before a table holding more items stays open (in browsers too), and
        // an item end put in later for a list inside may then reach it: not a shape of this test.
        if (w.table && dtOpen) out += "</DT>";
        if (w.table) dtOpen = false;
        out += w.open + "\n" +
               content(folder, depth, wrapDepth + 1, unclosedAllowed && !w.table, ul, dtOpen, inTable || (w.table && !w.part));
        if (closed) out += w.close + "\n";
        // What follows an unclosed element stands inside it: still the same list.
      } else if (r < 5 && !ul && depth < 3) {
        const std::string name = "G" + std::to_string(++folders_);
        bool inner = false;
        out += "<DT><H3>" + name + "</H3>\n<DL><p>\n" +
               content(folder + "/" + name, depth + 1, 0, true, false, inner, inTable) + "</DL><p>\n";
        dtOpen = false;
      } else if (r < 6 && !ul) {
        // A plain list inside a bookmark list: its items are the list's.
        out += "<UL>\n";
        for (int i = between(1, 3); i > 0; --i) out += "<LI>" + inlineWrapped(link(folder, false)) + "\n";
        out += "</UL>\n";
      } else if (r < 7) {
        out += inlineWrapped(link(folder, false)) + "\n";  // outside any item
      } else if (ul) {
        out += "<LI>" + inlineWrapped(link(folder, false)) + "\n";
      } else {
        const bool notes = chance(1, 3);
        out += "<DT>" + inlineWrapped(link(folder, notes)) + "\n";
        dtOpen = !notes;
        // Closed: what follows an open DD is part of its text.
        if (notes) out += "<DD>" + items_.back().notes + "</DD>\n";
      }
    }
    return out;
  }

  std::mt19937 rng_;
  std::string html_;
  std::vector<Item> items_;
  int count_ = 0, folders_ = 0;
};

// Each generated file: every link as libxml2's own tree holds it is accounted for, and every item
// is stored with its title and notes. (Where an item left open meets a table holding more items,
// a list inside may still end early: the folders are checked by the shapes above.)
TEST(HTMLImportMarkup, GeneratedFilesStoreEveryItemWhereItStands) {
  for (unsigned seed = 1; seed <= 400; ++seed) {
    const MarkupFile file(seed);
    const std::string what = "seed " + std::to_string(seed);
    Reading r = readMarkup(file.html());
    const std::size_t links = linksByTheParser(file.html());
    expectEveryLinkAccountedFor(r.records, links, what);
    EXPECT_EQ(links, file.items().size()) << what;
    EXPECT_EQ(r.records.unread, 0u) << what;
    EXPECT_EQ(r.records.bookmarks.size(), file.items().size()) << what;
    bool placed = r.records.bookmarks.size() == file.items().size();
    for (const auto& item : file.items()) {
      auto it = r.byAddress.find(item.url);
      if (it == r.byAddress.end()) {
        ADD_FAILURE() << what << ": " << item.url << " not stored";
        placed = false;
        continue;
      }
      EXPECT_EQ(it->second.title, item.title) << what << ": " << item.url;
      EXPECT_EQ(it->second.notes, item.notes) << what << ": " << item.url;
      placed = placed && it->second.title == item.title && it->second.notes == item.notes;
    }
    if (!placed) {
      ADD_FAILURE() << what << " file:\n" << file.html();
      if (!std::getenv("KEEP_GOING")) break;
    }
  }
}

}  // namespace markup
}  // namespace kesto::test
