// Server trust of SFRequest: the pinned roots, revoked serials and the DER serial scanner.
#include "Skyfolder/SFBase64.h"
#include "Skyfolder/SFLog.h"
#include "Skyfolder/SFRequest.h"
#include "Skyfolder/SFRootCertificates.h"

#include <array>
#include <cstring>
#include <mutex>

namespace kesto {

namespace {

constexpr std::uint8_t kTagSequence = 0x30;
constexpr std::uint8_t kTagInteger = 0x02;

const std::array<fnd::Data, 3>& revokedSerials() {
  static const std::array<fnd::Data, 3> serials = {
      fnd::Data{0x02, 0x75, 0xc7, 0x6c, 0x1e, 0x64, 0x3c, 0x26, 0x49, 0x88, 0x6b, 0x0e, 0x76, 0x3a, 0xc3, 0xe9},
      fnd::Data{0x27, 0xab, 0x71, 0xba, 0x41, 0x86, 0x5c},
      fnd::Data{0x2b, 0x73, 0x47, 0x79, 0xdb, 0x80, 0x12},
  };
  return serials;
}

std::mutex gOverrideMutex;
std::optional<std::vector<net::Certificate>> gOverrideRoots;

const std::vector<net::Certificate>& pinnedRoots() {
  // Decoded once, safely, however many threads ask first.
  static std::once_flag once;
  static std::vector<net::Certificate> roots;
  std::call_once(once, [] {
    for (const std::string_view text : SFRootCertificateTexts()) {
      // Empty entries stand for roots no certificate store carries any more: skipped on purpose,
      // so they are no error.
      if (text.empty()) continue;
      std::size_t capacity = SFBase64DecodedSize(text.size());
      fnd::Data der(capacity);
      if (!SFBase64Decode(text.data(), text.size(), der.data(), &capacity) || capacity == 0) {
        SFLogError("Root certificate base64 decoding failed!");
        continue;
      }
      der.resize(capacity);
      if (auto cert = net::Certificate::fromDER(der))
        roots.push_back(std::move(*cert));
      else
        SFLogError("Invalid root certificate!");
    }
  });
  return roots;
}

}  // namespace

std::vector<net::Certificate> SFRequest::rootCertificates() {
  {
    std::lock_guard lock(gOverrideMutex);
    if (gOverrideRoots) return *gOverrideRoots;
  }
  return pinnedRoots();
}

void SFRequest::setRootCertificatesForTesting(std::optional<std::vector<net::Certificate>> roots) {
  std::lock_guard lock(gOverrideMutex);
  gOverrideRoots = std::move(roots);
}

bool SFRequest::isRevokedCertificate(const fnd::Data& der) {
  const auto serial = copySerialFromCertificate(der.data(), static_cast<std::int64_t>(der.size()));
  if (!serial) {
    SFLogError("SkyfolderSDK: SSL Error. Cannot read a serial number of the certificate");
    return true;
  }
  for (const auto& revoked : revokedSerials())
    if (*serial == revoked) return true;
  return false;
}

int SFRequest::readLength(std::uint64_t* length, const std::uint8_t* buffer, std::uint64_t bufferLength,
                          std::uint64_t* index) {
  std::uint64_t idx = *index;
  if (idx >= bufferLength) {
    SFLogWarning("readLength: idx:%d >= buflen:%d", idx, bufferLength);
    return -2;
  }
  const std::uint8_t first = buffer[idx];
  if (first == 0x80) {
    SFLogWarning("readLength: Invalid DER (unlimited length encoding)");
    return -1;
  }
  if (first < 0x80) {
    *length = first;
    *index = idx + 1;
    return 0;
  }
  const std::uint64_t n = first & 0x7F;
  if (n >= 5) {
    SFLogWarning("readLength: length of any TLV can't be more than 32bit");
    return -1;
  }
  if (idx + n >= bufferLength) {
    SFLogWarning("readLength: idx:%d + len_of_len: %d >= bufLen:%d", idx, n, bufferLength);
    return -2;
  }
  std::uint64_t value = 0;
  for (std::uint64_t k = 1; k <= n; ++k) value = (value << 8) | buffer[idx + k];
  *length = value;
  *index = idx + n + 1;
  return 0;
}

namespace {

// One tag-length header on the way to the serial number: whether its content is entered or
// skipped, and what is logged when the walk reaches the end (with the position and the
// certificate's length), meets another tag (with the position and the octet where the text
// names them) or cannot read the length.
struct HeaderStep {
  bool skipsContent;
  bool (*tagIsExpected)(std::uint8_t tag);
  const char* pastEnd;
  const char* wrongTag;
  const char* badLength;
};

// Steps over the header at `idx`; `length` receives the length of its content.
bool readHeader(const HeaderStep& step, const std::uint8_t* der, std::uint64_t end, std::int64_t certlen,
                std::uint64_t& idx, std::uint64_t& length) {
  if (idx >= end) {
    SFLogWarning(step.pastEnd, idx, certlen);
    return false;
  }
  if (!step.tagIsExpected(der[idx])) {
    SFLogWarning(step.wrongTag, idx, der[idx]);
    return false;
  }
  ++idx;
  if (SFRequest::readLength(&length, der, end, &idx) != 0) {
    SFLogWarning(step.badLength);
    return false;
  }
  if (step.skipsContent) idx += length;
  return true;
}

bool isSequence(std::uint8_t tag) { return tag == kTagSequence; }
bool isSingleOctetTag(std::uint8_t tag) { return (tag & 0x1F) != 0x1F; }
bool isInteger(std::uint8_t tag) { return tag == kTagInteger; }

constexpr const char* kPastVersion =
    "Reached end of buffer while reading Version from first TLV inside TAG_SEQ. idx:%d >= certlen:%ld";

// Certificate, then TBSCertificate, then the version element, then the serial number.
const HeaderStep kSerialSteps[] = {
    {false, isSequence, "Error trying to read first TAG_SEQ. idx:%d >= certlen:%ld",
     "DER data does not start with TAG_SEQ. idx:%d octet:%X", "Failed to parse length from first TAG_SEQ."},
    {false, isSequence, "Error trying to read 2nd TAG_SEQ. idx:%d >= certlen:%ld",
     "Error: first tag inside the TAG_SEQ is not a TAG_SEQ. idx:%d octet:%X", "Failed to parse length from second TAG_SEQ"},
    {true, isSingleOctetTag, kPastVersion, "Invalid CERT Version tag inside 2nd SEQ",
     "Failed to parse length of CERT Version tag"},
    {false, isInteger, kPastVersion, "Reached serial number, but it is not marked with TAG_INT. Failing",
     "Failed to parse length of serial number TLV"},
};

}  // namespace

std::optional<fnd::Data> SFRequest::copySerialFromCertificate(const std::uint8_t* der, std::int64_t certlen) {
  if (certlen < 0 || certlen >= (std::int64_t(1) << 31)) {
    SFLogWarning("Certlen negative or too high: %ld. Paranoidly failing.", certlen);
    return std::nullopt;
  }
  // 64-bit positions: a length read from the data can never wrap the index around.
  const auto end = static_cast<std::uint64_t>(certlen);
  std::uint64_t idx = 0, length = 0;
  for (const HeaderStep& step : kSerialSteps)
    if (!readHeader(step, der, end, certlen, idx, length)) return std::nullopt;
  if (idx + length >= end) {
    SFLogWarning("Serial length goes beyond end of buffer. idx:%d >= certlen:%ld", idx, certlen);
    return std::nullopt;
  }
  return fnd::Data(der + idx, der + idx + length);
}

}  // namespace kesto
