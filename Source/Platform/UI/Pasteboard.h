#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

// Pasteboard types. The standard ones map to the desktop's formats (plain text; the URL formats
// browsers and file managers exchange); any other string is one of our own types, carried under
// a private format and understood only by this application.
namespace PasteboardType {
inline constexpr const char* String = "public.utf8-plain-text";
inline constexpr const char* URL = "public.url";
}  // namespace PasteboardType

// One item of a pasteboard: data by type. A URL item may carry a title (the link's text), which
// the desktop's link formats pass along.
class PasteboardItem {
 public:
  void setData(const fnd::Data& data, const std::string& type);
  void setString(const std::string& string, const std::string& type = PasteboardType::String);
  // A URL and the title a browser or file manager shows for it (empty: none).
  void setURL(const std::string& url, const std::string& title = {});
  std::vector<std::string> types() const;
  std::optional<fnd::Data> dataForType(const std::string& type) const;
  std::optional<std::string> stringForType(const std::string& type) const;
  std::optional<std::string> url() const { return stringForType(PasteboardType::URL); }
  std::string title() const { return title_; }
  bool operator==(const PasteboardItem&) const = default;

 private:
  std::map<std::string, fnd::Data> data_;
  std::vector<std::string> order_;
  std::string title_;
};

// A named pasteboard: the general one is the desktop's clipboard; the drag pasteboard holds what
// a drag carries, written by the source before the drag and read by the views it is dropped on.
// Everything read from outside is bounded (see kMaxBytes): larger content reads as absent.
// Main thread only.
class Pasteboard {
 public:
  static Pasteboard& general();
  static Pasteboard& drag();

  // The most any one type may hold when read from another application.
  static constexpr std::size_t kMaxBytes = 16u << 20;
  // The most URLs read from one list.
  static constexpr std::size_t kMaxURLs = 10000;

  // Counts ownership changes: every clearContents here and, for the general pasteboard, every
  // change another application makes.
  long changeCount() const;
  // Empties the pasteboard; answers the new change count.
  long clearContents();

  // Replaces the contents with the items (what clearContents then adding them would do).
  bool writeObjects(const std::vector<PasteboardItem>& items);
  std::vector<PasteboardItem> pasteboardItems() const;

  // Whole-pasteboard conveniences over the items. setString and setData replace that type's
  // value, keeping the rest of the contents.
  bool setString(const std::string& string, const std::string& type = PasteboardType::String);
  bool setData(const fnd::Data& data, const std::string& type);
  std::optional<std::string> stringForType(const std::string& type) const;
  std::optional<fnd::Data> dataForType(const std::string& type) const;
  std::vector<std::string> types() const;
  // The first of `types` the pasteboard holds.
  std::optional<std::string> availableTypeFromArray(const std::vector<std::string>& types) const;
  // Every URL of every item, in order.
  std::vector<std::string> URLs() const;

  struct Impl;
  explicit Pasteboard(bool clipboard);
  ~Pasteboard();
  Pasteboard(const Pasteboard&) = delete;
  Pasteboard& operator=(const Pasteboard&) = delete;

 private:
  std::unique_ptr<Impl> d_;
};

}  // namespace kesto::ui
