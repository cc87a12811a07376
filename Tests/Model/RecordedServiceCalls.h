#pragma once

#include "Model/Bookmark.h"
#include "Model/BookmarkServiceClient.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// Stands in for the online services' clients while it lives and records what they were asked,
// each call as "<service> <what>": bookmarks saved ("<service> <url>") and deleted
// ("<service> delete <url>") in order in `bookmarks`, tags deleted in `tags`.
class RecordedServiceCalls {
 public:
  RecordedServiceCalls() {
    registerBookmarkServiceClientFactory([this](const std::string& name) { return std::make_unique<Client>(name, *this); });
  }
  ~RecordedServiceCalls() { registerBookmarkServiceClientFactory(nullptr); }
  RecordedServiceCalls(const RecordedServiceCalls&) = delete;
  RecordedServiceCalls& operator=(const RecordedServiceCalls&) = delete;

  std::vector<std::string> bookmarks, tags;

 private:
  struct Client : BookmarkServiceClient {
    Client(std::string name, RecordedServiceCalls& calls) : name(std::move(name)), calls(calls) {}
    void saveBookmark(Bookmark& b) override { calls.bookmarks.push_back(name + " " + b.url().value_or("")); }
    void deleteBookmark(const std::string& url) override { calls.bookmarks.push_back(name + " delete " + url); }
    void deleteTag(const std::string& tag) override { calls.tags.push_back(name + " " + tag); }
    std::string name;
    RecordedServiceCalls& calls;
  };
};

}  // namespace kesto::test
