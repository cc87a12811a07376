#include "Platform/Foundation/PropertyList.h"

#include "Platform/Foundation/Base64.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/XmlDocument.h"

#include <QByteArray>
#include <QString>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <unordered_map>

namespace kesto::fnd {
namespace {

void failPlist(Error* error, long code, const std::string& description) {
  if (error) *error = Error::withDescription(PropertyList::kErrorDomain, code, description);
}

std::string formatReal(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
  return shortestNumberText(d);
}

// ISO 8601 in UTC, whole seconds, as the XML format writes dates.
std::string formatDate(Date date) {
  const double t = std::floor(date.timeIntervalSince1970());
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::optional<Date> parseDate(std::string_view text) {
  const std::string s(text);
  int y = 0, mo = 1, d = 1, h = 0, mi = 0, sec = 0;
  char z = 0;
  int n = 0;
  const int got = std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d%c%n", &y, &mo, &d, &h, &mi, &sec, &z, &n);
  if (got != 7 || z != 'Z' || static_cast<std::size_t>(n) != s.size()) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = sec;
  return Date::withTimeIntervalSince1970(static_cast<double>(timegm(&tm)));
}

std::optional<Value> parseInteger(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  std::string_view t = text.substr(b, e - b);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return std::nullopt;
  std::uint64_t u = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), u, base);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  if (negative) {
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) return std::nullopt;
    return Value(static_cast<long long>(-static_cast<std::int64_t>(u - 1) - 1));
  }
  // Unsigned values past the signed range can only be kept as reals.
  if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return Value(static_cast<double>(u));
  return Value(static_cast<long long>(u));
}

std::optional<double> parseReal(std::string_view text) {
  std::string s(text);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  std::size_t b = 0;
  while (b < s.size() && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  s = s.substr(b);
  const std::string word = asciiLowercase(s);
  if (word == "nan" || word == "+nan" || word == "-nan") return std::nan("");
  if (word == "+infinity" || word == "infinity" || word == "inf" || word == "+inf")
    return std::numeric_limits<double>::infinity();
  if (word == "-infinity" || word == "-inf") return -std::numeric_limits<double>::infinity();
  return numberFromText(s);
}

// ---- XML reading

class XmlReader {
 public:
  explicit XmlReader(Error* error) : error_(error) {}

  std::optional<Value> read(const XmlNode& n, int depth) {
    if (depth > PropertyList::kMaxDepth) return bad("The property list is nested too deeply.");
    const std::string name = n.name();
    if (name == "dict") {
      Dictionary d;
      std::optional<std::string> key;
      for (const XmlNode& c : n.elementChildren()) {
        if (!key) {
          if (c.name() != "key") return bad("Expected a key in a dictionary, found <" + c.name() + ">.");
          key = c.stringValue();
          continue;
        }
        auto v = read(c, depth + 1);
        if (!v) return std::nullopt;
        d[*key] = std::move(*v);
        key.reset();
      }
      if (key) return bad("A dictionary key has no value.");
      return Value(std::move(d));
    }
    if (name == "array") {
      Array a;
      for (const XmlNode& c : n.elementChildren()) {
        auto v = read(c, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    if (name == "string" || name == "key") return Value(n.stringValue());
    if (name == "integer") {
      auto v = parseInteger(n.stringValue());
      if (!v) return bad("Invalid integer \"" + n.stringValue() + "\".");
      return v;
    }
    if (name == "real") {
      auto d = parseReal(n.stringValue());
      if (!d) return bad("Invalid real \"" + n.stringValue() + "\".");
      return Value(*d);
    }
    if (name == "true") return Value(true);
    if (name == "false") return Value(false);
    if (name == "date") {
      auto d = parseDate(n.stringValue());
      if (!d) return bad("Invalid date \"" + n.stringValue() + "\".");
      return Value(*d);
    }
    if (name == "data") {
      std::string text = n.stringValue();
      std::string compact;
      compact.reserve(text.size());
      for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
      auto r = base64::decode(compact);
      if (!r) return bad("Invalid base64 data.");
      return Value(std::move(*r));
    }
    return bad("Unknown property list element <" + name + ">.");
  }

 private:
  std::optional<Value> bad(const std::string& message) {
    failPlist(error_, PropertyList::kReadCorruptError, message);
    return std::nullopt;
  }
  Error* error_;
};

std::optional<Value> readXml(std::string_view bytes, Error* error) {
  Error xmlError;
  auto doc = XmlDocument::parse(bytes, 0, &xmlError, PropertyList::kMaxInputBytes);
  if (!doc) {
    failPlist(error, PropertyList::kReadCorruptError, "The property list is not valid XML: " + xmlError.localizedDescription());
    return std::nullopt;
  }
  XmlNode root = doc->rootElement();
  if (root.name() == "plist") {
    auto elements = root.elementChildren();
    if (elements.size() != 1) {
      failPlist(error, PropertyList::kReadCorruptError, "A property list holds exactly one value.");
      return std::nullopt;
    }
    root = elements.front();
  }
  return XmlReader(error).read(root, 0);
}

// ---- XML writing

void escapeInto(std::string& out, std::string_view s) {
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;  // a raw CR would be read back as LF
      default:
        // XML cannot carry other control characters at all, not even as references.
        if (c < 0x20 && c != '\t' && c != '\n') break;
        out += ch;
    }
  }
}

class XmlWriter {
 public:
  explicit XmlWriter(Error* error) : error_(error) {}
  std::string out;

  bool write(const Value& v, int depth) {
    if (depth > PropertyList::kMaxDepth) return bad("The value is nested too deeply.");
    indent(depth);
    switch (v.type()) {
      case Value::Type::Boolean: out += v.boolValue() ? "<true/>\n" : "<false/>\n"; return true;
      case Value::Type::Integer: out += "<integer>" + std::to_string(v.intValue()) + "</integer>\n"; return true;
      case Value::Type::Real: out += "<real>" + formatReal(v.doubleValue()) + "</real>\n"; return true;
      case Value::Type::Date: out += "<date>" + formatDate(v.date()) + "</date>\n"; return true;
      case Value::Type::String:
        if (!isValidUtf8(v.string())) return bad("A string is not valid UTF-8.");
        out += "<string>";
        escapeInto(out, v.string());
        out += "</string>\n";
        return true;
      case Value::Type::Data: {
        const Data& d = v.data();
        const std::string b64 = base64::encode(d);
        out += "<data>\n";
        for (std::size_t i = 0; i < b64.size(); i += 68) {
          indent(depth);
          out.append(b64, i, 68);
          out += '\n';
        }
        indent(depth);
        out += "</data>\n";
        return true;
      }
      case Value::Type::Array:
        return writeContainer("array", v.array().empty(), depth, [&] {
          for (const Value& e : v.array())
            if (!write(e, depth + 1)) return false;
          return true;
        });
      case Value::Type::Dictionary:
        return writeContainer("dict", v.dictionary().empty(), depth, [&] {
          for (const auto& [k, e] : v.dictionary()) {
            if (!isValidUtf8(k)) return bad("A dictionary key is not valid UTF-8.");
            indent(depth + 1);
            out += "<key>";
            escapeInto(out, k);
            out += "</key>\n";
            if (!write(e, depth + 1)) return false;
          }
          return true;
        });
      case Value::Type::Null: return bad("Property lists cannot hold null values.");
      case Value::Type::Object: return bad("Property lists cannot hold objects.");
    }
    return bad("Invalid property list value.");
  }

 private:
  void indent(int depth) { out.append(static_cast<std::size_t>(depth), '\t'); }
  // "<tag/>" when empty; else "<tag>", what `members` writes, and "</tag>" indented to `depth`.
  bool writeContainer(std::string_view tag, bool empty, int depth, const std::function<bool()>& members) {
    if (empty) {
      out.append("<").append(tag).append("/>\n");
      return true;
    }
    out.append("<").append(tag).append(">\n");
    if (!members()) return false;
    indent(depth);
    out.append("</").append(tag).append(">\n");
    return true;
  }
  bool bad(const std::string& message) {
    failPlist(error_, PropertyList::kWriteInvalidError, message);
    return false;
  }
  Error* error_;
};

// ---- Binary reading

class BinaryReader {
 public:
  BinaryReader(std::string_view bytes, Error* error)
      : p_(reinterpret_cast<const std::uint8_t*>(bytes.data())), size_(bytes.size()), error_(error) {}

  std::optional<Value> read() {
    if (size_ < 8 + 32 || std::memcmp(p_, "bplist0", 7) != 0) return bad("Not a binary property list.");
    const std::uint8_t* t = p_ + size_ - 32;
    offsetSize_ = t[6];
    refSize_ = t[7];
    count_ = be(t + 8, 8);
    const std::uint64_t top = be(t + 16, 8);
    tableOffset_ = be(t + 24, 8);
    const std::uint64_t trailerStart = size_ - 32;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return bad("Invalid trailer.");
    if (count_ == 0 || top >= count_ || tableOffset_ < 8 || tableOffset_ > trailerStart ||
        count_ > (trailerStart - tableOffset_) / offsetSize_)
      return bad("Invalid object table.");
    cache_.assign(static_cast<std::size_t>(count_), std::nullopt);
    onPath_.assign(static_cast<std::size_t>(count_), false);
    return object(top, 0);
  }

 private:
  static std::uint64_t be(const std::uint8_t* q, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v << 8 | q[i];
    return v;
  }
  std::optional<Value> bad(const std::string& message) {
    failPlist(error_, PropertyList::kReadCorruptError, message);
    return std::nullopt;
  }
  // Whether [offset, offset + n) lies in the object area.
  bool inObjects(std::uint64_t offset, std::uint64_t n) const {
    return offset >= 8 && offset <= tableOffset_ && n <= tableOffset_ - offset;
  }

  // The length that follows a marker's low nibble: the nibble itself, or an integer object.
  bool length(std::uint8_t info, std::uint64_t& at, std::uint64_t& len) {
    if (info != 0x0F) {
      len = info;
      return true;
    }
    if (!inObjects(at, 1) || (p_[at] & 0xF0) != 0x10) return false;
    const std::uint64_t n = 1ull << (p_[at] & 0x0F);
    if (n > 8 || !inObjects(at + 1, n)) return false;
    len = be(p_ + at + 1, n);
    at += 1 + n;
    return true;
  }

  std::optional<Value> object(std::uint64_t index, int depth) {
    if (index >= count_) return bad("Object reference out of range.");
    if (cache_[index]) return cache_[index];
    if (onPath_[index]) return bad("The property list refers to itself.");
    if (depth > PropertyList::kMaxDepth) return bad("The property list is nested too deeply.");
    onPath_[index] = true;
    auto v = decode(be(p_ + tableOffset_ + index * offsetSize_, offsetSize_), depth);
    onPath_[index] = false;
    // Shared objects decode once; containers are shared values, so a DAG cannot blow up.
    if (v) cache_[index] = v;
    return v;
  }

  std::optional<Value> decode(std::uint64_t at, int depth) {
    if (!inObjects(at, 1)) return bad("Object offset out of range.");
    const std::uint8_t marker = p_[at];
    const std::uint8_t info = marker & 0x0F;
    ++at;
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x08) return Value(false);
        if (marker == 0x09) return Value(true);
        if (marker == 0x00) return Value();
        return bad("Unknown object type.");
      case 0x1: {
        if (info > 4) return bad("Invalid integer size.");
        const std::uint64_t n = 1ull << info;
        if (!inObjects(at, n)) return bad("Integer out of range.");
        if (n == 16) {
          // 128-bit: only values that fit 64 bits unsigned are kept.
          if (be(p_ + at, 8) != 0) return bad("Integer too large.");
          const std::uint64_t u = be(p_ + at + 8, 8);
          if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return Value(static_cast<double>(u));
          return Value(static_cast<long long>(u));
        }
        const std::uint64_t u = be(p_ + at, n);
        // 8-byte integers are signed; shorter ones are unsigned.
        return Value(static_cast<long long>(n == 8 ? static_cast<std::int64_t>(u) : static_cast<std::int64_t>(u)));
      }
      case 0x2: {
        if (info == 2 && inObjects(at, 4)) {
          const std::uint32_t u = static_cast<std::uint32_t>(be(p_ + at, 4));
          float f;
          std::memcpy(&f, &u, 4);
          return Value(static_cast<double>(f));
        }
        if (info == 3 && inObjects(at, 8)) return Value(bitsToDouble(be(p_ + at, 8)));
        return bad("Invalid real.");
      }
      case 0x3:
        if (marker != 0x33 || !inObjects(at, 8)) return bad("Invalid date.");
        return Value(Date(bitsToDouble(be(p_ + at, 8))));
      case 0x4: {
        std::uint64_t len;
        if (!length(info, at, len) || !inObjects(at, len)) return bad("Data out of range.");
        return Value(Data(p_ + at, p_ + at + len));
      }
      case 0x5: {
        std::uint64_t len;
        if (!length(info, at, len) || !inObjects(at, len)) return bad("String out of range.");
        std::string_view s(reinterpret_cast<const char*>(p_ + at), len);
        if (isValidUtf8(s)) return Value(s);
        const QByteArray u = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())).toUtf8();
        return Value(u.toStdString());
      }
      case 0x6: {
        std::uint64_t len;
        if (!length(info, at, len) || len > tableOffset_ || !inObjects(at, len * 2)) return bad("String out of range.");
        std::u16string units(static_cast<std::size_t>(len), u'\0');
        for (std::uint64_t i = 0; i < len; ++i) units[i] = static_cast<char16_t>(be(p_ + at + 2 * i, 2));
        const QByteArray u = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toUtf8();
        return Value(u.toStdString());
      }
      case 0x8: {
        const std::uint64_t n = info + 1u;
        if (!inObjects(at, n)) return bad("UID out of range.");
        return Value(Dictionary{{"CF$UID", Value(static_cast<long long>(be(p_ + at, n)))}});
      }
      case 0xA:
      case 0xC: {
        std::uint64_t len;
        if (!length(info, at, len) || len > tableOffset_ || !inObjects(at, len * refSize_))
          return bad("Array out of range.");
        Array a;
        a.reserve(static_cast<std::size_t>(len));
        for (std::uint64_t i = 0; i < len; ++i) {
          auto e = object(be(p_ + at + i * refSize_, refSize_), depth + 1);
          if (!e) return std::nullopt;
          a.push_back(std::move(*e));
        }
        return Value(std::move(a));
      }
      case 0xD: {
        std::uint64_t len;
        if (!length(info, at, len) || len > tableOffset_ || !inObjects(at, 2 * len * refSize_))
          return bad("Dictionary out of range.");
        Dictionary d;
        for (std::uint64_t i = 0; i < len; ++i) {
          auto k = object(be(p_ + at + i * refSize_, refSize_), depth + 1);
          if (!k) return std::nullopt;
          if (!k->isString()) return bad("A dictionary key is not a string.");
          auto v = object(be(p_ + at + (len + i) * refSize_, refSize_), depth + 1);
          if (!v) return std::nullopt;
          d[k->string()] = std::move(*v);
        }
        return Value(std::move(d));
      }
      default:
        return bad("Unknown object type.");
    }
  }

  static double bitsToDouble(std::uint64_t u) {
    double d;
    std::memcpy(&d, &u, 8);
    return d;
  }

  const std::uint8_t* p_;
  std::uint64_t size_;
  Error* error_;
  unsigned offsetSize_ = 0, refSize_ = 0;
  std::uint64_t count_ = 0, tableOffset_ = 0;
  std::vector<std::optional<Value>> cache_;
  std::vector<bool> onPath_;
};

// ---- Binary writing

class BinaryWriter {
 public:
  explicit BinaryWriter(Error* error) : error_(error) {}

  std::optional<Data> write(const Value& root) {
    // First flatten to objects so the reference size is known, then encode.
    const auto top = flatten(root, 0);
    if (!top) return std::nullopt;
    const std::uint64_t count = objects_.size();
    refSize_ = bytesFor(count);
    out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Obj& o : objects_) {
      offsets.push_back(out_.size());
      encode(o);
    }
    const std::uint64_t tableOffset = out_.size();
    const unsigned offsetSize = bytesFor(tableOffset);
    for (std::uint64_t off : offsets) put(off, offsetSize);
    for (int i = 0; i < 6; ++i) out_.push_back(0);
    out_.push_back(static_cast<std::uint8_t>(offsetSize));
    out_.push_back(static_cast<std::uint8_t>(refSize_));
    put(count, 8);
    put(*top, 8);
    put(tableOffset, 8);
    return std::move(out_);
  }

 private:
  struct Obj {
    Value value;
    std::vector<std::uint64_t> refs;  // array elements, or dictionary keys then values
  };

  static unsigned bytesFor(std::uint64_t v) {
    if (v <= 0xFF) return 1;
    if (v <= 0xFFFF) return 2;
    if (v <= 0xFFFFFFFFull) return 4;
    return 8;
  }

  std::optional<std::uint64_t> stringObject(const std::string& s) {
    if (!isValidUtf8(s)) return badRef("A string is not valid UTF-8.");
    auto it = strings_.find(s);
    if (it != strings_.end()) return it->second;
    objects_.push_back(Obj{Value(s), {}});
    strings_.emplace(s, objects_.size() - 1);
    return objects_.size() - 1;
  }

  std::optional<std::uint64_t> flatten(const Value& v, int depth) {
    if (depth > PropertyList::kMaxDepth) return badRef("The value is nested too deeply.");
    switch (v.type()) {
      case Value::Type::Null: return badRef("Property lists cannot hold null values.");
      case Value::Type::Object: return badRef("Property lists cannot hold objects.");
      case Value::Type::String: return stringObject(v.string());
      case Value::Type::Array: {
        const std::size_t index = objects_.size();
        objects_.push_back(Obj{v, {}});
        std::vector<std::uint64_t> refs;
        for (const Value& e : v.array()) {
          auto r = flatten(e, depth + 1);
          if (!r) return std::nullopt;
          refs.push_back(*r);
        }
        objects_[index].refs = std::move(refs);
        return index;
      }
      case Value::Type::Dictionary: {
        const std::size_t index = objects_.size();
        objects_.push_back(Obj{v, {}});
        std::vector<std::uint64_t> keys, values;
        for (const auto& [k, e] : v.dictionary()) {
          auto kr = stringObject(k);
          if (!kr) return std::nullopt;
          auto vr = flatten(e, depth + 1);
          if (!vr) return std::nullopt;
          keys.push_back(*kr);
          values.push_back(*vr);
        }
        keys.insert(keys.end(), values.begin(), values.end());
        objects_[index].refs = std::move(keys);
        return index;
      }
      default:
        objects_.push_back(Obj{v, {}});
        return objects_.size() - 1;
    }
  }

  void put(std::uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void putDouble(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    put(u, 8);
  }
  void marker(std::uint8_t type, std::uint64_t len) {
    if (len < 15) {
      out_.push_back(static_cast<std::uint8_t>(type << 4 | len));
      return;
    }
    out_.push_back(static_cast<std::uint8_t>(type << 4 | 0x0F));
    const unsigned n = bytesFor(len);
    out_.push_back(static_cast<std::uint8_t>(0x10 | (n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3)));
    put(len, n);
  }

  void encode(const Obj& o) {
    const Value& v = o.value;
    switch (v.type()) {
      case Value::Type::Boolean: out_.push_back(v.boolValue() ? 0x09 : 0x08); break;
      case Value::Type::Integer: {
        const std::int64_t i = v.intValue();
        // Negative values always take 8 bytes: shorter integers read back as unsigned.
        const unsigned n = i < 0 ? 8 : bytesFor(static_cast<std::uint64_t>(i));
        out_.push_back(static_cast<std::uint8_t>(0x10 | (n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3)));
        put(static_cast<std::uint64_t>(i), n);
        break;
      }
      case Value::Type::Real: out_.push_back(0x23); putDouble(v.doubleValue()); break;
      case Value::Type::Date: out_.push_back(0x33); putDouble(v.date().timeIntervalSinceReferenceDate()); break;
      case Value::Type::Data:
        marker(0x4, v.data().size());
        out_.insert(out_.end(), v.data().begin(), v.data().end());
        break;
      case Value::Type::String: {
        const std::string& s = v.string();
        if (isAscii(s)) {
          marker(0x5, s.size());
          out_.insert(out_.end(), s.begin(), s.end());
        } else {
          const QString q = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
          marker(0x6, static_cast<std::uint64_t>(q.size()));
          for (QChar c : q) put(c.unicode(), 2);
        }
        break;
      }
      case Value::Type::Array:
        marker(0xA, o.refs.size());
        for (std::uint64_t r : o.refs) put(r, refSize_);
        break;
      case Value::Type::Dictionary:
        marker(0xD, o.refs.size() / 2);
        for (std::uint64_t r : o.refs) put(r, refSize_);
        break;
      default: break;
    }
  }

  std::optional<std::uint64_t> badRef(const std::string& message) {
    failPlist(error_, PropertyList::kWriteInvalidError, message);
    return std::nullopt;
  }

  Error* error_;
  std::vector<Obj> objects_;
  std::unordered_map<std::string, std::uint64_t> strings_;
  unsigned refSize_ = 1;
  Data out_;
};

}  // namespace

std::optional<Value> PropertyList::read(std::string_view bytes, PropertyListFormat* format, Error* error) {
  if (bytes.size() > kMaxInputBytes) {
    failPlist(error, kReadCorruptError, "The property list is too large to read.");
    return std::nullopt;
  }
  if (bytes.substr(0, 7) == "bplist0") {
    if (format) *format = PropertyListFormat::Binary;
    return BinaryReader(bytes, error).read();
  }
  if (format) *format = PropertyListFormat::Xml;
  return readXml(bytes, error);
}

std::optional<Value> PropertyList::read(const Data& bytes, PropertyListFormat* format, Error* error) {
  return read(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), format, error);
}

std::optional<Data> PropertyList::write(const Value& value, PropertyListFormat format, Error* error) {
  if (format == PropertyListFormat::Binary) return BinaryWriter(error).write(value);
  if (format != PropertyListFormat::Xml) {
    failPlist(error, kWriteInvalidError, "The OpenStep property-list format cannot be written.");
    return std::nullopt;
  }
  XmlWriter w(error);
  w.out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  if (!w.write(value, 0)) return std::nullopt;
  w.out += "</plist>\n";
  return Data(w.out.begin(), w.out.end());
}

bool PropertyList::isValid(const Value& value) { return BinaryWriter(nullptr).write(value).has_value(); }

}  // namespace kesto::fnd
