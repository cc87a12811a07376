#include "Platform/Foundation/StringFormat.h"

#include "Platform/Foundation/Strings.h"

#include <charconv>
#include <cstdio>

namespace kesto::fnd {

namespace {

std::string shortestReal(double d) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

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

}  // namespace

std::string describe(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null: return "(null)";
    case Value::Type::Boolean: return v.boolValue() ? "1" : "0";
    case Value::Type::Integer: return std::to_string(v.intValue());
    case Value::Type::Real: return shortestReal(v.doubleValue());
    case Value::Type::String: return v.string();
    case Value::Type::Date: return v.date().description();
    case Value::Type::Object: return v.object()->description();
    default: return v.description();
  }
}

std::string formatValues(std::string_view fmt, const std::vector<Value>& args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  std::size_t next = 0;  // next sequential argument
  auto arg = [&](std::size_t index, bool& ok) -> const Value& {
    ok = index < args.size();
    return ok ? args[index] : nullValue();
  };
  std::size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t start = i++;
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Spec s;
    // Positional "n$".
    std::size_t position = 0;
    {
      std::size_t j = i;
      std::size_t n = 0;
      while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') n = n * 10 + static_cast<std::size_t>(fmt[j++] - '0');
      if (j > i && j < fmt.size() && fmt[j] == '$' && n > 0) {
        position = n;
        i = j + 1;
      }
    }
    while (i < fmt.size() && std::string_view("-+ #0'").find(fmt[i]) != std::string_view::npos) {
      if (fmt[i] != '\'') s.flags += fmt[i];
      ++i;
    }
    bool ok = true;
    if (i < fmt.size() && fmt[i] == '*') {
      ++i;
      std::int64_t w = asInteger(arg(next++, ok));
      if (w < 0) {
        s.flags += '-';
        w = -w;
      }
      s.width = static_cast<int>(std::min<std::int64_t>(w, 4096));
    } else {
      int w = 0;
      bool any = false;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        w = std::min(w * 10 + (fmt[i++] - '0'), 4096);
        any = true;
      }
      if (any) s.width = w;
    }
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (i < fmt.size() && fmt[i] == '*') {
        ++i;
        std::int64_t p = asInteger(arg(next++, ok));
        s.precision = p < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(p, 4096));
      } else {
        int p = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') p = std::min(p * 10 + (fmt[i++] - '0'), 4096);
        s.precision = p;
      }
    }
    while (i < fmt.size() && std::string_view("hlqLzjt").find(fmt[i]) != std::string_view::npos) s.length += fmt[i++];
    if (i >= fmt.size()) {
      out.append(fmt.substr(start));
      break;
    }
    s.conv = fmt[i++];
    bool known = std::string_view("@dDiuUxXoOcCsSfFeEgGaAp").find(s.conv) != std::string_view::npos;
    if (!known) {
      out.append(fmt.substr(start, i - start));
      continue;
    }
    const Value& v = arg(position ? position - 1 : next, ok);
    if (!position) ++next;
    if (!ok) continue;
    bool wide = !s.length.empty() && s.length != "h" && s.length != "hh";
    bool left = s.flags.find('-') != std::string::npos;
    switch (s.conv) {
      case '@': out += padText(describe(v), s.width, -1, left); break;
      case 's':
      case 'S': out += padText(v.isString() ? v.string() : describe(v), s.width, s.precision, left); break;
      case 'c':
      case 'C': {
        std::string ch;
        appendUtf8(ch, static_cast<std::uint32_t>(asInteger(v)));
        out += padText(ch, s.width, -1, left);
        break;
      }
      case 'd':
      case 'i':
      case 'D': {
        std::int64_t n = asInteger(v);
        if (!wide && s.conv != 'D') n = static_cast<std::int32_t>(n);
        if (s.length == "h") n = static_cast<std::int16_t>(n);
        if (s.length == "hh") n = static_cast<std::int8_t>(n);
        out += printfOne(cspec(s, "lld"), static_cast<long long>(n));
        break;
      }
      case 'u':
      case 'U':
      case 'x':
      case 'X':
      case 'o':
      case 'O': {
        auto n = static_cast<std::uint64_t>(asInteger(v));
        if (!wide && s.conv != 'U' && s.conv != 'O') n = static_cast<std::uint32_t>(n);
        if (s.length == "h") n = static_cast<std::uint16_t>(n);
        if (s.length == "hh") n = static_cast<std::uint8_t>(n);
        char conv = s.conv == 'U' ? 'u' : s.conv == 'O' ? 'o' : s.conv;
        std::string lc = std::string("ll") + conv;
        out += printfOne(cspec(s, lc.c_str()), static_cast<unsigned long long>(n));
        break;
      }
      case 'p': out += printfOne(cspec(s, "llx"), static_cast<unsigned long long>(asInteger(v))); break;
      default: {
        std::string conv(1, s.conv);
        out += printfOne(cspec(s, conv.c_str()), v.doubleValue());
        break;
      }
    }
  }
  return out;
}

}  // namespace kesto::fnd
