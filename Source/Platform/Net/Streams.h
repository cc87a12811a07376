#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kesto::net {

enum class StreamStatus { NotOpen = 0, Opening = 1, Open = 2, Reading = 3, Writing = 4, AtEnd = 5, Closed = 6, Error = 7 };

// A pull-style byte source: request bodies, multipart bodies. read() answers the bytes read,
// 0 at the end, -1 on failure (status() is then Error and error() says why).
class InputStream {
 public:
  virtual ~InputStream() = default;
  virtual void open() = 0;
  virtual void close() = 0;
  virtual std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const = 0;
  virtual StreamStatus status() const = 0;
  virtual std::optional<fnd::Error> error() const = 0;
  // The total byte count when known in advance.
  virtual std::optional<std::int64_t> length() const { return std::nullopt; }
  // A fresh stream over the same bytes, for redirect and authentication retries; absent when
  // the bytes cannot be replayed.
  virtual std::shared_ptr<InputStream> reopened() const { return nullptr; }
};

// A push-style byte sink: response bodies go to memory or a file. write() answers the bytes
// written or -1 (status() Error).
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual void open() = 0;
  virtual void close() = 0;
  virtual std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) = 0;
  virtual bool hasSpaceAvailable() const = 0;
  virtual StreamStatus status() const = 0;
  virtual std::optional<fnd::Error> error() const = 0;
  // The bytes written, for a stream to memory; null otherwise.
  virtual const fnd::Data* dataWrittenToMemory() const { return nullptr; }
  // Moves the bytes out of a stream to memory (no copy); empty for other streams.
  virtual fnd::Data takeDataWrittenToMemory() { return {}; }
  // The write offset, for a stream to a file.
  virtual std::optional<std::uint64_t> fileCurrentOffset() const { return std::nullopt; }
  // Drops what was written from `offset` on (range resumes that get a full body again).
  virtual bool truncate(std::uint64_t offset) { return false; }
  // A hint of how many bytes will come (memory streams reserve that much once).
  virtual void reserveCapacity(std::size_t bytes) {}
};

std::shared_ptr<InputStream> makeDataInputStream(fnd::Data data);
std::shared_ptr<InputStream> makeFileInputStream(std::string path);

// A stream to memory that fails once more than `limit` bytes are written.
std::shared_ptr<OutputStream> makeMemoryOutputStream(std::size_t limit = SIZE_MAX);
std::shared_ptr<OutputStream> makeFileOutputStream(std::string path, bool append);

}  // namespace kesto::net
