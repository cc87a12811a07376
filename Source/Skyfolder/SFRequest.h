#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Net/ServerTrust.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

// The domain of the client's errors: HTTP statuses for refused requests, 1000-1004 for its own.
extern const char* const kSFSkyfolderErrorDomain;
enum SFErrorCode : int {
  kSFErrorSizeMismatch = 1000,
  kSFErrorFileNotFound = 1001,
  kSFErrorWriteFailed = 1002,
  kSFErrorIsDirectory = 1003,
  kSFErrorInvalidResponse = 1004,
};

// Told when requests start and stop (none is set by the application).
class SFNetworkRequestDelegate {
 public:
  virtual ~SFNetworkRequestDelegate() = default;
  virtual void networkRequestStarted() = 0;
  virtual void networkRequestStopped() = 0;
};

// One HTTPS exchange of the client. Successful downloads stream into a temporary file beside
// the destination that replaces it atomically once complete; other bodies are collected in
// memory up to a cap. Only servers whose chain ends in a pinned root and whose certificate has
// no revoked serial are trusted; redirects never leave the request's https origin. Callbacks
// arrive on the main queue, never after cancel().
class SFRequest : public std::enable_shared_from_this<SFRequest> {
 public:
  using Callback = std::function<void(SFRequest&)>;
  enum class JSONType { Dictionary, Array };

  // Bodies kept in memory (replies) and error bodies of downloads are refused above these.
  static constexpr std::size_t kMaxResultBytes = 16u << 20;
  static constexpr std::size_t kMaxErrorBodyBytes = 64u << 10;

  static std::shared_ptr<SFRequest> make(net::URLRequest request, Callback completion);
  ~SFRequest();

  // Configure before start().
  void setFailureCallback(Callback callback) { failure_ = std::move(callback); }
  void setDownloadProgressCallback(Callback callback) { downloadProgressCallback_ = std::move(callback); }
  void setUploadProgressCallback(Callback callback) { uploadProgressCallback_ = std::move(callback); }
  void setUserInfo(fnd::Dictionary info) { userInfo_ = std::move(info); }
  void setResultFilename(std::string path) { resultFilename_ = std::move(path); }
  void setSourcePath(std::string path) { sourcePath_ = std::move(path); }
  // Starts the connection; the request then lives until its completion or cancel().
  void start();
  // Stops the connection and removes a half-written file; no callback follows.
  void cancel();
  bool isCancelled() const;

  const net::URLRequest& request() const { return request_; }
  const fnd::Dictionary& userInfo() const { return userInfo_; }
  const std::string& resultFilename() const { return resultFilename_; }
  const std::string& sourcePath() const { return sourcePath_; }
  std::shared_ptr<const net::HTTPURLResponse> response() const;
  int statusCode() const;
  const fnd::Data& resultData() const;
  std::string resultString() const;
  // The body as a JSON object or array, else absent.
  std::optional<fnd::Value> resultJSON() const;
  // The JSON of the "X-Skyfolder-Metadata" response header.
  const std::optional<fnd::Value>& xSkyfolderMetadataJSON() const;
  std::int64_t responseBodySize() const;
  double downloadProgress() const;
  double uploadProgress() const;
  const std::optional<fnd::Error>& error() const { return error_; }
  // The body as JSON of the given kind; absent when the request failed, and absent with error
  // 1004 taken when the body is of another kind.
  std::optional<fnd::Value> parseResponseAsType(JSONType type);
  void setError(const fnd::Error& error);

  static void setNetworkRequestDelegate(SFNetworkRequestDelegate* delegate);

  // Server trust: the pinned roots (decoded once), revocation and the DER serial scanner.
  static std::vector<net::Certificate> rootCertificates();
  // Tests only: trust these roots instead; absent restores the pinned ones.
  static void setRootCertificatesForTesting(std::optional<std::vector<net::Certificate>> roots);
  static bool isRevokedCertificate(const fnd::Data& der);
  static std::optional<fnd::Data> copySerialFromCertificate(const std::uint8_t* der, std::int64_t length);
  // 0 on success, -1 for malformed DER, -2 when the buffer ends; `index` moves past the length.
  static int readLength(std::uint64_t* length, const std::uint8_t* buffer, std::uint64_t bufferLength,
                        std::uint64_t* index);

  struct Shared;

 private:
  SFRequest(net::URLRequest request, Callback completion);
  void finish(const Callback& callback);

  net::URLRequest request_;
  Callback completion_;
  Callback failure_;
  Callback downloadProgressCallback_;
  Callback uploadProgressCallback_;
  fnd::Dictionary userInfo_;
  std::string resultFilename_;
  std::string sourcePath_;
  std::optional<fnd::Error> error_;
  std::shared_ptr<Shared> shared_;
  bool started_ = false;
  friend class SFRequestConnectionDelegate;
};

}  // namespace kesto
