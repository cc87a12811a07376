#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/HtmlDocument.h"

#include <gtest/gtest.h>

using namespace kesto::fnd;

namespace {

// As browsers export bookmarks: upper-case names, unclosed DT/DD/P, folders as DT+H3 then DL.
const char* kNetscape =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\r\n"
    "<TITLE>Bookmarks</TITLE>\r\n"
    "<H1>Bookmarks</H1>\r\n"
    "<DL><p>\r\n"
    "    <DT><A HREF=\"http://a.example/\" TAGS=\"one,two_words\">Site A</A>\r\n"
    "    <DD>About A\r\nsecond line\r\n"
    "    <DT><H3 ADD_DATE=\"1\" FOLDED>Folder</H3>\r\n"
    "    <DL><p>\r\n"
    "        <DT><A HREF=\"http://b.example/\">Site B</A>\r\n"
    "        <DT><H3>Inner</H3>\r\n"
    "        <DL><p>\r\n"
    "            <DT><A HREF=\"http://c.example/\">Site C</A>\r\n"
    "        </DL><p>\r\n"
    "    </DL><p>\r\n"
    "    <DT><A HREF=\"javascript:void(0)\">Script</A>\r\n"
    "</DL><p>\r\n";

std::shared_ptr<XmlDocument> parse(std::string_view html) {
  Error error;
  auto doc = HtmlDocument::parse(html, &error);
  EXPECT_TRUE(doc) << error.localizedDescription();
  return doc;
}

}  // namespace

TEST(HtmlDocument, BookmarkFileBecomesTheTidyTree) {
  auto doc = parse(kNetscape);
  ASSERT_TRUE(doc);
  XmlNode body = doc->firstNodeForXPath("/html/body");
  ASSERT_TRUE(body);
  EXPECT_EQ(doc->firstNodeForXPath("/html/head/title").stringValue(), "Bookmarks");
  auto lists = body.nodesForXPath("dl");
  ASSERT_EQ(lists.size(), 1u);
  // White space between blocks is gone: the heading is the list's previous sibling.
  EXPECT_EQ(lists[0].previousSibling().name(), "h1");
  XmlNode top = lists[0];

  auto items = top.nodesForXPath("dt");
  ASSERT_EQ(items.size(), 2u);  // Site A and the script link; the folder became a DD
  EXPECT_EQ(items[0].firstNodeForXPath("a/@href").stringValue(), "http://a.example/");
  EXPECT_EQ(items[0].firstNodeForXPath("a/@tags").stringValue(), "one,two_words");
  EXPECT_EQ(items[0].firstNodeForXPath("a").stringValue(), "Site A");
  XmlNode notes = items[0].firstNodeForXPath("following-sibling::*[1][self::dd]");
  ASSERT_TRUE(notes);
  EXPECT_EQ(notes.stringValue().substr(0, 20), "About A\nsecond line\n");  // CR LF became LF
  EXPECT_EQ(notes.stringValue().find('\r'), std::string::npos);

  auto headers = top.nodesForXPath("dd/h3");
  auto sublists = top.nodesForXPath("dd/dl");
  ASSERT_EQ(headers.size(), 1u);
  ASSERT_EQ(sublists.size(), 1u);
  EXPECT_EQ(headers[0].stringValue(), "Folder");
  EXPECT_TRUE(headers[0].hasAttribute("folded"));
  EXPECT_EQ(sublists[0].nodesForXPath("dt").size(), 1u);
  EXPECT_EQ(sublists[0].firstNodeForXPath("dt/a").stringValue(), "Site B");
  ASSERT_EQ(sublists[0].nodesForXPath("dd/h3").size(), 1u);
  EXPECT_EQ(sublists[0].firstNodeForXPath("dd/h3").stringValue(), "Inner");
  EXPECT_EQ(sublists[0].firstNodeForXPath("dd/dl/dt/a/@href").stringValue(), "http://c.example/");
  // Paragraphs are gone everywhere.
  EXPECT_TRUE(doc->nodesForXPath("//p").empty());
  EXPECT_EQ(doc->nodesForXPath("//dt").size(), 4u);
}

// The layout browsers of the Chromium family write, nested three levels deep.
TEST(HtmlDocument, NestedFoldersOfABrowserExportKeepTheirItems) {
  auto doc = parse(
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- This is an automatically generated file.\n"
    "     It will be read and overwritten.\n"
    "     DO NOT EDIT! -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n"
    "<DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1\" LAST_MODIFIED=\"2\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://a/\" ADD_DATE=\"3\">A</A>\n"
    "        <DT><H3 ADD_DATE=\"4\">Sub</H3>\n"
    "        <DL><p>\n"
    "            <DT><A HREF=\"https://b/\">B</A>\n"
    "        </DL><p>\n"
    "        <DT><A HREF=\"https://c/\">C</A>\n"
    "        <DD>notes for C\n"
    "        <DT><H3>Empty</H3>\n"
    "        <DL><p>\n"
    "        </DL><p>\n"
    "        <DT><A HREF=\"https://d/\">D &amp; E</A>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=\"https://top/\">Top</A>\n"
    "</DL><p>\n");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->firstNodeForXPath("/html/body").xmlString(),
            "<body><h1>Bookmarks</h1><dl><dd><h3 add_date=\"1\" last_modified=\"2\" "
            "personal_toolbar_folder=\"true\">Bookmarks bar</h3><dl><dt><a href=\"https://a/\" add_date=\"3\">A</a>"
            "</dt><dd><h3 add_date=\"4\">Sub</h3><dl><dt><a href=\"https://b/\">B</a></dt></dl></dd><dt>"
            "<a href=\"https://c/\">C</a></dt><dd>notes for C\n        </dd><dd><h3>Empty</h3><dl/></dd><dt>"
            "<a href=\"https://d/\">D &amp; E</a></dt></dl></dd><dt><a href=\"https://top/\">Top</a></dt></dl></body>");
}

// As one browser exports: the toolbar folder carries a description DD between its heading and
// its list. The description must not take in the list, nor the folders after it.
TEST(HtmlDocument, FolderDescriptionsLeaveTheFolderListInPlace) {
  auto doc = parse(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n"
      "<H1>Bookmarks Menu</H1>\n"
      "<DL><p>\n"
      "    <DT><H3 ADD_DATE=\"1\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks Toolbar</H3>\n"
      "    <DD>Add bookmarks to this folder to see them displayed on the Bookmarks Toolbar\n"
      "    <DL><p>\n"
      "        <DT><A HREF=\"https://a/\" TITLE=\"<dl> in a value\">A</A>\n"
      "        <DT><H3>Sub</H3>\n"
      "        <DD>About Sub <!-- <dl> --> &lt;DL&gt; is a list\n"
      "        <DL><p>\n"
      "            <DT><A HREF=\"https://b/\">B</A>\n"
      "            <DD>notes for B\n"
      "        </DL><p>\n"
      "        <DT><A HREF=\"https://c/\">C</A>\n"
      "    </DL><p>\n"
      "    <DT><H3>Other</H3>\n"
      "    <DL><p>\n"
      "        <DT><A HREF=\"https://d/\">D</A>\n"
      "    </DL><p>\n"
      "    <DD><H3>Written as a definition</H3>\n"
      "    <DL><p>\n"
      "        <DT><A HREF=\"https://e/\">E</A>\n"
      "    </DL><p>\n"
      "    <DT><A HREF=\"https://top/\">Top</A>\n"
      "</DL><p>\n");
  ASSERT_TRUE(doc);
  XmlNode top = doc->firstNodeForXPath("/html/body/dl");
  ASSERT_TRUE(top);
  // Every folder is a DD holding its heading and list, at the level it was written.
  auto folders = top.nodesForXPath("dd[h3]");
  ASSERT_EQ(folders.size(), 3u) << top.xmlString();
  EXPECT_EQ(folders[0].firstNodeForXPath("h3").stringValue(), "Bookmarks Toolbar");
  EXPECT_EQ(folders[1].firstNodeForXPath("h3").stringValue(), "Other");
  EXPECT_EQ(folders[2].firstNodeForXPath("h3").stringValue(), "Written as a definition");
  std::vector<std::string> toolbar;
  for (const XmlNode& a : folders[0].nodesForXPath("dl/dt/a")) toolbar.push_back(a.stringValue());
  EXPECT_EQ(toolbar, (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(folders[0].firstNodeForXPath("dl/dt/a/@title").stringValue(), "<dl> in a value");
  XmlNode sub = folders[0].firstNodeForXPath("dl/dd[h3]");
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub.firstNodeForXPath("h3").stringValue(), "Sub");
  EXPECT_EQ(sub.firstNodeForXPath("dl/dt/a").stringValue(), "B");
  EXPECT_EQ(folders[1].firstNodeForXPath("dl/dt/a").stringValue(), "D");
  EXPECT_EQ(folders[2].firstNodeForXPath("dl/dt/a").stringValue(), "E");
  // Descriptions stay as plain DDs right after their folder; the item after them is the top's.
  XmlNode description = folders[0].firstNodeForXPath("following-sibling::*[1]");
  EXPECT_EQ(description.name(), "dd");
  EXPECT_EQ(description.stringValue().substr(0, 16), "Add bookmarks to");
  EXPECT_FALSE(description.firstNodeForXPath("dl"));
  EXPECT_EQ(doc->firstNodeForXPath("//comment()").stringValue(), " <dl> ");
  auto items = top.nodesForXPath("dt/a");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].stringValue(), "Top");
}

// The parser nests an unclosed DT in the one before it; past its depth limit the rest of a
// long list would be dropped.
TEST(HtmlDocument, LongListsStayFlatAndComplete) {
  std::string html = "<H1>Bookmarks</H1>\n<DL><p>\n<DT><H3>Folder</H3>\n<DL><p>\n";
  for (int i = 0; i < 3000; ++i) {
    html += "<DT><A HREF=\"http://example.com/" + std::to_string(i) + "\">T</A>\n";
    if (i % 2 == 0) html += "<DD>note " + std::to_string(i) + "\n<DD>second dd\n";
  }
  html += "</DL><p>\n<DT><A HREF=\"http://after.example/\">After</A>\n</DL><p>\n";
  auto doc = parse(html);
  ASSERT_TRUE(doc);
  XmlNode folder = doc->firstNodeForXPath("/html/body/dl/dd/dl");
  ASSERT_TRUE(folder);
  auto items = folder.nodesForXPath("dt");
  ASSERT_EQ(items.size(), 3000u);
  EXPECT_EQ(items[2999].firstNodeForXPath("a/@href").stringValue(), "http://example.com/2999");
  std::size_t notes = 0;
  for (const XmlNode& dt : items)
    if (XmlNode dd = dt.firstNodeForXPath("following-sibling::*[1][self::dd]")) {
      ++notes;
      EXPECT_EQ(dd.stringValue().substr(0, 5), "note ");
    }
  EXPECT_EQ(notes, 1500u);
  EXPECT_EQ(folder.nodesForXPath("dd").size(), 3000u);
  EXPECT_EQ(doc->firstNodeForXPath("/html/body/dl/dt/a").stringValue(), "After");
}

TEST(HtmlDocument, ItemRepairLeavesCommentsAttributesAndScriptsAlone) {
  auto doc = parse(
      "<DL><DT><A HREF=\"x\" TITLE=\"a<dt>b\" DATA=text>A</A><!-- <dt> kept --><script>var s=\"<dd>\";</script>"
      "<DT><A HREF='y'>B</A></DL>");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->firstNodeForXPath("//a/@title").stringValue(), "a<dt>b");
  EXPECT_EQ(doc->firstNodeForXPath("//comment()").stringValue(), " <dt> kept ");
  EXPECT_EQ(doc->firstNodeForXPath("//script").stringValue(), "var s=\"<dd>\";");
  EXPECT_EQ(doc->nodesForXPath("//dt").size(), 2u);
  EXPECT_EQ(doc->nodesForXPath("//dt/dt").size(), 0u);
}

// The tree holds what a browser's document holds: no element in what it reads as text, none of
// a template's, an SVG's STYLE is no raw text, a tag cut off by the end is none.
TEST(HtmlDocument, WhatABrowserReadsAsTextHoldsNoElements) {
  auto doc = parse(
      "<TITLE>A <b>&amp;</b></TITLE><DL><DT><A HREF=\"x\">X</A><textarea><DT><A HREF=\"in\">in</A></DL></textarea>"
      "<iframe><a href=\"in\"></a></iframe><template><a href=\"in\"></a></template><!x </DL> >"
      "<svg><style><DT><A HREF=\"y\">Y</A></DL><p><a href=\"z\">Z</a><a href=\"cut");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->firstNodeForXPath("/html/head/title").stringValue(), "A <b>&</b>");
  EXPECT_EQ(doc->firstNodeForXPath("//textarea").stringValue(), "<DT><A HREF=\"in\">in</A></DL>");
  EXPECT_EQ(doc->nodesForXPath("//a").size(), 3u);
  EXPECT_EQ(doc->nodesForXPath("/html/body/dl//a").size(), 2u);
  EXPECT_EQ(doc->firstNodeForXPath("//comment()").stringValue(), "x </DL");
}

TEST(HtmlDocument, BrokenMarkupIsRecoveredAndSkeletonGuaranteed) {
  auto doc = parse("<B>bold<I>both</B> tail <ul><li>one<li>two</ul><div><table><td>cell");
  ASSERT_TRUE(doc);
  EXPECT_TRUE(doc->firstNodeForXPath("/html/head/title"));
  EXPECT_EQ(doc->firstNodeForXPath("/html/head/title").stringValue(), "");
  EXPECT_EQ(doc->nodesForXPath("/html/body//li").size(), 2u);
  EXPECT_EQ(doc->firstNodeForXPath("//td").stringValue(), "cell");
  EXPECT_EQ(doc->firstNodeForXPath("//b").name(), "b");

  for (const char* odd : {"", "   ", "plain text only", "<html>", "</html></body>", "<title>T</title>",
                          "<frameset><frame src=\"http://127.0.0.1:9/\"></frameset>", "\x00\x01\x02"}) {
    auto d = parse(odd);
    ASSERT_TRUE(d) << odd;
    EXPECT_TRUE(d->firstNodeForXPath("/html/body")) << odd;
    EXPECT_TRUE(d->firstNodeForXPath("/html/head/title")) << odd;
  }
  EXPECT_EQ(parse("<title>T</title>")->firstNodeForXPath("/html/head/title").stringValue(), "T");
  // Named and numeric character references are decoded.
  EXPECT_EQ(parse("<b>caf&eacute; &amp; &#x263A;</b>")->firstNodeForXPath("//b").stringValue(),
            "caf\xC3\xA9 & \xE2\x98\xBA");
  // Nesting is bounded by the parser, so walking the tree cannot exhaust the stack.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<div>";
  auto nested = parse(deep);
  ASSERT_TRUE(nested);
  EXPECT_LT(nested->nodesForXPath("//div").size(), 1000u);
}

TEST(HtmlDocument, ReadingListExportsKeepHeadingsAndLists) {
  auto doc = parse(
      "<!DOCTYPE html><html><head><title>Pocket Export</title></head><body>\n"
      "<h1>Unread</h1>\n<ul>\n<li><a href=\"http://x.example\" tags=\"t\">X</a></li>\n</ul>\n"
      "<h1>Read Archive</h1>\n<ul>\n<li><a href=\"http://y.example\">Y</a></li>\n</ul>\n</body></html>");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->firstNodeForXPath("/html/head/title").stringValue(), "Pocket Export");
  XmlNode body = doc->firstNodeForXPath("/html/body");
  auto headings = body.nodesForXPath("h1");
  auto lists = body.nodesForXPath("ul");
  ASSERT_EQ(headings.size(), 2u);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(headings[1].stringValue(), "Read Archive");
  EXPECT_EQ(lists[1].firstNodeForXPath("li/a/@href").stringValue(), "http://y.example");
  EXPECT_TRUE(doc->nodesForXPath("//dt").empty());
}

TEST(HtmlDocument, CharsetFromBomThenMetaThenUtf8) {
  // No declaration: UTF-8, not Latin-1.
  EXPECT_EQ(parse("<p>caf\xC3\xA9</p>")->firstNodeForXPath("/html/body").stringValue(), "caf\xC3\xA9");
  // A declared single-byte charset.
  EXPECT_EQ(parse("<meta charset=\"windows-1252\"><p>caf\xE9 \x80</p>")->firstNodeForXPath("/html/body").stringValue(),
            "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(parse("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\"><b>\xE9</b>")
                ->firstNodeForXPath("//b")
                .stringValue(),
            "\xC3\xA9");
  // A byte-order mark wins over a declaration.
  const std::string utf16("\xFF\xFE<\0b\0>\0\xE9\0<\0/\0b\0>\0", 18);
  EXPECT_EQ(parse(utf16)->firstNodeForXPath("//b").stringValue(), "\xC3\xA9");
  EXPECT_EQ(parse("\xEF\xBB\xBF<meta charset=\"iso-8859-1\"><b>\xC3\xA9</b>")->firstNodeForXPath("//b").stringValue(),
            "\xC3\xA9");
  // A bogus charset name falls back to UTF-8.
  EXPECT_EQ(parse("<meta charset=\"no-such-set\"><b>\xC3\xA9</b>")->firstNodeForXPath("//b").stringValue(),
            "\xC3\xA9");
}

TEST(HtmlDocument, OversizedInputIsRefused) {
  Error error;
  EXPECT_FALSE(HtmlDocument::parse(std::string(100, 'x'), &error, 50));
  EXPECT_EQ(error.code(), XmlDocument::kRefusedInputError);
  // The document option of XmlDocument reads HTML the same way.
  auto doc = XmlDocument::parse(std::string_view("<DL><DT><A HREF=\"http://a\">A</A></DL>"), XmlDocument::TidyHTML);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->firstNodeForXPath("//dt/a/@href").stringValue(), "http://a");
}
