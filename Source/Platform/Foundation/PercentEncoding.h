#pragma once

#include <optional>
#include <string>
#include <string_view>

// Percent-encoding, one function per escape set. Every encoder works on the UTF-8 bytes of its
// input and writes "%" followed by two upper-case hexadecimal digits for each escaped byte.
// "URL-legal" below means the ASCII letters and digits and  ! $ & ' ( ) * + , - . / : ; = ? @ _ ~
// (everything else, including space " # % < > [ \ ] ^ ` { | } controls and non-ASCII, is not).
namespace kesto::fnd {

// The legacy "add escapes" set: escapes what is not URL-legal ("#" and "%" included), keeps
// every URL-legal character. Used for the address handed to browsers and page-fetch jobs.
std::string addPercentEscapes(std::string_view s);

// Escapes what is not URL-legal plus "?", "=", "&" and "+": the account-service form fields.
std::string urlEncodeString(std::string_view s);

// Keeps only the unreserved characters A-Z a-z 0-9 - . _ ~ : query values, OAuth parameters,
// mailto parts, thumbnail and search parameters.
std::string percentEncodeUnreserved(std::string_view s);

// As percentEncodeUnreserved, but keeps "[" and "]": names of form and query fields.
std::string percentEncodeQueryField(std::string_view s);

// Keeps A-Z a-z 0-9 - . _ and "/": file paths in request URLs (escapes "~").
std::string escapePath(std::string_view s);

// Keeps the characters allowed in a URL host: A-Z a-z 0-9 ! $ & ' ( ) * + , - . : ; = [ ] _ ~
std::string percentEncodeHostAllowed(std::string_view s);

// Keeps A-Z a-z 0-9 - _ / . and "*": a value in a D-Bus address ("unix:path=VALUE"), where a
// space, a non-ASCII letter or one of , ; = % would end the value, change it or be refused.
std::string escapeBusAddressValue(std::string_view s);

// Makes text safe inside a quoted header parameter (multipart names and file names): '"' becomes
// %22, CR %0D and LF %0A, so the text can end neither the value nor the header line.
std::string escapeQuotedHeaderParameter(std::string_view s);

// Replaces every "%XX" by its byte and reads the result as UTF-8. Absent when a "%" is not
// followed by two hexadecimal digits or the bytes are not valid UTF-8. "+" stays "+".
std::optional<std::string> removePercentEscapes(std::string_view s);

// removePercentEscapes, or the text unchanged when that fails.
std::string removePercentEscapesOrKeep(std::string_view s);

// Replaces each "%XX" by its byte, escape by escape, and keeps a "%" that starts none, as a
// browser's address reader does. The result may hold bytes that are not UTF-8.
std::string decodeEachPercentEscape(std::string_view s);

// Decodes only the escapes whose removal leaves an address meaning the same: those of the
// unreserved characters A-Z a-z 0-9 - . _ ~ and runs that spell UTF-8 text (no control,
// direction-changing or line-separating characters). Reserved delimiters, "%25", spaces,
// controls and stray bytes stay escaped, so "?q=a%26b" keeps its "%26" and decoding twice
// changes nothing more.
std::string decodeHarmlessPercentEscapes(std::string_view s);

// An address as the library stores it, from whichever door it came (adding, the "kesto" scheme,
// imports, archives): decodeHarmlessPercentEscapes, and the spaces inside the address decoded
// too, which every reader escapes again. A space at either end stays escaped, as readers trim
// spaces there. Decoding is for reading: an escape whose removal would change what the address
// means ("%25 %26 %23 %2F %3F %3D %2B %3B %3A %40" and the like) stays, and the stored form
// decodes to itself. Addresses are compared for duplicates in this form.
std::string decodeAddressForStorage(std::string_view s);

// The unreserved set over the bytes of the text in another charset (IANA name). Absent when the
// charset is unknown or cannot represent the text.
std::optional<std::string> percentEncodeUnreserved(std::string_view s, std::string_view charsetName);
// Decodes each run of escapes as bytes in the named charset; the rest of the text is kept.
// Absent on a malformed escape, an unknown charset or bytes that are not valid in it.
std::optional<std::string> removePercentEscapes(std::string_view s, std::string_view charsetName);

}  // namespace kesto::fnd
