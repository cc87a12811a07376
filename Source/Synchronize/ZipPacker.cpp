#include "Synchronize/ZipPacker.h"

#include "Synchronize/SliceWork.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"

#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace kesto {

namespace {

void fillDate(tm_zip& out, fnd::Date date) {
  std::time_t t = static_cast<std::time_t>(date.timeIntervalSince1970());
  std::tm local{};
  localtime_r(&t, &local);
  if (local.tm_year < 80) {  // zip dates start in 1980
    local = std::tm{};
    local.tm_year = 80;
    local.tm_mday = 1;
  }
  out.tm_sec = static_cast<uInt>(local.tm_sec);
  out.tm_min = static_cast<uInt>(local.tm_min);
  out.tm_hour = static_cast<uInt>(local.tm_hour);
  out.tm_mday = static_cast<uInt>(local.tm_mday);
  out.tm_mon = static_cast<uInt>(local.tm_mon);
  out.tm_year = static_cast<uInt>(local.tm_year + 1900);
}

fnd::Date dateOf(const tm_unz& in) {
  std::tm t{};
  t.tm_sec = static_cast<int>(in.tm_sec);
  t.tm_min = static_cast<int>(in.tm_min);
  t.tm_hour = static_cast<int>(in.tm_hour);
  t.tm_mday = static_cast<int>(in.tm_mday);
  t.tm_mon = static_cast<int>(in.tm_mon);
  t.tm_year = static_cast<int>(in.tm_year) - 1900;
  t.tm_isdst = -1;
  return fnd::Date::withTimeIntervalSince1970(static_cast<double>(std::mktime(&t)));
}

// An entry name that stays inside the extraction folder.
bool isSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  std::size_t pos = 0;
  while (pos <= name.size()) {
    auto end = name.find('/', pos);
    auto part = name.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (part == "..") return false;
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return name.find('\0') == std::string::npos;
}

constexpr std::size_t kSlice = 1u << 20, kWindow = 32u * 1024;

// Deflates `data` as one raw deflate stream at the default level, in slices on several threads:
// each slice is primed with the 32 KiB before it and ends on a byte boundary without the final
// bit (a sync flush), so the slices joined are the stream one pass would have made, but a
// library's file of tens of megabytes packs in a fraction of the time. Fills the CRC-32 too.
bool deflateInSlices(const std::string& data, std::string& out, uLong& crc) {
  const std::size_t count = (data.size() + kSlice - 1) / kSlice;
  struct Slice {
    std::string deflated;
    uLong crc = 0;
    bool ok = false;
  };
  std::vector<Slice> slices(count);
  runSlices(count, [&data, &slices, count](std::size_t i) {
    const std::size_t begin = i * kSlice, length = std::min(kSlice, data.size() - begin);
    const auto* bytes = reinterpret_cast<const Bytef*>(data.data());
    Slice& slice = slices[i];
    slice.crc = crc32(crc32(0L, Z_NULL, 0), bytes + begin, static_cast<uInt>(length));
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK) return;
    if (i > 0) {
      const std::size_t primed = std::min(kWindow, begin);
      deflateSetDictionary(&z, bytes + begin - primed, static_cast<uInt>(primed));
    }
    slice.deflated.resize(deflateBound(&z, static_cast<uLong>(length)) + 16);
    z.next_in = const_cast<Bytef*>(bytes + begin);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = reinterpret_cast<Bytef*>(slice.deflated.data());
    z.avail_out = static_cast<uInt>(slice.deflated.size());
    const bool last = i + 1 == count;
    const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    slice.ok = last ? rc == Z_STREAM_END : rc == Z_OK && z.avail_in == 0 && z.avail_out > 0;
    slice.deflated.resize(std::min<std::size_t>(z.total_out, slice.deflated.size()));
    deflateEnd(&z);
  });
  std::size_t total = 0;
  for (const auto& slice : slices) {
    if (!slice.ok) return false;
    total += slice.deflated.size();
  }
  out.clear();
  out.reserve(total);
  crc = crc32(0L, Z_NULL, 0);
  for (std::size_t i = 0; i < count; ++i) {
    out += slices[i].deflated;
    const std::size_t length = std::min(kSlice, data.size() - i * kSlice);
    crc = crc32_combine(crc, slices[i].crc, static_cast<z_off_t>(length));
  }
  return true;
}

// Below this a single pass is as quick as handing slices out.
constexpr std::size_t kSlicedDeflateBytes = 4u << 20;

}  // namespace

ZipPacker::ZipPacker() = default;

ZipPacker::~ZipPacker() {
  closeZipFile2();
  unzipCloseFile();
}

fnd::Date ZipPacker::date1980() {
  std::tm t{};
  t.tm_year = 80;
  t.tm_mday = 1;
  t.tm_isdst = -1;
  return fnd::Date::withTimeIntervalSince1970(static_cast<double>(std::mktime(&t)));
}

void ZipPacker::outputErrorMessage(const std::string& message) {
  if (delegate_) delegate_->errorMessage(message);
}

bool ZipPacker::overWrite(const std::string& path) { return delegate_ ? delegate_->overWriteOperation(path) : true; }

bool ZipPacker::createZipFile2(const std::string& path) {
  closeZipFile2();
  zipFile_ = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  // The payload holds the whole library: the user's alone, whatever the umask made of it.
  if (zipFile_) fnd::FileManager::setPermissions(path, fnd::kPrivateFileMode);
  return zipFile_ != nullptr;
}

bool ZipPacker::createZipFile2(const std::string& path, const std::string& password) {
  bool ok = createZipFile2(path);
  if (ok) password_ = password;
  return ok;
}

bool ZipPacker::addDataToZip(const std::string& data, const std::string& entryName, fnd::Date date) {
  if (!zipFile_) return false;
  zip_fileinfo info{};
  fillDate(info.tmz_date, date);
  int rc;
  if (password_.empty() && data.size() >= kSlicedDeflateBytes && data.size() <= 0xFFFFFFFFu) {
    std::string deflated;
    uLong crc = 0;
    if (deflateInSlices(data, deflated, crc)) {
      // Written as it is: the entry's header says deflate, at the default level.
      if (zipOpenNewFileInZip2(zipFile_, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                               Z_DEFAULT_COMPRESSION, 1) != ZIP_OK)
        return false;
      if (zipWriteInFileInZip(zipFile_, deflated.data(), static_cast<unsigned>(deflated.size())) != ZIP_OK) {
        zipCloseFileInZipRaw(zipFile_, static_cast<uLong>(data.size()), crc);
        return false;
      }
      return zipCloseFileInZipRaw(zipFile_, static_cast<uLong>(data.size()), crc) == ZIP_OK;
    }
  }
  if (password_.empty()) {
    rc = zipOpenNewFileInZip(zipFile_, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                             Z_DEFAULT_COMPRESSION);
  } else {
    // Raw deflate (negative window bits): a zlib header inside an entry makes it unreadable.
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    rc = zipOpenNewFileInZip3(zipFile_, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, password_.c_str(), crc);
  }
  if (rc != ZIP_OK) return false;
  if (zipWriteInFileInZip(zipFile_, data.data(), static_cast<unsigned>(data.size())) != ZIP_OK) {
    zipCloseFileInZip(zipFile_);
    return false;
  }
  return zipCloseFileInZip(zipFile_) == ZIP_OK;
}

bool ZipPacker::addFileToZip(const std::string& sourcePath, const std::string& entryName) {
  if (!zipFile_) return false;
  auto contents = fnd::FileManager::readFile(sourcePath);
  if (!contents) return false;
  fnd::Date date = date1980();
  if (auto attrs = fnd::FileManager::attributesOfItem(sourcePath)) date = attrs->modificationDate;
  return addDataToZip(*contents, entryName, date);
}

bool ZipPacker::closeZipFile2() {
  password_.clear();
  if (!zipFile_) return false;
  bool ok = zipClose(zipFile_, nullptr) == ZIP_OK;
  zipFile_ = nullptr;
  return ok;
}

bool ZipPacker::unzipOpenFile(const std::string& path) {
  unzipCloseFile();
  unzFile_ = unzOpen(path.c_str());
  if (!unzFile_) return false;
  unz_global_info info{};
  if (unzGetGlobalInfo(unzFile_, &info) != UNZ_OK) {
    unzClose(unzFile_);
    unzFile_ = nullptr;
    return false;
  }
  return true;
}

bool ZipPacker::unzipOpenFile(const std::string& path, const std::string& password) {
  bool ok = unzipOpenFile(path);
  if (ok) password_ = password;
  return ok;
}

bool ZipPacker::unzipFileTo(const std::string& folder, bool overwrite) {
  if (!unzFile_) return false;
  bool result = true;
  int rc = unzGoToFirstFile(unzFile_);
  if (rc != UNZ_OK) {
    outputErrorMessage("Failed");
    outputErrorMessage("Error occurs");
    return false;
  }
  std::vector<char> buffer(4096);
  while (rc == UNZ_OK) {
    int open = password_.empty() ? unzOpenCurrentFile(unzFile_) : unzOpenCurrentFilePassword(unzFile_, password_.c_str());
    if (open != UNZ_OK) {
      outputErrorMessage("Error occurs");
      return false;
    }
    unz_file_info info{};
    char nameBuffer[1024] = {0};
    if (unzGetCurrentFileInfo(unzFile_, &info, nameBuffer, sizeof(nameBuffer) - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
      outputErrorMessage("Error occurs while getting file info");
      unzCloseCurrentFile(unzFile_);
      return false;
    }
    std::string name(nameBuffer, std::min<std::size_t>(info.size_filename, sizeof(nameBuffer) - 1));
    for (auto& c : name)
      if (c == '\\') c = '/';
    const bool isFolder = !name.empty() && name.back() == '/';
    if (!isSafeEntryName(name)) {
      outputErrorMessage("Skipped an entry outside the folder: " + name);
      unzCloseCurrentFile(unzFile_);
      rc = unzGoToNextFile(unzFile_);
      continue;
    }
    const std::string full = folder + "/" + name;
    if (isFolder) {
      fnd::FileManager::createDirectory(full, true);
    } else {
      fnd::FileManager::createDirectory(fnd::FileManager::deletingLastPathComponent(full), true);
      bool skip = fnd::FileManager::fileExists(full) && !overwrite && !overWrite(full);
      if (!skip) {
        // Never follow a link planted at the target.
        std::remove(full.c_str());
        int fd = fnd::FileManager::createPrivateFile(full);
        if (FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr) {
          while (true) {
            int n = unzReadCurrentFile(unzFile_, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (n < 0) {
              outputErrorMessage("Failed to reading zip file");
              break;
            }
            if (n == 0) break;
            std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), out);
          }
          std::fclose(out);
          if (!fnd::FileManager::setModificationDate(full, dateOf(info.tmu_date)))
            fnd::logError("Failed to set attributes");
        }
      }
    }
    unzCloseCurrentFile(unzFile_);
    rc = unzGoToNextFile(unzFile_);
  }
  return result;
}

bool ZipPacker::readEntry(const std::string& entryName, std::string* contents, std::size_t maxBytes) {
  if (!unzFile_) return false;
  if (unzLocateFile(unzFile_, entryName.c_str(), 1) != UNZ_OK) return false;
  unz_file_info info{};
  if (unzGetCurrentFileInfo(unzFile_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  if (info.uncompressed_size > maxBytes) return false;
  int open = password_.empty() ? unzOpenCurrentFile(unzFile_) : unzOpenCurrentFilePassword(unzFile_, password_.c_str());
  if (open != UNZ_OK) return false;
  std::string out;
  out.reserve(info.uncompressed_size);
  std::vector<char> buffer(65536);
  bool ok = true;
  while (true) {
    int n = unzReadCurrentFile(unzFile_, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    // The stored size may lie: the cap holds for what is actually inflated.
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      ok = false;
      break;
    }
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
  // Closing checks the CRC of a fully read entry.
  if (unzCloseCurrentFile(unzFile_) != UNZ_OK) ok = false;
  if (ok) *contents = std::move(out);
  return ok;
}

std::optional<std::uint64_t> ZipPacker::entrySize(const std::string& entryName) {
  if (!unzFile_ || unzLocateFile(unzFile_, entryName.c_str(), 1) != UNZ_OK) return std::nullopt;
  unz_file_info info{};
  if (unzGetCurrentFileInfo(unzFile_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
  return info.uncompressed_size;
}

bool ZipPacker::unzipCloseFile() {
  password_.clear();
  if (!unzFile_) return true;
  bool ok = unzClose(unzFile_) == UNZ_OK;
  unzFile_ = nullptr;
  return ok;
}

}  // namespace kesto
