#pragma once
// libxml2's one-time set-up and the handlers that keep it from printing to stderr, shared by the
// XML, HTML and streaming readers.
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <mutex>

namespace kesto::fnd::libxml {

inline void initParser() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}
inline void silentGeneric(void*, const char*, ...) {}
inline void silentStructured(void*, xmlErrorPtr) {}

}  // namespace kesto::fnd::libxml
