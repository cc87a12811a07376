// The HTTP client against loopback servers: a bookmark-service sized XML reply, many small
// concurrent requests, and a large streamed multipart upload.
#include "Network/NetHTTPRequestOperationManager.h"
#include "Network/NetMultipartFormData.h"
#include "Network/NetURLResponseSerialization.h"
#include "Platform/Foundation/XmlDocument.h"

#include "LoopbackServer.h"
#include "ProcessAndLoop.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace kesto;

namespace {

using bench::peakRssKiB;
using bench::pumpUntil;
using bench::statusField;

long currentRssKiB() { return statusField("VmRSS:"); }
long threadCount() { return statusField("Threads:"); }

// Lowers the peak to the present, so each benchmark measures its own growth.
void resetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// The shared test server, with connections kept open between requests as a real service would.
struct Server : test::LoopbackServer {
  Server() {
    server->set_keep_alive_timeout(1);
    server->set_tcp_nodelay(true);
  }
  std::string url(const std::string& path) const { return LoopbackServer::url(path, "127.0.0.1"); }
};

// Answers every request with one fixed reply, uncompressed, as a plain HTTP/1.1 server does
// (the test server library would compress text replies at great cost to this process).
class RawServer {
 public:
  explicit RawServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = test::bindLoopbackSocket(port_);
    ::listen(fd_, 16);
    thread_ = std::thread([this] { serve(); });
  }
  ~RawServer() {
    stopping_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void serve() {
    while (!stopping_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      std::size_t sent = 0;
      while (sent < reply_.size()) {
        ssize_t n = ::write(c, reply_.data() + sent, reply_.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(c);
    }
  }
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

std::string postsXML(int count) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<posts user=\"bench\">\n";
  char line[512];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line,
                  "  <post href=\"https://example.org/articles/%d/some-longer-path-for-realism\" time=\"2014-05-%02dT10:%02d:00Z\" "
                  "description=\"A bookmark title number %d\" extended=\"Notes about bookmark %d\" tag=\"tag%d reading web\" "
                  "hash=\"%032x\" shared=\"no\" toread=\"no\"/>\n",
                  i, 1 + i % 28, i % 60, i, i, i % 50, i);
    xml += line;
  }
  return xml + "</posts>\n";
}

void LargeXMLReply(benchmark::State& state) {
  const std::string body = postsXML(static_cast<int>(state.range(0)));
  // 1: the reply is parsed into an XML document as the service clients ask; 0: body only.
  const bool parse = state.range(1) != 0;
  RawServer s("HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n" + body);
  long growth = 0;
  for (auto _ : state) {
    // Each request is measured from its own start: memory freed by the previous one may still
    // be resident, and a peak over all iterations would count it again.
    state.PauseTiming();
    resetPeakRss();
    const long before = currentRssKiB();
    state.ResumeTiming();
    bool done = false, ok = false;
    auto manager = NetHTTPRequestOperationManager::manager();
    if (parse)
      manager->setResponseSerializer(NetXMLDocumentResponseSerializer::serializer());
    else
      manager->setResponseSerializer(NetHTTPResponseSerializer::serializer());
    manager->GET(s.url("/v1/posts/all"), fnd::Value(fnd::Dictionary{{"results", 100000}}),
                 [&](const std::shared_ptr<NetHTTPRequestOperation>& op, const fnd::Value& doc) {
                   ok = op->responseData() && op->responseData()->size() == body.size() &&
                        (!parse || doc.objectAs<fnd::XmlDocument>());
                   done = true;
                 },
                 [&](const std::shared_ptr<NetHTTPRequestOperation>&, const fnd::Error&) { done = true; });
    if (!pumpUntil([&] { return done; }, 30) || !ok) state.SkipWithError("request failed");
    growth = std::max(growth, peakRssKiB() - before);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
  state.counters["bodyMiB"] = static_cast<double>(body.size()) / (1 << 20);
  state.counters["peakRssGrowthMiB"] = static_cast<double>(growth) / 1024.0;
  state.counters["peakToBody"] = static_cast<double>(growth) * 1024.0 / static_cast<double>(body.size());
}
BENCHMARK(LargeXMLReply)->Args({130000, 0})->Args({130000, 1})->Unit(benchmark::kMillisecond)->Iterations(3);

void ConcurrentSmallGETs(benchmark::State& state) {
  const int requests = static_cast<int>(state.range(0));
  Server s;
  const std::string small(4096, 's');
  // A type the server library does not compress.
  s.server->Get("/small", [&](const httplib::Request&, httplib::Response& res) { res.set_content(small, "application/octet-stream"); });
  s.start();
  long threadsBefore = 0, threadsPeak = 0;
  for (auto _ : state) {
    std::vector<std::shared_ptr<NetHTTPRequestOperationManager>> managers;
    for (int m = 0; m < 10; ++m) {
      managers.push_back(NetHTTPRequestOperationManager::manager());
      managers.back()->setResponseSerializer(NetHTTPResponseSerializer::serializer());
    }
    threadsBefore = threadCount();
    int finished = 0, failed = 0;
    for (int i = 0; i < requests; ++i) {
      managers[i % 10]->GET(s.url("/small"), std::nullopt,
                            [&](const auto&, const fnd::Value&) { ++finished; },
                            [&](const auto&, const fnd::Error&) { ++finished, ++failed; });
    }
    int polls = 0;
    pumpUntil([&] {
      if (++polls % 16 == 0) threadsPeak = std::max(threadsPeak, threadCount());
      return finished == requests;
    }, 60);
    threadsPeak = std::max(threadsPeak, threadCount());
    if (finished != requests || failed) state.SkipWithError("requests failed");
  }
  state.counters["requests"] = requests;
  state.counters["threadGrowth"] = static_cast<double>(threadsPeak - threadsBefore);
}
BENCHMARK(ConcurrentSmallGETs)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(2);

void StreamedMultipartUpload(benchmark::State& state) {
  const std::int64_t size = state.range(0) << 20;
  char pathTemplate[] = "/tmp/kesto-upload-XXXXXX";
  int fd = ::mkstemp(pathTemplate);
  if (fd < 0 || ::ftruncate(fd, size) != 0) {
    state.SkipWithError("cannot make the file");
    return;
  }
  ::close(fd);
  std::string path = pathTemplate;
  Server s;
  std::atomic<std::int64_t> received{0};
  s.server->Post("/upload", [&](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    std::int64_t total = 0;
    if (req.is_multipart_form_data()) {
      reader([](const httplib::MultipartFormData&) { return true; },
             [&](const char*, size_t n) {
               total += static_cast<std::int64_t>(n);
               return true;
             });
    }
    received = total;
    res.set_content("{}", "application/json");
  });
  s.start();
  resetPeakRss();
  long before = currentRssKiB();
  for (auto _ : state) {
    bool done = false, ok = false;
    auto manager = NetHTTPRequestOperationManager::manager();
    manager->POST(s.url("/upload"), std::nullopt,
                  [&](NetMultipartFormData& form) {
                    fnd::Error e;
                    form.appendPartWithFileURL(net::URL::fileURL(path), "file", "big.bin", "application/octet-stream", &e);
                  },
                  [&](const auto&, const fnd::Value&) { ok = true, done = true; },
                  [&](const auto&, const fnd::Error&) { done = true; });
    if (!pumpUntil([&] { return done; }, 120) || !ok || received.load() != size) state.SkipWithError("upload failed");
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["peakRssGrowthMiB"] = static_cast<double>(peakRssKiB() - before) / 1024.0;
}
BENCHMARK(StreamedMultipartUpload)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
