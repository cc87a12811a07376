#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/TestAccess_p.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <map>
#include <string>

namespace kesto::fnd {
namespace {

// The events as one line of text each.
struct Recorder : HtmlStreamHandler {
  std::string log, pendingText;
  void flush() {
    if (!pendingText.empty()) log += "\"" + pendingText + "\"\n", pendingText.clear();
  }
  void startElement(std::string_view name, const std::vector<Attribute>& attributes) override {
    flush();
    log += "<" + std::string(name);
    for (const auto& a : attributes) log += " " + std::string(a.name) + "=" + std::string(a.value);
    log += ">\n";
  }
  void endElement(std::string_view name) override {
    flush();
    log += "</" + std::string(name) + ">\n";
  }
  void text(std::string_view t) override { pendingText += t; }
  void rawText(std::string_view t) override {
    flush();
    log += "raw " + std::string(t) + "\n";
  }
  void otherNode(std::string_view c) override {
    flush();
    log += "node " + std::string(c) + "\n";
  }
};

std::string events(std::string_view bytes, std::size_t piece = 0, bool closeDescriptions = false,
                   bool asBrowsers = false, HtmlStreamReader::Result* result = nullptr) {
  Recorder r;
  HtmlStreamReader::Options options;
  options.closeDescriptionBeforeList = closeDescriptions;
  options.nestListsAsBrowsers = asBrowsers;
  HtmlStreamReader::Result ignored;
  HtmlStreamReader::Result& got = result ? *result : ignored;
  if (!piece) {
    got = HtmlStreamReader::read(bytes, r, options);
  } else {
    std::size_t at = 0;
    got = HtmlStreamReader::read(
        [&](char* buffer, std::size_t size) {
          const std::size_t n = std::min({size, piece, bytes.size() - at});
          std::memcpy(buffer, bytes.data() + at, n);
          at += n;
          return n;
        },
        r, options);
  }
  r.flush();
  return r.log;
}

TEST(HtmlStreamReader, PiecesOfAnySizeGiveTheSameEvents) {
  const std::string html =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- a comment -- with dashes -->\n<TITLE>T</TITLE>\n"
      "<DL><p><DT><H3 FOLDED>Folder</H3>\n<DD>About 1 < 2\n<DL><p>"
      "<DT><A HREF=\"https://x.example/?a=<dt>&amp;b\" TAGS='q,<dl>'>X &amp; Y</A>\n<DD>note\n"
      "<DT><A HREF=\"https://y.example/\">Y</A>\n</DL><p>\n<script>if (a<dl) {}</script>\n</DL><p>\n";
  const std::string whole = events(html);
  for (std::size_t piece : {1u, 2u, 3u, 7u, 64u}) EXPECT_EQ(events(html, piece), whole) << piece;
  // Items are siblings, the heading is kept, markup inside values and scripts is left alone.
  EXPECT_NE(whole.find("<a href=https://x.example/?a=<dt>&b tags=q,<dl>>"), std::string::npos);
  EXPECT_NE(whole.find("raw if (a<dl) {}"), std::string::npos);
  EXPECT_NE(whole.find("node  a comment -- with dashes "), std::string::npos);
  // The folder's description is closed before its list; items do not nest.
  EXPECT_NE(whole.find("</dt>\n<dd>\n\"About 1 < 2\n\"\n</dd>\n<dl>"), std::string::npos) << whole;
  EXPECT_NE(whole.find("</dd>\n<dt>\n<a href=https://y.example/>"), std::string::npos) << whole;
}

TEST(HtmlStreamReader, ALargeFileIsHeldABlockAtATimeNotWhole) {
  std::string html = "<DL><p>\n";
  std::size_t written = 0;
  for (; html.size() < 4'000'000; ++written) html += "<DT><A HREF=\"https://a.example/page\">A page with a title of some length</A>\n";
  html += "</DL><p>\n";
  std::size_t links = 0;
  struct Counter : HtmlStreamHandler {
    std::size_t* links;
    void startElement(std::string_view name, const std::vector<Attribute>&) override { *links += name == "a"; }
    void endElement(std::string_view) override {}
    void text(std::string_view) override {}
    void rawText(std::string_view) override {}
    void otherNode(std::string_view) override {}
  } counter;
  counter.links = &links;
  const auto result = HtmlStreamReader::read(html, counter, {});
  EXPECT_EQ(result.bytesRead, html.size());
  EXPECT_EQ(links, written);
  EXPECT_LT(result.largestBuffer, 1'000'000u);
}

TEST(HtmlStreamReader, NulBytesAreDroppedAndReadingGoesOn) {
  const std::string html = std::string("<DL><DT><A HREF=\"https://a.example/\0x\">A\0</A><DT><A HREF=\"https://b.example/\">B</A></DL>", 76);
  Recorder r;
  const auto result = HtmlStreamReader::read(html, r, {});
  EXPECT_EQ(result.nulBytesDropped, 2u);
  EXPECT_NE(r.log.find("href=https://a.example/x"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("href=https://b.example/"), std::string::npos) << r.log;
}

TEST(HtmlStreamReader, CharsetFromByteOrderMarkOrDeclaration) {
  // UTF-16 little-endian with a mark, in pieces that split its characters.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<p>caf")) utf16 += c, utf16 += '\0';
  utf16 += "\xE9";
  utf16 += '\0';
  EXPECT_NE(events(utf16, 3).find("\"café\""), std::string::npos);
  // Latin-1 declared in a meta element.
  EXPECT_NE(events("<meta charset=\"iso-8859-1\"><p>caf\xE9").find("\"café\""), std::string::npos);
  // No declaration: UTF-8.
  EXPECT_NE(events("<p>caf\xC3\xA9").find("\"café\""), std::string::npos);
}

TEST(HtmlStreamReader, DescriptionsCloseBeforeListsWhenAsked) {
  const std::string html = "<DL><DD><H3>Name</H3><DL><DT><A HREF=\"https://x/\">X</A></DL></DL>";
  // Kept inside its DD by default (the DD form of a folder), closed before the list when asked.
  EXPECT_NE(events(html).find("<dd>\n<h3>\n\"Name\"\n</h3>\n<dl>"), std::string::npos) << events(html);
  EXPECT_NE(events(html, 0, true).find("</dd>\n<dl>"), std::string::npos) << events(html, 0, true);
}

// Lists nested thousands deep, each with an item and a description after its subfolder, and
// stray end tags of items and lists: nothing the parser is given makes it look through every
// open element for an end tag that closes nothing (which made such files take minutes), and the
// tree is read whole.
TEST(HtmlStreamReader, DeeplyNestedListsGiveTheParserNoEndTagThatClosesNothing) {
  constexpr int kDepth = 3000;
  std::string html = "<TITLE>Deep</TITLE><DL><p>\n";
  for (int i = 0; i < kDepth; ++i) html += "<DT><H3>F</H3>\n<DD>about\n<DL><p></DT></DD>\n";
  html += "<DT><A HREF=\"https://deep.example/\">deep</A>\n";
  for (int i = 0; i < kDepth; ++i) html += "</DL><p>\n<DT><A HREF=\"https://after.example/\">after</A>\n<DD>note\n";
  html += "</DL></DL></dt></dd>\n";
  struct Counter : HtmlStreamHandler {
    int lists = 0, openLists = 0, deepest = 0, items = 0;
    void startElement(std::string_view name, const std::vector<Attribute>&) override {
      if (name == "dl") deepest = std::max(deepest, ++openLists), ++lists;
      if (name == "dt") ++items;
    }
    void endElement(std::string_view name) override {
      if (name == "dl") --openLists;
    }
    void text(std::string_view) override {}
    void rawText(std::string_view) override {}
    void otherNode(std::string_view) override {}
  };
  for (bool closeDescriptions : {false, true}) {
    Counter counter;
    HtmlStreamReader::Options options;
    options.closeDescriptionBeforeList = closeDescriptions;
    const auto result = HtmlStreamReader::read(html, counter, options);
    EXPECT_EQ(result.endTagsClosingNothing, 0u) << closeDescriptions;
    EXPECT_EQ(counter.lists, kDepth + 1);
    EXPECT_EQ(counter.deepest, kDepth + 1) << "the lists nest as written";
    EXPECT_EQ(counter.items, 2 * kDepth + 1);
  }
  // A stray end tag of another kind is still counted.
  Counter counter;
  EXPECT_EQ(HtmlStreamReader::read("<DL><DT>x</b></i></DL>", counter, {}).endTagsClosingNothing, 2u);
}

// The value of the first attribute named `name` in the document, "(none)" when there is none.
std::string attribute(std::string_view html, const std::string& name, std::size_t piece = 0) {
  struct Values : Recorder {
    std::map<std::string, std::string> first;
    void startElement(std::string_view element, const std::vector<Attribute>& attributes) override {
      for (const auto& a : attributes) first.emplace(std::string(a.name), std::string(a.value));
      Recorder::startElement(element, attributes);
    }
  } values;
  std::size_t at = 0;
  HtmlStreamReader::read(
      [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min({size, piece ? piece : size, html.size() - at});
        std::memcpy(buffer, html.data() + at, n);
        at += n;
        return n;
      },
      values, {});
  const auto it = values.first.find(name);
  return it == values.first.end() ? "(none)" : it->second;
}

// Numbers 128 to 159 name the characters of the Windows-1252 table, in text and in values, in
// decimal or hexadecimal, whatever the file's charset and however the reading is cut; the five
// the table leaves out stay the C1 controls.
TEST(HtmlStreamReader, ReferencesOfTheWindows1252RangeNameThatTablesCharacters) {
  const std::string body = "<h3>Caf&#233; &#150; Bar</h3><a href=\"p&#150;q&#x92;&#129;\" title='&#x80;&#159;&#160;'>"
                           "It&#146;s &#128;5 &#x85;&#0000000000000000000000000000000147;</a>";
  for (const std::string head : {"", "<meta charset=\"windows-1252\">", "<meta charset=\"iso-8859-1\">"})
    for (std::size_t piece : {0, 1, 7}) {
      const std::string log = events(head + body, piece);
      EXPECT_NE(log.find("\"Café – Bar\""), std::string::npos) << head << log;
      EXPECT_EQ(attribute(head + body, "href", piece), "p–q’\xC2\x81") << head << piece;
      EXPECT_EQ(attribute(head + body, "title", piece), "€Ÿ\xC2\xA0") << head << piece;
      EXPECT_NE(log.find("\"It’s €5 …“\""), std::string::npos) << head << log;
    }
  // A byte that is not UTF-8 before them, in a file read as UTF-8, changes nothing.
  EXPECT_EQ(attribute("<p>caf\xE9</p><a href=\"&#146;&#8217;&#x1F600;\">", "href"), "’’\xF0\x9F\x98\x80");
  // Named references and other numbers in text stay as libxml2 reads them.
  EXPECT_NE(events("<p>&eacute;&amp;&#65;&#x263A;&bogus;").find("\"é&A☺&bogus;\""), std::string::npos);
}

// A reference in a value goes to the parser as its character, unless that character would end
// or change the value: in quoted and unquoted values alike it keeps its meaning.
TEST(HtmlStreamReader, AReferencedCharacterKeepsItsMeaningInEveryKindOfValue) {
  EXPECT_EQ(attribute("<a href=\"a&#39;b&#34;c&#38;amp;&#62;&#99999999999;\">", "href"), "a'b\"c&amp;>\xEF\xBF\xBD");
  EXPECT_EQ(attribute("<a href='a&#39;b&#34;c&Tab;d'>", "href"), "a'b\"c\td");
  EXPECT_EQ(attribute("<a href=a&#32;b&#62;c&#34;&#10;d title=t>", "href"), "a b>c\"\nd");
  EXPECT_EQ(attribute("<a href=a&#32;b&#62;c&#34;&#10;d title=t>", "title"), "t");
}

// The start tags of items the reading hands the parser are counted, so a parser that stops or
// misreads the file can be caught handing on fewer: not those in comments, processing
// instructions, document types, scripts or values, nor tags whose names only begin like an item's.
TEST(HtmlStreamReader, CountsTheItemStartTagsHandedToTheParser) {
  const std::string html = "<dl><dt>a<DT>b<dt-x>c<dt:y><!-- <dt> --><script><dt></script><a title=\"<dt>\">"
                           "<ul><li>x<LI>y</ul></dl><?pi <dt>?><!DOCTYPE x <dt>><dt";
  Recorder r;
  EXPECT_EQ(HtmlStreamReader::read(html, r, {}).itemStartTags, 5u);
}

// The declared encoding is decoded as a browser decodes it, whatever its label's spelling and
// however the reading is cut: what the encoding cannot read is U+FFFD and the reading goes on;
// a declaration inside a comment declares nothing.
TEST(HtmlStreamReader, DecodesTheDeclaredEncodingAsABrowserDoes) {
  const auto text = [](const std::string& html, std::size_t piece) {
    const std::string log = events(html, piece);
    const std::size_t at = log.find("\"[");
    return at == std::string::npos ? log : log.substr(at + 1, log.find("]\"", at) - at);
  };
  const std::string after = "<dt><a href=\"https://after.example/\">after</a>";
  for (std::size_t piece : {0, 1, 5}) {
    // Bytes Windows-1252 leaves undefined are the C1 controls; the Latin-1 labels read it.
    for (const std::string label : {"windows-1252", " ISO-8859-1 ", "Latin1", "US-ASCII", "ascii"}) {
      const std::string html = "<meta charset=\"" + label + "\"><p>[\x80\x81\x8D\x8F\x90\x9D\xE9]" + after;
      EXPECT_EQ(text(html, piece), "[€\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D" "é]") << label << piece;
      EXPECT_NE(events(html, piece).find("https://after.example/"), std::string::npos) << label << piece;
    }
    // Shift_JIS by a pragma, with bytes it cannot read before ASCII markup.
    const std::string sjis = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=SJIS\"><p>[\x82\xA0\x81 \xFF]" + after;
    EXPECT_EQ(text(sjis, piece), "[あ\xEF\xBF\xBD \xEF\xBF\xBD]") << piece;
    EXPECT_NE(events(sjis, piece).find("https://after.example/"), std::string::npos) << piece;
    // UTF-8 that is not valid: U+FFFD where it breaks, and what follows is still UTF-8.
    EXPECT_EQ(text("<p>[\xFF caf\xC3\xA9 \xE2\x82 \xF0\x9F\x98\x80]", piece), "[\xEF\xBF\xBD café \xEF\xBF\xBD 😀]") << piece;
    // A declaration in a comment, or of an unknown label, leaves UTF-8.
    EXPECT_EQ(text("<!-- a > <meta charset=\"shift_jis\"> --><p>[caf\xC3\xA9]", piece), "[café]") << piece;
    EXPECT_EQ(text("<meta charset=\"x-no-such\"><p>[caf\xC3\xA9]", piece), "[café]") << piece;
  }
  EXPECT_EQ(HtmlDocument::declaredCharset("<meta content='text/html;charset=\"ISO-8859-1\"' http-equiv=Content-Type>"),
            "windows-1252");
  EXPECT_EQ(HtmlDocument::declaredCharset("<meta content='text/html;charset=shift_jis'>"), "UTF-8");  // no pragma
}

// Comments end where HTML ends them: "<!-->" and "<!--->" at once, "--!>" and any run of dashes
// before '>' too, and what follows is read.
TEST(HtmlStreamReader, CommentsEndWhereHtmlEndsThem) {
  for (std::size_t piece : {0, 1, 3}) {
    EXPECT_EQ(events("<!--><b>1</b>", piece), "node \n<html>\n<body>\n<b>\n\"1\"\n</b>\n</body>\n</html>\n") << piece;
    EXPECT_EQ(events("<!---><b>2</b>", piece), "node \n<html>\n<body>\n<b>\n\"2\"\n</b>\n</body>\n</html>\n") << piece;
    EXPECT_NE(events("<!-- a --!><b>3</b>", piece).find("node  a \n<html>\n<body>\n<b>"), std::string::npos) << piece;
    EXPECT_NE(events("<!-- a - b -- c --!- d ----><b>4</b>", piece).find("node  a - b -- c --!- d --\n"), std::string::npos)
        << piece << events("<!-- a - b -- c --!- d ----><b>4</b>", piece);
    EXPECT_NE(events("<!----!-><b>no</b>-->", piece).find("node --!-><b>no</b>\n"), std::string::npos) << piece;
  }
}

// Reading as browsers do: what a browser reads as text (text-only elements, comments it ends at
// the first '>', a CDATA section in SVG) goes to the parser as text, a template's contents not
// at all, an SVG's STYLE holds no raw text, and a tag the file ends in is dropped, its link
// counted; the same whatever pieces the file comes in, a byte at a time too.
TEST(HtmlStreamReader, TextABrowserReadsStraddlesPiecesAsAWhole) {
  const std::string html =
      "<DL><p><DT><A HREF=\"https://a.example/\">a</A><TEXTAREA>x</textareay <b>&amp;&#150;</Textarea >"
      "<xmp>&amp;<i></xmp><template><DT><A HREF=\"https://t.example/\">t</A></template>"
      "<!bogus </DL> ><? </DL> ></ </DL> ></>"
      "<svg><style><![CDATA[<DT>]]]></style><DT><A HREF=\"https://b.example/\">b</A>"
      "<plaintext></DL><A HREF=\"https://p.example/\">";
  HtmlStreamReader::Result result;
  const std::string whole = events(html, 0, true, true, &result);
  EXPECT_NE(whole.find("<textarea>\n\"x</textareay <b>&\xE2\x80\x93\"\n</textarea>"), std::string::npos) << whole;
  EXPECT_NE(whole.find("<xmp>\n\"&amp;<i>\"\n</xmp>"), std::string::npos) << whole;
  EXPECT_EQ(whole.find("t.example"), std::string::npos) << whole;
  EXPECT_NE(whole.find("node bogus </DL\n\" >\"\nnode ? </DL\n\" >\"\nnode  </DL\n\" ><DT>]\"\n</dt>\n<dt>\n"
                       "<a href=https://b.example/>"),
            std::string::npos)
      << whole;
  EXPECT_NE(whole.find("\"</DL><A HREF=\"https://p.example/\">\""), std::string::npos) << whole;
  EXPECT_EQ(result.anchorsWithAddress, 2u);
  for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 13u}) EXPECT_EQ(events(html, piece, true, true), whole) << piece;

  const std::string cut = "<DL><DT><A HREF=\"https://a.example/\">a</A>\n<DT><A HREF=\"https://cut.exa";
  for (std::size_t piece : {0u, 1u, 4u}) {
    const std::string read = events(cut, piece, true, true, &result);
    EXPECT_EQ(read.find("cut"), std::string::npos) << piece << read;
    EXPECT_EQ(result.anchorsWithAddress, 2u) << piece;
    EXPECT_EQ(result.itemStartTags, 2u) << piece;
  }
}

struct ItemCounter : HtmlStreamHandler {
  std::size_t items = 0;
  void startElement(std::string_view name, const std::vector<Attribute>&) override { items += name == "dt" || name == "li"; }
  void endElement(std::string_view) override {}
  void text(std::string_view) override {}
  void rawText(std::string_view) override {}
  void otherNode(std::string_view) override {}
};

// Where the parser stops before the end of a file, the items of the whole file are counted all
// the same, DT and LI alike, and nothing more is handed on.
TEST(HtmlStreamReader, CountsTheItemsOfTheWholeFileWhereTheParserStops) {
  const HtmlParserStop stop(2000);
  for (std::size_t after : {3000u, 10000u}) {
    std::string html = "<dl>";
    for (std::size_t i = 0; i < 100 + after; ++i) html += "<DT><A HREF=\"https://x.example/\">x</A>";
    html += "</dl><ul>";
    for (int i = 0; i < 50; ++i) html += "<LI>y";
    ItemCounter counter;
    const auto result = HtmlStreamReader::read(html, counter, {});
    EXPECT_EQ(result.itemStartTags, 150 + after);
    EXPECT_GT(counter.items, 0u);
    EXPECT_LT(counter.items, 100u);
  }
}

// Tag names are compared in ASCII case whatever the locale (a Turkish one lower-cases 'I' to a
// dotless i), and so are encoding labels.
TEST(HtmlStreamReader, NamesAndLabelsCompareInAsciiCaseInEveryLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) GTEST_SKIP() << "tr_TR.UTF-8 is not installed";
  struct Restore {
    std::string locale;
    ~Restore() { std::setlocale(LC_ALL, locale.c_str()); }
  } restore{saved};
  ItemCounter counter;
  const auto result = HtmlStreamReader::read("<meta charset=LATIN1><UL><LI>a<LI>b</UL><DL><DT>c</DL><p>\xE9", counter, {});
  EXPECT_EQ(result.itemStartTags, 3u);
  EXPECT_EQ(counter.items, 3u);
  EXPECT_EQ(HtmlDocument::declaredCharset("<META CHARSET=\"ISO-8859-1\">"), "windows-1252");
  EXPECT_EQ(encodingForWebLabel("LATIN1"), "windows-1252");
  EXPECT_EQ(encodingForWebLabel("ISO-8859-9"), "windows-1254");
}

}  // namespace
}  // namespace kesto::fnd
