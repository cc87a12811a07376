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

// Equal values of the same type, all the way down (2 and 2.0 are different constants).
bool sameValue(const fnd::Value& a, const fnd::Value& b) {
  if (a.type() != b.type()) return false;
  if (a.isReal()) return a.doubleValue() == b.doubleValue() || (a.doubleValue() != a.doubleValue() && b.doubleValue() != b.doubleValue());
  if (!a.isArray()) return a == b;
  if (a.array().size() != b.array().size()) return false;
  for (std::size_t i = 0; i < a.array().size(); ++i)
    if (!sameValue(a.array()[i], b.array()[i])) return false;
  return true;
}

bool sameExpression(const store::Expression& a, const store::Expression& b) {
  return a.kind == b.kind && a.keyPath == b.keyPath && a.function == b.function && sameValue(a.constant, b.constant);
}

bool samePredicate(const store::Predicate& a, const store::Predicate& b) {
  if (a.kind() != b.kind() || a.subpredicates().size() != b.subpredicates().size()) return false;
  if (a.kind() == store::Predicate::Kind::Comparison &&
      (a.op() != b.op() || a.options() != b.options() || a.modifier() != b.modifier() ||
       !sameExpression(a.left(), b.left()) || !sameExpression(a.right(), b.right())))
    return false;
  for (std::size_t i = 0; i < a.subpredicates().size(); ++i)
    if (!samePredicate(*a.subpredicates()[i], *b.subpredicates()[i])) return false;
  return true;
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
  // The written form reads back as the same predicate.
  const std::string written = predicate->format();
  auto again = store::Predicate::parse(written);
  if (!again) std::fprintf(stderr, "written form does not parse: %s\n", written.c_str());
  KESTO_FUZZ_CHECK(again != nullptr);
  if (!samePredicate(*predicate, *again)) std::fprintf(stderr, "written form reads back otherwise: %s\n", written.c_str());
  KESTO_FUZZ_CHECK(samePredicate(*predicate, *again));
  return 0;
}
