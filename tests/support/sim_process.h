#pragma once
// Runs the simulated module as a child process on a pty linked as COMn in a private
// XDG_CONFIG_HOME, and stops it again.

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

// A fresh XDG_CONFIG_HOME for this process and its children, removed at the end.
class TempConfigHome {
 public:
  TempConfigHome() {
    char tmpl[] = "/tmp/nibp-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~TempConfigHome() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;
  [[nodiscard]] const std::string& Dir() const { return dir_; }
  [[nodiscard]] std::string PortLink(const std::string& com) const {
    return dir_ + "/quirab_nibp/ports/" + com;
  }

 private:
  std::string dir_;
};

class SimProcess {
 public:
  SimProcess(const std::string& exe, std::vector<std::string> args) {
    std::vector<char*> argv;
    args.insert(args.begin(), exe);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  [[nodiscard]] bool Running() const { return pid_ > 0; }

  // Waits until `path` exists (the simulator has linked its pty).
  [[nodiscard]] static bool WaitForPath(const std::string& path,
                                        std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    struct stat st {};
    while (std::chrono::steady_clock::now() < deadline) {
      if (stat(path.c_str(), &st) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // SIGTERM, then waits; returns the exit status (or -1).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace testsupport
