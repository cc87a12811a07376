#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::sys {

// Keeps one running instance per user session. The first instance listens on a local socket;
// a later launch hands its arguments to it over that socket and exits. Arguments arrive on the
// main thread through the handler. Messages are bounded (1 MiB); a stale socket left by a
// crashed instance is replaced.
class SingleInstance {
 public:
  enum class Outcome { Primary, HandedOver, Failed };

  // `serverName` names the socket: a plain name lives in the user's runtime folder, an
  // absolute path is used as it stands (tests). Empty: "kesto" for this user.
  explicit SingleInstance(std::string serverName = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Hands `arguments` to a running instance (HandedOver) or, when no instance accepts
  // connections, starts listening (Primary), replacing a socket left by a crash. Failed: an
  // instance is there but did not take the message in time (its socket is left alone), or
  // listening failed; the caller decides whether to carry on alone.
  Outcome start(const std::vector<std::string>& arguments, double timeoutSeconds = 2.0);
  bool isListening() const;
  const std::string& serverName() const;

  // A connection that sends nothing for this long is dropped, so idle clients cannot hold
  // sockets open (10 s; shorter in tests).
  static constexpr double kDefaultIdleTimeout = 10.0;
  void setIdleTimeout(double seconds);

  // Called on the main thread with the arguments of each later launch.
  void setArgumentsHandler(std::function<void(const std::vector<std::string>&)> handler);

  // Sends to a running instance only; false when none accepted the message.
  static bool sendToRunningInstance(const std::string& serverName, const std::vector<std::string>& arguments,
                                    double timeoutSeconds = 2.0);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::sys
