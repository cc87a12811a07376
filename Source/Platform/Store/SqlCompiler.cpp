// Translates predicates into SQL where the result is certain to equal the evaluator's; anything
// else is evaluated in memory.

#include "Platform/Foundation/Strings.h"
#include "Platform/Store/ObjectID.h"
#include "Platform/Store/StoreInternal.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace kesto::store {

namespace {

std::string column(const std::string& name) {
  return "Z" + fnd::asciiUppercase(name);
}

// kesto_cmp(op, options, value, constant): the evaluator's string comparison, so folding and
// matching rules are the same in both places.
std::string_view textView(sqlite3_value* v) {
  auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// The substring tests of a search run once per row over the whole library: the constant is
// folded once per statement (kept as the argument's auxiliary data), and a row's ASCII text is
// folded into a reused buffer rather than into new strings. Same rules as compareScalar.
bool substringMatch(sqlite3_context* ctx, ComparisonOperator op, unsigned options, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[2]) == SQLITE_NULL || sqlite3_value_type(argv[3]) == SQLITE_NULL) return false;
  const std::string_view constant = textView(argv[3]);
  if (constant.empty()) return false;
  const auto* needle = static_cast<const std::string*>(sqlite3_get_auxdata(ctx, 3));
  std::string folded;
  if (!needle) {
    folded = foldString(constant, options);
    sqlite3_set_auxdata(ctx, 3, new std::string(folded), [](void* p) { delete static_cast<std::string*>(p); });
    needle = &folded;
  }
  std::string_view text = textView(argv[2]);
  thread_local std::string buffer;
  if (options) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
      buffer = foldString(text, options);
      text = buffer;
    } else if (options & kCaseInsensitive) {
      buffer.assign(text);
      for (char& c : buffer) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
      text = buffer;
    }
  }
  if (op == ComparisonOperator::Contains) return text.find(*needle) != std::string_view::npos;
  if (text.size() < needle->size()) return false;
  if (op == ComparisonOperator::BeginsWith) return text.compare(0, needle->size(), *needle) == 0;
  return text.compare(text.size() - needle->size(), needle->size(), *needle) == 0;
}

void cmpFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto op = static_cast<ComparisonOperator>(sqlite3_value_int(argv[0]));
  unsigned options = static_cast<unsigned>(sqlite3_value_int(argv[1]));
  if (op == ComparisonOperator::Contains || op == ComparisonOperator::BeginsWith || op == ComparisonOperator::EndsWith) {
    sqlite3_result_int(ctx, substringMatch(ctx, op, options, argv) ? 1 : 0);
    return;
  }
  auto text = [](sqlite3_value* v) -> fnd::Value {
    if (sqlite3_value_type(v) == SQLITE_NULL) return {};
    auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return fnd::Value(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v))));
  };
  sqlite3_result_int(ctx, compareScalar(text(argv[2]), op, text(argv[3]), options) ? 1 : 0);
}

bool isNumberType(AttributeType t) {
  switch (t) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Boolean:
    case AttributeType::Double:
    case AttributeType::Float: return true;
    default: return false;
  }
}

const char* sqlOperator(ComparisonOperator op) {
  switch (op) {
    case ComparisonOperator::Equal: return "=";
    case ComparisonOperator::NotEqual: return "<>";
    case ComparisonOperator::Less: return "<";
    case ComparisonOperator::LessOrEqual: return "<=";
    case ComparisonOperator::Greater: return ">";
    case ComparisonOperator::GreaterOrEqual: return ">=";
    default: return nullptr;
  }
}

// One plain attribute's column (`col`, qualified as the query needs) against a constant.
bool compileColumnComparison(const AttributeDescription& a, const std::string& col, ComparisonOperator op,
                             const fnd::Value& c, unsigned options, std::string& sql, std::vector<fnd::Value>& binds) {
  if (a.transient || a.isLazy()) return false;
  if (c.isNull()) {
    if (op == ComparisonOperator::Equal) { sql = "(" + col + " IS NULL)"; return true; }
    if (op == ComparisonOperator::NotEqual) { sql = "(" + col + " IS NOT NULL)"; return true; }
    if (sqlOperator(op)) { sql = "0"; return true; }  // ordering against nil is never true
    return false;
  }
  if (op == ComparisonOperator::In) {
    if (!c.isArray() || c.array().empty() || c.array().size() > 500) return false;
    std::string list;
    for (const auto& v : c.array()) {
      bool ok = (isNumberType(a.type) && v.isNumber()) ||
                (a.type == AttributeType::String && v.isString() && options == 0);
      if (!ok) return false;
      list += list.empty() ? "?" : ", ?";
      binds.push_back(v.isBoolean() ? fnd::Value(v.intValue()) : v);
    }
    sql = "(" + col + " IN (" + list + ") AND " + col + " IS NOT NULL)";
    return true;
  }
  const char* sop = sqlOperator(op);
  if (isNumberType(a.type)) {
    if (!sop || !c.isNumber()) return false;
    binds.push_back(c.isBoolean() ? fnd::Value(c.intValue()) : c);
  } else if (a.type == AttributeType::Date) {
    if (!sop || !c.isDate()) return false;
    binds.push_back(fnd::Value(c.date().timeIntervalSinceReferenceDate()));
  } else if (a.type == AttributeType::String) {
    if (!c.isString()) return false;
    if (!sop || options != 0) {
      sql = "kesto_cmp(" + std::to_string(static_cast<int>(op)) + ", " + std::to_string(options) + ", " + col + ", ?)";
      binds.push_back(c);
      return true;
    }
    binds.push_back(c);
  } else {
    return false;
  }
  // A missing value equals nothing and fails every ordering; "!=" holds for it. Written as a
  // plain comparison ANDed with a null test (never NULL, so NOT stays right), which lets SQLite
  // answer it from the column's index.
  if (op == ComparisonOperator::NotEqual)
    sql = "(" + col + " <> ? OR " + col + " IS NULL)";
  else
    sql = "(" + col + " " + sop + " ? AND " + col + " IS NOT NULL)";
  return true;
}

// "ANY toMany.attribute op constant" as a test of the row's key against the relationship's rows.
// The evaluator sees the members' values without the missing ones (a key path over a set drops
// them), so a member without a value never matches, whatever the operator.
bool compileAnyMember(const Predicate& p, const EntityDescription& e, std::string& sql, std::vector<fnd::Value>& binds) {
  const std::string& path = p.left().keyPath;
  const auto dot = path.find('.');
  if (dot == std::string::npos || path.find('.', dot + 1) != std::string::npos) return false;
  const int rel = e.relationshipIndex(std::string_view(path).substr(0, dot));
  if (rel < 0 || !e.relationships()[rel].toMany) return false;
  const EntityDescription* d = e.destination(rel);
  const AttributeDescription* a = d ? d->attribute(std::string_view(path).substr(dot + 1)) : nullptr;
  if (!a || p.right().constant.isNull()) return false;
  const std::string member = "kesto_member." + column(a->name);
  std::string test;
  std::vector<fnd::Value> testBinds;
  if (!compileColumnComparison(*a, member, p.op(), p.right().constant, p.options(), test, testBinds)) return false;
  // As the keys of the owners of the matching members, found once: the members are few next to
  // the rows tested (a service's bookmarks among the library), so SQLite looks the owners up by
  // key instead of probing the members for every row. Never NULL, so NOT stays right.
  std::string owners;
  if (auto join = joinColumnsFor(e, rel)) {
    owners = "SELECT kesto_pair." + join->mine + " FROM " + join->table + " AS kesto_pair JOIN " + d->tableName() +
             " AS kesto_member ON kesto_member.Z_PK = kesto_pair." + join->theirs + " WHERE kesto_pair." + join->mine +
             " IS NOT NULL";
  } else {
    const int inverse = e.inverseIndex(rel);
    if (inverse < 0) return false;
    const std::string owner = "kesto_member." + storeColumnName(d->relationships()[inverse].name);
    owners = "SELECT " + owner + " FROM " + d->tableName() + " AS kesto_member WHERE " + owner + " IS NOT NULL";
  }
  sql = "(Z_PK IN (" + owners + " AND " + member + " IS NOT NULL AND " + test + "))";
  binds.insert(binds.end(), testBinds.begin(), testBinds.end());
  return true;
}

// A to-one relationship against nil, or equal to a stored object (or its ID) of the store read,
// as its key column: the evaluator compares the related object's ID.
bool compileToOne(const Predicate& p, const EntityDescription& e, int rel, const std::string* storeIdentifier,
                  std::string& sql, std::vector<fnd::Value>& binds) {
  const std::string col = column(e.relationships()[rel].name);
  const fnd::Value& c = p.right().constant;
  if (c.isNull()) {
    if (p.op() == ComparisonOperator::Equal) { sql = "(" + col + " IS NULL)"; return true; }
    if (p.op() == ComparisonOperator::NotEqual) { sql = "(" + col + " IS NOT NULL)"; return true; }
    return false;
  }
  if (p.op() != ComparisonOperator::Equal || !storeIdentifier || !c.isObject()) return false;
  ObjectIDRef id;
  if (dynamic_cast<const ObjectID*>(c.object().get())) id = std::static_pointer_cast<const ObjectID>(c.object());
  else if (auto* object = dynamic_cast<const ManagedObject*>(c.object().get())) id = object->objectID();
  if (!id || id->isTemporaryID() || id->primaryKey() <= 0 || id->entity() != e.destination(rel) ||
      id->storeIdentifier() != *storeIdentifier)
    return false;
  sql = "(" + col + " = ? AND " + col + " IS NOT NULL)";
  binds.push_back(fnd::Value(id->primaryKey()));
  return true;
}

bool compileComparison(const Predicate& p, const EntityDescription& e, std::string& sql, std::vector<fnd::Value>& binds,
                       const std::string* storeIdentifier) {
  if (p.right().kind != Expression::Kind::Constant || p.left().kind != Expression::Kind::KeyPath) return false;
  if (p.modifier() == ComparisonModifier::Any) return compileAnyMember(p, e, sql, binds);
  if (p.modifier() != ComparisonModifier::Direct) return false;
  if (const int rel = e.relationshipIndex(p.left().keyPath); rel >= 0 && !e.relationships()[rel].toMany)
    return compileToOne(p, e, rel, storeIdentifier, sql, binds);
  const AttributeDescription* a = e.attribute(p.left().keyPath);
  if (!a) return false;
  return compileColumnComparison(*a, column(a->name), p.op(), p.right().constant, p.options(), sql, binds);
}

}  // namespace

bool compileSortOrder(const std::vector<SortDescriptor>& sorts, const EntityDescription& e, std::string& sql) {
  // Missing values sort lowest in both; SQLite orders NULL below every number as well.
  std::string out;
  for (const auto& d : sorts) {
    const AttributeDescription* a = e.attribute(d.keyPath);
    if (!a || a->transient || a->isLazy() || !(isNumberType(a->type) || a->type == AttributeType::Date)) return false;
    out += (out.empty() ? "ORDER BY " : ", ") + column(a->name) + (d.ascending ? "" : " DESC");
  }
  sql = out + (out.empty() ? "ORDER BY Z_PK" : ", Z_PK");
  return true;
}

bool compilePredicate(const Predicate& p, const EntityDescription& e, std::string& sql, std::vector<fnd::Value>& binds,
                      const std::string* storeIdentifier) {
  switch (p.kind()) {
    case Predicate::Kind::True: sql = "1"; return true;
    case Predicate::Kind::False: sql = "0"; return true;
    case Predicate::Kind::Not: {
      if (p.subpredicates().empty() || !p.subpredicates()[0]) { sql = "0"; return true; }
      std::string inner;
      if (!compilePredicate(*p.subpredicates()[0], e, inner, binds, storeIdentifier)) return false;
      sql = "(NOT " + inner + ")";
      return true;
    }
    case Predicate::Kind::And:
    case Predicate::Kind::Or: {
      if (p.subpredicates().empty()) { sql = p.kind() == Predicate::Kind::And ? "1" : "0"; return true; }
      std::string out;
      for (const auto& s : p.subpredicates()) {
        std::string part;
        if (!s) part = "1";
        else if (!compilePredicate(*s, e, part, binds, storeIdentifier)) return false;
        if (!out.empty()) out += p.kind() == Predicate::Kind::And ? " AND " : " OR ";
        out += part;
      }
      sql = "(" + out + ")";
      return true;
    }
    case Predicate::Kind::Comparison: return compileComparison(p, e, sql, binds, storeIdentifier);
  }
  return false;
}

void entitiesReachedBySql(const Predicate& p, const EntityDescription& e, std::vector<const EntityDescription*>& out) {
  if (p.kind() != Predicate::Kind::Comparison) {
    for (const auto& s : p.subpredicates())
      if (s) entitiesReachedBySql(*s, e, out);
    return;
  }
  if (p.modifier() != ComparisonModifier::Any || p.left().kind != Expression::Kind::KeyPath) return;
  const std::string& path = p.left().keyPath;
  const int rel = e.relationshipIndex(std::string_view(path).substr(0, path.find('.')));
  if (rel >= 0 && e.relationships()[rel].toMany)
    if (const EntityDescription* d = e.destination(rel)) out.push_back(d);
}

void registerSqlFunctions(void* db) {
  sqlite3_create_function_v2(static_cast<sqlite3*>(db), "kesto_cmp", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                             cmpFunction, nullptr, nullptr, nullptr);
}

}  // namespace kesto::store
