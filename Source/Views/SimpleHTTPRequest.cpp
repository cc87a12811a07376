#include "Views/SimpleHTTPRequest.h"

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLResponse.h"

#include <atomic>

namespace kesto {

using fnd::RunLoop;

struct SimpleHTTPRequest::Impl {
  net::URLRequest request;
  std::shared_ptr<const net::URLResponse> response;
  std::optional<fnd::Data> data;
  std::shared_ptr<net::URLConnection> connection;
  SimpleHTTPRequestDelegate* delegate = nullptr;
  unsigned capabilities = 0;
  fnd::Value userInfo;
  bool lowPriority = true;
  bool clearCachedResponse = true;
  std::size_t maximumBodyBytes = kDefaultMaximumBodyBytes;
  // Bumped by every start and cancel; deliveries of an older exchange are dropped.
  std::uint64_t generation = 0;
};

// Runs on the network thread and hands each event to the main thread.
struct SimpleHTTPRequestDriver : net::URLConnectionDelegate {
  std::weak_ptr<SimpleHTTPRequest> owner;
  std::uint64_t generation;
  RunLoop::Mode mode;
  std::size_t limit;
  bool keepOutOfCache;
  std::size_t received = 0;
  bool overLimit = false;

  void post(std::function<void(SimpleHTTPRequest&)> work) {
    RunLoop::main().perform(
        [owner = owner, generation = generation, work = std::move(work)] {
          auto self = owner.lock();
          if (!self || self->d_->generation != generation || !self->d_->connection) return;
          work(*self);
        },
        mode);
  }

  void connectionDidReceiveResponse(net::URLConnection&, std::shared_ptr<const net::URLResponse> response) override {
    post([response](SimpleHTTPRequest& r) { r.didReceiveResponse(response); });
  }
  void connectionDidReceiveData(net::URLConnection& connection, const std::uint8_t* bytes, std::size_t length) override {
    if (overLimit) return;
    received += length;
    if (received > limit) {
      // Stop the transfer here rather than buffer an unbounded body on its way to the main thread.
      overLimit = true;
      connection.cancel();
      auto url = connection.originalRequest().url();
      fnd::Error error = net::makeURLError(net::urlerror::DataLengthExceedsMaximum, &url);
      post([error](SimpleHTTPRequest& r) { r.didFail(error); });
      return;
    }
    fnd::Data chunk(bytes, bytes + length);
    post([chunk = std::move(chunk)](SimpleHTTPRequest& r) { r.didReceiveData(chunk); });
  }
  bool connectionWillCacheResponse(net::URLConnection&, const net::URLResponse&) override { return !keepOutOfCache; }
  void connectionDidFinishLoading(net::URLConnection&) override {
    if (overLimit) return;
    post([](SimpleHTTPRequest& r) { r.didFinish(); });
  }
  void connectionDidFailWithError(net::URLConnection&, const fnd::Error& error) override {
    if (overLimit) return;
    post([error](SimpleHTTPRequest& r) { r.didFail(error); });
  }
};

std::shared_ptr<SimpleHTTPRequest> SimpleHTTPRequest::make(net::URLRequest request) {
  return std::shared_ptr<SimpleHTTPRequest>(new SimpleHTTPRequest(std::move(request)));
}

SimpleHTTPRequest::SimpleHTTPRequest(net::URLRequest request) : d_(std::make_unique<Impl>()) {
  d_->request = std::move(request);
}

SimpleHTTPRequest::~SimpleHTTPRequest() {
  if (d_->connection) d_->connection->cancel();
}

void SimpleHTTPRequest::start() {
  if (!RunLoop::isMainThread()) {
    std::weak_ptr<SimpleHTTPRequest> weak = weak_from_this();
    RunLoop::main().perform([weak] {
      if (auto self = weak.lock()) self->start();
    });
    return;
  }
  if (d_->connection) return;
  d_->data = fnd::Data();
  d_->response.reset();
  ++d_->generation;
  auto driver = std::make_shared<SimpleHTTPRequestDriver>();
  driver->owner = weak_from_this();
  driver->generation = d_->generation;
  driver->mode = d_->lowPriority ? RunLoop::Mode::Default : RunLoop::Mode::Common;
  driver->limit = d_->maximumBodyBytes;
  driver->keepOutOfCache = d_->clearCachedResponse;
  d_->connection = net::URLConnection::make(d_->request, driver);
  d_->connection->start();
}

void SimpleHTTPRequest::cancel() {
  ++d_->generation;
  if (d_->connection) d_->connection->cancel();
  d_->connection.reset();
  d_->data.reset();
  d_->response.reset();
}

void SimpleHTTPRequest::didReceiveResponse(std::shared_ptr<const net::URLResponse> response) {
  d_->response = std::move(response);
  if (d_->delegate && (d_->capabilities & SimpleHTTPRequestDelegate::ReceivesResponse))
    d_->delegate->simpleHTTPRequestDidReceiveResponse(*this, *d_->response);
}

void SimpleHTTPRequest::didReceiveData(const fnd::Data& chunk) {
  if (!d_->data) d_->data = fnd::Data();
  d_->data->insert(d_->data->end(), chunk.begin(), chunk.end());
  auto keep = shared_from_this();  // a delegate may let go of the request in its callback
  std::uint64_t generation = d_->generation;
  if (d_->delegate && (d_->capabilities & SimpleHTTPRequestDelegate::ReceivesData))
    d_->delegate->simpleHTTPRequestDataUpdated(*this, chunk);
  if (generation != d_->generation) return;
  // The whole-body copy is made only for a delegate that asks for it.
  if (d_->delegate && (d_->capabilities & SimpleHTTPRequestDelegate::ReceivesTotalData))
    d_->delegate->simpleHTTPRequestDataUpdatedTotalData(*this, chunk, *d_->data);
}

void SimpleHTTPRequest::didFinish() {
  auto keep = shared_from_this();
  if (d_->delegate && (d_->capabilities & SimpleHTTPRequestDelegate::ReceivesFinished))
    d_->delegate->simpleHTTPRequestFinished(*this);
}

void SimpleHTTPRequest::didFail(const fnd::Error& error) {
  auto keep = shared_from_this();
  std::uint64_t generation = d_->generation;
  if (d_->delegate && (d_->capabilities & SimpleHTTPRequestDelegate::ReceivesFailed))
    d_->delegate->simpleHTTPRequestFailed(*this, error);
  if (generation == d_->generation) cancel();
}

const net::URLRequest& SimpleHTTPRequest::request() const { return d_->request; }
std::shared_ptr<const net::URLResponse> SimpleHTTPRequest::response() const { return d_->response; }

int SimpleHTTPRequest::responseStatusCode() const {
  auto http = std::dynamic_pointer_cast<const net::HTTPURLResponse>(d_->response);
  return http ? http->statusCode() : 0;
}

std::optional<fnd::Data> SimpleHTTPRequest::responseData() const { return d_->data; }

std::optional<std::string> SimpleHTTPRequest::responseString() const {
  if (d_->response && d_->response->textEncodingName() && d_->data)
    return fnd::decodeText(fnd::asStringView(*d_->data), *d_->response->textEncodingName());
  return responseUTF8String();
}

std::optional<std::string> SimpleHTTPRequest::responseUTF8String() const {
  if (!d_->data) return std::nullopt;
  return fnd::decodeText(fnd::asStringView(*d_->data), "UTF-8");
}

SimpleHTTPRequestDelegate* SimpleHTTPRequest::delegate() const { return d_->delegate; }
void SimpleHTTPRequest::setDelegate(SimpleHTTPRequestDelegate* delegate) {
  d_->delegate = delegate;
  d_->capabilities = delegate ? delegate->simpleHTTPRequestCapabilities() : 0;
}
const fnd::Value& SimpleHTTPRequest::userInfo() const { return d_->userInfo; }
void SimpleHTTPRequest::setUserInfo(fnd::Value userInfo) { d_->userInfo = std::move(userInfo); }
bool SimpleHTTPRequest::isLowPriority() const { return d_->lowPriority; }
void SimpleHTTPRequest::setLowPriority(bool low) { d_->lowPriority = low; }
bool SimpleHTTPRequest::shouldClearCachedResponseWhenRequestDone() const { return d_->clearCachedResponse; }
void SimpleHTTPRequest::setShouldClearCachedResponseWhenRequestDone(bool clear) { d_->clearCachedResponse = clear; }
std::size_t SimpleHTTPRequest::maximumBodyBytes() const { return d_->maximumBodyBytes; }
void SimpleHTTPRequest::setMaximumBodyBytes(std::size_t bytes) { d_->maximumBodyBytes = bytes; }

// Encoding helpers.

std::string SimpleHTTPRequest::urlEncode(const std::string& text, const std::string& charsetName) {
  if (auto encoded = fnd::percentEncodeUnreserved(text, charsetName)) return *encoded;
  return fnd::percentEncodeUnreserved(text);
}

std::optional<std::string> SimpleHTTPRequest::urlDecode(const std::string& text, const std::string& charsetName) {
  return fnd::removePercentEscapes(text, charsetName);
}

std::optional<fnd::Dictionary> SimpleHTTPRequest::parseGetParamsFromURLString(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::size_t q = text->find('?');
  if (q == std::string::npos) return std::nullopt;
  fnd::Dictionary out;
  std::string rest = text->substr(q + 1);
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t amp = rest.find('&', start);
    std::string piece = rest.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    std::size_t eq = piece.find('=');
    if (eq != std::string::npos) out[piece.substr(0, eq)] = fnd::Value(piece.substr(eq + 1));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

namespace getandpostparams {

namespace {

std::string pairs(const fnd::Dictionary& params) {
  std::string out;
  for (const auto& [key, value] : params) {
    if (!value.isString()) continue;
    if (!out.empty()) out += '&';
    out += SimpleHTTPRequest::urlEncode(key) + "=" + SimpleHTTPRequest::urlEncode(value.string());
  }
  return out;
}

// Header parameter text: a quote, CR or LF would end the value or the header line.
// A NUL cannot travel in a header at all, so such a name refuses the whole request.
std::optional<std::string> escapeHeaderParameter(const std::string& s) {
  if (s.find('\0') != std::string::npos) return std::nullopt;
  return fnd::escapeQuotedHeaderParameter(s);
}

std::string inCharset(const std::string& utf8, const std::string& charset) {
  if (auto encoded = fnd::encodeText(utf8, charset, true)) return *encoded;
  return utf8;
}

std::string textOf(const fnd::Value& v) {
  if (v.isString()) return v.string();
  return v.description();
}

}  // namespace

void setUpGetParams(net::URLRequest& request, const fnd::Dictionary& params) {
  const std::string& absolute = request.url().absoluteString();
  std::size_t cut = absolute.find_first_of("?#");
  std::string base = absolute.substr(0, cut);
  std::string text = base + "?" + pairs(params);
  // The fragment goes after the query, where it belongs.
  if (request.url().fragment()) text += "#" + *request.url().fragment();
  if (auto url = net::URL::fromString(text)) request.setURL(*url);
}

void setUpPostParams(net::URLRequest& request, const fnd::Dictionary& params) {
  std::string body = pairs(params);
  request.setHTTPBody(fnd::toData(body));
  request.setValueForHTTPHeaderField(std::to_string(body.size()), "Content-Length");
  request.setValueForHTTPHeaderField("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
  request.setHTTPMethod("POST");
}

bool setUpMultiPartFormDataRequest(net::URLRequest& request, const fnd::Dictionary& params,
                                   const std::vector<SimpleHTTPRequestUploadFile>& files,
                                   const std::string& charsetName) {
  std::string charset = charsetName.empty() ? "UTF-8" : charsetName;
  std::string boundary = "0xKhTmLbOuNdArY-" + fnd::Uuid::newString();
  std::string body = "--" + boundary + "\r\n";
  std::string separator = "\r\n--" + boundary + "\r\n";

  std::size_t index = 0;
  for (const auto& [key, value] : params) {
    auto name = escapeHeaderParameter(key);
    if (!name) return false;
    body += inCharset("Content-Disposition: form-data; name=\"" + *name + "\"\r\n\r\n", charset);
    body += inCharset(textOf(value), charset);
    ++index;
    if (index < params.size() || !files.empty()) body += separator;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& file = files[i];
    auto name = escapeHeaderParameter(file.name);
    auto fileName = escapeHeaderParameter(file.fileName);
    auto type = escapeHeaderParameter(file.contentType.value_or("application/octet-stream"));
    if (!name || !fileName || !type) return false;
    body += inCharset("Content-Disposition: form-data; name=\"" + *name + "\"; filename=\"" + *fileName + "\"\r\n",
                      charset);
    body += inCharset("Content-Type: " + *type + "\r\n\r\n", charset);
    if (file.fileData) body.append(reinterpret_cast<const char*>(file.fileData->data()), file.fileData->size());
    if (i + 1 < files.size()) body += separator;
  }
  body += "\r\n--" + boundary + "--\r\n";

  // The boundary must be announced, whatever type the caller set before.
  request.setValueForHTTPHeaderField("multipart/form-data; charset=" + charset + "; boundary=" + boundary,
                                     "Content-Type");
  request.setValueForHTTPHeaderField(std::to_string(body.size()), "Content-Length");
  request.setHTTPBody(fnd::toData(body));
  request.setHTTPMethod("POST");
  return true;
}

bool setUpMultiPartFormDataRequest(net::URLRequest& request, const fnd::Dictionary& params,
                                   const SimpleHTTPRequestUploadFile& file) {
  return setUpMultiPartFormDataRequest(request, params, std::vector<SimpleHTTPRequestUploadFile>{file});
}

}  // namespace getandpostparams

}  // namespace kesto
