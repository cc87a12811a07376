#pragma once

#include "Platform/Foundation/XmlDocument.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::fnd {

class Error;

// Reads HTML as browsers write it (unclosed and misnested elements, upper-case names, stray
// paragraphs) into a tidy element tree that XPath can walk:
// - element and attribute names are lower case; /html/head/title and /html/body always exist;
// - the encoding comes from a byte-order mark, else a <meta> declaration, else UTF-8, and the
//   bytes are decoded as browsers decode them (labels as browsers know them, U+FFFD for what the
//   encoding cannot read);
// - comments end where HTML ends them ("<!-->" and "<!--->" at once, "--!>" too);
// - consecutive DT (and DD) items are siblings, however long the list;
// - a DT that holds an H3 followed by a DL (the folder form of bookmark files) becomes a DD
//   holding that H3 and DL; a folder description between them (<DT><H3>name</H3><DD>text<DL>)
//   stays a DD of its own right after the folder;
// - P elements are unwrapped (their contents stay in place);
// - text nodes that hold only white space between block elements are dropped, line ends in
//   the remaining text are LF.
// - character references read as browsers read them: numbers 128 to 159 by the Windows-1252
//   table, a number however many zeros pad it, and in attribute values the names HTML gained
//   later (&colon;, &Tab; ...) too.
// - what a browser reads as text is text: the contents of TEXTAREA, TITLE, XMP, IFRAME, NOEMBED
//   and NOFRAMES, all after a PLAINTEXT, "<!x>", "<?x>" and "</3>" up to the first '>' (as
//   comments); SCRIPT and STYLE end only at their end tag as a browser's tokenizer reads it; a
//   TEMPLATE's contents belong to no page, as in a browser; SVG and MathML hold no raw text (their STYLE
//   and SCRIPT tags are left out) and end where HTML breaks out of them; a tag cut off by the end
//   of the input is dropped.
// The network is never used and no external resource is loaded.
class HtmlDocument {
 public:
  static constexpr std::size_t kDefaultMaxInputBytes = 64u * 1024 * 1024;

  // Null with `error` only when the input is over the size limit or nothing could be read;
  // broken markup is recovered.
  static std::shared_ptr<XmlDocument> parse(std::string_view bytes, Error* error = nullptr,
                                            std::size_t maxInputBytes = kDefaultMaxInputBytes);
  // The encoding the reader would take for these bytes, by its web name ("windows-1252" for a
  // page declaring "iso-8859-1"): a byte-order mark's, else a <meta> declaration's in the first
  // 4 KiB, else "UTF-8".
  static std::string declaredCharset(std::string_view bytes);
};

// Receives what HtmlStreamReader reads, in document order. Names are lower case; elements the
// markup leaves out (html, head, body, closings of unclosed items) arrive as if written, so
// starts and ends always nest.
class HtmlStreamHandler {
 public:
  struct Attribute {
    std::string_view name;
    std::string_view value;  // empty for a bare attribute such as FOLDED
  };
  virtual ~HtmlStreamHandler() = default;
  virtual void startElement(std::string_view name, const std::vector<Attribute>& attributes) = 0;
  virtual void endElement(std::string_view name) = 0;
  // Character data, possibly in several pieces per run.
  virtual void text(std::string_view text) = 0;
  // The raw contents of script and style elements.
  virtual void rawText(std::string_view text) = 0;
  // A comment or processing instruction, with its contents.
  virtual void otherNode(std::string_view contents) = 0;
};

// Reads HTML as HtmlDocument does (charset, recovery, the item repairs), in one pass and
// without building a tree: the bytes are pulled from `source` a block at a time, so memory
// does not grow with the file. NUL bytes are dropped: they would otherwise end the reading.
class HtmlStreamReader {
 public:
  // Fills `buffer` with up to `size` bytes; 0 at the end.
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;
  struct Options {
    // Close any open DD right before a DL, whatever it holds (bookmark files put a folder's
    // description there, and never a folder of their own).
    bool closeDescriptionBeforeList = false;
    // Keep lists and items open, and end them, as browsers do where libxml2 would not: inside a
    // list, tags of elements HTML does not name special (FONT, SPAN, unknown names), FORM tags,
    // and LI tags in a DL, are left out; an end tag that would end nothing a browser ends is left
    // out; a list's end, and an item's, also end the DIVs still open in it. What a browser reads
    // as text is read so too, as HtmlDocument reads it (a tag cut off by the end is dropped, and
    // counted in anchorsWithAddress when it is a link's; links in text-only contents the file
    // never ends are counted in anchorsInUnendedText).
    bool nestListsAsBrowsers = false;
  };
  struct Result {
    std::size_t bytesRead = 0;
    std::size_t nulBytesDropped = 0;
    // The most bytes held at once between the source and the parser: a block and a read's
    // worth, not the file.
    std::size_t largestBuffer = 0;
    // End tags that closed no open element: the parser looks for each through every open one,
    // so they cost as much as the document is deep.
    std::size_t endTagsClosingNothing = 0;
    // DT and LI start tags in the whole file (outside comments, text and tags), read to its
    // end even where the parser stopped before it: a parser that stopped or misread the file
    // handed on fewer.
    std::size_t itemStartTags = 0;
    // A start tags with an HREF attribute in the whole file, counted the same way.
    std::size_t anchorsWithAddress = 0;
    // A start tags with an HREF in the text of a text-only element (TEXTAREA, TITLE, XMP,
    // IFRAME, NOEMBED, NOFRAMES), a SCRIPT, STYLE or comment that runs to the end of the file, or
    // after a PLAINTEXT, and in a TEMPLATE that does (every link tag in that text, whatever else it
    // holds: a "<!--" there hides none): links the file holds that a browser reads as text or
    // leaves out of the page, so none reaches the parser. Apart from anchorsWithAddress;
    // `unendedTextElement` names that element (lower case; "#comment"), else is empty.
    std::size_t anchorsInUnendedText = 0;
    std::string unendedTextElement;
  };
  static Result read(const Source& source, HtmlStreamHandler& handler, const Options& options);
  static Result read(std::string_view bytes, HtmlStreamHandler& handler, const Options& options);

 private:
  friend struct TestAccess;
  // Tests only: the parser is handed at most this many bytes (0: all), as if it stopped there.
  static std::atomic<std::size_t> handOnLimit_;
};

}  // namespace kesto::fnd
