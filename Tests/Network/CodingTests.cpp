// Archiving and copying of request operations, the operation manager and URL values.
#include "Network/Image/NetImageResponseSerializer.h"
#include "Network/NetHTTPRequestOperation.h"
#include "Network/NetHTTPRequestOperationManager.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Net/URLCoding.h"
#include "Platform/Net/URLError.h"

#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kesto;

namespace {

struct Server : test::LoopbackServer {
  Server() {
    server->Get("/json", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("X-Served", "1");
      res.set_content("{\"a\":1}", "application/json");
    });
    server->Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("{}", "application/json");
    });
    server->Get("/held", [this](const httplib::Request&, httplib::Response& res) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!released && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      res.set_content("{}", "application/json");
    });
    start();
  }
  ~Server() { released = true; }
  net::URLRequest request(const std::string& path) const { return net::URLRequest(*net::URL::fromString(url(path, "127.0.0.1"))); }
  std::atomic<bool> released{false};
};

template <typename T>
std::unique_ptr<fnd::KeyedUnarchiver> roundTrip(const T& object, const std::set<std::string>& classes) {
  auto data = fnd::KeyedArchiver::archivedDataWithRootObject(object);
  EXPECT_TRUE(data);
  return data ? fnd::KeyedUnarchiver::forReadingFromData(*data, classes) : nullptr;
}

std::shared_ptr<NetHTTPRequestOperation> runToEnd(net::URLRequest request, fnd::OperationQueue& queue) {
  auto op = NetHTTPRequestOperation::make(std::move(request));
  std::atomic<bool> ended{false};
  op->setCompletionBlockWithSuccess([&](auto&, auto&) { ended = true; }, [&](auto&, auto&) { ended = true; });
  queue.addOperation(op);
  EXPECT_TRUE(test::runUntil([&] { return ended.load(); }, 10));
  return op;
}

}  // namespace

TEST(OperationCodingTest, AFinishedOperationKeepsRequestReplyAndSerializer) {
  Server s;
  fnd::OperationQueue queue;
  auto request = s.request("/json");
  request.setValueForHTTPHeaderField("b", "X-B");
  request.setValueForHTTPHeaderField("a", "X-A");
  request.setTimeoutInterval(7);
  auto op = runToEnd(request, queue);
  op->setResponseSerializer(NetXMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(3));
  ASSERT_TRUE(op->isFinished());

  auto coder = roundTrip(*op, {"NetHTTPRequestOperation"});
  ASSERT_TRUE(coder);
  auto decoded = NetHTTPRequestOperation::initWithCoder(*coder);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(coder->error());
  EXPECT_EQ(decoded->request().url().absoluteString(), request.url().absoluteString());
  EXPECT_EQ(decoded->request().timeoutInterval(), 7);
  ASSERT_EQ(decoded->request().allHTTPHeaderFields().size(), 2u);
  EXPECT_EQ(decoded->request().allHTTPHeaderFields().fields()[0].first, "X-B") << "header order kept";
  ASSERT_TRUE(decoded->httpResponse());
  EXPECT_EQ(decoded->httpResponse()->statusCode(), 200);
  EXPECT_EQ(decoded->httpResponse()->valueForHTTPHeaderField("X-Served"), "1");
  ASSERT_TRUE(decoded->responseData());
  EXPECT_EQ(*decoded->responseData(), *op->responseData());
  EXPECT_EQ(decoded->totalBytesRead(), op->totalBytesRead());
  auto xml = std::dynamic_pointer_cast<NetXMLDocumentResponseSerializer>(decoded->responseSerializer());
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->options(), 3u);
  EXPECT_TRUE(decoded->isReady()) << "a decoded operation can run again";

  // A failed operation keeps its error.
  auto failed = runToEnd(s.request("/missing"), queue);
  coder = roundTrip(*failed, {"NetHTTPRequestOperation"});
  decoded = NetHTTPRequestOperation::initWithCoder(*coder);
  ASSERT_TRUE(decoded && decoded->error());
  EXPECT_EQ(decoded->error()->code(), net::urlerror::BadServerResponse);

  EXPECT_FALSE(roundTrip(*op, {"NetURLConnectionOperation"})) << "a subclass is not read as its base";
}

TEST(OperationCodingTest, ArchivingARunningOperationPausesIt) {
  Server s;
  auto op = NetHTTPRequestOperation::make(s.request("/held"));
  op->start();
  ASSERT_TRUE(test::runUntil([&] { return op->isExecuting(); }, 10));
  auto coder = roundTrip(*op, {"NetHTTPRequestOperation"});
  EXPECT_TRUE(op->isPaused());
  ASSERT_TRUE(coder);
  EXPECT_EQ(coder->decodeInt64("state"), NetURLConnectionOperation::Ready);
  op->cancel();
  s.released = true;
  EXPECT_TRUE(test::runUntil([&] { return op->isFinished(); }, 10));
  // Work the finish queued (its notification on the main queue) holds the operation a moment.
  std::weak_ptr<NetHTTPRequestOperation> gone = op;
  op.reset();
  EXPECT_TRUE(test::runUntil([&] { return gone.expired(); }, 10));
}

TEST(OperationCodingTest, CopiesRunWithTheSameBlocksAndQueueButAFreshState) {
  Server s;
  fnd::OperationQueue queue;
  auto op = runToEnd(s.request("/json"), queue);
  std::atomic<int> progress{0};
  op->setDownloadProgressBlock([&](std::uint64_t, std::int64_t, std::int64_t) { ++progress; });
  auto completion = fnd::DispatchQueue::create("com.kesto.tests.copy");
  op->setCompletionQueue(completion);
  op->setResponseSerializer(NetJSONResponseSerializer::serializerWithReadingOptions(4));

  auto copy = std::dynamic_pointer_cast<NetHTTPRequestOperation>(op->copy());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->isReady());
  EXPECT_FALSE(copy->response());
  EXPECT_EQ(copy->completionQueue(), completion);
  EXPECT_NE(copy->responseSerializer(), op->responseSerializer());
  EXPECT_EQ(std::dynamic_pointer_cast<NetJSONResponseSerializer>(copy->responseSerializer())->readingOptions(), 4u);
  std::atomic<bool> onQueue{false}, ended{false};
  copy->setCompletionBlockWithSuccess(
      [&](auto&, auto&) {
        onQueue = completion->isCurrent();
        ended = true;
      },
      [&](auto&, auto&) { ended = true; });
  queue.addOperation(copy);
  ASSERT_TRUE(test::runUntil([&] { return ended.load() && progress > 0; }, 10));
  EXPECT_TRUE(onQueue);
}

TEST(OperationCodingTest, TheOperationManagerKeepsBaseURLAndSerializers) {
  NetHTTPRequestOperationManager manager(net::URL::fromString("https://api.example/v1"));
  manager.setRequestSerializer(NetPropertyListRequestSerializer::serializerWithFormat(200, 0));
  manager.setResponseSerializer(NetPropertyListResponseSerializer::serializerWithFormat(200, 2));
  auto coder = roundTrip(manager, {"NetHTTPRequestOperationManager"});
  ASSERT_TRUE(coder);
  auto decoded = NetHTTPRequestOperationManager::initWithCoder(*coder);
  EXPECT_EQ(decoded->baseURL()->absoluteString(), manager.baseURL()->absoluteString());
  auto request = std::dynamic_pointer_cast<NetPropertyListRequestSerializer>(decoded->requestSerializer());
  ASSERT_TRUE(request);
  EXPECT_EQ(request->format(), 200u);
  auto response = std::dynamic_pointer_cast<NetPropertyListResponseSerializer>(decoded->responseSerializer());
  ASSERT_TRUE(response);
  EXPECT_EQ(response->format(), 200u);
  EXPECT_EQ(response->readOptions(), 2u);
  EXPECT_TRUE(*response->acceptableStatusCodes() == *manager.responseSerializer()->acceptableStatusCodes());
  EXPECT_EQ(response->acceptableContentTypes(), manager.responseSerializer()->acceptableContentTypes());
}

// The image serializer lives in a library above the client's: where that library is linked, an
// archive naming it (here inside a compound serializer) reads back as an image serializer.
TEST(OperationCodingTest, ImageSerializersReadBackThroughTheirLibrary) {
  EXPECT_TRUE(NetHTTPResponseSerializer::codingClassNames().count("NetImageResponseSerializer"));
  NetHTTPRequestOperationManager manager;
  manager.setResponseSerializer(NetCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
      {NetImageResponseSerializer::serializer(), NetXMLDocumentResponseSerializer::serializer()}));
  auto coder = roundTrip(manager, {"NetHTTPRequestOperationManager"});
  ASSERT_TRUE(coder);
  auto decoded = NetHTTPRequestOperationManager::initWithCoder(*coder);
  auto compound = std::dynamic_pointer_cast<NetCompoundResponseSerializer>(decoded->responseSerializer());
  ASSERT_TRUE(compound);
  ASSERT_EQ(compound->responseSerializers().size(), 2u);
  auto image = std::dynamic_pointer_cast<NetImageResponseSerializer>(compound->responseSerializers()[0]);
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->acceptableContentTypes()->count("image/png"));
  EXPECT_TRUE(std::dynamic_pointer_cast<NetXMLDocumentResponseSerializer>(compound->responseSerializers()[1]));
}

TEST(URLCodingTest, RequestsAndResponsesRoundTripAndHeaderLinesCannotBeInjected) {
  struct Holder : fnd::Coding {
    net::URLRequest request;
    std::shared_ptr<const net::URLResponse> response;
    fnd::Value rawHeaders;
    std::string codingClassName() const override { return "Holder"; }
    void encodeWithCoder(fnd::KeyedArchiver& c) const override {
      net::encodeRequest(c, request, "request");
      if (response) net::encodeResponse(c, *response, "response");
    }
  } holder;
  holder.request = net::URLRequest(*net::URL::fromString("http://h/p?q=1"));
  holder.request.setHTTPMethod("PUT");
  holder.request.setHTTPBody(fnd::Data{1, 2, 3});
  holder.request.setCachePolicy(1);
  holder.request.setHTTPShouldHandleCookies(false);
  holder.response = std::make_shared<net::URLResponse>(*net::URL::fromString("http://h/p"), "text/plain", 42, "utf-8");
  auto coder = roundTrip(holder, {"Holder"});
  auto request = net::decodeRequest(*coder, "request");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->httpMethod(), "PUT");
  EXPECT_EQ(request->httpBody(), (fnd::Data{1, 2, 3}));
  EXPECT_EQ(request->cachePolicy(), 1u);
  EXPECT_FALSE(request->httpShouldHandleCookies());
  auto response = net::decodeResponse(*coder, "response");
  ASSERT_TRUE(response);
  EXPECT_FALSE(std::dynamic_pointer_cast<const net::HTTPURLResponse>(response));
  EXPECT_EQ(response->mimeType(), "text/plain");
  EXPECT_EQ(response->expectedContentLength(), 42);

  holder.request = net::URLRequest(*net::URL::fromString("http://h/"));
  holder.request.setValueForHTTPHeaderField("a\r\nInjected: yes", "X-Evil");
  coder = roundTrip(holder, {"Holder"});
  request = net::decodeRequest(*coder, "request");
  EXPECT_TRUE(coder->error());
  ASSERT_TRUE(request);
  EXPECT_FALSE(request->valueForHTTPHeaderField("X-Evil"));
}
