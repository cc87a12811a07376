#include "Views/SimpleHTTPRequest.h"

#include "Harness/TestSupport.h"
#include "ImageServer.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLResponse.h"

#include <gtest/gtest.h>

using kesto::SimpleHTTPRequest;
using kesto::SimpleHTTPRequestDelegate;
using kesto::SimpleHTTPRequestUploadFile;
using kesto::fnd::Dictionary;
using kesto::net::URL;
using kesto::net::URLRequest;
namespace params = kesto::getandpostparams;

namespace {

URLRequest requestFor(const std::string& url) { return URLRequest(*URL::fromString(url)); }

struct Recorder : SimpleHTTPRequestDelegate {
  std::vector<std::string> events;
  std::size_t chunkBytes = 0;
  std::size_t lastTotal = 0;
  std::optional<kesto::fnd::Error> error;
  unsigned capabilities = ReceivesAll;
  unsigned simpleHTTPRequestCapabilities() const override { return capabilities; }
  void simpleHTTPRequestDidReceiveResponse(SimpleHTTPRequest&, const kesto::net::URLResponse&) override {
    events.push_back("response");
  }
  void simpleHTTPRequestDataUpdated(SimpleHTTPRequest&, const kesto::fnd::Data& chunk) override {
    chunkBytes += chunk.size();
    if (events.empty() || events.back() != "data") events.push_back("data");
  }
  void simpleHTTPRequestDataUpdatedTotalData(SimpleHTTPRequest&, const kesto::fnd::Data& chunk,
                                             const kesto::fnd::Data& total) override {
    lastTotal = total.size();
  }
  void simpleHTTPRequestFinished(SimpleHTTPRequest&) override { events.push_back("finished"); }
  void simpleHTTPRequestFailed(SimpleHTTPRequest&, const kesto::fnd::Error& e) override {
    events.push_back("failed");
    error = e;
  }
  bool done() const { return !events.empty() && (events.back() == "finished" || events.back() == "failed"); }
  // Starts the request with this recorder listening and waits for its end.
  bool runToEnd(SimpleHTTPRequest& request) {
    request.setDelegate(this);
    request.start();
    return kesto::test::runUntil([&] { return done(); }, 10);
  }
};

}  // namespace

TEST(SimpleHTTPRequestEncoding, EncodesEverythingButUnreservedCharacters) {
  EXPECT_EQ(SimpleHTTPRequest::urlEncode("a-_.~Z9"), "a-_.~Z9");
  EXPECT_EQ(SimpleHTTPRequest::urlEncode("a b&c=d/e?f#g%h+\"'"), "a%20b%26c%3Dd%2Fe%3Ff%23g%25h%2B%22%27");
  EXPECT_EQ(SimpleHTTPRequest::urlEncode("é"), "%C3%A9");
  EXPECT_EQ(SimpleHTTPRequest::urlEncode("é", "ISO-8859-1"), "%E9");
  EXPECT_EQ(SimpleHTTPRequest::urlDecode("%C3%A9%20x"), "é x");
  EXPECT_EQ(SimpleHTTPRequest::urlDecode("%E9", "ISO-8859-1"), "é");
  EXPECT_FALSE(SimpleHTTPRequest::urlDecode("%E9")) << "not UTF-8";
}

TEST(SimpleHTTPRequestEncoding, ParsesQueryPairsWithoutDecoding) {
  EXPECT_FALSE(SimpleHTTPRequest::parseGetParamsFromURLString(std::nullopt));
  EXPECT_FALSE(SimpleHTTPRequest::parseGetParamsFromURLString("http://a.com/x"));
  auto p = SimpleHTTPRequest::parseGetParamsFromURLString("http://a.com/?a=1&flag&b=x=y&a=2&c=%20#frag");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->size(), 3u);
  EXPECT_EQ((*p)["a"].string(), "2") << "later keys win";
  EXPECT_EQ((*p)["b"].string(), "x=y");
  EXPECT_EQ((*p)["c"].string(), "%20#frag");
  EXPECT_TRUE(SimpleHTTPRequest::parseGetParamsFromURLString("http://a.com/?")->empty());
}

TEST(SimpleHTTPRequestParams, GetReplacesTheQueryAndKeepsTheFragment) {
  auto r = requestFor("http://a.com/p?old=1");
  params::setUpGetParams(r, Dictionary{{"q", "a b"}, {"n", 5}, {"z", "1"}});
  EXPECT_EQ(r.url().absoluteString(), "http://a.com/p?q=a%20b&z=1") << "non-string values are left out";

  auto f = requestFor("http://a.com/p#top");
  params::setUpGetParams(f, Dictionary{{"q", "1"}});
  EXPECT_EQ(f.url().absoluteString(), "http://a.com/p?q=1#top");

  auto e = requestFor("http://a.com/p");
  params::setUpGetParams(e, Dictionary{});
  EXPECT_EQ(e.url().absoluteString(), "http://a.com/p?");
}

TEST(SimpleHTTPRequestParams, FormPostHasBodyLengthAndType) {
  auto r = requestFor("http://a.com/p");
  params::setUpPostParams(r, Dictionary{{"a", "1 2"}, {"b", "é"}, {"skip", 3.5}});
  EXPECT_EQ(r.httpMethod(), "POST");
  ASSERT_TRUE(r.httpBody());
  EXPECT_EQ(std::string(kesto::fnd::asStringView(*r.httpBody())), "a=1%202&b=%C3%A9");
  EXPECT_EQ(r.valueForHTTPHeaderField("Content-Length"), "16");
  EXPECT_EQ(r.valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
}

TEST(SimpleHTTPRequestParams, MultipartWithOneParameterAndNoFiles) {
  auto r = requestFor("http://a.com/p");
  ASSERT_TRUE(params::setUpMultiPartFormDataRequest(r, Dictionary{{"k", "v"}}, std::vector<SimpleHTTPRequestUploadFile>{}));
  auto type = *r.valueForHTTPHeaderField("Content-Type");
  const std::string prefix = "multipart/form-data; charset=UTF-8; boundary=";
  ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
  std::string boundary = type.substr(prefix.size());
  EXPECT_EQ(boundary.rfind("0xKhTmLbOuNdArY-", 0), 0u);
  EXPECT_EQ(boundary.size(), 16u + 36u);
  std::string body(kesto::fnd::asStringView(*r.httpBody()));
  EXPECT_EQ(body, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--" + boundary + "--\r\n");
  EXPECT_EQ(r.valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));

  // A fresh boundary every time, and it is always announced, even over a caller's own type.
  auto again = requestFor("http://a.com/p");
  again.setValueForHTTPHeaderField("text/plain", "Content-Type");
  params::setUpMultiPartFormDataRequest(again, Dictionary{{"k", "v"}}, std::vector<SimpleHTTPRequestUploadFile>{});
  EXPECT_NE(*again.valueForHTTPHeaderField("Content-Type"), type);
  EXPECT_EQ(again.valueForHTTPHeaderField("Content-Type")->rfind(prefix, 0), 0u);
}

TEST(SimpleHTTPRequestParams, MultipartNamesCannotForgeHeadersOrParts) {
  auto r = requestFor("http://a.com/p");
  SimpleHTTPRequestUploadFile file;
  file.name = "f\"; evil=\"1";
  file.fileName = "a.txt\r\nContent-Type: text/html\r\n\r\n<x>";
  file.fileData = kesto::fnd::toData("DATA");
  ASSERT_TRUE(params::setUpMultiPartFormDataRequest(r, Dictionary{{"x\r\ny", "1"}}, file));
  std::string body(kesto::fnd::asStringView(*r.httpBody()));
  EXPECT_NE(body.find("name=\"x%0D%0Ay\""), std::string::npos);
  EXPECT_NE(body.find("name=\"f%22; evil=%221\"; filename=\"a.txt%0D%0AContent-Type: text/html%0D%0A%0D%0A<x>\""),
            std::string::npos);
  EXPECT_NE(body.find("Content-Type: application/octet-stream\r\n\r\nDATA"), std::string::npos);

  auto nul = requestFor("http://a.com/p");
  SimpleHTTPRequestUploadFile bad;
  bad.name = std::string("a\0b", 3);
  EXPECT_FALSE(params::setUpMultiPartFormDataRequest(nul, Dictionary{}, bad));
  EXPECT_FALSE(nul.httpBody()) << "a refused body leaves the request untouched";
}

TEST(SimpleHTTPRequestParams, ServerParsesTheMultipartBody) {
  kesto::test::ImageServer server;
  auto r = requestFor(server.url("/upload"));
  SimpleHTTPRequestUploadFile a{"photo", "p.jpg", "image/jpeg", kesto::fnd::toData(std::string("\xff\xd8\r\n--x", 7))};
  SimpleHTTPRequestUploadFile b{"note", "n.txt", std::nullopt, kesto::fnd::toData("hello")};
  ASSERT_TRUE(params::setUpMultiPartFormDataRequest(r, Dictionary{{"title", "Ünïcode"}, {"n", "2"}}, {a, b}));
  auto request = SimpleHTTPRequest::make(r);
  Recorder recorder;
  ASSERT_TRUE(recorder.runToEnd(*request));
  auto files = server.files();
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files["title"].content, "Ünïcode");
  EXPECT_EQ(files["n"].content, "2");
  EXPECT_EQ(files["photo"].filename, "p.jpg");
  EXPECT_EQ(files["photo"].content_type, "image/jpeg");
  EXPECT_EQ(files["photo"].content, std::string("\xff\xd8\r\n--x", 7));
  EXPECT_EQ(files["note"].content_type, "application/octet-stream");
}

TEST(SimpleHTTPRequest, DeliversResponseDataAndFinishInOrderOnTheMainThread) {
  kesto::test::ImageServer server;
  server.serve("/a", {200, "text/plain; charset=ISO-8859-1", std::string("caf\xe9", 4)});
  auto request = SimpleHTTPRequest::make(requestFor(server.url("/a")));
  EXPECT_EQ(request->responseStatusCode(), 0);
  EXPECT_FALSE(request->responseData()) << "never started";
  Recorder recorder;
  request->setDelegate(&recorder);
  request->start();
  request->start();  // a running request does not start again
  ASSERT_TRUE(kesto::test::runUntil([&] { return recorder.done(); }, 10));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"response", "data", "finished"}));
  EXPECT_EQ(recorder.lastTotal, 4u);
  EXPECT_EQ(request->responseStatusCode(), 200);
  EXPECT_EQ(request->responseString(), "café") << "decoded by the response's charset";
  EXPECT_FALSE(request->responseUTF8String());
  EXPECT_EQ(server.hits("/a"), 1);

  // A finished request keeps its results; only cancel lets it run again.
  request->start();
  kesto::test::spin(0.2);
  EXPECT_EQ(server.hits("/a"), 1);
  request->cancel();
  EXPECT_FALSE(request->responseData());
  EXPECT_EQ(request->responseStatusCode(), 0);
  recorder.events.clear();
  request->start();
  ASSERT_TRUE(kesto::test::runUntil([&] { return recorder.done(); }, 10));
  EXPECT_EQ(server.hits("/a"), 2);
}

TEST(SimpleHTTPRequest, AnErrorStatusStillFinishes) {
  kesto::test::ImageServer server;
  auto request = SimpleHTTPRequest::make(requestFor(server.url("/missing")));
  Recorder recorder;
  ASSERT_TRUE(recorder.runToEnd(*request));
  EXPECT_EQ(recorder.events.back(), "finished");
  EXPECT_EQ(request->responseStatusCode(), 404);
}

TEST(SimpleHTTPRequest, ConnectionFailureFailsAndDropsTheBody) {
  int port;
  {
    kesto::test::ImageServer gone;
    port = std::stoi(gone.url("/").substr(17));
  }
  auto request = SimpleHTTPRequest::make(requestFor("http://127.0.0.1:" + std::to_string(port) + "/x"));
  Recorder recorder;
  ASSERT_TRUE(recorder.runToEnd(*request));
  EXPECT_EQ(recorder.events.back(), "failed");
  EXPECT_FALSE(request->responseData());
}

TEST(SimpleHTTPRequest, ABodyOverTheLimitFails) {
  kesto::test::ImageServer server;
  server.serve("/big", {200, "application/octet-stream", std::string(300000, 'b')});
  auto request = SimpleHTTPRequest::make(requestFor(server.url("/big")));
  request->setMaximumBodyBytes(100000);
  Recorder recorder;
  ASSERT_TRUE(recorder.runToEnd(*request));
  EXPECT_EQ(recorder.events.back(), "failed");
  ASSERT_TRUE(recorder.error);
  EXPECT_EQ(recorder.error->code(), kesto::net::urlerror::DataLengthExceedsMaximum);
  EXPECT_LE(recorder.chunkBytes, 100000u);
}

TEST(SimpleHTTPRequest, CancelSilencesTheDelegateAndOnlyImplementedMessagesArrive) {
  kesto::test::ImageServer server;
  server.serve("/a", {200, "text/plain", "hello"});
  auto cancelled = SimpleHTTPRequest::make(requestFor(server.url("/a")));
  Recorder silent;
  cancelled->setDelegate(&silent);
  cancelled->start();
  cancelled->cancel();

  auto partial = SimpleHTTPRequest::make(requestFor(server.url("/a")));
  Recorder onlyFinish;
  onlyFinish.capabilities = SimpleHTTPRequestDelegate::ReceivesFinished;
  partial->setDelegate(&onlyFinish);
  partial->start();
  ASSERT_TRUE(kesto::test::runUntil([&] { return onlyFinish.done(); }, 10));
  EXPECT_EQ(onlyFinish.events, std::vector<std::string>{"finished"});
  EXPECT_EQ(onlyFinish.lastTotal, 0u) << "no whole-body copies for a delegate that does not ask";
  kesto::test::spin(0.2);
  EXPECT_TRUE(silent.events.empty());
}
