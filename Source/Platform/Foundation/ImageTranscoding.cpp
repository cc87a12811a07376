#include "Platform/Foundation/ImageTranscoding.h"

#include <atomic>
#include <memory>

namespace kesto::fnd {

namespace {
// Store contexts save on their own threads: each runs the transcoder it read, even when another
// replaces it meanwhile.
constinit std::atomic<std::shared_ptr<const PNGTranscoder>> installedTranscoder;
}  // namespace

void setPNGTranscoder(PNGTranscoder transcoder) {
  installedTranscoder.store(transcoder ? std::make_shared<const PNGTranscoder>(std::move(transcoder)) : nullptr);
}

std::optional<Data> transcodeToPNG(const Data& encoded) {
  const auto transcoder = installedTranscoder.load();
  if (!transcoder) return std::nullopt;
  return (*transcoder)(encoded);
}

}  // namespace kesto::fnd
