#include "Views/ImageMemoryCache.h"

namespace kesto {

ImageMemoryCache::ImageMemoryCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

ImageMemoryCache& ImageMemoryCache::webImages() {
  // Never destroyed: views may still ask while the program ends.
  static auto* cache = new ImageMemoryCache(kWebImagesBudget);
  return *cache;
}

ui::Image ImageMemoryCache::imageForData(const std::string& key, const fnd::Data& data) {
  {
    std::lock_guard lock(mutex_);
    auto it = byKey_.find(key);
    if (it != byKey_.end() && it->second->data == data) {
      entries_.splice(entries_.begin(), entries_, it->second);
      return it->second->image;
    }
  }
  // Decoded outside the lock: other threads need not wait for it.
  ui::Image image = ui::Image::fromData(data);
  if (image.isNull()) return image;
  const fnd::Size size = image.size();
  const std::size_t cost = static_cast<std::size_t>(size.width * size.height * 4) + data.size();
  std::lock_guard lock(mutex_);
  if (auto it = byKey_.find(key); it != byKey_.end()) {
    cost_ -= it->second->cost;
    entries_.erase(it->second);
    byKey_.erase(it);
  }
  // A picture larger than the whole budget is shown but not kept.
  if (cost > budget_) return image;
  entries_.push_front(Entry{key, data, image, cost});
  byKey_[key] = entries_.begin();
  cost_ += cost;
  trimLocked();
  return image;
}

void ImageMemoryCache::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = byKey_.find(key);
  if (it == byKey_.end()) return;
  cost_ -= it->second->cost;
  entries_.erase(it->second);
  byKey_.erase(it);
}

void ImageMemoryCache::trimLocked() {
  while (cost_ > budget_ && !entries_.empty()) {
    cost_ -= entries_.back().cost;
    byKey_.erase(entries_.back().key);
    entries_.pop_back();
  }
}

std::size_t ImageMemoryCache::count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t ImageMemoryCache::cost() const {
  std::lock_guard lock(mutex_);
  return cost_;
}

}  // namespace kesto
