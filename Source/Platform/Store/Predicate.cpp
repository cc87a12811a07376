#include "Platform/Store/Predicate.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/KeyValueCoding.h"
#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/SortDescriptor.h"
#include "Platform/Store/StoreInternal.h"

#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

namespace kesto::store {

// Friend of Predicate: the only code that fills its fields.
class PredicateBuilder {
 public:
  static std::shared_ptr<Predicate> make(Predicate::Kind kind) {
    auto p = std::make_shared<Predicate>();
    p->kind_ = kind;
    return p;
  }
  static std::shared_ptr<Predicate> compound(Predicate::Kind kind, std::vector<PredicateRef> subs) {
    auto p = make(kind);
    p->subs_ = std::move(subs);
    return p;
  }
  static std::shared_ptr<Predicate> comparison(Expression l, ComparisonOperator op, Expression r, unsigned options,
                                               ComparisonModifier m) {
    auto p = make(Predicate::Kind::Comparison);
    p->left_ = std::move(l);
    p->right_ = std::move(r);
    p->op_ = op;
    p->options_ = options;
    p->modifier_ = m;
    if (op == ComparisonOperator::In && p->right_.kind == Expression::Kind::Constant && p->right_.constant.isArray() &&
        p->right_.constant.size() > 16)
      p->inIndex_ = buildIndex(p->right_.constant.array(), options);
    return p;
  }
  static std::shared_ptr<const Predicate::InIndex> buildIndex(const fnd::Array& list, unsigned options);
};

// "self IN %@" with every ID of the library is common: look members up by key, not by scan.
struct Predicate::InIndex {
  std::unordered_map<const EntityDescription*, std::unordered_set<std::int64_t>> keys;
  std::vector<ObjectIDRef> temporary;
  std::unordered_set<std::string> strings;
  std::unordered_set<double> numbers;
  fnd::Array others;  // compared one by one

  bool contains(const fnd::Value& v, unsigned options) const;
};

std::shared_ptr<const Predicate::InIndex> PredicateBuilder::buildIndex(const fnd::Array& list, unsigned options) {
  auto index = std::make_shared<Predicate::InIndex>();
  for (const auto& e : list) {
    const ObjectID* id = nullptr;
    if (e.isObject()) {
      if (auto* x = dynamic_cast<const ObjectID*>(e.object().get())) id = x;
      else if (auto* mo = dynamic_cast<const ManagedObject*>(e.object().get())) id = mo->objectID().get();
    }
    if (id && !id->isTemporaryID()) {
      index->keys[id->entity()].insert(id->primaryKey());
    } else if (id) {
      index->temporary.push_back(std::static_pointer_cast<const ObjectID>(id->shared_from_this()));
    } else if (e.isString() && options == 0) {
      index->strings.insert(e.string());
    } else if (e.isNumber()) {
      index->numbers.insert(e.doubleValue());
    } else {
      index->others.push_back(e);
    }
  }
  return index;
}

// ---------------------------------------------------------------------------------------------
// Folding

namespace {

bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string foldString(std::string_view s, unsigned options) {
  if (!options) return std::string(s);
  if (isAscii(s)) {
    std::string r(s);
    if (options & kCaseInsensitive)
      for (char& c : r) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return r;
  }
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
  if (options & kDiacriticInsensitive) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_SUCCESS(status)) {
      icu::UnicodeString d = nfd->normalize(u, status);
      if (U_SUCCESS(status)) {
        icu::UnicodeString stripped;
        for (int32_t i = 0; i < d.length();) {
          UChar32 c = d.char32At(i);
          if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
          i += U16_LENGTH(c);
        }
        u = stripped;
      }
    }
  }
  if (options & kCaseInsensitive) u.foldCase();
  std::string out;
  u.toUTF8String(out);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Evaluation

namespace {

const ManagedObject* asManaged(const fnd::Value& v) {
  return v.isObject() ? dynamic_cast<const ManagedObject*>(v.object().get()) : nullptr;
}

const ObjectID* asID(const fnd::Value& v) {
  if (!v.isObject()) return nullptr;
  if (auto* id = dynamic_cast<const ObjectID*>(v.object().get())) return id;
  if (auto* mo = asManaged(v)) return mo->objectID().get();
  return nullptr;
}

bool valuesEqual(const fnd::Value& a, const fnd::Value& b, unsigned options) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  if (a.isString() && b.isString()) {
    if (!options) return a.string() == b.string();
    return foldString(a.string(), options) == foldString(b.string(), options);
  }
  if (a.isObject() && b.isObject()) {
    if (a.object() == b.object()) return true;
    const ObjectID* x = asID(a);
    const ObjectID* y = asID(b);
    if (x && y) return x->isEqual(*y);
    return a.object()->isEqual(*b.object());
  }
  return a == b;
}

// <0, 0, >0, or 2 when the two cannot be ordered (missing values, mixed types).
int orderValues(const fnd::Value& a, const fnd::Value& b, unsigned options) {
  if (a.isNull() || b.isNull()) return 2;
  if (a.isNumber() && b.isNumber()) {
    double x = a.doubleValue(), y = b.doubleValue();
    if (std::isnan(x) || std::isnan(y)) return 2;
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.isDate() && b.isDate()) return a.date() < b.date() ? -1 : (a.date() > b.date() ? 1 : 0);
  if (a.isString() && b.isString()) {
    int c = options ? foldString(a.string(), options).compare(foldString(b.string(), options)) : a.string().compare(b.string());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return 2;
}

// Wildcard match for LIKE: * any run, ? one code point (here: one UTF-8 sequence).
bool likeMatch(std::string_view s, std::string_view p) {
  std::size_t si = 0, pi = 0, star = std::string_view::npos, mark = 0;
  auto seqLen = [](unsigned char c) { return c < 0x80 ? 1 : (c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2)); };
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (pi < p.size() && p[pi] == '?') {
      si += seqLen(static_cast<unsigned char>(s[si]));
      ++pi;
    } else if (pi < p.size() && p[pi] == '\\' && pi + 1 < p.size() && s[si] == p[pi + 1]) {
      pi += 2;
      ++si;
    } else if (pi < p.size() && p[pi] == s[si]) {
      ++pi;
      ++si;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      mark += seqLen(static_cast<unsigned char>(s[mark]));
      si = mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// ICU counts its time limit in match steps, on the order of a millisecond each.
constexpr int32_t kRegexTimeLimitSteps = 20;

bool regexMatch(const std::string& s, const std::string& pattern, unsigned options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError pe;
  uint32_t flags = (options & kCaseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
  std::unique_ptr<icu::RegexPattern> re(
      icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), flags, pe, status));
  if (U_FAILURE(status) || !re) return false;
  icu::UnicodeString subject = icu::UnicodeString::fromUTF8(s);
  if (options & kDiacriticInsensitive) subject = icu::UnicodeString::fromUTF8(foldString(s, kDiacriticInsensitive));
  std::unique_ptr<icu::RegexMatcher> m(re->matcher(subject, status));
  if (U_FAILURE(status) || !m) return false;
  // A smart folder's pattern comes from the user or a synced file; a pattern that backtracks
  // without end must not stall every fetch, so it runs against a budget and then counts as no match.
  m->setTimeLimit(kRegexTimeLimitSteps, status);
  bool r = m->matches(status);
  if (status == U_REGEX_TIME_OUT) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
      fnd::logWarning("Store: a MATCHES pattern ran out of time and counts as no match: " + pattern.substr(0, 200));
    return false;
  }
  return U_SUCCESS(status) && r;
}

}  // namespace

bool compareScalar(const fnd::Value& l, ComparisonOperator op, const fnd::Value& r, unsigned options) {
  switch (op) {
    case ComparisonOperator::Equal: return valuesEqual(l, r, options);
    case ComparisonOperator::NotEqual: return !valuesEqual(l, r, options);
    case ComparisonOperator::Less: return orderValues(l, r, options) == -1;
    case ComparisonOperator::LessOrEqual: { int c = orderValues(l, r, options); return c == -1 || c == 0; }
    case ComparisonOperator::Greater: return orderValues(l, r, options) == 1;
    case ComparisonOperator::GreaterOrEqual: { int c = orderValues(l, r, options); return c == 1 || c == 0; }
    case ComparisonOperator::Contains:
    case ComparisonOperator::BeginsWith:
    case ComparisonOperator::EndsWith: {
      if (!l.isString() || !r.isString() || r.string().empty()) return false;
      std::string a = foldString(l.string(), options), b = foldString(r.string(), options);
      if (op == ComparisonOperator::Contains) return a.find(b) != std::string::npos;
      if (a.size() < b.size()) return false;
      if (op == ComparisonOperator::BeginsWith) return a.compare(0, b.size(), b) == 0;
      return a.compare(a.size() - b.size(), b.size(), b) == 0;
    }
    case ComparisonOperator::Like:
      if (!l.isString() || !r.isString()) return false;
      return likeMatch(foldString(l.string(), options), foldString(r.string(), options));
    case ComparisonOperator::Matches:
      if (!l.isString() || !r.isString()) return false;
      return regexMatch(l.string(), r.string(), options);
    case ComparisonOperator::In:
      if (r.isArray()) {
        for (const auto& e : r.array())
          if (valuesEqual(l, e, options)) return true;
        return false;
      }
      if (r.isDictionary()) {
        for (const auto& [k, e] : r.dictionary())
          if (valuesEqual(l, e, options)) return true;
        return false;
      }
      if (r.isString() && l.isString() && !l.string().empty())
        return foldString(r.string(), options).find(foldString(l.string(), options)) != std::string::npos;
      return false;
  }
  return false;
}

bool Predicate::InIndex::contains(const fnd::Value& v, unsigned options) const {
  if (v.isNull()) return false;
  if (v.isObject()) {
    const ObjectID* id = dynamic_cast<const ObjectID*>(v.object().get());
    if (!id)
      if (auto* mo = dynamic_cast<const ManagedObject*>(v.object().get())) id = mo->objectID().get();
    if (id) {
      if (std::int64_t pk = id->primaryKey()) {
        auto it = keys.find(id->entity());
        if (it != keys.end() && it->second.count(pk)) return true;
      }
      for (const auto& t : temporary)
        if (t->isEqual(*id)) return true;
      return false;
    }
  }
  if (v.isString() && options == 0 && strings.count(v.string())) return true;
  if (v.isNumber() && numbers.count(v.doubleValue())) return true;
  if (v.isString() && options != 0) return compareScalar(v, ComparisonOperator::In, fnd::Value(others), options);
  for (const auto& o : others)
    if (compareScalar(v, ComparisonOperator::Equal, o, options)) return true;
  return false;
}

namespace {

fnd::Value aggregateOf(const std::string& function, const fnd::Value& v) {
  if (!v.isArray()) return v;
  const auto& a = v.array();
  if (function == "count") return fnd::Value(static_cast<std::int64_t>(a.size()));
  if (function == "sum" || function == "average" || function == "avg") {
    double s = 0;
    std::size_t n = 0;
    for (const auto& e : a)
      if (e.isNumber()) s += e.doubleValue(), ++n;
    if (function == "sum") return fnd::Value(s);
    return n ? fnd::Value(s / static_cast<double>(n)) : fnd::Value();
  }
  fnd::Value best;
  for (const auto& e : a) {
    if (e.isNull()) continue;
    if (best.isNull()) { best = e; continue; }
    int c = compareValues(e, best);
    if ((function == "min" && c < 0) || (function == "max" && c > 0)) best = e;
  }
  return best;
}

fnd::Value evaluateExpression(const Expression& e, const fnd::Value& object) {
  switch (e.kind) {
    case Expression::Kind::Constant: return e.constant;
    case Expression::Kind::Self: return object;
    case Expression::Kind::KeyPath: return valueForKeyPath(object, e.keyPath);
    case Expression::Kind::Function: {
      fnd::Value inner = e.keyPath.empty() ? e.constant : valueForKeyPath(object, e.keyPath);
      return aggregateOf(e.function, inner);
    }
  }
  return {};
}

}  // namespace

PredicateRef Predicate::truePredicate() {
  static PredicateRef p = PredicateBuilder::make(Kind::True);
  return p;
}

PredicateRef Predicate::falsePredicate() {
  static PredicateRef p = PredicateBuilder::make(Kind::False);
  return p;
}

PredicateRef Predicate::andPredicate(std::vector<PredicateRef> subs) {
  return PredicateBuilder::compound(Kind::And, std::move(subs));
}

PredicateRef Predicate::orPredicate(std::vector<PredicateRef> subs) {
  return PredicateBuilder::compound(Kind::Or, std::move(subs));
}

PredicateRef Predicate::notPredicate(PredicateRef p) {
  return PredicateBuilder::compound(Kind::Not, {std::move(p)});
}

PredicateRef Predicate::comparison(Expression left, ComparisonOperator op, Expression right, unsigned options,
                                   ComparisonModifier modifier) {
  return PredicateBuilder::comparison(std::move(left), op, std::move(right), options, modifier);
}

PredicateRef Predicate::comparison(std::string keyPath, ComparisonOperator op, fnd::Value value, unsigned options) {
  return comparison(Expression::makeKeyPath(std::move(keyPath)), op, Expression::makeConstant(std::move(value)),
                    options, ComparisonModifier::Direct);
}

namespace {

}  // namespace

struct PredicateAccess {
  static const Predicate::InIndex* index(const Predicate& p) { return p.inIndex_.get(); }
};

namespace {

bool evaluateComparison(const Predicate& p, const fnd::Value& object) {
  if (const Predicate::InIndex* index = PredicateAccess::index(p)) {
    fnd::Value l = evaluateExpression(p.left(), object);
    if (l.isArray() && p.modifier() != ComparisonModifier::All) {
      for (const auto& e : l.array())
        if (index->contains(e, p.options())) return true;
      return false;
    }
    if (l.isArray()) {
      for (const auto& e : l.array())
        if (!index->contains(e, p.options())) return false;
      return true;
    }
    return index->contains(l, p.options());
  }
  fnd::Value l = evaluateExpression(p.left(), object);
  fnd::Value r = evaluateExpression(p.right(), object);
  ComparisonOperator op = p.op();
  unsigned options = p.options();
  ComparisonModifier m = p.modifier();
  if (m == ComparisonModifier::Direct && l.isArray()) {
    // A to-many left side: CONTAINS asks for membership, everything else means "any element".
    if (op == ComparisonOperator::Contains && !r.isArray()) {
      for (const auto& e : l.array())
        if (valuesEqual(e, r, options)) return true;
      return false;
    }
    if (op == ComparisonOperator::Equal && r.isArray()) return l == r;
    m = ComparisonModifier::Any;
  }
  if (m != ComparisonModifier::Direct) {
    if (!l.isArray()) return m == ComparisonModifier::All ? false : compareScalar(l, op, r, options);
    if (m == ComparisonModifier::Any) {
      for (const auto& e : l.array())
        if (compareScalar(e, op, r, options)) return true;
      return false;
    }
    for (const auto& e : l.array())
      if (!compareScalar(e, op, r, options)) return false;
    return true;
  }
  return compareScalar(l, op, r, options);
}

}  // namespace

bool Predicate::evaluate(const fnd::Value& object) const {
  switch (kind_) {
    case Kind::True: return true;
    case Kind::False: return false;
    case Kind::And:
      for (const auto& s : subs_)
        if (!s || !s->evaluate(object)) return false;
      return true;
    case Kind::Or:
      for (const auto& s : subs_)
        if (s && s->evaluate(object)) return true;
      return false;
    case Kind::Not: return subs_.empty() || !subs_[0] || !subs_[0]->evaluate(object);
    case Kind::Comparison: return evaluateComparison(*this, object);
  }
  return false;
}

fnd::Array filteredArray(const fnd::Array& objects, const Predicate& predicate) {
  fnd::Array out;
  for (const auto& o : objects)
    if (predicate.evaluate(o)) out.push_back(o);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Format text

namespace {

std::string quote(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') r += '\\';
    r += c;
  }
  return r + "\"";
}

// A real reads back as a real: "2" would come back as an integer, "inf" as a key path. Infinities
// are written as a literal that overflows to them.
std::string realText(double d) {
  if (std::isnan(d)) return "nil";
  if (std::isinf(d)) return d < 0 ? "-1e999" : "1e999";
  std::string r = fnd::numberText(d, 17);
  if (r.find_first_of(".e") == std::string::npos) r += ".0";
  return r;
}

std::string literal(const fnd::Value& v) {
  switch (v.type()) {
    case fnd::Value::Type::Null: return "nil";
    case fnd::Value::Type::Boolean: return v.boolValue() ? "TRUE" : "FALSE";
    case fnd::Value::Type::Integer: return std::to_string(v.intValue());
    case fnd::Value::Type::Real: return realText(v.doubleValue());
    case fnd::Value::Type::String: return quote(v.string());
    case fnd::Value::Type::Date:
      return "CAST(" + realText(v.date().timeIntervalSinceReferenceDate()) + ", \"NSDate\")";
    case fnd::Value::Type::Array: {
      std::string r = "{";
      bool first = true;
      for (const auto& e : v.array()) {
        if (!first) r += ", ";
        first = false;
        r += literal(e);
      }
      return r + "}";
    }
    default: return quote(v.description());
  }
}

// A key path is written with the "#" escape when, bare, it would read as a number or a keyword.
std::string keyPathText(const std::string& keyPath) {
  static const char* const kKeywords[] = {
      "ALL",  "AND", "ANY",  "CAST", "FALSE", "FALSEPREDICATE", "NIL", "NO",         "NONE",     "NOT",
      "NULL", "OR",  "SELF", "SOME", "TRUE",  "TRUEPREDICATE",  "YES", "CONTAINS",   "BEGINSWITH",
      "ENDSWITH", "LIKE", "MATCHES", "IN"};
  if (keyPath.empty()) return keyPath;
  const auto first = static_cast<unsigned char>(keyPath[0]);
  bool escape = !(fnd::isAsciiLetter(keyPath[0]) || first == '_' || first == '@' || first == '$' || first >= 0x80);
  // A bare "SELF." prefix is dropped on reading.
  escape = escape || (keyPath.size() > 5 && fnd::asciiHasPrefixIgnoringCase(keyPath, "SELF."));
  for (const char* keyword : kKeywords) {
    if (escape) break;
    escape = fnd::asciiEqualsIgnoringCase(keyPath, keyword);
  }
  return escape ? "#" + keyPath : keyPath;
}

std::string expressionText(const Expression& e) {
  switch (e.kind) {
    case Expression::Kind::Constant: return literal(e.constant);
    case Expression::Kind::Self: return "SELF";
    case Expression::Kind::KeyPath: return keyPathText(e.keyPath);
    case Expression::Kind::Function:
      // The argument is written as a string: it names a key path whatever characters it holds.
      return e.function + "(" + (e.keyPath.empty() ? literal(e.constant) : quote(e.keyPath)) + ")";
  }
  return "";
}

const char* operatorText(ComparisonOperator op) {
  switch (op) {
    case ComparisonOperator::Equal: return "==";
    case ComparisonOperator::NotEqual: return "!=";
    case ComparisonOperator::Less: return "<";
    case ComparisonOperator::LessOrEqual: return "<=";
    case ComparisonOperator::Greater: return ">";
    case ComparisonOperator::GreaterOrEqual: return ">=";
    case ComparisonOperator::Contains: return "CONTAINS";
    case ComparisonOperator::BeginsWith: return "BEGINSWITH";
    case ComparisonOperator::EndsWith: return "ENDSWITH";
    case ComparisonOperator::Like: return "LIKE";
    case ComparisonOperator::Matches: return "MATCHES";
    case ComparisonOperator::In: return "IN";
  }
  return "==";
}

}  // namespace

std::string Predicate::format() const {
  // Parentheses only where the structure needs them, so the written form nests no deeper than
  // the text it was read from (the parser bounds nesting).
  auto operand = [](const PredicateRef& p, bool parenthesiseAnd) {
    if (!p) return std::string("TRUEPREDICATE");
    const bool compound = p->kind_ == Kind::Or || (parenthesiseAnd && p->kind_ == Kind::And);
    return compound ? "(" + p->format() + ")" : p->format();
  };
  switch (kind_) {
    case Kind::True: return "TRUEPREDICATE";
    case Kind::False: return "FALSEPREDICATE";
    case Kind::Not: {
      const PredicateRef sub = subs_.empty() ? nullptr : subs_[0];
      if (sub && sub->kind_ == Kind::Comparison && sub->modifier_ == ComparisonModifier::Any)
        return "NONE " + sub->format().substr(4);  // "ANY ..." negated
      return "NOT " + operand(sub, true);
    }
    case Kind::And:
    case Kind::Or: {
      if (subs_.empty()) return kind_ == Kind::And ? "TRUEPREDICATE" : "FALSEPREDICATE";
      std::string r;
      for (std::size_t i = 0; i < subs_.size(); ++i) {
        if (i) r += kind_ == Kind::And ? " AND " : " OR ";
        // AND binds tighter than OR; a compound of the same kind would merge into this one.
        r += operand(subs_[i], kind_ == Kind::And);
      }
      return r;
    }
    case Kind::Comparison: {
      std::string r;
      if (modifier_ == ComparisonModifier::Any) r += "ANY ";
      if (modifier_ == ComparisonModifier::All) r += "ALL ";
      r += expressionText(left_) + " " + operatorText(op_);
      if (options_) r += std::string("[") + ((options_ & kCaseInsensitive) ? "c" : "") + ((options_ & kDiacriticInsensitive) ? "d" : "") + "]";
      return r + " " + expressionText(right_);
    }
  }
  return "";
}

}  // namespace kesto::store
