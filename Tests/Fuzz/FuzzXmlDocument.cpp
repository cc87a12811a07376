#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/XmlDocument.h"

using kesto::fnd::XmlDocument;
using kesto::fnd::XmlNode;

namespace {

// Touches every node the way readers do, bounded so a deep tree cannot take long.
void walk(const XmlNode& node, int depth, int& budget) {
  if (!node || depth > 256 || --budget < 0) return;
  (void)node.kind();
  (void)node.name();
  (void)node.line();
  for (const auto& attribute : node.attributes()) (void)attribute.stringValue();
  for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) walk(child, depth + 1, budget);
}

}  // namespace

// XML replies and sync files.
KESTO_FUZZ_TARGET(XmlDocument) {
  const auto bytes = kesto::fuzz::asText(data, size);
  unsigned options = size && (data[0] & 1) ? XmlDocument::HugeInput : 0u;
  auto doc = XmlDocument::parse(bytes, options);
  // Replies are checked without a tree first; that check must agree with the full parse.
  auto deferred = XmlDocument::parseDeferringTree(kesto::fnd::Data(data, data + size), options);
  KESTO_FUZZ_CHECK((doc == nullptr) == (deferred == nullptr));
  if (!doc) return 0;
  KESTO_FUZZ_CHECK(deferred->xmlString() == doc->xmlString());
  int budget = 5000;
  walk(doc->documentNode(), 0, budget);
  (void)doc->rootElement().stringValue();
  (void)doc->nodesForXPath("//*[@id]");
  (void)doc->firstNodeForXPath("/*/*[1]/text()");
  (void)doc->xmlString();
  return 0;
}
