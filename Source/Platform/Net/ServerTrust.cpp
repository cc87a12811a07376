#include "Platform/Net/ServerTrust.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <mutex>

namespace kesto::net {

namespace {

struct X509Deleter {
  void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

X509Ptr parse(const fnd::Data& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x && p != der.data() + der.size()) {  // trailing bytes: not one certificate
    X509_free(x);
    return nullptr;
  }
  return X509Ptr(x);
}

// What a test puts beside or in place of the system's trusted roots.
struct TestAnchors {
  std::mutex mutex;
  std::vector<Certificate> anchors;
  bool ignoreSystemStore = false;
};
TestAnchors& testAnchors() {
  static TestAnchors t;
  return t;
}

}  // namespace

std::optional<Certificate> Certificate::fromDER(const fnd::Data& der) {
  if (der.empty()) return std::nullopt;
  X509Ptr x = parse(der);
  if (!x) return std::nullopt;
  Certificate c;
  c.der_ = der;
  int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x.get()), nullptr);
  if (len > 0) {
    c.spki_.resize(static_cast<std::size_t>(len));
    unsigned char* out = c.spki_.data();
    i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x.get()), &out);
  }
  char buf[512];
  X509_NAME_oneline(X509_get_subject_name(x.get()), buf, sizeof buf);
  c.subject_ = buf;
  return c;
}

std::vector<Certificate> Certificate::fromPEM(std::string_view pem) {
  std::vector<Certificate> out;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return out;
  while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    int len = i2d_X509(x, nullptr);
    if (len > 0) {
      fnd::Data der(static_cast<std::size_t>(len));
      unsigned char* p = der.data();
      i2d_X509(x, &p);
      if (auto c = fromDER(der)) out.push_back(std::move(*c));
    }
    X509_free(x);
  }
  BIO_free(bio);
  return out;
}

std::string Certificate::subjectSummary() const { return subject_; }

ServerTrust::ServerTrust(std::vector<Certificate> chain, std::string host, int port)
    : chain_(std::move(chain)), host_(std::move(host)), port_(port), policyHost_(host_) {}

void ServerTrust::setPolicyBasicX509() {
  sslPolicy_ = false;
  policyHost_.reset();
}

void ServerTrust::setPolicySSLServer(std::optional<std::string> hostName) {
  sslPolicy_ = true;
  policyHost_ = std::move(hostName);
}

void ServerTrust::setAnchorCertificates(std::vector<Certificate> anchors) { anchors_ = std::move(anchors); }

void ServerTrust::setAdditionalSystemAnchorsForTesting(std::vector<Certificate> anchors) {
  std::lock_guard lock(testAnchors().mutex);
  testAnchors().anchors = std::move(anchors);
}

void ServerTrust::setIgnoreSystemStoreForTesting(bool ignore) {
  std::lock_guard lock(testAnchors().mutex);
  testAnchors().ignoreSystemStore = ignore;
}

TrustResult ServerTrust::evaluate() const {
  reason_.clear();
  if (chain_.empty()) {
    reason_ = "no certificates";
    return TrustResult::FatalTrustFailure;
  }
  std::vector<X509Ptr> parsed;
  for (const auto& c : chain_) {
    X509Ptr x = parse(c.der());
    if (!x) {
      reason_ = "unreadable certificate";
      return TrustResult::FatalTrustFailure;
    }
    parsed.push_back(std::move(x));
  }

  X509_STORE* store = X509_STORE_new();
  if (anchors_) {
    for (const auto& a : *anchors_)
      if (X509Ptr x = parse(a.der())) X509_STORE_add_cert(store, x.get());
  } else {
    std::lock_guard lock(testAnchors().mutex);
    if (!testAnchors().ignoreSystemStore) X509_STORE_set_default_paths(store);
    for (const auto& a : testAnchors().anchors)
      if (X509Ptr x = parse(a.der())) X509_STORE_add_cert(store, x.get());
  }

  STACK_OF(X509)* untrusted = sk_X509_new_null();
  for (std::size_t i = 1; i < parsed.size(); ++i) sk_X509_push(untrusted, parsed[i].get());

  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  TrustResult result = TrustResult::OtherError;
  if (ctx && X509_STORE_CTX_init(ctx, store, parsed.front().get(), untrusted) == 1) {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    if (sslPolicy_) {
      X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
      if (policyHost_ && !policyHost_->empty()) {
        std::string h = *policyHost_;
        if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
        // An address is matched against IP entries, a name against DNS entries.
        if (X509_VERIFY_PARAM_set1_ip_asc(param, h.c_str()) != 1) {
          X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
          X509_VERIFY_PARAM_set1_host(param, h.c_str(), h.size());
        }
      }
    }
    int ok = X509_verify_cert(ctx);
    if (ok == 1) {
      result = TrustResult::Unspecified;
    } else {
      int err = X509_STORE_CTX_get_error(ctx);
      reason_ = X509_verify_cert_error_string(err);
      switch (err) {
        case X509_V_ERR_CERT_REVOKED:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
          result = TrustResult::FatalTrustFailure;
          break;
        default:
          result = TrustResult::RecoverableTrustFailure;
      }
    }
  }
  if (ctx) X509_STORE_CTX_free(ctx);
  sk_X509_free(untrusted);
  X509_STORE_free(store);
  return result;
}

}  // namespace kesto::net
