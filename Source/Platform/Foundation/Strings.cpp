#include "Platform/Foundation/Strings.h"

#include "Platform/Foundation/IcuSupport.h"
#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/NumberText.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <map>
#include <unordered_map>
#include <memory>

namespace kesto::fnd {

using icu::UnicodeString;

namespace {

const icu::Normalizer2* nfd() {
  UErrorCode ec = U_ZERO_ERROR;
  return icu::Normalizer2::getNFDInstance(ec);
}
const icu::Normalizer2* nfc() {
  UErrorCode ec = U_ZERO_ERROR;
  return icu::Normalizer2::getNFCInstance(ec);
}

bool isWhitespace(UChar32 c) { return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR; }
bool isNewline(UChar32 c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

// Folds one code point under the [c]/[d] options into `out`.
void foldCodePointSlow(UChar32 c, unsigned options, UnicodeString& out) {
  UnicodeString s(c);
  if (options & DiacriticInsensitiveSearch) {
    UErrorCode ec = U_ZERO_ERROR;
    UnicodeString d = nfd()->normalize(s, ec);
    if (U_SUCCESS(ec)) s = d;
  }
  if (options & CaseInsensitiveSearch) s.foldCase(U_FOLD_CASE_DEFAULT);
  if (options & DiacriticInsensitiveSearch) {
    UnicodeString kept;
    for (int32_t i = 0; i < s.length();) {
      UChar32 ch = s.char32At(i);
      if (u_charType(ch) != U_NON_SPACING_MARK) kept.append(ch);
      i += U16_LENGTH(ch);
    }
    s = kept;
  }
  out.append(s);
}

// Predicates fold every row they test, so folded code points are remembered per thread.
void foldCodePoint(UChar32 c, unsigned options, UnicodeString& out) {
  if (c < 0x80) {
    out.append((options & CaseInsensitiveSearch) && c >= 'A' && c <= 'Z' ? c + 32 : c);
    return;
  }
  thread_local std::unordered_map<std::uint64_t, UnicodeString> cache;
  std::uint64_t key = (static_cast<std::uint64_t>(c) << 8) |
                      (options & (CaseInsensitiveSearch | DiacriticInsensitiveSearch));
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() > 8192) cache.clear();
    UnicodeString folded;
    foldCodePointSlow(c, options, folded);
    it = cache.emplace(key, folded).first;
  }
  out.append(it->second);
}

// The folded text plus, for each folded unit, the index of the source unit it came from
// (with one extra entry for the end).
struct Folded {
  UnicodeString text;
  std::vector<int32_t> source;
};

Folded foldWithMap(const UnicodeString& in, unsigned options) {
  Folded f;
  for (int32_t i = 0; i < in.length();) {
    UChar32 c = in.char32At(i);
    int32_t before = f.text.length();
    if (options & (CaseInsensitiveSearch | DiacriticInsensitiveSearch))
      foldCodePoint(c, options, f.text);
    else
      f.text.append(c);
    for (int32_t k = before; k < f.text.length(); ++k) f.source.push_back(i);
    i += U16_LENGTH(c);
  }
  f.source.push_back(in.length());
  return f;
}

UnicodeString foldPlain(const UnicodeString& in, unsigned options) {
  if (!(options & (CaseInsensitiveSearch | DiacriticInsensitiveSearch))) return in;
  UnicodeString out;
  for (int32_t i = 0; i < in.length();) {
    UChar32 c = in.char32At(i);
    foldCodePoint(c, options, out);
    i += U16_LENGTH(c);
  }
  return out;
}

UnicodeString prepared(std::string_view s, unsigned options) {
  UnicodeString u = detail::toUnicode(s);
  if (!(options & LiteralSearch)) {
    UErrorCode ec = U_ZERO_ERROR;
    UnicodeString n = nfc()->normalize(u, ec);
    if (U_SUCCESS(ec)) u = n;
  }
  return u;
}

ComparisonResult fromInt(int r) {
  return r < 0 ? ComparisonResult::Ascending : r > 0 ? ComparisonResult::Descending : ComparisonResult::Same;
}

bool isAsciiDigit(UChar c) { return c >= '0' && c <= '9'; }

// For ASCII text every option reduces to at most lower-casing, and byte order is UTF-16 order.
std::string asciiFolded(std::string_view s, unsigned options) {
  std::string out(s);
  if (options & CaseInsensitiveSearch)
    for (char& c : out) c = asciiLowercase(c);
  return out;
}

// Code-unit comparison where runs of ASCII digits compare by numeric value.
int compareNumeric(const UnicodeString& a, const UnicodeString& b) {
  int32_t i = 0, j = 0;
  while (i < a.length() && j < b.length()) {
    if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
      int32_t si = i, sj = j;
      while (si < a.length() && a[si] == '0') ++si;
      while (sj < b.length() && b[sj] == '0') ++sj;
      int32_t ei = si, ej = sj;
      while (ei < a.length() && isAsciiDigit(a[ei])) ++ei;
      while (ej < b.length() && isAsciiDigit(b[ej])) ++ej;
      if (ei - si != ej - sj) return (ei - si) < (ej - sj) ? -1 : 1;
      for (int32_t k = 0; k < ei - si; ++k)
        if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.length()) return 1;
  if (j < b.length()) return -1;
  return 0;
}

icu::Collator* collatorFor(std::string_view localeId, bool caseInsensitive) {
  thread_local std::map<std::string, std::unique_ptr<icu::Collator>, std::less<>> cache;
  std::string key = std::string(localeId.empty() ? Locale::current().identifier() : std::string(localeId));
  key += caseInsensitive ? "|ci" : "|cs";
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  UErrorCode ec = U_ZERO_ERROR;
  std::string id = key.substr(0, key.size() - 3);
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale::createFromName(id.c_str()), ec));
  if (U_FAILURE(ec) || !c) {
    ec = U_ZERO_ERROR;
    c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), ec));
    if (U_FAILURE(ec)) c.reset();
  }
  if (c) c->setStrength(caseInsensitive ? icu::Collator::SECONDARY : icu::Collator::TERTIARY);
  auto* raw = c.get();
  cache.emplace(std::move(key), std::move(c));
  return raw;
}

std::vector<UChar32> codePoints(std::string_view s) {
  std::vector<UChar32> out;
  UnicodeString u = detail::toUnicode(s);
  for (int32_t i = 0; i < u.length();) {
    UChar32 c = u.char32At(i);
    out.push_back(c);
    i += U16_LENGTH(c);
  }
  return out;
}

template <typename Pred>
std::string trimIf(std::string_view s, Pred keepOut) {
  UnicodeString u = detail::toUnicode(s);
  int32_t start = 0, end = u.length();
  while (start < end) {
    UChar32 c = u.char32At(start);
    if (!keepOut(c)) break;
    start += U16_LENGTH(c);
  }
  while (end > start) {
    UChar32 c = u.char32At(end - 1);
    if (!keepOut(c)) break;
    end -= U16_LENGTH(c);
  }
  return detail::toUtf8(u.tempSubStringBetween(start, end));
}

}  // namespace

// --- UTF-8 / UTF-16 ---------------------------------------------------------------------------

bool isAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    UChar32 cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string makeValidUtf8(std::string_view s) {
  if (isValidUtf8(s)) return std::string(s);
  return detail::toUtf8(detail::toUnicode(s));
}

std::u16string toUtf16(std::string_view utf8) {
  UnicodeString u = detail::toUnicode(utf8);
  return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length()));
}

std::string fromUtf16(std::u16string_view utf16) {
  UnicodeString u(reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()));
  return detail::toUtf8(u);
}

std::int64_t utf16Length(std::string_view s) {
  std::int64_t n = 0;
  bool ascii = true;
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    ++n;
  }
  if (ascii) return n;
  return detail::toUnicode(s).length();
}

std::string substring(std::string_view s, Range range) {
  UnicodeString u = detail::toUnicode(s);
  std::int64_t len = u.length();
  std::int64_t start = std::clamp<std::int64_t>(range.location, 0, len);
  std::int64_t end = range.length > len - start ? len : start + std::max<std::int64_t>(range.length, 0);
  return detail::toUtf8(u.tempSubStringBetween(static_cast<int32_t>(start), static_cast<int32_t>(end)));
}

std::string substringFrom(std::string_view s, std::int64_t i) {
  return substring(s, Range{i, std::numeric_limits<std::int64_t>::max() / 2});
}

std::string substringTo(std::string_view s, std::int64_t i) { return substring(s, Range{0, i}); }

std::string reversed(std::string_view s) {
  UnicodeString u = detail::toUnicode(s);
  u.reverse();
  return detail::toUtf8(u);
}

// --- Searching --------------------------------------------------------------------------------

Range rangeOf(std::string_view haystack, std::string_view needle, unsigned options) {
  if (needle.empty() || haystack.empty()) return Range::notFound();
  if (isAscii(haystack) && isAscii(needle)) {
    std::string h = asciiFolded(haystack, options), n = asciiFolded(needle, options);
    std::size_t at;
    if (options & AnchoredSearch) {
      std::size_t from = (options & BackwardsSearch) ? (h.size() >= n.size() ? h.size() - n.size() : 0) : 0;
      at = h.compare(from, n.size(), n) == 0 && h.size() >= n.size() ? from : std::string::npos;
    } else {
      at = (options & BackwardsSearch) ? h.rfind(n) : h.find(n);
    }
    if (at == std::string::npos) return Range::notFound();
    return Range{static_cast<std::int64_t>(at), static_cast<std::int64_t>(n.size())};
  }
  UnicodeString h = detail::toUnicode(haystack);
  UnicodeString n = foldPlain(detail::toUnicode(needle), options);
  if (n.isEmpty()) return Range::notFound();
  Folded f = foldWithMap(h, options);
  int32_t produced = f.text.length();
  // A match must begin and end on whole source characters ("ss" may not take half of "ß").
  auto whole = [&](int32_t at) {
    int32_t end = at + n.length();
    bool startOk = at == 0 || f.source[at] != f.source[at - 1];
    bool endOk = end == produced || f.source[end] != f.source[end - 1];
    return startOk && endOk;
  };
  int32_t at = -1;
  if (options & AnchoredSearch) {
    int32_t candidate = (options & BackwardsSearch) ? produced - n.length() : 0;
    if (candidate >= 0 && f.text.compare(candidate, n.length(), n) == 0 && whole(candidate)) at = candidate;
  } else if (options & BackwardsSearch) {
    for (int32_t from = produced; from >= 0;) {
      int32_t c = f.text.lastIndexOf(n, 0, from);
      if (c < 0) break;
      if (whole(c)) {
        at = c;
        break;
      }
      from = c + n.length() - 1;
    }
  } else {
    for (int32_t from = 0; from < produced;) {
      int32_t c = f.text.indexOf(n, from);
      if (c < 0) break;
      if (whole(c)) {
        at = c;
        break;
      }
      from = c + 1;
    }
  }
  if (at < 0) return Range::notFound();
  int32_t start = f.source[at];
  int32_t end = f.source[at + n.length()];
  return Range{start, end - start};
}

bool contains(std::string_view haystack, std::string_view needle, unsigned options) {
  if (options == 0 || options == LiteralSearch)
    return !needle.empty() && haystack.find(needle) != std::string_view::npos;
  return !rangeOf(haystack, needle, options).isNotFound();
}

bool hasPrefix(std::string_view s, std::string_view prefix) {
  return !prefix.empty() && s.substr(0, prefix.size()) == prefix;
}

bool hasSuffix(std::string_view s, std::string_view suffix) {
  return !suffix.empty() && s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool beginsWith(std::string_view s, std::string_view prefix, unsigned options) {
  if (prefix.empty()) return false;
  return foldPlain(prepared(s, options), options).startsWith(foldPlain(prepared(prefix, options), options));
}

bool endsWith(std::string_view s, std::string_view suffix, unsigned options) {
  if (suffix.empty()) return false;
  return foldPlain(prepared(s, options), options).endsWith(foldPlain(prepared(suffix, options), options));
}

// --- Comparing --------------------------------------------------------------------------------

ComparisonResult compare(std::string_view a, std::string_view b, unsigned options) {
  if (isAscii(a) && isAscii(b)) {
    std::string fa = asciiFolded(a, options), fb = asciiFolded(b, options);
    if (options & NumericSearch) return fromInt(compareNumeric(detail::toUnicode(fa), detail::toUnicode(fb)));
    return fromInt(fa.compare(fb));
  }
  UnicodeString ua = foldPlain(prepared(a, options), options);
  UnicodeString ub = foldPlain(prepared(b, options), options);
  if (options & NumericSearch) return fromInt(compareNumeric(ua, ub));
  return fromInt(ua.compare(ub));
}

ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
  return compare(a, b, CaseInsensitiveSearch);
}

namespace {

// The locale's order, or the plain comparison (ignoring case as asked) where it has no collator.
ComparisonResult collate(std::string_view a, std::string_view b, std::string_view localeId, bool caseInsensitive) {
  icu::Collator* c = collatorFor(localeId, caseInsensitive);
  if (!c) return compare(a, b, caseInsensitive ? unsigned{CaseInsensitiveSearch} : 0u);
  UErrorCode ec = U_ZERO_ERROR;
  return fromInt(static_cast<int>(c->compare(detail::toUnicode(a), detail::toUnicode(b), ec)));
}

}  // namespace

ComparisonResult localizedCompare(std::string_view a, std::string_view b, std::string_view localeId) {
  return collate(a, b, localeId, false);
}

ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b, std::string_view localeId) {
  return collate(a, b, localeId, true);
}

bool equals(std::string_view a, std::string_view b, unsigned options) {
  if (!(options & (CaseInsensitiveSearch | DiacriticInsensitiveSearch)) && a == b) return true;
  return compare(a, b, options) == ComparisonResult::Same;
}

// --- Case and normalisation -------------------------------------------------------------------

std::string foldCase(std::string_view s) {
  UnicodeString u = detail::toUnicode(s);
  u.foldCase(U_FOLD_CASE_DEFAULT);
  return detail::toUtf8(u);
}

std::string foldDiacritics(std::string_view s) { return fold(s, DiacriticInsensitiveSearch); }

std::string fold(std::string_view s, unsigned options) {
  if (isAscii(s)) return asciiFolded(s, options);
  UnicodeString u = foldPlain(detail::toUnicode(s), options);
  UErrorCode ec = U_ZERO_ERROR;
  UnicodeString n = nfc()->normalize(u, ec);
  return detail::toUtf8(U_SUCCESS(ec) ? n : u);
}

std::string uppercase(std::string_view s, std::string_view localeId) {
  UnicodeString u = detail::toUnicode(s);
  u.toUpper(icu::Locale::createFromName(std::string(localeId).c_str()));
  return detail::toUtf8(u);
}

std::string lowercase(std::string_view s, std::string_view localeId) {
  UnicodeString u = detail::toUnicode(s);
  u.toLower(icu::Locale::createFromName(std::string(localeId).c_str()));
  return detail::toUtf8(u);
}

std::string asciiUppercase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = asciiUppercase(c);
  return r;
}

std::string asciiLowercase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = asciiLowercase(c);
  return r;
}

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && asciiHasPrefixIgnoringCase(a, b);
}

bool asciiHasPrefixIgnoringCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (asciiLowercase(s[i]) != asciiLowercase(prefix[i])) return false;
  return true;
}

std::string capitalized(std::string_view s, std::string_view localeId) {
  std::string id = localeId.empty() ? Locale::current().identifier() : std::string(localeId);
  UnicodeString u = detail::toUnicode(s);
  u.toTitle(nullptr, icu::Locale::createFromName(id.c_str()));
  return detail::toUtf8(u);
}

std::string uppercaseFirst(std::string_view s) {
  UnicodeString u = detail::toUnicode(s);
  if (u.isEmpty()) return {};
  UChar32 c = u.char32At(0);
  int32_t n = U16_LENGTH(c);
  UnicodeString first = u.tempSubString(0, n);
  first.toUpper(icu::Locale::getRoot());
  return detail::toUtf8(first) + detail::toUtf8(u.tempSubString(n));
}

std::string normalizeNFC(std::string_view s) {
  UErrorCode ec = U_ZERO_ERROR;
  UnicodeString n = nfc()->normalize(detail::toUnicode(s), ec);
  return U_SUCCESS(ec) ? detail::toUtf8(n) : std::string(s);
}

std::string normalizeNFD(std::string_view s) {
  UErrorCode ec = U_ZERO_ERROR;
  UnicodeString n = nfd()->normalize(detail::toUnicode(s), ec);
  return U_SUCCESS(ec) ? detail::toUtf8(n) : std::string(s);
}

std::string transliterate(std::string_view s, std::string_view transformId) {
  thread_local std::map<std::string, std::unique_ptr<icu::Transliterator>, std::less<>> cache;
  auto it = cache.find(transformId);
  if (it == cache.end()) {
    UErrorCode ec = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(detail::toUnicode(transformId), UTRANS_FORWARD, ec));
    if (U_FAILURE(ec)) t.reset();
    it = cache.emplace(std::string(transformId), std::move(t)).first;
  }
  if (!it->second) return std::string(s);
  UnicodeString u = detail::toUnicode(s);
  it->second->transliterate(u);
  return detail::toUtf8(u);
}

// --- Trimming, splitting, replacing -----------------------------------------------------------

std::string trimWhitespace(std::string_view s) { return trimIf(s, isWhitespace); }

std::string trimWhitespaceAndNewlines(std::string_view s) {
  return trimIf(s, [](UChar32 c) { return isWhitespace(c) || isNewline(c); });
}

std::string trimCharacters(std::string_view s, std::string_view chars) {
  std::vector<UChar32> set = codePoints(chars);
  return trimIf(s, [&](UChar32 c) { return std::find(set.begin(), set.end(), c) != set.end(); });
}

std::vector<std::string> split(std::string_view s, std::string_view separator) {
  std::vector<std::string> out;
  if (separator.empty()) {
    out.emplace_back(s);
    return out;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t at = s.find(separator, start);
    if (at == std::string_view::npos) break;
    out.emplace_back(s.substr(start, at - start));
    start = at + separator.size();
  }
  out.emplace_back(s.substr(start));
  return out;
}

std::vector<std::string> splitAny(std::string_view s, std::string_view chars) {
  std::vector<UChar32> set = codePoints(chars);
  bool asciiOnly = std::all_of(set.begin(), set.end(), [](UChar32 c) { return c < 0x80; });
  std::vector<std::string> out;
  if (asciiOnly) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (std::find(set.begin(), set.end(), static_cast<UChar32>(static_cast<unsigned char>(s[i]))) != set.end()) {
        out.emplace_back(s.substr(start, i - start));
        start = i + 1;
      }
    }
    out.emplace_back(s.substr(start));
    return out;
  }
  UnicodeString u = detail::toUnicode(s);
  int32_t start = 0;
  for (int32_t i = 0; i < u.length();) {
    UChar32 c = u.char32At(i);
    int32_t n = U16_LENGTH(c);
    if (std::find(set.begin(), set.end(), c) != set.end()) {
      out.push_back(detail::toUtf8(u.tempSubStringBetween(start, i)));
      start = i + n;
    }
    i += n;
  }
  out.push_back(detail::toUtf8(u.tempSubString(start)));
  return out;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

std::string replaceAll(std::string_view s, std::string_view target, std::string_view replacement) {
  if (target.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t start = 0;
  while (true) {
    std::size_t at = s.find(target, start);
    if (at == std::string_view::npos) break;
    out.append(s.substr(start, at - start));
    out.append(replacement);
    start = at + target.size();
  }
  out.append(s.substr(start));
  return out;
}

std::string normalizeLineEnds(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// --- Numbers from text ------------------------------------------------------------------------

namespace {
// Skips leading white space and line breaks as the numeric readers do.
std::size_t skipLeadingSpace(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
      ++i;
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xA0) {
      i += 2;
    } else {
      break;
    }
  }
  return i;
}
}  // namespace

std::int64_t leadingInteger(std::string_view s) {
  std::size_t i = skipLeadingSpace(s);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // Accumulate as a negative number so INT64_MIN is reachable.
  std::int64_t v = 0;
  bool overflow = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    int d = s[i] - '0';
    if (!overflow) {
      if (v < (LLONG_MIN + d) / 10) {
        overflow = true;
      } else {
        v = v * 10 - d;
      }
    }
  }
  if (overflow) return negative ? LLONG_MIN : LLONG_MAX;
  if (negative) return v;
  return v == LLONG_MIN ? LLONG_MAX : -v;
}

std::int32_t leadingInt32(std::string_view s) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(leadingInteger(s), INT32_MIN, INT32_MAX));
}

double leadingDouble(std::string_view s) {
  double v = 0;
  readNumber(s.substr(skipLeadingSpace(s)), v);
  return v;
}

std::optional<std::int64_t> parseInteger(std::string_view s) {
  if (s.empty()) return std::nullopt;
  std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  if (i == s.size()) return std::nullopt;
  std::int64_t v = 0;
  std::string_view digits = s.substr(s[0] == '+' ? 1 : 0);
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return std::nullopt;
  return v;
}

// --- Regular expressions ----------------------------------------------------------------------

bool matchesRegex(std::string_view s, std::string_view pattern, bool* valid) {
  // Compiled patterns are kept per thread; predicates evaluate the same few over many rows.
  thread_local std::map<std::string, std::unique_ptr<icu::RegexPattern>, std::less<>> cache;
  auto it = cache.find(pattern);
  if (it == cache.end()) {
    if (cache.size() > 64) cache.clear();
    UErrorCode ec = U_ZERO_ERROR;
    UParseError pe;
    std::unique_ptr<icu::RegexPattern> p(icu::RegexPattern::compile(detail::toUnicode(pattern), 0, pe, ec));
    if (U_FAILURE(ec)) p.reset();
    it = cache.emplace(std::string(pattern), std::move(p)).first;
  }
  if (valid) *valid = it->second != nullptr;
  if (!it->second) return false;
  UErrorCode ec = U_ZERO_ERROR;
  UnicodeString text = detail::toUnicode(s);
  std::unique_ptr<icu::RegexMatcher> m(it->second->matcher(text, ec));
  if (U_FAILURE(ec) || !m) return false;
  // Bound runaway patterns (catastrophic backtracking on user-written predicates).
  m->setTimeLimit(300, ec);
  ec = U_ZERO_ERROR;
  bool r = m->matches(ec);
  return U_SUCCESS(ec) && r;
}

// --- Paths as text ----------------------------------------------------------------------------

namespace {
std::string_view stripTrailingSlashes(std::string_view p) {
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  return p;
}
}  // namespace

std::string lastPathComponent(std::string_view path) {
  std::string_view p = stripTrailingSlashes(path);
  if (p == "/") return "/";
  auto at = p.rfind('/');
  return std::string(at == std::string_view::npos ? p : p.substr(at + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
  std::string_view p = stripTrailingSlashes(path);
  if (p == "/") return "/";
  auto at = p.rfind('/');
  if (at == std::string_view::npos) return {};
  if (at == 0) return "/";
  return std::string(stripTrailingSlashes(p.substr(0, at)));
}

std::string pathExtension(std::string_view path) {
  std::string last = lastPathComponent(path);
  auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
  return last.substr(dot + 1);
}

std::string deletingPathExtension(std::string_view path) {
  std::string_view p = stripTrailingSlashes(path);
  std::string ext = pathExtension(p);
  if (ext.empty()) return std::string(p);
  return std::string(p.substr(0, p.size() - ext.size() - 1));
}

std::string appendingPathComponent(std::string_view path, std::string_view component) {
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  std::string_view p = stripTrailingSlashes(path);
  if (p.empty()) return std::string(component);
  if (component.empty()) return std::string(p);
  std::string out(p);
  if (out.back() != '/') out += '/';
  out += component;
  return out;
}

std::string appendingPathExtension(std::string_view path, std::string_view ext) {
  std::string out(stripTrailingSlashes(path));
  if (ext.empty()) return out;
  out += '.';
  out += ext;
  return out;
}

}  // namespace kesto::fnd
