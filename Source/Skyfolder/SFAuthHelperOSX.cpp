#include "Skyfolder/SFAuthHelperOSX.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Skyfolder/SFBrowser.h"
#include "Skyfolder/SFLog.h"
#include "Skyfolder/SFRestClient.h"
#include "Skyfolder/SFSession.h"


namespace kesto {


SFAuthHelperOSX& SFAuthHelperOSX::sharedHelper() {
  static SFAuthHelperOSX* helper = new SFAuthHelperOSX();
  return *helper;
}

SFAuthHelperOSX::SFAuthHelperOSX() : opener_([](const net::URL& url) { SFOpenURLInDefaultBrowser(url); }) {
  KESTO_ASSERT_MAIN_THREAD();
}

SFAuthHelperOSX::~SFAuthHelperOSX() { stopObserving(); }

std::uint64_t SFAuthHelperOSX::implementedOperations() const {
  return LoadedRequestToken | LoadRequestTokenFailedWithError | LoadedAccessToken | LoadAccessTokenFailedWithError;
}

SFRestClient* SFAuthHelperOSX::restClient() {
  // A client left from an earlier attempt on a session that is no longer the shared one would
  // link that old session: it makes way for one on the current session.
  if (restClient_ && !loading_ && restClient_->session() != SFSession::sharedSession()) restClient_.reset();
  if (!restClient_) {
    restClient_ = SFRestClient::initWithSession(SFSession::sharedSession());
    if (restClient_) restClient_->setDelegate(this);
  }
  return restClient_.get();
}

void SFAuthHelperOSX::authenticate() {
  KESTO_ASSERT_MAIN_THREAD();
  if (loading_) {
    SFLogError("SkyfolderSDK: called -[SFAuthHelperOSX authenticate] while the auth helper is already loading. "
               "Doing nothing.");
    return;
  }
  const auto session = SFSession::sharedSession();
  if (session && session->isLinked()) {
    SFLogError("SkyfolderSDK: called -[SFAuthHelperOSX authenticate] when already linked. Doing nothing.");
    return;
  }
  auto* client = restClient();
  if (!client) return;
  loading_ = true;
  postStateChangedNotification(nullptr);
  client->loadRequestToken();
}

void SFAuthHelperOSX::postStateChangedNotification(const fnd::Error* error) {
  fnd::Dictionary info;
  if (error) info.emplace("error", fnd::Value(std::make_shared<fnd::Error>(*error)));
  fnd::NotificationCenter::defaultCenter().postNotificationName(kSFAuthHelperOSXStateChangedNotification, this,
                                                                std::move(info));
}

void SFAuthHelperOSX::observeActivation() {
  if (observing_) return;
  observing_ = true;
  fnd::NotificationCenter::defaultCenter().addObserver(
      this, [this](const fnd::Notification&) { applicationDidBecomeActive(); },
      kSFApplicationDidBecomeActiveNotification);
}

void SFAuthHelperOSX::stopObserving() {
  if (!observing_) return;
  observing_ = false;
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
}

void SFAuthHelperOSX::restClientLoadedRequestToken(SFRestClient& client) {
  loading_ = false;
  postStateChangedNotification(nullptr);
  observeActivation();
  if (auto url = client.authorizeURL(); url && opener_) opener_(*url);
}

void SFAuthHelperOSX::restClientLoadRequestTokenFailedWithError(SFRestClient& client, const fnd::Error& error) {
  loading_ = false;
  if (!client.requestTokenLoaded()) stopObserving();
  postStateChangedNotification(&error);
}

void SFAuthHelperOSX::applicationDidBecomeActive() {
  KESTO_ASSERT_MAIN_THREAD();
  auto* client = restClient();
  if (!client || !client->requestTokenLoaded() || loading_) return;
  postStateChangedNotification(nullptr);
  client->loadAccessToken();
}

void SFAuthHelperOSX::restClientLoadedAccessToken(SFRestClient&) {
  loading_ = false;
  stopObserving();
  // Dropped after the delegate call returns: the client is still on the stack here.
  std::shared_ptr<SFRestClient> finished(restClient_.release());
  fnd::DispatchQueue::main().async([finished] {});
  postStateChangedNotification(nullptr);
}

void SFAuthHelperOSX::restClientLoadAccessTokenFailedWithError(SFRestClient&, const fnd::Error& error) {
  loading_ = false;
  postStateChangedNotification(&error);
}

}  // namespace kesto
