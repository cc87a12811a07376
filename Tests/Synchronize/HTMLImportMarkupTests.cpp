// Markup that is not the bookmark file's own around its items, and the rule every link of a
// file follows: it is stored, left out for a reason the import states, or counted as not read.
#include "Synchronize/HTMLImportReader.h"

#include "MarkupGenerator.h"
#include "ReadFolderPaths.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <map>
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
  EXPECT_TRUE(readPlaced(html, out.records, [&](const HTMLImportRecords::Bookmark& b, const std::string& folder) {
    out.byAddress[b.url] = {folder, b.title, b.notes};
    ++out.perFolder[folder];
  }));
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

// A file and where each link lands: the folder path of every address "https://NAME.example/" by
// NAME.
struct Placement {
  std::string name, html;
  std::map<std::string, std::string> where;
};

void expectPlaced(const Placement& c) {
  Reading r = readMarkup(c.html);
  std::map<std::string, std::string> got;
  for (const auto& [url, placed] : r.byAddress) got[url.substr(8, url.find(".example/") - 8)] = placed.folder;
  EXPECT_EQ(got, c.where) << c.name;
  expectEveryLinkAccountedFor(r.records, linksByTheParser(c.html), c.name);
}

// The end tag of an element a browser ends lists for only when they are inside it: libxml2 let
// it end every list up to another element of the name further out, where libxml2 had ended the
// one it belongs to before (a P or CENTER start ends a B or FONT, an item's end what is in the
// item), and folders came out one level too high.
TEST(HTMLImportMarkup, EndTagsOfOtherElementsEndOnlyWhatTheyHold) {
  const Placement cases[] = {
      {"B around folders, the inner one ended early by a P",
       "<H1>Top</H1><DL><p><B><DT><H3>G</H3><DL><p><B><DT><H3>H</H3><DL><p><DT>"
       "<A HREF=\"https://a1.example/\">a1</A></DL><p></B><DT><A HREF=\"https://a2.example/\">a2</A>"
       "</DL><p></B><DT><A HREF=\"https://a3.example/\">a3</A></DL><p>",
       {{"a1", "Top/G/H"}, {"a2", "Top/G"}, {"a3", "Top"}}},
      {"SPAN in an item ended by the next item",
       "<H1>Top</H1><DL><p><SPAN><DT><H3>G</H3><DL><p><DT><A HREF=\"https://a1.example/\">a1</A><DT>"
       "<SPAN>x <A HREF=\"https://a2.example/\">a2</A><DT><A HREF=\"https://a3.example/\">a3</A>"
       "</SPAN><DT><A HREF=\"https://a4.example/\">a4</A></DL><p></SPAN></DL><p>",
       {{"a1", "Top/G"}, {"a2", "Top/G"}, {"a3", "Top/G"}, {"a4", "Top/G"}}},
      {"BLOCKQUOTE in an open item holding items and a folder",
       "<H1>Top</H1><DL><p><BLOCKQUOTE><DT><H3>G</H3><DL><p><DT><A HREF=\"https://a1.example/\">a1"
       "</A><BLOCKQUOTE><DT><A HREF=\"https://a2.example/\">a2</A><DT><H3>H</H3><DL><p><DT>"
       "<A HREF=\"https://a3.example/\">a3</A></DL><p></BLOCKQUOTE><DT>"
       "<A HREF=\"https://a4.example/\">a4</A></DL><p></BLOCKQUOTE><DT>"
       "<A HREF=\"https://a5.example/\">a5</A></DL><p>",
       {{"a1", "Top/G"}, {"a2", "Top/G"}, {"a3", "Top/G/H"}, {"a4", "Top/G"}, {"a5", "Top"}}},
      {"SECTION in an open item holding a folder, DIV in an item",
       "<H1>Top</H1><DL><p><SECTION><DT><H3>G</H3><DL><p><DT><A HREF=\"https://a1.example/\">a1</A>"
       "<SECTION><DT><H3>H</H3><DL><p><DT><A HREF=\"https://a2.example/\">a2</A></DL><p><DIV><DT>"
       "<A HREF=\"https://a3.example/\">a3</A></DIV></SECTION><DT><A HREF=\"https://a4.example/\">a4"
       "</A></DL><p></SECTION><DT><A HREF=\"https://a5.example/\">a5</A></DL><p>",
       {{"a1", "Top/G"}, {"a2", "Top/G/H"}, {"a3", "Top/G"}, {"a4", "Top/G"}, {"a5", "Top"}}},
      {"DIV in a FORM in an open item (a browser nests the next item in it; libxml2 sees no FORM)",
       "<H1>Top</H1><DL><p><DIV><DT><H3>G</H3><DL><p><DT><A HREF=\"https://a1.example/\">a1</A><FORM><DIV>"
       "<DT><A HREF=\"https://a2.example/\">a2</A></DIV></FORM><DT><A HREF=\"https://a3.example/\">a3</A>"
       "</DL><p></DIV><DT><A HREF=\"https://a4.example/\">a4</A></DL><p>",
       {{"a1", "Top/G"}, {"a2", "Top/G"}, {"a3", "Top/G"}, {"a4", "Top"}}},
      {"CENTER between a heading and its list",
       "<H1>Top</H1><DL><p><CENTER><DT><H3>F</H3><DL><p><DT><H3>G</H3><CENTER><DL><p><DT>"
       "<A HREF=\"https://a1.example/\">a1</A></DL><p></CENTER><DT><A HREF=\"https://a2.example/\">a2</A>"
       "</DL><p></CENTER><DT><A HREF=\"https://a3.example/\">a3</A></DL><p>",
       {{"a1", "Top/F/G"}, {"a2", "Top/F"}, {"a3", "Top"}}},
      {"the end of an element outside the table, in its cell",
       "<H1>Top</H1><DL><p><CENTER><DT><H3>F</H3><DL><p><TABLE><TR><TD></CENTER><DT>"
       "<A HREF=\"https://a1.example/\">a1</A></TD></TR></TABLE><DT><A HREF=\"https://a2.example/\">a2</A>"
       "</DL><p></CENTER><DT><A HREF=\"https://a3.example/\">a3</A></DL><p>",
       {{"a1", "Top/F"}, {"a2", "Top/F"}, {"a3", "Top"}}},
  };
  for (const auto& c : cases) expectPlaced(c);
}

// An element a FORM keeps a new item from ending stays open around that item in a browser, and
// its end tag ends the item and what the item holds, and nothing outside it: folders in wrappers
// after it stay in the folder they stand in (read as ending nothing, it left the item open, and
// the wrappers' end tags after it ended a folder further out).
TEST(HTMLImportMarkup, TheEndOfAnElementAFormKeptOpenEndsOnlyWhatItHolds) {
  const auto a = [](const std::string& name) { return "<A HREF=\"https://" + name + ".example/\">" + name + "</A>"; };
  expectPlaced({"DIV in a FORM in an item, a folder in DIVs after its end",
                "<H1>Top</H1><DL><p><DIV><DT><H3>G</H3><DL><p><DT>" + a("a1") + "<FORM><DIV><DT>" + a("a2") +
                    "</DIV><DIV><DIV><DT><H3>H</H3><DL><p><DT>" + a("a3") + "</DL><p></DIV></DIV></FORM><DT>" +
                    a("a4") + "</DL><p></DIV><DT>" + a("a5") + "</DL><p>",
                {{"a1", "Top/G"}, {"a2", "Top/G"}, {"a3", "Top/G/H"}, {"a4", "Top/G"}, {"a5", "Top"}}});
  expectPlaced({"the same after a FORM that an item's FORM end took out",
                "<H1>Top</H1><DL><p><DIV><DT><H3>G</H3><DL><p><FORM><DT>" + a("a1") + "</FORM><FORM><DIV><DT>" +
                    a("a2") + "</DIV><DIV><DT>" + a("a3") + "</FORM></DL><p></DIV><DT>" + a("a4") + "</DL><p>",
                {{"a1", "Top/G"}, {"a2", "Top/G"}, {"a3", "Top/G"}, {"a4", "Top"}}});
  // Folders in DIV and CENTER wrappers around a FORM, in a table's heading cell, as a browser
  // places each bookmark.
  Reading r = readMarkup(readFile(std::string(KESTO_TEST_DATA_DIR) + "/Import/folders-around-a-form.html"));
  std::map<std::string, std::string> got;
  for (const auto& [url, placed] : r.byAddress) got[url] = placed.folder;
  const std::map<std::string, std::string> browser{
      {"https://i1.example/", "Top/G1"},          {"https://i2.example/", "Top/G1"},
      {"https://i3.example/", "Top/G1/G2/G3"},    {"https://i4.example/", "Top/G1/G4/G5"},
      {"https://i5.example/", "Top/G1/G6/G7"},    {"https://i6.example/", "Top/G1/G8/G9"},
      {"https://i7.example/", "Top/G1/G10/G11"},  {"https://i8.example/", "Top/G12/G13/G14"},
      {"https://i9.example/", "Top/G15/G16/G17"}, {"https://i10.example/", "List/G18/G19/G20"}};
  EXPECT_EQ(got, browser);
  EXPECT_EQ(r.records.unread, 0u);
}

// A list's end ends the DIVs opened in it, as a browser's does: what follows the list is no
// longer inside it (libxml2 let no end tag but a DIV's end a DIV).
TEST(HTMLImportMarkup, AListsEndEndsTheDivsOpenedInIt) {
  const Placement cases[] = {
      {"UL",
       "<TITLE>Links</TITLE><H1>Links</H1><UL><LI><A HREF=\"https://a1.example/\">a1</A><LI><DIV>"
       "<A HREF=\"https://a2.example/\">a2</A><LI><A HREF=\"https://a3.example/\">a3</A></UL>"
       "<H1>After</H1><DL><p><DT><A HREF=\"https://b1.example/\">b1</A></DL><p>",
       {{"a1", "Links"}, {"a2", "Links"}, {"a3", "Links"}, {"b1", "After"}}},
      {"OL",
       "<TITLE>Links</TITLE><H1>Links</H1><OL><LI><A HREF=\"https://a1.example/\">a1</A><LI><DIV>"
       "<A HREF=\"https://a2.example/\">a2</A><LI><A HREF=\"https://a3.example/\">a3</A></OL>"
       "<H1>After</H1><DL><p><DT><A HREF=\"https://b1.example/\">b1</A></DL><p>",
       {{"a1", "Links"}, {"a2", "Links"}, {"a3", "Links"}, {"b1", "After"}}},
      {"UL in a DL, a folder after it",
       "<H1>Top</H1><DL><p><DT><H3>F</H3><DL><p><UL><LI><A HREF=\"https://a1.example/\">a1</A><DIV>"
       "<LI><A HREF=\"https://a2.example/\">a2</A></UL><DT><H3>G</H3><DL><p><DT>"
       "<A HREF=\"https://a3.example/\">a3</A></DL><p></DL><p><DT><A HREF=\"https://b1.example/\">b1"
       "</A></DL><p>",
       {{"a1", "Top/F"}, {"a2", "Top/F"}, {"a3", "Top/F/G"}, {"b1", "Top"}}},
      {"UL in an LI",
       "<H1>Links</H1><UL><LI><A HREF=\"https://a1.example/\">a1</A><UL><LI><DIV CLASS=\"x\">"
       "<A HREF=\"https://a2.example/\">a2</A><LI><A HREF=\"https://a3.example/\">a3</A></UL><LI>"
       "<A HREF=\"https://a4.example/\">a4</A></UL><H1>After</H1><DL><p><DT>"
       "<A HREF=\"https://b1.example/\">b1</A></DL><p>",
       {{"a1", "Links"}, {"a2", "Links"}, {"a3", "Links"}, {"a4", "Links"}, {"b1", "After"}}},
  };
  for (const auto& c : cases) expectPlaced(c);
}

// A file and its bookmarks in the order they must be stored: "NAME FOLDER" for each address
// "https://NAME.example/", the folder path from the receiving folder.
struct Ordered {
  std::string name, html;
  std::vector<std::string> stored;
  HTMLImportRecords::Kind kind = HTMLImportRecords::Kind::Netscape;
};

void expectStoredInOrder(const Ordered& c) {
  Reading r = readMarkup(c.html);
  const std::vector<std::string> folders = bookmarkFolderPaths(r.records);
  std::vector<std::string> got;
  for (std::size_t i = 0; i < r.records.bookmarks.size(); ++i) {
    const auto& b = r.records.bookmarks[i];
    got.push_back(b.url.substr(8, b.url.find(".example/") - 8) + " " + folders[i]);
  }
  EXPECT_EQ(got, c.stored) << c.name;
  EXPECT_EQ(r.records.kind, c.kind) << c.name;
  EXPECT_EQ(r.records.unread, 0u) << c.name;
  expectEveryLinkAccountedFor(r.records, linksByTheParser(c.html), c.name);
}

// A heading and its list make a folder inside UL, OL and LI lists as inside a DL, as browsers'
// importers read them; a list with no heading adds none. What the file holds comes in its order.
// A reading list's lists stay one folder each.
TEST(HTMLImportMarkup, FoldersInsideULAndOLListsAreFolders) {
  const auto a = [](const std::string& name) {
    return "<A HREF=\"https://" + name + ".example/\">" + name + "</A>\n";
  };
  const std::string folderF = "<DT><H3>F</H3>\n<DL><p>\n<DT>" + a("f1") + "<DT>" + a("f2") + "</DL><p>\n";
  const std::vector<std::string> firstFAfter{"first Untitled", "f1 Untitled/F", "f2 Untitled/F", "after Untitled"};
  const std::string workProjects = "<LI>" + a("top") + "<LI><H3>Work</H3>\n<UL><LI>" + a("w1") +
                                   "<LI><H3>Projects</H3>\n<UL><LI>" + a("p1") + "</UL></UL>";
  const Ordered cases[] = {
      {"UL LI, unclosed", "<DL><p>\n<DT>" + a("first") + "<UL><LI>\n" + folderF + "<DT>" + a("after") + "</DL>\n",
       firstFAfter},
      {"OL LI, unclosed", "<DL><p>\n<DT>" + a("first") + "<OL><LI>\n" + folderF + "<DT>" + a("after") + "</DL>\n",
       firstFAfter},
      {"UL without LI", "<DL><p>\n<DT>" + a("first") + "<UL>\n" + folderF + "<DT>" + a("after") + "</DL>\n",
       firstFAfter},
      {"UL LI, closed before the last bookmark",
       "<DL><p>\n<DT>" + a("first") + "<UL><LI>\n" + folderF + "</UL>\n<DT>" + a("after") + "</DL>\n", firstFAfter},
      {"OL, closed after the last bookmark",
       "<DL><p>\n<DT>" + a("first") + "<OL>\n" + folderF + "<DT>" + a("after") + "</OL>\n</DL>\n", firstFAfter},
      {"a list of lists with headings", "<UL>" + workProjects + "</UL>",
       {"top Untitled", "w1 Untitled/Work", "p1 Untitled/Work/Projects"}},
      {"the same in a folder, and an OL list",
       "<H1>Top</H1><DL><p><DT>" + a("first") + "<OL>" + workProjects + "<LI><H3>Later</H3><OL><LI>" + a("l1") +
           "</OL><LI>" + a("last") + "</OL><DT>" + a("after") + "</DL>",
       {"first Top", "top Top", "w1 Top/Work", "p1 Top/Work/Projects", "l1 Top/Later", "last Top", "after Top"}},
      {"an OL in an LI of a UL, and a list after it",
       "<H3>Links</H3><UL><LI>" + a("top") + "<LI><H3>Work</H3><OL><LI>" + a("w1") + "</OL><LI>" + a("after") +
           "</UL>\n<H1>Next</H1><DL><p><DT>" + a("n1") + "</DL>",
       {"top Links", "w1 Links/Work", "after Links", "n1 Next"}},
      {"a heading DT before a UL", "<DL><p><DT><H3>X</H3>\n<UL><LI>" + a("x1") + "</UL><DT>" + a("y") + "</DL>",
       {"x1 Untitled/X", "y Untitled"}},
      {"lists without a heading add no folder",
       "<DL><p><DT>" + a("a") + "<UL><LI>" + a("b") + "<OL><LI>" + a("c") + "</OL><LI>" + a("d") + "</UL><DT>" + a("e") +
           "</DL>",
       {"a Untitled", "b Untitled", "c Untitled", "d Untitled", "e Untitled"}},
      {"a reading list", "<TITLE>Pocket Export</TITLE><H1>Unread</H1><UL><LI>" + a("a") + "<LI><H3>Work</H3><UL><LI>" +
           a("w1") + "</UL><LI>" + a("b") + "</UL>",
       {"a Unread", "w1 Unread", "b Unread"}, HTMLImportRecords::Kind::Pocket},
  };
  for (const auto& c : cases) expectStoredInOrder(c);
}

// ---- files made at random ----------------------------------------------------------------------

// Each generated file: every link as libxml2's own tree holds it is accounted for, and every item
// is stored in the folder a browser's DOM puts it in, with its title and notes, in the file's
// order; folders stand in DL, UL and OL lists.
TEST(HTMLImportMarkup, GeneratedFilesStoreEveryItemWhereItStands) {
  int foldersInLists = 0;
  for (unsigned seed = 1; seed <= 1000; ++seed) {
    const MarkupFile file = MarkupFile::fromSeed(seed);
    const std::string what = "seed " + std::to_string(seed);
    foldersInLists += file.foldersInLists();
    Reading r = readMarkup(file.html());
    const std::size_t links = linksByTheParser(file.html());
    expectEveryLinkAccountedFor(r.records, links, what);
    EXPECT_EQ(links, file.items().size()) << what;
    EXPECT_EQ(r.records.unread, 0u) << what;
    EXPECT_EQ(r.records.bookmarks.size(), file.items().size()) << what;
    bool placed = r.records.bookmarks.size() == file.items().size();
    for (const auto& item : file.items()) {
      auto it = r.byAddress.find(item.url);
      const Placed want{item.folder, item.title, item.notes};
      const Placed got = it == r.byAddress.end() ? Placed{"(not stored)", "", ""} : it->second;
      EXPECT_EQ(got.folder + " | " + got.title + " | " + got.notes, want.folder + " | " + want.title + " | " + want.notes)
          << what << ": " << item.url;
      placed = placed && got.folder == want.folder && got.title == want.title && got.notes == want.notes;
    }
    std::vector<std::string> order, written;
    for (const auto& b : r.records.bookmarks) order.push_back(b.url);
    for (const auto& item : file.items()) written.push_back(item.url);
    EXPECT_EQ(order, written) << what << ": the order of the stored bookmarks";
    placed = placed && order == written;
    if (!placed) {
      // One file's worth of failures, with the file to read them by.
      ADD_FAILURE() << what << " file:\n" << file.html();
      break;
    }
  }
  EXPECT_GT(foldersInLists, 1000);
}

}  // namespace markup
}  // namespace kesto::test
