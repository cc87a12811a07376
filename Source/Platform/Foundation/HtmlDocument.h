#pragma once

#include "Platform/Foundation/XmlDocument.h"

#include <memory>
#include <string_view>

namespace kesto::fnd {

class Error;

// Reads HTML as browsers write it (unclosed and misnested elements, upper-case names, stray
// paragraphs) into a tidy element tree that XPath can walk:
// - element and attribute names are lower case; /html/head/title and /html/body always exist;
// - the charset comes from a byte-order mark, else a <meta> declaration, else UTF-8;
// - consecutive DT (and DD) items are siblings, however long the list;
// - a DT that holds an H3 followed by a DL (the folder form of bookmark files) becomes a DD
//   holding that H3 and DL; a folder description between them (<DT><H3>name</H3><DD>text<DL>)
//   stays a DD of its own right after the folder;
// - P elements are unwrapped (their contents stay in place);
// - text nodes that hold only white space between block elements are dropped, line ends in
//   the remaining text are LF.
// The network is never used and no external resource is loaded.
class HtmlDocument {
 public:
  static constexpr std::size_t kDefaultMaxInputBytes = 64u * 1024 * 1024;

  // Null with `error` only when the input is over the size limit or nothing could be read;
  // broken markup is recovered.
  static std::shared_ptr<XmlDocument> parse(std::string_view bytes, Error* error = nullptr,
                                            std::size_t maxInputBytes = kDefaultMaxInputBytes);
};

}  // namespace kesto::fnd
