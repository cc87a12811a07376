#include "Network/NetSecurityPolicy.h"

#include "Platform/Net/ServerTrust.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <unistd.h>

namespace kesto {

namespace {

// The folder set for the pinned certificates (empty: the resources), guarded for any thread.
struct PinnedFolder {
  std::mutex mutex;
  std::string path;
};
PinnedFolder& pinnedFolder() {
  static PinnedFolder folder;
  return folder;
}

std::string resourceFolder() {
  // The folder of the executable stands in for the application's resources.
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool isValid(const net::ServerTrust& trust) {
  auto r = trust.evaluate();
  return r == net::TrustResult::Proceed || r == net::TrustResult::Unspecified;
}

}  // namespace

void NetSecurityPolicy::setDefaultPinnedCertificatesFolder(std::string folder) {
  std::lock_guard lock(pinnedFolder().mutex);
  pinnedFolder().path = std::move(folder);
}

const std::vector<fnd::Data>& NetSecurityPolicy::defaultPinnedCertificates() {
  static const std::vector<fnd::Data> certificates = [] {
    std::string folder;
    {
      std::lock_guard lock(pinnedFolder().mutex);
      folder = pinnedFolder().path.empty() ? resourceFolder() : pinnedFolder().path;
    }
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cer") == 0) names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::vector<fnd::Data> out;
    for (const auto& name : names) {
      std::ifstream in(folder + "/" + name, std::ios::binary);
      if (!in) continue;  // unreadable files are skipped
      out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return out;
  }();
  return certificates;
}

std::shared_ptr<NetSecurityPolicy> NetSecurityPolicy::defaultPolicy() {
  auto p = std::make_shared<NetSecurityPolicy>();
  p->setSSLPinningMode(NetSSLPinningMode::None);
  return p;
}

std::shared_ptr<NetSecurityPolicy> NetSecurityPolicy::policyWithPinningMode(NetSSLPinningMode mode) {
  auto p = std::make_shared<NetSecurityPolicy>();
  p->setSSLPinningMode(mode);
  p->setPinnedCertificates(defaultPinnedCertificates());
  return p;
}

void NetSecurityPolicy::setSSLPinningMode(NetSSLPinningMode mode) {
  mode_ = mode;
  // Pinning always checks the host. Without pinning the host is checked too (a certificate for
  // any other name must never do); only an explicit setValidatesDomainName(false) turns it off.
  if (mode == NetSSLPinningMode::PublicKey || mode == NetSSLPinningMode::Certificate) validatesDomain_ = true;
}

void NetSecurityPolicy::setPinnedCertificates(std::optional<std::vector<fnd::Data>> certificates) {
  pinned_ = std::move(certificates);
  if (!pinned_) {
    pinnedKeys_.reset();
    return;
  }
  std::vector<fnd::Data> keys;
  for (const auto& der : *pinned_)
    if (auto c = net::Certificate::fromDER(der); c && !c->publicKeyInfo().empty()) keys.push_back(c->publicKeyInfo());
  pinnedKeys_ = std::move(keys);
}

bool NetSecurityPolicy::evaluateServerTrust(net::ServerTrust& trust, const std::optional<std::string>& domain) const {
  if (validatesDomain_)
    trust.setPolicySSLServer(domain ? domain : std::optional<std::string>(trust.host()));
  else
    trust.setPolicyBasicX509();

  if (mode_ == NetSSLPinningMode::None) return allowInvalid_ || isValid(trust);
  if (mode_ != NetSSLPinningMode::Certificate && mode_ != NetSSLPinningMode::PublicKey) return false;
  if (!allowInvalid_ && !isValid(trust)) return false;

  const auto& chain = trust.certificateChain();
  if (chain.empty()) return false;
  if (mode_ == NetSSLPinningMode::Certificate) {
    std::vector<net::Certificate> anchors;
    if (pinned_)
      for (const auto& der : *pinned_)
        if (auto c = net::Certificate::fromDER(der)) anchors.push_back(std::move(*c));
    trust.setAnchorCertificates(std::move(anchors));
    if (!isValid(trust)) return false;
    if (!validatesChain_) return true;
    std::size_t counted = 0;
    for (const auto& c : chain)
      if (pinned_ && std::find(pinned_->begin(), pinned_->end(), c.der()) != pinned_->end()) ++counted;
    return counted == chain.size();
  }

  // Public keys: count chain certificates whose key is pinned (not pairs, so a key pinned twice
  // cannot stand in for an unpinned certificate).
  std::vector<const fnd::Data*> keys;
  for (const auto& c : chain)
    if (!c.publicKeyInfo().empty()) keys.push_back(&c.publicKeyInfo());
  if (!validatesChain_ && !keys.empty()) keys.resize(1);
  std::size_t counted = 0;
  if (pinnedKeys_)
    for (const fnd::Data* k : keys)
      if (std::find(pinnedKeys_->begin(), pinnedKeys_->end(), *k) != pinnedKeys_->end()) ++counted;
  return counted > 0 && (!validatesChain_ || counted == chain.size());
}

}  // namespace kesto
