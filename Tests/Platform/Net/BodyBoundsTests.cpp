// Bodies a hostile server sends: a small compressed reply that inflates a thousandfold, one that
// never ends, one that runs on without inflating to anything. A capped body ends at its cap as
// it arrives; a reader that cancels hears nothing more, and costs nothing more.
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Net/URLConnection.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLSession.h"

#include "GzipStreams.h"
#include "Harness/TestSupport.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kesto;
using namespace kesto::net;

namespace {

// Serves "/once" (one body, in one write), "/endless" (the same piece again and again, never
// the end) and "/plain" (the body as it is).
struct BodyServer : test::LoopbackServer {
  explicit BodyServer(std::string body, bool compressed = true) : body_(std::move(body)) {
    server->Get("/once", [this, compressed](const httplib::Request&, httplib::Response& res) {
      if (compressed) res.set_header("Content-Encoding", "gzip");
      res.set_content(body_, "application/octet-stream");  // a type the server leaves as it is
    });
    server->Get("/endless", [this, compressed](const httplib::Request&, httplib::Response& res) {
      if (compressed) res.set_header("Content-Encoding", "gzip");
      res.set_chunked_content_provider("application/octet-stream", [this, compressed](std::size_t offset, httplib::DataSink& sink) {
        if (stopping_) return false;
        if (offset == 0 && compressed && !sink.write(test::gzipHeader().data(), 10)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return sink.write(body_.data(), body_.size());
      });
    });
    start();
  }
  // The server's threads read the body: they end before it goes.
  ~BodyServer() {
    stopping_ = true;
    server->stop();
    if (thread.joinable()) thread.join();
  }
  URLRequest request(const std::string& path) const { return URLRequest(*URL::fromString(url(path, "127.0.0.1"))); }

 private:
  std::string body_;
  std::atomic<bool> stopping_{false};
};

struct Outcome {
  bool done = false;
  std::size_t bytes = 0;
  std::optional<fnd::Error> error;
};

// A data task collecting its body under `cap`, run to its end on the main queue.
Outcome collect(const URLRequest& request, std::size_t cap, double seconds = 20) {
  URLSessionConfiguration configuration;
  configuration.maximumBodySize = cap;
  configuration.timeoutIntervalForRequest = 30;
  auto session = URLSession::make(configuration, nullptr, [](std::function<void()> work) {
    fnd::DispatchQueue::main().async(std::move(work));
  });
  auto outcome = std::make_shared<Outcome>();
  auto task = session->dataTask(request, [outcome](const fnd::Data* data, auto, const fnd::Error* error) {
    outcome->done = true;
    if (data) outcome->bytes = data->size();
    if (error) outcome->error = *error;
  });
  task->resume();
  EXPECT_TRUE(test::runUntil([&] { return outcome->done; }, seconds)) << request.url().absoluteString();
  if (!outcome->done) task->cancel();
  session->finishTasksAndInvalidate();
  return *outcome;
}

// Counts the body pieces that reach it, and cancels its task at the first one.
struct CancellingReader : URLSessionDelegate {
  void sessionDataTaskDidReceiveData(URLSession&, URLSessionTask& task, const fnd::Data& data) override {
    if (cancelled) {
      afterCancel += data.size();
      return;
    }
    cancelled = true;
    task.cancel();
  }
  void sessionTaskDidCompleteWithError(URLSession&, URLSessionTask&, const fnd::Error* error) override {
    completed = true;
    if (error) code = error->code();
  }
  bool cancelled = false, completed = false;
  std::size_t afterCancel = 0;
  std::int64_t code = 0;
};

// Reads a connection's body and cancels it in its first piece, on the network thread.
struct FirstPieceReader : URLConnectionDelegate {
  void connectionDidReceiveData(URLConnection& connection, const std::uint8_t*, std::size_t) override {
    ++pieces;
    connection.cancel();
  }
  void connectionDidFinishLoading(URLConnection&) override { ended = true; }
  void connectionDidFailWithError(URLConnection&, const fnd::Error&) override { ended = true; }
  std::atomic<int> pieces{0};
  std::atomic<bool> ended{false};
};

// Counts a download's progress reports, and cancels it at the first once more of it has been
// written behind that report, so reports are on their way when it cancels.
struct CancellingDownloader : URLSessionDelegate {
  void sessionDownloadTaskDidWriteData(URLSession&, URLSessionTask& task, std::int64_t, std::int64_t total,
                                       std::int64_t) override {
    if (cancelled) {
      ++afterCancel;
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (task.countOfBytesReceived() == total && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writtenBehind = task.countOfBytesReceived() > total;
    cancelled = true;
    task.cancel();
  }
  void sessionTaskDidCompleteWithError(URLSession&, URLSessionTask&, const fnd::Error* error) override {
    completed = true;
    if (error) code = error->code();
  }
  bool cancelled = false, writtenBehind = false, completed = false;
  int afterCancel = 0;
  std::int64_t code = 0;
};

}  // namespace

TEST(BodyBoundsTest, ACollectedBodyEndsAtItsCapAsItArrivesWhateverItsEncoding) {
  constexpr std::size_t kCap = 256 * 1024;
  // Inflating a thousandfold: stopped at the cap, not inflated whole.
  {
    BodyServer s(test::gzipOfZeros(64));
    auto o = collect(s.request("/once"), kCap);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), urlerror::DataLengthExceedsMaximum);
  }
  // Never ending: plain, and as a compressed stream of blocks that inflate to nothing, which
  // only the bytes as they came can bound (it would otherwise run until the idle time-out,
  // which a steady trickle never reaches, and fail as timed out if ever).
  for (bool compressed : {false, true}) {
    BodyServer s(compressed ? test::emptyDeflateBlocks(3000) : std::string(16384, 'x'), compressed);
    auto o = collect(s.request("/endless"), kCap, 60);
    ASSERT_TRUE(o.error) << compressed;
    EXPECT_EQ(o.error->code(), urlerror::DataLengthExceedsMaximum) << compressed;
  }
  // At the cap exactly, raw or inflated, the body is whole.
  {
    BodyServer plain(std::string(kCap, 'p'), false);
    auto o = collect(plain.request("/once"), kCap);
    EXPECT_FALSE(o.error) << (o.error ? o.error->localizedDescription() : "");
    EXPECT_EQ(o.bytes, kCap);
    BodyServer inflating(test::gzipped(std::string(kCap, 'q')));
    o = collect(inflating.request("/once"), kCap);
    EXPECT_FALSE(o.error) << (o.error ? o.error->localizedDescription() : "");
    EXPECT_EQ(o.bytes, kCap);
    o = collect(inflating.request("/once"), kCap - 1);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), urlerror::DataLengthExceedsMaximum);
  }
}

// One reply of about 64 KiB, written at once, that inflates to 64 MiB: the reader cancels at
// its first piece, on the main queue as the application's readers do, and hears nothing more.
TEST(BodyBoundsTest, AReaderThatCancelsHearsNothingMoreOfAnInflatingReply) {
  const auto body = test::gzipOfZeros(64);
  ASSERT_LT(body.size(), 80u * 1024);
  BodyServer s(body);
  auto reader = std::make_shared<CancellingReader>();
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration(), reader,
                                  [](std::function<void()> work) { fnd::DispatchQueue::main().async(std::move(work)); });
  auto task = session->dataTask(s.request("/once"));
  task->resume();
  // Pieces on their way were queued before the completion, so they have had their turn.
  ASSERT_TRUE(test::runUntil([&] { return reader->completed; }, 20));
  EXPECT_TRUE(reader->cancelled);
  EXPECT_EQ(reader->code, urlerror::Cancelled);
  EXPECT_EQ(reader->afterCancel, 0u);
  session->invalidateAndCancel();
}

// The same reply read by a connection itself: a reader that cancels in its first piece stops the
// inflating there. Nothing more is decoded, however much of the reply has come.
TEST(BodyBoundsTest, AConnectionInflatesNoFurtherPieceOnceItsReaderCancels) {
  BodyServer s(test::gzipOfZeros(64));
  auto reader = std::make_shared<FirstPieceReader>();
  auto connection = URLConnection::make(s.request("/once"), reader);
  connection->start();
  ASSERT_TRUE(test::runUntil([&] { return reader->pieces > 0; }, 20));
  // The network thread runs this once it is done with the piece and whatever followed it.
  std::atomic<bool> through{false};
  URLConnection::performOnNetworkThread([&through] { through = true; });
  ASSERT_TRUE(test::runUntil([&] { return through.load(); }, 20));
  EXPECT_EQ(reader->pieces, 1);
  EXPECT_FALSE(reader->ended);
  EXPECT_GT(connection->countOfBodyBytesDecoded(), 0u);
  EXPECT_LE(connection->countOfBodyBytesDecoded(), 64u * 1024) << "inflated past the piece that was read";
}

// A download cancelled while its progress reports are on their way to the main queue: none of
// them reaches the delegate after the cancel.
TEST(BodyBoundsTest, ACancelledDownloadReportsNoProgressAfterTheCancel) {
  BodyServer s(std::string(16u << 20, 'd'), false);
  auto downloader = std::make_shared<CancellingDownloader>();
  auto session = URLSession::make(URLSessionConfiguration::defaultConfiguration(), downloader,
                                  [](std::function<void()> work) { fnd::DispatchQueue::main().async(std::move(work)); });
  auto task = session->downloadTask(s.request("/once"));
  task->resume();
  ASSERT_TRUE(test::runUntil([&] { return downloader->completed; }, 30));
  ASSERT_TRUE(downloader->cancelled);
  EXPECT_TRUE(downloader->writtenBehind) << "the whole body came in one report";
  EXPECT_EQ(downloader->code, urlerror::Cancelled);
  EXPECT_EQ(downloader->afterCancel, 0);
  session->invalidateAndCancel();
}
