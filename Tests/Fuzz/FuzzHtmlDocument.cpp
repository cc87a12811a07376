#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/XmlDocument.h"

using kesto::fnd::HtmlDocument;
using kesto::fnd::XmlNode;

namespace {

void walk(const XmlNode& node, int depth, int& budget) {
  if (!node || depth > 256 || --budget < 0) return;
  (void)node.name();
  (void)node.attribute("href");
  for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) walk(child, depth + 1, budget);
}

}  // namespace

// Bookmark files and web pages: broken markup is recovered, never refused.
KESTO_FUZZ_TARGET(HtmlDocument) {
  auto doc = HtmlDocument::parse(kesto::fuzz::asText(data, size));
  if (!doc) return 0;
  int budget = 5000;
  walk(doc->documentNode(), 0, budget);
  (void)doc->nodesForXPath("//a[@href]");
  (void)doc->xmlString();
  return 0;
}
