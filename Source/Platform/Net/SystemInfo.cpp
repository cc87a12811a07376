#include "Platform/Net/SystemInfo.h"

#include "Platform/Foundation/Base64.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMimeDatabase>
#include <QSysInfo>

#include <fstream>
#include <unistd.h>

namespace kesto::net {

std::vector<std::string> preferredLanguages() {
  std::vector<std::string> out;
  for (const QString& l : QLocale().uiLanguages()) {
    std::string s = l.toStdString();
    if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(std::move(s));
  }
  return out;
}

std::string operatingSystemVersionString() {
  return "Linux " + QSysInfo::prettyProductName().toStdString();
}

std::string applicationExecutableName() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "kesto";
  std::string path(buf, static_cast<std::size_t>(n));
  return path.substr(path.rfind('/') + 1);
}

std::string applicationVersion() {
  QString v = QCoreApplication::applicationVersion();
  return v.isEmpty() ? "1.0" : v.toStdString();
}

std::string mimeTypeForPathExtension(std::string_view extension) {
  if (extension.empty()) return "application/octet-stream";
  static QMimeDatabase db;
  QString name = "file." + QString::fromUtf8(extension.data(), static_cast<qsizetype>(extension.size()));
  QList<QMimeType> types = db.mimeTypesForFileName(name);
  if (types.isEmpty()) return "application/octet-stream";
  return types.first().name().toStdString();
}

std::string base64Encode(const fnd::Data& data) { return fnd::base64::encode(data); }

}  // namespace kesto::net
