// The format-text parser of Predicate::parse.

#include "Platform/Store/Predicate.h"

#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/ObjectID.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <optional>
#include <vector>

namespace kesto::store {

namespace {

struct ParseFailure {
  std::string message;
};

// Predicates arrive in sync files and archives; the parser recurses on parentheses, NOT, braces
// and function calls, so a hostile text must not be able to exhaust the stack.
constexpr int kMaxNesting = 100;

enum class Tok { End, Ident, String, Number, Arg, KeyArg, LParen, RParen, LBrace, RBrace, Comma, Op, Options, Not, AndOp, OrOp };

struct Token {
  Tok type = Tok::End;
  std::string text;
  std::size_t pos = 0;
  bool escaped = false;  // written with "#": a key, never a keyword
};

// How many lists deep a value goes (iteratively: the value may come from anywhere).
int listDepth(const fnd::Value& v) {
  int deepest = 0;
  std::vector<std::pair<const fnd::Value*, int>> pending{{&v, 0}};
  while (!pending.empty()) {
    auto [value, depth] = pending.back();
    pending.pop_back();
    if (!value->isArray()) continue;
    deepest = std::max(deepest, depth + 1);
    if (deepest > kMaxNesting) break;
    for (const auto& e : value->array()) pending.push_back({&e, depth + 1});
  }
  return deepest;
}

bool isKeyPathCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return fnd::isAsciiLetterOrDigit(c) || c == '_' || c == '@' || c == '.' || c == '#' || c == '$' || u >= 0x80;
}

// "0x1.8p3": hexadecimal reals read as numbers too, as they always have.
std::optional<double> hexadecimalReal(std::string_view t) {
  const bool negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
  if (t.size() < 3 || t[0] != '0' || (t[1] != 'x' && t[1] != 'X') || t[2] == '-' || t[2] == '+') return std::nullopt;
  double d = 0;
  const auto r = std::from_chars(t.data() + 2, t.data() + t.size(), d, std::chars_format::hex);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return negative ? -d : d;
}

bool upperEquals(std::string_view a, const char* b) {
  std::size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (fnd::asciiUppercase(a[i]) != b[i]) return false;
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, const fnd::Array& args) : s_(text), args_(args) {}

  PredicateRef parseAll() {
    advance();
    PredicateRef p = parseOr();
    if (tok_.type != Tok::End) fail("unexpected \"" + tok_.text + "\"");
    return p;
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw ParseFailure{"Unable to parse the format string \"" + std::string(s_) + "\": " + what + " at " +
                       std::to_string(tok_.pos)};
  }

  void advance() { tok_ = lex(); }

  // Held while a rule that may recurse is active.
  struct Nesting {
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.depth_ > kMaxNesting) parser.fail("nested more than " + std::to_string(kMaxNesting) + " levels deep");
    }
    ~Nesting() { --parser.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    Parser& parser;
  };

  Token lex() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    Token t;
    t.pos = i_;
    if (i_ >= s_.size()) return t;
    char c = s_[i_];
    auto two = [&](const char* op) { return s_.compare(i_, 2, op) == 0; };
    if (c == '(') { ++i_; t.type = Tok::LParen; t.text = "("; return t; }
    if (c == ')') { ++i_; t.type = Tok::RParen; t.text = ")"; return t; }
    if (c == '{') { ++i_; t.type = Tok::LBrace; t.text = "{"; return t; }
    if (c == '}') { ++i_; t.type = Tok::RBrace; t.text = "}"; return t; }
    if (c == ',') { ++i_; t.type = Tok::Comma; t.text = ","; return t; }
    if (c == '[') {
      std::size_t end = s_.find(']', i_);
      if (end == std::string_view::npos) { tok_ = t; fail("unclosed \"[\""); }
      t.type = Tok::Options;
      t.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return t;
    }
    if (c == '%') {
      if (i_ + 1 < s_.size() && s_[i_ + 1] == '@') { i_ += 2; t.type = Tok::Arg; t.text = "%@"; return t; }
      if (i_ + 1 < s_.size() && s_[i_ + 1] == 'K') { i_ += 2; t.type = Tok::KeyArg; t.text = "%K"; return t; }
      // Numeric conversions (%d, %i, %f, %ld, %lld, %lu) take an argument too.
      std::size_t j = i_ + 1;
      while (j < s_.size() && (s_[j] == 'l' || s_[j] == 'q')) ++j;
      if (j < s_.size() && std::strchr("dDiuUfgeExX", s_[j])) { i_ = j + 1; t.type = Tok::Arg; t.text = "%d"; return t; }
      tok_ = t;
      fail("unknown argument \"%\"");
    }
    if (c == '"' || c == '\'') {
      ++i_;
      std::string out;
      while (i_ < s_.size() && s_[i_] != c) {
        if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
          char e = s_[++i_];
          out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
          ++i_;
          continue;
        }
        out += s_[i_++];
      }
      if (i_ >= s_.size()) { tok_ = t; fail("unterminated string"); }
      ++i_;
      t.type = Tok::String;
      t.text = std::move(out);
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        ((c == '-' || c == '+' || c == '.') && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
      std::size_t j = i_ + 1;
      while (j < s_.size() && (fnd::isAsciiLetterOrDigit(s_[j]) || s_[j] == '.' ||
                               ((s_[j] == '-' || s_[j] == '+') && (s_[j - 1] == 'e' || s_[j - 1] == 'E'))))
        ++j;
      t.type = Tok::Number;
      t.text = std::string(s_.substr(i_, j - i_));
      i_ = j;
      return t;
    }
    if (two("==") || two("!=") || two("<>") || two("<=") || two(">=") || two("=<") || two("=>")) {
      t.type = Tok::Op; t.text = std::string(s_.substr(i_, 2)); i_ += 2; return t;
    }
    if (two("&&")) { i_ += 2; t.type = Tok::AndOp; t.text = "&&"; return t; }
    if (two("||")) { i_ += 2; t.type = Tok::OrOp; t.text = "||"; return t; }
    if (c == '=' || c == '<' || c == '>') { t.type = Tok::Op; t.text = std::string(1, c); ++i_; return t; }
    if (c == '!') { ++i_; t.type = Tok::Not; t.text = "!"; return t; }
    if (fnd::isAsciiLetter(c) || c == '_' || c == '@' || c == '$' || c == '#' ||
        static_cast<unsigned char>(c) >= 0x80) {
      std::size_t j = i_;
      // A key path: identifiers joined by dots ("folder.folderID", "tags.@count").
      while (j < s_.size() && isKeyPathCharacter(s_[j])) ++j;
      t.text = std::string(s_.substr(i_, j - i_));
      i_ = j;
      if (t.text[0] == '#') {  // an escaped keyword used as a key
        t.text.erase(0, 1);
        t.escaped = true;
      }
      if (t.escaped) t.type = Tok::Ident;
      else if (upperEquals(t.text, "AND")) t.type = Tok::AndOp;
      else if (upperEquals(t.text, "OR")) t.type = Tok::OrOp;
      else if (upperEquals(t.text, "NOT")) t.type = Tok::Not;
      else t.type = Tok::Ident;
      return t;
    }
    tok_ = t;
    fail(std::string("unexpected character \"") + c + "\"");
  }

  PredicateRef parseOr() { return parseJoined(Tok::OrOp, &Parser::parseAnd, &Predicate::orPredicate); }

  PredicateRef parseAnd() { return parseJoined(Tok::AndOp, &Parser::parseNot, &Predicate::andPredicate); }

  // Operands joined by `op` into one compound; an operand without a joiner stands for itself.
  PredicateRef parseJoined(Tok op, PredicateRef (Parser::*operand)(),
                           PredicateRef (*compound)(std::vector<PredicateRef>)) {
    std::vector<PredicateRef> parts{(this->*operand)()};
    while (tok_.type == op) {
      advance();
      parts.push_back((this->*operand)());
    }
    return parts.size() == 1 ? parts[0] : compound(std::move(parts));
  }

  PredicateRef parseNot() {
    Nesting nesting(*this);
    if (tok_.type == Tok::Not) {
      advance();
      return Predicate::notPredicate(parseNot());
    }
    return parsePrimary();
  }

  PredicateRef parsePrimary() {
    if (tok_.type == Tok::LParen) {
      // Either a parenthesised predicate, or an expression in parentheses starting a comparison;
      // only the former is used, so parse a predicate.
      advance();
      PredicateRef p = parseOr();
      if (tok_.type != Tok::RParen) fail("expected \")\"");
      advance();
      return p;
    }
    if (tok_.type == Tok::Ident && !tok_.escaped && upperEquals(tok_.text, "TRUEPREDICATE")) { advance(); return Predicate::truePredicate(); }
    if (tok_.type == Tok::Ident && !tok_.escaped && upperEquals(tok_.text, "FALSEPREDICATE")) { advance(); return Predicate::falsePredicate(); }
    ComparisonModifier modifier = ComparisonModifier::Direct;
    bool negate = false;
    if (tok_.type == Tok::Ident && !tok_.escaped && (upperEquals(tok_.text, "ANY") || upperEquals(tok_.text, "SOME"))) {
      modifier = ComparisonModifier::Any;
      advance();
    } else if (tok_.type == Tok::Ident && !tok_.escaped && upperEquals(tok_.text, "ALL")) {
      modifier = ComparisonModifier::All;
      advance();
    } else if (tok_.type == Tok::Ident && !tok_.escaped && upperEquals(tok_.text, "NONE")) {
      modifier = ComparisonModifier::Any;
      negate = true;
      advance();
    }
    Expression left = parseExpression();
    ComparisonOperator op = parseOperator();
    unsigned options = 0;
    if (tok_.type == Tok::Options) {
      for (char c : tok_.text) {
        if (c == 'c' || c == 'C') options |= kCaseInsensitive;
        else if (c == 'd' || c == 'D') options |= kDiacriticInsensitive;
        else if (c == 'n' || c == 'l' || c == ' ') continue;
        else fail("unknown option \"" + tok_.text + "\"");
      }
      advance();
    }
    Expression right = parseExpression();
    PredicateRef p = Predicate::comparison(std::move(left), op, std::move(right), options, modifier);
    return negate ? Predicate::notPredicate(p) : p;
  }

  ComparisonOperator parseOperator() {
    if (tok_.type == Tok::Op) {
      std::string o = tok_.text;
      advance();
      if (o == "==" || o == "=") return ComparisonOperator::Equal;
      if (o == "!=" || o == "<>") return ComparisonOperator::NotEqual;
      if (o == "<") return ComparisonOperator::Less;
      if (o == "<=" || o == "=<") return ComparisonOperator::LessOrEqual;
      if (o == ">") return ComparisonOperator::Greater;
      return ComparisonOperator::GreaterOrEqual;
    }
    if (tok_.type == Tok::Ident) {
      struct { const char* word; ComparisonOperator op; } words[] = {
          {"CONTAINS", ComparisonOperator::Contains}, {"BEGINSWITH", ComparisonOperator::BeginsWith},
          {"ENDSWITH", ComparisonOperator::EndsWith}, {"LIKE", ComparisonOperator::Like},
          {"MATCHES", ComparisonOperator::Matches},   {"IN", ComparisonOperator::In},
      };
      for (auto& w : words)
        if (upperEquals(tok_.text, w.word)) {
          advance();
          return w.op;
        }
    }
    fail("expected a comparison operator");
  }

  const fnd::Value& nextArgument() {
    if (arg_ >= args_.size()) fail("missing argument");
    return args_[arg_++];
  }

  Expression parseExpression() {
    Nesting nesting(*this);
    switch (tok_.type) {
      case Tok::String: {
        Expression e = Expression::makeConstant(fnd::Value(tok_.text));
        advance();
        return e;
      }
      case Tok::Number: {
        std::string t = tok_.text;
        advance();
        char* end = nullptr;
        if (t.find_first_of(".eE") == std::string::npos) {
          long long v = std::strtoll(t.c_str(), &end, 0);
          if (end && *end == 0) return Expression::makeConstant(fnd::Value(v));
        }
        std::optional<double> d = fnd::numberFromText(t);
        if (!d) d = hexadecimalReal(t);
        if (!d) fail("bad number \"" + t + "\"");
        return Expression::makeConstant(fnd::Value(*d));
      }
      case Tok::Arg: {
        advance();
        fnd::Value v = nextArgument();
        // A list argument is written back as nested braces, which must read back too.
        if (depth_ + listDepth(v) > kMaxNesting) fail("argument nested too deeply");
        return Expression::makeConstant(std::move(v));
      }
      case Tok::KeyArg: {
        advance();
        const fnd::Value& v = nextArgument();
        // Only what could be written as a key path, so that the predicate can be written out.
        if (!v.isString() || v.string().empty() ||
            !std::all_of(v.string().begin(), v.string().end(), isKeyPathCharacter))
          fail("%K needs a key path");
        return Expression::makeKeyPath(v.string());
      }
      case Tok::LBrace: {
        advance();
        fnd::Array items;
        while (tok_.type != Tok::RBrace) {
          Expression e = parseExpression();
          if (e.kind != Expression::Kind::Constant) fail("only constants may appear in {}");
          items.push_back(e.constant);
          if (tok_.type == Tok::Comma) advance();
          else if (tok_.type != Tok::RBrace) fail("expected \",\" or \"}\"");
        }
        advance();
        return Expression::makeConstant(fnd::Value(std::move(items)));
      }
      case Tok::Ident: {
        std::string word = tok_.text;
        const bool escaped = tok_.escaped;
        advance();
        auto keyPath = [&](std::string path) {
          if (path.empty() || path.back() == '.' || path.front() == '.' || path.find("..") != std::string::npos)
            fail("bad key path \"" + path + "\"");
          return Expression::makeKeyPath(std::move(path));
        };
        if (escaped) return keyPath(std::move(word));
        if (upperEquals(word, "NIL") || upperEquals(word, "NULL")) return Expression::makeConstant(fnd::Value());
        if (upperEquals(word, "TRUE") || upperEquals(word, "YES")) return Expression::makeConstant(fnd::Value(true));
        if (upperEquals(word, "FALSE") || upperEquals(word, "NO")) return Expression::makeConstant(fnd::Value(false));
        if (upperEquals(word, "SELF")) return Expression::makeSelf();
        if (upperEquals(word, "CAST") && tok_.type == Tok::LParen) {
          // CAST(<seconds since 2001>, "NSDate"): how format() writes dates.
          advance();
          Expression value = parseExpression();
          if (tok_.type != Tok::Comma) fail("expected \",\" in CAST");
          advance();
          if (tok_.type != Tok::String || tok_.text != "NSDate") fail("CAST supports only \"NSDate\"");
          advance();
          if (tok_.type != Tok::RParen) fail("expected \")\"");
          advance();
          if (value.kind != Expression::Kind::Constant || !value.constant.isNumber()) fail("CAST needs a number");
          return Expression::makeConstant(fnd::Value(fnd::Date(value.constant.doubleValue())));
        }
        if (tok_.type == Tok::LParen) {
          // An aggregate function: min(keyPath) or min(%@) with a key path argument.
          const std::string fn = fnd::asciiLowercase(word);
          if (fn != "min" && fn != "max" && fn != "sum" && fn != "average" && fn != "avg" && fn != "count")
            fail("unknown function \"" + word + "\"");
          advance();
          Expression inner = parseExpression();
          if (tok_.type != Tok::RParen) fail("expected \")\"");
          advance();
          Expression e;
          e.kind = Expression::Kind::Function;
          e.function = fn;
          if (inner.kind == Expression::Kind::KeyPath) e.keyPath = inner.keyPath;
          else if (inner.kind == Expression::Kind::Constant && inner.constant.isString()) e.keyPath = inner.constant.string();
          else e.constant = inner.constant;
          return e;
        }
        // "SELF.name" reads as "name".
        if (word.size() > 5 && upperEquals(std::string_view(word).substr(0, 5), "SELF.")) word.erase(0, 5);
        return keyPath(std::move(word));
      }
      default:
        fail(tok_.type == Tok::End ? "unexpected end" : "unexpected \"" + tok_.text + "\"");
    }
  }

  std::string_view s_;
  const fnd::Array& args_;
  std::size_t i_ = 0;
  std::size_t arg_ = 0;
  int depth_ = 0;
  Token tok_;
};

}  // namespace

PredicateRef Predicate::parse(std::string_view format, const fnd::Array& arguments, fnd::Error* error) {
  // The parser signals failure internally with an exception that never leaves this function.
  try {
    Parser parser(format, arguments);
    return parser.parseAll();
  } catch (const ParseFailure& f) {
    if (error) *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, 2048, f.message);
    return nullptr;
  } catch (const std::exception& e) {
    if (error) *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, 2048, e.what());
    return nullptr;
  }
}

}  // namespace kesto::store
