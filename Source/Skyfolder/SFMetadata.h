#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

// One file or folder of the service as an immutable record; a folder's record holds its
// children. Safe to hand between threads.
class SFMetadata final : public fnd::Object {
 public:
  // Builds the record from a dictionary of the JSON reader; missing or mistyped keys leave their
  // field empty (strings absent, numbers 0, booleans false).
  explicit SFMetadata(const fnd::Dictionary& dictionary);
  // Absent when `value` is not a dictionary.
  static std::shared_ptr<const SFMetadata> initWithDictionary(const fnd::Value& value);

  // Keyed coding: the fields under their archive keys; `filename` is worked out again.
  fnd::Dictionary encodeWithCoder() const;
  static std::shared_ptr<const SFMetadata> initWithCoder(const fnd::Dictionary& archive);

  bool thumbnailExists() const { return thumbnailExists_; }
  std::int64_t totalBytes() const { return totalBytes_; }
  const std::optional<fnd::Date>& lastModifiedDate() const { return lastModifiedDate_; }
  const std::optional<fnd::Date>& clientMtime() const { return clientMtime_; }
  const std::optional<std::string>& path() const { return path_; }
  bool isDirectory() const { return isDirectory_; }
  // Absent for a record whose object had no "contents".
  const std::optional<std::vector<std::shared_ptr<const SFMetadata>>>& contents() const { return contents_; }
  const std::optional<std::string>& hash() const { return hash_; }
  const std::optional<std::string>& humanReadableSize() const { return humanReadableSize_; }
  const std::optional<std::string>& root() const { return root_; }
  const std::optional<std::string>& icon() const { return icon_; }
  const std::optional<std::string>& rev() const { return rev_; }
  std::int64_t revision() const { return revision_; }
  bool isDeleted() const { return isDeleted_; }
  // The last path component of `path` ("/" for the root).
  const std::string& filename() const { return filename_; }

  // Records are equal when they carry the same revision; one without a revision equals only
  // itself.
  bool isEqual(const fnd::Object& other) const override;
  std::string description() const override;

  // Parses the service's "EEE, dd MMM yyyy HH:mm:ss Z" dates (English names, any user locale).
  static std::optional<fnd::Date> dateFromString(std::string_view text);

 private:
  SFMetadata() = default;
  void setPath(std::optional<std::string> path);

  bool thumbnailExists_ = false;
  std::int64_t totalBytes_ = 0;
  std::optional<fnd::Date> lastModifiedDate_;
  std::optional<fnd::Date> clientMtime_;
  std::optional<std::string> path_;
  bool isDirectory_ = false;
  std::optional<std::vector<std::shared_ptr<const SFMetadata>>> contents_;
  std::optional<std::string> hash_;
  std::optional<std::string> humanReadableSize_;
  std::optional<std::string> root_;
  std::optional<std::string> icon_;
  std::optional<std::string> rev_;
  std::int64_t revision_ = 0;
  bool isDeleted_ = false;
  std::string filename_;
};

// The user's storage use.
class SFQuota final : public fnd::Object {
 public:
  explicit SFQuota(const fnd::Dictionary& dictionary);
  SFQuota(std::int64_t normal, std::int64_t shared, std::int64_t total)
      : normal_(normal), shared_(shared), total_(total) {}

  fnd::Dictionary encodeWithCoder() const;
  static std::shared_ptr<const SFQuota> initWithCoder(const fnd::Dictionary& archive);

  std::int64_t normalConsumedBytes() const { return normal_; }
  std::int64_t sharedConsumedBytes() const { return shared_; }
  std::int64_t totalBytes() const { return total_; }
  std::int64_t totalConsumedBytes() const { return normal_ + shared_; }

 private:
  std::int64_t normal_ = 0;
  std::int64_t shared_ = 0;
  std::int64_t total_ = 0;
};

}  // namespace kesto
