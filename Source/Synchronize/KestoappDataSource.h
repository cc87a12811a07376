#pragma once

#include "Synchronize/ServiceRequest.h"
#include "Synchronize/SyncDataSource.h"
#include "Platform/Foundation/Lifetime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// The sync transport over the maker's online account service, and the client side of that
// service's five requests (load the payload, upload it, register, ask for a reset key, reset the
// password). Every reply is an XML document read by looking for its elements' texts.
//
// The load goes through the HTTP client's request-operation manager (ServiceRequest); the
// upload, the payload's download and the three account forms through the URL loading below it.
// Requests run on the networking thread and answer on the main thread; nothing waits for the
// network on the main thread. The service is reached at https (loopback hosts excepted, for a
// local stand-in); its base URL is the user default "KestoappBaseURL" when set.
class KestoappDataSource final : public SyncDataSource {
 public:
  static constexpr const char* kMethod = "kestoapp";
  static constexpr const char* kLabel = "[kestoapp.com]";
  static constexpr const char* kBaseURLKey = "KestoappBaseURL";
  static constexpr const char* kDefaultBaseURL = "https://sync.kestoapp.com";
  static constexpr const char* kSyncPath = "/sync.xml";
  static constexpr const char* kRegisterPath = "/register.xml";
  static constexpr const char* kForgotPasswordPath = "/forgot_password.xml";
  static constexpr const char* kResetPasswordPath = "/reset_password.xml";
  static constexpr const char* kBoundary = "K3st0bOuNdArY";
  static constexpr double kUploadTimeout = 30.0;
  // Replies above this are refused (a payload is capped by the payload archive's own limit).
  static constexpr std::size_t kMaxReplyBytes = 1u << 20;
  // The load's reply: capped, with an idle time-out and a limit on the whole exchange.
  static constexpr ServiceRequest::Limits kLoadLimits{kMaxReplyBytes, 60.0, 120.0};

  KestoappDataSource();
  ~KestoappDataSource() override;
  void load() override;
  void send(const std::string& xml) override;
  // The service keeps one payload: an unreadable one is kept here, in the application's folder.
  void setAsideUnreadable(std::function<void(bool kept, std::string where)> completion) override;

  static std::string baseURL();
  // Form bodies, each value percent-encoded for a form ("+", "=", "&", "?" included).
  static std::string registerBody(const std::string& email, const std::string& password);
  static std::string forgotPasswordBody(const std::string& email);
  static std::string resetPasswordBody(const std::string& email, const std::string& key, const std::string& newPassword);
  static std::vector<std::uint8_t> uploadBody(const std::string& email, const std::string& password,
                                              const std::string& kestoID, const std::vector<std::uint8_t>& archive);
  // How replies read.
  static bool registrationSucceeded(const std::string& reply);
  static bool userFound(const std::string& reply);
  // Whether a load reply is the service refusing the login: a readable document without the
  // password element that names an error. Other replies without the password cannot be read.
  static bool isRefusal(const std::string& reply);

  // Posts a form to base URL + path. `completion` runs on the main thread with the HTTP status,
  // the body, and whether the request failed (no connection, time-out, refused address).
  using Completion = std::function<void(int status, const std::string& body, bool failed)>;
  static void postForm(const std::string& path, const std::string& body, Completion completion);

 private:
  void handleSyncLoadResponse(const std::string& reply);
  void fail(const std::string& message);

  std::string email_, password_, kestoID_;
  // The run folder holding a download that could not be read, until it is set aside.
  std::string unreadableFolder_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
