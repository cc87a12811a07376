#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Net/NetForward.h"
#include "Platform/Net/URLRequest.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class SimpleHTTPRequest;

// Every message is optional; the request reads the capability bits once when the delegate is
// set and sends only what the delegate says it implements.
class SimpleHTTPRequestDelegate {
 public:
  enum Capability : unsigned {
    ReceivesResponse = 1,
    ReceivesData = 2,
    ReceivesTotalData = 4,
    ReceivesFinished = 8,
    ReceivesFailed = 16,
    ReceivesAll = 31,
  };
  virtual ~SimpleHTTPRequestDelegate() = default;
  virtual unsigned simpleHTTPRequestCapabilities() const { return ReceivesAll; }
  virtual void simpleHTTPRequestDidReceiveResponse(SimpleHTTPRequest& request, const net::URLResponse& response) {}
  virtual void simpleHTTPRequestDataUpdated(SimpleHTTPRequest& request, const fnd::Data& chunk) {}
  virtual void simpleHTTPRequestDataUpdatedTotalData(SimpleHTTPRequest& request, const fnd::Data& chunk,
                                                     const fnd::Data& totalData) {}
  virtual void simpleHTTPRequestFinished(SimpleHTTPRequest& request) {}
  virtual void simpleHTTPRequestFailed(SimpleHTTPRequest& request, const fnd::Error& error) {}
};

// One HTTP exchange whose callbacks arrive on the main thread. The body is collected in memory
// up to `maximumBodyBytes`; a larger body fails the exchange. A low-priority request delivers
// only while the main loop is not tracking (drags, menus, modal sessions).
class SimpleHTTPRequest : public std::enable_shared_from_this<SimpleHTTPRequest> {
 public:
  static constexpr std::size_t kDefaultMaximumBodyBytes = 32u << 20;

  static std::shared_ptr<SimpleHTTPRequest> make(net::URLRequest request);
  ~SimpleHTTPRequest();
  SimpleHTTPRequest(const SimpleHTTPRequest&) = delete;
  SimpleHTTPRequest& operator=(const SimpleHTTPRequest&) = delete;

  // Percent-encoding keeping only A-Z a-z 0-9 - _ . ~ (upper-case hex, bytes of the encoding).
  static std::string urlEncode(const std::string& text, const std::string& charsetName = "UTF-8");
  // Nothing when the escapes form no valid text in the encoding.
  static std::optional<std::string> urlDecode(const std::string& text, const std::string& charsetName = "UTF-8");
  // The pairs after the first "?": key before the first "=", the rest the value; later keys
  // win; pieces without "=" are skipped; nothing is decoded. Nothing when there is no "?".
  static std::optional<fnd::Dictionary> parseGetParamsFromURLString(const std::optional<std::string>& text);

  // Any thread; the exchange runs once until cancel().
  void start();
  // Stops delivery and forgets the response and body; the delegate hears nothing.
  void cancel();

  const net::URLRequest& request() const;
  std::shared_ptr<const net::URLResponse> response() const;
  int responseStatusCode() const;  // 0 before a response or for non-HTTP responses
  std::optional<fnd::Data> responseData() const;
  std::optional<std::string> responseString() const;  // by the response's charset, else UTF-8
  std::optional<std::string> responseUTF8String() const;

  // Not owned: the delegate outlives the request or clears itself.
  SimpleHTTPRequestDelegate* delegate() const;
  void setDelegate(SimpleHTTPRequestDelegate* delegate);
  const fnd::Value& userInfo() const;
  void setUserInfo(fnd::Value userInfo);
  bool isLowPriority() const;
  void setLowPriority(bool low);
  bool shouldClearCachedResponseWhenRequestDone() const;
  void setShouldClearCachedResponseWhenRequestDone(bool clear);
  std::size_t maximumBodyBytes() const;
  void setMaximumBodyBytes(std::size_t bytes);

 private:
  explicit SimpleHTTPRequest(net::URLRequest request);
  void didReceiveResponse(std::shared_ptr<const net::URLResponse> response);
  void didReceiveData(const fnd::Data& chunk);
  void didFinish();
  void didFail(const fnd::Error& error);
  struct Impl;
  std::unique_ptr<Impl> d_;
  friend struct SimpleHTTPRequestDriver;
};

// One file part of a multipart body.
struct SimpleHTTPRequestUploadFile {
  std::string name = "name";
  std::string fileName = "fileName";
  std::optional<std::string> contentType;  // "application/octet-stream" when absent
  std::optional<fnd::Data> fileData;
};

// Filling a request with parameters. Only string keys with string values travel in GET and
// form-encoded bodies.
namespace getandpostparams {
// Replaces the URL's query with the parameters (a fragment stays after it).
void setUpGetParams(net::URLRequest& request, const fnd::Dictionary& params);
// A form-encoded UTF-8 POST body with its length and type.
void setUpPostParams(net::URLRequest& request, const fnd::Dictionary& params);
// A multipart POST with a fresh boundary; Content-Type always announces that boundary. Field
// and file names have '"', CR and LF escaped (%22, %0D, %0A); a name holding NUL makes the
// call fail (false) and leaves the request unchanged.
bool setUpMultiPartFormDataRequest(net::URLRequest& request, const fnd::Dictionary& params,
                                   const std::vector<SimpleHTTPRequestUploadFile>& files,
                                   const std::string& charsetName = "UTF-8");
bool setUpMultiPartFormDataRequest(net::URLRequest& request, const fnd::Dictionary& params,
                                   const SimpleHTTPRequestUploadFile& file);
}  // namespace getandpostparams

}  // namespace kesto
