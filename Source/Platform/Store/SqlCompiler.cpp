// Translates predicates into SQL where the result is certain to equal the evaluator's; anything
// else is evaluated in memory.

#include "Platform/Store/StoreInternal.h"

#include <sqlite3.h>

#include <cctype>

namespace kesto::store {

namespace {

std::string column(const std::string& name) {
  std::string r = "Z";
  for (char c : name) r += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

// kesto_cmp(op, options, value, constant): the evaluator's string comparison, so folding and
// matching rules are the same in both places.
void cmpFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto op = static_cast<ComparisonOperator>(sqlite3_value_int(argv[0]));
  unsigned options = static_cast<unsigned>(sqlite3_value_int(argv[1]));
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

bool compileComparison(const Predicate& p, const EntityDescription& e, std::string& sql, std::vector<fnd::Value>& binds) {
  if (p.modifier() != ComparisonModifier::Direct) return false;
  if (p.left().kind != Expression::Kind::KeyPath || p.right().kind != Expression::Kind::Constant) return false;
  const AttributeDescription* a = e.attribute(p.left().keyPath);
  if (!a || a->transient || a->isLazy()) return false;
  std::string col = column(a->name);
  const fnd::Value& c = p.right().constant;
  ComparisonOperator op = p.op();
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
      bool ok = (isNumberType(a->type) && v.isNumber()) ||
                (a->type == AttributeType::String && v.isString() && p.options() == 0);
      if (!ok) return false;
      list += list.empty() ? "?" : ", ?";
      binds.push_back(v.isBoolean() ? fnd::Value(v.intValue()) : v);
    }
    sql = "(" + col + " IN (" + list + ") AND " + col + " IS NOT NULL)";
    return true;
  }
  const char* sop = sqlOperator(op);
  if (isNumberType(a->type)) {
    if (!sop || !c.isNumber()) return false;
    binds.push_back(c.isBoolean() ? fnd::Value(c.intValue()) : c);
  } else if (a->type == AttributeType::Date) {
    if (!sop || !c.isDate()) return false;
    binds.push_back(fnd::Value(c.date().timeIntervalSinceReferenceDate()));
  } else if (a->type == AttributeType::String) {
    if (!c.isString()) return false;
    if (!sop || p.options() != 0) {
      sql = "kesto_cmp(" + std::to_string(static_cast<int>(op)) + ", " + std::to_string(p.options()) + ", " + col + ", ?)";
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

}  // namespace

bool compilePredicate(const Predicate& p, const EntityDescription& e, std::string& sql, std::vector<fnd::Value>& binds) {
  switch (p.kind()) {
    case Predicate::Kind::True: sql = "1"; return true;
    case Predicate::Kind::False: sql = "0"; return true;
    case Predicate::Kind::Not: {
      if (p.subpredicates().empty() || !p.subpredicates()[0]) { sql = "0"; return true; }
      std::string inner;
      if (!compilePredicate(*p.subpredicates()[0], e, inner, binds)) return false;
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
        else if (!compilePredicate(*s, e, part, binds)) return false;
        if (!out.empty()) out += p.kind() == Predicate::Kind::And ? " AND " : " OR ";
        out += part;
      }
      sql = "(" + out + ")";
      return true;
    }
    case Predicate::Kind::Comparison: return compileComparison(p, e, sql, binds);
  }
  return false;
}

void registerSqlFunctions(void* db) {
  sqlite3_create_function_v2(static_cast<sqlite3*>(db), "kesto_cmp", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                             cmpFunction, nullptr, nullptr, nullptr);
}

}  // namespace kesto::store
