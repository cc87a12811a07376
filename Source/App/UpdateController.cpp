#include "App/UpdateController.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Net/URL.h"
#include "Platform/Net/URLError.h"
#include "Platform/Net/URLRequest.h"
#include "Platform/Net/URLResponse.h"
#include "Platform/Net/URLSession.h"
#include "Platform/System/Workspace.h"
#include "Views/KestoPanel.h"
#include "Platform/UI/Attention.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/Screen.h"
#include "Support/AlertPresenter.h"

#include <cctype>
#include <climits>
#include <vector>

namespace kesto {

// One check in flight. The controller drops it when the outcome is known; callbacks that come
// later find it gone or finished.
struct UpdateController::Check {
  std::shared_ptr<net::URLSession> session;
  std::shared_ptr<net::URLSessionTask> task;
  bool done = false;
};

std::string UpdateController::failureMessage(Failure cause, int status) {
  std::string why;
  switch (cause) {
    case Failure::NoConnection: why = "Could not connect to the update server."; break;
    case Failure::TimedOut: why = "The update server did not answer in time."; break;
    case Failure::Untrusted: why = "The update server's certificate is not trusted."; break;
    case Failure::ErrorStatus:
      why = "The update server answered with an error (HTTP " + std::to_string(status) + ").";
      break;
    case Failure::Unreadable: why = "The update server's reply could not be read."; break;
    case Failure::BadAddress: why = "The update server's address is not valid."; break;
  }
  return "Update check failed. " + why + " If problem persists drop me a line (" + kSupportAddress + ")";
}

namespace {

// What a failed load says to the user.
UpdateController::Failure causeOf(const fnd::Error& error) {
  using Failure = UpdateController::Failure;
  if (net::isServerTrustFailure(error)) return Failure::Untrusted;
  if (error.domain() != fnd::kURLErrorDomain) return Failure::Unreadable;
  switch (error.code()) {
    case net::urlerror::TimedOut: return Failure::TimedOut;
    case net::urlerror::DataLengthExceedsMaximum:
    case net::urlerror::CannotDecodeContentData:
    case net::urlerror::CannotDecodeRawData:
    case net::urlerror::CannotParseResponse:
    case net::urlerror::BadServerResponse: return Failure::Unreadable;
    case net::urlerror::BadURL:
    case net::urlerror::UnsupportedURL: return Failure::BadAddress;
    default: return Failure::NoConnection;
  }
}

}  // namespace

std::string UpdateController::updateURL() {
  auto stored = fnd::UserDefaults::standard().stringForKey(kUpdateURLDefaultsKey);
  return stored && !stored->empty() ? *stored : std::string(kDefaultUpdateURL);
}

int UpdateController::leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    // Saturates as a 32-bit reading would, instead of overflowing.
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return int(negative ? -value : value);
}

int UpdateController::versionNumber(std::string_view version) {
  std::string digits;
  for (char c : version)
    if (c != '.') digits += c;
  if (digits.size() < 3) digits += '0';
  return leadingNumber(digits);
}

namespace {

// Whether a field is a whole number and nothing else (spaces and line ends aside): "abc" is not
// version 0, and "9.9.9" is not version 9, a dotted version being no part of the format.
bool isWholeNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
  const std::size_t digits = i;
  while (i < field.size() && std::isdigit(static_cast<unsigned char>(field[i]))) ++i;
  if (i == digits) return false;
  while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
  return i == field.size();
}

}  // namespace

UpdateController::Result UpdateController::evaluate(std::string_view text, int localVersion, int systemCode) {
  // A host error page, an empty reply or one that is not "version#system" cannot say that this
  // version is current.
  if (text.empty() || text.find("Error") != std::string_view::npos) return Result::Failed;
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t hash = text.find('#', start);
    fields.push_back(text.substr(start, hash == std::string_view::npos ? std::string_view::npos : hash - start));
    if (hash == std::string_view::npos) break;
    start = hash + 1;
  }
  if (fields.size() < 2 || !isWholeNumber(fields[0]) || !isWholeNumber(fields[1])) return Result::Failed;
  int remote = leadingNumber(fields[0]), required = leadingNumber(fields[1]);
  return remote > localVersion && systemCode >= required ? Result::UpdateAvailable : Result::UpToDate;
}

UpdateController::UpdateController(std::string localVersion) : localVersion_(std::move(localVersion)) {
  scheduleDeadline = [](double seconds, std::function<void()> work) {
    fnd::DispatchQueue::main().after(seconds, std::move(work));
  };
}

UpdateController::~UpdateController() {
  if (running_) {
    running_->done = true;
    running_->session->invalidateAndCancel();
  }
  if (panel_) panel_->orderOut();
}

void UpdateController::checkForUpdates() {
  if (running_) return;
  auto url = net::URL::fromString(updateURL());
  if (!url) {
    finish(Result::Failed, Failure::BadAddress);
    return;
  }
  auto check = std::make_shared<Check>();
  running_ = check;
  // With the time, the log says how long the check took to its answer.
  fnd::logInfo("Update check started");
  net::URLSessionConfiguration configuration;
  configuration.timeoutIntervalForRequest = timeoutSeconds;
  configuration.maximumBodySize = maximumBytes;
  check->session = net::URLSession::make(configuration, nullptr, [](std::function<void()> work) {
    fnd::DispatchQueue::main().async(std::move(work));
  });
  net::URLRequest request;
  request.setURL(*url);
  request.setTimeoutInterval(timeoutSeconds);
  std::weak_ptr<Check> weak = check;
  const int local = versionNumber(localVersion_);
  check->task = check->session->dataTask(
      request, [this, weak, local](const fnd::Data* data, std::shared_ptr<const net::URLResponse> response,
                                   const fnd::Error* error) {
        auto c = weak.lock();
        if (!c || c->done) return;
        auto http = std::dynamic_pointer_cast<const net::HTTPURLResponse>(response);
        if (error) {
          fnd::logWarning("Update check failed: " + error->localizedDescription());
          return finish(Result::Failed, causeOf(*error));
        }
        if (http && (http->statusCode() < 200 || http->statusCode() > 299)) {
          fnd::logWarning("Update check failed: HTTP status " + std::to_string(http->statusCode()));
          return finish(Result::Failed, Failure::ErrorStatus, http->statusCode());
        }
        const Result result =
            data ? evaluate(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), local,
                            systemCode())
                 : Result::Failed;
        finish(result, Failure::Unreadable);
      });
  check->task->resume();
  // The request's time-out counts only silence; this deadline ends the whole check at the time
  // the user is told, a reply that trickles in included.
  auto deadline = [this, weak] {
    auto c = weak.lock();
    if (!c || c->done) return;
    fnd::logWarning("Update check timed out");
    finish(Result::Failed, Failure::TimedOut);
  };
  // Through the seam, the program's own timer as much as a test's: the time handed on is the one
  // a test reads.
  if (scheduleDeadline) scheduleDeadline(timeoutSeconds, std::move(deadline));
}

void UpdateController::finish(Result result, Failure cause, int status) {
  if (running_) {
    running_->done = true;
    running_->session->invalidateAndCancel();
    running_.reset();
  }
  lastResult_ = result;
  switch (result) {
    case Result::UpdateAvailable: showUpdatesPanel(); break;
    case Result::UpToDate: AlertPresenter::inform(kAlertTitle, kUpToDateMessage, "OK"); break;
    case Result::Failed: AlertPresenter::alert(kAlertTitle, failureMessage(cause, status), "OK"); break;
  }
}

void UpdateController::showUpdatesPanel() {
  if (!panel_) {
    const double width = 460, height = 150;
    // The application's own panel, kept centred over the library window.
    auto panel = std::make_unique<KestoPanel>(fnd::Rect(0, 0, width, height),
                                              ui::WindowStyle::Titled | ui::WindowStyle::Closable);
    panel->setShouldBeCentered(true);
    panel_ = std::move(panel);
    panel_->setTitle(kAlertTitle);
    auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, width, height));
    panel_->setContentView(content);
    auto title = std::make_shared<ui::Label>(fnd::Rect(20, height - 44, width - 40, 24),
                                             "A new version of Kesto is available.");
    ui::Font bold;
    bold.bold = true;
    bold.pointSize = 13;
    title->setFont(bold);
    content->addSubview(title);
    auto text = std::make_shared<ui::Label>(fnd::Rect(20, height - 90, width - 40, 40),
                                            "Download it from the Kesto website.");
    text->setWraps(true);
    content->addSubview(text);
    ui::addPushButton(*content, fnd::Rect(width - 250, 14, 100, 30), "Later", [this] { closeUpdatePanel(); });
    ui::addPushButton(*content, fnd::Rect(width - 140, 14, 120, 30), "Visit Website", [this] {
      gotoKestoappSite();
      closeUpdatePanel();
    });
  }
  // Centred on the main window when there is one, else on the screen.
  fnd::Rect f = panel_->frame();
  fnd::Rect around = mainWindow ? mainWindow->frame()
                                : (ui::Screen::main().isValid() ? ui::Screen::main().visibleFrame() : fnd::Rect());
  if (!around.isEmpty())
    panel_->setFrame(fnd::Rect(around.midX() - f.size.width / 2, around.midY() - f.size.height / 2, f.size.width,
                               f.size.height),
                     false);
  // The answer comes a while after the command: the user may be in another program by then.
  ui::makeKeyAndOrderFrontOrAskForAttention(*panel_);
}

void UpdateController::closeUpdatePanel() {
  if (panel_) panel_->orderOut();
}

void UpdateController::gotoKestoappSite() { sys::Workspace::openURL(kSiteURL); }

}  // namespace kesto
