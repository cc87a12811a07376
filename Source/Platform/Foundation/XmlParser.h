#pragma once

#include "Platform/Foundation/Value.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kesto::fnd {

class Error;
class XmlParser;

// Callbacks of an event-driven parse, all optional.
class XmlParserDelegate {
 public:
  virtual ~XmlParserDelegate() = default;
  virtual void parserDidStartDocument(XmlParser& parser) {}
  virtual void parserDidEndDocument(XmlParser& parser) {}
  // `elementName` is the local name; with namespace processing off it is the qualified name
  // and `namespaceURI` is empty.
  virtual void parserDidStartElement(XmlParser& parser, const std::string& elementName,
                                     const std::string& namespaceURI, const std::string& qualifiedName,
                                     const std::map<std::string, std::string>& attributes) {}
  virtual void parserDidEndElement(XmlParser& parser, const std::string& elementName,
                                   const std::string& namespaceURI, const std::string& qualifiedName) {}
  // Text may arrive in several pieces.
  virtual void parserFoundCharacters(XmlParser& parser, const std::string& characters) {}
  virtual void parserFoundCDATA(XmlParser& parser, const Data& block) {}
  virtual void parserParseErrorOccurred(XmlParser& parser, const Error& error) {}
};

// An event-driven XML parser over bytes held in memory (libxml2 SAX). Entities other than the
// five predefined ones are never expanded, external entities and DTDs are never loaded, the
// network is never used, and the input size is bounded.
class XmlParser final : public Object {
 public:
  static constexpr std::size_t kMaxInputBytes = 128u * 1024 * 1024;

  explicit XmlParser(Data bytes);
  explicit XmlParser(std::string_view bytes);
  ~XmlParser() override;

  // Not owned; must outlive parse().
  void setDelegate(XmlParserDelegate* delegate);
  XmlParserDelegate* delegate() const;

  void setShouldProcessNamespaces(bool on);
  bool shouldProcessNamespaces() const;
  // Accepted for callers that ask for it; external entities are still never resolved.
  void setShouldResolveExternalEntities(bool on);
  bool shouldResolveExternalEntities() const;

  // Runs the whole parse, calling the delegate. True when the document was well-formed and
  // the parse was not aborted. A parser parses once; later calls return false.
  bool parse();
  // From a delegate callback: stops the parse, which then fails with an "aborted" error.
  void abortParsing();

  // The error that ended the parse, if any.
  std::optional<Error> parserError() const;
  long lineNumber() const;
  long columnNumber() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::fnd
