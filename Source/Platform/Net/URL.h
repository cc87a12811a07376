#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kesto::net {

// An absolute or relative URL. Made only through fromString, so a URL that exists has parsed;
// components are kept as parsed (path, query and fragment percent-encoded, user and password
// decoded).
class URL {
 public:
  URL() = default;

  // Absent when the text is not a URL (spaces, bad escapes, an unparsable authority, empty).
  static std::optional<URL> fromString(std::string_view text);
  // Resolves `text` against `base` the way links resolve; an absolute `text` stays as it is.
  static std::optional<URL> fromString(std::string_view text, const URL& base);
  static URL fileURL(std::string_view path);

  bool isEmpty() const { return string_.empty(); }
  const std::string& absoluteString() const { return string_; }
  const std::string& scheme() const { return scheme_; }
  const std::string& host() const { return host_; }
  // -1 when the URL names no port.
  int port() const { return port_; }
  // The port, or the scheme's default (80, 443) when none is named; -1 when unknown.
  int effectivePort() const;
  const std::string& path() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  bool hasUserInfo() const { return !user_.empty() || !password_.empty(); }
  bool isFileURL() const { return scheme_ == "file"; }
  bool isHTTPS() const { return scheme_ == "https"; }
  // The last path component, decoded; "/" for the root path.
  std::string lastPathComponent() const;
  std::string pathExtension() const;
  // The path with `component` appended after a "/"; an empty component only adds the "/".
  URL appendingPathComponent(std::string_view component) const;
  // The same URL without user and password.
  URL withoutUserInfo() const;
  // For logs and descriptions: the string with any user-info replaced by "***@".
  std::string redactedString() const;
  // scheme://host:port, for same-origin checks.
  std::string origin() const;

  bool operator==(const URL& other) const { return string_ == other.string_; }
  bool operator!=(const URL& other) const { return string_ != other.string_; }

 private:
  friend struct URLAccess;
  std::string string_;
  std::string scheme_;
  std::string host_;
  int port_ = -1;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
  std::string user_;
  std::string password_;
};

}  // namespace kesto::net
