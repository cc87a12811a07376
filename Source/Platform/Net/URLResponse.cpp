#include "Platform/Net/URLResponse.h"

#include "Platform/Foundation/Strings.h"

#include <algorithm>
#include <cctype>

namespace kesto::net {

namespace {
std::string trim(std::string_view s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}
}  // namespace

std::pair<std::optional<std::string>, std::optional<std::string>> parseContentType(std::string_view contentType) {
  std::optional<std::string> mime, charset;
  auto semi = contentType.find(';');
  std::string type = fnd::asciiLowercase(trim(contentType.substr(0, semi)));
  if (!type.empty()) mime = type;
  while (semi != std::string_view::npos) {
    auto next = contentType.find(';', semi + 1);
    std::string param = trim(contentType.substr(semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1));
    auto eq = param.find('=');
    if (eq != std::string::npos && fnd::asciiLowercase(trim(param.substr(0, eq))) == "charset") {
      std::string v = trim(std::string_view(param).substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      if (!v.empty()) charset = fnd::asciiLowercase(v);
    }
    semi = next;
  }
  return {mime, charset};
}

URLResponse::URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

std::string URLResponse::suggestedFilename() const {
  std::string last = url_.lastPathComponent();
  if (last.empty() || last == "/") return "unknown";
  return last;
}

std::string URLResponse::description() const {
  return "<URLResponse: " + url_.redactedString() + ">";
}

namespace {
std::pair<std::optional<std::string>, std::optional<std::string>> typeOf(const HTTPHeaders& h) {
  if (auto ct = h.value("Content-Type")) return parseContentType(*ct);
  return {};
}
std::int64_t lengthOf(const HTTPHeaders& h) {
  if (h.contains("Content-Encoding")) return -1;  // the body is inflated, so the length differs
  if (auto cl = h.value("Content-Length")) {
    try {
      std::size_t used = 0;
      long long v = std::stoll(*cl, &used);
      if (used == cl->size() && v >= 0) return v;
    } catch (...) {
    }
  }
  return -1;
}
}  // namespace

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, HTTPHeaders headers)
    : URLResponse(std::move(url), typeOf(headers).first, lengthOf(headers), typeOf(headers).second),
      status_(statusCode),
      headers_(std::move(headers)) {}

std::string HTTPURLResponse::description() const {
  return "<HTTPURLResponse: " + url().redactedString() + " { status code: " + std::to_string(status_) + " }>";
}

std::string HTTPURLResponse::localizedStringForStatusCode(int code) {
  switch (code) {
    case 100: return "continue";
    case 101: return "switching protocols";
    case 200: return "no error";
    case 201: return "created";
    case 202: return "accepted";
    case 203: return "non-authoritative information";
    case 204: return "no content";
    case 205: return "reset content";
    case 206: return "partial content";
    case 300: return "multiple choices";
    case 301: return "moved permanently";
    case 302: return "found";
    case 303: return "see other";
    case 304: return "not modified";
    case 305: return "needs proxy";
    case 307: return "temporarily redirected";
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 402: return "payment required";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 406: return "unacceptable";
    case 407: return "proxy authentication required";
    case 408: return "request timed out";
    case 409: return "conflict";
    case 410: return "no longer exists";
    case 411: return "length required";
    case 412: return "precondition failed";
    case 413: return "request too large";
    case 414: return "requested URL too long";
    case 415: return "unsupported media type";
    case 416: return "requested range not satisfiable";
    case 417: return "expectation failed";
    case 500: return "internal server error";
    case 501: return "unimplemented";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timed out";
    case 505: return "unsupported version";
    default: break;
  }
  if (code >= 100 && code < 200) return "informational";
  if (code >= 200 && code < 300) return "success";
  if (code >= 300 && code < 400) return "redirected";
  if (code >= 400 && code < 500) return "client error";
  return "server error";
}

}  // namespace kesto::net
