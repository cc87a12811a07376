#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>
#include <vector>

namespace kesto::test {

// Switches the C library's locale for the whole process, as Qt does from the environment when a
// program starts, and puts back the one before when it goes out of scope, also when an assertion
// ends the test early. The first of the candidates that is installed is taken.
//
//   LocaleGuard comma(LocaleGuard::decimalComma());
//   if (!comma.active()) GTEST_SKIP() << comma.missing();
//   LocaleGuard turkish("tr_TR.UTF-8");
//   KESTO_SKIP_WITHOUT_LOCALE(turkish);
class LocaleGuard {
 public:
  // Locales that write "0,5"; the CI set-up generates the first.
  static std::vector<std::string> decimalComma() {
    return {"de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8", "pl_PL.UTF-8"};
  }
  // Locales where "I" lowercases to a dotless i.
  static std::vector<std::string> dotlessI() { return {"tr_TR.UTF-8", "az_AZ.UTF-8"}; }

  explicit LocaleGuard(std::vector<std::string> candidates, int category = LC_ALL)
      : category_(category), candidates_(std::move(candidates)) {
    const char* current = std::setlocale(category, nullptr);
    previous_ = current ? current : "C";
    for (const std::string& name : candidates_) {
      if (std::setlocale(category, name.c_str())) {
        name_ = name;
        return;
      }
    }
  }
  explicit LocaleGuard(const char* name, int category = LC_ALL)
      : LocaleGuard(std::vector<std::string>{name}, category) {}
  ~LocaleGuard() { std::setlocale(category_, previous_.c_str()); }
  LocaleGuard(const LocaleGuard&) = delete;
  LocaleGuard& operator=(const LocaleGuard&) = delete;

  bool active() const { return !name_.empty(); }
  bool available() const { return active(); }
  // The locale taken; empty when none of the candidates is installed.
  const std::string& name() const { return name_; }
  // Why the test cannot run, for GTEST_SKIP.
  std::string missing() const {
    std::string list;
    for (const std::string& name : candidates_) list += (list.empty() ? "" : ", ") + name;
    return "none of these locales is installed: " + list + " (generate one with locale-gen)";
  }

 private:
  int category_;
  std::vector<std::string> candidates_;
  std::string previous_;
  std::string name_;
};

}  // namespace kesto::test

// Skips the rest of the test when `guard` could not switch to any of its locales.
#define KESTO_SKIP_WITHOUT_LOCALE(guard) \
  if (!(guard).active()) GTEST_SKIP() << (guard).missing()
