#include "Platform/Net/URLRequest.h"

#include "Platform/Net/Streams.h"

namespace kesto::net {

void URLRequest::setValueForHTTPHeaderField(std::optional<std::string> value, std::string_view name) {
  if (value)
    headers_.set(name, *value);
  else
    headers_.remove(name);
}

void URLRequest::setHTTPBody(std::optional<fnd::Data> body) {
  body_ = std::move(body);
  if (body_) bodyStream_.reset();
}

void URLRequest::setHTTPBodyStream(std::shared_ptr<InputStream> stream) {
  bodyStream_ = std::move(stream);
  if (bodyStream_) body_.reset();
}

std::string URLRequest::description() const {
  return "<URLRequest: " + method_ + " " + url_.redactedString() + ">";
}

}  // namespace kesto::net
