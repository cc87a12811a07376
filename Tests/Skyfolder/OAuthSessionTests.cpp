#include "FakeSkyfolder.h"
#include "TestPKI.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/ServerTrust.h"
#include "Skyfolder/OAuthAPI.h"
#include "Skyfolder/OAuthAuthenticationMethod.h"
#include "Skyfolder/OAuthCredentialConcreteStore.h"
#include "Skyfolder/OAuthURLRequest.h"

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::test;

namespace {

class OAuthSession : public ::testing::Test, protected LoopbackSkyfolder {
 protected:
  void SetUp() override {
    startSkyfolder(makeTempDir("pki"));
    // This layer keeps the platform's own trust evaluation.
    net::ServerTrust::setAdditionalSystemAnchorsForTesting({*net::Certificate::fromDER(ca.der())});
    base = "https://" + fake->host() + "/1/";
    config = {{"OAuthRequestTokenURL", fnd::Value(base + "oauth/request_token")},
              {"OAuthUserAuthorizationURL", fnd::Value("https://auth.example/authorize")},
              {"OAuthAccessTokenURL", fnd::Value(base + "oauth/access_token")}};
  }
  void TearDown() override { net::ServerTrust::setAdditionalSystemAnchorsForTesting({}); }

  std::unique_ptr<OAuthAPI> makeAPI() {
    auto api = std::make_unique<OAuthAPI>(
        fnd::Dictionary{{kOAuthCredentialConsumerKey, fnd::Value(FakeSkyfolder::kConsumerKey)},
                        {kOAuthCredentialConsumerSecret, fnd::Value(FakeSkyfolder::kConsumerSecret)}},
        *net::URL::fromString(base), *net::URL::fromString(base), false, &config);
    api->setSignatureScheme(OAuthAPI::PlainText);
    return api;
  }
  OAuthAuthenticationMethodOAuth& method(OAuthAPI& api) {
    return dynamic_cast<OAuthAuthenticationMethodOAuth&>(*api.authenticationMethod());
  }

  std::string base;
  fnd::Dictionary config;
};

}  // namespace

TEST_F(OAuthSession, RunsTheThreeLeggedExchange) {
  auto api = makeAPI();
  auto bystander = makeAPI();
  std::optional<net::URL> opened;
  method(*api).setURLOpener([&](const net::URL& url) {
    opened = url;
    fake->approveRequestToken();
  });
  api->authenticate();
  ASSERT_TRUE(runUntil([&] { return opened.has_value(); }));
  EXPECT_EQ(opened->absoluteString(), "https://auth.example/authorize?oauth_token=rt1");
  EXPECT_EQ(api->credentials().requestTokenSecret(), FakeSkyfolder::kRequestSecret);
  ASSERT_FALSE(fake->log().empty());
  EXPECT_EQ(fake->log().front().params.find("oauth_callback")->second, "oob");

  fnd::UserDefaults::standard().setDouble(5, kOAuthAutomaticTokenRefreshLastExpiryDate);
  api->authenticate();
  ASSERT_TRUE(runUntil([&] { return api->isAuthenticated(); }));
  EXPECT_EQ(api->credentials().accessToken(), FakeSkyfolder::kAccessToken);
  EXPECT_EQ(api->credentials().accessTokenSecret(), FakeSkyfolder::kAccessSecret);
  EXPECT_FALSE(api->credentials().requestToken());
  EXPECT_EQ(api->credentials().findValueFromKeychainUsingName(kOAuthCredentialAccessToken), FakeSkyfolder::kAccessToken);
  // A reply without an expiry clears the stored one.
  EXPECT_FALSE(fnd::UserDefaults::standard().hasValueForKey(kOAuthAutomaticTokenRefreshLastExpiryDate));
  EXPECT_EQ(fake->signatureFailures(), 0);
  // Another API's method never took these tokens.
  EXPECT_FALSE(bystander->credentials().requestToken());
  EXPECT_FALSE(bystander->credentials().accessToken());
  EXPECT_FALSE(bystander->isAuthenticated());

  api->discardCredentials();
  EXPECT_FALSE(api->isAuthenticated());
  EXPECT_FALSE(api->credentials().accessToken());
}

TEST_F(OAuthSession, FailuresReachTheDelegate) {
  struct Delegate : OAuthAuthenticationMethodOAuthDelegate {
    std::optional<fnd::Error> error;
    bool asked = false;
    std::uint32_t implementedOperations() const override { return AuthenticationDidFail | AutomaticallyRequestAuthentication; }
    bool automaticallyRequestAuthenticationFromURL(const net::URL&, const std::optional<net::URL>&) override {
      asked = true;
      return false;
    }
    void authenticationDidFailWithError(const fnd::Error& e) override { error = e; }
  } delegate;
  auto api = makeAPI();
  method(*api).setDelegate(&delegate);
  bool opened = false;
  method(*api).setURLOpener([&](const net::URL&) { opened = true; });
  api->authenticate();
  ASSERT_TRUE(runUntil([&] { return delegate.asked; }));
  EXPECT_FALSE(opened);

  // RSA-SHA1 cannot be signed: the request fails before anything is sent.
  api->credentials().discardOAuthCredentials();
  api->setSignatureScheme(OAuthAPI::RSA_SHA1);
  const auto sent = fake->log().size();
  api->authenticate();
  ASSERT_TRUE(runUntil([&] { return delegate.error.has_value(); }));
  EXPECT_EQ(delegate.error->domain(), kOAuthUnsupportedSignatureMethod);
  EXPECT_EQ(fake->log().size(), sent);
  EXPECT_EQ(api->activeLoaderCount(), 0u);
}

TEST_F(OAuthSession, SignedCallsStayOnTheirOrigin) {
  auto api = makeAPI();
  EXPECT_FALSE(api->performMethod(std::nullopt, *net::URL::fromString("https://h.example"), {}, {}));
  auto other = std::make_unique<FakeSkyfolder>(
      writeIdentity(makeLeaf(ca, "127.0.0.1", "IP:127.0.0.1"), ca, dir, "other"));
  FakeSkyfolder::Fault redirect;
  redirect.status = 302;
  redirect.headers = {{"Location", "http://" + other->host() + "/1/steal"}};
  fake->injectFault("/1/info", redirect);
  std::optional<int> status;
  OAuthAPI::Target target;
  target.didLoad = [&](OAuthAPIRequestLoader& loader, const fnd::Data&) {
    status = loader.oauthResponse().urlResponse->statusCode();
  };
  target.didFail = [&](OAuthAPIRequestLoader&, const fnd::Error&) { status = -1; };
  ASSERT_TRUE(api->performMethod(std::string("info"), *net::URL::fromString(base), {}, target));
  ASSERT_TRUE(runUntil([&] { return status.has_value(); }));
  EXPECT_EQ(*status, 302);
  EXPECT_TRUE(other->log().empty());

  // A synchronous call returns the body.
  FakeSkyfolder::Fault ok;
  ok.status = 200;
  ok.body = "{\"ok\":true}";
  fake->injectFault("/1/info", ok);
  const auto data = api->dataForMethod("info");
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(data->begin(), data->end()), "{\"ok\":true}");
}

TEST_F(OAuthSession, OnlyAWebAuthorizationPageFromTheReplyIsOpened) {
  auto api = makeAPI();
  std::vector<std::string> opened;
  method(*api).setURLOpener([&](const net::URL& url) { opened.push_back(url.absoluteString()); });
  auto replyWithPage = [&](const std::string& page) {
    FakeSkyfolder::Fault reply;
    reply.status = 200;
    reply.body = "oauth_token=rt9&oauth_token_secret=s9&xoauth_request_auth_url=" + page;
    fake->injectFault("/1/oauth/request_token", reply);
    api->credentials().discardOAuthCredentials();
    api->authenticate();
    return runUntil([&] { return !opened.empty(); });
  };
  // The reply may name the service's own page...
  ASSERT_TRUE(replyWithPage("https%3A%2F%2Fpages.example%2Fauth"));
  EXPECT_EQ(opened.back(), "https://pages.example/auth?oauth_token=rt9");
  // ...but what would start a local program or read a file gives way to the configured page.
  for (const char* page : {"file%3A%2F%2F%2Fhome%2Fu%2Fevil.desktop", "ssh%3A%2F%2Fhost", "javascript%3Aalert(1)"}) {
    opened.clear();
    ASSERT_TRUE(replyWithPage(page)) << page;
    EXPECT_EQ(opened.back(), "https://auth.example/authorize?oauth_token=rt9") << page;
  }
}

TEST(OAuthAuthenticationMethod, AutomaticConfigurationMatchesDomainsAtLabelBoundaries) {
  OAuthAuthenticationMethod::setAutoConfiguration(
      {{"example.com",
        fnd::Value(fnd::Dictionary{
            {"OAuthAuthenticationPreferredMethods", fnd::Value(fnd::Array{fnd::Value("OAuthAuthenticationMethodOAuth")})},
            {"OAuthAuthenticationMethodOAuth",
             fnd::Value(fnd::Dictionary{{"OAuthRequestTokenURL", fnd::Value("https://api.example.com/rt")},
                                        {"OAuthAccessTokenURL", fnd::Value("https://api.example.com/at")}})}})}});
  auto configured = [](const char* authURL) {
    OAuthAPI api({}, *net::URL::fromString(authURL), *net::URL::fromString(authURL), false);
    auto& m = dynamic_cast<OAuthAuthenticationMethodOAuth&>(*api.authenticationMethod());
    return m.oauthRequestTokenURL() ? m.oauthRequestTokenURL()->absoluteString() : std::string();
  };
  EXPECT_EQ(configured("https://www.example.com/"), "https://api.example.com/rt");
  EXPECT_EQ(configured("https://example.com/"), "https://api.example.com/rt");
  EXPECT_EQ(configured("https://notexample.com/"), "");
  OAuthAuthenticationMethod::setAutoConfiguration({});
  EXPECT_EQ(configured("https://www.example.com/"), "");

  // Setting the scheme names the method the store signs with.
  const auto h = *net::URL::fromString("https://h.example/");
  OAuthAPI api({}, h, h, false);
  EXPECT_EQ(api.credentials().signatureMethod(), "HMAC-SHA1");
  api.setSignatureScheme(OAuthAPI::PlainText);
  EXPECT_EQ(api.credentials().signatureMethod(), "PLAINTEXT");
  api.setSignatureScheme(7);
  EXPECT_EQ(api.credentials().signatureMethod(), "HMAC-SHA1");
}
