#pragma once

#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

class Error;

// A node of a parsed XML or HTML document. A node keeps its document alive, so nodes may
// outlive the XmlDocument handle they came from. A default-made node is invalid and answers
// empty values everywhere.
class XmlNode {
 public:
  enum class Kind { Invalid, Document, Element, Attribute, Text, CData, Comment, ProcessingInstruction, Other };

  XmlNode() = default;

  bool isValid() const { return node_ != nullptr; }
  explicit operator bool() const { return isValid(); }
  Kind kind() const;

  // Element or attribute name (with its prefix, if any); "" for other kinds.
  std::string name() const;
  // The text of the node: for elements and documents every descendant text joined in order,
  // for attributes their value, for text, comments and CDATA their contents.
  std::string stringValue() const;

  // Attributes of an element, by exact name.
  std::optional<std::string> attribute(std::string_view name) const;
  bool hasAttribute(std::string_view name) const;
  std::vector<XmlNode> attributes() const;

  XmlNode parent() const;
  XmlNode firstChild() const;
  // Sibling nodes of every kind, text included.
  XmlNode nextSibling() const;
  XmlNode previousSibling() const;
  std::vector<XmlNode> children() const;
  // Element children, all or those named `name`.
  std::vector<XmlNode> elementChildren(std::string_view name = {}) const;

  // Evaluates an XPath 1.0 expression with this node as the context node. Expressions are
  // compiled once and cached. A result that is not a node set gives an empty list; an
  // invalid expression gives an empty list and fills `error`.
  std::vector<XmlNode> nodesForXPath(std::string_view xpath, Error* error = nullptr) const;
  // The first node of nodesForXPath, or an invalid node.
  XmlNode firstNodeForXPath(std::string_view xpath, Error* error = nullptr) const;
  // The result of an expression as a value: node sets as the string value of their first
  // node, numbers as reals, booleans and strings as such. Null on an invalid expression.
  Value valueForXPath(std::string_view xpath, Error* error = nullptr) const;

  // The node written out as XML.
  std::string xmlString() const;
  // Source line of the node, 0 when unknown.
  long line() const;

  bool operator==(const XmlNode& other) const { return node_ == other.node_; }

 private:
  friend class XmlDocument;
  friend struct XmlAccess;
  XmlNode(std::shared_ptr<void> owner, void* node) : owner_(std::move(owner)), node_(node) {}

  std::shared_ptr<void> owner_;
  void* node_ = nullptr;
};

// A parsed XML document on libxml2. Input is untrusted: the network is never used, external
// entities and DTDs are never loaded, documents declaring entities are refused (so entity
// expansion cannot blow up), and the size of the input is bounded.
class XmlDocument final : public Object {
 public:
  // Option bits of parse(), numbered as the platform numbers them so masks pass through.
  enum Options : unsigned {
    // Parse as HTML with recovery and tidy the tree (see HtmlDocument).
    TidyHTML = 1u << 9,
    // Keep text nodes that hold only white space (XML keeps them anyway; kept for masks).
    PreserveWhitespace = 1u << 25,
    // Lift libxml2's limits on single text nodes and depth for large trusted-shape files
    // (sync files); the overall input size limit still applies.
    HugeInput = 1u << 30,
  };

  static constexpr const char* kErrorDomain = "NSXMLParserErrorDomain";
  // Error code for inputs over the size limit or declaring entities.
  static constexpr long kRefusedInputError = 111;
  static constexpr std::size_t kDefaultMaxInputBytes = 128u * 1024 * 1024;

  // Parses bytes, detecting their encoding from the BOM or the declaration. Null with
  // `error` (the parser's message as the description) when the input is not well-formed.
  static std::shared_ptr<XmlDocument> parse(std::string_view bytes, unsigned options = 0, Error* error = nullptr,
                                            std::size_t maxInputBytes = kDefaultMaxInputBytes);
  static std::shared_ptr<XmlDocument> parse(const Data& bytes, unsigned options = 0, Error* error = nullptr);
  // Parses text already decoded to UTF-8; the encoding named in the declaration is ignored.
  static std::shared_ptr<XmlDocument> parseString(std::string_view utf8Text, unsigned options = 0,
                                                  Error* error = nullptr);

  // parse(bytes, options, error)'s checks and errors in one streaming pass that builds no tree;
  // the tree is built from a copy of the bytes when the document is first used. For replies
  // that are checked on arrival but seldom read (a large reply costs several times its size
  // as a tree).
  static std::shared_ptr<XmlDocument> parseDeferringTree(const Data& bytes, unsigned options = 0,
                                                         Error* error = nullptr);

  XmlNode documentNode() const;
  XmlNode rootElement() const;
  // XPath from the document node.
  std::vector<XmlNode> nodesForXPath(std::string_view xpath, Error* error = nullptr) const;
  XmlNode firstNodeForXPath(std::string_view xpath, Error* error = nullptr) const;

  // The whole document written out as UTF-8 XML.
  std::string xmlString() const;
  std::string description() const override;

  // Takes ownership of a libxml2 document (an xmlDocPtr). For the HTML reader.
  explicit XmlDocument(void* xmlDoc);

 private:
  struct Deferred;
  explicit XmlDocument(std::shared_ptr<Deferred> deferred);
  // The libxml2 document, built first if it was deferred; null only if building failed.
  const std::shared_ptr<void>& tree() const;

  mutable std::shared_ptr<void> doc_;
  std::shared_ptr<Deferred> deferred_;
};

}  // namespace kesto::fnd
