// What a browser reads as text, or leaves out of its document, in a bookmark file: no bookmark
// comes from it, no folder ends at it, and it takes nothing that follows it along.
#include "Synchronize/HTMLImportReader.h"

#include "ReadFolderPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kesto::test {
namespace textelements {

struct Read {
  HTMLImportRecords records;
  // "folder/path title <url>" per bookmark, in the file's order.
  std::vector<std::string> bookmarks;
  std::vector<std::string> notes;
};

Read readFile(const std::string& html) {
  Read out;
  EXPECT_TRUE(readPlaced(html, out.records, [&](const HTMLImportRecords::Bookmark& b, const std::string& folder) {
    out.bookmarks.push_back(folder + " " + b.title + " <" + b.url + ">");
    out.notes.push_back(b.notes);
  }));
  return out;
}

std::string a(const std::string& name) {
  return "<A HREF=\"https://" + name + ".example/\">" + name + "</A>";
}
std::string at(const std::string& folder, const std::string& name) {
  return folder + " " + name + " <https://" + name + ".example/>";
}

// A folder F whose list holds `inner` after a bookmark, then one more; a bookmark after F.
std::string folderHolding(const std::string& inner) {
  return "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n<DT><H3>F</H3>\n<DL><p>\n<DT>" + a("before") + "\n" + inner +
         "\n<DT>" + a("after") + "\n</DL><p>\n<DT>" + a("out") + "\n</DL><p>\n";
}
const std::vector<std::string> kAsABrowser = {at("Bookmarks/F", "before"), at("Bookmarks/F", "after"),
                                              at("Bookmarks", "out")};

TEST(HTMLImportTextElements, ContentsReadAsTextGiveNoBookmarkAndEndNoFolder) {
  for (const std::string& inner : {
           "<textarea><DT>" + a("inside") + "</DL><p></textarea>",
           "<TEXTAREA rows=2><DT>" + a("inside") + "</DL></textareax></TEXTAREA >",
           "<title><DT>" + a("inside") + "</DL></title/>",
           "<XMP><DT>" + a("inside") + "</DL></xmp>",
           "<iframe src=\"x\"><DT>" + a("inside") + "</DL><p></iframe>",
           "<noembed><DT>" + a("inside") + "</DL></noembed>",
           "<NOFRAMES><DT>" + a("inside") + "</DL></NoFrames>",
       }) {
    const Read r = readFile(folderHolding(inner));
    EXPECT_EQ(r.bookmarks, kAsABrowser) << inner;
    // Nothing is lost: the link was text, no entry of the file.
    EXPECT_EQ(r.records.unread, 0u) << inner;
  }
  // The text stays as a browser shows it: references read in a TEXTAREA, not in an XMP.
  const Read notes = readFile("<DL><p><DT>" + a("n") +
                              "\n<DD>x <textarea>1 < 2 &amp; <b>3</b></textarea>, <xmp>&amp;<i></xmp>\n</DL>");
  ASSERT_EQ(notes.notes.size(), 1u);
  EXPECT_EQ(notes.notes[0], "x 1 < 2 & <b>3</b>, &amp;<i>");
}

TEST(HTMLImportTextElements, WhatATemplateHoldsIsNoPartOfTheFile) {
  for (const std::string& inner : {
           "<template><DT>" + a("inside") + "</DL><p></template>",
           "<TEMPLATE><template><DT>" + a("inside") + "</template></DL><DT>" + a("inside2") + "</template>",
           "<DT><template></DT></DL><DT>" + a("inside") + "</template>",
       }) {
    const Read r = readFile(folderHolding(inner));
    EXPECT_EQ(r.bookmarks, kAsABrowser) << inner;
    EXPECT_EQ(r.records.unread, 0u) << inner;
  }
}

TEST(HTMLImportTextElements, AfterPlaintextEverythingIsText) {
  const Read r = readFile("<DL><p><DT><H3>F</H3><DL><p><DT>" + a("before") + "\n<DT><PLAINTEXT>\n<DT>" + a("later") +
                          "\n</DL><p></plaintext><DT>" + a("last") + "\n</DL>");
  EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled/F", "before")}));
  // Nothing ends a PLAINTEXT: its links run to the end of the file, and are told as not read.
  EXPECT_EQ(r.records.unread, 2u);
  EXPECT_EQ(r.records.inUnendedText, 2u);
  EXPECT_EQ(r.records.unendedTextElement, "plaintext");
}

// An element read as text that the file never closes holds the rest of the file: a browser
// stores none of its links, and the reading counts each as not read, so the import is not told
// complete. One the file closes holds text, and loses nothing.
TEST(HTMLImportTextElements, LinksInAnElementTheFileNeverClosesAreCountedAsNotRead) {
  const std::string three = "\n<DT>" + a("x1") + "\n<DT>" + a("x2") + "\n<DT>" + a("x3") + "\n</DL><p>\n";
  for (const std::string opening : {"<TEXTAREA>", "<title>", "<Xmp>", "<iframe src=\"x\">", "<NOEMBED>", "<noframes>",
                                     "<textarea></textareax></textarea >x"}) {
    const bool closed = opening.find("</") != std::string::npos;
    const Read r = readFile("<DL><p>\n<DT>" + a("before") + "\n" + opening + three);
    EXPECT_EQ(r.bookmarks.size(), closed ? 4u : 1u) << opening;
    EXPECT_EQ(r.records.unread, closed ? 0u : 3u) << opening;
    EXPECT_EQ(r.records.inUnendedText, closed ? 0u : 3u) << opening;
    EXPECT_EQ(r.records.notHandedOn, 0u) << opening;
  }
  // An export whose title is never closed: all 2,000 bookmarks are text, each told.
  std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < 2000; ++i) html += "<DT>" + a("b" + std::to_string(i)) + "\n";
  const Read title = readFile(html + "</DL><p>\n");
  EXPECT_TRUE(title.bookmarks.empty());
  EXPECT_EQ(title.records.unread, 2000u);
  EXPECT_EQ(title.records.unendedTextElement, "title");
  // Every link tag in the text counts, whatever wraps it there (a comment, a SCRIPT or STYLE
  // that ends or not, a template), and one cut off by the end; not a reference spelling a tag.
  const Read wrapped = readFile("<XMP>" + a("w1") + "<title>" + a("w2") + "</title><!-- " + a("w3") + " -->&lt;" +
                                a("no").substr(1) + "<script>" + a("w4") + "</script><template>" + a("w5") + "<style>" +
                                a("w6") + "<DT><A HREF=\"https://cut.exa");
  EXPECT_EQ(wrapped.records.unread, 7u);
  // In a template the file never closes, the template holds them.
  const Read templated = readFile("<DL><DT>" + a("t") + "<template><textarea>" + three);
  EXPECT_EQ(templated.records.unread, 3u);
  EXPECT_EQ(templated.records.unendedTextElement, "template");
  // Each element's text is its own: a closed one's (its end tag's start included) is no part of
  // the text of one after it that the file never closes.
  const Read titled = readFile("<TITLE>Bookmarks</TITLE>\n<DL><p>\n<DT>" + a("t") + "\n<TEXTAREA>" + a("in") + three);
  EXPECT_EQ(titled.records.unread, 4u);
  EXPECT_EQ(titled.records.unendedTextElement, "textarea");
  const Read framed = readFile("<TITLE>" + a("in") + "</TITLE>\n<DL><p>\n<DT>" + a("t") + "\n<IFRAME>no link");
  EXPECT_EQ(framed.records.bookmarks.size(), 1u);
  EXPECT_EQ(framed.records.unread, 0u);
  EXPECT_EQ(framed.records.inUnendedText, 0u);
  // Text past the blocks it is counted in: closed at last, it loses nothing; never closed, every
  // link in it is told.
  std::string longText;
  for (int i = 0; i < 3000; ++i) longText += "<DT>" + a("long" + std::to_string(i)) + "\n";
  EXPECT_EQ(readFile("<DL><DT>" + a("t") + "<TEXTAREA>" + longText + "</TEXTAREA>" + three).records.unread, 0u);
  EXPECT_EQ(readFile("<DL><DT>" + a("t") + "<TEXTAREA>" + longText + "</TEXTAREAx>" + three).records.unread, 3003u);
}

// A "<!--" later in the text of an element the file never closes hides none of the links after
// it either, in the middle of an export too: a browser keeps only those before the element.
TEST(HTMLImportTextElements, ACommentLaterInTextTheFileNeverClosesHidesNoLink) {
  const Read later = readFile("<DL><p>\n<DT>" + a("before") + "\n<STYLE>\n<DT>" + a("x0") + "\n<!--\n<DT>" + a("x1") +
                              "\n<DT>" + a("x2") + "\n<DT>" + a("x3") + "\n</DL><p>\n");
  EXPECT_EQ(later.records.unread, 4u);
  EXPECT_EQ(later.records.inUnendedText, 4u);
  // In the middle of a 2,000-link export: 1,000 stored, 1,000 told.
  for (const std::string opening : {"<SCRIPT><!--", "<XMP><!--", "<IFRAME><!--", "<NOFRAMES><!--", "<STYLE><!--"}) {
    std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
    for (int i = 0; i < 2000; ++i) html += (i == 1000 ? opening + "\n<DT>" : "<DT>") + a("b" + std::to_string(i)) + "\n";
    const Read r = readFile(html + "</DL><p>\n");
    EXPECT_EQ(r.bookmarks.size(), 1000u) << opening;
    EXPECT_EQ(r.records.unread, 1000u) << opening;
  }
}

// A SCRIPT, STYLE, TEMPLATE or comment that the file never closes holds the rest of the file too:
// a browser stores none of the links after it, and each is counted as not read. They end where a
// browser's tokenizer ends them: not at an end tag with more to its name ("</scriptx>",
// "</script<DT>"), nor a SCRIPT at a "</script>" inside "<!--<script>". Closed, they lose nothing.
TEST(HTMLImportTextElements, ScriptsStylesTemplatesAndCommentsTheFileNeverClosesHoldTheRest) {
  const std::string three = "<DT>" + a("x1") + "\n<DT>" + a("x2") + "\n<DT>" + a("x3") + "\n</DL><p>\n";
  const struct {
    std::string opening, element;
  } unclosed[] = {
      {"<STYLE>", "style"},
      {"<script type=\"text/javascript\">", "script"},
      {"<TEMPLATE>", "template"},
      {"<!--", "#comment"},
      {"<script>x</scriptx>", "script"},
      {"<style>x</STYLEX>", "style"},
      {"<script>x</script", "script"},
      {"<style>x</style", "style"},
      {"<template>x</template", "template"},
      {"<template>x</template1>", "template"},
      {"<TEMPLATE><template></template>", "template"},
      {"<script><!--<script></script>-->", "script"},
      {"<script><!-- <SCRIPT/>x--</script>-->", "script"},
      {"<!-- x --", "#comment"},
      // Whatever their text holds: a "<!--" at its start hides none of the links.
      {"<STYLE><!--", "style"},
      {"<style>\n<!--\n", "style"},
      {"<TITLE><!--", "title"},
      {"<TEXTAREA><!--", "textarea"},
      {"<script><!--", "script"},
      {"<XMP><!--", "xmp"},
      {"<IFRAME><!--", "iframe"},
      {"<NOFRAMES><!--", "noframes"},
      {"<noembed><!--", "noembed"},
      {"<!--<!--", "#comment"},
      {"<template><!--", "template"},
      {"<PLAINTEXT><!--", "plaintext"},
  };
  for (const auto& u : unclosed) {
    const Read r = readFile("<DL><p>\n<DT>" + a("before") + "\n" + u.opening + three);
    EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled", "before")})) << u.opening;
    EXPECT_EQ(r.records.unread, 3u) << u.opening;
    EXPECT_EQ(r.records.inUnendedText, 3u) << u.opening;
    EXPECT_EQ(r.records.unendedTextElement, u.element) << u.opening;
    EXPECT_EQ(r.records.notHandedOn, 0u) << u.opening;
  }
  for (const std::string closed : {"<style>x</style>", "<SCRIPT>x</SCRIPT >", "<script>a</b></script/>",
                                    "<template>x</template>", "<!-- x -->", "<!-->", "<script><!-- x --></script>",
                                    "<script><!--<script></script>-->x</script>", "<script><!--<script>--></script>",
                                    "<script><!--<script></script></script>"}) {
    const Read r = readFile("<DL><p>\n<DT>" + a("before") + "\n" + closed + three);
    EXPECT_EQ(r.bookmarks.size(), 4u) << closed;
    EXPECT_EQ(r.records.unread, 0u) << closed;
  }
  // Links in a SCRIPT up to the end a browser reads are its text: none is stored or counted.
  const Read escaped = readFile("<DL><p>\n<DT>" + a("before") + "\n<script><!--<script></script><DT>" + a("in") +
                                "</script></script>" + three);
  EXPECT_EQ(escaped.bookmarks.size(), 4u);
  EXPECT_EQ(escaped.records.unread, 0u);
  // An export with a STYLE opened before its 1,001st bookmark: 1,000 stored, 1,000 counted.
  std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < 2000; ++i) html += (i == 1000 ? "<STYLE>\n<DT>" : "<DT>") + a("b" + std::to_string(i)) + "\n";
  const Read styled = readFile(html + "</DL><p>\n");
  EXPECT_EQ(styled.bookmarks.size(), 1000u);
  EXPECT_EQ(styled.records.unread, 1000u);
  EXPECT_EQ(styled.records.unendedTextElement, "style");
}

// A SCRIPT's or STYLE's text runs to its own end tag whatever it begins with: an end tag at its
// start ends no list, a link in it is no entry, and the bookmarks and subfolder after it stay in
// their folder.
TEST(HTMLImportTextElements, AScriptOrStyleEndsNothingWhateverItBeginsWith) {
  const auto file = [](const std::string& inner) {
    return "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n<DT><H3>F</H3>\n<DL><p>\n<DT>" + a("before") + "\n" +
           inner + "\n<DT>" + a("after") + "\n<DT><H3>G</H3>\n<DL><p>\n<DT>" + a("g") + "\n</DL><p>\n</DL><p>\n<DT>" +
           a("out") + "\n</DL><p>\n";
  };
  const std::vector<std::string> asABrowser = {at("Bookmarks/F", "before"), at("Bookmarks/F", "after"),
                                               at("Bookmarks/F/G", "g"), at("Bookmarks", "out")};
  for (const std::string& inner : std::vector<std::string>{
           "<script></DL></script>",
           "<SCRIPT></dl></DL></DL></SCRIPT>",
           "<style></DL></style>",
           "<STYLE></DL></STYLE>",
           "<script></DL><DT>" + a("inside") + "</script>",
           "<Style type=\"text/css\"></DL><DT>" + a("inside") + "</sTyle>",
           "<script></DL ><p></script>",
           "<style></_x></DD></DT></style>",
           "<script></</DL></script>",
           "<script><!--</DL>--></script>",
       }) {
    const Read r = readFile(file(inner));
    EXPECT_EQ(r.bookmarks, asABrowser) << inner;
    EXPECT_EQ(r.records.unread, 0u) << inner;
  }
}

TEST(HTMLImportTextElements, BogusCommentsEndAtTheFirstGreaterThan) {
  for (const std::string& inner : {
           std::string("<!bogus </DL> >"),
           std::string("<![CDATA[ </DL> ]]>"),
           std::string("<!-x </DL> >"),
           std::string("<? </DL> >"),
           std::string("</ </DL> >"),
           std::string("</3 </DL> >"),
       }) {
    const Read r = readFile(folderHolding(inner));
    EXPECT_EQ(r.bookmarks, kAsABrowser) << inner;
    EXPECT_EQ(r.records.unread, 0u) << inner;
  }
  // An empty end tag is nothing.
  const Read r = readFile(folderHolding("</><!x </DL>"));
  EXPECT_EQ(r.bookmarks, kAsABrowser);
  EXPECT_EQ(r.records.unread, 0u);
}

TEST(HTMLImportTextElements, SvgAndMathMLHoldNoRawTextAndEndWhereHtmlBreaksOut) {
  // A STYLE or SCRIPT in SVG or MathML is an element as any other: the DT after it breaks out.
  for (const std::string opening : {"<svg><STYLE>", "<math><script>", "<svg><g><style>", "<svg><font><style>",
                                     "<svg><foreignObject><svg><style>", "<math><mi><svg><style>"}) {
    const Read r = readFile("<DL><p><DT>" + a("x1") + opening + "<DT>" + a("x2") + "<DT>" + a("x3") + "</DL>");
    EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled", "x1"), at("Untitled", "x2"), at("Untitled", "x3")}))
        << opening;
    EXPECT_EQ(r.records.unread, 0u) << opening;
  }
  // Where HTML is read again, STYLE holds raw text once more: after a self-closed or ended SVG,
  // in an integration point, after a tag that breaks out.
  for (const std::string opening : {"<svg/><style>", "<svg><g></g></svg><style>", "<math></math><style>",
                                     "<svg><foreignObject><style>", "<svg><g><title><style>", "<math><mtext><style>",
                                     "<svg><font size=2><style>", "<svg><g><p><style>", "<math><DT><style>"}) {
    const Read r = readFile("<DL><p><DT>" + a("x1") + opening + "<DT>" + a("hidden") + "</style><DT>" + a("x3") + "</DL>");
    EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled", "x1"), at("Untitled", "x3")})) << opening;
  }
  // A CDATA section in SVG is text; an end tag in an integration point ends no list outside it.
  const Read cdata = readFile(folderHolding("<svg><![CDATA[<DT>" + a("inside") + "</DL>]]></svg>"));
  EXPECT_EQ(cdata.bookmarks, kAsABrowser);
  const Read point = readFile(folderHolding("<svg><foreignObject></DL></foreignObject></svg>"));
  EXPECT_EQ(point.bookmarks, kAsABrowser);
}

TEST(HTMLImportTextElements, ATagTheFileEndsInIsDroppedAndCountedAsNotRead) {
  for (const std::string cut : {"<DT><A HREF=\"https://cut6.exa", "<DT><A HREF=https://cut.example/ ",
                                 "<DT><A TAGS=\"x\" HREF='https://cut.example/' ", "<DT><A HREF"}) {
    const Read r = readFile("<DL><p>\n<DT>" + a("ok") + "\n" + cut);
    EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled", "ok")})) << cut;
    EXPECT_EQ(r.records.unread, 1u) << cut;
    EXPECT_EQ(r.records.notHandedOn, 1u) << cut;
  }
  // A cut tag that is no link loses nothing; a whole tag at the very end is read.
  const Read heading = readFile("<DL><p>\n<DT>" + a("ok") + "\n<DT><H3 FOLDED");
  EXPECT_EQ(heading.bookmarks, (std::vector<std::string>{at("Untitled", "ok")}));
  EXPECT_EQ(heading.records.unread, 0u);
  const Read whole = readFile("<DL><p>\n<DT>" + a("ok") + "\n<DT><A HREF=\"https://end.example/\">");
  EXPECT_EQ(whole.records.bookmarks.size(), 2u);
  EXPECT_EQ(whole.records.unread, 0u);
  // Only an attribute's value opens a quote: a tag with a stray one ends at its '>', and is no
  // tag cut off by the end.
  for (const std::string stray : {"<span =\">", "<p=\">", "<b x=y\"z>", "<i \"x\">"}) {
    const Read r = readFile("<DL><p>\n<DT>" + a("ok") + "\n" + stray + "\n<DT>" + a("next") + "\n</DL>");
    EXPECT_EQ(r.bookmarks, (std::vector<std::string>{at("Untitled", "ok"), at("Untitled", "next")})) << stray;
    EXPECT_EQ(r.records.unread, 0u) << stray;
  }
}

}  // namespace textelements
}  // namespace kesto::test
