#pragma once

// Other programs started by tests and benchmarks: with argument lists, so that a path (a
// checkout's may hold spaces, quotes and any letter) reaches the program as it is. Where a shell
// is needed (a script written to a file, a pipeline), every path goes in through shellQuoted.
// Header-only, since the benchmarks use it without the rest of the harness.

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kesto::test {

// A program's exit status (as waitpid and pclose give it; -1 when it did not run) and output.
struct CommandResult {
  int status = -1;
  std::string output;
};

// A word that a POSIX shell reads back as exactly `text`, whatever bytes it holds.
inline std::string shellQuoted(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// Runs a program, found on PATH, with the arguments given (the first names it) and no shell in
// between; waits for it and answers its status and what it wrote on its standard output, and on
// its standard error too unless `withErrors` is false (that then goes where the caller's does).
// The program must end and close its output: a daemon that forks and keeps it would be waited on.
inline CommandResult runProgram(const std::vector<std::string>& arguments, bool withErrors = true) {
  CommandResult result;
  if (arguments.empty()) return result;
  int out[2];
  // Close-on-exec, so that a program started meanwhile on another thread keeps no end of it open.
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (withErrors) posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  char buffer[4096];
  while (spawned == 0) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  int status = 0;
  if (spawned == 0) {
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return result;
    }
    result.status = status;
  }
  return result;
}

}  // namespace kesto::test
