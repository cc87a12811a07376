#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/OAuthHelpers.h"
#include "Skyfolder/OAuthURLRequest.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Keychain.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

net::URL url(const char* text) { return *net::URL::fromString(text); }

std::vector<std::string> names(const std::vector<OAURLRequestParameter>& params) {
  std::vector<std::string> out;
  for (const auto& p : params) out.push_back(p.name());
  return out;
}

struct ClockGuard {
  ~ClockGuard() { fnd::setClock({}); }
};

}  // namespace

TEST(OAuthSigning, HmacSha1MatchesThePublishedProtocolExample) {
  // The worked example published with the OAuth 1.0 protocol (photos.example.net).
  OAuthURLRequest request(url("http://photos.example.net/photos"),
                          {{"file", std::string("vacation.jpg")},
                           {"size", std::string("original")},
                           {"oauth_consumer_key", std::string("dpf43f3p2l4k3l03")},
                           {"oauth_token", std::string("nnch734d00sl2jdk")},
                           {"oauth_signature_method", std::string("HMAC-SHA1")},
                           {"oauth_timestamp", std::string("1191242096")},
                           {"oauth_nonce", std::string("kllo9940pd9333jh")},
                           {"oauth_version", std::string("1.0")}});
  auto signed_ = request.urlRequestSignedWithSecret("kd94hf93k423kf44&pfkkdhi9sl3r4s00", "HMAC-SHA1");
  ASSERT_TRUE(signed_);
  const std::string expectedBase =
      "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l03"
      "%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1191242096"
      "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal";
  EXPECT_EQ(OAuthSignatureParameter::signatureBaseStringUsingParameterString(
                OAURLRequestParameter::parameterStringForParameters(request.parameters()), request),
            expectedBase);
  const std::string query = signed_->url().query().value_or("");
  // The signature is the last pair, encoded once more.
  EXPECT_TRUE(query.ends_with("&oauth_signature=tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D")) << query;
  EXPECT_TRUE(query.starts_with("file=vacation.jpg&oauth_consumer_key=")) << query;
  EXPECT_EQ(OAuthSignatureParameter::HMAC_SHA1SignatureForText(expectedBase, "kd94hf93k423kf44&pfkkdhi9sl3r4s00"),
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
}

TEST(OAuthSigning, PlaintextPostAndRefusedMethods) {
  OAuthURLRequest post(url("https://api.example.com/1/fileops/delete"), {{"path", std::string("/a b")}});
  post.setHTTPMethod("POST");
  auto r = post.urlRequestSignedWithSecret("c%s&t", "PLAINTEXT");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->url().query());
  const auto& body = *r->httpBody();
  const std::string text(body.begin(), body.end());
  EXPECT_EQ(text, "path=%2Fa%20b&oauth_signature=c%25s%26t");
  EXPECT_EQ(r->valueForHTTPHeaderField("Content-Length"), std::to_string(text.size()));
  EXPECT_EQ(r->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");

  fnd::Error error;
  OAuthURLRequest rsa(url("https://api.example.com/x"), {{"a", std::string("1")}});
  EXPECT_FALSE(rsa.urlRequestSignedWithSecret("k&", "RSA-SHA1", &error));
  EXPECT_EQ(error.domain(), kOAuthUnsupportedSignatureMethod);
  EXPECT_EQ(error.localizedDescription(), "The signature method \"RSA-SHA1\" is not currently support by OAuthConnection");
  OAuthURLRequest put(url("https://api.example.com/x"), {{"a", std::string("1")}});
  put.setHTTPMethod("PUT");
  EXPECT_FALSE(put.urlRequestSignedWithSecret("k&", "PLAINTEXT", &error));
  EXPECT_EQ(error.domain(), kOAuthUnhandledHTTPMethod);
}

TEST(OAuthSigning, ParametersSortEncodeAndParse) {
  std::vector<OAURLRequestParameter> p{{"b", std::string("2")}, {"a", std::string("2")}, {"a", std::string("1")}};
  std::sort(p.begin(), p.end());
  EXPECT_EQ(OAURLRequestParameter::parameterStringForParameters(p), "a=1&a=2&b=2");
  EXPECT_EQ(OAURLRequestParameter("v", std::string("a b&c/d~e\xC3\xA9%")).URLEncodedParameterString(),
            "v=a%20b%26c%2Fd~e%C3%A9%25");
  EXPECT_EQ(OAURLRequestParameter("n", std::nullopt).URLEncodedParameterString(), "n=");
  EXPECT_EQ(OAURLRequestParameter::parameterStringForParameters({}), "");

  const auto parsed = OAURLRequestParameter::parametersFromString("x=1&y=a%20b+c&z=%zz");
  ASSERT_EQ(parsed.size(), 3u);
  EXPECT_EQ(parsed[1].value(), "a b+c");
  EXPECT_FALSE(parsed[2].value());
  const std::string q = "k=1&k=2&bad=%E0";
  const auto dict = OAURLRequestParameter::parameterDictionaryFromString(&q);
  EXPECT_EQ(dict.at("k").string(), "2");
  EXPECT_EQ(dict.count("bad"), 0u);
  EXPECT_TRUE(OAURLRequestParameter::parameterDictionaryFromString(nullptr).empty());

  OAuthURLRequest fromQuery(net::URLRequest(url("https://h.example/p?b=2&a=%41")));
  EXPECT_EQ(fromQuery.url().absoluteString(), "https://h.example/p");
  EXPECT_EQ(names(fromQuery.parameters()), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(fromQuery.parameters()[1].value(), "A");
}

TEST(OAuthSigning, CredentialStoreParametersAndSigningKey) {
  OAuthCredentialConcreteStore store({{kOAuthCredentialConsumerKey, fnd::Value("ck")},
                                      {kOAuthCredentialConsumerSecret, fnd::Value("c&s")},
                                      {kOAuthSignatureMethod, fnd::Value("PLAINTEXT")}});
  EXPECT_EQ(names(store.oauthParameters()),
            (std::vector<std::string>{"oauth_consumer_key", "oauth_signature_method", "oauth_timestamp",
                                      "oauth_nonce", "oauth_version"}));
  EXPECT_EQ(store.signingKey(), "c%26s&");
  const auto nonce1 = store.oauthNonceParameter().value().value();
  EXPECT_EQ(nonce1.size(), 36u);
  EXPECT_NE(nonce1, store.oauthNonceParameter().value().value());

  store.setRequestToken(std::string("rt"));
  store.setRequestTokenSecret(std::string("rs"));
  EXPECT_EQ(store.oauthTokenParameter()->value(), "rt");
  EXPECT_EQ(store.signingKey(), "c%26s&rs");
  store.setAccessToken(std::string("at"));
  // A token without its secret signs with an empty second half.
  EXPECT_EQ(store.signingKey(), "c%26s&");
  store.setAccessTokenSecret(std::string("a/s"));
  EXPECT_EQ(store.oauthTokenParameter()->value(), "at");
  EXPECT_EQ(store.signingKey(), "c%26s&a%2Fs");
  store.discardOAuthCredentials();
  EXPECT_FALSE(store.oauthTokenParameter());
  EXPECT_EQ(store.consumerKey(), "ck");
}

TEST(OAuthSigning, TimestampIsSixtyFourBit) {
  ClockGuard guard;
  // 2040-01-01: past the 32-bit limit of January 2038.
  fnd::setClock([] { return fnd::Date::withTimeIntervalSince1970(2208988800.0); });
  OAuthCredentialConcreteStore store({});
  EXPECT_EQ(store.timestamp(), "2208988800");
}

TEST(OAuthSigning, CredentialsGoToKeychainItems) {
  OAuthCredentialConcreteStore store({}, url("https://api.example.com/"), url("https://auth.example.com/"));
  store.setCredential("tok", kOAuthCredentialRequestToken);
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialRequestToken), "tok");
  store.setCredential("tok2", kOAuthCredentialRequestToken);
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialRequestToken), "tok2");
  fnd::Data data;
  EXPECT_EQ(fnd::Keychain::defaultKeychain().findInternetPassword(
                "api.example.com", "auth.example.com", "org.kesto.Kesto.kOAuthCredentialRequestToken", "", 0,
                fnd::kProtocolOAuth, fnd::kAuthenticationTypeDefault, &data),
            fnd::errSecSuccess);
  // Clearing the token removes its item too.
  store.setRequestToken(std::nullopt);
  EXPECT_FALSE(store.findValueFromKeychainUsingName(kOAuthCredentialRequestToken));
  EXPECT_FALSE(store.requestToken());
}

TEST(OAuthHelpers, UrlsAndDomains) {
  using namespace oaurlparameteradditions;
  EXPECT_EQ(absoluteNormalizedString(url("https://h.example")), "https://h.example/");
  EXPECT_EQ(absoluteNormalizedString(url("https://h.example/p")), "https://h.example/p");
  EXPECT_EQ(absoluteNormalizedString(url("https://h.example?q=1")), "https://h.example?q=1");
  EXPECT_EQ(urlByRemovingQuery(url("https://h.example/p?q=1")).absoluteString(), "https://h.example/p");
  EXPECT_EQ(urlByAddingParameters(url("https://h.example/p?a=1"), {{"b", std::string("x y")}})->absoluteString(),
            "https://h.example/p?a=1&b=x%20y");
  EXPECT_EQ(urlByAddingParameterDictionary(url("https://h.example/p?a=1"),
                                           {{"a", fnd::Value("2")}, {"c", fnd::Value("3")}})
                ->absoluteString(),
            "https://h.example/p?a=1&c=3");
  EXPECT_EQ(urlByAddingParameterDictionary(url("https://h.example/p"), {})->absoluteString(), "https://h.example/p");

  EXPECT_TRUE(domainMatches(url("https://www.example.com/"), "example.com"));
  EXPECT_TRUE(domainMatches(url("https://www.example.com/"), ".example.com"));
  EXPECT_TRUE(domainMatches(url("https://example.com/"), ".example.com"));
  EXPECT_TRUE(domainMatches(url("https://EXAMPLE.com/"), "example.com"));
  // Label boundaries: a host that merely ends in the same letters is another domain.
  EXPECT_FALSE(domainMatches(url("https://notexample.com/"), "example.com"));
  EXPECT_FALSE(domainMatches(url("https://notexample.com/"), ".example.com"));
  EXPECT_FALSE(domainMatches(url("https://example.com.evil.net/"), "example.com"));
  EXPECT_TRUE(domainMatches(url("https://10.0.0.1/"), "10.0.0.1"));
  EXPECT_FALSE(domainMatches(url("https://110.0.0.1/"), "10.0.0.1"));

  using oaurlescapingadditions::isIPAddress;
  EXPECT_TRUE(isIPAddress("192.168.1.254"));
  for (const char* text : {"192.168.1.255", "1.2.3", "1.2.3.a", "1.2.3.4.5"}) EXPECT_FALSE(isIPAddress(text)) << text;
}

TEST(OAuthHelpers, SkyfolderStringsAndDictionaries) {
  using namespace skyfolder;
  EXPECT_EQ(normalizedSkyfolderPath("/"), "");
  EXPECT_TRUE(isEqualToSkyfolderPath("/Apps/Kesto/Sync.ZIP", "/apps/kesto/sync.zip"));
  // Decomposed and composed forms of the same name are one path.
  EXPECT_TRUE(isEqualToSkyfolderPath("/Caf\xC3\xA9", "/cafe\xCC\x81"));
  EXPECT_FALSE(isEqualToSkyfolderPath("/a", "/b"));
  const auto d = dictionaryWithQueryString("a=1&b=x%20y&novalue&a=3");
  EXPECT_EQ(d.at("a").string(), "3");
  EXPECT_EQ(d.at("b").string(), "x y");
  EXPECT_EQ(d.count("novalue"), 0u);
  EXPECT_EQ(urlRepresentation({{"k y", fnd::Value("v&")}, {"n", fnd::Value(5)}}), "k%20y=v%26&n=5");
  EXPECT_EQ(urlRepresentation({}), "");
}
