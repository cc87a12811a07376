// Replays every committed corpus file through its harness. A crash, hang or sanitizer report
// found by the fuzzers is minimised into Corpus/<Name>/ once fixed, so it stays fixed.

#include "FuzzTarget.h"
#include "Harness/LocaleGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> targetNames() {
  std::vector<std::string> names;
  for (const auto& t : kesto::fuzz::targets()) names.push_back(t.name);
  std::sort(names.begin(), names.end());
  return names;
}

class FuzzCorpus : public ::testing::TestWithParam<std::string> {};

void replayCorpus(const std::string& name) {
  const auto& all = kesto::fuzz::targets();
  auto it = std::find_if(all.begin(), all.end(), [&](const auto& t) { return t.name == name; });
  ASSERT_NE(it, all.end());
  const fs::path folder = fs::path(KESTO_FUZZ_CORPUS_DIR) / name;
  ASSERT_TRUE(fs::is_directory(folder)) << "every harness keeps a seed corpus: " << folder;

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  // The empty input is always worth one run.
  it->entry(nullptr, 0);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(it->entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

TEST_P(FuzzCorpus, ReplaysEveryFile) { replayCorpus(GetParam()); }

// Qt applies the environment's locale to the C library when a program starts: what a harness
// writes must read back in a locale with a decimal comma too.
TEST_P(FuzzCorpus, ReplaysEveryFileInACommaLocale) {
  kesto::test::LocaleGuard comma(kesto::test::LocaleGuard::decimalComma());
  if (!comma.active()) GTEST_SKIP() << comma.missing();
  replayCorpus(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzCorpus, ::testing::ValuesIn(targetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
