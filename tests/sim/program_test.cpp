// Runs the real nibp-sim on a pseudo-terminal and talks to it through its port link, as the
// console would. Every wait is a poll with a generous deadline.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/frames.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(20);

int MsLeft(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<long>(left.count(), 0));
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nibp-sim-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  [[nodiscard]] const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// nibp-sim as a child process with its output on a pipe.
class SimProcess {
 public:
  SimProcess(const fs::path& xdg, std::vector<std::string> args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    out_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    args.insert(args.begin(), NIBP_SIM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + xdg.string()};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, NIBP_SIM, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  [[nodiscard]] bool running() const { return pid_ > 0; }

  // The next output line that contains `text`, or nothing at the deadline or the end.
  std::optional<std::string> WaitForLine(const std::string& text) {
    const auto until = Clock::now() + kDeadline;
    while (true) {
      for (size_t nl; (nl = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (line.find(text) != std::string::npos) return line;
      }
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) return std::nullopt;
      char buf[512];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  // Signals the program and waits until it has ended; its exit status, or -1.
  int Stop(int sig) {
    ::kill(pid_, sig);
    return Wait();
  }

  int Wait() {
    // Its end closes the pipe.
    const auto until = Clock::now() + kDeadline;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) return -1;
      char buf[512];
      if (::read(out_, buf, sizeof buf) <= 0) break;
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// The console's side of the line, opened through the port link.
class Line {
 public:
  explicit Line(const fs::path& link) : fd_(::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Line() {
    if (fd_ >= 0) ::close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  [[nodiscard]] bool open() const { return fd_ >= 0; }

  [[nodiscard]] bool Send(const Bytes& b) {
    return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
  }

  // Exactly n bytes, or fewer at the deadline.
  Bytes Receive(size_t n) {
    Bytes got;
    const auto until = Clock::now() + kDeadline;
    while (got.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) break;
      std::array<uint8_t, 64> buf{};
      const ssize_t r = ::read(fd_, buf.data(), std::min(buf.size(), n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + r);
    }
    return got;
  }

  Bytes Ask(const Bytes& command, size_t replyLength) {
    if (!Send(command)) return {};
    return Receive(replyLength);
  }

 private:
  int fd_;
};

const Bytes kGetPressure = {0x3A, 0x79, 0x05, 0x00, 0x48};
const Bytes kGetBpData = {0x3A, 0x79, 0x03, 0x00, 0x4A};
const Bytes kStartAdult = {0x3A, 0x20, 0xA6};

void ExpectPressureReply(const Bytes& r) {
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], 0x3E);
  EXPECT_EQ(r[1], 0x05);
  EXPECT_TRUE(protocol::SumsToZero(r));
}

TEST(Program, AnswersThroughItsLinkAndRemovesItOnSigterm) {
  TempDir xdg;
  ASSERT_FALSE(xdg.path().empty());
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM3";
  SimProcess sim(xdg.path(), {"--port", "COM3", "--speed", "50", "--systolic", "135", "--diastolic",
                              "85", "--heart-rate", "66"});
  ASSERT_TRUE(sim.running());
  const auto announced = sim.WaitForLine("COM3 -> /dev/pts/");
  ASSERT_TRUE(announced) << "no link announced";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(announced->substr(announced->find("/dev/")), fs::read_symlink(link).string());

  {  // A console that came and went must not hang the line up.
    Line first(link);
    ASSERT_TRUE(first.open());
  }
  Line line(link);
  ASSERT_TRUE(line.open());
  ExpectPressureReply(line.Ask(kGetPressure, 5));

  // A whole measurement: at 50 times the speed it ends within a second or so.
  EXPECT_EQ(line.Ask(kStartAdult, 4), (Bytes{0x3E, 0x04, 0x4B, 0x73}));
  ASSERT_TRUE(sim.WaitForLine("result:"));
  const Bytes r = line.Ask(kGetBpData, 22);
  ASSERT_EQ(r.size(), 22u);
  EXPECT_TRUE(protocol::SumsToZero(r));
  EXPECT_EQ(r[2] | (r[3] << 8), 135);
  EXPECT_EQ(r[4] | (r[5] << 8), 85);
  EXPECT_EQ(r[16] | (r[17] << 8), 66);
  EXPECT_EQ(r[18] | (r[19] << 8), 102);
  EXPECT_EQ(r[20], 0);

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, HangsUpAndComesBackOnANewLine) {
  TempDir xdg;
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
  SimProcess sim(xdg.path(), {"--hangup-after", "0.3", "--reopen"});
  ASSERT_TRUE(sim.WaitForLine("COM1 -> "));
  ASSERT_TRUE(sim.WaitForLine("hang-up"));
  ASSERT_TRUE(sim.WaitForLine("COM1 -> ")) << "the line did not come back";
  Line line(link);
  ASSERT_TRUE(line.open());
  ExpectPressureReply(line.Ask(kGetPressure, 5));
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, WithoutReopenItEndsAtTheHangUp) {
  TempDir xdg;
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
  SimProcess sim(xdg.path(), {"--hangup-after", "0.2", "--quiet"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, RefusesBadOptions) {
  TempDir xdg;
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "LPT1"},
                                        {"--systolic", "80", "--diastolic", "90"},
                                        {"--noise", "2"},
                                        {"--reopen"},
                                        {"stray"}}) {
    SCOPED_TRACE(args.front());
    SimProcess sim(xdg.path(), args);
    EXPECT_EQ(sim.Wait(), 2);
  }
  EXPECT_FALSE(fs::exists(xdg.path() / "quirab_nibp"));
}

}  // namespace
