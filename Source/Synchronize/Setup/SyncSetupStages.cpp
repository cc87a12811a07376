#include "Synchronize/Setup/SyncSetupStages.h"

#include "Synchronize/Setup/PasswordRecovery.h"
#include "Synchronize/Setup/SyncWizard.h"
#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Net/URLError.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SkyfolderNotifications.h"
#include "Support/AlertPresenter.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/SyncedFolder.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"

namespace kesto {

namespace {

constexpr double kW = SetupWindow::kStageWidth, kH = SetupWindow::kStageHeight;

std::shared_ptr<ui::Label> addText(ui::View& view, const fnd::Rect& frame, const std::string& text, double size = 0) {
  auto label = std::make_shared<ui::Label>(frame, text);
  label->setWraps(true);
  if (size > 0) {
    ui::Font font = label->font();
    font.pointSize = size;
    font.bold = true;
    label->setFont(font);
  }
  view.addSubview(label);
  return label;
}

// A stage's view: its heading on top and, when given, the paragraph that introduces it.
std::shared_ptr<ui::View> stageView(const std::string& heading, const fnd::Rect& introFrame = {},
                                    const std::string& intro = {}) {
  auto view = std::make_shared<ui::View>(fnd::Rect(0, 0, kW, kH));
  addText(*view, fnd::Rect(0, 290, kW, 26), heading, 15);
  if (!intro.empty()) addText(*view, introFrame, intro);
  return view;
}

}  // namespace

// ---- StartWizard ----

StartWizard::StartWizard(SyncWizard* coordinator) : coordinator_(coordinator) {}

std::shared_ptr<ui::View> StartWizard::loadView() {
  auto view =
      stageView("Sync your library", fnd::Rect(0, 236, kW, 46),
                "Keep the library the same on each of your computers. Choose how Kesto moves it between them:");
  auto radio = [&](double y, const std::string& title, int which) {
    auto b = std::make_shared<ui::Button>(fnd::Rect(10, y, kW - 20, 24), ui::Button::Kind::Radio);
    b->setTitle(title);
    b->setAction([this, which] { choose(which); });
    view->addSubview(b);
    return b;
  };
  skyfolderButton_ = radio(196, "Skyfolder", 0);
  addText(*view, fnd::Rect(32, 170, kW - 32, 22), "Your Skyfolder account, linked in the browser.");
  kestoButton_ = radio(136, "Kesto Online", 1);
  addText(*view, fnd::Rect(32, 110, kW - 32, 22), "An online Kesto account: your e-mail and a password.");
  iCloudButton_ = radio(76, "Synced folder", 2);
  addText(*view, fnd::Rect(32, 34, kW - 32, 40),
          "A folder your file-sync program keeps the same on every computer (a network share works too).");
  return view;
}

void StartWizard::choose(int which) {
  static const char* const methods[] = {SkyFolderDataSource::kMethod, KestoappDataSource::kMethod,
                                        ICloudDataSource::kMethod};
  usesSkyfolder_ = which == 0;
  usesKestoapp_ = which == 1;
  usesICloud_ = which == 2;
  const std::shared_ptr<ui::Button>* buttons[] = {&skyfolderButton_, &kestoButton_, &iCloudButton_};
  for (int i = 0; i < 3; ++i)
    if (*buttons[i]) (*buttons[i])->setState(i == which ? 1 : 0);
  // Only remembered here: the method in use changes when the chosen method's stage is completed,
  // so browsing the assistant and cancelling leaves a working sync as it was.
  chosen_ = methods[which];
  continueButtonTitle_ = which == 2 ? "Finish" : "Continue";
}

void StartWizard::selectSkyfolder() { choose(0); }
void StartWizard::selectKesto() { choose(1); }
void StartWizard::selectICloud() { choose(2); }

void StartWizard::setCurrentSyncMethod(const std::string& method) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(method, Synchronizer::kCurrentSyncMethodKey);
  defaults.synchronize();
}

void StartWizard::getCurrentSyncMethod() {
  const auto method = !chosen_.empty()
                          ? chosen_
                          : fnd::UserDefaults::standard().stringForKey(Synchronizer::kCurrentSyncMethodKey).value_or("");
  if (method == ICloudDataSource::kMethod) selectICloud();
  else if (method == SkyFolderDataSource::kMethod) selectSkyfolder();
  else if (method == KestoappDataSource::kMethod) selectKesto();
}

void StartWizard::willProgressToNextStage() {
  auto* window = setupWindow();
  if (!window) return;
  auto skyfolder = std::make_shared<SkyfolderWizard>(coordinator_);
  auto account = std::make_shared<KestoAccountWizard>(coordinator_);
  auto folder = std::make_shared<ICloudWizard>();
  auto finish = std::make_shared<FinishWizard>();
  auto first = std::make_shared<StartWizard>(coordinator_);
  // Going back shows the choice made, not yet stored.
  first->chosen_ = chosen_;
  // The list is rebuilt from one new first stage on every visit, so stages never pile up.
  window->setViewControllers({first});
  if (usesSkyfolder_) window->addNextViewController(skyfolder);
  else if (usesKestoapp_) window->addNextViewController(account);
  else if (usesICloud_) window->addNextViewController(folder);
  window->addFinalViewController(finish);
  getCurrentSyncMethod();
}

// ---- SkyfolderWizard ----

SkyfolderWizard::~SkyfolderWizard() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
}

std::shared_ptr<ui::View> SkyfolderWizard::loadView() {
  auto view = stageView("Skyfolder", fnd::Rect(0, 200, kW, 80),
                        "Link Kesto with your Skyfolder account. The browser opens Skyfolder's page, where you "
                        "allow Kesto to keep its sync file in its own app folder; then come back here.");
  skyfolderButton_ = ui::addPushButton(*view, fnd::Rect(120, 150, 160, 32), "Link Skyfolder");
  statusLabel_ = addText(*view, fnd::Rect(0, 70, kW, 70), "");
  if (coordinator_) coordinator_->serveSkyfolderLinkButton(skyfolderButton_);
  // Next follows the link; a failed step is told.
  fnd::NotificationCenter::defaultCenter().addObserver(
      this, [this](const fnd::Notification& n) { linkStateChanged(n); }, kSFAuthHelperOSXStateChangedNotification);
  showLinkState();
  return view;
}

std::optional<bool> SkyfolderWizard::canContinue() const { return SkyFolderDataSource::isLinked(); }

void SkyfolderWizard::showLinkState(const std::string& failure) {
  if (!statusLabel_) return;
  if (!failure.empty()) statusLabel_->setStringValue(failure);
  else if (SkyFolderDataSource::isLinked()) statusLabel_->setStringValue("Linked. Press Next to sync with Skyfolder.");
  else statusLabel_->setStringValue("Not linked yet: Next waits until Skyfolder is linked.");
}

std::string SkyfolderWizard::linkFailureMessage(const fnd::Error& error) {
  if (error.domain() == fnd::kURLErrorDomain) {
    switch (error.code()) {
      case net::urlerror::NotConnectedToInternet:
      case net::urlerror::CannotFindHost:
      case net::urlerror::DNSLookupFailed:
      case net::urlerror::CannotConnectToHost:
      case net::urlerror::NetworkConnectionLost:
      case net::urlerror::TimedOut:
        return "There is no connection to Skyfolder. Check that this computer is online, then press Link "
               "Skyfolder again.";
      case net::urlerror::Cancelled:
      case net::urlerror::SecureConnectionFailed:
      case net::urlerror::ServerCertificateHasBadDate:
      case net::urlerror::ServerCertificateUntrusted:
      case net::urlerror::ServerCertificateHasUnknownRoot:
      case net::urlerror::ServerCertificateNotYetValid:
        return "The connection to Skyfolder is not trusted: its certificate could not be verified, so Kesto sent "
               "nothing. Try again later, or on another network.";
      default:
        break;
    }
  }
  if (error.domain() == kSFSkyfolderErrorDomain && error.code() >= 400)
    return "Skyfolder refused to link (HTTP " + std::to_string(error.code()) + "). Please try again later.";
  const std::string why = error.localizedDescription();
  return "Skyfolder could not be linked" + (why.empty() ? std::string(".") : ": " + why);
}

void SkyfolderWizard::linkStateChanged(const fnd::Notification& notification) {
  std::string failure;
  if (auto it = notification.userInfo.find("error"); it != notification.userInfo.end())
    if (auto error = it->second.objectAs<fnd::Error>()) failure = linkFailureMessage(*error);
  showLinkState(failure);
  buttonStatesChanged();
  if (failure.empty()) return;
  // Told above the assistant, from the main loop: this runs inside a network callback.
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([failure] {
    AlertPresenter::alert("Link failed", failure, "OK");
  }));
}

void SkyfolderWizard::willProgressToNextStage() {
  // The stage is completed: Skyfolder becomes the way this library syncs.
  SkyFolderDataSource::setUsingSkyfolder(true);
  StartWizard::setCurrentSyncMethod(SkyFolderDataSource::kMethod);
}

void connectSkyfolderLinkButton(SkyFolderDataSource& link, const std::shared_ptr<ui::Button>& button) {
  if (!button) return link.setLinkButton(nullptr);
  button->setAction([&link] { link.didPressLinkSkyfolder(); });
  link.setLinkButton([weak = std::weak_ptr<ui::Button>(button)](const std::string& title, std::optional<int> state) {
    auto shown = weak.lock();
    if (!shown) return false;
    shown->setTitle(title);
    if (state) shown->setState(*state);
    return true;
  });
}

// ---- KestoAccountWizard ----

std::shared_ptr<ui::View> KestoAccountWizard::loadView() {
  auto view = stageView("Kesto Online");
  if (coordinator_) coordinator_->buildAccountForm(*view);
  if (coordinator_) emailField_ = coordinator_->emailField();
  return view;
}

void KestoAccountWizard::viewDidLoad() {
  auto email = fnd::UserDefaults::standard().stringForKey(syncsettings::kEmailKey);
  if (email && !email->empty() && emailField_) emailField_->setStringValue(*email);
  if (coordinator_) coordinator_->showAccountRecap();
}

void KestoAccountWizard::willProgressToNextStage() {
  // Finish completes the stage: the account (what was typed or kept) becomes the way to sync.
  if (coordinator_) coordinator_->commitAccount();
  else StartWizard::setCurrentSyncMethod(KestoappDataSource::kMethod);
}

void KestoAccountWizard::forgotPassword() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(PasswordRecovery::kOpenNotification, nullptr);
}

// ---- ICloudWizard ----

ICloudWizard::ICloudWizard() = default;

std::shared_ptr<ui::View> ICloudWizard::loadView() {
  auto view = stageView("Synced folder", fnd::Rect(0, 196, kW, 86),
                        "Choose a folder that your file-sync program or network share keeps the same on every "
                        "computer. Kesto keeps its sync file there, in Documents/kesto_sync.zip. Choose the same "
                        "folder on each computer.");
  folderLabel_ = addText(*view, fnd::Rect(0, 140, kW, 44), "");
  ui::addPushButton(*view, fnd::Rect(120, 96, 160, 32), "Choose Folder…", [this] { chooseFolder(); });
  showFolder();
  return view;
}

void ICloudWizard::showFolder() {
  if (!folderLabel_) return;
  std::optional<std::string> shown = chosenFolder_;
  if (!shown)
    if (auto folder = sys::SyncedFolder::configured()) shown = folder->root();
  folderLabel_->setStringValue(shown ? "Folder: " + *shown : "No folder chosen yet.");
}

std::optional<bool> ICloudWizard::canContinue() const {
  return chosenFolder_.has_value() || sys::SyncedFolder::configured().has_value();
}

bool ICloudWizard::setFolder(const std::string& path) {
  bool isDirectory = false;
  if (path.empty() || !fnd::FileManager::fileExists(path, &isDirectory) || !isDirectory) return false;
  // Kept when the stage is completed, so a cancelled assistant leaves the folder in use.
  chosenFolder_ = path;
  showFolder();
  buttonStatesChanged();
  return true;
}

void ICloudWizard::willProgressToNextStage() {
  if (chosenFolder_) {
    auto& defaults = fnd::UserDefaults::standard();
    defaults.setString(*chosenFolder_, sys::SyncedFolder::kDefaultsKey);
    defaults.synchronize();
  }
  StartWizard::setCurrentSyncMethod(ICloudDataSource::kMethod);
}

void ICloudWizard::chooseFolder() {
  ui::OpenPanel panel;
  panel.setTitle("Choose the Synced Folder");
  panel.setPrompt("Choose");
  panel.setCanChooseFiles(false);
  panel.setCanChooseDirectories(true);
  panel.setCanCreateDirectories(true);
  panel.setAllowsMultipleSelection(false);
  if (auto folder = sys::SyncedFolder::configured()) panel.setDirectory(folder->root());
  ui::OpenPanel shown = panel;
  panel.beginSheetModalForWindow(setupWindow(), lifetime_.whileAlive([this, shown](int code) {
    if (code != ui::ModalResponse::OK) return;
    auto paths = shown.paths();
    if (!paths.empty()) setFolder(paths.front());
  }));
}

// ---- FinishWizard ----

std::shared_ptr<ui::View> FinishWizard::loadView() {
  return stageView("All set", fnd::Rect(0, 200, kW, 80),
                   "Kesto is syncing your library now. Later, press the sync button in the toolbar whenever you "
                   "want this computer and the others to meet.");
}

void FinishWizard::didProgressToStage() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(Synchronizer::kStartSyncNotification, nullptr);
}

}  // namespace kesto
