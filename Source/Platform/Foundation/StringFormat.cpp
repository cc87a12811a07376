#include "Platform/Foundation/StringFormat.h"

#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cstdio>
#include <locale.h>

namespace kesto::fnd {

namespace {

// Pads or cuts an object or string argument; widths count characters, not bytes.
std::string padText(std::string s, int width, int precision, bool left) {
  if (precision >= 0 && utf16Length(s) > precision) s = substringTo(s, precision);
  std::int64_t len = utf16Length(s);
  if (width > len) {
    std::string pad(static_cast<std::size_t>(width - len), ' ');
    s = left ? s + pad : pad + s;
  }
  return s;
}

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  std::string length;
  char conv = 0;
};

std::string cspec(const Spec& s, const char* lengthAndConv) {
  std::string f = "%" + s.flags;
  if (s.width >= 0) f += std::to_string(s.width);
  if (s.precision >= 0) f += "." + std::to_string(s.precision);
  f += lengthAndConv;
  return f;
}

template <typename T>
std::string printfOne(const std::string& spec, T v) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, spec.c_str(), v);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), spec.c_str(), v);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

// printf's reals follow the thread's locale ("1,5" in German once Qt has set it from the
// environment): written in the C locale's form, whatever the process's.
std::string printfReal(const std::string& spec, double v) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  const locale_t previous = cLocale ? uselocale(cLocale) : nullptr;
  std::string out = printfOne(spec, v);
  if (previous) uselocale(previous);
  return out;
}

std::int64_t asInteger(const Value& v) {
  if (v.isReal()) {
    double d = v.doubleValue();
    if (d != d) return 0;
    if (d >= 9.2233720368547758e18) return INT64_MAX;
    if (d <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<std::int64_t>(d);
  }
  return v.intValue();
}

// Widths, precisions and positions are bounded, so a huge number in a format cannot ask for a huge
// buffer or wrap around to a small one.
constexpr int kFieldLimit = 4096;

// The arguments, and the next one a directive without a position takes.
class Arguments {
 public:
  explicit Arguments(const std::vector<Value>& values) : values_(values) {}
  // Null when the format asks for more arguments than were given.
  const Value* at(std::size_t index) const { return index < values_.size() ? &values_[index] : nullptr; }
  const Value* next() { return at(next_++); }
  std::int64_t nextInteger() {
    const Value* v = next();
    return asInteger(v ? *v : nullValue());
  }

 private:
  const std::vector<Value>& values_;
  std::size_t next_ = 0;
};

// Reads a format left to right.
struct Scanner {
  std::string_view text;
  std::size_t pos = 0;

  bool more() const { return pos < text.size(); }
  bool at(char c) const { return more() && text[pos] == c; }
  bool atDigit() const { return more() && text[pos] >= '0' && text[pos] <= '9'; }
  bool atOneOf(std::string_view set) const { return more() && set.find(text[pos]) != std::string_view::npos; }
  bool skip(char c) { return at(c) ? (++pos, true) : false; }
  int number() {
    int n = 0;
    while (atDigit()) n = std::min(n * 10 + (text[pos++] - '0'), kFieldLimit);
    return n;
  }
};

// "n$": the 1-based argument the directive names, or 0 (and nothing read) when it names none.
std::size_t readPosition(Scanner& s) {
  Scanner ahead = s;
  int n = ahead.number();
  if (ahead.pos == s.pos || !ahead.at('$') || n == 0) return 0;
  s.pos = ahead.pos + 1;
  return static_cast<std::size_t>(n);
}

void readFlags(Scanner& s, Spec& spec) {
  // The thousands flag "'" is read and ignored.
  for (; s.atOneOf("-+ #0'"); ++s.pos)
    if (s.text[s.pos] != '\'') spec.flags += s.text[s.pos];
}

void readWidth(Scanner& s, Arguments& args, Spec& spec) {
  if (s.skip('*')) {
    std::int64_t w = args.nextInteger();
    // A negative width argument means left-justified.
    if (w < 0) spec.flags += '-';
    std::uint64_t magnitude = w < 0 ? 0 - static_cast<std::uint64_t>(w) : static_cast<std::uint64_t>(w);
    spec.width = static_cast<int>(std::min<std::uint64_t>(magnitude, kFieldLimit));
  } else if (s.atDigit()) {
    spec.width = s.number();
  }
}

void readPrecision(Scanner& s, Arguments& args, Spec& spec) {
  if (!s.skip('.')) return;
  if (s.skip('*')) {
    // A negative precision argument is taken as if there were none.
    std::int64_t p = args.nextInteger();
    spec.precision = p < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(p, kFieldLimit));
  } else {
    spec.precision = s.number();
  }
}

void readLength(Scanner& s, Spec& spec) {
  while (s.atOneOf("hlqLzjt")) spec.length += s.text[s.pos++];
}

bool isConversion(char c) { return std::string_view("@dDiuUxXoOcCsSfFeEgGaAp").find(c) != std::string_view::npos; }

// Without a length, or with "h"/"hh", integers take the width of an int, a short or a char, as a
// C argument of that type would.
bool isWide(const Spec& s) { return !s.length.empty() && s.length != "h" && s.length != "hh"; }

std::string formatSigned(const Spec& s, const Value& v) {
  std::int64_t n = asInteger(v);
  if (!isWide(s) && s.conv != 'D') n = static_cast<std::int32_t>(n);
  if (s.length == "h") n = static_cast<std::int16_t>(n);
  if (s.length == "hh") n = static_cast<std::int8_t>(n);
  return printfOne(cspec(s, "lld"), static_cast<long long>(n));
}

std::string formatUnsigned(const Spec& s, const Value& v) {
  auto n = static_cast<std::uint64_t>(asInteger(v));
  if (!isWide(s) && s.conv != 'U' && s.conv != 'O') n = static_cast<std::uint32_t>(n);
  if (s.length == "h") n = static_cast<std::uint16_t>(n);
  if (s.length == "hh") n = static_cast<std::uint8_t>(n);
  char conv = s.conv == 'U' ? 'u' : s.conv == 'O' ? 'o' : s.conv;
  std::string lengthAndConv = std::string("ll") + conv;
  return printfOne(cspec(s, lengthAndConv.c_str()), static_cast<unsigned long long>(n));
}

std::string formatArgument(const Spec& s, const Value& v) {
  bool left = s.flags.find('-') != std::string::npos;
  switch (s.conv) {
    case '@': return padText(describe(v), s.width, -1, left);
    case 's':
    case 'S': return padText(v.isString() ? v.string() : describe(v), s.width, s.precision, left);
    case 'c':
    case 'C': {
      std::string ch;
      appendUtf8(ch, static_cast<std::uint32_t>(asInteger(v)));
      return padText(ch, s.width, -1, left);
    }
    case 'd':
    case 'i':
    case 'D': return formatSigned(s, v);
    case 'u':
    case 'U':
    case 'x':
    case 'X':
    case 'o':
    case 'O': return formatUnsigned(s, v);
    case 'p': return printfOne(cspec(s, "llx"), static_cast<unsigned long long>(asInteger(v)));
    default: {
      std::string conv(1, s.conv);
      return printfReal(cspec(s, conv.c_str()), v.doubleValue());
    }
  }
}

}  // namespace

std::string describe(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null: return "(null)";
    case Value::Type::Boolean: return v.boolValue() ? "1" : "0";
    case Value::Type::Integer: return std::to_string(v.intValue());
    case Value::Type::Real: return shortestNumberText(v.doubleValue());
    case Value::Type::String: return v.string();
    case Value::Type::Date: return v.date().description();
    case Value::Type::Object: return v.object()->description();
    default: return v.description();
  }
}

std::string formatValues(std::string_view fmt, const std::vector<Value>& args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  Arguments arguments(args);
  Scanner s{fmt};
  while (s.more()) {
    std::size_t percent = std::min(fmt.find('%', s.pos), fmt.size());
    out.append(fmt.substr(s.pos, percent - s.pos));
    s.pos = percent;
    if (!s.skip('%')) break;
    if (s.skip('%')) {
      out += '%';
      continue;
    }
    const std::size_t start = percent;
    Spec spec;
    std::size_t position = readPosition(s);
    readFlags(s, spec);
    readWidth(s, arguments, spec);
    readPrecision(s, arguments, spec);
    readLength(s, spec);
    if (!s.more()) {
      // A directive cut short by the end of the format is copied as it stands.
      out.append(fmt.substr(start));
      break;
    }
    spec.conv = fmt[s.pos++];
    if (!isConversion(spec.conv)) {
      out.append(fmt.substr(start, s.pos - start));
      continue;
    }
    const Value* v = position ? arguments.at(position - 1) : arguments.next();
    if (v) out += formatArgument(spec, *v);
  }
  return out;
}

}  // namespace kesto::fnd
