#include "Network/NetHTTPRequestOperation.h"

#include "Network/NetNetworking.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Net/Streams.h"
#include "Platform/Net/URLCoding.h"
#include "Platform/Net/URLError.h"

namespace kesto {

namespace {

fnd::DispatchQueue& requestProcessingQueue() {
  static auto queue = fnd::DispatchQueue::create(kNetHTTPRequestProcessingQueueLabel, fnd::DispatchQueue::Kind::Concurrent);
  return *queue;
}

fnd::DispatchGroup& sharedHTTPCompletionGroup() {
  static auto* group = new fnd::DispatchGroup();
  return *group;
}

}  // namespace

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperation::make(net::URLRequest request) {
  return std::make_shared<NetHTTPRequestOperation>(std::move(request));
}

NetHTTPRequestOperation::NetHTTPRequestOperation(net::URLRequest request)
    : NetURLConnectionOperation(std::move(request)), serializer_(NetHTTPResponseSerializer::serializer()) {}

std::shared_ptr<const net::HTTPURLResponse> NetHTTPRequestOperation::httpResponse() const {
  return std::dynamic_pointer_cast<const net::HTTPURLResponse>(response());
}

std::shared_ptr<NetHTTPResponseSerializer> NetHTTPRequestOperation::responseSerializer() const {
  std::lock_guard guard(lock());
  return serializer_;
}

void NetHTTPRequestOperation::setResponseSerializer(std::shared_ptr<NetHTTPResponseSerializer> serializer) {
  std::lock_guard guard(lock());
  serializer_ = std::move(serializer);
  responseObject_ = fnd::Value();
  parsed_ = false;
  serializationError_.reset();
}

fnd::Value NetHTTPRequestOperation::responseObject() {
  std::lock_guard guard(lock());
  if (!parsed_ && responseObject_.isNull() && isFinished() && !error()) {
    auto data = responseData();
    std::optional<fnd::Error> e;
    responseObject_ = serializer_ ? serializer_->responseObjectForResponse(response(), data.get(), &e) : fnd::Value();
    if (e) {
      serializationError_ = e;
      parsed_ = true;
    }
  }
  return responseObject_;
}

std::optional<fnd::Error> NetHTTPRequestOperation::error() const {
  std::lock_guard guard(lock());
  if (serializationError_) return serializationError_;
  return NetURLConnectionOperation::error();
}

void NetHTTPRequestOperation::setCompletionBlockWithSuccess(Success success, Failure failure) {
  auto self = std::static_pointer_cast<NetHTTPRequestOperation>(shared_from_this());
  // The block holds the operation until it has run; clearing it afterwards releases both.
  setCompletionBlock([self, success, failure] {
    auto group = self->completionGroup();
    if (group) group->enter();
    requestProcessingQueue().async([self, success, failure, group] {
      auto queue = self->completionQueue();
      fnd::DispatchQueue& q = queue ? *queue : fnd::DispatchQueue::main();
      fnd::DispatchGroup& g = group ? *group : sharedHTTPCompletionGroup();
      if (auto transport = self->NetURLConnectionOperation::error()) {
        if (failure) g.async(q, [self, failure, e = *transport] { failure(self, e); });
      } else {
        fnd::Value object = self->responseObject();
        if (auto e = self->error()) {
          if (failure) g.async(q, [self, failure, e = *e] { failure(self, e); });
        } else if (success) {
          g.async(q, [self, success, object] { success(self, object); });
        }
      }
      if (group) group->leave();
    });
  });
}

void NetHTTPRequestOperation::pause() {
  bool running = isExecuting();
  NetURLConnectionOperation::pause();
  // A running transfer gets its range on the network thread, after its connection stopped;
  // otherwise nothing is arriving and the range is set here.
  if (!running) {
    std::lock_guard guard(lock());
    prepareRangeRequest();
  }
}

void NetHTTPRequestOperation::operationDidPauseOnNetworkThread() { prepareRangeRequest(); }

void NetHTTPRequestOperation::prepareRangeRequest() {
  auto stream = outputStream();
  std::uint64_t offset = 0;
  if (auto o = stream->fileCurrentOffset())
    offset = *o;
  else if (auto d = stream->dataWrittenToMemory())
    offset = d->size();
  net::URLRequest copy = request();
  if (auto http = httpResponse()) {
    if (auto etag = http->allHeaderFields().valueExact("ETag")) copy.setValueForHTTPHeaderField(*etag, "If-Range");
  }
  copy.setValueForHTTPHeaderField("bytes=" + std::to_string(offset) + "-", "Range");
  setRequest(std::move(copy));
  resumeOffset_ = offset;
  responseBeforePause_ = response();
}

bool NetHTTPRequestOperation::acceptResponseOnNetworkThread(const std::shared_ptr<const net::URLResponse>& response,
                                                            std::optional<fnd::Error>& failure) {
  std::lock_guard guard(lock());
  if (resumeOffset_ == 0) return true;
  auto http = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
  auto stream = outputStream();
  if (!http) return true;
  int status = http->statusCode();
  auto range = http->allHeaderFields().value("Content-Range");
  if (status == 206) {
    // Only a continuation from exactly our offset may be appended.
    if (range && net::ContentRange::parse(*range).value_or(net::ContentRange{}).first == resumeOffset_) return true;
    failure = net::makeURLError(net::urlerror::BadServerResponse, &http->url(),
                                NetLocalizedString("The server resumed the download at the wrong place."));
    return false;
  }
  if (auto r = range ? net::ContentRange::parse(*range) : std::nullopt;
      status == 416 && r && !r->first && r->total == resumeOffset_ && responseBeforePause_) {
    // Everything had arrived before the pause: the earlier answer and body stand.
    return false;
  }
  // Anything else is a whole body (Range ignored, the resource changed, an error page): it
  // replaces the partial one instead of being appended to it.
  if (!stream->truncate(0)) {
    failure = net::makeURLError(net::urlerror::CannotDecodeContentData, &http->url(),
                                NetLocalizedString("The partial download could not be discarded."));
    return false;
  }
  resumeOffset_ = 0;
  return true;
}

}  // namespace kesto

// ---- Archiving and copying

namespace kesto {

void NetHTTPRequestOperation::encodeWithCoder(fnd::KeyedArchiver& coder) const {
  NetURLConnectionOperation::encodeWithCoder(coder);
  coder.encodeObject(responseSerializer().get(), "responseSerializer");
}

std::shared_ptr<NetHTTPRequestOperation> NetHTTPRequestOperation::initWithCoder(fnd::KeyedUnarchiver& coder) {
  auto request = net::decodeRequest(coder, "request");
  if (!request) return nullptr;
  auto op = make(std::move(*request));
  op->decodeStateWithCoder(coder);
  if (auto serializer = NetHTTPResponseSerializer::decode(coder, "responseSerializer")) op->setResponseSerializer(serializer);
  return op;
}

std::shared_ptr<NetURLConnectionOperation> NetHTTPRequestOperation::copy() const {
  auto op = make(request());
  copyBlocksTo(*op);
  if (auto serializer = responseSerializer()) op->setResponseSerializer(serializer->copy());
  return op;
}

}  // namespace kesto
