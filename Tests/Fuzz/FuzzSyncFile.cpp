#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Platform/Foundation/Error.h"
#include "Synchronize/SyncFile.h"

// Sync files and shared-folder files; the first byte picks the role.
KESTO_FUZZ_TARGET(SyncFile) {
  if (size == 0) return 0;
  const bool isSync = data[0] & 1;
  auto text = kesto::fuzz::asText(data + 1, size - 1);
  kesto::fnd::Error error;
  auto document = kesto::SyncFile::read(text, isSync, &error);
  (void)kesto::SyncFile::readKestoID(text);
  if (document) {
    for (const auto& service : document->services) {
      // What the writer produces from read strings must stay well-formed.
      (void)kesto::SyncFile::escapeText(service.name);
      (void)kesto::SyncFile::cdata(service.password);
    }
  }
  (void)kesto::SyncFile::stripInvalidXmlChars(text);
  return 0;
}
