#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Store/Predicate.h"

#include <cstdio>
#include <string>

using namespace kesto;

namespace {

// A bookmark-like record the smart-folder predicates of sync files filter.
const fnd::Value& sampleObject() {
  static const fnd::Value object = fnd::Dictionary{
      {"title", "Kesto – bookmarks"},
      {"url", "https://example.com/a?b=c"},
      {"timesOpened", 3},
      {"rating", 2.5},
      {"blocked", 0},
      {"isFavorite", true},
      {"dateAdded", fnd::Date::withTimeIntervalSince1970(1500000000)},
      {"tags", fnd::Array{"news", "Tech", ""}},
      {"folder", fnd::Dictionary{{"name", "Inbox"}, {"parent", fnd::Dictionary{{"name", "root"}}}}},
      {"missing", nullptr},
  };
  return object;
}

}  // namespace

// Smart-folder predicates arrive as text in sync files. Values are bound as arguments.
KESTO_FUZZ_TARGET(Predicate) {
  auto text = kesto::fuzz::asText(data, size);
  static const fnd::Array arguments = {"title", "news", 5, fnd::Array{"a", "b"}, nullptr};
  fnd::Error error;
  auto predicate = store::Predicate::parse(text, arguments, &error);
  if (!predicate) return 0;
  (void)predicate->evaluate(sampleObject());
  (void)predicate->evaluate(fnd::Value("plain"));
  (void)predicate->evaluate(fnd::Value());
  // The written form parses back.
  const std::string written = predicate->format();
  auto again = store::Predicate::parse(written);
  if (!again) std::fprintf(stderr, "written form does not parse: %s\n", written.c_str());
  KESTO_FUZZ_CHECK(again != nullptr);
  return 0;
}
