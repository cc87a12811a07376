#include "Platform/Net/URL.h"

#include <QUrl>

namespace kesto::net {

struct URLAccess {
  static std::optional<URL> fromQUrl(const QUrl& q, std::string original) {
    if (!q.isValid() || q.isEmpty()) return std::nullopt;
    URL u;
    u.string_ = std::move(original);
    u.scheme_ = q.scheme().toLower().toStdString();
    u.host_ = q.host(QUrl::FullyDecoded).toStdString();
    u.port_ = q.port(-1);
    u.path_ = q.path(QUrl::FullyEncoded).toStdString();
    if (q.hasQuery()) u.query_ = q.query(QUrl::FullyEncoded).toStdString();
    if (q.hasFragment()) u.fragment_ = q.fragment(QUrl::FullyEncoded).toStdString();
    u.user_ = q.userName(QUrl::FullyDecoded).toStdString();
    u.password_ = q.password(QUrl::FullyDecoded).toStdString();
    return u;
  }
};

namespace {

bool plausible(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    // Raw spaces, controls and a few delimiters make the text no URL, as callers expect.
    if (c <= 0x20 || c == 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
        c == '{' || c == '|' || c == '}')
      return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        return false;
    }
  }
  return true;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view text) {
  if (!plausible(text)) return std::nullopt;
  QUrl q(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
  if (!q.isValid()) return std::nullopt;
  return URLAccess::fromQUrl(q, std::string(text));
}

std::optional<URL> URL::fromString(std::string_view text, const URL& base) {
  if (base.isEmpty()) return fromString(text);
  if (text.empty()) return base;
  if (!plausible(text)) return std::nullopt;
  QUrl rel(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
  if (!rel.isValid()) return std::nullopt;
  if (!rel.scheme().isEmpty()) return URLAccess::fromQUrl(rel, std::string(text));
  QUrl b(QString::fromStdString(base.absoluteString()), QUrl::StrictMode);
  QUrl r = b.resolved(rel);
  return URLAccess::fromQUrl(r, r.toString(QUrl::FullyEncoded).toStdString());
}

URL URL::fileURL(std::string_view path) {
  QUrl q = QUrl::fromLocalFile(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
  return *URLAccess::fromQUrl(q, q.toString(QUrl::FullyEncoded).toStdString());
}

int URL::effectivePort() const {
  if (port_ >= 0) return port_;
  if (scheme_ == "https") return 443;
  if (scheme_ == "http") return 80;
  return -1;
}

std::string URL::lastPathComponent() const {
  QString p = QUrl::fromPercentEncoding(QByteArray::fromStdString(path_));
  if (p.isEmpty()) return {};
  while (p.size() > 1 && p.endsWith('/')) p.chop(1);
  if (p == "/") return "/";
  return p.mid(p.lastIndexOf('/') + 1).toStdString();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return last.substr(dot + 1);
}

URL URL::appendingPathComponent(std::string_view component) const {
  QUrl q(QString::fromStdString(string_), QUrl::StrictMode);
  QString path = q.path(QUrl::FullyEncoded);
  if (!path.endsWith('/')) path += '/';
  path += QString::fromUtf8(QUrl::toPercentEncoding(QString::fromUtf8(component.data(), static_cast<qsizetype>(component.size())), "/"));
  q.setPath(path, QUrl::StrictMode);
  return *URLAccess::fromQUrl(q, q.toString(QUrl::FullyEncoded).toStdString());
}

URL URL::withoutUserInfo() const {
  if (!hasUserInfo()) return *this;
  QUrl q(QString::fromStdString(string_), QUrl::StrictMode);
  q.setUserInfo(QString());
  return *URLAccess::fromQUrl(q, q.toString(QUrl::FullyEncoded).toStdString());
}

std::string URL::redactedString() const {
  if (!hasUserInfo()) return string_;
  auto schemeEnd = string_.find("://");
  if (schemeEnd == std::string::npos) return withoutUserInfo().string_;
  auto authStart = schemeEnd + 3;
  auto authEnd = string_.find_first_of("/?#", authStart);
  auto at = string_.rfind('@', authEnd == std::string::npos ? std::string::npos : authEnd);
  if (at == std::string::npos || at < authStart) return withoutUserInfo().string_;
  return string_.substr(0, authStart) + "***@" + string_.substr(at + 1);
}

std::string URL::origin() const {
  return scheme_ + "://" + host_ + ":" + std::to_string(effectivePort());
}

}  // namespace kesto::net
