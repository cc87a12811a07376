#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FoundationForward.h"

namespace kesto {

class SFAccountInfo;
class SFDeltaEntry;
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
    // The other calls of the API.
    LoadedDeltaEntries = 1ull << 17,
    LoadDeltaFailedWithError = 1ull << 18,
    LoadedAccountInfo = 1ull << 19,
    LoadAccountInfoFailedWithError = 1ull << 20,
    LoadedThumbnailMetadata = 1ull << 21,
    LoadedThumbnail = 1ull << 22,
    LoadThumbnailFailedWithError = 1ull << 23,
    UploadedFileChunk = 1ull << 24,
    UploadFileChunkFailedWithError = 1ull << 25,
    UploadFileChunkProgress = 1ull << 26,
    UploadedFileFromUploadId = 1ull << 27,
    UploadFromUploadIdFailedWithError = 1ull << 28,
    LoadedRevisions = 1ull << 29,
    LoadRevisionsFailedWithError = 1ull << 30,
    RestoredFile = 1ull << 31,
    RestoreFileFailedWithError = 1ull << 32,
    CreatedFolder = 1ull << 33,
    CreateFolderFailedWithError = 1ull << 34,
    DeletedPath = 1ull << 35,
    DeletePathFailedWithError = 1ull << 36,
    CopiedPath = 1ull << 37,
    CopyPathFailedWithError = 1ull << 38,
    CreatedCopyRefForPath = 1ull << 39,
    CreatedCopyRef = 1ull << 40,
    CreateCopyRefFailedWithError = 1ull << 41,
    CopiedRef = 1ull << 42,
    CopyFromRefFailedWithError = 1ull << 43,
    MovedPath = 1ull << 44,
    MovePathFailedWithError = 1ull << 45,
    LoadedSearchResults = 1ull << 46,
    SearchFailedWithError = 1ull << 47,
    LoadedSharableLink = 1ull << 48,
    LoadSharableLinkFailedWithError = 1ull << 49,
    LoadedStreamableURL = 1ull << 50,
    LoadStreamableURLFailedWithError = 1ull << 51,
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

  virtual void restClientLoadedDeltaEntries(SFRestClient&, const std::vector<std::shared_ptr<const SFDeltaEntry>>&,
                                            bool reset, const std::string& cursor, bool hasMore) {}
  virtual void restClientLoadDeltaFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedAccountInfo(SFRestClient&, std::shared_ptr<const SFAccountInfo>) {}
  virtual void restClientLoadAccountInfoFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedThumbnail(SFRestClient&, const std::string& destPath,
                                         std::shared_ptr<const SFMetadata> metadata) {}
  virtual void restClientLoadedThumbnail(SFRestClient&, const std::string& destPath) {}
  virtual void restClientLoadThumbnailFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientUploadedFileChunk(SFRestClient&, const std::string& uploadId, std::uint64_t newOffset,
                                           const std::string& fromPath, std::optional<fnd::Date> expires) {}
  virtual void restClientUploadFileChunkFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientUploadFileChunkProgress(SFRestClient&, double progress, const std::string& uploadId,
                                                 std::uint64_t offset, const std::string& fromPath) {}
  virtual void restClientUploadedFileFromUploadId(SFRestClient&, const std::string& destPath,
                                                  const std::string& uploadId,
                                                  std::shared_ptr<const SFMetadata> metadata) {}
  virtual void restClientUploadFromUploadIdFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedRevisions(SFRestClient&, const std::vector<std::shared_ptr<const SFMetadata>>&,
                                         const std::string& path) {}
  virtual void restClientLoadRevisionsFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientRestoredFile(SFRestClient&, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientRestoreFileFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientCreatedFolder(SFRestClient&, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientCreateFolderFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientDeletedPath(SFRestClient&, const std::string& path) {}
  virtual void restClientDeletePathFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientCopiedPath(SFRestClient&, const std::string& fromPath, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientCopyPathFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientCreatedCopyRef(SFRestClient&, const std::string& copyRef, const std::string& path) {}
  virtual void restClientCreatedCopyRef(SFRestClient&, const std::string& copyRef) {}
  virtual void restClientCreateCopyRefFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientCopiedRef(SFRestClient&, const std::string& copyRef, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientCopyFromRefFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientMovedPath(SFRestClient&, const std::string& fromPath, std::shared_ptr<const SFMetadata>) {}
  virtual void restClientMovePathFailedWithError(SFRestClient&, const fnd::Error&) {}
  // `results` is absent when the reply was not a list.
  virtual void restClientLoadedSearchResults(SFRestClient&,
                                             const std::optional<std::vector<std::shared_ptr<const SFMetadata>>>& results,
                                             const std::string& path, const std::string& keyword) {}
  virtual void restClientSearchFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedSharableLink(SFRestClient&, const std::string& link, const std::string& path) {}
  virtual void restClientLoadSharableLinkFailedWithError(SFRestClient&, const fnd::Error&) {}
  virtual void restClientLoadedStreamableURL(SFRestClient&, const std::string& url, const std::string& path) {}
  virtual void restClientLoadStreamableURLFailedWithError(SFRestClient&, const fnd::Error&) {}
};

}  // namespace kesto
