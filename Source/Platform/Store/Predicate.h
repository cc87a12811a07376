#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::store {

class Predicate;
using PredicateRef = std::shared_ptr<const Predicate>;

// Comparison options: [c] folds case, [d] strips diacritics (ICU), [cd] both.
enum ComparisonOption : unsigned { kCaseInsensitive = 1, kDiacriticInsensitive = 2 };

enum class ComparisonOperator {
  Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual,
  Contains, BeginsWith, EndsWith, Like, Matches, In,
};

// How a comparison applies to a to-many left side.
enum class ComparisonModifier { Direct, Any, All };

// An expression of a comparison: a constant, a key path (evaluated on the object), SELF, or an
// aggregate function over a key path ("min(...)", "max(...)", "sum(...)", "avg(...)",
// "count(...)") as the record layer uses.
struct Expression {
  enum class Kind { Constant, KeyPath, Self, Function };
  Kind kind = Kind::Constant;
  fnd::Value constant;
  std::string keyPath;
  std::string function;  // for Kind::Function, applied to the key path's values
  static Expression makeConstant(fnd::Value v) { Expression e; e.constant = std::move(v); return e; }
  static Expression makeKeyPath(std::string k) { Expression e; e.kind = Kind::KeyPath; e.keyPath = std::move(k); return e; }
  static Expression makeSelf() { Expression e; e.kind = Kind::Self; return e; }
};

// A filter over objects, dictionaries or plain values, parsed from the format language or built
// in code. Immutable; share it freely between threads. Predicates keep their identity: callers
// may tell lists apart by predicate object.
class Predicate {
 public:
  enum class Kind { True, False, Comparison, And, Or, Not };

  // Parses `format`, substituting %@ (a value) and %K (a key path) from `arguments` in order.
  // Answers null and fills `error` (domain kCocoaErrorDomain, code 2048) on bad syntax or
  // missing arguments; never throws.
  static PredicateRef parse(std::string_view format, const fnd::Array& arguments = {},
                            fnd::Error* error = nullptr);

  static PredicateRef truePredicate();
  static PredicateRef falsePredicate();
  static PredicateRef andPredicate(std::vector<PredicateRef> subpredicates);
  static PredicateRef orPredicate(std::vector<PredicateRef> subpredicates);
  static PredicateRef notPredicate(PredicateRef predicate);
  static PredicateRef comparison(Expression left, ComparisonOperator op, Expression right,
                                 unsigned options = 0, ComparisonModifier modifier = ComparisonModifier::Direct);
  // "keyPath <op> value" for the common case.
  static PredicateRef comparison(std::string keyPath, ComparisonOperator op, fnd::Value value, unsigned options = 0);

  // Evaluates against `object`: a store object or other KeyValueCoding object (wrapped in a
  // Value), a dictionary, or a plain value for SELF predicates. A comparison with a missing value
  // is false (except == nil / != nil); CONTAINS "" is false.
  bool evaluate(const fnd::Value& object) const;

  Kind kind() const { return kind_; }
  const std::vector<PredicateRef>& subpredicates() const { return subs_; }
  const Expression& left() const { return left_; }
  const Expression& right() const { return right_; }
  ComparisonOperator op() const { return op_; }
  unsigned options() const { return options_; }
  ComparisonModifier modifier() const { return modifier_; }

  // A format text that parses back to an equal predicate (constants written as literals).
  std::string format() const;

  Predicate() = default;

  struct InIndex;  // hash lookup for IN over a long constant list

 private:
  Kind kind_ = Kind::True;
  std::vector<PredicateRef> subs_;
  Expression left_, right_;
  ComparisonOperator op_ = ComparisonOperator::Equal;
  unsigned options_ = 0;
  ComparisonModifier modifier_ = ComparisonModifier::Direct;
  std::shared_ptr<const InIndex> inIndex_;
  friend class PredicateBuilder;
  friend struct PredicateAccess;
};

// Keeps the elements of `objects` (objects wrapped as Values) that `predicate` accepts, in order.
fnd::Array filteredArray(const fnd::Array& objects, const Predicate& predicate);

// The comparison rule shared by predicates, sort descriptors and the SQL functions: folds case
// (Unicode simple case folding) and/or strips diacritics (NFD then removal of marks).
std::string foldString(std::string_view s, unsigned options);

}  // namespace kesto::store
