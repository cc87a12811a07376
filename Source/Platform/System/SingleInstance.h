#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::sys {

// Keeps one running instance per user session, and one writer per library. The first instance
// takes an exclusive lock on a file beside the library (held while the object lives) and
// listens on a local socket; a later launch hands its arguments to it over that socket and
// exits. Arguments reach the handler on the main thread, queued after the socket's read
// handler has returned; the launch is answered only once the handler says whether what they
// carried is kept, so a launch never ends in success with its addresses unsaved. Messages are bounded (1 MiB); a stale socket left by a crashed
// instance is replaced, never one whose owner still holds the lock.
class SingleInstance {
 public:
  // Primary: this process listens (and holds the lock when one is named). HandedOver: a running
  // instance took the arguments. Failed: an instance that holds no lock of ours did not take the
  // message in time (its socket is left alone), or listening failed; the caller decides whether
  // to carry on alone. Unreachable: another process holds the library's lock but nothing
  // answers on the socket: this one must not open the library. NotKept: the running instance
  // took the arguments but could not keep what they carried (its save failed).
  enum class Outcome { Primary, HandedOver, Failed, Unreachable, NotKept };

  // `serverName` names the socket: a plain name lives in the user's runtime folder, an
  // absolute path is used as it stands (tests). Empty: "kesto" for this user, in the runtime
  // folder, or, where that path is too long for a socket (over 106 bytes), in a short folder only
  // this user owns and enters (see setShortFolderParent); one that someone else owns, that others
  // may enter, or that is a link is refused, and start() says why and answers Failed (Unreachable
  // while another process holds the lock). `lockPath` names the library's lock file (made, with
  // its folder, when missing); empty: no lock.
  explicit SingleInstance(std::string serverName = {}, std::string lockPath = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Hands `arguments` to a running instance (HandedOver) or, when no instance accepts
  // connections, starts listening (Primary), replacing a socket left by a crash. While another
  // process holds the lock, the arguments go to it and the answer is waited for as long as that
  // process lives, however busy (or stopped) it is; when nobody listens for
  // unreachableTimeout seconds, Unreachable. `timeoutSeconds` bounds each connection attempt
  // and, without a lock owner, the wait for the answer.
  Outcome start(const std::vector<std::string>& arguments, double timeoutSeconds = 2.0);
  // After start() answered Primary: whether this launch's arguments went whole to an instance
  // that ended before it answered, and may be kept in the library already.
  bool mayHaveHandedOver() const;
  bool isListening() const;
  bool holdsLock() const;
  const std::string& serverName() const;

  // A connection whose message is not complete within this long is dropped: counted from its
  // first byte, or from the connection when it sends nothing (10 s; shorter in tests).
  static constexpr double kDefaultIdleTimeout = 10.0;
  void setIdleTimeout(double seconds);
  // At most this many connections are read at once; more are dropped at once. Drops are logged
  // once per burst, with their count.
  static constexpr int kDefaultMaximumOpenConnections = 64;
  void setMaximumOpenConnections(int count);
  // How long a launch waits for the lock's owner to listen before it gives up (10 s).
  static constexpr double kDefaultUnreachableTimeout = 10.0;
  void setUnreachableTimeout(double seconds);
  // Where the short folders stand, each <parent>/kesto-<user id> ("/tmp"; tests name their own).
  // Takes effect for instances made after.
  static void setShortFolderParent(std::string parent);

  // Answers a later launch: true once what it handed over is kept, false when it could not be.
  // Called once, on the main thread; later calls, and calls after the launch went, do nothing.
  using Reply = std::function<void(bool kept)>;
  // Called on the main thread with the arguments of each later launch; the launch waits for the
  // reply, which the handler may give later (after a save, say).
  void setArgumentsHandler(std::function<void(const std::vector<std::string>&, Reply)> handler);
  // As above, the launch answered as kept once the handler has returned.
  void setArgumentsHandler(std::function<void(const std::vector<std::string>&)> handler);

  // Sends to a running instance only; false when none accepted the message.
  static bool sendToRunningInstance(const std::string& serverName, const std::vector<std::string>& arguments,
                                    double timeoutSeconds = 2.0);
  // The process id written into a lock file by its holder, 0 when none can be read.
  static long lockOwner(const std::string& lockPath);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::sys
