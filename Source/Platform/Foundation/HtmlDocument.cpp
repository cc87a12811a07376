#include "Platform/Foundation/HtmlDocument.h"

#include "Platform/Foundation/Error.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/encoding.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

namespace kesto::fnd {
namespace {

void silentStructured(void*, xmlErrorPtr) {}
void silentGeneric(void*, const char*, ...) {}

bool isName(xmlNodePtr n, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && xmlStrcasecmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

xmlNodePtr firstElementChild(xmlNodePtr parent, const char* name) {
  for (xmlNodePtr c = parent ? parent->children : nullptr; c; c = c->next)
    if (isName(c, name)) return c;
  return nullptr;
}

bool isBlank(const xmlChar* s) {
  if (!s) return true;
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r' && *s != '\f') return false;
  return true;
}

// The charset to read with: a byte-order mark wins, then a <meta> declaration near the top,
// then UTF-8 (libxml2 would otherwise assume Latin-1).
std::string detectEncoding(std::string_view bytes, std::size_t* skip) {
  *skip = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *skip = 3;
    return "UTF-8";
  }
  if (bytes.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
  if (bytes.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
  std::string head(bytes.substr(0, 4096));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 5)) {
    const std::size_t end = head.find('>', at);
    const std::size_t cs = head.find("charset", at);
    if (cs == std::string::npos || (end != std::string::npos && cs > end)) continue;
    std::size_t i = cs + 7;
    while (i < head.size() && (head[i] == ' ' || head[i] == '=' || head[i] == '"' || head[i] == '\'')) ++i;
    std::size_t j = i;
    while (j < head.size() && (std::isalnum(static_cast<unsigned char>(head[j])) || head[j] == '-' ||
                               head[j] == '_' || head[j] == ':' || head[j] == '.'))
      ++j;
    std::string name = head.substr(i, j - i);
    // A page that says UTF-16 but has no byte-order mark is really in an ASCII-compatible form.
    if (name.empty() || name.rfind("utf-16", 0) == 0 || name.rfind("utf-32", 0) == 0) break;
    if (xmlCharEncodingHandlerPtr h = xmlFindCharEncodingHandler(name.c_str())) {
      xmlCharEncCloseFunc(h);
      return name;
    }
    break;
  }
  return "UTF-8";
}

// libxml2's HTML parser does not let a new DT close an open DT (nor DD a DD), so every item of
// a bookmark list would nest inside the one before it, and past the parser's depth limit (256)
// the rest of the file would be lost. Before parsing, each <dt> and <dd> start tag is preceded
// by the matching end tag; where nothing is open the parser ignores it. A folder's description
// (<DT><H3>name</H3><DD>text<DL>) would likewise take in the folder's list and everything after
// it, so a description DD still open at a <dl> is closed first; a DD holding a heading (the
// <DD><H3>name</H3><DL> folder form) keeps its list. Comments, quoted attribute values and
// script or style contents are copied untouched. The input is in an ASCII-compatible encoding,
// where '<' never appears inside a multi-byte character.
std::string closeOpenItems(std::string_view in) {
  const std::size_t n = in.size();
  std::string out;
  out.reserve(n + n / 16);
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  auto startsWithNoCase = [&](std::size_t at, std::string_view word) {
    if (at + word.size() > n) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
      if (lower(in[at + k]) != word[k]) return false;
    return true;
  };
  // Per list level: whether a DD is open there, and whether it holds a heading.
  struct Level {
    bool ddOpen = false;
    bool ddHeading = false;
  };
  std::vector<Level> levels(1);
  std::size_t i = 0;
  while (i < n) {
    const std::size_t lt = in.find('<', i);
    if (lt == std::string_view::npos) {
      out.append(in.substr(i));
      break;
    }
    out.append(in.substr(i, lt - i));
    i = lt;
    if (in.compare(i, 4, "<!--") == 0) {
      const std::size_t end = in.find("-->", i + 4);
      const std::size_t stop = end == std::string_view::npos ? n : end + 3;
      out.append(in.substr(i, stop - i));
      i = stop;
      continue;
    }
    std::size_t j = i + 1;
    const bool closing = j < n && in[j] == '/';
    if (closing) ++j;
    std::size_t k = j;
    while (k < n && std::isalnum(static_cast<unsigned char>(in[k]))) ++k;
    if (k == j) {  // not a tag: a lone '<', a declaration or a processing instruction
      out += '<';
      ++i;
      continue;
    }
    std::string name(in.substr(j, k - j));
    std::transform(name.begin(), name.end(), name.begin(), lower);
    if (!closing && (name == "dt" || name == "dd")) out += "</" + name + ">";
    Level& level = levels.back();
    if (closing) {
      if (name == "dd") level.ddOpen = false;
      if (name == "dl" && levels.size() > 1) levels.pop_back();
    } else if (name == "dd") {
      level = Level{true, false};
    } else if (name == "dt") {
      level.ddOpen = false;
    } else if (name == "h3") {
      level.ddHeading = level.ddOpen;
    } else if (name == "dl") {
      if (level.ddOpen && !level.ddHeading) out += "</dd>";
      level.ddOpen = false;
      levels.emplace_back();
    }
    // The tag runs to the first '>' outside a quoted attribute value.
    std::size_t e = k;
    char quote = 0;
    char lastSignificant = 0;
    for (; e < n; ++e) {
      const char c = in[e];
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if ((c == '"' || c == '\'') && lastSignificant == '=') {
        quote = c;
      } else if (c == '>') {
        break;
      }
      if (!std::isspace(static_cast<unsigned char>(c))) lastSignificant = c;
    }
    const std::size_t tagEnd = e < n ? e + 1 : n;
    out.append(in.substr(i, tagEnd - i));
    i = tagEnd;
    if (!closing && (name == "script" || name == "style")) {
      std::size_t close = i;
      while (close < n && !(in[close] == '<' && close + 1 < n && in[close + 1] == '/' &&
                            startsWithNoCase(close + 2, name)))
        ++close;
      out.append(in.substr(i, close - i));
      i = close;
    }
  }
  return out;
}

// UTF-16 input becomes UTF-8, so that the item pass above can work on it.
std::string utf16ToUtf8(std::string_view bytes, bool littleEndian) {
  QStringDecoder decoder(littleEndian ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
  const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return text.toStdString();
}

// Elements named `name` (or `other`) below `n`, in document order.
void collect(xmlNodePtr n, const char* name, std::vector<xmlNodePtr>& out, const char* other = nullptr) {
  for (xmlNodePtr c = n->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (isName(c, name) || (other && isName(c, other))) out.push_back(c);
    collect(c, name, out, other);
  }
}

// A <p> is unwrapped: its children take its place.
void unwrapParagraphs(xmlNodePtr root) {
  std::vector<xmlNodePtr> ps;
  collect(root, "p", ps);
  // Innermost first, so a moved child is never a paragraph still waiting.
  for (auto it = ps.rbegin(); it != ps.rend(); ++it) {
    xmlNodePtr p = *it;
    while (xmlNodePtr c = p->children) {
      xmlUnlinkNode(c);
      xmlAddPrevSibling(p, c);
    }
    xmlUnlinkNode(p);
    xmlFreeNode(p);
  }
}

// The parser leaves a DT open until something else closes it, so a list of DTs can come out
// nested one inside the other. Each nested DT or DD moves out after its parent, taking the
// nodes that follow it along.
void liftNestedItems(xmlNodePtr root) {
  std::vector<xmlNodePtr> items;
  collect(root, "dt", items, "dd");  // in document order, parents before their children
  for (xmlNodePtr n : items) {
    xmlNodePtr parent = n->parent;
    if (!isName(parent, "dt") && !isName(parent, "dd")) continue;
    xmlNodePtr anchor = parent;
    for (xmlNodePtr c = n; c;) {
      xmlNodePtr next = c->next;
      xmlUnlinkNode(c);
      // A text moved next to a text is merged into it and freed: keep the node that stays.
      xmlNodePtr placed = xmlAddNextSibling(anchor, c);
      if (!placed) {
        xmlFreeNode(c);
        break;
      }
      anchor = placed;
      c = next;
    }
  }
}

xmlNodePtr nextElement(xmlNodePtr n) {
  for (n = n->next; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) return n;
    if (n->type == XML_TEXT_NODE && !isBlank(n->content)) return nullptr;
  }
  return nullptr;
}

// The folder form of bookmark files: <DT><H3>name</H3><DL>...</DL> becomes a DD holding the
// H3 and the DL, wherever the parser left the DL (inside the DT or right after it). A folder
// description between the heading and the list stays as a DD after the folder.
void foldersToDefinitions(xmlNodePtr root) {
  std::vector<xmlNodePtr> dts;
  collect(root, "dt", dts);
  for (xmlNodePtr dt : dts) {
    xmlNodePtr h3 = firstElementChild(dt, "h3");
    if (!h3) continue;
    xmlNodePtr dl = nullptr;
    for (xmlNodePtr c = h3->next; c && !dl; c = c->next)
      if (isName(c, "dl")) dl = c;
    if (!dl) {
      xmlNodePtr after = nextElement(dt);
      if (isName(after, "dd") && !firstElementChild(after, "h3") && !firstElementChild(after, "dl"))
        after = nextElement(after);
      if (!isName(after, "dl")) continue;
      xmlUnlinkNode(after);
      xmlAddChild(dt, after);
    }
    xmlNodeSetName(dt, reinterpret_cast<const xmlChar*>("dd"));
  }
}

bool isBlockContainer(xmlNodePtr n) {
  static const char* const kBlocks[] = {"html", "head", "body", "dl", "dd", "dt", "ul", "ol", "div",
                                        "table", "thead", "tbody", "tr"};
  for (const char* b : kBlocks)
    if (isName(n, b)) return true;
  return false;
}

// Drops white space between block elements and turns CR LF and CR into LF.
void normaliseText(xmlNodePtr n) {
  for (xmlNodePtr c = n->children; c;) {
    xmlNodePtr next = c->next;
    if (c->type == XML_TEXT_NODE) {
      if (isBlockContainer(n) && isBlank(c->content)) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
      } else if (c->content && std::strchr(reinterpret_cast<const char*>(c->content), '\r')) {
        std::string s(reinterpret_cast<const char*>(c->content)), t;
        for (std::size_t i = 0; i < s.size(); ++i) {
          if (s[i] == '\r') {
            t += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
          } else {
            t += s[i];
          }
        }
        xmlNodeSetContentLen(c, reinterpret_cast<const xmlChar*>(t.data()), static_cast<int>(t.size()));
      }
    } else if (c->type == XML_ELEMENT_NODE) {
      normaliseText(c);
    }
    c = next;
  }
}

// /html/head/title and /html/body always exist, head first.
void ensureSkeleton(xmlDocPtr doc) {
  xmlNodePtr html = xmlDocGetRootElement(doc);
  if (!isName(html, "html")) {
    xmlNodePtr newHtml = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("html"), nullptr);
    if (html) {
      xmlUnlinkNode(html);
      xmlDocSetRootElement(doc, newHtml);
      xmlAddChild(newHtml, html);
    } else {
      xmlDocSetRootElement(doc, newHtml);
    }
    html = newHtml;
  }
  xmlNodePtr head = firstElementChild(html, "head");
  if (!head) {
    head = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("head"), nullptr);
    if (html->children)
      xmlAddPrevSibling(html->children, head);
    else
      xmlAddChild(html, head);
  }
  if (!firstElementChild(head, "title")) {
    // A title the parser placed in the body still names the document.
    xmlNodePtr title = nullptr;
    for (xmlNodePtr c = html->children; c && !title; c = c->next)
      if (c != head && c->type == XML_ELEMENT_NODE) title = firstElementChild(c, "title");
    if (title)
      xmlUnlinkNode(title);
    else
      title = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("title"), nullptr);
    xmlAddChild(head, title);
  }
  xmlNodePtr body = firstElementChild(html, "body");
  if (!body) {
    body = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("body"), nullptr);
    // Whatever sits beside head (frames, stray content) moves into the new body.
    for (xmlNodePtr c = html->children; c;) {
      xmlNodePtr next = c->next;
      if (c != head) {
        xmlUnlinkNode(c);
        xmlAddChild(body, c);
      }
      c = next;
    }
    xmlAddChild(html, body);
  }
}

}  // namespace

std::shared_ptr<XmlDocument> HtmlDocument::parse(std::string_view bytes, Error* error, std::size_t maxInputBytes) {
  if (bytes.size() > maxInputBytes || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    if (error)
      *error = Error::withDescription(XmlDocument::kErrorDomain, XmlDocument::kRefusedInputError,
                                      "The document is too large to read.");
    return nullptr;
  }
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  xmlSetGenericErrorFunc(nullptr, silentGeneric);
  xmlSetStructuredErrorFunc(nullptr, silentStructured);

  std::size_t skip = 0;
  std::string encoding = detectEncoding(bytes, &skip);
  bytes.remove_prefix(skip);
  std::string text;
  if (encoding == "UTF-16LE" || encoding == "UTF-16BE") {
    text = closeOpenItems(utf16ToUtf8(bytes.substr(2), encoding == "UTF-16LE"));
    encoding = "UTF-8";
  } else {
    text = closeOpenItems(bytes);
  }
  xmlDocPtr doc = nullptr;
  if (!text.empty() && text.size() <= static_cast<std::size_t>(INT32_MAX)) {
    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    if (ctxt) {
      ctxt->sax->serror = silentStructured;
      doc = htmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), nullptr, encoding.c_str(),
                               HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
      htmlFreeParserCtxt(ctxt);
    }
  }
  if (!doc) doc = htmlNewDocNoDtD(nullptr, nullptr);
  if (!doc) {
    if (error) *error = Error::withDescription(XmlDocument::kErrorDomain, 2, "Out of memory");
    return nullptr;
  }
  ensureSkeleton(doc);
  xmlNodePtr html = xmlDocGetRootElement(doc);
  unwrapParagraphs(html);
  liftNestedItems(html);
  foldersToDefinitions(html);
  normaliseText(html);
  return std::make_shared<XmlDocument>(doc);
}

}  // namespace kesto::fnd
