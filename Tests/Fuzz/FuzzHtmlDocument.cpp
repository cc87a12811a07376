#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/XmlDocument.h"

using kesto::fnd::HtmlDocument;
using kesto::fnd::XmlNode;

// Bookmark files and web pages: broken markup is recovered, never refused.
KESTO_FUZZ_TARGET(HtmlDocument) {
  auto doc = HtmlDocument::parse(kesto::fuzz::asText(data, size));
  if (!doc) return 0;
  kesto::fuzz::walkTree(doc->documentNode(), [](const XmlNode& node) {
    (void)node.name();
    (void)node.attribute("href");
  });
  (void)doc->nodesForXPath("//a[@href]");
  (void)doc->xmlString();
  return 0;
}
