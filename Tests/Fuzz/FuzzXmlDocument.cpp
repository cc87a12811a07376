#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/XmlDocument.h"

using kesto::fnd::XmlDocument;
using kesto::fnd::XmlNode;

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
  kesto::fuzz::walkTree(doc->documentNode(), [](const XmlNode& node) {
    (void)node.kind();
    (void)node.name();
    (void)node.line();
    for (const auto& attribute : node.attributes()) (void)attribute.stringValue();
  });
  (void)doc->rootElement().stringValue();
  (void)doc->nodesForXPath("//*[@id]");
  (void)doc->firstNodeForXPath("/*/*[1]/text()");
  (void)doc->xmlString();
  return 0;
}
