#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

struct TimedRun {
  bool started = false;
  int status = 0;
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user and system, from wait4
  [[nodiscard]] bool Succeeded() const {
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};

// Runs a program to its end with its output thrown away, its standard error too when asked.
inline TimedRun RunTimed(std::vector<std::string> args, bool quietStderr) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  if (quietStderr) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  TimedRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  run.started = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&fa);
  if (!run.started) return run;
  rusage ru{};
  wait4(pid, &run.status, 0, &ru);
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return run;
}

}  // namespace bench
