#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

namespace fnd {
class Error;
}
class SFMetadata;
class SFRestClient;

// Completion operations of the client's calls, all optional: a delegate lists the ones it
// implements in implementedOperations(), which the client reads when the delegate is set; a
// result for an operation that is not listed is dropped.
class SFRestClientDelegate {
 public:
  enum Operation : std::uint64_t {
    LoadedMetadata = 1u << 0,
    MetadataUnchangedAtPath = 1u << 1,
    LoadMetadataFailedWithError = 1u << 2,
    LoadedFile = 1u << 3,
    LoadedFileContentTypeMetadata = 1u << 4,
    LoadedFileContentType = 1u << 5,
    LoadedFileContentTypeETag = 1u << 6,
    LoadProgressForFile = 1u << 7,
    LoadFileFailedWithError = 1u << 8,
    UploadedFileFromMetadata = 1u << 9,
    UploadedFileFrom = 1u << 10,
    UploadProgressForFileFrom = 1u << 11,
    UploadFileFailedWithError = 1u << 12,
    // The link flow's token calls.
    LoadedRequestToken = 1u << 13,
    LoadRequestTokenFailedWithError = 1u << 14,
    LoadedAccessToken = 1u << 15,
    LoadAccessTokenFailedWithError = 1u << 16,
  };

  virtual ~SFRestClientDelegate() = default;
  virtual std::uint64_t implementedOperations() const = 0;

  virtual void restClientLoadedMetadata(SFRestClient&, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientMetadataUnchangedAtPath(SFRestClient&, const std::string& path) {}
  virtual void restClientLoadMetadataFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedFile(SFRestClient&, const std::string& destPath) {}
  virtual void restClientLoadedFile(SFRestClient&, const std::string& destPath, const std::string& contentType,
                                    std::shared_ptr<const SFMetadata> metadata) {}
  virtual void restClientLoadedFile(SFRestClient&, const std::string& destPath, const std::string& contentType) {}
  virtual void restClientLoadedFileETag(SFRestClient&, const std::string& destPath, const std::string& contentType,
                                        const std::string& eTag) {}
  virtual void restClientLoadProgress(SFRestClient&, double progress, const std::string& destPath) {}
  virtual void restClientLoadFileFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientUploadedFile(SFRestClient&, const std::string& destPath, const std::string& srcPath,
                                      std::shared_ptr<const SFMetadata> metadata) {}
  virtual void restClientUploadedFile(SFRestClient&, const std::string& destPath, const std::string& srcPath) {}
  virtual void restClientUploadProgress(SFRestClient&, double progress, const std::string& destPath,
                                        const std::string& srcPath) {}
  virtual void restClientUploadFileFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedRequestToken(SFRestClient&) {}
  virtual void restClientLoadRequestTokenFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedAccessToken(SFRestClient&) {}
  virtual void restClientLoadAccessTokenFailedWithError(SFRestClient&, const fnd::Error&) {}
};

}  // namespace kesto
