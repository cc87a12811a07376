#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Foundation/XmlParser.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kesto::fnd;

namespace {

const char* kSyncFile = R"(<?xml version="1.0" encoding="UTF-8"?>
<sync_file>
  <kesto-id>ABC</kesto-id>
  <bookmark>
    <title>One &amp; only</title>
    <tags><tag>a</tag><tag>b</tag></tags>
  </bookmark>
  <bookmark>
    <title><![CDATA[Two <raw>]]></title>
    <tags/>
  </bookmark>
  <deleted-object><object-id>X1</object-id><object-type>bookmark</object-type></deleted-object>
</sync_file>)";

}  // namespace

TEST(XmlDocument, XPathFindsAbsoluteAndRelativeNodes) {
  Error error;
  auto doc = XmlDocument::parse(std::string_view(kSyncFile), 0, &error);
  ASSERT_TRUE(doc) << error.localizedDescription();
  EXPECT_EQ(doc->rootElement().name(), "sync_file");
  EXPECT_EQ(doc->firstNodeForXPath("//kesto-id").stringValue(), "ABC");
  auto bookmarks = doc->nodesForXPath("//bookmark");
  ASSERT_EQ(bookmarks.size(), 2u);
  EXPECT_EQ(bookmarks[0].firstNodeForXPath("title").stringValue(), "One & only");
  EXPECT_EQ(bookmarks[1].firstNodeForXPath("title").stringValue(), "Two <raw>");
  auto tags = bookmarks[0].nodesForXPath("tags/tag");
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[1].stringValue(), "b");
  EXPECT_TRUE(bookmarks[1].nodesForXPath("tags/tag").empty());
  // Relative paths are relative: the second bookmark does not see the first one's tags.
  EXPECT_EQ(doc->firstNodeForXPath("//deleted-object").firstNodeForXPath("object-type").stringValue(), "bookmark");
  EXPECT_EQ(doc->documentNode().valueForXPath("count(//tag)").intValue(), 2);
  EXPECT_TRUE(doc->nodesForXPath("//missing").empty());
  EXPECT_FALSE(doc->firstNodeForXPath("//missing"));
}

TEST(XmlDocument, InvalidXPathReportsAnErrorEveryTime) {
  auto doc = XmlDocument::parse(std::string_view("<a/>"));
  ASSERT_TRUE(doc);
  for (int i = 0; i < 2; ++i) {  // the second time comes from the cache path
    Error error;
    EXPECT_TRUE(doc->nodesForXPath("//a[", &error).empty());
    EXPECT_EQ(error.domain(), XmlDocument::kErrorDomain);
  }
  // The same expression keeps working across documents and threads.
  auto other = XmlDocument::parse(std::string_view("<a><a/></a>"));
  EXPECT_EQ(doc->nodesForXPath("//a").size(), 1u);
  EXPECT_EQ(other->nodesForXPath("//a").size(), 2u);
  std::thread t([&] { EXPECT_EQ(other->nodesForXPath("//a").size(), 2u); });
  t.join();
}

TEST(XmlDocument, NextSiblingTestsSelectExactlyTheFollowingItem) {
  auto doc = XmlDocument::parse(std::string_view("<l><dt/><dd>1</dd><dt/><dt/><dd>2</dd><x/><dt/></l>"));
  ASSERT_TRUE(doc);
  std::vector<std::string> found;
  for (const XmlNode& dt : doc->nodesForXPath("/l/dt")) {
    XmlNode dd = dt.firstNodeForXPath("following-sibling::*[1][self::dd]");
    found.push_back(dd ? dd.stringValue() : "-");
  }
  EXPECT_EQ(found, (std::vector<std::string>{"1", "-", "2", "-"}));
  EXPECT_EQ(doc->nodesForXPath("/l/dt[1][self::dt]").size(), 1u);
  EXPECT_EQ(doc->nodesForXPath("/l/*[1][self::dd]").size(), 0u);
  EXPECT_EQ(doc->nodesForXPath("/l/dt[1][self::dt][2]").size(), 0u);
  EXPECT_EQ(doc->nodesForXPath("/l/dd[1][self::dd][. = '1']").size(), 1u);
}

TEST(XmlDocument, NodesWalkSiblingsTextAndAttributes) {
  auto doc = XmlDocument::parse(std::string_view(R"(<r><h3 folded="">Name</h3>text<dl x:y="1" xmlns:x="u"/></r>)"));
  ASSERT_TRUE(doc);
  XmlNode dl = doc->firstNodeForXPath("/r/dl");
  ASSERT_TRUE(dl);
  XmlNode before = dl.previousSibling();
  EXPECT_EQ(before.kind(), XmlNode::Kind::Text);
  EXPECT_EQ(before.stringValue(), "text");
  EXPECT_EQ(before.previousSibling().name(), "h3");
  EXPECT_TRUE(before.previousSibling().hasAttribute("folded"));
  EXPECT_EQ(*before.previousSibling().attribute("folded"), "");
  EXPECT_FALSE(dl.hasAttribute("folded"));
  EXPECT_EQ(dl.attribute("x:y").value_or("?"), "1");
  EXPECT_FALSE(dl.nextSibling());
  EXPECT_EQ(dl.parent().name(), "r");
  EXPECT_EQ(doc->rootElement().children().size(), 3u);
  EXPECT_EQ(doc->rootElement().elementChildren().size(), 2u);
  EXPECT_EQ(doc->rootElement().elementChildren("dl").size(), 1u);
  // Nodes keep their document alive.
  XmlNode kept = doc->firstNodeForXPath("//h3");
  doc.reset();
  EXPECT_EQ(kept.stringValue(), "Name");
  EXPECT_EQ(kept.xmlString(), "<h3 folded=\"\">Name</h3>");
  EXPECT_EQ(XmlNode().stringValue(), "");
  EXPECT_TRUE(XmlNode().nodesForXPath("//x").empty());
}

TEST(XmlDocument, MalformedInputFailsWithTheParsersMessage) {
  Error error;
  EXPECT_FALSE(XmlDocument::parse(std::string_view("<a><b></a>"), 0, &error));
  EXPECT_EQ(error.domain(), XmlDocument::kErrorDomain);
  EXPECT_NE(error.localizedDescription().find("line 1"), std::string::npos) << error.localizedDescription();
  EXPECT_FALSE(XmlDocument::parse(std::string_view(""), 0, &error));
  EXPECT_FALSE(XmlDocument::parse(std::string_view("not xml"), 0, &error));
  EXPECT_FALSE(XmlDocument::parse(std::string_view("<a>&undefined;</a>"), 0, &error));
}

TEST(XmlDocument, EncodingsFromBomDeclarationOrOverride) {
  // UTF-16LE with a byte-order mark.
  const std::string utf16("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18);
  auto doc = XmlDocument::parse(std::string_view(utf16));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->rootElement().stringValue(), "\xC3\xA9");
  // A declared Latin-1 document.
  auto latin = XmlDocument::parse(std::string_view("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>"));
  ASSERT_TRUE(latin);
  EXPECT_EQ(latin->rootElement().stringValue(), "\xC3\xA9");
  // Text already decoded to UTF-8 ignores what the declaration says.
  auto decoded = XmlDocument::parseString("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->rootElement().stringValue(), "\xC3\xA9");
}

TEST(XmlDocument, RefusesEntityDeclarationsAndOversizedInput) {
  // Billion laughs: refused at once, long before any expansion.
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
    laughs += "\">";
  }
  laughs += "]><lolz>&lol9;</lolz>";
  Error error;
  EXPECT_FALSE(XmlDocument::parse(std::string_view(laughs), 0, &error));
  EXPECT_EQ(error.code(), XmlDocument::kRefusedInputError);

  // External entities and parameter entities would reach files or the network.
  EXPECT_FALSE(XmlDocument::parse(
      std::string_view("<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>")));
  EXPECT_FALSE(XmlDocument::parse(
      std::string_view("<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]><a/>")));
  // An external DTD reference alone is not loaded and does not stop the parse.
  auto plist = XmlDocument::parse(std::string_view(
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://127.0.0.1:9/PropertyList-1.0.dtd\"><plist/>"));
  ASSERT_TRUE(plist);

  EXPECT_FALSE(XmlDocument::parse(std::string_view("<a>0123456789</a>"), 0, &error, 10));
  EXPECT_EQ(error.code(), XmlDocument::kRefusedInputError);
}

namespace {

struct Recorder : XmlParserDelegate {
  std::vector<std::string> events;
  std::string abortAt;
  void parserDidStartDocument(XmlParser&) override { events.push_back("start-doc"); }
  void parserDidEndDocument(XmlParser&) override { events.push_back("end-doc"); }
  void parserDidStartElement(XmlParser& p, const std::string& name, const std::string& uri, const std::string& qname,
                             const std::map<std::string, std::string>& attributes) override {
    std::string e = "<" + name + "|" + uri + "|" + qname;
    for (const auto& [k, v] : attributes) e += " " + k + "=" + v;
    events.push_back(e);
    if (name == abortAt) p.abortParsing();
  }
  void parserDidEndElement(XmlParser&, const std::string& name, const std::string&, const std::string&) override {
    events.push_back("/" + name);
  }
  void parserFoundCharacters(XmlParser&, const std::string& text) override {
    if (!events.empty() && events.back().rfind("text:", 0) == 0)
      events.back() += text;
    else
      events.push_back("text:" + text);
  }
  void parserFoundCDATA(XmlParser&, const Data& block) override {
    events.push_back("cdata:" + std::string(block.begin(), block.end()));
  }
  void parserParseErrorOccurred(XmlParser&, const Error& e) override { events.push_back("error"); }
};

}  // namespace

TEST(XmlParser, ReportsEventsInDocumentOrder) {
  XmlParser parser(std::string_view(R"(<r a="1"><email>x&amp;y</email><![CDATA[<c>]]><e/></r>)"));
  Recorder r;
  parser.setDelegate(&r);
  EXPECT_TRUE(parser.parse());
  EXPECT_EQ(r.events, (std::vector<std::string>{"start-doc", "<r|| a=1", "<email||", "text:x&y", "/email",
                                                "cdata:<c>", "<e||", "/e", "/r", "end-doc"}));
  EXPECT_FALSE(parser.parserError());
  EXPECT_FALSE(parser.parse());  // a parser runs once
}

TEST(XmlParser, NamespacesAreReportedOnlyWhenAsked) {
  const char* text = R"(<p:r xmlns:p="urn:x" p:k="v"/>)";
  XmlParser plain{std::string_view(text)};
  Recorder a;
  plain.setDelegate(&a);
  ASSERT_TRUE(plain.parse());
  ASSERT_GT(a.events.size(), 1u);
  EXPECT_EQ(a.events[1], "<p:r|| p:k=v");
  XmlParser ns{std::string_view(text)};
  ns.setShouldProcessNamespaces(true);
  Recorder b;
  ns.setDelegate(&b);
  ASSERT_TRUE(ns.parse());
  ASSERT_GT(b.events.size(), 1u);
  EXPECT_EQ(b.events[1], "<r|urn:x|p:r k=v");
}

TEST(XmlParser, AbortAndErrorsEndTheParse) {
  XmlParser parser(std::string_view("<r><stop/><after/></r>"));
  Recorder r;
  r.abortAt = "stop";
  parser.setDelegate(&r);
  EXPECT_FALSE(parser.parse());
  ASSERT_TRUE(parser.parserError());
  EXPECT_EQ(parser.parserError()->code(), 512);
  EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "<after||"), 0);
  ASSERT_FALSE(r.events.empty());
  EXPECT_EQ(r.events.back(), "error");

  XmlParser broken(std::string_view("<r>\n<a></b></r>"));
  Recorder r2;
  broken.setDelegate(&r2);
  EXPECT_FALSE(broken.parse());
  ASSERT_TRUE(broken.parserError());
  EXPECT_NE(broken.parserError()->localizedDescription().find("line 2"), std::string::npos);
  EXPECT_EQ(std::count(r2.events.begin(), r2.events.end(), "error"), 1);
}

TEST(XmlParser, NeverExpandsOrFetchesEntities) {
  XmlParser parser(std::string_view(
      "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\"><!ENTITY y \"&x;&x;\">]><r>&y;</r>"));
  parser.setShouldResolveExternalEntities(true);
  Recorder r;
  parser.setDelegate(&r);
  EXPECT_FALSE(parser.parse());
  ASSERT_TRUE(parser.parserError());
  for (const std::string& e : r.events) EXPECT_EQ(e.find("root:"), std::string::npos);
  EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "<r||"), 0);
}

TEST(XmlParser, ReadsUtf16WithAByteOrderMark) {
  XmlParser parser(std::string_view("\xFF\xFE<\0e\0>\0\xE9\0<\0/\0e\0>\0", 18));
  Recorder r;
  parser.setDelegate(&r);
  ASSERT_TRUE(parser.parse()) << parser.parserError()->localizedDescription();
  EXPECT_EQ(r.events, (std::vector<std::string>{"start-doc", "<e||", "text:\xC3\xA9", "/e", "end-doc"}));
}

// A document whose tree is deferred refuses what parse refuses, with the same errors, and once
// read is the same document.
TEST(XmlDocument, DeferredTreeChecksNowAndReadsLikeParse) {
  auto data = [](std::string_view s) { return Data(s.begin(), s.end()); };
  const std::string_view bad[] = {
      "", "<a><b></a>", "<a>&undefined;</a>", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
      "<a>\xff\xfe</a>", "<a/><b/>", "<p:a/>"};
  for (auto text : bad) {
    Error eager, deferred;
    auto parsed = XmlDocument::parse(std::string_view(text), 0, &eager);
    auto checked = XmlDocument::parseDeferringTree(data(text), 0, &deferred);
    EXPECT_EQ(parsed == nullptr, checked == nullptr) << text;
    if (!parsed) {
      EXPECT_EQ(eager.code(), deferred.code()) << text;
      EXPECT_EQ(eager.localizedDescription(), deferred.localizedDescription()) << text;
    }
  }
  auto doc = XmlDocument::parseDeferringTree(data(kSyncFile));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->xmlString(), XmlDocument::parse(std::string_view(kSyncFile))->xmlString());
  // First use from several threads at once builds one tree.
  std::vector<std::thread> readers;
  std::vector<std::size_t> found(4);
  for (std::size_t i = 0; i < found.size(); ++i)
    readers.emplace_back([&, i] { found[i] = doc->nodesForXPath("//bookmark/title").size(); });
  for (auto& t : readers) t.join();
  EXPECT_EQ(found, std::vector<std::size_t>(4, 2));
  EXPECT_EQ(doc->rootElement().name(), "sync_file");
  // Nodes keep the tree alive after the document is gone.
  XmlNode title = doc->firstNodeForXPath("//title");
  doc.reset();
  EXPECT_EQ(title.stringValue(), "One & only");
}
