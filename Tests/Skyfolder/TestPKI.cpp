#include "TestPKI.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace kesto::test {

namespace {

EVP_PKEY* keyOf(const TestCert& c) { return static_cast<EVP_PKEY*>(c.key.get()); }
X509* certOf(const TestCert& c) { return static_cast<X509*>(c.cert.get()); }

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("bad certificate extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

TestCert make(const TestCert* issuer, const std::string& commonName, const std::string& serialHex, bool isCA,
              const std::string& sans) {
  TestCert out;
  out.key = std::shared_ptr<void>(EVP_EC_gen("P-256"), [](void* k) { EVP_PKEY_free(static_cast<EVP_PKEY*>(k)); });
  X509* cert = X509_new();
  out.cert = std::shared_ptr<void>(cert, [](void* c) { X509_free(static_cast<X509*>(c)); });
  X509_set_version(cert, 2);
  BIGNUM* bn = nullptr;
  BN_hex2bn(&bn, serialHex.c_str());
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 30);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(certOf(*issuer)) : name);
  X509_set_pubkey(cert, keyOf(out));
  X509* issuerCert = issuer ? certOf(*issuer) : cert;
  if (isCA) {
    addExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
  } else {
    addExtension(cert, issuerCert, NID_basic_constraints, "CA:FALSE");
    addExtension(cert, issuerCert, NID_ext_key_usage, "serverAuth");
    addExtension(cert, issuerCert, NID_subject_alt_name, sans.c_str());
  }
  X509_sign(cert, issuer ? keyOf(*issuer) : keyOf(out), EVP_sha256());
  return out;
}

}  // namespace

fnd::Data TestCert::der() const {
  unsigned char* buf = nullptr;
  const int len = i2d_X509(certOf(*this), &buf);
  fnd::Data out(buf, buf + len);
  OPENSSL_free(buf);
  return out;
}

std::string TestCert::pem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, certOf(*this));
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return out;
}

std::string TestCert::keyPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, keyOf(*this), nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return out;
}

TestCert makeCA(const std::string& commonName) { return make(nullptr, commonName, "01", true, ""); }

TestCert makeLeaf(const TestCert& ca, const std::string& commonName, const std::string& sans,
                  const std::string& serialHex) {
  return make(&ca, commonName, serialHex, false, sans);
}

TestIdentity writeIdentity(const TestCert& leaf, const TestCert& ca, const std::string& directory,
                           const std::string& name) {
  TestIdentity id{directory + "/" + name + ".crt", directory + "/" + name + ".key"};
  std::ofstream(id.certPath) << leaf.pem() << ca.pem();
  std::ofstream(id.keyPath) << leaf.keyPem();
  return id;
}

}  // namespace kesto::test
