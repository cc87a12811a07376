#include "Network/NetMultipartFormData.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Net/SystemInfo.h"
#include "Platform/Net/URLError.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>

namespace kesto {

namespace {
constexpr const char* kCRLF = "\r\n";

std::string encodeIn(const std::string& text, fnd::StringEncoding encoding) {
  if (encoding == fnd::kUTF8StringEncoding) return text;
  auto e = fnd::encodeText(text, encoding, true);
  return e ? *e : text;
}

fnd::Error partError(std::string reason) {
  return fnd::Error(kNetURLRequestSerializationErrorDomain, net::urlerror::BadURL,
                    {{fnd::kLocalizedFailureReasonKey, NetLocalizedString(reason)},
                     {fnd::kLocalizedDescriptionKey, NetLocalizedString(reason)}});
}
}  // namespace

std::string NetCreateMultipartFormBoundary() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Boundary+%08X%08X", fnd::crypto::randomUInt32(), fnd::crypto::randomUInt32());
  return buf;
}

std::string NetEscapedMultipartHeaderParameter(std::string_view text) { return fnd::escapeQuotedHeaderParameter(text); }

// ---------------------------------------------------------------------------------------------

NetHTTPBodyPart::NetHTTPBodyPart(fnd::StringEncoding encoding, net::HTTPHeaders headers, std::string boundary, Body body,
                                 std::uint64_t bodyContentLength)
    : encoding_(encoding),
      headers_(std::move(headers)),
      boundary_(std::move(boundary)),
      body_(std::move(body)),
      bodyLength_(bodyContentLength) {
  transitionToNextPhase();
}

NetHTTPBodyPart::~NetHTTPBodyPart() {
  if (stream_) stream_->close();
}

std::string NetHTTPBodyPart::boundaryLine() const {
  return encodeIn(hasInitialBoundary ? "--" + boundary_ + kCRLF : std::string(kCRLF) + "--" + boundary_ + kCRLF, encoding_);
}

std::string NetHTTPBodyPart::closingLine() const {
  return hasFinalBoundary ? encodeIn(std::string(kCRLF) + "--" + boundary_ + "--" + kCRLF, encoding_) : std::string();
}

std::string NetHTTPBodyPart::stringForHeaders() const {
  std::string out;
  for (const auto& [name, value] : headers_.fields()) out += name + ": " + value + kCRLF;
  out += kCRLF;
  return encodeIn(out, encoding_);
}

std::uint64_t NetHTTPBodyPart::contentLength() const {
  return boundaryLine().size() + stringForHeaders().size() + bodyLength_ + closingLine().size();
}

bool NetHTTPBodyPart::hasBytesAvailable() const {
  return !error_ && !done_;
}

net::InputStream& NetHTTPBodyPart::inputStream() {
  if (!stream_) {
    if (auto* data = std::get_if<fnd::Data>(&body_))
      stream_ = net::makeDataInputStream(*data);
    else if (auto* path = std::get_if<std::string>(&body_))
      stream_ = net::makeFileInputStream(*path);
    else if (auto* s = std::get_if<std::shared_ptr<net::InputStream>>(&body_); s && *s)
      stream_ = *s;
    else
      stream_ = net::makeDataInputStream({});
  }
  return *stream_;
}

void NetHTTPBodyPart::transitionToNextPhase() {
  // Transitions run on the reading thread: the main thread may itself be waiting for this body.
  switch (phase_) {
    case EncapsulationBoundary: phase_ = Header; break;
    case Header:
      inputStream().open();
      phase_ = BodyPhase;
      break;
    case BodyPhase:
      inputStream().close();
      phase_ = FinalBoundary;
      break;
    case FinalBoundary:
      done_ = true;
      phase_ = EncapsulationBoundary;
      break;
    case Initial:
    default: phase_ = EncapsulationBoundary; break;
  }
  phaseReadOffset_ = 0;
}

std::size_t NetHTTPBodyPart::deliver(const std::string& text, std::uint8_t* buffer, std::size_t maxLength) {
  std::size_t n = std::min<std::size_t>(text.size() - phaseReadOffset_, maxLength);
  if (n) std::memcpy(buffer, text.data() + phaseReadOffset_, n);
  phaseReadOffset_ += n;
  if (phaseReadOffset_ >= text.size()) transitionToNextPhase();
  return n;
}

std::ptrdiff_t NetHTTPBodyPart::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (error_) return -1;
  std::size_t total = 0;
  if (phase_ == EncapsulationBoundary) total += deliver(boundaryLine(), buffer + total, maxLength - total);
  if (phase_ == Header) total += deliver(stringForHeaders(), buffer + total, maxLength - total);
  if (phase_ == BodyPhase) {
    net::InputStream& in = inputStream();
    std::uint64_t remaining = bodyLength_ - bodyRead_;
    std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, maxLength - total));
    if (ask > 0) {
      if (in.status() == net::StreamStatus::Error) {
        error_ = in.error().value_or(partError("The part's stream failed."));
        return -1;
      }
      std::ptrdiff_t n = in.read(buffer + total, ask);
      if (n < 0) {
        error_ = in.error().value_or(partError("The part's stream failed."));
        return -1;
      }
      if (n == 0) {
        // The body ended before its declared length (a file that shrank, a consumed stream):
        // sending on would put the body out of step with Content-Length.
        error_ = partError("The part ended before its declared length.");
        return -1;
      }
      bodyRead_ += static_cast<std::uint64_t>(n);
      total += static_cast<std::size_t>(n);
    }
    if (bodyRead_ == bodyLength_) transitionToNextPhase();
  }
  if (phase_ == FinalBoundary) total += deliver(closingLine(), buffer + total, maxLength - total);
  return static_cast<std::ptrdiff_t>(total);
}

std::unique_ptr<NetHTTPBodyPart> NetHTTPBodyPart::copy() const {
  if (std::holds_alternative<std::shared_ptr<net::InputStream>>(body_)) return nullptr;
  return std::make_unique<NetHTTPBodyPart>(encoding_, headers_, boundary_, body_, bodyLength_);
}

// ---------------------------------------------------------------------------------------------

NetMultipartBodyStream::NetMultipartBodyStream(fnd::StringEncoding encoding) : encoding_(encoding) {}
NetMultipartBodyStream::~NetMultipartBodyStream() = default;

void NetMultipartBodyStream::appendHTTPBodyPart(std::unique_ptr<NetHTTPBodyPart> part) { parts_.push_back(std::move(part)); }

void NetMultipartBodyStream::setInitialAndFinalBoundaries() {
  if (parts_.empty()) return;
  for (auto& p : parts_) p->hasInitialBoundary = p->hasFinalBoundary = false;
  parts_.front()->hasInitialBoundary = true;
  parts_.back()->hasFinalBoundary = true;
}

std::uint64_t NetMultipartBodyStream::contentLength() const {
  std::uint64_t total = 0;
  for (const auto& p : parts_) total += p->contentLength();
  return total;
}

void NetMultipartBodyStream::open() {
  if (status_ != net::StreamStatus::NotOpen) return;
  status_ = net::StreamStatus::Open;
  setInitialAndFinalBoundaries();
  current_ = 0;
}

void NetMultipartBodyStream::close() {
  if (status_ != net::StreamStatus::Error) status_ = net::StreamStatus::Closed;
}

bool NetMultipartBodyStream::hasBytesAvailable() const { return status_ == net::StreamStatus::Open; }

std::ptrdiff_t NetMultipartBodyStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (status_ == net::StreamStatus::Closed || status_ == net::StreamStatus::AtEnd) return 0;
  if (status_ != net::StreamStatus::Open) return -1;
  std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(maxLength, numberOfBytesInPacket));
  std::size_t total = 0;
  while (total < limit) {
    if (current_ >= parts_.size()) break;
    NetHTTPBodyPart& part = *parts_[current_];
    if (!part.hasBytesAvailable()) {
      ++current_;
      continue;
    }
    std::ptrdiff_t n = part.read(buffer + total, maxLength - total);
    if (n < 0) {
      error_ = part.error();
      status_ = net::StreamStatus::Error;
      return -1;
    }
    total += static_cast<std::size_t>(n);
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
  }
  if (total == 0 && current_ >= parts_.size()) status_ = net::StreamStatus::AtEnd;
  return static_cast<std::ptrdiff_t>(total);
}

std::shared_ptr<net::InputStream> NetMultipartBodyStream::reopened() const {
  auto copy = std::make_shared<NetMultipartBodyStream>(encoding_);
  for (const auto& p : parts_) {
    auto c = p->copy();
    if (!c) return nullptr;  // a caller's stream cannot be read a second time
    copy->appendHTTPBodyPart(std::move(c));
  }
  copy->setInitialAndFinalBoundaries();
  return copy;
}

// ---------------------------------------------------------------------------------------------

NetStreamingMultipartFormData::NetStreamingMultipartFormData(net::URLRequest request, fnd::StringEncoding encoding)
    : request_(std::move(request)),
      encoding_(encoding),
      boundary_(NetCreateMultipartFormBoundary()),
      bodyStream_(std::make_shared<NetMultipartBodyStream>(encoding)) {}

bool NetStreamingMultipartFormData::appendPartWithFileURL(const net::URL& fileURL, const std::string& name,
                                                          fnd::Error* error) {
  std::string fileName = fileURL.lastPathComponent();
  std::string mime = net::mimeTypeForPathExtension(fileURL.pathExtension());
  return appendPartWithFileURL(fileURL, name, fileName, mime, error);
}

bool NetStreamingMultipartFormData::appendPartWithFileURL(const net::URL& fileURL, const std::string& name,
                                                          const std::string& fileName, const std::string& mimeType,
                                                          fnd::Error* error) {
  if (!fileURL.isFileURL()) {
    if (error) *error = partError("Expected URL to be a file URL");
    return false;
  }
  std::string path = fnd::removePercentEscapesOrKeep(fileURL.path());
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (error) *error = partError("File URL not reachable.");
    return false;
  }
  net::HTTPHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + NetEscapedMultipartHeaderParameter(name) +
                                         "\"; filename=\"" + NetEscapedMultipartHeaderParameter(fileName) + "\"");
  headers.set("Content-Type", mimeType);
  bodyStream_->appendHTTPBodyPart(std::make_unique<NetHTTPBodyPart>(encoding_, std::move(headers), boundary_, path,
                                                                    static_cast<std::uint64_t>(st.st_size)));
  return true;
}

void NetStreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<net::InputStream> stream,
                                                              const std::string& name, const std::string& fileName,
                                                              std::int64_t length, const std::string& mimeType) {
  net::HTTPHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + NetEscapedMultipartHeaderParameter(name) +
                                         "\"; filename=\"" + NetEscapedMultipartHeaderParameter(fileName) + "\"");
  headers.set("Content-Type", mimeType);
  bodyStream_->appendHTTPBodyPart(std::make_unique<NetHTTPBodyPart>(
      encoding_, std::move(headers), boundary_, std::move(stream), static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0))));
}

void NetStreamingMultipartFormData::appendPartWithFileData(fnd::Data data, const std::string& name,
                                                           const std::string& fileName, const std::string& mimeType) {
  net::HTTPHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + NetEscapedMultipartHeaderParameter(name) +
                                         "\"; filename=\"" + NetEscapedMultipartHeaderParameter(fileName) + "\"");
  headers.set("Content-Type", mimeType);
  appendPartWithHeaders(std::move(headers), std::move(data));
}

void NetStreamingMultipartFormData::appendPartWithFormData(fnd::Data data, const std::string& name) {
  net::HTTPHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + NetEscapedMultipartHeaderParameter(name) + "\"");
  appendPartWithHeaders(std::move(headers), std::move(data));
}

void NetStreamingMultipartFormData::appendPartWithHeaders(net::HTTPHeaders headers, fnd::Data body) {
  std::uint64_t length = body.size();
  bodyStream_->appendHTTPBodyPart(
      std::make_unique<NetHTTPBodyPart>(encoding_, std::move(headers), boundary_, std::move(body), length));
}

void NetStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) {
  bodyStream_->numberOfBytesInPacket = numberOfBytes;
  bodyStream_->delay = delay;
}

net::URLRequest NetStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
  if (bodyStream_->isEmpty()) return request_;
  bodyStream_->setInitialAndFinalBoundaries();
  request_.setHTTPBodyStream(bodyStream_);
  request_.setValueForHTTPHeaderField("multipart/form-data; boundary=" + boundary_, "Content-Type");
  request_.setValueForHTTPHeaderField(std::to_string(bodyStream_->contentLength()), "Content-Length");
  return request_;
}

}  // namespace kesto
