#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/ZipPacker.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Nothing an archive holds may land outside the folder it is extracted into.
void checkExtraction(const std::string& zipPath) {
  const std::string root = kesto::fuzz::scratchFolder() + "/tree";
  const std::string into = root + "/out";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(into, ec);
  kesto::ZipPacker packer;
  if (packer.unzipOpenFile(zipPath)) {
    (void)packer.unzipFileTo(into, true);
    packer.unzipCloseFile();
  }
  for (const auto& entry : fs::directory_iterator(root, ec))
    KESTO_FUZZ_CHECK(entry.path().filename() == "out");
  fs::remove_all(root, ec);
}

}  // namespace

// Downloaded sync payloads and shared archives: zip bytes from anywhere.
KESTO_FUZZ_TARGET(SyncPayload) {
  const std::string path = kesto::fuzz::writeScratchFile("payload.zip", kesto::fuzz::asText(data, size));
  std::string xml;
  auto status = kesto::SyncPayload::unpack(path, &xml, 1u << 20);
  KESTO_FUZZ_CHECK(status != kesto::SyncPayload::UnpackStatus::Ok || xml.size() <= (1u << 20));
  (void)kesto::SyncPayload::describe(status);

  kesto::ZipPacker packer;
  if (packer.unzipOpenFile(path)) {
    (void)packer.entrySize("tmp.xml");
    std::string contents;
    if (packer.readEntry("tmp.xml", &contents, 4096)) KESTO_FUZZ_CHECK(contents.size() <= 4096);
    packer.unzipCloseFile();
  }
  checkExtraction(path);
  return 0;
}
