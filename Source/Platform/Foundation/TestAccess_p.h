#pragma once

// For the test suites only: points the shared settings and keychain at another home, so each
// test starts from the state a new process would have, and takes back the observers a test
// registered. Production code cannot include this.

#ifndef KESTO_TEST_ACCESS
#error "Platform/Foundation/TestAccess_p.h is for the test suites"
#endif

#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/UserDefaults.h"

#include <cstdint>
#include <string>

namespace kesto::fnd {

struct TestAccess {
  // Forgets every stored, registered and unsaved value and reads `path` instead.
  static void reopen(UserDefaults& defaults, std::string path) { defaults.reopen(std::move(path)); }
  // Points the keychain at the file a new process would use, without making its folder first (a
  // new process makes it only when the keychain is first used).
  static void reopen(Keychain& keychain) {
    keychain.path_ = StandardPaths::appendingPathComponent(
        StandardPaths::appendingPathComponent(StandardPaths::applicationSupportDirectory(),
                                              StandardPaths::applicationName()),
        "keychain.plist");
  }
  // Where the registrations made from now on begin, and taking all of them back.
  static std::uint64_t registrationMark(const NotificationCenter& center) { return center.registrationMark(); }
  static void removeRegistrationsSince(NotificationCenter& center, std::uint64_t mark) {
    center.removeRegistrationsSince(mark);
  }
  // Makes every HTML reading hand its parser at most `bytes` (0: all), as a parser that stops
  // there would read; the reading still counts the items of the whole file.
  static void stopHtmlParserAfter(std::size_t bytes) { HtmlStreamReader::handOnLimit_ = bytes; }
};

// While it lasts, every HTML reading's parser stops after `bytes` (TestAccess::stopHtmlParserAfter).
struct HtmlParserStop {
  explicit HtmlParserStop(std::size_t bytes) { TestAccess::stopHtmlParserAfter(bytes); }
  ~HtmlParserStop() { TestAccess::stopHtmlParserAfter(0); }
  HtmlParserStop(const HtmlParserStop&) = delete;
  HtmlParserStop& operator=(const HtmlParserStop&) = delete;
};

}  // namespace kesto::fnd
