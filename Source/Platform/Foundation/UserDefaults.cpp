#include "Platform/Foundation/UserDefaults.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StandardPaths.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kesto::fnd {

struct UserDefaults::Impl {
  std::string path;
  mutable std::mutex mutex;
  std::condition_variable wake;
  Dictionary values;
  Dictionary registered;
  bool dirty = false;
  bool failed = false;  // the last write failed: the autosave waits for the next change
  std::chrono::steady_clock::time_point due;
  bool stopping = false;
  std::thread writer;
  std::mutex writeMutex;  // one file write at a time

  Dictionary load() {
    bool isDirectory = false;
    if (!FileManager::fileExists(path, &isDirectory) || isDirectory) return {};
    Error error;
    auto bytes = FileManager::contentsAtPath(path, kMaxFileBytes, &error);
    std::optional<Value> root;
    if (bytes) root = PropertyList::read(*bytes, nullptr, &error);
    if (root && root->isDictionary()) return root->dictionary();
    // Keep the unreadable file beside the new one rather than overwriting it on the next save.
    const std::string aside = path + ".unreadable";
    FileManager::renameItem(path, aside);
    logWarning("User defaults: " + path + " could not be read (" + error.localizedDescription() +
               "); starting empty, the old file is kept as " + aside);
    return {};
  }

  // Starts the background writer on the first change.
  void scheduleLocked() {
    dirty = true;
    failed = false;
    due = std::chrono::steady_clock::now() +
          std::chrono::milliseconds(static_cast<int>(UserDefaults::kAutosaveDelaySeconds * 1000));
    if (!writer.joinable()) writer = std::thread([this] { writerLoop(); });
    wake.notify_all();
  }

  void writerLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
      // After a failure, retrying at once would spin and flood the log while the disk stays full.
      if (!dirty || failed) {
        wake.wait(lock);
        continue;
      }
      if (wake.wait_until(lock, due) == std::cv_status::timeout && dirty && !stopping &&
          std::chrono::steady_clock::now() >= due) {
        lock.unlock();
        write();
        lock.lock();
      }
    }
  }

  bool write() {
    std::lock_guard<std::mutex> writing(writeMutex);
    Dictionary snapshot;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!dirty) return true;
      snapshot = values;
      dirty = false;
    }
    // A late write (the autosave, or the flush at exit) must not bring back a home folder that
    // has been removed, as test harnesses do with their temporary homes.
    const std::string home = StandardPaths::homeDirectory();
    if (!home.empty() && path.rfind(home + "/", 0) == 0 && !FileManager::fileExists(home)) return false;
    Error error;
    auto bytes = PropertyList::write(Value(std::move(snapshot)), PropertyListFormat::Xml, &error);
    const std::string folder = FileManager::deletingLastPathComponent(path);
    bool ok = bytes && FileManager::createDirectory(folder, true, 0700, &error) &&
              FileManager::writeFile(path, *bytes, true, 0600, &error);
    if (!ok) {
      logError("User defaults: could not write " + path + ": " + error.localizedDescription());
      std::lock_guard<std::mutex> lock(mutex);
      dirty = true;  // try again on the next synchronize or change
      failed = true;
    }
    return ok;
  }
};

UserDefaults& UserDefaults::standard() {
  static UserDefaults instance(standardFilePath());
  return instance;
}

std::string UserDefaults::standardFilePath() {
  std::string folder = StandardPaths::applicationConfigDirectory();
  if (folder.empty())
    folder = StandardPaths::appendingPathComponent(StandardPaths::configDirectory(), StandardPaths::applicationName());
  return StandardPaths::appendingPathComponent(folder, "defaults.plist");
}

UserDefaults::UserDefaults(std::string filePath) : d_(std::make_unique<Impl>()) {
  d_->path = std::move(filePath);
  d_->values = d_->load();
}

UserDefaults::~UserDefaults() {
  {
    std::lock_guard<std::mutex> lock(d_->mutex);
    d_->stopping = true;
  }
  d_->wake.notify_all();
  if (d_->writer.joinable()) d_->writer.join();
  d_->write();
}

const std::string& UserDefaults::filePath() const { return d_->path; }

void UserDefaults::reopen(std::string filePath) {
  std::lock_guard<std::mutex> writing(d_->writeMutex);
  std::lock_guard<std::mutex> lock(d_->mutex);
  d_->path = std::move(filePath);
  d_->values = d_->load();
  d_->registered.clear();
  d_->dirty = false;
  d_->failed = false;
}

Value UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard<std::mutex> lock(d_->mutex);
  if (auto it = d_->values.find(key); it != d_->values.end()) return it->second;
  if (auto it = d_->registered.find(key); it != d_->registered.end()) return it->second;
  return {};
}

bool UserDefaults::boolForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (v.isString()) {
    const std::string& s = v.string();
    if (s == "YES" || s == "yes" || s == "Yes" || s == "true" || s == "TRUE" || s == "True") return true;
    return v.intValue() != 0;
  }
  return v.isNumber() && v.boolValue();
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  return (v.isNumber() || v.isString()) ? v.intValue() : 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  return (v.isNumber() || v.isString()) ? v.doubleValue() : 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (v.isString()) return v.string();
  if (v.isBoolean()) return std::string(v.boolValue() ? "1" : "0");
  if (v.isInteger()) return std::to_string(v.intValue());
  if (v.isReal()) return shortestNumberText(v.doubleValue());
  return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (!v.isArray()) return std::nullopt;
  return v.array();
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (!v.isArray()) return std::nullopt;
  std::vector<std::string> out;
  for (const Value& e : v.array()) {
    if (!e.isString()) return std::nullopt;
    out.push_back(e.string());
  }
  return out;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (!v.isDictionary()) return std::nullopt;
  return v.dictionary();
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
  const Value v = objectForKey(key);
  if (!v.isData()) return std::nullopt;
  return v.data();
}

void UserDefaults::setObject(const Value& value, std::string_view key) {
  if (value.isNull()) {
    removeObject(key);
    return;
  }
  if (!PropertyList::isValid(Value(Array{value})) || key.empty()) {
    logError("User defaults: refused a value for key \"" + std::string(key) + "\" that a settings file cannot hold");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(d_->mutex);
    auto it = d_->values.find(key);
    if (it != d_->values.end() && it->second == value && it->second.type() == value.type()) return;
    d_->values[std::string(key)] = value;
    d_->scheduleLocked();
  }
  NotificationCenter::defaultCenter().postNotificationName(kUserDefaultsDidChangeNotification, this,
                                                         {{kUserDefaultsChangedKey, Value(key)}});
}

void UserDefaults::removeObject(std::string_view key) {
  {
    std::lock_guard<std::mutex> lock(d_->mutex);
    auto it = d_->values.find(key);
    if (it == d_->values.end()) return;
    d_->values.erase(it);
    d_->scheduleLocked();
  }
  NotificationCenter::defaultCenter().postNotificationName(kUserDefaultsDidChangeNotification, this,
                                                         {{kUserDefaultsChangedKey, Value(key)}});
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard<std::mutex> lock(d_->mutex);
  for (const auto& [k, v] : defaults) d_->registered[k] = v;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(d_->mutex);
  Dictionary out = d_->registered;
  for (const auto& [k, v] : d_->values) out[k] = v;
  return out;
}

Dictionary UserDefaults::persistentValues() const {
  std::lock_guard<std::mutex> lock(d_->mutex);
  return d_->values;
}

bool UserDefaults::synchronize() { return d_->write(); }

void UserDefaults::reloadFromDisk() {
  std::lock_guard<std::mutex> writing(d_->writeMutex);
  Dictionary fresh = d_->load();
  std::lock_guard<std::mutex> lock(d_->mutex);
  d_->values = std::move(fresh);
  d_->dirty = false;
}

}  // namespace kesto::fnd
