#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kesto::test {

// Checks a function's answer for each input of a table; a wrong answer fails naming its input, so
// cases read as rows and a new case is one more pair.
template <typename In = std::string, typename Out = std::string, typename F>
void expectAnswers(F&& f, const std::vector<std::pair<In, Out>>& cases) {
  for (const auto& [in, out] : cases) EXPECT_EQ(f(in), out) << "for " << ::testing::PrintToString(in);
}

}  // namespace kesto::test
