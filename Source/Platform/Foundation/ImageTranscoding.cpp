#include "Platform/Foundation/ImageTranscoding.h"

#include <memory>
#include <mutex>

namespace kesto::fnd {

namespace {
// Store contexts save on their own threads: the transcoder is read under the lock and run outside it.
std::mutex transcoderMutex;
std::shared_ptr<const PNGTranscoder> installedTranscoder;
}  // namespace

void setPNGTranscoder(PNGTranscoder transcoder) {
  auto shared = transcoder ? std::make_shared<const PNGTranscoder>(std::move(transcoder)) : nullptr;
  std::lock_guard<std::mutex> lock(transcoderMutex);
  installedTranscoder = std::move(shared);
}

std::optional<Data> transcodeToPNG(const Data& encoded) {
  std::shared_ptr<const PNGTranscoder> transcoder;
  {
    std::lock_guard<std::mutex> lock(transcoderMutex);
    transcoder = installedTranscoder;
  }
  if (!transcoder) return std::nullopt;
  return (*transcoder)(encoded);
}

}  // namespace kesto::fnd
