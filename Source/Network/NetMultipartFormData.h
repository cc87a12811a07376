#pragma once

#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/HTTPHeaders.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLRequest.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kesto {

// What a caller's body block may append to a multipart form.
class NetMultipartFormData {
 public:
  virtual ~NetMultipartFormData() = default;
  // File name from the URL, MIME type from its extension.
  virtual bool appendPartWithFileURL(const net::URL& fileURL, const std::string& name, fnd::Error* error) = 0;
  virtual bool appendPartWithFileURL(const net::URL& fileURL, const std::string& name, const std::string& fileName,
                                     const std::string& mimeType, fnd::Error* error) = 0;
  virtual void appendPartWithInputStream(std::shared_ptr<net::InputStream> stream, const std::string& name,
                                         const std::string& fileName, std::int64_t length, const std::string& mimeType) = 0;
  virtual void appendPartWithFileData(fnd::Data data, const std::string& name, const std::string& fileName,
                                      const std::string& mimeType) = 0;
  virtual void appendPartWithFormData(fnd::Data data, const std::string& name) = 0;
  virtual void appendPartWithHeaders(net::HTTPHeaders headers, fnd::Data body) = 0;
  virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

// One part: boundary line, header block, body, and the closing delimiter for the last part.
class NetHTTPBodyPart {
 public:
  using Body = std::variant<fnd::Data, std::string /* file path */, std::shared_ptr<net::InputStream>>;
  enum Phase { Initial = 0, EncapsulationBoundary = 1, Header = 2, BodyPhase = 3, FinalBoundary = 4 };

  NetHTTPBodyPart(fnd::StringEncoding encoding, net::HTTPHeaders headers, std::string boundary, Body body,
                  std::uint64_t bodyContentLength);
  ~NetHTTPBodyPart();

  bool hasInitialBoundary = false;
  bool hasFinalBoundary = false;

  const net::HTTPHeaders& headers() const { return headers_; }
  std::uint64_t bodyContentLength() const { return bodyLength_; }
  std::uint64_t contentLength() const;
  bool hasBytesAvailable() const;
  // Bytes delivered, or -1 with error() set.
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength);
  std::optional<fnd::Error> error() const { return error_; }
  // A fresh part over the same body; null for a caller's stream, which cannot be read twice.
  std::unique_ptr<NetHTTPBodyPart> copy() const;
  std::string stringForHeaders() const;

 private:
  std::string boundaryLine() const;
  std::string closingLine() const;
  std::size_t deliver(const std::string& text, std::uint8_t* buffer, std::size_t maxLength);
  void transitionToNextPhase();
  net::InputStream& inputStream();

  fnd::StringEncoding encoding_;
  net::HTTPHeaders headers_;
  std::string boundary_;
  Body body_;
  std::uint64_t bodyLength_;
  Phase phase_ = Initial;
  std::uint64_t phaseReadOffset_ = 0;
  std::uint64_t bodyRead_ = 0;
  bool done_ = false;
  std::shared_ptr<net::InputStream> stream_;
  std::optional<fnd::Error> error_;
};

// The body of a multipart request, read part by part; the length is known before reading.
// A part that fails, or a file that is shorter than when it was added, puts the stream in the
// error state, so the request fails instead of sending a malformed body.
class NetMultipartBodyStream final : public net::InputStream {
 public:
  explicit NetMultipartBodyStream(fnd::StringEncoding encoding);
  ~NetMultipartBodyStream() override;

  std::uint64_t numberOfBytesInPacket = INT64_MAX;
  double delay = 0;

  void appendHTTPBodyPart(std::unique_ptr<NetHTTPBodyPart> part);
  void setInitialAndFinalBoundaries();
  bool isEmpty() const { return parts_.empty(); }
  std::uint64_t contentLength() const;
  std::size_t partCount() const { return parts_.size(); }

  void open() override;
  void close() override;
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override;
  bool hasBytesAvailable() const override;
  net::StreamStatus status() const override { return status_; }
  std::optional<fnd::Error> error() const override { return error_; }
  std::optional<std::int64_t> length() const override { return static_cast<std::int64_t>(contentLength()); }
  std::shared_ptr<net::InputStream> reopened() const override;

 private:
  fnd::StringEncoding encoding_;
  std::vector<std::unique_ptr<NetHTTPBodyPart>> parts_;
  std::size_t current_ = 0;
  net::StreamStatus status_ = net::StreamStatus::NotOpen;
  std::optional<fnd::Error> error_;
};

class NetStreamingMultipartFormData final : public NetMultipartFormData {
 public:
  NetStreamingMultipartFormData(net::URLRequest request, fnd::StringEncoding encoding);

  const std::string& boundary() const { return boundary_; }
  const std::shared_ptr<NetMultipartBodyStream>& bodyStream() const { return bodyStream_; }

  using NetMultipartFormData::appendPartWithFileURL;
  bool appendPartWithFileURL(const net::URL& fileURL, const std::string& name, fnd::Error* error) override;
  bool appendPartWithFileURL(const net::URL& fileURL, const std::string& name, const std::string& fileName,
                             const std::string& mimeType, fnd::Error* error) override;
  void appendPartWithInputStream(std::shared_ptr<net::InputStream> stream, const std::string& name,
                                 const std::string& fileName, std::int64_t length, const std::string& mimeType) override;
  void appendPartWithFileData(fnd::Data data, const std::string& name, const std::string& fileName,
                              const std::string& mimeType) override;
  void appendPartWithFormData(fnd::Data data, const std::string& name) override;
  void appendPartWithHeaders(net::HTTPHeaders headers, fnd::Data body) override;
  void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

  // The request with the body stream, Content-Type and Content-Length; unchanged when empty.
  net::URLRequest requestByFinalizingMultipartFormData();

 private:
  net::URLRequest request_;
  fnd::StringEncoding encoding_;
  std::string boundary_;
  std::shared_ptr<NetMultipartBodyStream> bodyStream_;
};

// "Boundary+" and 16 upper-case hexadecimal digits.
std::string NetCreateMultipartFormBoundary();
// Makes a name safe inside a quoted header parameter: '"' %22, CR %0D, LF %0A.
std::string NetEscapedMultipartHeaderParameter(std::string_view text);

}  // namespace kesto
