#include "TestCertificates.h"

#include "Harness/TestSupport.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace kesto::test {

namespace {

EVP_PKEY* newKey() {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_keygen_init(ctx);
  EVP_PKEY_CTX_set_ec_paramgen_curve_nid(ctx, NID_X9_62_prime256v1);
  EVP_PKEY_keygen(ctx, &key);
  EVP_PKEY_CTX_free(ctx);
  return key;
}

void addExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

X509* makeCert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuerKey, bool ca, const char* san,
               long notBeforeDays, long notAfterDays) {
  static long serial = 1;
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert), notBeforeDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(cert), notAfterDays * 86400L);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
  X509* iss = issuer ? issuer : cert;
  if (ca) {
    addExt(cert, iss, NID_basic_constraints, "critical,CA:TRUE");
    addExt(cert, iss, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExt(cert, iss, NID_basic_constraints, "CA:FALSE");
    addExt(cert, iss, NID_ext_key_usage, "serverAuth");
    if (san) addExt(cert, iss, NID_subject_alt_name, san);
  }
  addExt(cert, iss, NID_subject_key_identifier, "hash");
  X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256());
  return cert;
}

std::string pem(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return out;
}

std::string pem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return out;
}

TestIdentity write(const std::string& dir, const std::string& name, X509* leaf, EVP_PKEY* key, const std::string& chainTail) {
  TestIdentity id;
  id.certPEM = pem(leaf);
  id.certPath = dir + "/" + name + ".crt";
  id.keyPath = dir + "/" + name + ".key";
  writeFile(id.certPath, id.certPEM + chainTail);
  writeFile(id.keyPath, pem(key));
  return id;
}

TestPKI make() {
  TestPKI pki;
  std::string dir = makeTempDir("pki");
  EVP_PKEY* caKey = newKey();
  X509* ca = makeCert(caKey, "Kesto Test Root", nullptr, nullptr, true, nullptr, -1, 365);
  EVP_PKEY* intKey = newKey();
  X509* inter = makeCert(intKey, "Kesto Test Intermediate", ca, caKey, true, nullptr, -1, 365);
  pki.caPEM = pem(ca);
  pki.intermediatePEM = pem(inter);
  pki.caPath = dir + "/ca.crt";
  writeFile(pki.caPath, pki.caPEM);

  EVP_PKEY* leafKey = newKey();
  X509* leaf = makeCert(leafKey, "localhost", inter, intKey, false, "DNS:localhost,IP:127.0.0.1", -1, 30);
  pki.localhost = write(dir, "localhost", leaf, leafKey, pki.intermediatePEM);
  X509* wrong = makeCert(leafKey, "wrong.test", inter, intKey, false, "DNS:wrong.test", -1, 30);
  pki.wrongHost = write(dir, "wrong", wrong, leafKey, pki.intermediatePEM);
  X509* old = makeCert(leafKey, "localhost", inter, intKey, false, "DNS:localhost,IP:127.0.0.1", -30, -1);
  pki.expired = write(dir, "expired", old, leafKey, pki.intermediatePEM);
  EVP_PKEY* selfKey = newKey();
  X509* self = makeCert(selfKey, "localhost", nullptr, nullptr, false, "DNS:localhost,IP:127.0.0.1", -1, 30);
  pki.selfSigned = write(dir, "self", self, selfKey, "");

  for (X509* x : {ca, inter, leaf, wrong, old, self}) X509_free(x);
  for (EVP_PKEY* k : {caKey, intKey, leafKey, selfKey}) EVP_PKEY_free(k);
  return pki;
}

}  // namespace

const TestPKI& testPKI() {
  static TestPKI pki = make();
  return pki;
}

}  // namespace kesto::test
