#include "Network/Image/NetImageResponseSerializer.h"

#include "Platform/UI/Image.h"

namespace kesto {

namespace {

// Archives naming the class are readable wherever the class is linked.
[[maybe_unused]] const bool registeredForCoding = [] {
  NetHTTPResponseSerializer::registerCodingClass(
      "NetImageResponseSerializer", [](fnd::KeyedUnarchiver&) { return NetImageResponseSerializer::serializer(); });
  return true;
}();

}  // namespace

std::shared_ptr<NetImageResponseSerializer> NetImageResponseSerializer::serializer() {
  return std::make_shared<NetImageResponseSerializer>();
}

NetImageResponseSerializer::NetImageResponseSerializer() {
  setAcceptableContentTypes(std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png", "image/ico",
                                                  "image/x-icon", "image/bmp", "image/x-bmp", "image/x-xbitmap",
                                                  "image/x-win-bitmap"});
}

fnd::Value NetImageResponseSerializer::responseObjectForResponse(const std::shared_ptr<const net::URLResponse>& response,
                                                                 const fnd::Data* data,
                                                                 std::optional<fnd::Error>* error) const {
  if (!startParsing(response, data, error)) return {};
  if (!data || data->empty()) return {};
  ui::Image image = ui::Image::fromData(*data);
  if (image.isNull()) return {};
  return fnd::Value(std::make_shared<ui::ImageObject>(std::move(image)));
}

std::shared_ptr<NetHTTPResponseSerializer> NetImageResponseSerializer::copy() const {
  return std::make_shared<NetImageResponseSerializer>();
}

}  // namespace kesto
