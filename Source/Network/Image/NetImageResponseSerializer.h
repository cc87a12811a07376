#pragma once

#include "Network/NetURLResponseSerialization.h"

#include <memory>

namespace kesto {

// Images are decoded by the platform's image readers (PNG, JPEG, GIF, ICO, BMP, TIFF, ...; the
// first frame of several) into a ui::ImageObject whose size in points is its pixel size. A body
// that holds no image answers null. Kept apart from the rest of the HTTP client because it alone
// needs the interface layer; linking it also lets archived image serializers be read.
class NetImageResponseSerializer : public NetHTTPResponseSerializer {
 public:
  static std::shared_ptr<NetImageResponseSerializer> serializer();
  NetImageResponseSerializer();
  fnd::Value responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response, const fnd::Data* data,
                                       std::optional<fnd::Error>* error) const override;
  std::shared_ptr<NetHTTPResponseSerializer> copy() const override;
  std::string codingClassName() const override { return "NetImageResponseSerializer"; }
};

}  // namespace kesto
