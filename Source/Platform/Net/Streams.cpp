#include "Platform/Net/Streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::net {

namespace {

fnd::Error posixError(int err, const std::string& path) {
  fnd::Dictionary info;
  info[fnd::kLocalizedDescriptionKey] = std::string(std::strerror(err));
  if (!path.empty()) info[fnd::kFilePathErrorKey] = path;
  return fnd::Error(fnd::kPOSIXErrorDomain, err, std::move(info));
}

class DataInputStream final : public InputStream {
 public:
  explicit DataInputStream(std::shared_ptr<const fnd::Data> data) : data_(std::move(data)) {}
  void open() override {
    if (status_ == StreamStatus::NotOpen) status_ = StreamStatus::Open;
  }
  void close() override { status_ = StreamStatus::Closed; }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ != StreamStatus::Open && status_ != StreamStatus::AtEnd) return -1;
    std::size_t n = std::min(maxLength, data_->size() - pos_);
    if (n) std::memcpy(buffer, data_->data() + pos_, n);
    pos_ += n;
    if (pos_ == data_->size()) status_ = StreamStatus::AtEnd;
    return static_cast<std::ptrdiff_t>(n);
  }
  bool hasBytesAvailable() const override { return status_ == StreamStatus::Open && pos_ < data_->size(); }
  StreamStatus status() const override { return status_; }
  std::optional<fnd::Error> error() const override { return std::nullopt; }
  std::optional<std::int64_t> length() const override { return static_cast<std::int64_t>(data_->size()); }
  std::shared_ptr<InputStream> reopened() const override { return std::make_shared<DataInputStream>(data_); }

 private:
  std::shared_ptr<const fnd::Data> data_;
  std::size_t pos_ = 0;
  StreamStatus status_ = StreamStatus::NotOpen;
};

// The file behind a file stream: its descriptor, the stream's status and the error that ended it.
struct StreamFile {
  explicit StreamFile(std::string p) : path(std::move(p)) {}
  ~StreamFile() { close(); }
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  // Opens the file; false (and the stream failed) when it cannot be.
  bool open(int flags) {
    fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) fail(errno);
    return fd >= 0;
  }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (status != StreamStatus::Error) status = StreamStatus::Closed;
  }
  // A read or write, again after a signal; an error ends the stream.
  std::ptrdiff_t transfer(const std::function<ssize_t()>& call) {
    ssize_t n;
    do n = call();
    while (n < 0 && errno == EINTR);
    if (n < 0) fail(errno);
    return n < 0 ? -1 : n;
  }
  void fail(int err) {
    status = StreamStatus::Error;
    error = posixError(err, path);
  }

  std::string path;
  int fd = -1;
  StreamStatus status = StreamStatus::NotOpen;
  std::optional<fnd::Error> error;
};

class FileInputStream final : public InputStream {
 public:
  explicit FileInputStream(std::string path) : file_(std::move(path)) {}
  void open() override {
    if (file_.status == StreamStatus::NotOpen && file_.open(O_RDONLY | O_CLOEXEC)) file_.status = StreamStatus::Open;
  }
  void close() override { file_.close(); }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (file_.status == StreamStatus::AtEnd) return 0;
    if (file_.status != StreamStatus::Open) return -1;
    std::ptrdiff_t n = file_.transfer([&] { return ::read(file_.fd, buffer, maxLength); });
    if (n == 0 && maxLength > 0) file_.status = StreamStatus::AtEnd;
    return n;
  }
  bool hasBytesAvailable() const override { return file_.status == StreamStatus::Open; }
  StreamStatus status() const override { return file_.status; }
  std::optional<fnd::Error> error() const override { return file_.error; }
  std::optional<std::int64_t> length() const override {
    struct stat st {};
    if (::stat(file_.path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
  }
  std::shared_ptr<InputStream> reopened() const override { return std::make_shared<FileInputStream>(file_.path); }

 private:
  StreamFile file_;
};

class MemoryOutputStream final : public OutputStream {
 public:
  explicit MemoryOutputStream(std::size_t limit) : limit_(limit) {}
  void open() override {
    if (status_ == StreamStatus::NotOpen || status_ == StreamStatus::Closed) status_ = StreamStatus::Open;
  }
  void close() override {
    if (status_ != StreamStatus::Error) status_ = StreamStatus::Closed;
  }
  std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override {
    if (status_ != StreamStatus::Open) return -1;
    if (data_.size() + length > limit_) {
      status_ = StreamStatus::Error;
      error_ = fnd::Error(fnd::kPOSIXErrorDomain, EFBIG,
                          {{fnd::kLocalizedDescriptionKey, std::string("The response is larger than allowed.")}});
      return -1;
    }
    data_.insert(data_.end(), bytes, bytes + length);
    return static_cast<std::ptrdiff_t>(length);
  }
  bool hasSpaceAvailable() const override { return status_ == StreamStatus::Open; }
  StreamStatus status() const override { return status_; }
  std::optional<fnd::Error> error() const override { return error_; }
  const fnd::Data* dataWrittenToMemory() const override { return &data_; }
  fnd::Data takeDataWrittenToMemory() override { return std::move(data_); }
  bool truncate(std::uint64_t offset) override {
    if (offset < data_.size()) data_.resize(offset);
    return true;
  }
  void reserveCapacity(std::size_t n) override {
    if (data_.empty()) data_.reserve(std::min(n, limit_));
  }

 private:
  std::size_t limit_;
  fnd::Data data_;
  StreamStatus status_ = StreamStatus::NotOpen;
  std::optional<fnd::Error> error_;
};

class FileOutputStream final : public OutputStream {
 public:
  FileOutputStream(std::string path, bool append) : file_(std::move(path)), append_(append) {}
  void open() override {
    if (file_.fd >= 0 || file_.status == StreamStatus::Error) return;
    if (!file_.open(O_WRONLY | O_CREAT | O_CLOEXEC | (append_ || opened_ ? O_APPEND : O_TRUNC))) return;
    opened_ = true;
    offset_ = static_cast<std::uint64_t>(::lseek(file_.fd, 0, SEEK_END));
    file_.status = StreamStatus::Open;
  }
  void close() override { file_.close(); }
  std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override {
    if (file_.status != StreamStatus::Open) return -1;
    std::ptrdiff_t n = file_.transfer([&] { return ::write(file_.fd, bytes, length); });
    if (n > 0) offset_ += static_cast<std::uint64_t>(n);
    return n;
  }
  bool hasSpaceAvailable() const override { return file_.status == StreamStatus::Open; }
  StreamStatus status() const override { return file_.status; }
  std::optional<fnd::Error> error() const override { return file_.error; }
  std::optional<std::uint64_t> fileCurrentOffset() const override { return offset_; }
  bool truncate(std::uint64_t offset) override {
    if (::truncate(file_.path.c_str(), static_cast<off_t>(offset)) != 0) return false;
    offset_ = std::min(offset_, offset);
    return true;
  }

 private:
  StreamFile file_;
  bool append_;
  bool opened_ = false;
  std::uint64_t offset_ = 0;
};

}  // namespace

std::shared_ptr<InputStream> makeDataInputStream(fnd::Data data) {
  return std::make_shared<DataInputStream>(std::make_shared<const fnd::Data>(std::move(data)));
}
std::shared_ptr<InputStream> makeFileInputStream(std::string path) {
  return std::make_shared<FileInputStream>(std::move(path));
}
std::shared_ptr<OutputStream> makeMemoryOutputStream(std::size_t limit) {
  return std::make_shared<MemoryOutputStream>(limit);
}
std::shared_ptr<OutputStream> makeFileOutputStream(std::string path, bool append) {
  return std::make_shared<FileOutputStream>(std::move(path), append);
}

}  // namespace kesto::net
