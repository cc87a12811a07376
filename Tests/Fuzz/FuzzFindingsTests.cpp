// Behaviour behind corpus entries that once failed, checked without a sanitizer.

#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/XmlDocument.h"

#include <gtest/gtest.h>

using kesto::fnd::HtmlDocument;

// Unwrapping a paragraph can leave two texts side by side; lifting a nested item then merges
// them, and what followed the merged text must still be placed in the tree.
TEST(FuzzFindings, LiftedItemsKeepWhatFollowsMergedText) {
  auto doc = HtmlDocument::parse("<p=\"><DD><DD/>one<p>two<b>kept</b></p>three");
  ASSERT_TRUE(doc);
  auto kept = doc->nodesForXPath("//b");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].stringValue(), "kept");
  const std::string text = doc->rootElement().stringValue();
  EXPECT_NE(text.find("onetwo"), std::string::npos) << text;
  EXPECT_NE(text.find("three"), std::string::npos) << text;
}
