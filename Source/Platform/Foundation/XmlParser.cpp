#include "Platform/Foundation/XmlParser.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/XmlDocument.h"
#include "Platform/Foundation/Libxml_p.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/SAX2.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <mutex>

namespace kesto::fnd {

namespace {
// Error codes the platform's parser reports.
constexpr long kDelegateAbortedParseError = 512;
constexpr long kEntityDeclarationRefusedError = 111;

std::string str(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); }
std::string str(const xmlChar* b, const xmlChar* e) {
  return (b && e > b) ? std::string(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b)) : std::string();
}
std::string qualified(const xmlChar* prefix, const xmlChar* local) {
  return prefix ? str(prefix) + ":" + str(local) : str(local);
}
}  // namespace

struct XmlParser::Impl {
  XmlParser* owner = nullptr;
  Data bytes;
  XmlParserDelegate* delegate = nullptr;
  bool processNamespaces = false;
  bool resolveExternal = false;
  bool used = false;
  bool aborted = false;
  bool refused = false;
  xmlParserCtxtPtr ctxt = nullptr;
  std::optional<Error> error;
  std::string firstMessage;
  int firstCode = 0;
  int firstLine = 0;
  long line = 0, column = 0;

  static Impl* from(void* ctx) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    return static_cast<Impl*>(ctxt->_private);
  }
  void track() {
    if (!ctxt) return;
    line = xmlSAX2GetLineNumber(ctxt);
    column = xmlSAX2GetColumnNumber(ctxt);
  }

  static void startDocument(void* ctx) {
    Impl* d = from(ctx);
    d->track();
    if (d->delegate) d->delegate->parserDidStartDocument(*d->owner);
  }
  static void endDocument(void* ctx) {
    Impl* d = from(ctx);
    d->track();
    if (d->delegate) d->delegate->parserDidEndDocument(*d->owner);
  }
  static void startElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri, int,
                           const xmlChar**, int nbAttributes, int, const xmlChar** attrs) {
    Impl* d = from(ctx);
    d->track();
    if (!d->delegate) return;
    std::map<std::string, std::string> attributes;
    for (int i = 0; i < nbAttributes; ++i) {
      const xmlChar** a = attrs + 5 * i;  // localname, prefix, URI, value, end
      const std::string name = d->processNamespaces ? str(a[0]) : qualified(a[1], a[0]);
      attributes[name] = str(a[3], a[4]);
    }
    const std::string qname = qualified(prefix, localname);
    d->delegate->parserDidStartElement(*d->owner, d->processNamespaces ? str(localname) : qname,
                                       d->processNamespaces ? str(uri) : std::string(),
                                       d->processNamespaces ? qname : std::string(), attributes);
  }
  static void endElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    Impl* d = from(ctx);
    d->track();
    if (!d->delegate) return;
    const std::string qname = qualified(prefix, localname);
    d->delegate->parserDidEndElement(*d->owner, d->processNamespaces ? str(localname) : qname,
                                     d->processNamespaces ? str(uri) : std::string(),
                                     d->processNamespaces ? qname : std::string());
  }
  static void characters(void* ctx, const xmlChar* ch, int len) {
    Impl* d = from(ctx);
    if (d->delegate && len > 0)
      d->delegate->parserFoundCharacters(*d->owner, std::string(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len)));
  }
  static void cdata(void* ctx, const xmlChar* ch, int len) {
    Impl* d = from(ctx);
    if (d->delegate && len >= 0) d->delegate->parserFoundCDATA(*d->owner, Data(ch, ch + len));
  }
  // Declaring an entity ends the parse: nothing can then be expanded or fetched.
  static void entityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    Impl* d = from(ctx);
    d->refused = true;
    xmlStopParser(d->ctxt);
  }
  static xmlEntityPtr getEntity(void*, const xmlChar* name) { return xmlGetPredefinedEntity(name); }
  static xmlParserInputPtr resolveEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }
  static void structuredError(void* ctx, xmlErrorPtr err) {
    Impl* d = from(ctx);
    if (!err || err->level < XML_ERR_ERROR || !d->firstMessage.empty()) return;
    d->firstMessage = err->message ? err->message : "XML error";
    while (!d->firstMessage.empty() && (d->firstMessage.back() == '\n' || d->firstMessage.back() == ' '))
      d->firstMessage.pop_back();
    d->firstCode = err->code;
    d->firstLine = err->line;
  }
};

XmlParser::XmlParser(Data bytes) : d_(std::make_unique<Impl>()) {
  d_->owner = this;
  d_->bytes = std::move(bytes);
}

XmlParser::XmlParser(std::string_view bytes)
    : XmlParser(Data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                     reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size())) {}

XmlParser::~XmlParser() = default;

void XmlParser::setDelegate(XmlParserDelegate* delegate) { d_->delegate = delegate; }
XmlParserDelegate* XmlParser::delegate() const { return d_->delegate; }
void XmlParser::setShouldProcessNamespaces(bool on) { d_->processNamespaces = on; }
bool XmlParser::shouldProcessNamespaces() const { return d_->processNamespaces; }
void XmlParser::setShouldResolveExternalEntities(bool on) { d_->resolveExternal = on; }
bool XmlParser::shouldResolveExternalEntities() const { return d_->resolveExternal; }

bool XmlParser::parse() {
  if (d_->used) return false;
  d_->used = true;
  auto finishWith = [this](long code, std::string message) {
    d_->error = Error::withDescription(XmlDocument::kErrorDomain, code, std::move(message));
    if (d_->delegate) d_->delegate->parserParseErrorOccurred(*this, *d_->error);
    return false;
  };
  if (d_->bytes.size() > kMaxInputBytes) return finishWith(XmlDocument::kRefusedInputError, "The document is too large to read.");
  if (d_->bytes.empty()) return finishWith(XML_ERR_DOCUMENT_EMPTY, "Document is empty");

  libxml::initParser();
  xmlSetGenericErrorFunc(nullptr, libxml::silentGeneric);

  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startDocument = Impl::startDocument;
  sax.endDocument = Impl::endDocument;
  sax.startElementNs = Impl::startElement;
  sax.endElementNs = Impl::endElement;
  sax.characters = Impl::characters;
  sax.ignorableWhitespace = Impl::characters;
  sax.cdataBlock = Impl::cdata;
  sax.entityDecl = Impl::entityDecl;
  sax.getEntity = Impl::getEntity;
  sax.getParameterEntity = Impl::getEntity;
  sax.resolveEntity = Impl::resolveEntity;
  sax.serror = Impl::structuredError;

  xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
  if (!ctxt) return finishWith(XML_ERR_NO_MEMORY, "Out of memory");
  ctxt->_private = d_.get();
  ctxt->userData = ctxt;  // callbacks receive the context, and find us through _private
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOWARNING);
  d_->ctxt = ctxt;

  // Fed in pieces so that an abort from a callback takes effect promptly.
  const char* p = reinterpret_cast<const char*>(d_->bytes.data());
  std::size_t left = d_->bytes.size();
  while (left > 0 && !d_->aborted && !d_->refused && ctxt->disableSAX == 0) {
    const int n = static_cast<int>(std::min<std::size_t>(left, 64 * 1024));
    if (xmlParseChunk(ctxt, p, n, 0) != 0 && ctxt->disableSAX) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (!d_->aborted && !d_->refused && ctxt->disableSAX == 0) xmlParseChunk(ctxt, nullptr, 0, 1);
  d_->track();
  const bool wellFormed = ctxt->wellFormed != 0;
  d_->ctxt = nullptr;
  xmlFreeParserCtxt(ctxt);

  if (d_->aborted) return finishWith(kDelegateAbortedParseError, "The parse was aborted.");
  if (d_->refused) return finishWith(kEntityDeclarationRefusedError, "Entity declarations are not accepted.");
  if (!wellFormed) {
    std::string message = d_->firstMessage.empty() ? "The document is not well-formed." : d_->firstMessage;
    if (d_->firstLine > 0) message += " (line " + std::to_string(d_->firstLine) + ")";
    return finishWith(d_->firstCode ? d_->firstCode : XML_ERR_DOCUMENT_END, message);
  }
  return true;
}

void XmlParser::abortParsing() {
  d_->aborted = true;
  if (d_->ctxt) xmlStopParser(d_->ctxt);
}

std::optional<Error> XmlParser::parserError() const { return d_->error; }
long XmlParser::lineNumber() const { return d_->line; }
long XmlParser::columnNumber() const { return d_->column; }

}  // namespace kesto::fnd
