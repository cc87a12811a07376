// The harness's way of starting other programs, which every test that runs a tool or itself
// again goes through: paths (a checkout's may hold quotes, spaces, any letter) arrive whole.
#include "Harness/Programs.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

namespace kesto::test {
namespace {

TEST(TestHarnessPrograms, ShellsReadEveryQuotedWordBackAsItWas) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  const std::vector<std::string> words = {everyByte, "Anna's projects", "'", "''", "", "-n", "~", "!x",
                                          "a\\'b", "$HOME `id` $(id) \" ; & | * ? \\", "line\nbreak\t"};
  std::string expected, command = "set --";
  for (const auto& word : words) {
    command += " " + shellQuoted(word);
    expected += word + '|';
  }
  command += "; printf '%s|' \"$@\"";
  for (const char* shell : {"sh", "bash"}) {
    const auto [status, output] = runProgram({shell, "-c", command});
    EXPECT_EQ(status, 0) << shell << ": " << output;
    EXPECT_EQ(output, expected) << shell;
  }
}

TEST(TestHarnessPrograms, AProgramGetsItsArgumentsAsTheyAreAndItsEndIsTold) {
  const std::vector<std::string> command = {
      "sh", "-c", "printf '%s\\n' \"$@\"; echo 'a line for the standard error' >&2; exit 3", "sh",
      "Anna's projects/kesto", "$HOME", "", "a \"b\""};
  const auto both = runProgram(command);
  ASSERT_TRUE(WIFEXITED(both.status));
  EXPECT_EQ(WEXITSTATUS(both.status), 3);
  EXPECT_EQ(both.output, "Anna's projects/kesto\n$HOME\n\na \"b\"\na line for the standard error\n");
  // The standard error left where the caller's goes.
  EXPECT_EQ(runProgram(command, false).output, "Anna's projects/kesto\n$HOME\n\na \"b\"\n");

  EXPECT_EQ(runProgram({"true"}).status, 0);
  const auto missing = runProgram({"kesto-no-such-program-anywhere"});
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.output, "");
}

}  // namespace
}  // namespace kesto::test
