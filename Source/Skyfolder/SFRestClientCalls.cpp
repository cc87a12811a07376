// The calls of the API beyond metadata, download, upload and the token exchange.
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Strings.h"
#include "Skyfolder/SFAccountInfo.h"
#include "Skyfolder/SFConfig.h"
#include "Skyfolder/SFDeltaEntry.h"
#include "Skyfolder/SFJSON.h"
#include "Skyfolder/SFLog.h"
#include "Skyfolder/SFMetadata.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRestClient.h"

#include <fcntl.h>
#include <unistd.h>

namespace kesto {

namespace {

using Op = SFRestClientDelegate::Operation;
constexpr std::size_t kChunkSize = 2u << 20;

std::string contentURL(const std::string& path) { return "https://" + SFConfig::contentHost() + "/1" + path; }

std::vector<std::shared_ptr<const SFMetadata>> metadataList(const fnd::Array& array) {
  std::vector<std::shared_ptr<const SFMetadata>> out;
  for (const auto& element : array)
    if (auto m = SFMetadata::initWithDictionary(element)) out.push_back(std::move(m));
  return out;
}

std::string stringIn(const fnd::Dictionary& d, const char* key) {
  const auto it = d.find(key);
  return it == d.end() ? std::string() : it->second.stringIfString().value_or("");
}

}  // namespace

void SFRestClient::deliverFailure(Op op, const fnd::Error& e) {
  if (!implements(op)) return;
  auto& d = *delegate_;
  switch (op) {
    case Op::LoadMetadataFailedWithError: d.restClientLoadMetadataFailedWithError(*this, e); break;
    case Op::LoadFileFailedWithError: d.restClientLoadFileFailedWithError(*this, e); break;
    case Op::UploadFileFailedWithError: d.restClientUploadFileFailedWithError(*this, e); break;
    case Op::LoadRequestTokenFailedWithError: d.restClientLoadRequestTokenFailedWithError(*this, e); break;
    case Op::LoadAccessTokenFailedWithError: d.restClientLoadAccessTokenFailedWithError(*this, e); break;
    case Op::LoadDeltaFailedWithError: d.restClientLoadDeltaFailedWithError(*this, e); break;
    case Op::LoadAccountInfoFailedWithError: d.restClientLoadAccountInfoFailedWithError(*this, e); break;
    case Op::LoadThumbnailFailedWithError: d.restClientLoadThumbnailFailedWithError(*this, e); break;
    case Op::UploadFileChunkFailedWithError: d.restClientUploadFileChunkFailedWithError(*this, e); break;
    case Op::UploadFromUploadIdFailedWithError: d.restClientUploadFromUploadIdFailedWithError(*this, e); break;
    case Op::LoadRevisionsFailedWithError: d.restClientLoadRevisionsFailedWithError(*this, e); break;
    case Op::RestoreFileFailedWithError: d.restClientRestoreFileFailedWithError(*this, e); break;
    case Op::CreateFolderFailedWithError: d.restClientCreateFolderFailedWithError(*this, e); break;
    case Op::DeletePathFailedWithError: d.restClientDeletePathFailedWithError(*this, e); break;
    case Op::CopyPathFailedWithError: d.restClientCopyPathFailedWithError(*this, e); break;
    case Op::CreateCopyRefFailedWithError: d.restClientCreateCopyRefFailedWithError(*this, e); break;
    case Op::CopyFromRefFailedWithError: d.restClientCopyFromRefFailedWithError(*this, e); break;
    case Op::MovePathFailedWithError: d.restClientMovePathFailedWithError(*this, e); break;
    case Op::SearchFailedWithError: d.restClientSearchFailedWithError(*this, e); break;
    case Op::LoadSharableLinkFailedWithError: d.restClientLoadSharableLinkFailedWithError(*this, e); break;
    case Op::LoadStreamableURLFailedWithError: d.restClientLoadStreamableURLFailedWithError(*this, e); break;
    default: break;
  }
}

// ---- metadata variants

void SFRestClient::loadMetadataWithHash(const std::string& path, const std::optional<std::string>& hash) {
  if (!hash) return loadMetadata(path);
  startMetadataLoad(path, {{"hash", fnd::Value(*hash)}});
}

void SFRestClient::loadMetadataAtRev(const std::string& path, const std::optional<std::string>& rev) {
  if (!rev) return loadMetadata(path);
  startMetadataLoad(path, {{"rev", fnd::Value(*rev)}});
}

// ---- delta

void SFRestClient::loadDelta(const std::optional<std::string>& cursor) {
  fnd::Dictionary params;
  if (cursor) params.emplace("cursor", fnd::Value(*cursor));
  startRequest(requestWithHost(SFConfig::apiHost(), "/delta", params, "POST"), params,
               Op::LoadDeltaFailedWithError, [this](SFRequest& r) {
    if (deliveredFailure(r, Op::LoadDeltaFailedWithError)) return;
    ++pendingParses_;
    fnd::DispatchQueue::global().async([client = this, alive = lifetime_.watch(), body = r.resultString(),
                                        userInfo = r.userInfo()] {
      struct Result {
        std::vector<std::shared_ptr<const SFDeltaEntry>> entries;
        bool reset = false, hasMore = false;
        std::string cursor;
      };
      std::optional<Result> result;
      if (auto json = nsstring_dbjson::JSONValue(body); json && json->isDictionary()) {
        Result res;
        for (const auto& element : (*json)["entries"].array())
          if (auto entry = SFDeltaEntry::initWithArray(element)) res.entries.push_back(std::move(entry));
        res.reset = (*json)["reset"].boolValue();
        res.hasMore = (*json)["has_more"].boolValue();
        res.cursor = (*json)["cursor"].stringIfString().value_or("");
        result = std::move(res);
      }
      fnd::DispatchQueue::main().async([client, alive, result = std::move(result), userInfo] {
        if (!alive) return;
        SFRestClient& self = *client;
        --self.pendingParses_;
        if (!result) {
          SFLogWarning("SkyfolderSDK: error parsing metadata");
          return self.deliverFailure(Op::LoadDeltaFailedWithError,
                                     fnd::Error(kSFSkyfolderErrorDomain, kSFErrorInvalidResponse, userInfo));
        }
        if (self.implements(Op::LoadedDeltaEntries))
          self.delegate_->restClientLoadedDeltaEntries(self, result->entries, result->reset, result->cursor,
                                                       result->hasMore);
      });
    });
  });
}

// ---- thumbnails

void SFRestClient::loadThumbnail(const std::string& path, const std::optional<std::string>& size,
                                 const std::string& destPath) {
  std::string format = "JPEG";
  if (path.size() > 4) {
    const std::string ext = fnd::uppercase(path.substr(path.size() - 4));
    if (ext == ".PNG" || ext == ".GIF") format = "PNG";
  }
  fnd::Dictionary params{{"format", fnd::Value(format)}};
  if (size) params.emplace("size", fnd::Value(*size));
  fnd::Dictionary info{{"root", fnd::Value(root_)}, {"path", fnd::Value(path)}, {"destinationPath", fnd::Value(destPath)}};
  if (size) info.emplace("size", fnd::Value(*size));
  auto urlRequest = requestWithHost(SFConfig::contentHost(), "/thumbnails/" + root_ + path, params);
  if (!urlRequest) return failWithoutCredentials(Op::LoadThumbnailFailedWithError, info);
  const std::string key = path + "##" + size.value_or("(null)");
  auto request = SFRequest::make(std::move(*urlRequest), [this](SFRequest& r) {
    auto keep = r.shared_from_this();
    removeRequest(r);
    if (deliveredFailure(r, Op::LoadThumbnailFailedWithError)) return;
    if (implements(Op::LoadedThumbnailMetadata)) {
      std::shared_ptr<const SFMetadata> metadata;
      if (const auto& json = r.xSkyfolderMetadataJSON()) metadata = SFMetadata::initWithDictionary(*json);
      delegate_->restClientLoadedThumbnail(*this, r.resultFilename(), metadata);
    } else if (implements(Op::LoadedThumbnail)) {
      delegate_->restClientLoadedThumbnail(*this, r.resultFilename());
    }
  });
  request->setResultFilename(destPath);
  request->setUserInfo(std::move(info));
  startTransfer(imageLoadRequests_, key, request);
}

void SFRestClient::cancelThumbnailLoad(const std::string& path, const std::optional<std::string>& size) {
  cancelTransfer(imageLoadRequests_, path + "##" + size.value_or("(null)"));
}

// ---- chunked upload

void SFRestClient::uploadFileChunk(const std::optional<std::string>& uploadId, std::uint64_t offset,
                                   const std::string& fromPath) {
  fnd::Dictionary info{{"fromPath", fnd::Value(fromPath)}, {"offset", fnd::Value(static_cast<std::int64_t>(offset))}};
  if (uploadId) info.emplace("upload_id", fnd::Value(*uploadId));
  const int fd = ::open(fromPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (implements(Op::UploadFileChunkFailedWithError))
      delegate_->restClientUploadFileChunkFailedWithError(
          *this, fnd::Error(kSFSkyfolderErrorDomain, kSFErrorFileNotFound, info));
    else
      SFLogWarning("SkyfolderSDK: unable to read file in -[SFRestClient uploadFileChunk:offset:fromPath:] "
                   "(fromPath=%@)", fromPath);
    return;
  }
  fnd::Data chunk(kChunkSize);
  std::size_t got = 0;
  while (got < chunk.size()) {
    const ssize_t n = ::pread(fd, chunk.data() + got, chunk.size() - got, static_cast<off_t>(offset + got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  chunk.resize(got);
  if (got == 0) SFLogWarning("SkyfolderSDK: did not read any data from file (fromPath=%@)", fromPath);

  fnd::Dictionary params{{"offset", fnd::Value(std::to_string(offset))}};
  if (uploadId) params.emplace("upload_id", fnd::Value(*uploadId));
  auto urlRequest = queryPostRequest(contentURL("/chunked_upload"), params);
  if (urlRequest) {
    urlRequest->setValueForHTTPHeaderField(std::to_string(got), "Content-Length");
    urlRequest->setValueForHTTPHeaderField(std::string("application/octet-stream"), "Content-Type");
    urlRequest->setHTTPBody(std::move(chunk));
  }
  auto request = makeRequest(std::move(urlRequest), info, Op::UploadFileChunkFailedWithError, [this](SFRequest& r) {
    const auto reply = dictionaryReply(r, Op::UploadFileChunkFailedWithError, false);
    if (!reply || !implements(Op::UploadedFileChunk)) return;
    const fnd::Value value(*reply);
    delegate_->restClientUploadedFileChunk(*this, stringIn(*reply, "upload_id"),
                                           static_cast<std::uint64_t>(value["offset"].intValue()),
                                           r.userInfo().at("fromPath").string(),
                                           SFMetadata::dateFromString(stringIn(*reply, "expires")));
  });
  if (!request) return;
  request->setSourcePath(fromPath);
  request->setUploadProgressCallback([this, uploadId, offset, fromPath](SFRequest& r) {
    if (implements(Op::UploadFileChunkProgress))
      delegate_->restClientUploadFileChunkProgress(*this, r.uploadProgress(), uploadId.value_or(""), offset, fromPath);
  });
  request->start();
}

void SFRestClient::uploadFileFromUploadId(const std::string& filename, const std::string& toPath,
                                          const std::optional<std::string>& parentRev, const std::string& uploadId) {
  const std::string destPath = (fnd::hasSuffix(toPath, "/") ? toPath : toPath + "/") + filename;
  fnd::Dictionary params{{"upload_id", fnd::Value(uploadId)}, {"overwrite", fnd::Value("false")},
                         {"mute", fnd::Value("1")}};
  if (parentRev) params.emplace("parent_rev", fnd::Value(*parentRev));
  fnd::Dictionary info{{"uploadId", fnd::Value(uploadId)}, {"destPath", fnd::Value(destPath)}};
  if (parentRev) info.emplace("parentRev", fnd::Value(*parentRev));
  startRequest(
      requestWithHost(SFConfig::contentHost(), "/commit_chunked_upload/" + root_ + destPath, params, "POST"), info,
      Op::UploadFromUploadIdFailedWithError, [this](SFRequest& r) {
        const auto reply = dictionaryReply(r, Op::UploadFromUploadIdFailedWithError, false);
        if (!reply || !implements(Op::UploadedFileFromUploadId)) return;
        delegate_->restClientUploadedFileFromUploadId(*this, r.userInfo().at("destPath").string(),
                                                      r.userInfo().at("uploadId").string(),
                                                      std::make_shared<const SFMetadata>(*reply));
      });
}

// ---- revisions and restore

void SFRestClient::loadRevisionsForFile(const std::string& path, long limit) {
  fnd::Dictionary params{{"rev_limit", fnd::Value(std::to_string(limit))}};
  fnd::Dictionary info{{"path", fnd::Value(path)}, {"limit", fnd::Value(static_cast<std::int64_t>(limit))}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/revisions/" + root_ + path, params), info,
               Op::LoadRevisionsFailedWithError, [this](SFRequest& r) {
    const auto reply = r.parseResponseAsType(SFRequest::JSONType::Array);
    if (!reply) {
      if (r.error()) deliverFailure(Op::LoadRevisionsFailedWithError, *r.error());
      return;
    }
    if (implements(Op::LoadedRevisions))
      delegate_->restClientLoadedRevisions(*this, metadataList(reply->array()), r.userInfo().at("path").string());
  });
}

void SFRestClient::restoreFile(const std::string& path, const std::string& rev) {
  fnd::Dictionary params{{"rev", fnd::Value(rev)}};
  fnd::Dictionary info{{"path", fnd::Value(path)}, {"rev", fnd::Value(rev)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/restore/" + root_ + path, params), info,
               Op::RestoreFileFailedWithError, [this](SFRequest& r) {
    const auto reply = dictionaryReply(r, Op::RestoreFileFailedWithError, false);
    if (reply && implements(Op::RestoredFile))
      delegate_->restClientRestoredFile(*this, std::make_shared<const SFMetadata>(*reply));
  });
}

// ---- file operations

void SFRestClient::fileOperation(const std::string& endpoint, fnd::Dictionary parameters, const char* sourceKey,
                                 Op failureOp, Op successOp, MetadataDelivery deliver) {
  auto urlRequest = requestWithHost(SFConfig::apiHost(), endpoint, parameters, "POST");
  startRequest(std::move(urlRequest), std::move(parameters), failureOp,
               [this, sourceKey, failureOp, successOp, deliver](SFRequest& r) {
    const auto reply = dictionaryReply(r, failureOp, true);
    if (reply && implements(successOp))
      (delegate_->*deliver)(*this, r.userInfo().at(sourceKey).string(), std::make_shared<const SFMetadata>(*reply));
  });
}

void SFRestClient::moveFrom(const std::string& fromPath, const std::string& toPath) {
  fileOperation("/fileops/move",
                {{"root", fnd::Value(root_)}, {"from_path", fnd::Value(fromPath)}, {"to_path", fnd::Value(toPath)}},
                "from_path", Op::MovePathFailedWithError, Op::MovedPath, &SFRestClientDelegate::restClientMovedPath);
}

void SFRestClient::copyFrom(const std::string& fromPath, const std::string& toPath) {
  fileOperation("/fileops/copy",
                {{"root", fnd::Value(root_)}, {"from_path", fnd::Value(fromPath)}, {"to_path", fnd::Value(toPath)}},
                "from_path", Op::CopyPathFailedWithError, Op::CopiedPath, &SFRestClientDelegate::restClientCopiedPath);
}

void SFRestClient::createCopyRef(const std::string& path) {
  fnd::Dictionary info{{"path", fnd::Value(path)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/copy_ref/" + root_ + path, {}, "POST"), info,
               Op::CreateCopyRefFailedWithError, [this](SFRequest& r) {
    const auto reply = dictionaryReply(r, Op::CreateCopyRefFailedWithError, true);
    if (!reply) return;
    const std::string ref = stringIn(*reply, "copy_ref");
    if (implements(Op::CreatedCopyRefForPath))
      delegate_->restClientCreatedCopyRef(*this, ref, r.userInfo().at("path").string());
    else if (implements(Op::CreatedCopyRef))
      delegate_->restClientCreatedCopyRef(*this, ref);
  });
}

void SFRestClient::copyFromRef(const std::string& copyRef, const std::string& toPath) {
  fileOperation("/fileops/copy/",
                {{"from_copy_ref", fnd::Value(copyRef)}, {"root", fnd::Value(root_)}, {"to_path", fnd::Value(toPath)}},
                "from_copy_ref", Op::CopyFromRefFailedWithError, Op::CopiedRef,
                &SFRestClientDelegate::restClientCopiedRef);
}

void SFRestClient::deletePath(const std::string& path) {
  fnd::Dictionary params{{"root", fnd::Value(root_)}, {"path", fnd::Value(path)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/fileops/delete", params, "POST"), params,
               Op::DeletePathFailedWithError, [this](SFRequest& r) {
    if (deliveredFailure(r, Op::DeletePathFailedWithError)) return;
    if (implements(Op::DeletedPath)) delegate_->restClientDeletedPath(*this, r.userInfo().at("path").string());
  });
}

void SFRestClient::createFolder(const std::string& path) {
  fnd::Dictionary params{{"root", fnd::Value(root_)}, {"path", fnd::Value(path)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/fileops/create_folder", params, "POST"), params,
               Op::CreateFolderFailedWithError, [this](SFRequest& r) {
    const auto reply = dictionaryReply(r, Op::CreateFolderFailedWithError, true);
    if (reply && implements(Op::CreatedFolder))
      delegate_->restClientCreatedFolder(*this, std::make_shared<const SFMetadata>(*reply));
  });
}

// ---- account, search, links

void SFRestClient::loadAccountInfo() {
  fnd::Dictionary info{{"root", fnd::Value(root_)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/account/info", {}), info,
               Op::LoadAccountInfoFailedWithError, [this](SFRequest& r) {
    const auto reply = dictionaryReply(r, Op::LoadAccountInfoFailedWithError, true);
    if (reply && implements(Op::LoadedAccountInfo))
      delegate_->restClientLoadedAccountInfo(*this, std::make_shared<const SFAccountInfo>(*reply));
  });
}

void SFRestClient::searchPath(const std::string& path, const std::string& keyword) {
  fnd::Dictionary params{{"query", fnd::Value(keyword)}};
  fnd::Dictionary info{{"path", fnd::Value(path)}, {"keyword", fnd::Value(keyword)}};
  startRequest(requestWithHost(SFConfig::apiHost(), "/search/" + root_ + path, params), info,
               Op::SearchFailedWithError, [this](SFRequest& r) {
    if (deliveredFailure(r, Op::SearchFailedWithError)) return;
    if (!implements(Op::LoadedSearchResults)) return;
    std::optional<std::vector<std::shared_ptr<const SFMetadata>>> results;
    if (auto json = r.resultJSON(); json && json->isArray()) results = metadataList(json->array());
    delegate_->restClientLoadedSearchResults(*this, results, r.userInfo().at("path").string(),
                                             r.userInfo().at("keyword").string());
  });
}

void SFRestClient::linkRequest(const std::string& endpoint, const std::string& path,
                               const fnd::Dictionary& parameters, Op failureOp, Op successOp, LinkDelivery deliver) {
  fnd::Dictionary info{{"path", fnd::Value(path)}};
  startRequest(requestWithHost(SFConfig::apiHost(), endpoint + root_ + path, parameters), std::move(info),
               failureOp, [this, failureOp, successOp, deliver](SFRequest& r) {
    const auto reply = dictionaryReply(r, failureOp, true);
    if (reply && implements(successOp))
      (delegate_->*deliver)(*this, stringIn(*reply, "url"), r.userInfo().at("path").string());
  });
}

void SFRestClient::loadSharableLinkForFile(const std::string& path, bool shortUrl) {
  linkRequest("/shares/", path, {{"short_url", fnd::Value(shortUrl ? "true" : "false")}},
              Op::LoadSharableLinkFailedWithError, Op::LoadedSharableLink,
              &SFRestClientDelegate::restClientLoadedSharableLink);
}

void SFRestClient::loadStreamableURLForFile(const std::string& path) {
  linkRequest("/media/", path, {}, Op::LoadStreamableURLFailedWithError, Op::LoadedStreamableURL,
              &SFRestClientDelegate::restClientLoadedStreamableURL);
}

}  // namespace kesto
