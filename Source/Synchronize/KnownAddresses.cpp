#include "Synchronize/KnownAddresses.h"

#include "Model/Bookmark.h"
#include "Model/StoredText.h"

#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/FetchRequest.h"

#include <cctype>

namespace kesto {

std::string KnownAddresses::key(std::string_view address) {
  // Schemes compare without case: an older library may hold one in capitals.
  std::string key = fnd::decodeAddressForStorage(address);
  for (std::size_t i = 0, n = stored::schemeLength(key); i < n; ++i) key[i] = fnd::asciiLowercase(key[i]);
  return key;
}

KnownAddresses KnownAddresses::read(const std::shared_ptr<store::Context>& context) {
  KnownAddresses known;
  if (!context) return known;
  store::FetchRequest request;
  request.entityName = Bookmark::entityName();
  request.resultType = store::FetchRequest::ResultType::Dictionaries;
  request.propertiesToFetch = {"url"};
  if (auto rows = context->fetchDictionaries(request)) {
    known.keys_.reserve(rows->size());
    for (const auto& row : *rows)
      if (auto it = row.find("url"); it != row.end() && it->second.isString()) known.insert(it->second.string());
  }
  return known;
}

}  // namespace kesto
