#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/UI/Image.h"

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kesto {

// Decoded pictures by key (an image address), so a picture shown again is not decoded again:
// a list scrolling back and forth shows the same page pictures over and over. The cache holds
// the bytes each picture came from and answers only for the same bytes, so a picture fetched
// anew under the same address is decoded anew. Least recently used pictures go once the
// pixels kept pass the budget. Any thread.
class ImageMemoryCache {
 public:
  explicit ImageMemoryCache(std::size_t budgetBytes);
  ImageMemoryCache(const ImageMemoryCache&) = delete;
  ImageMemoryCache& operator=(const ImageMemoryCache&) = delete;

  // The page pictures of web image views.
  static ImageMemoryCache& webImages();
  static constexpr std::size_t kWebImagesBudget = 32u * 1024 * 1024;

  // The picture `data` makes: the kept one when the same bytes are kept under `key`, otherwise
  // decoded now and kept. Bytes that are no picture give a null image, which is not kept.
  ui::Image imageForData(const std::string& key, const fnd::Data& data);
  void remove(const std::string& key);

  std::size_t count() const;
  // Bytes kept: each picture's pixels and the bytes it came from.
  std::size_t cost() const;
  std::size_t budget() const { return budget_; }

 private:
  struct Entry {
    std::string key;
    fnd::Data data;
    ui::Image image;
    std::size_t cost = 0;
  };
  void trimLocked();

  const std::size_t budget_;
  mutable std::mutex mutex_;
  // Most recently used first.
  std::list<Entry> entries_;
  std::unordered_map<std::string, std::list<Entry>::iterator> byKey_;
  std::size_t cost_ = 0;
};

}  // namespace kesto
