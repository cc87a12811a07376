#include "FakeSkyfolder.h"

#include "Platform/Net/ServerTrust.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFSession.h"

#include "Platform/Foundation/JsonText.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Skyfolder/SFConfig.h"

#include <httplib.h>
#include <zlib.h>

#include <chrono>
#include <sstream>

namespace kesto::test {

namespace {

constexpr std::size_t kKeepUploadsUpTo = 16u << 20;
// Types the server library does not compress on its own: compressing large replies would make
// the fake, not the client, the slow part of a test.
constexpr const char* kJsonType = "application/vnd.skyfolder+json";
constexpr const char* kFormType = "application/vnd.skyfolder+form";

std::string generatedChunk(std::uint64_t offset, std::size_t length) {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
  return out;
}

std::string gzipped(const std::string& in) {
  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(in.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string jsonString(const std::string& s) {
  std::string out;
  fnd::json::appendQuoted(out, s);
  return out;
}

std::string param(const std::multimap<std::string, std::string>& params, const std::string& name) {
  const auto it = params.find(name);
  return it == params.end() ? std::string() : it->second;
}

std::string lastComponent(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

FakeSkyfolder::FakeSkyfolder(const TestIdentity& identity)
    : server_(std::make_unique<httplib::SSLServer>(identity.certPath.c_str(), identity.keyPath.c_str())) {
  // One request per connection, closed after the answer: nothing idles to hold the shutdown, and
  // no request ever races the server closing a pooled connection (a zero keep-alive wait drops
  // requests that arrive a few milliseconds late on a loaded machine).
  server_->set_keep_alive_max_count(1);
  server_->set_payload_max_length(std::numeric_limits<std::size_t>::max());
  install();
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

FakeSkyfolder::~FakeSkyfolder() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void FakeSkyfolder::pointClientHere() const {
  auto& d = fnd::UserDefaults::standard();
  d.setString(host(), SFConfig::kAPIHostKey);
  d.setString(host(), SFConfig::kContentHostKey);
  d.setString(host(), SFConfig::kWebHostKey);
}

std::string FakeSkyfolder::putFile(const std::string& path, std::string content) {
  std::lock_guard lock(mutex_);
  auto& f = files_[path];
  f.content = std::move(content);
  f.generated = false;
  f.revision = nextRevision_++;
  f.rev = std::to_string(f.revision) + "0f";
  return f.rev;
}

void FakeSkyfolder::putGeneratedFile(const std::string& path, std::uint64_t size) {
  std::lock_guard lock(mutex_);
  auto& f = files_[path];
  f.generated = true;
  f.generatedSize = size;
  f.revision = nextRevision_++;
  f.rev = std::to_string(f.revision) + "0f";
}

std::optional<std::string> FakeSkyfolder::fileContent(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return it->second.content;
}

std::optional<std::string> FakeSkyfolder::fileRev(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return it->second.rev;
}

void FakeSkyfolder::injectFault(const std::string& pathPrefix, Fault fault, int times) {
  std::lock_guard lock(mutex_);
  faults_.emplace_back(pathPrefix, std::move(fault), times);
}

std::optional<FakeSkyfolder::Fault> FakeSkyfolder::takeFault(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (path.rfind(std::get<0>(*it), 0) != 0) continue;
    Fault f = std::get<1>(*it);
    if (--std::get<2>(*it) <= 0) faults_.erase(it);
    return f;
  }
  return std::nullopt;
}

std::vector<FakeSkyfolder::Logged> FakeSkyfolder::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void FakeSkyfolder::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

bool FakeSkyfolder::signatureValid(const std::multimap<std::string, std::string>& params) const {
  if (param(params, "oauth_consumer_key") != kConsumerKey || param(params, "oauth_signature_method") != "PLAINTEXT" ||
      param(params, "oauth_nonce").size() != 36 || param(params, "oauth_version") != "1.0" ||
      param(params, "oauth_timestamp").empty())
    return false;
  const std::string token = param(params, "oauth_token");
  std::string tokenSecret;
  if (token == kRequestToken) tokenSecret = kRequestSecret;
  else if (token == kAccessToken) tokenSecret = kAccessSecret;
  else if (!token.empty()) return false;
  return param(params, "oauth_signature") ==
         fnd::percentEncodeUnreserved(kConsumerSecret) + "&" + fnd::percentEncodeUnreserved(tokenSecret);
}

std::string FakeSkyfolder::metadataJson(const std::string& path, const File& f) const {
  const std::uint64_t size = f.generated ? f.generatedSize : f.content.size();
  std::ostringstream out;
  out << "{\"rev\":" << jsonString(f.rev) << ",\"revision\":" << f.revision << ",\"bytes\":" << size
      << ",\"thumb_exists\":false,\"path\":" << jsonString(path)
      << ",\"is_dir\":false,\"modified\":\"Sat, 21 Aug 2010 22:31:20 +0000\",\"root\":\"app_folder\","
      << "\"size\":\"" << size << " bytes\",\"icon\":\"page_white\"}";
  return out.str();
}

std::string FakeSkyfolder::folderJson(const std::string& path) const {
  std::string contents;
  std::int64_t hash = 0;
  const std::string prefix = path == "/" ? "/" : path + "/";
  for (const auto& [p, f] : files_) {
    if (p.rfind(prefix, 0) != 0 || p.find('/', prefix.size()) != std::string::npos) continue;
    if (!contents.empty()) contents += ",";
    contents += metadataJson(p, f);
    hash = hash * 31 + f.revision;
  }
  return "{\"hash\":\"h" + std::to_string(hash) + "\",\"bytes\":0,\"path\":" + jsonString(path) +
         ",\"is_dir\":true,\"root\":\"app_folder\",\"icon\":\"folder\",\"contents\":[" + contents + "]}";
}

void FakeSkyfolder::install() {
  // Logs, injects faults and checks signatures; answers true when the handler should go on.
  auto pre = [this](const httplib::Request& req, httplib::Response& res, std::uint64_t bodySize) {
    Logged entry;
    entry.method = req.method;
    entry.path = req.path;
    const auto q = req.target.find('?');
    entry.rawQuery = q == std::string::npos ? "" : req.target.substr(q + 1);
    for (const auto& [k, v] : req.params) entry.params.emplace(k, v);
    for (const char* h : {"User-Agent", "Accept-Encoding", "Content-Type", "Content-Length"})
      if (req.has_header(h)) entry.headers[h] = req.get_header_value(h);
    entry.bodySize = bodySize;
    {
      std::lock_guard lock(mutex_);
      log_.push_back(entry);
    }
    if (auto fault = takeFault(req.path)) {
      if (fault->delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
      if (fault->shortBody) {
        res.status = 200;
        res.set_header("X-Skyfolder-Metadata", "{\"bytes\":100}");
        res.set_chunked_content_provider("application/octet-stream", [](std::size_t, httplib::DataSink& sink) {
          const std::string part(90, 'x');
          sink.write(part.data(), part.size());
          sink.done();
          return true;
        });
        return false;
      }
      if (!fault->gzip) {
        res.status = fault->status;
        for (const auto& [k, v] : fault->headers) res.set_header(k, v);
        res.set_content(fault->body, kJsonType);
        if (fault->status != 200 || !fault->body.empty()) return false;
      } else {
        res.set_header("X-Gzip", "1");
      }
    }
    if (!signatureValid(entry.params)) {
      ++signatureFailures_;
      res.status = 401;
      res.set_content("{\"error\": \"Invalid signature.\"}", kJsonType);
      return false;
    }
    return true;
  };

  server_->Get("/1/oauth/request_token", [this, pre](const httplib::Request& req, httplib::Response& res) {
    if (!pre(req, res, 0)) return;
    requestTokenIssued_ = true;
    res.set_content(std::string("oauth_token_secret=") + fnd::percentEncodeUnreserved(kRequestSecret) +
                        "&oauth_token=" + kRequestToken,
                    kFormType);
  });
  server_->Get("/1/oauth/access_token", [this, pre](const httplib::Request& req, httplib::Response& res) {
    if (!pre(req, res, 0)) return;
    if (!approved_ || param(std::multimap<std::string, std::string>(req.params.begin(), req.params.end()),
                            "oauth_token") != kRequestToken) {
      res.status = 401;
      res.set_content("{\"error\": \"Request token has not been properly authorized.\"}", kJsonType);
      return;
    }
    accessTokenIssued_ = true;
    res.set_content(std::string("oauth_token_secret=") + fnd::percentEncodeUnreserved(kAccessSecret) +
                        "&oauth_token=" + kAccessToken + "&uid=" + kUserId,
                    kFormType);
  });
  server_->Get(R"(/1/metadata/sandbox(/.*))", [this, pre](const httplib::Request& req, httplib::Response& res) {
    if (!pre(req, res, 0)) return;
    std::string path = req.matches[1];
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    std::lock_guard lock(mutex_);
    std::string body;
    if (const auto it = files_.find(path); it != files_.end()) {
      body = metadataJson(path, it->second);
    } else {
      bool isFolder = path == "/";
      for (const auto& [p, f] : files_) isFolder = isFolder || p.rfind(path + "/", 0) == 0;
      if (!isFolder) {
        res.status = 404;
        res.set_content("{\"error\": \"Path '" + path + "' not found\"}", kJsonType);
        return;
      }
      body = folderJson(path);
      if (req.has_param("hash") && body.find("\"hash\":\"" + req.get_param_value("hash") + "\"") != std::string::npos) {
        res.status = 304;
        return;
      }
    }
    res.set_content(body, kJsonType);
  });
  server_->Get(R"(/1/files/sandbox(/.*))", [this, pre](const httplib::Request& req, httplib::Response& res) {
    const bool gzip = [&] {
      std::lock_guard lock(mutex_);
      for (const auto& [prefix, fault, times] : faults_)
        if (req.path.rfind(prefix, 0) == 0) return fault.gzip;
      return false;
    }();
    if (!pre(req, res, 0)) return;
    const std::string path = req.matches[1];
    std::lock_guard lock(mutex_);
    const auto it = files_.find(path);
    if (it == files_.end()) {
      res.status = 404;
      res.set_content("{\"error\": \"File not found\"}", kJsonType);
      return;
    }
    const File& f = it->second;
    res.set_header("X-Skyfolder-Metadata", metadataJson(path, f));
    res.set_header("Etag", f.rev);
    if (f.generated) {
      res.set_content_provider(f.generatedSize, "application/octet-stream",
                               [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 const std::size_t n = std::min<std::size_t>(length, 256 * 1024);
                                 const std::string chunk = generatedChunk(offset, n);
                                 return sink.write(chunk.data(), chunk.size());
                               });
    } else if (gzip) {
      res.set_header("Content-Encoding", "gzip");
      res.set_content(gzipped(f.content), "application/octet-stream");
    } else {
      res.set_content(f.content, "application/octet-stream");
    }
  });
  server_->Post(R"(/1/files_put/sandbox(/.*))", [this, pre](const httplib::Request& req, httplib::Response& res,
                                                            const httplib::ContentReader& reader) {
    std::string body;
    std::uint64_t received = 0;
    // Large uploads are counted, not kept, so the fake itself stays small.
    const bool keep = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) <= kKeepUploadsUpTo;
    reader([&](const char* data, std::size_t length) {
      received += length;
      if (keep) body.append(data, length);
      return true;
    });
    if (!pre(req, res, received)) return;
    std::string path = req.matches[1];
    const std::string parentRev = req.get_param_value("parent_rev");
    const bool overwrite = req.get_param_value("overwrite") != "false";
    std::lock_guard lock(mutex_);
    const auto it = files_.find(path);
    if (it != files_.end() && !overwrite && parentRev != it->second.rev) {
      // Someone else changed the file: keep both, as the service does.
      const auto dot = path.rfind('.');
      path = (dot == std::string::npos ? path : path.substr(0, dot)) + " (conflicted copy)" +
             (dot == std::string::npos ? "" : path.substr(dot));
    }
    auto& f = files_[path];
    f.generated = !keep;
    f.generatedSize = received;
    f.content = f.generated ? std::string() : std::move(body);
    f.revision = nextRevision_++;
    f.rev = std::to_string(f.revision) + "0f";
    lastStreamedUpload_ = received;
    res.set_content(metadataJson(path, f), kJsonType);
  });
  // Every other call answers only what a test injected; uninjected calls are unknown paths.
  auto other = [pre](const httplib::Request& req, httplib::Response& res) {
    if (!pre(req, res, req.body.size())) return;
    res.status = 404;
    res.set_content("{\"error\": \"Unknown call\"}", kJsonType);
  };
  server_->Get(R"(/1/.*)", other);
  server_->Post(R"(/1/.*)", other);
  (void)lastComponent;
}

void LoopbackSkyfolder::startSkyfolder(const std::string& folder) {
  dir = folder;
  ca = makeCA("Kesto Test Root");
  leaf = makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1,DNS:localhost");
  fake = std::make_unique<FakeSkyfolder>(writeIdentity(leaf, ca, dir, "server"));
}

void LoopbackSkyfolder::pinClientToSkyfolder() const {
  fake->pointClientHere();
  SFRequest::setRootCertificatesForTesting(std::vector<net::Certificate>{*net::Certificate::fromDER(ca.der())});
}

void LoopbackSkyfolder::startPinnedSkyfolder(const std::string& folder) {
  startSkyfolder(folder);
  pinClientToSkyfolder();
}

void LoopbackSkyfolder::unpinClient() { SFRequest::setRootCertificatesForTesting(std::nullopt); }

std::shared_ptr<SFSession> LoopbackSkyfolder::newSession() {
  return std::make_shared<SFSession>(FakeSkyfolder::kConsumerKey, FakeSkyfolder::kConsumerSecret, "sandbox");
}

std::shared_ptr<SFSession> LoopbackSkyfolder::linkedSession() {
  auto session = newSession();
  session->updateAccessToken(FakeSkyfolder::kAccessToken, FakeSkyfolder::kAccessSecret, FakeSkyfolder::kUserId);
  return session;
}

void LoopbackSkyfolder::approveInTheBrowser(std::optional<net::URL>& opened) const {
  SFAuthHelperOSX::sharedHelper().setURLOpener([this, &opened](const net::URL& url) {
    opened = url;
    fake->approveRequestToken();
  });
}

}  // namespace kesto::test
