#pragma once

#include "Network/NetURLConnectionOperation.h"

#include <functional>
#include <memory>
#include <optional>

namespace kesto {

class NetHTTPResponseSerializer;

// A connection operation whose reply is validated and parsed by a response serializer, off the
// main queue, before exactly one of the success and failure blocks runs.
class NetHTTPRequestOperation : public NetURLConnectionOperation {
 public:
  using Success = std::function<void(const std::shared_ptr<NetHTTPRequestOperation>& operation, const fnd::Value& responseObject)>;
  using Failure = std::function<void(const std::shared_ptr<NetHTTPRequestOperation>& operation, const fnd::Error& error)>;

  static std::shared_ptr<NetHTTPRequestOperation> make(net::URLRequest request);
  explicit NetHTTPRequestOperation(net::URLRequest request);

  std::shared_ptr<const net::HTTPURLResponse> httpResponse() const;

  std::shared_ptr<NetHTTPResponseSerializer> responseSerializer() const;
  // Clears the parsed object, so the next responseObject() parses again.
  void setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> serializer);
  // The serializer's object, computed once after the operation finished without an error.
  fnd::Value responseObject();
  // The serializer's error when there is one, else the transport error.
  std::optional<fnd::Error> error() const override;

  void setCompletionBlockWithSuccess(Success success, Failure failure);

  // Pausing also prepares a range request, so resume() continues where the body stopped.
  void pause() override;

  // As the connection operation, plus the response serializer; the copy gets a copy of it.
  std::string codingClassName() const override { return "NetHTTPRequestOperation"; }
  void encodeWithCoder(fnd::KeyedArchiver& coder) const override;
  static std::shared_ptr<NetHTTPRequestOperation> initWithCoder(fnd::KeyedUnarchiver& coder);
  std::shared_ptr<NetURLConnectionOperation> copy() const override;

 protected:
  void operationDidPauseOnNetworkThread() override;
  bool acceptResponseOnNetworkThread(const std::shared_ptr<const net::URLResponse>& response,
                                     std::optional<fnd::Error>& failure) override;

 private:
  void prepareRangeRequest();

  std::shared_ptr<NetHTTPResponseSerializer> serializer_;
  fnd::Value responseObject_;
  bool parsed_ = false;
  std::optional<fnd::Error> serializationError_;
  // Bytes already held when the last range request was prepared.
  std::uint64_t resumeOffset_ = 0;
  std::shared_ptr<const net::URLResponse> responseBeforePause_;
};

}  // namespace kesto
